#include "engine/run/mining_run.h"

#include "engine/run/answer_limits.h"
#include "engine/core/control_names.h"
#include "engine/core/file_lock.h"
#include "engine/core/program_dir.h"
#include "engine/store/redis_run_store.h"
#include "engine/run/result_filters.h"
#include "engine/output/run_report.h"
#include "engine/run/result_sink.h"
#include "engine/output/rich_export.h"
#include "engine/run/seed_variants.h"
#include "engine/store/seen_store.h"
#include "engine/store/sqlite_run_store.h"
#include "engine/core/text_rules.h"
#include "text/regex.h"

#include <cerrno>
#include <condition_variable>
#include <limits>
#include <unistd.h>

namespace zelkor {

namespace {

// The seed rounds of the seed box: each seed, then its variants.
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

// A shared run's worker starts from the shared queue, where the creator put the seed rounds.
constexpr std::size_t kSeedsInQueue = std::numeric_limits<std::size_t>::max();

const Text& caption(std::string_view utf8) {
    static const Text start = gbk(ctl::kCaptionStart);
    static const Text stop = gbk(ctl::kCaptionStop);
    return utf8 == ctl::kCaptionStart ? start : stop;
}

// Blank lines and the enclosing line breaks go; what is left is the list of forbidden words.
Text cleanForbidden(Text text) {
    if (text.starts_with("\r\n")) text.erase(0, 2);
    if (text.ends_with("\r\n")) text.erase(text.size() - 2);
    RegexObject regex;
    if (regex.create("(?:^\\r|\\n$)", text, false, true, true)) text = regex.replace("");
    return text;
}

} // namespace

struct MiningRun::State final : SourceHost, RunGate {
    std::shared_ptr<Controls> controls;
    SourceSet sources;
    RunOptions options;
    std::shared_ptr<RunStore> store;
    std::unique_ptr<ResultSink> sink;
    std::vector<Text> seeds;
    std::vector<KeywordTask> seedRounds; // each seed, then its variants with the seed as main word
    std::vector<Text> forbidden;
    std::optional<ResultFilters> filters;
    std::string filterProblem; // UTF-8
    std::optional<ParallelOptions> parallel; // 选择框_并发查询

    // The keyword being asked; worker only.
    Text currentMainWord;
    Text currentKeyword;
    int currentDepth = 0;
    bool ended = false; // by itself; under the gate
    ResultWriter writer;

    // Set by stop() or by reaching the count limit: requests in flight abort, waits end, no more
    // phrase is taken.
    std::stop_source halt;
    // Set by stop() only: a save that has not touched the file yet is not made.
    std::stop_source cancelSaves;
    // Set when the seen set could not record a phrase.
    std::atomic<bool> storeFailed{false};

    // Every in-memory effect of the run happens under the gate and only while the run is not
    // stopped, so once stop() has returned nothing more happens. Nothing slow runs under it: file
    // writes happen outside, so stop() never waits for one.
    std::mutex gate;
    bool stopped = false;

    mutable std::mutex doneMutex;
    mutable std::condition_variable doneSignal;
    bool done = false;
    std::optional<RunEnd> end;

    std::unique_ptr<SourceHealth> health;
    bool healthInUse = false;
    AnswerLimits limits; // fixed at Start
    std::chrono::steady_clock::time_point startedAt = std::chrono::steady_clock::now();
    std::atomic<std::int64_t> elapsedMs{-1}; // set when the worker has ended

    bool effect(const std::function<void()>& action) override {
        std::lock_guard lock(gate);
        if (stopped) return false;
        action();
        return true;
    }

    bool halted() const override { return halt.stop_requested(); }
    bool pause(std::chrono::milliseconds duration) override { return wait(duration); }
    void haltAtLimit() override { halt.request_stop(); }
    void haltForStore() override {
        storeFailed = true;
        halt.request_stop();
    }

    bool wait(std::chrono::milliseconds duration) {
        return options.wait ? options.wait(duration, halt.get_token()) : waitFor(duration, halt.get_token());
    }

    bool delayWait() { return wait(std::chrono::seconds(textToInt(controls->text(ctl::kDelay)))); }

    bool isSourceTicked(int index) override {
        return !halted() && index >= 0 && controls->itemChecked(ctl::kSourceList, index);
    }

