#include "engine/mining_run.h"

#include "engine/control_names.h"
#include "engine/program_dir.h"
#include "engine/result_filters.h"
#include "engine/run_report.h"
#include "engine/seed_variants.h"
#include "engine/seen_store.h"
#include "engine/text_rules.h"
#include "text/regex.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <limits>
#include <thread>

namespace zelkor {

namespace {

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

struct MiningRun::State final : SourceHost {
    std::shared_ptr<Controls> controls;
    SourceSet sources;
    RunOptions options;
    SeenStore store{std::filesystem::path()};
    std::vector<Text> seeds;
    std::vector<KeywordTask> seedRounds; // each seed, then its variants with the seed as main word
    std::vector<Text> forbidden;
    std::optional<ResultFilters> filters;
    std::string filterProblem; // UTF-8

    // Worker only.
    std::deque<KeywordTask> queue;
    Text currentMainWord;

    std::atomic<std::size_t> queueSize{0};
    std::atomic<int> accepted{0};
    mutable std::mutex resultsMutex; // the worker appends, the face copies
    std::vector<ResultRecord> results;
    ResultWriter writer;

    // Set by stop() or by reaching the count limit: requests in flight abort, waits end, no more
    // phrase is taken.
    std::stop_source halt;
    std::atomic<bool> limitReached{false};
    int limitValue = 0;

    // Every effect of the run happens under the gate and only while the run is not stopped, so once
    // stop() has returned nothing more happens.
    std::mutex gate;
    bool stopped = false;

    mutable std::mutex doneMutex;
    mutable std::condition_variable doneSignal;
    bool done = false;
    std::optional<RunEnd> end;
    bool started = false;

    std::unique_ptr<SourceHealth> health;
    bool healthInUse = false;
    std::chrono::steady_clock::time_point startedAt = std::chrono::steady_clock::now();
    std::atomic<std::int64_t> elapsedMs{-1}; // set when the worker has ended

    template <typename F> bool effect(F&& action) {
        std::lock_guard lock(gate);
        if (stopped) return false;
        action();
        return true;
    }

    bool halted() const { return halt.stop_requested(); }

    bool wait(std::chrono::milliseconds duration) {
        return options.wait ? options.wait(duration, halt.get_token()) : waitFor(duration, halt.get_token());
    }

    bool delayWait() { return wait(std::chrono::seconds(textToInt(controls->text(ctl::kDelay)))); }

    bool isSourceTicked(int index) override {
        return !halted() && index >= 0 && controls->itemChecked(ctl::kSourceList, index);
    }

    std::stop_token stopToken() const override { return halt.get_token(); }

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

