#include "engine/run/mining_run.h"

#include "engine/core/control_names.h"
#include "engine/core/file_lock.h"
#include "engine/core/normal_form.h"
#include "engine/core/program_dir.h"
#include "engine/core/text_rules.h"
#include "engine/output/rich_export.h"
#include "engine/output/run_report.h"
#include "engine/run/answer_limits.h"
#include "engine/run/keyword_feed.h"
#include "engine/run/parallel_run.h"
#include "engine/run/result_filters.h"
#include "engine/run/result_sink.h"
#include "engine/run/run_guard.h"
#include "engine/run/source_health.h"
#include "engine/store/memory_store.h"
#include "engine/store/store_factory.h"
#include "text/regex.h"

#include <cerrno>
#include <condition_variable>
#include <limits>
#include <unistd.h>

namespace zelkor {

namespace {

// Blank lines and the enclosing line breaks go; what is left is the list of forbidden words.
Text cleanForbidden(Text text) {
    if (text.starts_with("\r\n")) text.erase(0, 2);
    if (text.ends_with("\r\n")) text.erase(text.size() - 2);
    RegexObject regex;
    if (regex.create("(?:^\\r|\\n$)", text, false, true, true)) text = regex.replace("");
    return text;
}

// The include, exclude and length filters as one stage of the sink.
class PatternFilter final : public CandidateFilter {
  public:
    explicit PatternFilter(const ResultFilters& filters) : m_filters(filters) {}
    std::optional<Text> refuse(const Candidate& candidate) const override { return m_filters.refuse(candidate.text); }

  private:
    const ResultFilters& m_filters;
};

// The run as its sources see it: the ticks, the run's policy for each request, its answer limits.
class RunHost final : public SourceHost {
  public:
    RunHost(Controls& controls, RunGuard& guard, SourceHealth& health, AnswerLimits limits)
        : m_controls(controls), m_guard(guard), m_health(health), m_limits(limits) {}

    bool isSourceTicked(int index) override {
        return !m_guard.halted() && index >= 0 && m_controls.itemChecked(ctl::kSourceList, index);
    }
    // Offers go to the sink through the scheduler's own host, which knows the keyword asked.
    bool offerCandidate(const Text&, const Text&, int) override { return false; }
    std::stop_token stopToken() const override { return m_guard.haltToken(); }
    bool sendRequest(int listIndex, const Text& label, const SendAttempt& send) override {
        return sendWithPolicy(
            m_health, listIndex, label, send, [this](std::chrono::milliseconds d) { return m_guard.wait(d); },
            m_guard.haltToken());
    }
    void countOffers(int listIndex, int offered, int accepted) override {
        m_health.offered(listIndex, offered, accepted);
    }
    AnswerLimits answerLimits() const override { return m_limits; }

  private:
    Controls& m_controls;
    RunGuard& m_guard;
    SourceHealth& m_health;
    AnswerLimits m_limits;
};

} // namespace

std::string_view runOutcomeName(RunOutcome outcome) {
    switch (outcome) {
    case RunOutcome::Finished: return "finished";
    case RunOutcome::Limit: return "limit";
    case RunOutcome::Stopped: return "stopped";
    case RunOutcome::Incomplete: return "incomplete";
    case RunOutcome::NoAnswers: return "no-answers";
    case RunOutcome::StoreFailed: return "store-failed";
    }
    return "finished";
}

RunOutcome runOutcome(RunEnd end, const AnswerTally& tally) {
    switch (end) {
    case RunEnd::Stopped: return RunOutcome::Stopped;
    case RunEnd::StoreFailed: return RunOutcome::StoreFailed;
    case RunEnd::ProxiesGone: return RunOutcome::NoAnswers;
    case RunEnd::NoSeeds:
    case RunEnd::QueueDry:
    case RunEnd::LimitReached: break;
    }
    if (tally.unanswered != 0) return tally.answered == 0 ? RunOutcome::NoAnswers : RunOutcome::Incomplete;
    return end == RunEnd::LimitReached ? RunOutcome::Limit : RunOutcome::Finished;
}

struct MiningRun::State {
    std::shared_ptr<Controls> controls;
    SourceSet sources;
    RunOptions options;
    std::shared_ptr<RunStore> store;
    RunGuard guard;
    std::unique_ptr<ResultSink> sink;
    std::unique_ptr<SourceHealth> health;
    std::unique_ptr<RunHost> host;
    std::unique_ptr<Scheduler> scheduler;
    std::vector<Text> seeds;
    std::vector<KeywordTask> seedRounds; // each seed, then its variants with the seed as main word
    std::vector<Text> forbidden;
    std::optional<ResultFilters> filters;
    std::string filterProblem; // UTF-8
    bool healthInUse = false;
    ResultWriter writer;

