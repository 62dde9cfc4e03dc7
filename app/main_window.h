#pragma once
// The program's one working screen. Controls carry their real names as objectName; the engine
// talks to them through controls(), from any thread.

#include "app/window_controls.h"
#include "sources/sources_file.h"

#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QCloseEvent;
class QResizeEvent;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QCheckBox;
class QLineEdit;

namespace zelkor {
enum class StartRefusal;
struct StartRefused;
class MiningRun;
struct RunSummary;
} // namespace zelkor

namespace zelkor::app {

class SpinEdit;
class ShapeBox;
class WindowRun;
class RunStatus;
class BackgroundWork;
class SourceProbeDialog;
class AnalysisWindow;

struct MainWindowOptions {
    std::filesystem::path home;         // the program directory
    std::vector<std::string> arguments; // command line after the program's name
    // Folder chooser (title, start folder) returning the chosen folder or "" on cancel; the
    // system's dialog when not set.
    std::function<QString(const QString& title, const QString& start)> chooseFolder;
    // File name to save to (title, suggested path), or "" on cancel; the system's dialog when not set.
    std::function<QString(const QString& title, const QString& suggested)> chooseSaveFile;
    // Shows a file selected in the file manager; the desktop's file manager when not set.
    std::function<void(const std::filesystem::path& file)> showFile;
    // Opens a file in the desktop's program for it (the report in a browser); QDesktopServices
    // when not set.
    std::function<void(const std::filesystem::path& file)> openFile;
    // The end of the close sequence, after the settings were saved. The program ends the process
    // here; left empty (tests) the window just closes.
    std::function<void()> afterClose;
    // Tells the user of a problem without waiting for an answer; a message box over the window
    // when not set.
    std::function<void(const QString& title, const QString& text)> showWarning;
    // Asks a yes-or-no question without waiting for it: `answer` is called later with the reply,
    // or never when nobody replies. A question box over the window when not set.
    std::function<void(const QString& title, const QString& question, const QString& detail,
                       std::function<void(bool yes)> answer)>
        askYesNo;
};

class MainWindow : public QWidget {
    Q_OBJECT
  public:
    explicit MainWindow(MainWindowOptions options, QWidget* parent = nullptr);
    ~MainWindow() override;

    std::shared_ptr<WindowControls> controls() const { return m_controls; }
    bool unattended() const { return m_unattended; }
    const std::filesystem::path& home() const { return m_options.home; }

    void appendOutput(const Text& text);
    void appendOutputs(const std::vector<Text>& texts);
    void showNotice(const Text& text);

    // The table of 测试来源, once it has been opened.
    SourceProbeDialog* probeDialog() const { return m_probe; }
    // The window 分析, once it has been opened.
    AnalysisWindow* analysisWindow() const { return m_analysis; }

    // Item data of a source in 选择列表框1 that keeps failing in the run being watched.
    static constexpr int kTroubleRole = Qt::UserRole + 1;
    static constexpr int kWidth = 974;
    static constexpr int kHeight = 743;

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void buildLayout();
    void startOrStop();
    // Seed lines GBK cannot hold whole are left out of the run, each with a notice.
    void leaveOutLossySeeds();
    QString startRefusalText(const StartRefused& refusal) const;
    void buildCollectPage(QWidget* page);
    void buildFilterPage(QWidget* page);
    void buildSettingsPage(QWidget* page);
    void buildContactPage(QWidget* page);
    void connectMirror();
    void creationSteps();
    // Every control at its layout place, moved or grown by what the window has beyond its first size.
    void placeForSize();
    // Starts watching the controller's run when the last click made a new one.
    void watchNewRun(const std::shared_ptr<MiningRun>& before);

    void applyText(const std::string& control, const Text& value);
    // The mirror's text of a single-line box.
    Text lineText(const std::string& control, const QString& text) const;
    void applyChecked(const std::string& control, bool value);
    void recordWidget(QWidget* widget);

    // Shows why Start cannot run now (a message box that does not wait, and the panel); true then.
    // Otherwise the run store the page 高级 names is the controller's.
    bool refuseStart();
    // After a run in the database store was cut short (its process is gone), offers to continue it.
    // The store is opened and read off the window thread; the question comes back to it.
    void offerResume();
    void askResume(const RunSummary& run);
    void resumeRun();
    void setResuming(bool on);
    void onStartStop();
    void onClearCache();
    void onSelectAll();
    void onSelectDomestic();
    void onChooseFolder();
    void onExport();
    void onProbe();
    void onAnalyse();
    void markSource(int source, bool trouble, const QString& tooltip);
    void onBannerPressed(Qt::KeyboardModifiers modifiers);

    MainWindowOptions m_options;
    std::shared_ptr<WindowControls> m_controls;
    std::unique_ptr<WindowRun> m_run;
    // After m_run: its jobs (export, the resume offer's reading) end before the controller goes.
    std::unique_ptr<BackgroundWork> m_background;
    RunStatus* m_status = nullptr;
    SourceProbeDialog* m_probe = nullptr;
    AnalysisWindow* m_analysis = nullptr;
    bool m_unattended = false;
    bool m_closing = false;
    bool m_resuming = false; // a resume is under way off the window thread

    QPlainTextEdit* m_panel = nullptr;
    QLabel* m_notice = nullptr;
    QCheckBox* m_noOutput = nullptr;
    QListWidget* m_sources = nullptr;
    SourceRows m_sourceRows; // the built-in table with <home>/data/sources.toml applied
    ShapeBox* m_hangupBox = nullptr;
};

} // namespace zelkor::app
