#include "engine/run/parallel_run.h"

#include "engine/core/control_names.h"
#include "engine/core/text_rules.h"
#include "net/multi_fetch.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <limits>
#include <map>
#include <memory>
#include <mutex>

namespace zelkor {

std::optional<double> parseParallelRate(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string_view::npos) return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
    if (value < kMinParallelRate || value > kMaxParallelRate) return std::nullopt;
    return value;
}

ParallelOptions parallelOptions(const Controls& controls, Text* problem) {
    ParallelOptions options;
    const Text rate = controls.text(ctl::kParallelRate);
    if (!rate.empty()) {
        if (const auto value = parseParallelRate(rate))
            options.rate = *value;
        else if (problem)
            *problem = gbk("并发速率应为 0.01 到 1000 之间的数（每个来源每秒请求次数），本次按每秒 2 次");
    }
    options.keywordGap = std::chrono::seconds(std::max(0, textToInt(controls.text(ctl::kDelay))));
    return options;
}

namespace {

using Clock = std::chrono::steady_clock;

// One source's part of one keyword.
struct Ask {
    SourceAdapter* source = nullptr;
    int index = -1;
    enum class State { Waiting, Sent, Done } state = State::Waiting;
    bool admitted = false; // the policy let this keyword's first request go
    int attempt = 0;
    SourceHealth::RouteChoice via;
    std::optional<SourceHealth::RouteChoice> rerouted; // the route of its next send
    bool offers = false; // false: nothing was sent, nothing is offered
    std::vector<Text> phrases;
    // A source asked on the run's thread brings its offers' names and pauses with it.
    std::vector<std::pair<Text, int>> offerMeta;
};

struct Slot {
    std::uint64_t number = 0; // in commit order, from 0
    FeedEntry entry;
    bool opened = false;
    std::vector<Ask> asks; // in commit order
    std::size_t open = 0;  // asks not yet done

    bool done() const { return open == 0; }
};

struct Service {
    bool busy = false; // a request of it is in flight or waits for its retry
    Clock::time_point lastStart{};
    bool started = false;
    // A refused answer to be asked again: the slot and ask, from when.
    std::optional<std::pair<std::uint64_t, std::size_t>> retry;
    Clock::time_point retryAt{};
};

struct Completion {
    std::uint64_t slot;
    std::size_t ask;
    std::unique_ptr<PendingRequest> request;
};

// The host a source without a loop request is run against: everything the run's own, except
// that its offers are held back for the commit.
class HoldingHost final : public SourceHost {
  public:
    HoldingHost(SourceHost& run, Ask& ask, KeywordAnswers& answers) : m_run(run), m_ask(ask), m_answers(answers) {}
    bool isSourceTicked(int index) override { return m_run.isSourceTicked(index); }
    bool offerCandidate(const Text& candidate, const Text& outputName, int displayPauseMs) override {
        m_ask.phrases.push_back(candidate);
        m_ask.offerMeta.emplace_back(outputName, displayPauseMs);
        return true;
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
    AnswerLimits answerLimits() const override { return m_run.answerLimits(); }

  private:
    SourceHost& m_run;
    Ask& m_ask;
    KeywordAnswers& m_answers;
};

class ParallelLoop {
  public:
    ParallelLoop(const SchedulerParts& parts, const ParallelOptions& options)
        : m_parts(parts), m_options(options),
          m_spacing(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / options.rate))),
          m_limits(parts.host.answerLimits()) {
        for (const auto& source : parts.sources)
            if (source) m_services[source->listIndex()];
    }

    void run();

  private:
    bool halted() const { return m_parts.gate.halted(); }
    void fill();
    void dispatch(Clock::time_point now);
    bool send(Slot& slot, std::size_t a, Clock::time_point now);
    void received(Completion completion, Clock::time_point now);
    bool commit();
    void commitSlot(Slot& slot);
    Slot* findSlot(std::uint64_t number);
    Clock::time_point nextWake(Clock::time_point now) const;
    void report(bool force);

    const SchedulerParts& m_parts;
    ParallelOptions m_options;
    Clock::duration m_spacing;
    AnswerLimits m_limits;
    std::map<int, Service> m_services;