    std::mutex lockMutex; // the home's lock, released by whichever of stop and the end comes first

    mutable std::mutex doneMutex;
    mutable std::condition_variable doneSignal;
    bool done = false;
    std::optional<RunEnd> end;

    std::atomic<std::uint64_t> answered{0};
    std::atomic<std::uint64_t> unanswered{0};
    std::atomic<bool> unansweredKept{false};
    std::string silentSince; // when the last answered keyword was followed by none; the worker's
    std::optional<RunOutcome> outcome;

    std::chrono::steady_clock::time_point startedAt = std::chrono::steady_clock::now();
    std::atomic<std::int64_t> elapsedMs{-1}; // set when the worker has ended

    explicit State(WaitFunction wait) : guard(std::move(wait)) {}

    void releaseHome() {
        std::lock_guard lock(lockMutex);
        options.homeLock.reset();
    }

    HealthReport report() const {
        HealthReport r = health->report();
        const std::int64_t ended = elapsedMs;
        r.seconds = ended >= 0 ? static_cast<double>(ended) / 1000.0
                               : std::chrono::duration<double>(std::chrono::steady_clock::now() - startedAt).count();
        return r;
    }

    void notice(const Text& text) {
        guard.effect([&] { controls->showNotice(text); });
    }

    // The auto-save after a keyword: written outside the gate, its notice shown through it.
    void autoSave() {
        // Nothing answered yet and something failed: there is nothing to keep, and "saved" would
        // say all went well.
        if (answered == 0 && unanswered > 0 && store->results().size() == 0) return;
        const auto saved = writer.write(*controls, store->results(), false, guard.saveToken());
        if (const Text text = ResultWriter::notice(saved); !text.empty()) notice(text);
    }

    // Ends `entry` by the feed's rule: the store keeps its effects (outside the gate: a database
    // may take seconds). False once the run cannot go on: stopped, halted, or the store failed
    // (the run then halts with a notice).
    bool commit(KeywordFeed& feed, const FeedEntry& entry) {
        static const Text failedText = gbk("运行数据无法保存，采集已停止：");
        const auto step = feed.commitStep(entry, guard.halted(), sink->limitReached().has_value());
        if (!step) return false;
        const int accepted = sink->accepted();
        const bool unansweredKeyword = entry.answers.unanswered();
        bool ok = true;
        bool held = false;
        if (!guard.outside([&] {
                if (step->popFront) store->queue().pop();
                // A task the commit leaves in the queue (the count limit) is asked again as it is.
                if (unansweredKeyword && (entry.seed || step->popFront)) held = store->holdUnanswered(entry.task);
                ok = store->commitKeyword(step->seedsDone, accepted);
            }))
            return false;
        if (!ok) {
            notice(failedText + utf8_to_gbk(store->error()));
            guard.haltForStore();
            return false;
        }
        feed.committed(*step);
        countAnswers(entry.answers, held);
        return !guard.halted();
    }

    void countAnswers(const KeywordAnswers& answers, bool held) {
        if (answers.answered) {
            ++answered;
            silentSince.clear();
        } else if (answers.unanswered()) {
            ++unanswered;
            if (held) unansweredKept = true;
            if (silentSince.empty()) silentSince = isoTimeNow();
        }
    }

    // Said once at the end when keywords went unanswered: how many, since when, and where they are.
    void unansweredNotice() {
        if (unanswered == 0) return;
        std::string text = std::to_string(unanswered.load()) + " 个关键词没有得到任何来源的应答";
        // The clock time is enough; the date is the run's.
        if (!silentSince.empty() && silentSince.size() >= 19)
            text += "，自 " + silentSince.substr(11, 8) + " 起再无应答";
        text += unansweredKept ? "，已留在运行数据中，继续运行时先查询它们" : "";
        notice(utf8_to_gbk(text));
    }

