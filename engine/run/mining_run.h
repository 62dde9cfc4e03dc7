#pragma once
// One mining run: the seeds and forbidden words fixed at Start, a worker thread that walks the
// seeds and then the breadth-first queue, and the result sink every phrase passes through.
// MiningController is the Start/Stop button and the export label of either face.
//
// Threads: the face thread creates, starts, stops and exports; the run's own worker does the rest.
// stop() never waits for the worker; once it returns, the run sends, shows, records, queues and
// saves nothing more. Each Start makes a fresh MiningRun.

#include "engine/core/controls.h"
#include "engine/core/health_report.h"
#include "engine/core/pacing.h"
#include "engine/core/records.h"
#include "engine/core/expected.h"
#include "engine/output/export.h"
#include "engine/output/run_report.h"
#include "engine/output/rich_export.h"
#include "engine/run/scheduler.h"
#include "engine/store/run_history.h"
#include "engine/store/run_store.h"
#include "engine/store/seen_store.h"
#include "sources/source_api.h"
#include "text/text.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <stop_token>
#include <thread>
#include <vector>

namespace zelkor {

enum class RunState { Idle, Running, Finished };

// How a run ended. Stopped: by stop(); the others by itself. StoreFailed: the run's store could not
// keep a keyword or the seen set could not record a phrase (a database store's run stays resumable
// from its last kept keyword). ProxiesGone: every proxy was dropped and going on directly was not
// asked for.
enum class RunEnd { NoSeeds, QueueDry, LimitReached, Stopped, StoreFailed, ProxiesGone };

// What the end means to whoever started the run, the answers taken into account:
//   Finished    the queue ran dry (or there were no seeds) and every keyword was answered
//   Limit       the count limit was reached, every keyword answered
//   Stopped     by stop()
//   Incomplete  keywords no service answered (a durable store keeps them for a resumed run)
//   NoAnswers   no request got an answer, or none could any more (every proxy dropped)
//   StoreFailed the store could not keep the run
enum class RunOutcome { Finished, Limit, Stopped, Incomplete, NoAnswers, StoreFailed };
// "finished", "limit", "stopped", "incomplete", "no-answers", "store-failed".
std::string_view runOutcomeName(RunOutcome outcome);

// The keywords a run put to its services, by whether any answered.
struct AnswerTally {
    std::uint64_t answered = 0;
    std::uint64_t unanswered = 0;
};
RunOutcome runOutcome(RunEnd end, const AnswerTally& tally);

// Why Start did nothing.
enum class StartRefusal {
    HomeBusy,       // another run holds the home
    HomeUnwritable, // the home takes no files, so the seen store could not work
    HangupUnusable, // hang-up output is on and its directory cannot be made or written
    StoreUnusable,  // the run store could not be opened or could not take the run
    NoRunToResume,  // the store holds no unfinished run
    Stopped,        // Stop came while the run was being prepared (a slow store)
};

struct StartRefused {
    StartRefusal why;
    std::string reason; // UTF-8: what failed and where, for StoreUnusable and NoRunToResume
    operator StartRefusal() const { return why; }
};
// nullopt: the run started.
using StartResult = std::optional<StartRefused>;

class FileLock;
struct StoreForRun;

struct RunOptions {
    std::filesystem::path home; // the seen store is home/cwls
    // Held for the run; released when it ends or is stopped.
    std::shared_ptr<FileLock> homeLock;
    bool unattended = false;
    WaitFunction wait; // empty: a real wait
    // Called once on the worker thread when the run ends by itself, never once stop() has
    // returned. It runs under the run's gate: keep it short and never call back into the run.
    std::function<void(RunEnd)> onEnded;
    // Wait before the first retry of a request (the number of retries is a box of the page 高级).
    std::chrono::milliseconds backoff{500};
    // The end-of-run summary as notices: the window's way; zelkor-cli prints its own.
    bool summaryNotices = false;
    // Queue, seen set and results; empty: DefaultRunStore(home).
    std::shared_ptr<RunStore> store;
    // A resumed run: the seeds already done and the count so far (the store holds the rest).
    std::size_t seedsDone = 0;
    int accepted = 0;
    // A shared run: the seed rounds are in the shared queue, put there by whoever created it.
    bool seedsQueued = false;
    // With 选择框_并发查询 checked: called now and then on the worker thread with the run's progress.
    std::function<void(const ParallelProgress&)> progress;
};

class MiningRun {
  public:
    // Prepare, on the calling thread: seeds from 编辑框_关键词, forbidden words from 编辑框_违禁词
    // (cleaned and written back).
    MiningRun(std::shared_ptr<Controls> controls, SourceSet sources, RunOptions options);
    // Stops the run if it is still going, then joins the worker (which has then only a request
    // to abort, and the store's last word to write).
    ~MiningRun();
    MiningRun(const MiningRun&) = delete;
    MiningRun& operator=(const MiningRun&) = delete;