    bool offerCandidate(const Text& candidate, const Text& outputName, int displayPauseMs) override;
    void run();
    void finish(RunEnd how);
};

bool MiningRun::State::offerCandidate(const Text& candidate, const Text& outputName, int displayPauseMs) {
    static const Text forbiddenA = gbk("当前词语：");
    static const Text forbiddenB = gbk("  含有违禁词：");
    static const Text forbiddenC = gbk("  不使用");
    static const Text seenText = gbk("  已采集过，不再重复采集");
    static const Text hangupA = gbk("挂机词语 ");
    static const Text hangupB = gbk(" 已保存到：");
    static const Text hangupSkipped = gbk(" 不能用作文件名，未保存到：");
    static const Text countText = gbk("当前词数：");
    static const Text sourceText = gbk(" 来源：");
    static const Text mainText = gbk("  主词：");
    static const Text keywordText = gbk("  keyword：");

    if (halted() || candidate.empty()) return false;
    for (const auto& entry : forbidden) {
        if (containsText(candidate, entry)) {
            effect([&] { controls->showNotice(forbiddenA + candidate + forbiddenB + entry + forbiddenC); });
            return false;
        }
    }
    if (filters) {
        if (const std::optional<Text> notice = filters->refuse(candidate)) {
            effect([&] { controls->showNotice(*notice); });
            return false;
        }
    }
    const std::string marker = markerFileName(candidate, true);
    if (store.containsName(marker)) {
        effect([&] { controls->showNotice(candidate + seenText); });
        return false;
    }
    if (!effect([&] { store.markName(marker); })) return false;

    const bool mainWordOnly = controls->checked(ctl::kMainWordOnly);
    const bool hasMainWord = containsText(candidate, currentMainWord);
    if (controls->checked(ctl::kHangup)) {
        const Text directory = controls->text(ctl::kHangupDir);
        if (!directory.empty() && (!mainWordOnly || hasMainWord)) {
            if (!effect([&] {
                    // A keyword is never altered to make a name: one that cannot be a name here is
                    // left out of the directory, and the user is told.
                    const std::optional<std::string> name = hangupFileName(candidate);
                    const bool named =
                        name && writeEmptyFile(gbkToPath(directory) / *name) != ENAMETOOLONG;
                    controls->showNotice(hangupA + candidate + (named ? hangupB : hangupSkipped) + directory);
                }))
                return false;
        }
    }

    int count = 0;
    if (!effect([&] {
            count = ++accepted;
            queue.push_back({candidate, currentMainWord});
            queueSize = queue.size();
        }))
        return false;

    if (mainWordOnly && !hasMainWord) return true;
    if (!wait(std::chrono::milliseconds(10))) return true;

    const int limit = textToInt(controls->text(ctl::kLimit));
    const bool atLimit = limit > 0 && count >= limit;
    if (atLimit) {
        limitValue = limit;
        limitReached = true;
    }
    if (options.unattended) {
        if (atLimit) halt.request_stop();
        return true;
    }
    if (displayPauseMs != 0 && !wait(std::chrono::milliseconds(displayPauseMs))) return true;

    const Text number = std::to_string(count);
    effect([&] {
        controls->setText(ctl::kCountLabel, countText + number);
        controls->appendOutput("\r\n" + number + sourceText + outputName + mainText + currentMainWord +
                               keywordText + candidate);
        std::lock_guard lock(resultsMutex);
        results.push_back({candidate, outputName, currentMainWord});
    });
    if (atLimit) halt.request_stop();
    return true;
}

void MiningRun::State::run() {
    static const Text pendingText = gbk("当前待索引任务");
    static const Text limitA = gbk("已达到挖掘数量上限");
    static const Text limitB = gbk("，采集结束");

    if (seeds.empty() && queue.empty()) {
        finish(RunEnd::NoSeeds);
        return;
    }
    if (!filterProblem.empty())
        effect([&] { controls->showNotice(gbk("结果过滤规则有误，本次不使用：") + utf8_to_gbk(filterProblem)); });
    for (std::size_t i = 0; i < seedRounds.size() && !halted(); ++i) {
        const KeywordTask& round = seedRounds[i];
        currentMainWord = round.mainWord;
        health->keywordAsked();
        ask(round.keyword, 0, 1);
        if (!halted()) delayWait();
        ask(round.keyword, 2, kLastSource);
        if (!halted()) delayWait();
    }
    if (!halted()) {
        std::size_t n = queue.size();
        effect([&] { controls->showNotice(pendingText + std::to_string(n)); });
        while (n != 0 && !halted()) {
            const Text keyword = queue.front().keyword;
            currentMainWord = queue.front().mainWord;
            health->keywordAsked();
            ask(keyword, 0, 1);
            if (!halted()) delayWait();
            ask(keyword, 2, kLastSource);
            if (halted()) break;
            if (!effect([&] {
                    queue.pop_front();
                    queueSize = queue.size();
                }))
                break;
            n = queue.size();
            if (!delayWait()) break;
            effect([&] { writer.save(*controls, results, false); });
        }
    }

    if (limitReached) {
        if (options.unattended) {
            effect([&] { controls->closeWindow(); });
        } else {
            // The keyword in progress was not auto-saved yet.
            effect([&] { writer.save(*controls, results, false); });
            effect([&] { controls->showNotice(limitA + std::to_string(limitValue) + limitB); });
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

void MiningRun::State::finish(RunEnd how) {
    elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - startedAt)
                    .count();
    if (how != RunEnd::Stopped && options.summaryNotices) {
        for (const Text& notice : reportNotices(report(), healthInUse))
            effect([&] { controls->showNotice(notice); });
    }
    bool wasStopped;
    {
        std::lock_guard lock(gate);
        wasStopped = stopped;
    }
    if (wasStopped)
        how = RunEnd::Stopped;
    else if (options.onEnded)
        options.onEnded(how);
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
    s.store = SeenStore(SeenStore::defaultDirectory(options.home));
    s.options = std::move(options);
    s.seeds = splitLines(s.controls->text(ctl::kSeeds));
    const auto kinds = parseVariantList(s.controls->text(ctl::kVariants), nullptr);
    for (const Text& seed : s.seeds) {
        s.seedRounds.push_back({seed, seed});
        if (kinds && !s.controls->text(ctl::kVariants).empty())
            for (Text& variant : seedVariants(seed, *kinds, s.controls->text(ctl::kVariantFrames)))
                s.seedRounds.push_back({std::move(variant), seed});
    }
    s.filters = ResultFilters::make(s.controls->text(ctl::kIncludePattern), s.controls->text(ctl::kExcludePattern),
                                    textToInt(s.controls->text(ctl::kMinChars)),
                                    textToInt(s.controls->text(ctl::kMaxChars)), &s.filterProblem);
    if (s.filters && s.filters->empty()) s.filters.reset();
    s.controls->setText(ctl::kForbidden, cleanForbidden(s.controls->text(ctl::kForbidden)));
    s.forbidden = splitLines(s.controls->text(ctl::kForbidden));
    std::vector<Text> problems;
    HealthOptions health = readHealthOptions(*s.controls, s.options.backoff, &problems);
    s.healthInUse = healthOptionsInUse(health);
    for (const Text& problem : problems)
        s.controls->showNotice(problem);
    // The policy outlives neither the state nor its gate: notices from it are effects like any other.
    State* state = &s;
    s.health = std::make_unique<SourceHealth>(std::move(health), [state](const Text& notice) {
        state->effect([&] { state->controls->showNotice(notice); });
    });
}

MiningRun::~MiningRun() {
    stop();
}

void MiningRun::start() {
    if (m_state->started) return;
    m_state->started = true;
    m_state->startedAt = std::chrono::steady_clock::now();
    std::thread([state = m_state] { state->run(); }).detach();
}

void MiningRun::stop() {
    {
        std::lock_guard lock(m_state->gate);
        m_state->stopped = true;
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
    std::lock_guard lock(m_state->resultsMutex);
    return m_state->results;
}

int MiningRun::acceptedCount() const {
    return m_state->accepted;
}
std::size_t MiningRun::queueSize() const {
    return m_state->queueSize;
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

bool MiningRun::saveResults(bool forced) {
    return m_state->writer.save(*m_state->controls, results(), forced);
}

MiningController::MiningController(std::shared_ptr<Controls> controls, std::filesystem::path home,
                                   SourceFactory sources)
    : m_controls(std::move(controls)), m_home(std::move(home)), m_sources(std::move(sources)) {}

void MiningController::clickStart() {
    const Text now = m_controls->text(ctl::kStartButton);
    if (now == caption(ctl::kCaptionStart))
        start();
    else if (now == caption(ctl::kCaptionStop))
        stop();
}

void MiningController::start() {
    startEmptyingSeenStore(m_home, m_controls);
    m_controls->setText(ctl::kStartButton, caption(ctl::kCaptionStop));
    RunOptions options;
    options.home = m_home;
    options.unattended = m_unattended;
    options.wait = m_wait;
    options.onEnded = m_onEnded;
    options.backoff = m_backoff;
    options.summaryNotices = m_summaryNotices;
    auto run =
        std::make_shared<MiningRun>(m_controls, m_sources ? m_sources() : SourceSet(), std::move(options));
    {
        std::lock_guard lock(m_mutex);
        m_run = run;
        m_stopped = false;
    }
    run->start();
}

void MiningController::stop() {
    startEmptyingSeenStore(m_home, m_controls);
    std::shared_ptr<MiningRun> run;
    {
        std::lock_guard lock(m_mutex);
        run = m_run;
        m_stopped = true;
    }
    if (run) run->stop();
    m_controls->setText(ctl::kStartButton, caption(ctl::kCaptionStart));
}

void MiningController::clearCache() {
    startEmptyingSeenStore(m_home, m_controls);
}

std::optional<std::filesystem::path> MiningController::exportResults() {
    if (const auto run = currentRun())
        run->saveResults(true);
    else
        m_idleWriter.save(*m_controls, {}, true);
    const auto file = gbkToPath(resultPathText(*m_controls));
    std::error_code error;
    if (std::filesystem::exists(file, error)) return file;
    return std::nullopt;
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
