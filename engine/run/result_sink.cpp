#include "engine/run/result_sink.h"

#include "engine/core/control_names.h"
#include "engine/core/normal_form.h"
#include "engine/core/program_dir.h"
#include "engine/store/seen_store.h"
#include "engine/core/text_rules.h"

#include <algorithm>
#include <cerrno>

namespace zelkor {

std::optional<Text> ForbiddenWordsFilter::refuse(const Candidate& candidate) const {
    static const Text before = gbk("当前词语：");
    static const Text middle = gbk("  含有违禁词：");
    static const Text after = gbk("  不使用");
    for (const auto& word : m_words)
        if (containsText(candidate.text, word)) return before + candidate.text + middle + word + after;
    return std::nullopt;
}

ResultSink::ResultSink(Controls& controls, RunStore& store, RunGate& gate, bool unattended)
    : m_controls(controls), m_store(store), m_gate(gate), m_unattended(unattended) {}

void ResultSink::addFilter(std::unique_ptr<CandidateFilter> filter, FilterRole role) {
    (role == FilterRole::Walk ? m_filters : m_showFilters).push_back(std::move(filter));
}

void ResultSink::setCountHits(bool on) {
    m_countHits = on;
    if (on) m_store.results().countHits();
}

std::optional<int> ResultSink::limitReached() const {
    const int limit = m_limit;
    if (limit == 0) return std::nullopt;
    return limit;
}

void ResultSink::expect(const std::vector<Candidate>& candidates) {
    std::vector<Text> passing;
    for (const Candidate& candidate : candidates) {
        if (candidate.text.empty() || candidate.text.size() > kMaxPhraseBytes) continue;
        if (std::any_of(m_filters.begin(), m_filters.end(), [&](const auto& f) { return f->refuse(candidate); }))
            continue;
        passing.push_back(candidate.text);
    }
    if (!passing.empty()) m_gate.outside([&] { m_store.seen().expect(passing); });
}

bool ResultSink::offer(const Candidate& candidate) {
    if (!m_normalForms) return offerAsIs(candidate);
    // Normal forms were checked to load before the run started; a failure here keeps the phrase.
    Expected<Text> normal = normalForm(candidate.text);
    if (!normal || *normal == candidate.text) return offerAsIs(candidate);
    Candidate changed = candidate;
    changed.text = std::move(*normal);
    return offerAsIs(changed);
}

bool ResultSink::offerAsIs(const Candidate& candidate) {
    static const Text seenText = gbk("  已采集过，不再重复采集");
    static const Text hangupA = gbk("挂机词语 ");
    static const Text hangupB = gbk(" 已保存到：");
    static const Text hangupSkipped = gbk(" 不能用作文件名，未保存到：");
    static const Text countText = gbk("当前词数：");
    static const Text sourceText = gbk(" 来源：");
    static const Text mainText = gbk("  主词：");
    static const Text keywordText = gbk("  keyword：");
    const Text& phrase = candidate.text;

    if (m_gate.halted() || phrase.empty()) return false;
    // No keyword is this long; an answer that offers one would only fill the store and the queue.
    if (phrase.size() > kMaxPhraseBytes) {
        const Text notice = gbk("候选词长 " + std::to_string(phrase.size()) + " 字节，超过 4096 字节，已舍弃");
        m_gate.effect([&] { m_controls.showNotice(notice); });
        return false;
    }
    for (const auto& filter : m_filters) {
        if (auto notice = filter->refuse(candidate)) {
            if (!notice->empty()) m_gate.effect([&] { m_controls.showNotice(*notice); });
            return false;
        }
    }
    if (m_store.seen().contains(phrase)) {
        m_gate.effect([&] {
            if (m_countHits) m_store.results().hit(phrase, candidate.sourceName);
            m_controls.showNotice(phrase + seenText);
        });
        return false;
    }
    bool recorded = true;
    if (!m_gate.outside([&] { recorded = m_store.seen().insert(phrase); })) return false;
    if (!recorded) {
        static const Text failedA = gbk("已采集记录无法写入：");
        static const Text failedB = gbk("，采集已停止");
        if (!m_storeFailed.exchange(true))
            m_gate.effect([&] { m_controls.showNotice(failedA + utf8_to_gbk(m_store.seen().failure()) + failedB); });
        m_gate.haltForStore();
        return false;
    }

    const bool mainWordOnly = m_controls.checked(ctl::kMainWordOnly);
    const bool hasMainWord = containsText(phrase, candidate.mainWord);
    if (m_controls.checked(ctl::kHangup)) {
        const Text directory = m_controls.text(ctl::kHangupDir);
        if (!directory.empty() && (!mainWordOnly || hasMainWord)) {
            // A keyword is never altered to make a name: one that cannot be a name here is left out
            // of the directory, and the user is told. Only a file that exists is announced as saved.
            const std::optional<std::string> name = hangupFileName(phrase);
            std::error_code written = std::make_error_code(std::errc::filename_too_long);
            if (name && !m_gate.outside([&] { written = writeEmptyFile(gbkToPath(directory) / *name); })) return false;
            if (!written) {
                if (!m_gate.effect([&] { m_controls.showNotice(hangupA + phrase + hangupB + directory); })) return false;
            } else if (written == std::errc::filename_too_long) {
                if (!m_gate.effect([&] { m_controls.showNotice(hangupA + phrase + hangupSkipped + directory); }))
                    return false;
            }
        }
    }

    int count = 0;
    if (!m_gate.effect([&] {
            count = ++m_accepted;
            if (m_maxDepth <= 0 || candidate.depth < m_maxDepth)
                m_store.queue().push({phrase, candidate.mainWord, candidate.depth});
        }))
        return false;

    if (mainWordOnly && !hasMainWord) return true;
    for (const auto& filter : m_showFilters)
        if (filter->refuse(candidate)) return true;
    if (m_pauses && !m_gate.pause(std::chrono::milliseconds(10))) return true;

    const int limit = textToInt(m_controls.text(ctl::kLimit));
    const bool atLimit = limit > 0 && count >= limit;
    if (atLimit) m_limit = limit;
    if (m_unattended) {
        if (atLimit) m_gate.haltAtLimit();
        return true;
    }
    if (m_pauses && candidate.displayPauseMs != 0 &&
        !m_gate.pause(std::chrono::milliseconds(candidate.displayPauseMs)))
        return true;

    const Text number = std::to_string(count);
    m_gate.effect([&] {
        m_controls.setText(ctl::kCountLabel, countText + number);
        m_controls.appendOutput("\r\n" + number + sourceText + candidate.sourceName + mainText +
                                candidate.mainWord + keywordText + phrase);
        m_store.results().append(
            {phrase, candidate.sourceName, candidate.mainWord, candidate.parent, candidate.depth, isoTimeNow()});
    });
    if (atLimit) m_gate.haltAtLimit();
    return true;
}

} // namespace zelkor