    std::size_t seedPassEnded() {
        static const Text pendingText = gbk("当前待索引任务");
        const std::size_t waiting = store->queue().size();
        notice(pendingText + std::to_string(waiting));
        return waiting;
    }

    TriedRemedies triedRemedies() const {
        const HealthOptions& used = health->options();
        return {used.retries > 0, used.cooldown.count() > 0, !used.proxies.empty()};
    }

    bool delayWait() { return guard.wait(std::chrono::seconds(textToInt(controls->text(ctl::kDelay)))); }

    void run();
    void finish(RunEnd how);
};

void MiningRun::State::run() {
    static const Text limitA = gbk("已达到挖掘数量上限");
    static const Text limitB = gbk("，采集结束");
    KeywordFeed feed(seedRounds, options.seedsQueued ? seedRounds.size() : options.seedsDone, store->queue());

    if (seeds.empty() && feed.queued() == 0) {
        finish(RunEnd::NoSeeds);
        return;
    }
    if (!filterProblem.empty()) notice(gbk("结果过滤规则有误，本次不使用：") + utf8_to_gbk(filterProblem));
    scheduler->run({*controls, sources, feed, *sink, *health, guard, *host,
                    [this, &feed](const FeedEntry& entry) { return commit(feed, entry); },
                    [this] { return seedPassEnded(); }, [this] { autoSave(); }, options.progress});

    if (!guard.storeFailed() && store->broken()) {
        // A store that lost the run's state ends the queue early: that is no dry queue.
        static const Text lostText = gbk("运行数据无法读取，采集已停止：");
        notice(lostText + utf8_to_gbk(store->error()));
        guard.haltForStore();
    }
    if (guard.proxiesGone()) {
        // Its keywords stay where they are: a durable store asks them again when the run is resumed.
        autoSave();
        if (options.unattended) guard.effect([&] { controls->closeWindow(); });
        finish(RunEnd::ProxiesGone);
        return;
    }
    if (guard.storeFailed()) {
        // What was taken before the failure is kept; the run cannot go on telling old from new.
        autoSave();
        if (options.unattended) guard.effect([&] { controls->closeWindow(); });
        finish(RunEnd::StoreFailed);
        return;
    }
    if (const auto limit = sink->limitReached()) {
        if (options.unattended) {
            guard.effect([&] { controls->closeWindow(); });
        } else {
            // The keyword in progress was not auto-saved yet.
            autoSave();
            notice(limitA + std::to_string(*limit) + limitB);
        }
        finish(RunEnd::LimitReached);
        return;
    }
    if (guard.halted()) {
        finish(RunEnd::Stopped);
        return;
    }
    if (options.unattended) guard.effect([&] { controls->closeWindow(); });
    finish(RunEnd::QueueDry);
}

void MiningRun::State::finish(RunEnd how) {
    elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - startedAt)
                    .count();
    const RunOutcome ending = runOutcome(guard.stopped() ? RunEnd::Stopped : how, {answered, unanswered});
    if (how != RunEnd::Stopped) {
        unansweredNotice();
        if (const auto lost = lostPhrasesNotice(report())) notice(*lost);
    }
    if (how != RunEnd::Stopped && options.summaryNotices) {
        for (const Text& text : reportNotices(report(), healthInUse, triedRemedies()))
            notice(text);
    }
    releaseHome();
    // The store's last word is a write: on this thread, outside the gate. A store that failed
    // leaves the run as it last kept it, to be resumed.
    if (ending == RunOutcome::Stopped)
        store->runStopped();
    else if (ending == RunOutcome::Incomplete || ending == RunOutcome::NoAnswers)
        store->runIncomplete();
    else if (ending != RunOutcome::StoreFailed)
        store->runFinished();
    // Under the gate, so that once stop() has returned the callback cannot come.
    if (!guard.end([&] {
            if (options.onEnded) options.onEnded(how);
        }))
        how = RunEnd::Stopped;
    std::lock_guard lock(doneMutex);
    done = true;
    end = how;
    outcome = how == RunEnd::Stopped ? RunOutcome::Stopped : ending;
    doneSignal.notify_all();
}

