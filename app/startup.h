#pragma once
// What runs around the main window: the look, the start-up tasks one second after the window is
// shown, the one-time disclaimer, the desktop entry, and the end of the process at close.

#include "app/run_log.h"
#include "text/text.h"

#include <QString>
#include <array>
#include <filesystem>
#include <functional>

class QApplication;
class QWidget;

namespace zelkor::app {

// Qt's own style with a CJK font that is sized like the layout expects, and Qt's own texts in Chinese.
void applyLook(QApplication& app);

// The start-up tasks, in the order they run. Each slot is filled by the part of the program that
// owns it; an empty slot is skipped.
enum class StartupStep {
    LogWindowCreated,
    FaultHandler,
    Disclaimer,
    LogWindowThread,
    UpdateCheck,
    DesktopEntry
};

class StartupTasks {
  public:
    void set(StartupStep step, std::function<void()> task);
    // Runs the filled slots in order, on the calling thread, once.
    void run();

  private:
    std::array<std::function<void()>, 6> m_tasks;
    bool m_done = false;
};

struct ShellEnvironment {
    std::filesystem::path home;        // program directory
    std::filesystem::path programFile; // target of the desktop entry
    std::filesystem::path documents;   // where the disclaimer marker lives
    std::filesystem::path desktop;     // where the desktop entry goes
    // Shows the disclaimer (title, text) and returns true on OK; a modal message box when not set.
    std::function<bool(const QString& title, const QString& text)> askDisclaimer;
    LocalClock clock = systemLocalTime;
};

// Fills the run-log, disclaimer and desktop-entry slots.
void addShellTasks(StartupTasks& tasks, const ShellEnvironment& env);

// Runs the tasks on the window's thread one second after this call, once.
void runStartupTasksLater(QWidget* window, StartupTasks tasks);

Text disclaimerText();       // GBK
Text disclaimerMarkerText(); // GBK: the acceptance line, then the disclaimer
inline constexpr const char* kDisclaimerMarker = "zrbq.dll";

// Shows the disclaimer unless the marker exists; on OK, or when it existed, writes the marker
// anew. Returns true when the marker was written.
bool checkDisclaimer(const ShellEnvironment& env);

// The close sequence's last step: flushes the standard streams and ends the process at once,
// every thread included, but never in the middle of a run-log line.
[[noreturn]] void endProcess();

} // namespace zelkor::app