    std::deque<Slot> m_slots;     // the oldest uncommitted first
    std::uint64_t m_nextNumber = 0;
    bool m_seedsCommitted = false;
    std::uint64_t m_committed = 0;
    Clock::time_point m_lastOpen{};
    bool m_anyOpened = false;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Completion> m_completions; // from the loop thread

    MultiFetch* m_fetch = nullptr;
    // The earliest time a service held back by its pace, its retry or the keyword gap may go.
    Clock::time_point m_due = Clock::time_point::max();
    std::uint64_t m_sent = 0;
    Clock::time_point m_began = Clock::now();
    Clock::time_point m_lastReport{};
};

void ParallelLoop::fill() {
    // Slots for what is known to come: the seed rounds, then what the queue holds beyond the slots.
    const auto groups = sourceGroups(m_parts.sources);
    // From a shared queue, a worker takes only as far ahead as keeps its services busy: the
    // keywords it holds at the end are asked by it alone while the other workers stand idle.
    const std::size_t window =
        m_parts.feed.sharedQueue() ? std::min(m_options.window, kSharedWindow) : m_options.window;
    while (m_slots.size() < window) {
        auto entry = m_parts.feed.take();
        if (!entry) break;
        Slot slot;
        slot.entry = std::move(*entry);
        slot.number = m_nextNumber++;
        for (const auto& group : groups) {
            for (SourceAdapter* source : group) {
                Ask ask;
                ask.source = source;
                ask.index = source->listIndex();
                slot.asks.push_back(std::move(ask));
            }
        }
        slot.open = slot.asks.size();
        m_slots.push_back(std::move(slot));
    }
}

Slot* ParallelLoop::findSlot(std::uint64_t number) {
    if (m_slots.empty() || number < m_slots.front().number) return nullptr;
    const auto at = static_cast<std::size_t>(number - m_slots.front().number);
    return at < m_slots.size() ? &m_slots[at] : nullptr;
}

bool ParallelLoop::send(Slot& slot, std::size_t a, Clock::time_point now) {
    Ask& ask = slot.asks[a];
    Service& service = m_services[ask.index];
    const auto finishUnsent = [&] {
        ask.state = Ask::State::Done;
        --slot.open;
    };
    if (!slot.opened) {
        slot.opened = true;
        m_anyOpened = true;
        m_lastOpen = now;
        m_parts.health.keywordAsked();
    }
    if (ask.attempt == 0 && !ask.admitted) {
        if (!m_parts.host.isSourceTicked(ask.index)) return finishUnsent(), false;
        const FetchingSource* fetching = ask.source->fetching();
        if (!fetching) {
            // Asked here and now, with the run's own policy and waits; its offers held back.
            service.lastStart = now;
            service.started = true;
            ++m_sent;
            HoldingHost holding(m_parts.host, ask, slot.entry.answers);
            ask.source->run(slot.entry.task.keyword, holding);
            ask.offers = true;
            return finishUnsent(), true;
        }
        slot.entry.answers.asked = true;
        if (!m_parts.health.admit(ask.index, fetching->outputName(), now)) return finishUnsent(), false;
        ask.admitted = true;
    }
    const FetchingSource* fetching = ask.source->fetching();
    ask.via = ask.rerouted ? *ask.rerouted : m_parts.health.route();
    ask.rerouted.reset();
    auto request = fetching->prepare(slot.entry.task.keyword, ask.via.route, m_limits);
    ask.state = Ask::State::Sent;
    service.busy = true;
    service.lastStart = now;
    service.started = true;
    ++m_sent;
    const std::uint64_t number = slot.number;
    m_fetch->submit(std::move(request), [this, number, a](std::unique_ptr<PendingRequest> answered) {
        {
            std::lock_guard lock(m_mutex);
            m_completions.push_back({number, a, std::move(answered)});
        }
        m_wake.notify_one();
    });
    return true;
}