MiningRun::MiningRun(std::shared_ptr<Controls> controls, SourceSet sources, RunOptions options)
    : m_state(std::make_shared<State>(options.wait)) {
    auto& s = *m_state;
    s.controls = std::move(controls);
    s.sources = std::move(sources);
    s.store = options.store ? options.store : std::make_shared<DefaultRunStore>(options.home);
    s.options = std::move(options);
    s.seeds = splitLines(s.controls->text(ctl::kSeeds));
    s.seedRounds = seedRoundsOf(*s.controls, s.seeds);
    s.filters = ResultFilters::make(s.controls->text(ctl::kIncludePattern), s.controls->text(ctl::kExcludePattern),
                                    textToInt(s.controls->text(ctl::kMinChars)),
                                    textToInt(s.controls->text(ctl::kMaxChars)), &s.filterProblem);
    if (s.filters && s.filters->empty()) s.filters.reset();
    s.controls->setText(ctl::kForbidden, cleanForbidden(s.controls->text(ctl::kForbidden)));
    s.forbidden = splitLines(s.controls->text(ctl::kForbidden));
    std::vector<Text> problems;
    HealthOptions health = readHealthOptions(*s.controls, s.options.backoff, &problems);
    s.healthInUse = healthOptionsInUse(health);
    const AnswerLimits limits = readAnswerLimits(*s.controls, &problems);
    for (const Text& problem : problems)
        s.controls->showNotice(problem);
    // The policy outlives neither the state nor its gate: notices from it are effects like any other.
    State* state = &s;
    s.health = std::make_unique<SourceHealth>(std::move(health), [state](const Text& text) { state->notice(text); });
    s.health->setOnProxiesGone([state] { state->guard.haltForProxies(); });
    s.host = std::make_unique<RunHost>(*s.controls, s.guard, *s.health, limits);
    s.sink = std::make_unique<ResultSink>(*s.controls, *s.store, s.guard, s.options.unattended);
    s.sink->addFilter(std::make_unique<ForbiddenWordsFilter>(s.forbidden));
    if (s.filters)
        s.sink->addFilter(std::make_unique<PatternFilter>(*s.filters), s.controls->checked(ctl::kFilterShow)
                                                                           ? ResultSink::FilterRole::Show
                                                                           : ResultSink::FilterRole::Walk);
    s.sink->setMaxDepth(std::max(0, textToInt(s.controls->text(ctl::kMaxDepth))));
    if (s.controls->checked(ctl::kNormalize)) {
        Expected<Done> available = normalFormsAvailable();
        if (available)
            s.sink->setNormalForms(true);
        else
            s.controls->showNotice(gbk("规范化词形不可用，本次不使用：") + utf8_to_gbk(available.error().message));
    }
    s.sink->setCountHits(s.controls->checked(ctl::kCountHits));
    s.sink->setAccepted(s.options.accepted);
    if (s.controls->checked(ctl::kParallel)) {
        Text problem;
        s.scheduler = makeThroughputScheduler(parallelOptions(*s.controls, &problem));
        if (!problem.empty()) s.controls->showNotice(problem);
        // Display pauses pace a window's list; many keywords in flight have no list to pace.
        s.sink->setPauses(false);
    } else {
        s.scheduler = makeSequentialScheduler([state] { return state->delayWait(); });
    }
}

MiningRun::~MiningRun() {
    stop();
    // m_worker, declared last, joins first: stopped, the worker only has a request to abort.
}

void MiningRun::start() {
    if (m_worker.joinable()) return;
    m_state->startedAt = std::chrono::steady_clock::now();
    m_worker = std::jthread([state = m_state] { state->run(); });
}

void MiningRun::stop() {
    // Flags and wake-ups only: the store's own record of the stop is the worker's last word.
    if (m_state->guard.stop()) m_state->store->runStopping();
    // A stopped run touches nothing more, so the home is free for the next at once.
    m_state->releaseHome();
}

bool MiningRun::waitForWork(std::chrono::milliseconds timeout) {
    return m_state->guard.waitForWork(timeout);
}

bool MiningRun::workerDone() const {
    std::lock_guard lock(m_state->doneMutex);
    return m_state->done;
}

