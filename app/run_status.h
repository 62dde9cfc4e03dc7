#pragma once
// The run's progress in the status bar 状态条1 and the health of each service in the source list.
// A timer on the window thread samples the run a few times a second through its thread-safe
// getters; the worker is never asked to do anything for it, so watching costs the run nothing.
// The end of a run (by itself or by Stop) leaves one line: how many words, how long, why it
// ended, the results file, and a button that shows that file in its folder.

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

class RunStatus : public QObject {
    Q_OBJECT
  public:
    struct Hooks {
        std::function<void(const std::filesystem::path&)> showFile;
        // A source's mark: `tooltip` empty clears it.
        std::function<void(int source, bool trouble, const QString& tooltip)> markSource;
        std::function<void(const Text&)> notice; // window thread
    };
    RunStatus(QStatusBar* bar, Hooks hooks, QObject* parent = nullptr);
    ~RunStatus() override;

    // A run just started: marks cleared, sampling begins.
    void watch(std::shared_ptr<MiningRun> run);
    // The user stopped the watched run; its last line says so.
    void stopped();
    bool watching() const;

    static constexpr int kIntervalMs = 250;

  private:
    void sample();
    void finish(std::optional<RunEnd> end);
    void updateDepth(int words);

    QStatusBar* m_bar;
    QLabel* m_text;
    QPushButton* m_open;
    QTimer* m_timer;
    Hooks m_hooks;
    std::shared_ptr<MiningRun> m_run;
    ServiceTrouble m_trouble;
    std::filesystem::path m_file;
    // (seconds, words) of the last minute, for the words per minute.
    std::deque<std::pair<double, int>> m_recent;
    // The newest result's depth, read from a copy of the results now and then (the engine keeps
    // no depth of its own to ask for): the copy costs time in proportion to the run, so it is
    // taken only when the count changed, at most twice a second and never more often than every
    // 50 times its own cost, which keeps it under 2 % of the window thread's time.
    std::optional<int> m_depth;
    int m_depthWords = -1;
    std::chrono::steady_clock::time_point m_nextDepth{};
};

} // namespace zelkor::app