    void start(); // creates the worker; once
    void stop();  // ends the run at once; never waits

    bool workerDone() const;
    // Until slow work (files, the store) the run began before it was stopped is over; false on timeout.
    bool waitForWork(std::chrono::milliseconds timeout);
    // True once the worker has returned; false on timeout.
    bool waitUntilDone(std::chrono::milliseconds timeout) const;
    std::optional<RunEnd> end() const; // set when the worker has returned
    std::optional<RunOutcome> outcome() const; // the same
    AnswerTally answers() const;
    // The unanswered keywords were kept by the store for a resumed run.
    bool unansweredKept() const;

    const std::vector<Text>& seeds() const;
    const std::vector<Text>& forbiddenWords() const;
    std::vector<ResultRecord> results() const; // a copy
    // Results [from, end) as they are now: a face showing them as they come copies only the new ones.
    std::vector<ResultRecord> resultsFrom(std::size_t from) const;
    int acceptedCount() const;
    std::size_t queueSize() const;

    // What each service answered so far, and the run's time (to its end once it has ended).
    HealthReport report() const;
    // Retries, cool-downs or proxies were asked for: the summary then has a line per service.
    bool resilienceInUse() const;
    // Which of retries, cool-downs and proxies the run used, so that no hint suggests them again.
    TriedRemedies triedRemedies() const;

    // saveResults(forced) on this run's results and its writer; used by the worker (auto-save) and
    // by the export action.
    bool saveResults(bool forced);
    // The results file this run writes (GBK): its own while the run lives (see ResultWriter::pathText).
    Text resultsPathText() const;
    // Why the store failed (UTF-8), for a run that ended StoreFailed.
    std::string storeFailure() const;
    // Bytes this run's result files received so far (auto-saves and exports).
    std::uint64_t bytesSaved() const;

    struct State;

  private:
    std::shared_ptr<State> m_state;
    std::jthread m_worker;
};

// The button 按钮_开始, the button 按钮5 and the label 标签5 of a face.
class MiningController {
  public:
    using SourceFactory = std::function<SourceSet()>;

    MiningController(std::shared_ptr<Controls> controls, std::filesystem::path home, SourceFactory sources);
    // Stops the run; joins every worker and emptier it started.
    ~MiningController();
    MiningController(const MiningController&) = delete;
    MiningController& operator=(const MiningController&) = delete;

    void setUnattended(bool unattended) { m_unattended = unattended; } // set once, before Start
    bool unattended() const { return m_unattended; }
    void setOnEnded(std::function<void(RunEnd)> callback) { m_onEnded = std::move(callback); }
    void setWait(WaitFunction wait) { m_wait = std::move(wait); }
    void setBackoff(std::chrono::milliseconds backoff) { m_backoff = backoff; }
    void setSummaryNotices(bool on) { m_summaryNotices = on; }
    void setProgress(std::function<void(const ParallelProgress&)> progress) { m_progress = std::move(progress); }