bool MiningRun::waitUntilDone(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_state->doneMutex);
    return m_state->doneSignal.wait_for(lock, timeout, [&] { return m_state->done; });
}

std::optional<RunEnd> MiningRun::end() const {
    std::lock_guard lock(m_state->doneMutex);
    return m_state->end;
}

std::optional<RunOutcome> MiningRun::outcome() const {
    std::lock_guard lock(m_state->doneMutex);
    return m_state->outcome;
}

AnswerTally MiningRun::answers() const {
    return {m_state->answered, m_state->unanswered};
}

bool MiningRun::unansweredKept() const {
    return m_state->unansweredKept;
}

const std::vector<Text>& MiningRun::seeds() const {
    return m_state->seeds;
}
const std::vector<Text>& MiningRun::forbiddenWords() const {
    return m_state->forbidden;
}

std::vector<ResultRecord> MiningRun::results() const {
    return m_state->store->results().all();
}

std::vector<ResultRecord> MiningRun::resultsFrom(std::size_t from) const {
    const ResultList& results = m_state->store->results();
    return results.copy(from, results.size());
}

int MiningRun::acceptedCount() const {
    return m_state->sink->accepted();
}
std::size_t MiningRun::queueSize() const {
    return m_state->store->queue().size();
}

HealthReport MiningRun::report() const {
    return m_state->report();
}

bool MiningRun::resilienceInUse() const {
    return m_state->healthInUse;
}

TriedRemedies MiningRun::triedRemedies() const {
    return m_state->triedRemedies();
}

std::uint64_t MiningRun::bytesSaved() const {
    return m_state->writer.bytesWritten();
}

std::string MiningRun::storeFailure() const {
    const std::string why = m_state->store->error();
    return why.empty() ? m_state->store->seen().failure() : why;
}

Text MiningRun::resultsPathText() const {
    return m_state->writer.pathText(*m_state->controls);
}

bool MiningRun::saveResults(bool forced) {
    return m_state->writer.save(*m_state->controls, m_state->store->results(), forced);
}

MiningController::MiningController(std::shared_ptr<Controls> controls, std::filesystem::path home,
                                   SourceFactory sources)
    : m_controls(std::move(controls)), m_home(std::move(home)), m_sources(std::move(sources)) {}

MiningController::~MiningController() {
    // The emptiers and then the runs' workers are joined as the members go.
    std::lock_guard lock(m_mutex);
    if (m_run) m_run->stop();
}

StartResult MiningController::clickStart() {
    if (state() == RunState::Idle) return start();
    stop();
    return std::nullopt;
}

StartResult MiningController::start() {
    static const Text failedText = gbk("运行数据无法保存：");
    if (auto refused = claimHome()) return refused;
    RunStoreRequest request{m_storeSpec, m_home, captureRunOptions(*m_controls), {}, m_storeReport, m_storeReport};
    if (m_storeSpec.kind == StoreSpec::Kind::Redis)
        request.seedRounds = seedRoundsOf(*m_controls, splitLines(m_controls->text(ctl::kSeeds)));
    auto opened = openRunStore(request);
    if (startCancelled())
        return abandonStart(StartRefused{StartRefusal::Stopped, {}}, opened ? opened->store : nullptr);
    if (!opened) {
        m_controls->showNotice(failedText + utf8_to_gbk(opened.error().message));
        return abandonStart(StartRefused{StartRefusal::StoreUnusable, opened.error().message}, nullptr);
    }
    if (opened->runOptions) {
        // A joined run goes on with its own options.
        const SourceTicks ticks = applyRunOptions(*m_controls, *opened->runOptions);
        if (m_onJoined) m_onJoined(ticks);
    }
    return launch(std::move(*opened));
}

