#pragma once
// The result sink: where every phrase a source offers is decided on. The run loop only schedules
// (which keyword to ask, which source, when); the sink takes one candidate at a time and passes
// it through, in this order:
//
//   0. normal form    when asked (setNormalForms): the phrase as normalForm() gives it, so that
//                     near-duplicates meet in the seen set.
//   1. the filters    CandidateFilter, in the order added: the forbidden words first. A filter
//                     refuses a phrase outright, before it is remembered anywhere; the notice it
//                     gives (if any) goes to the panel. A filter added to show only is asked at 5.
//   2. the seen set   RunStore::seen(): a phrase met before, in this run or an earlier one, goes
//                     (with hits counted, as one more hit of the result it is). Otherwise it is
//                     recorded at once.
//   3. the hang-up    with 选择框_挂机模式 checked, an empty file per phrase in 编辑框_挂机keyword
//                     (only phrases with their main word when 选择框_包含原词 is checked).
//   4. the queue      RunStore::queue() and the accepted count: every phrase that got here is
//                     asked later, shown or not; with a depth bound, none at that depth or deeper.
//   5. the main word  with 选择框_包含原词 checked, a phrase without its seed is not shown; nor one
//                     a show-only filter refuses.
//   6. the panel and the results   the count label, the panel line and RunStore::results().
//
// Every effect goes through the RunGate, so once the run is stopped nothing more is shown,
// recorded, queued or saved. The sink is called by one thread at a time, in the order the
// phrases are to be committed: the sequential run calls it straight from the source; a run with
// many keywords in flight holds each keyword's phrases back until every earlier keyword is done.

#include "engine/core/controls.h"
#include "engine/store/run_store.h"
#include "text/text.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace zelkor {

// One phrase as a source offers it.
struct Candidate {
    Text text;
    Text sourceName;      // the source's output name, as the panel shows it
    Text mainWord;        // the seed the asked keyword descends from
    int displayPauseMs = 0; // the source's pause after a shown phrase
    Text parent;          // the asked keyword
    int depth = 1;        // the asked keyword's depth + 1 (seeds are at 0)
};

// The run as the sink sees it: its stopped flag, its waits and its count limit.
class RunGate {
  public:
    virtual ~RunGate() = default;
    // Stopped, or the count limit reached.
    virtual bool halted() const = 0;
    // Runs `action` unless the run is stopped, with the stopped flag held; false when stopped.
    virtual bool effect(const std::function<void()>& action) = 0;
    // Slow work (a file, a database) the run may do only while it is not stopped: begun under the
    // gate, carried out outside it, so that a stop never waits for it. False when stopped.
    virtual bool outside(const std::function<void()>& work) = 0;
    // Waits unless halted; false when the run halted before or during the wait.
    virtual bool pause(std::chrono::milliseconds duration) = 0;
    // The count limit was reached: no more requests, no more phrases.
    virtual void haltAtLimit() = 0;
    // The seen set could not record a phrase: the run ends, since it can no longer tell new
    // phrases from old ones (and one without a limit would never end).
    virtual void haltForStore() = 0;
};

class CandidateFilter {
  public:
    virtual ~CandidateFilter() = default;
    // nullopt when `candidate` passes; else the notice (GBK) to show, empty for none.
    virtual std::optional<Text> refuse(const Candidate& candidate) const = 0;
};

// Refuses a phrase containing one of the forbidden words (编辑框_违禁词).
class ForbiddenWordsFilter final : public CandidateFilter {
  public:
    explicit ForbiddenWordsFilter(std::vector<Text> words) : m_words(std::move(words)) {}
    std::optional<Text> refuse(const Candidate& candidate) const override;

  private:
    std::vector<Text> m_words;
};

// The longest phrase a run takes (GBK bytes); a longer one is refused at intake.
inline constexpr std::size_t kMaxPhraseBytes = 4096;

class ResultSink {
  public:
    // Unattended: nothing is shown and no pause is made; reaching the limit halts at once.
    ResultSink(Controls& controls, RunStore& store, RunGate& gate, bool unattended);

    // Walk: the filter drops a phrase from the walk and the results (the original way). Show: the
    // walk goes through the phrase; it is only left out of the results.
    enum class FilterRole { Walk, Show };
    void addFilter(std::unique_ptr<CandidateFilter> filter, FilterRole role = FilterRole::Walk);
    // Phrases at `depth` or deeper are results but are not asked; 0: no bound.
    void setMaxDepth(int depth) { m_maxDepth = depth; }
    void setNormalForms(bool on) { m_normalForms = on; }
    // Each phrase offered again counts as a hit of the result it is (RunStore::results()).
    void setCountHits(bool on);
    // Off: the 10 ms pause before a shown phrase and the source's display pause are skipped.
    void setPauses(bool on) { m_pauses = on; }

    // True when the phrase was accepted (queued), whether shown or not.
    bool offer(const Candidate& candidate);
    // These are about to be offered, in order: the seen set hears of those the filters let through.
    void expect(const std::vector<Candidate>& candidates);

    int accepted() const { return m_accepted; }
    // A resumed run goes on counting from where it was.
    void setAccepted(int count) { m_accepted = count; }
    // The limit (编辑框_挖掘数量) once the accepted count reached it.
    std::optional<int> limitReached() const;

  private:
    bool offerAsIs(const Candidate& candidate);

    Controls& m_controls;
    RunStore& m_store;
    RunGate& m_gate;
    bool m_unattended;
    bool m_pauses = true;
    std::vector<std::unique_ptr<CandidateFilter>> m_filters;
    std::vector<std::unique_ptr<CandidateFilter>> m_showFilters;
    int m_maxDepth = 0;
    bool m_normalForms = false;
    bool m_countHits = false;
    std::atomic<int> m_accepted{0};
    std::atomic<int> m_limit{0}; // 0 until reached
    std::atomic<bool> m_storeFailed{false};
};

} // namespace zelkor
