#include "engine/run/scheduler.h"

namespace zelkor {

namespace {

// The run's host, with each offer going straight to the sink as the keyword being asked's.
class AskingHost final : public SourceHost {
  public:
    AskingHost(SourceHost& run, ResultSink& sink, const KeywordTask& asked, KeywordAnswers& answers)
        : m_run(run), m_sink(sink), m_asked(asked), m_answers(answers) {}
    bool isSourceTicked(int index) override { return m_run.isSourceTicked(index); }
    bool offerCandidate(const Text& candidate, const Text& outputName, int displayPauseMs) override {
        return m_sink.offer(candidateFor(m_asked, candidate, outputName, displayPauseMs));
    }
    std::stop_token stopToken() const override { return m_run.stopToken(); }
    bool sendRequest(int listIndex, const Text& label, const SendAttempt& send) override {
        m_answers.asked = true;
        return m_run.sendRequest(listIndex, label, [&](const ProxyRoute& route) {
            const SourceAttempt attempt = send(route);
            m_answers.took(attempt.answer);
            return attempt;
        });
    }
    void countOffers(int listIndex, int offered, int accepted) override {
        m_run.countOffers(listIndex, offered, accepted);
    }
    AnswerLimits answerLimits() const override { return m_run.answerLimits(); }

  private:
    SourceHost& m_run;
    ResultSink& m_sink;
    const KeywordTask& m_asked;
    KeywordAnswers& m_answers;
};

class SequentialScheduler final : public Scheduler {
  public:
    explicit SequentialScheduler(std::function<bool()> delayWait) : m_delayWait(std::move(delayWait)) {}

    void run(const SchedulerParts& parts) override {
        const auto groups = sourceGroups(parts.sources);
        const auto halted = [&] { return parts.gate.halted(); };
        // One keyword: the first group, the delay, the rest; its phrases reach the sink as they come.
        const auto ask = [&](FeedEntry& entry) {
            parts.health.keywordAsked();
            AskingHost host(parts.host, parts.sink, entry.task, entry.answers);
            for (std::size_t g = 0; g < groups.size(); ++g) {
                if (g == 1 && !halted()) m_delayWait();
                for (SourceAdapter* source : groups[g]) {
                    if (halted()) return;
                    if (!host.isSourceTicked(source->listIndex())) continue;
                    source->run(entry.task.keyword, host);
                }
            }
        };

        while (!parts.feed.seedRoundsTaken() && !halted()) {
            auto entry = parts.feed.take();
            ask(*entry);
            if (!parts.commit(*entry)) return;
            if (!halted()) m_delayWait();
            // A long seed list must not lose what it found to a crash before the queue pass.
            if (!halted()) parts.autoSave();
        }
        if (halted()) return;
        std::size_t waiting = parts.seedPassEnded();
        while (waiting != 0 && !halted()) {
            auto entry = parts.feed.take();
            if (!entry) return;
            ask(*entry);
            if (!parts.commit(*entry)) return;
            waiting = parts.feed.queued();
            if (!m_delayWait()) return;
            parts.autoSave();
        }
    }

  private:
    std::function<bool()> m_delayWait;
};

} // namespace

std::unique_ptr<Scheduler> makeSequentialScheduler(std::function<bool()> delayWait) {
    return std::make_unique<SequentialScheduler>(std::move(delayWait));
}

} // namespace zelkor