void ParallelLoop::dispatch(Clock::time_point now) {
    m_due = Clock::time_point::max();
    const auto due = [&](Clock::time_point at) { m_due = std::min(m_due, at); };
    for (auto& [index, service] : m_services) {
        if (halted()) return;
        if (service.busy && !service.retry) continue;
        if (service.started && now < service.lastStart + m_spacing) {
            due(std::max(service.lastStart + m_spacing, service.retry ? service.retryAt : now));
            continue;
        }
        if (service.retry) {
            if (now < service.retryAt) {
                due(service.retryAt);
                continue;
            }
            const auto [number, a] = *service.retry;
            service.retry.reset();
            if (Slot* slot = findSlot(number)) send(*slot, a, now);
            continue;
        }
        if (service.busy) continue;
        // The oldest keyword that still needs this service; a keyword not yet opened only when it
        // is the next to open and the gap since the last keyword's first request is over.
        for (std::size_t s = 0; s < m_slots.size(); ++s) {
            Slot& slot = m_slots[s];
            if (!slot.opened) {
                if (s > 0 && !m_slots[s - 1].opened) break;
                if (m_anyOpened && now < m_lastOpen + m_options.keywordGap) {
                    due(m_lastOpen + m_options.keywordGap);
                    break;
                }
            }
            const auto it = std::find_if(slot.asks.begin(), slot.asks.end(), [&](const Ask& ask) {
                return ask.index == index && ask.state == Ask::State::Waiting;
            });
            if (it == slot.asks.end()) continue;
            // A source that sends nothing for this keyword leaves the service free for the next.
            if (send(slot, static_cast<std::size_t>(it - slot.asks.begin()), now)) break;
        }
    }
}

void ParallelLoop::received(Completion completion, Clock::time_point now) {
    Slot* slot = findSlot(completion.slot);
    if (!slot || completion.ask >= slot->asks.size()) return;
    Ask& ask = slot->asks[completion.ask];
    Service& service = m_services[ask.index];
    // The pace counts from when the request left, not from when it was handed over: one that left
    // late (a slow connection) must not be followed too closely by the next.
    if (const auto sent = completion.request->sentAt()) service.lastStart = std::max(service.lastStart, *sent);
    SourceAttempt attempt;
    std::vector<Text> phrases = ask.source->fetching()->read(*completion.request, attempt);
    if (halted()) return;
    const SourceHealth::Next next =
        m_parts.health.answered(ask.index, ask.attempt, attempt.answer, ask.via, attempt.proxyFailed, now);
    if (attempt.proxyFailed && (ask.rerouted = m_parts.health.reroute(ask.via))) {
        // The same attempt once more, through the next proxy, at once.
        service.retry = {completion.slot, completion.ask};
        service.retryAt = now;
        return;
    }
    if (next.again) {
        ++ask.attempt;
        service.retry = {completion.slot, completion.ask};
        service.retryAt = now + next.wait;
        return; // still busy: the retry is this service's next request
    }
    service.busy = false;
    m_parts.health.phrasesLost(ask.index, attempt.lostPhrases);
    slot->entry.answers.took(attempt.answer);
    ask.phrases = std::move(phrases);
    ask.offers = true;
    ask.state = Ask::State::Done;
    --slot->open;
}

void ParallelLoop::commitSlot(Slot& slot) {
    std::vector<Candidate> candidates;
    std::vector<std::size_t> ends; // where each ask's candidates end
    for (Ask& ask : slot.asks) {
        if (ask.offers) {
            const FetchingSource* fetching = ask.source->fetching();
            for (std::size_t i = 0; i < ask.phrases.size(); ++i) {
                const bool held = !fetching;
                candidates.push_back(candidateFor(slot.entry.task, std::move(ask.phrases[i]),
                                                  held ? ask.offerMeta[i].first : fetching->outputName(),
                                                  held ? ask.offerMeta[i].second : fetching->displayPauseMs()));
            }
        }
        ends.push_back(candidates.size());
    }
    if (halted()) return;
    m_parts.sink.expect(candidates);
    std::size_t from = 0;
    for (std::size_t a = 0; a < slot.asks.size(); from = ends[a++]) {
        if (halted()) return;
        const Ask& ask = slot.asks[a];
        if (!ask.offers) continue;
        int offered = 0;
        int accepted = 0;
        for (std::size_t c = from; c < ends[a]; ++c) {
            if (halted()) break;
            ++offered;
            if (m_parts.sink.offer(candidates[c])) ++accepted;
        }
        if (ask.source->fetching()) m_parts.health.offered(ask.index, offered, accepted);
    }
}