    // Start when no run is going, else Stop (a run that ended by itself included, as its caption
    // still says "停止").
    StartResult clickStart();
    // Nothing at all happens when refused: no emptying, no caption change, no run. A stop() while
    // the store is being opened refuses it (Stopped).
    StartResult start();
    // Where each run keeps its state; the files store unless set.
    void setStore(StoreSpec spec) { m_storeSpec = std::move(spec); }
    const StoreSpec& store() const { return m_storeSpec; }
    // Starts the newest unfinished run of a database store with its own options, put back into
    // the controls; the ticked sources go to `applyTicks`, for the face to set.
    StartResult resume(const std::function<void(const SourceTicks&)>& applyTicks);
    // A run of a shared store that this worker joined rather than created runs with the run's own
    // options (this machine's save and hang-up directories stay): its ticked sources go here.
    void setOnJoined(std::function<void(const SourceTicks&)> applyTicks) { m_onJoined = std::move(applyTicks); }
    // Told when a shared store's server is lost for a moment and the call is tried again.
    void setStoreReporter(std::function<void(const std::string&)> report) { m_storeReport = std::move(report); }
    void stop();
    // 按钮5 ("清理缓存").
    void clearCache();
    // Until every emptying of the seen store started so far is done; false on timeout.
    bool waitForEmptying(std::chrono::milliseconds timeout);
    // 标签5 ("导出数据"): forced save of the newest run's results, and beside it the same in the
    // format 编辑框_导出格式 names; the path of the last file when all were written, for the face to
    // show it in the file browser. nullopt when a save failed (the results stay for another try).
    // *failure (UTF-8) names the file that could not be written, and why when known.
    std::optional<std::filesystem::path> exportResults(std::string* failure = nullptr);
    // Columns a face adds to the rich formats of the export action (root words and tags, which the
    // engine cannot make), asked on the exporting thread when 选择框_词根与意图 is checked. A column
    // it cannot make is left out with a notice (the Error).
    using ColumnMaker = std::function<Expected<ExtraColumns>(const std::vector<ResultRecord>&)>;
    void setWordColumns(ColumnMaker maker) { m_wordColumns = std::move(maker); }
    // The results file the newest run (or, before any, the export action) writes, GBK.
    Text resultsPathText();

    RunState state() const;
    std::shared_ptr<MiningRun> currentRun() const;
    const std::filesystem::path& home() const { return m_home; }

  private:
    // Takes the home's lock into m_homeLock after checking what a run needs of the disk, and marks
    // a start under way (a stop() from now on cancels it).
    StartResult claimHome();
    // Gives up a start that did not launch: the home's lock goes, and a store's run is recorded stopped.
    StartResult abandonStart(StartResult why, const std::shared_ptr<RunStore>& store);
    // A stop() came while the store was being opened: that start ends there.
    bool startCancelled() const;
    StartResult launch(StoreForRun opened);

    std::shared_ptr<Controls> m_controls;
    std::filesystem::path m_home;
    StoreSpec m_storeSpec;
    std::shared_ptr<FileLock> m_homeLock; // between claimHome and launch
    SourceFactory m_sources;
    bool m_unattended = false;
    std::function<void(RunEnd)> m_onEnded;
    WaitFunction m_wait;
    std::chrono::milliseconds m_backoff{500};
    bool m_summaryNotices = false;
    std::function<void(const ParallelProgress&)> m_progress;
    std::function<void(const SourceTicks&)> m_onJoined;
    std::function<void(const std::string&)> m_storeReport;
    ColumnMaker m_wordColumns;
    mutable std::mutex m_mutex;
    std::shared_ptr<MiningRun> m_run;
    std::vector<std::shared_ptr<MiningRun>> m_pastRuns; // stopped, their workers maybe not yet out
    bool m_stopped = false;
    bool m_starting = false;     // between claimHome and launch
    bool m_startCancelled = false; // a stop() came meanwhile
    std::stop_source m_startStop;  // the same, for slow work of the start (reading a large run)
    ResultWriter m_idleWriter; // export before any run
    SeenStoreEmptier m_emptier; // last: joined first, while the controls are still here
};

} // namespace zelkor