    std::stop_token stopToken() const override { return halt.get_token(); }
    AnswerLimits answerLimits() const override { return limits; }

    // The second group of every round runs to the end of the list, sources a file added included.
    static constexpr int kLastSource = std::numeric_limits<int>::max();

    bool sendRequest(int listIndex, const Text& label, const SendAttempt& send) override {
        return sendWithPolicy(
            *health, listIndex, label, send, [this](std::chrono::milliseconds d) { return wait(d); },
            halt.get_token());
    }

    void countOffers(int listIndex, int offered, int accepted) override {
        health->offered(listIndex, offered, accepted);
    }

    HealthReport report() const {
        HealthReport r = health->report();
        const std::int64_t ended = elapsedMs;
        r.seconds = ended >= 0 ? static_cast<double>(ended) / 1000.0
                               : std::chrono::duration<double>(std::chrono::steady_clock::now() - startedAt).count();
        return r;
    }

    // Asks the sources whose list index lies in [first, last] with `keyword`.
    void ask(const Text& keyword, int first, int last) {
        for (const auto& source : sources) {
            if (halted()) return;
            const int index = source->listIndex();
            if (index < first || index > last || !isSourceTicked(index)) continue;
            source->run(keyword, *this);
        }
    }

    bool offerCandidate(const Text& candidate, const Text& outputName, int displayPauseMs) override {
        return sink->offer(
            {candidate, outputName, currentMainWord, displayPauseMs, currentKeyword, currentDepth + 1});
    }

    // The auto-save after a keyword: written outside the gate, its notice shown through it.
    void autoSave() {
        const auto saved = writer.write(*controls, store->results(), false, cancelSaves.get_token());
        if (const Text notice = ResultWriter::notice(saved); !notice.empty())
            effect([&] { controls->showNotice(notice); });
    }

    // The keyword's effects kept by the store; false when stopped or when the store failed (then
    // the run halts with a notice).
    bool commit(std::size_t seedsDone, bool popFront) {
        static const Text failedText = gbk("运行数据无法保存，采集已停止：");
        bool ok = true;
        if (!effect([&] {
                if (popFront) store->queue().pop();
                ok = store->commitKeyword(seedsDone, sink->accepted());
                if (!ok) controls->showNotice(failedText + utf8_to_gbk(store->error()));
            }))
            return false;
        if (!ok) haltForStore();
        return ok;
    }

    void run();
    void runInParallel();
    void finish(RunEnd how);
};

// The include, exclude and length filters as one stage of the sink.
class PatternFilter final : public CandidateFilter {
  public:
    explicit PatternFilter(const ResultFilters& filters) : m_filters(filters) {}
    std::optional<Text> refuse(const Candidate& candidate) const override { return m_filters.refuse(candidate.text); }

