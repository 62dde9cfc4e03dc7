#pragma once
// A keyword's life in a run, written once for both ways of scheduling it:
//   the feed     the seed rounds (each seed, then its variants), then the queue, breadth first; a
//                resumed run starts after the rounds it had kept, a shared run's rounds are in the
//                shared queue already
//   the order    which sources a keyword asks, and in which order its phrases reach the sink
//   the commit   which store step ends a keyword, including at the count limit
// A scheduler takes entries in feed order and commits them in the same order.
//
// Threads: the run's worker only.

#include "engine/core/controls.h"
#include "engine/core/records.h"
#include "engine/run/result_sink.h"
#include "engine/store/run_store.h"
#include "net/answer_class.h"
#include "sources/source_api.h"

#include <array>
#include <cstddef>
#include <optional>
#include <vector>

namespace zelkor {

// The seed rounds of the seed box (编辑框_关键词, with the variants 高级 asks for).
std::vector<KeywordTask> seedRoundsOf(const Controls& controls, const std::vector<Text>& seeds);

// Whether a keyword got through to any service: asked, when a ticked service was asked or held
// back for it; answered, when one of them gave an answer (with or without phrases).
struct KeywordAnswers {
    bool asked = false;
    bool answered = false;

    void took(AnswerClass answer) {
        asked = true;
        if (answer == AnswerClass::Ok || answer == AnswerClass::Empty) answered = true;
    }
    // No service it was put to answered it: a durable store keeps it to be asked again.
    bool unanswered() const { return asked && !answered; }
};

// One keyword as the feed hands it out.
struct FeedEntry {
    KeywordTask task; // a seed round's depth is 0
    bool seed = false;
    std::size_t seedIndex = 0; // a seed round's place among them
    KeywordAnswers answers;    // filled in by the scheduler as the keyword is asked
};

// The store step that ends a keyword: the seed rounds then done, and whether the queue's oldest
// task (the keyword) leaves the queue.
struct CommitStep {
    std::size_t seedsDone = 0;
    bool popFront = false;
};

class KeywordFeed {
  public:
    // `seedsDone` at or past the rounds' count: every round is done (or in the shared queue).
    KeywordFeed(const std::vector<KeywordTask>& seedRounds, std::size_t seedsDone, KeywordQueue& queue);

    // The next keyword not yet taken; nullopt when the feed knows of none now (more may come as
    // the keywords taken commit and queue their phrases).
    std::optional<FeedEntry> take();
    bool seedRoundsTaken() const { return m_seedsTaken == m_seedRounds.size(); }
    std::size_t seedRoundsLeft() const { return m_seedRounds.size() - m_seedsTaken; }
    // Queued keywords, those taken and not yet committed included.
    std::size_t queued() const { return m_queue.size(); }
    bool sharedQueue() const { return m_queue.shared(); }
    // Queued keywords not yet taken.
    std::size_t queuedUntaken() const;

    // How `entry`, the oldest taken and not committed, ends. nullopt: it leaves nothing (the run
    // halted short of the count limit). At the count limit a seed round's phrases so far are the
    // run's last and are kept; a queued keyword's are kept too, and the keyword stays queued.
    std::optional<CommitStep> commitStep(const FeedEntry& entry, bool halted, bool atLimit) const;
    // The store made that step.
    void committed(const CommitStep& step);

  private:
    const std::vector<KeywordTask>& m_seedRounds;
    KeywordQueue& m_queue;
    std::size_t m_seedsTaken;
    std::size_t m_queueTaken = 0;  // queued tasks handed out (their place: taken - popped)
    std::size_t m_queuePopped = 0; // of those, committed and gone from the queue
};

// The sources a keyword asks, in the order its phrases reach the sink: list items 0 and 1 first,
// then the rest, each group in set order (a sequential run waits 编辑框_延时 between the groups).
std::array<std::vector<SourceAdapter*>, 2> sourceGroups(const SourceSet& sources);

// A phrase a source offered for `asked`, as the sink takes it.
Candidate candidateFor(const KeywordTask& asked, Text phrase, Text sourceName, int displayPauseMs);

} // namespace zelkor