StartResult MiningController::resume(const std::function<void(const SourceTicks&)>& applyTicks) {
    if (m_storeSpec.kind != StoreSpec::Kind::Sqlite) {
        const auto none = resumeRunStore(m_storeSpec);
        return StartRefused{StartRefusal::StoreUnusable, none ? std::string() : none.error().message};
    }
    if (auto refused = claimHome()) return refused;
    auto opened = resumeRunStore(m_storeSpec, m_startStop.get_token());
    if (startCancelled())
        return abandonStart(StartRefused{StartRefusal::Stopped, {}}, opened && *opened ? (*opened)->store : nullptr);
    if (!opened) return abandonStart(StartRefused{StartRefusal::StoreUnusable, opened.error().message}, nullptr);
    if (!*opened)
        return abandonStart(
            StartRefused{StartRefusal::NoRunToResume, "no run to resume in " + m_storeSpec.path.string() +
                                                          " (`runs` lists which can go on)"},
            nullptr);
    StoreForRun& run = **opened;
    // Going on without the proxies it went through would show the services this machine's address.
    if (storedProxiesNeedCredentials(*run.runOptions) && m_controls->text(ctl::kProxyList).empty())
        return abandonStart(
            StartRefused{StartRefusal::StoreUnusable,
                         "the run went through proxies that need a user and password, which are never stored; give "
                         "them again (--proxy or --proxy-file; the window: 代理列表 on 高级)"},
            run.store);
    // Where results go, how they are written and how this machine reaches the services are its own,
    // whatever the run's first machine chose.
    std::erase_if(*run.runOptions, [](const auto& option) {
        for (const std::string_view machine : {ctl::kSaveDir, ctl::kHangupDir, ctl::kHangup, ctl::kAutoSave,
                                               ctl::kNoOutput, ctl::kExportFormat, ctl::kParallel, ctl::kParallelRate,
                                               ctl::kProxyList, ctl::kProxyFallback, ctl::kRunStore})
            if (option.first == machine) return true;
        return false;
    });
    const SourceTicks ticks = applyRunOptions(*m_controls, *run.runOptions);
    if (applyTicks) applyTicks(ticks);
    return launch(std::move(run));
}

StartResult MiningController::claimHome() {
    // Two runs on one home would empty each other's seen store.
    int error = 0;
    std::optional<FileLock> lock = FileLock::tryAcquire(homeLockFile(m_home), &error);
    if (!lock)
        return StartRefused{error == EWOULDBLOCK ? StartRefusal::HomeBusy : StartRefusal::HomeUnwritable, {}};
    if (m_controls->checked(ctl::kHangup)) {
        const Text directory = m_controls->text(ctl::kHangupDir);
        if (!directory.empty()) {
            const auto path = gbkToPath(directory);
            std::error_code fsError;
            std::filesystem::create_directories(path, fsError);
            if (!std::filesystem::is_directory(path, fsError) || ::access(path.c_str(), W_OK | X_OK) != 0)
                return StartRefused{StartRefusal::HangupUnusable, {}};
        }
    }
    m_homeLock = std::make_shared<FileLock>(std::move(*lock));
    std::lock_guard guard(m_mutex);
    m_starting = true;
    m_startCancelled = false;
    m_startStop = std::stop_source();
    return std::nullopt;
}

StartResult MiningController::abandonStart(StartResult why, const std::shared_ptr<RunStore>& store) {
    if (store) store->runStopped();
    m_homeLock.reset();
    std::lock_guard lock(m_mutex);
    m_starting = false;
    return why;
}

bool MiningController::startCancelled() const {
    std::lock_guard lock(m_mutex);
    return m_startCancelled;
}

StartResult MiningController::launch(StoreForRun opened) {
    m_emptier.start(m_home, m_controls);
    m_controls->setText(ctl::kStartButton, gbk(ctl::kCaptionStop));
    RunOptions options;
    options.home = m_home;
    options.homeLock = std::move(m_homeLock);
    options.unattended = m_unattended;
    options.wait = m_wait;
    options.onEnded = m_onEnded;
    options.backoff = m_backoff;
    options.summaryNotices = m_summaryNotices;
    options.store = opened.store;
    options.seedsDone = opened.seedsDone;
    options.accepted = opened.accepted;
    options.seedsQueued = opened.seedsQueued;
    options.progress = m_progress;
    auto run =
        std::make_shared<MiningRun>(m_controls, m_sources ? m_sources() : SourceSet(), std::move(options));
    bool cancelled = false;
    {
        std::lock_guard lock(m_mutex);
        m_starting = false;
        cancelled = m_startCancelled;
        if (!cancelled) {
            // A stopped run's worker may still be on its way out; it is kept, not waited for.
            std::erase_if(m_pastRuns, [](const auto& past) { return past->workerDone(); });
            if (m_run) m_pastRuns.push_back(std::move(m_run));
            m_run = run;
            m_stopped = false;
        }
    }
    if (cancelled) {
        run.reset();
        m_controls->setText(ctl::kStartButton, gbk(ctl::kCaptionStart));
        return abandonStart(StartRefused{StartRefusal::Stopped, {}}, opened.store);
    }
    run->start();
    return std::nullopt;
}

