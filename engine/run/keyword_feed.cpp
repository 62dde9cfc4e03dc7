#include "engine/run/keyword_feed.h"

#include "engine/core/control_names.h"
#include "engine/run/seed_variants.h"

#include <algorithm>

namespace zelkor {

std::vector<KeywordTask> seedRoundsOf(const Controls& controls, const std::vector<Text>& seeds) {
    std::vector<KeywordTask> rounds;
    const auto kinds = parseVariantList(controls.text(ctl::kVariants), nullptr);
    for (const Text& seed : seeds) {
        rounds.push_back({seed, seed});
        if (kinds && !controls.text(ctl::kVariants).empty())
            for (Text& variant : seedVariants(seed, *kinds, controls.text(ctl::kVariantFrames)))
                rounds.push_back({std::move(variant), seed});
    }
    return rounds;
}

KeywordFeed::KeywordFeed(const std::vector<KeywordTask>& seedRounds, std::size_t seedsDone, KeywordQueue& queue)
    : m_seedRounds(seedRounds), m_queue(queue), m_seedsTaken(std::min(seedsDone, seedRounds.size())) {}

std::optional<FeedEntry> KeywordFeed::take() {
    FeedEntry entry;
    if (m_seedsTaken < m_seedRounds.size()) {
        entry.seedIndex = m_seedsTaken;
        entry.task = m_seedRounds[m_seedsTaken++];
        entry.task.depth = 0;
        entry.seed = true;
        return entry;
    }
    auto task = m_queue.at(m_queueTaken - m_queuePopped);
    if (!task) return std::nullopt;
    ++m_queueTaken;
    entry.task = std::move(*task);
    return entry;
}

std::size_t KeywordFeed::queuedUntaken() const {
    const std::size_t queued = m_queue.size();
    const std::size_t taken = m_queueTaken - m_queuePopped;
    return queued > taken ? queued - taken : 0;
}

std::optional<CommitStep> KeywordFeed::commitStep(const FeedEntry& entry, bool halted, bool atLimit) const {
    if (entry.seed) return CommitStep{entry.seedIndex + 1, false};
    if (halted) {
        if (atLimit) return CommitStep{m_seedRounds.size(), false};
        return std::nullopt;
    }
    return CommitStep{m_seedRounds.size(), true};
}

void KeywordFeed::committed(const CommitStep& step) {
    if (step.popFront) ++m_queuePopped;
}

std::array<std::vector<SourceAdapter*>, 2> sourceGroups(const SourceSet& sources) {
    std::array<std::vector<SourceAdapter*>, 2> groups;
    for (const auto& source : sources) {
        if (!source) continue;
        const int index = source->listIndex();
        if (index < 0) continue;
        groups[index <= 1 ? 0 : 1].push_back(source.get());
    }
    return groups;
}

Candidate candidateFor(const KeywordTask& asked, Text phrase, Text sourceName, int displayPauseMs) {
    Candidate candidate;
    candidate.text = std::move(phrase);
    candidate.sourceName = std::move(sourceName);
    candidate.mainWord = asked.mainWord;
    candidate.displayPauseMs = displayPauseMs;
    candidate.parent = asked.keyword;
    candidate.depth = asked.depth + 1;
    return candidate;
}

} // namespace zelkor