// Commits every finished keyword at the head; false once the run is over.
bool ParallelLoop::commit() {
    for (;;) {
        if (halted()) return false;
        if (!m_seedsCommitted && m_parts.feed.seedRoundsTaken() && (m_slots.empty() || !m_slots.front().entry.seed)) {
            m_seedsCommitted = true;
            if (m_parts.seedPassEnded() == 0) return false;
        }
        if (m_slots.empty()) return !m_seedsCommitted || m_parts.feed.queued() != 0;
        Slot& head = m_slots.front();
        if (!head.done()) return true;
        commitSlot(head);
        if (!m_parts.commit(head.entry)) return false;
        const bool seed = head.entry.seed;
        m_slots.pop_front();
        ++m_committed;
        if (m_parts.autoSave) m_parts.autoSave();
        // The queue's size may be a round trip to a server: asked only when nothing is in flight.
        if (!seed && m_slots.empty() && m_parts.feed.queued() == 0) return false;
        fill();
    }
}

Clock::time_point ParallelLoop::nextWake(Clock::time_point now) const {
    // Answers wake the loop themselves; the bound keeps the progress line moving.
    return std::min(m_due, now + std::chrono::milliseconds(250));
}

void ParallelLoop::report(bool force) {
    if (!m_parts.progress) return;
    const auto now = Clock::now();
    if (!force && now - m_lastReport < std::chrono::milliseconds(500)) return;
    m_lastReport = now;
    ParallelProgress progress;
    progress.done = m_committed;
    std::uint64_t opened = 0;
    for (const Slot& slot : m_slots)
        opened += slot.opened ? 1 : 0;
    progress.inFlight = opened;
    const std::size_t unopenedSlots = m_slots.size() - opened;
    progress.queued = m_parts.feed.queuedUntaken() + unopenedSlots + m_parts.feed.seedRoundsLeft();
    const double seconds = std::chrono::duration<double>(now - m_began).count();
    progress.requestsPerSecond = seconds > 0 ? static_cast<double>(m_sent) / seconds : 0;
    m_parts.progress(progress);
}

void ParallelLoop::run() {
    MultiFetch fetch;
    m_fetch = &fetch;
    // A stop request wakes the loop at once and aborts every request in flight.
    std::stop_callback onHalt(m_parts.host.stopToken(), [this, &fetch] {
        fetch.cancel();
        { std::lock_guard lock(m_mutex); }
        m_wake.notify_all();
    });
    fill();
    while (commit()) {
        const auto now = Clock::now();
        dispatch(now);
        if (halted()) break;
        report(false);
        std::deque<Completion> arrived;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait_until(lock, nextWake(Clock::now()),
                              [&] { return !m_completions.empty() || halted(); });
            arrived.swap(m_completions);
        }
        for (Completion& completion : arrived) {
            if (halted()) break;
            received(std::move(completion), Clock::now());
        }
        // Services whose time has come go before the commit, which may take a while (the sink's
        // file work, the auto-save): their pace should not wait for it.
        if (!halted()) dispatch(Clock::now());
    }
    fetch.cancel();
    report(true);
    m_fetch = nullptr;
}

class ThroughputScheduler final : public Scheduler {
  public:
    explicit ThroughputScheduler(const ParallelOptions& options) : m_options(options) {}
    void run(const SchedulerParts& parts) override { ParallelLoop(parts, m_options).run(); }

  private:
    ParallelOptions m_options;
};

} // namespace

std::unique_ptr<Scheduler> makeThroughputScheduler(const ParallelOptions& options) {
    ParallelOptions checked = options;
    if (!(checked.rate >= kMinParallelRate && checked.rate <= kMaxParallelRate)) checked.rate = kDefaultParallelRate;
    checked.window = std::max<std::size_t>(1, checked.window);
    return std::make_unique<ThroughputScheduler>(checked);
}

} // namespace zelkor