void MiningController::stop() {
    std::shared_ptr<MiningRun> run;
    {
        std::lock_guard lock(m_mutex);
        run = m_run;
        m_stopped = true;
        if (m_starting) {
            m_startCancelled = true;
            m_startStop.request_stop();
        }
    }
    // The run first: once it is stopped it begins no marker, so none lands in the store being
    // emptied; one it began before is let finish before the store is moved away.
    if (run) run->stop();
    SeenStoreEmptier::Settle settle;
    if (run) {
        settle = [weak = std::weak_ptr<MiningRun>(run)](std::chrono::milliseconds timeout) {
            const auto alive = weak.lock();
            return !alive || alive->waitForWork(timeout);
        };
    }
    m_emptier.start(m_home, m_controls, std::move(settle));
    m_controls->setText(ctl::kStartButton, gbk(ctl::kCaptionStart));
}

void MiningController::clearCache() {
    m_emptier.start(m_home, m_controls);
}

bool MiningController::waitForEmptying(std::chrono::milliseconds timeout) {
    return m_emptier.waitIdle(timeout);
}

std::optional<std::filesystem::path> MiningController::exportResults(std::string* failure) {
    const auto run = currentRun();
    const bool saved = run ? run->saveResults(true) : m_idleWriter.save(*m_controls, {}, true);
    const Text resultsPath = run ? run->resultsPathText() : m_idleWriter.pathText(*m_controls);
    if (!saved && failure) *failure = "the results could not be saved to " + gbk_to_utf8(resultsPath);
    // The results file is written whatever else is: it is the one the auto-save keeps whole. A format
    // the box does not name exports nothing more, as an empty box does.
    if (const auto format = chosenExportFormat(*m_controls); format && *format != ExportFormat::Txt) {
        std::string richFailure;
        std::vector<std::pair<int, Text>> names;
        if (m_sources)
            for (const auto& source : m_sources())
                if (source && source->fetching()) names.emplace_back(source->listIndex(), source->fetching()->outputName());
        const std::vector<ResultRecord> records = run ? run->results() : std::vector<ResultRecord>{};
        ExtraColumns extra = hitColumns(records);
        if (m_wordColumns && m_controls->checked(ctl::kKeywordWords) && !records.empty()) {
            Expected<ExtraColumns> words = m_wordColumns(records);
            if (words)
                extra.insert(extra.end(), words->begin(), words->end());
            else
                m_controls->showNotice(gbk("词根与意图未能加入导出：") + utf8_to_gbk(words.error().message));
        }
        auto file = exportRichResults(*m_controls, records, *format, resultsPath, &richFailure, sourceIndexesOf(names),
                                      extra);
        if (!file && failure) *failure += (failure->empty() ? "" : "; ") + richFailure;
        return saved ? file : std::nullopt;
    }
    // A failed save is no export, even when an older file of that name is there.
    if (!saved) return std::nullopt;
    const auto file = gbkToPath(run ? run->resultsPathText() : m_idleWriter.pathText(*m_controls));
    std::error_code error;
    if (std::filesystem::exists(file, error)) return file;
    return std::nullopt;
}

Text MiningController::resultsPathText() {
    const auto run = currentRun();
    return run ? run->resultsPathText() : m_idleWriter.pathText(*m_controls);
}

RunState MiningController::state() const {
    std::lock_guard lock(m_mutex);
    if (!m_run || m_stopped) return RunState::Idle;
    return m_run->workerDone() ? RunState::Finished : RunState::Running;
}

std::shared_ptr<MiningRun> MiningController::currentRun() const {
    std::lock_guard lock(m_mutex);
    return m_run;
}

} // namespace zelkor