  private:
    const ResultFilters& m_filters;
};

void MiningRun::State::run() {
    static const Text pendingText = gbk("当前待索引任务");
    static const Text limitA = gbk("已达到挖掘数量上限");
    static const Text limitB = gbk("，采集结束");
    KeywordQueue& queue = store->queue();

    if (seeds.empty() && queue.size() == 0) {
        finish(RunEnd::NoSeeds);
        return;
    }
    if (!filterProblem.empty())
        effect([&] { controls->showNotice(gbk("结果过滤规则有误，本次不使用：") + utf8_to_gbk(filterProblem)); });
    if (parallel) runInParallel();
    // A resumed run starts after the seed rounds it had kept.
    for (std::size_t i = options.seedsDone; !parallel && i < seedRounds.size() && !halted(); ++i) {
        const KeywordTask& round = seedRounds[i];
        currentMainWord = round.mainWord;
        currentKeyword = round.keyword;
        currentDepth = 0;
        health->keywordAsked();
        ask(round.keyword, 0, 1);
        if (!halted()) delayWait();
        ask(round.keyword, 2, kLastSource);
        // At the count limit the seed's phrases so far are the run's last: they are kept too.
        if (!commit(i + 1, false)) break;
        if (!halted()) delayWait();
        // A long seed list must not lose what it found to a crash before the queue pass.
        if (!halted()) autoSave();
    }
    if (!parallel && !halted()) {
        std::size_t n = queue.size();
        effect([&] { controls->showNotice(pendingText + std::to_string(n)); });
        while (n != 0 && !halted()) {
            const auto task = queue.front();
            if (!task) break;
            currentMainWord = task->mainWord;
            currentKeyword = task->keyword;
            currentDepth = task->depth;
            health->keywordAsked();
            ask(task->keyword, 0, 1);
            if (!halted()) delayWait();
            ask(task->keyword, 2, kLastSource);
            if (halted()) {
                // At the count limit the keyword stays queued, its phrases so far kept.
                if (sink->limitReached()) commit(seedRounds.size(), false);
                break;
            }
            if (!commit(seedRounds.size(), true)) break;
            n = queue.size();
            if (!delayWait()) break;
            autoSave();
        }
    }

    if (!storeFailed && store->broken()) {
        // A store that lost the run's state ends the queue early: that is no dry queue.
        static const Text lostText = gbk("运行数据无法读取，采集已停止：");
        effect([&] { controls->showNotice(lostText + utf8_to_gbk(store->error())); });
        storeFailed = true;
    }
    if (storeFailed) {
        // What was taken before the failure is kept; the run cannot go on telling old from new.
        autoSave();
        if (options.unattended) effect([&] { controls->closeWindow(); });
        finish(RunEnd::StoreFailed);
        return;
    }
    if (const auto limit = sink->limitReached()) {
        if (options.unattended) {
            effect([&] { controls->closeWindow(); });
        } else {
            // The keyword in progress was not auto-saved yet.
            autoSave();
            effect([&] { controls->showNotice(limitA + std::to_string(*limit) + limitB); });
        }
        finish(RunEnd::LimitReached);
        return;
    }
    if (halted()) {
        finish(RunEnd::Stopped);
        return;
    }
    if (options.unattended) effect([&] { controls->closeWindow(); });
    finish(RunEnd::QueueDry);
}

void MiningRun::State::runInParallel() {
    runParallel({*controls, sources, store->queue(), *sink, *health, *this, *this, seedRounds, options.seedsDone,
                 [this](std::size_t seedsDone, bool popFront) { return commit(seedsDone, popFront); },
                 [this] { autoSave(); }, options.progress},
                *parallel);
}

void MiningRun::State::finish(RunEnd how) {
    elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - startedAt)
                    .count();
    if (how != RunEnd::Stopped && options.summaryNotices) {
        for (const Text& notice : reportNotices(report(), healthInUse))
            effect([&] { controls->showNotice(notice); });
    }
    {
        // Under the gate, so that once stop() has returned the callback cannot come.
        std::lock_guard lock(gate);
        options.homeLock.reset();
        if (stopped) {
            how = RunEnd::Stopped;
        } else {
            ended = true;
            // A store that failed leaves the run as it last kept it, to be resumed.
            if (how != RunEnd::StoreFailed) store->runFinished();
            if (options.onEnded) options.onEnded(how);
        }
    }
    std::lock_guard lock(doneMutex);
    done = true;
    end = how;
    doneSignal.notify_all();
}

