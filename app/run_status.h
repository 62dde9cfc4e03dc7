#pragma once
// The run's progress in the status bar 状态条1 and the health of each service in the source list.
// A timer on the window thread samples the run a few times a second through its thread-safe
// getters; the worker is never asked to do anything for it, so watching costs the run nothing.
// The end of a run (by itself or by Stop) leaves one line: how many words, how long, why it
// ended, the results file, a button that shows that file in its folder, one that opens 分析 and,
// when the report is asked for on the page 高级, one that writes the run's HTML report and opens it.

#include "engine/run/mining_run.h"
#include "engine/run/source_health.h"
#include "text/text.h"

#include <QObject>
#include <QString>
#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QLabel;
class QPushButton;
class QStatusBar;
class QTimer;

namespace zelkor {
class MiningRun;
enum class RunEnd;
} // namespace zelkor

namespace zelkor::app {

// "45 秒", "3 分 05 秒", "2 小时 03 分".
QString durationText(double seconds);

// Which services keep failing, from the cumulative counts of successive reports. A service is in
// trouble after two failed answers, or one refused, with no good answer since; a good answer
// clears it. Counts that arrive together with a good answer are taken as older than it.
class ServiceTrouble {
  public:
    struct State {
        int source = -1;
        Text label; // GBK
        bool trouble = false;
        int badInRow = 0;
        bool lastBlocked = false;
        QString lastFailureAt; // hh:mm:ss of the sample that saw the last failure
        std::uint64_t requests = 0, failed = 0, blocked = 0;
    };

    // Takes a new report; returns the sources whose trouble began or ended.
    std::vector<int> update(const HealthReport& report, const QString& clock);
    const std::map<int, State>& services() const { return m_services; }
    std::vector<const State*> inTrouble() const;
    // The tooltip of a source in trouble: the last failure and the run's counts.
    static QString tooltip(const State& state);

  private:
    std::map<int, State> m_services;
};

// Per-service notices for the panel (GBK) when a service failed and the run's own summary left
// them out (it gives them only when retries, cool-downs or proxies were in use), then a pointer
// to 测试来源. Empty when no service failed.
std::vector<Text> failureNotices(const HealthReport& report, bool summaryHadServices);
// The outcome of a run that did not simply end well (GBK): unanswered keywords, no answer at all,
// a store that failed; nothing for the others.
std::optional<Text> outcomeNotice(RunOutcome outcome, const AnswerTally& answers, bool kept);

class BackgroundWork;

class RunStatus : public QObject {
    Q_OBJECT
  public:
    struct Hooks {
        std::function<void(const std::filesystem::path&)> showFile;
        // A source's mark: `tooltip` empty clears it.
        std::function<void(int source, bool trouble, const QString& tooltip)> markSource;
        std::function<void(const Text&)> notice; // window thread
        // The choice to write the run's HTML report; when it is made, the end line offers to open
        // the report, which openReport writes and opens.
        std::function<bool()> reportWanted;
        std::function<void(std::shared_ptr<MiningRun>)> openReport;
        // Opens the analysis window; when set, the end line offers it.
        std::function<void()> analyse;
    };
    RunStatus(QStatusBar* bar, Hooks hooks, QObject* parent = nullptr);
    ~RunStatus() override;

    // A run just started: marks cleared, sampling begins.
    void watch(std::shared_ptr<MiningRun> run);
    // The user stopped the watched run; its last line says so.
    void stopped();

    static constexpr int kIntervalMs = 250;

  private:
    // What one look at the run found; taken on the sampler thread.
    struct Snapshot {
        std::optional<RunEnd> end;
        bool last = false; // the run's end line is to be shown
        int words = 0;
        std::size_t queue = 0;
        HealthReport report;
        std::optional<int> depth;
        std::size_t results = 0; // the last look only
        std::filesystem::path file;
        bool fileThere = false;
        bool resilience = false;
        std::optional<RunOutcome> outcome;
        AnswerTally answers;
        bool unansweredKept = false;
    };
    // The newest result's depth, read from a copy of the results now and then (the engine keeps
    // no depth to ask for): the copy costs time in proportion to the run, so it is taken only
    // when the count changed, at most twice a second and never more often than every 50 times
    // its own cost. Sampler thread only.
    struct DepthReading {
        std::optional<int> depth;
        int words = -1;
        std::chrono::steady_clock::time_point next{};
    };
    static Snapshot look(const MiningRun& run, DepthReading& depth, bool last);
    void tick();
    void post(bool last, std::optional<RunEnd> end);
    // Marks, or clears, the services whose trouble changed with this report.
    void markTrouble(const HealthReport& report);
    void show(const Snapshot& snap);
    void showEnd(const Snapshot& snap);

    QStatusBar* m_bar;
    QLabel* m_text;
    QPushButton* m_open;
    QPushButton* m_report;
    QPushButton* m_analyse;
    QTimer* m_timer;
    Hooks m_hooks;
    std::shared_ptr<MiningRun> m_run;
    int m_generation = 0; // one per watched run; a look at an older one is dropped
    bool m_looking = false;
    bool m_ended = false;
    std::shared_ptr<DepthReading> m_depth;
    ServiceTrouble m_trouble;
    std::filesystem::path m_file;
    // (seconds, words) of the last minute, for the words per minute.
    std::deque<std::pair<double, int>> m_recent;
    // The run's getters take the locks of its store, which a database store holds while it
    // commits: they are called on this thread, never on the window's.
    std::unique_ptr<BackgroundWork> m_sampler; // last: joined first
};

} // namespace zelkor::app