MiningRun::MiningRun(std::shared_ptr<Controls> controls, SourceSet sources, RunOptions options)
    : m_state(std::make_shared<State>()) {
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
    s.limits = readAnswerLimits(*s.controls, &problems);
    for (const Text& problem : problems)
        s.controls->showNotice(problem);
    // The policy outlives neither the state nor its gate: notices from it are effects like any other.
    State* state = &s;
    s.health = std::make_unique<SourceHealth>(std::move(health), [state](const Text& notice) {
        state->effect([&] { state->controls->showNotice(notice); });
    });
    s.sink = std::make_unique<ResultSink>(*s.controls, *s.store, s, s.options.unattended);
    s.sink->addFilter(std::make_unique<ForbiddenWordsFilter>(s.forbidden));
    if (s.filters) s.sink->addFilter(std::make_unique<PatternFilter>(*s.filters));
    s.sink->setAccepted(s.options.accepted);
    if (s.controls->checked(ctl::kParallel)) {
        Text problem;
        s.parallel = parallelOptions(*s.controls, &problem);
        if (!problem.empty()) s.controls->showNotice(problem);
    }
    // Display pauses pace a window's list; many keywords in flight have no list to pace.
    if (s.parallel) s.sink->setPauses(false);
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
    {
        std::lock_guard lock(m_state->gate);
        if (!m_state->stopped && !m_state->ended) m_state->store->runStopped();
        m_state->stopped = true;
        m_state->cancelSaves.request_stop();
        // A stopped run touches nothing more, so the home is free for the next at once.
        m_state->options.homeLock.reset();
    }
    m_state->halt.request_stop();
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

const std::vector<Text>& MiningRun::seeds() const {
    return m_state->seeds;
}
const std::vector<Text>& MiningRun::forbiddenWords() const {
    return m_state->forbidden;
}

std::vector<ResultRecord> MiningRun::results() const {
    return m_state->store->results().all();
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

std::uint64_t MiningRun::bytesSaved() const {
    return m_state->writer.bytesWritten();
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

std::optional<StartRefusal> MiningController::clickStart() {
    const Text now = m_controls->text(ctl::kStartButton);
    if (now == caption(ctl::kCaptionStart)) return start();
    if (now == caption(ctl::kCaptionStop)) stop();
    return std::nullopt;
}

MiningController::~MiningController() {
    // The emptiers and then the runs' workers are joined as the members go.
    std::lock_guard lock(m_mutex);
    if (m_run) m_run->stop();
}

std::optional<StartRefusal> MiningController::start() {
    static const Text failedText = gbk("运行数据无法保存：");
    if (const auto refusal = claimHome()) return refusal;
    std::string error;
    const bool shared = m_storeSpec.kind == StoreSpec::Kind::Redis;
    auto store = shared ? enterSharedRun(&error) : openStore(&error);
    if (store && m_storeSpec.kind == StoreSpec::Kind::Sqlite &&
        !dynamic_cast<DurableStore&>(*store).beginRun(captureRunOptions(*m_controls))) {
        error = store->error();
        store.reset();
    }
    if (!store) {
        m_homeLock.reset();
        m_controls->showNotice(failedText + utf8_to_gbk(error));
        return StartRefusal::StoreUnusable;
    }
    launch(std::move(store), shared ? kSeedsInQueue : 0, 0);
    return std::nullopt;
}

std::shared_ptr<RunStore> MiningController::enterSharedRun(std::string* error) {
    const auto server = parseRedisUrl(m_storeSpec.url);
    if (!server || !validRunName(m_storeSpec.run)) {
        *error = !server ? "'" + m_storeSpec.url + "' is not redis://HOST[:PORT][/DB]"
                         : "a shared run needs a name of 1 to 64 letters, digits, '_', '.' or '-'";
        return nullptr;
    }
    RedisStoreTarget target{*server, m_storeSpec.run, m_storeSpec.lease};
    // A server restarting is waited for a few seconds (0.25 + 0.5 + 1 + 2) before the worker gives up.
    target.server.attempts = 5;
    target.server.firstPause = std::chrono::milliseconds(250);
    if (m_storeReport) {
        target.server.onRetry = [report = m_storeReport](const std::string& what, std::chrono::milliseconds pause) {
            report(what + "; trying again in " + std::to_string(pause.count()) + " ms");
        };
    }
    auto store = RedisRunStore::open(target, error);
    if (!store) return nullptr;
    RunOptionValues stored;
    const auto entry =
        store->enter(captureRunOptions(*m_controls), seedRoundsOf(*m_controls, splitLines(m_controls->text(ctl::kSeeds))),
                     &stored);
    if (!entry) {
        *error = store->error();
        return nullptr;
    }
    if (*entry == RedisRunStore::Entry::Joined) {
        // Paths name places on the machine that created the run.
        std::erase_if(stored, [](const auto& option) {
            return option.first == ctl::kSaveDir || option.first == ctl::kHangupDir;
        });
        const auto ticks = applyRunOptions(*m_controls, stored);
        if (m_onJoined) m_onJoined(ticks);
    }
    return store;
}

std::optional<StartRefusal> MiningController::resume(
    std::string* error, const std::function<void(const std::array<bool, kSourceCount>&)>& applyTicks) {
    if (m_storeSpec.kind == StoreSpec::Kind::Files) {
        if (error) *error = "the files store keeps no run to resume; choose a database store";
        return StartRefusal::StoreUnusable;
    }
    if (m_storeSpec.kind == StoreSpec::Kind::Redis) {
        if (error) *error = "a shared run goes on whenever a worker starts with its --run name; --resume is not needed";
        return StartRefusal::StoreUnusable;
    }
    if (const auto refusal = claimHome()) return refusal;
    auto store = SqliteRunStore::open(m_storeSpec.path, error);
    const auto progress = store ? store->resumeNewest() : std::nullopt;
    if (!progress) {
        if (store && error) *error = store->error();
        m_homeLock.reset();
        return StartRefusal::StoreUnusable;
    }
    const auto ticks = applyRunOptions(*m_controls, progress->options);
    if (applyTicks) applyTicks(ticks);
    launch(std::shared_ptr<RunStore>(std::move(store)), progress->seedsDone, progress->accepted);
    return std::nullopt;
}

std::optional<StartRefusal> MiningController::claimHome() {
    // Two runs on one home would empty each other's seen store.
    int error = 0;
    std::optional<FileLock> lock = FileLock::tryAcquire(homeLockFile(m_home), &error);
    if (!lock) return error == EWOULDBLOCK ? StartRefusal::HomeBusy : StartRefusal::HomeUnwritable;
    if (m_controls->checked(ctl::kHangup)) {
        const Text directory = m_controls->text(ctl::kHangupDir);
        if (!directory.empty()) {
            const auto path = gbkToPath(directory);
            std::error_code fsError;
            std::filesystem::create_directories(path, fsError);
            if (!std::filesystem::is_directory(path, fsError) || ::access(path.c_str(), W_OK | X_OK) != 0)
                return StartRefusal::HangupUnusable;
        }
    }
    m_homeLock = std::make_shared<FileLock>(std::move(*lock));
    return std::nullopt;
}

std::shared_ptr<RunStore> MiningController::openStore(std::string* error) {
    if (m_storeSpec.kind == StoreSpec::Kind::Files) return std::make_shared<DefaultRunStore>(m_home);
    return SqliteRunStore::open(m_storeSpec.path, error);
}

void MiningController::launch(std::shared_ptr<RunStore> store, std::size_t seedsDone, int accepted) {
    m_emptier.start(m_home, m_controls);
    m_controls->setText(ctl::kStartButton, caption(ctl::kCaptionStop));
    RunOptions options;
    options.home = m_home;
    options.homeLock = std::move(m_homeLock);
    options.unattended = m_unattended;
    options.wait = m_wait;
    options.onEnded = m_onEnded;
    options.backoff = m_backoff;
    options.summaryNotices = m_summaryNotices;
    options.store = std::move(store);
    options.seedsDone = seedsDone;
    options.accepted = accepted;
    options.progress = m_progress;
    auto run =
        std::make_shared<MiningRun>(m_controls, m_sources ? m_sources() : SourceSet(), std::move(options));
    {
        std::lock_guard lock(m_mutex);
        // A stopped run's worker may still be on its way out; it is kept, not waited for.
        std::erase_if(m_pastRuns, [](const auto& past) { return past->workerDone(); });
        if (m_run) m_pastRuns.push_back(std::move(m_run));
        m_run = run;
        m_stopped = false;
    }
    run->start();
}

void MiningController::stop() {
    std::shared_ptr<MiningRun> run;
    {
        std::lock_guard lock(m_mutex);
        run = m_run;
        m_stopped = true;
    }
    // The run first: once it is stopped it writes no marker, so none lands in the store being
    // emptied and none survives it.
    if (run) run->stop();
    m_emptier.start(m_home, m_controls);
    m_controls->setText(ctl::kStartButton, caption(ctl::kCaptionStart));
}

void MiningController::clearCache() {
    m_emptier.start(m_home, m_controls);
}

bool MiningController::waitForEmptying(std::chrono::milliseconds timeout) {
    return m_emptier.waitIdle(timeout);
}

std::optional<std::filesystem::path> MiningController::exportResults() {
    const auto run = currentRun();
    const bool saved = run ? run->saveResults(true) : m_idleWriter.save(*m_controls, {}, true);
    // The results file is written whatever else is: it is the one the auto-save keeps whole. A format
    // the box does not name exports nothing more, as an empty box does.
    if (const auto format = chosenExportFormat(*m_controls); format && *format != ExportFormat::Txt) {
        auto file = exportRichResults(*m_controls, run ? run->results() : std::vector<ResultRecord>{}, *format,
                                      run ? run->resultsPathText() : m_idleWriter.pathText(*m_controls));
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
