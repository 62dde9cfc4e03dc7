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
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QCheckBox;
class QLineEdit;

namespace zelkor {
enum class StartRefusal;
struct StartRefused;
}

namespace zelkor::app {

class SpinEdit;
class ShapeBox;
class WindowRun;

struct MainWindowOptions {
    std::filesystem::path home;         // the program directory
    std::vector<std::string> arguments; // command line after the program's name
    // Folder chooser (title, start folder) returning the chosen folder or "" on cancel; the
    // system's dialog when not set.
    std::function<QString(const QString& title, const QString& start)> chooseFolder;
    // Shows a file selected in the file manager; the desktop's file manager when not set.
    std::function<void(const std::filesystem::path& file)> showFile;
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

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildLayout();
    void startOrStop();
    QString startRefusalText(const StartRefused& refusal) const;
    void buildCollectPage(QWidget* page);
    void buildFilterPage(QWidget* page);
    void buildSettingsPage(QWidget* page);
    void buildContactPage(QWidget* page);
    void connectMirror();
    void creationSteps();

    void applyText(const std::string& control, const Text& value);
    void applyChecked(const std::string& control, bool value);
    void recordWidget(QWidget* widget);

    // Shows why Start cannot run now (a message box that does not wait, and the panel); true then.
    // Otherwise the run store the page 高级 names is the controller's.
    bool refuseStart();
    // After a run in the database store was cut short (its process is gone), offers to continue it.
    void offerResume();
    void resumeRun();
    void onStartStop();
    void onClearCache();
    void onSelectAll();
    void onSelectDomestic();
    void onChooseFolder();
    void onExport();
    void onBannerPressed(Qt::KeyboardModifiers modifiers);

    MainWindowOptions m_options;
    std::shared_ptr<WindowControls> m_controls;
    std::unique_ptr<WindowRun> m_run;
    bool m_unattended = false;
    bool m_closing = false;

    QPlainTextEdit* m_panel = nullptr;
    QLabel* m_notice = nullptr;
    QCheckBox* m_noOutput = nullptr;
    QListWidget* m_sources = nullptr;
    SourceRows m_sourceRows; // the built-in table with <home>/data/sources.toml applied
    ShapeBox* m_hangupBox = nullptr;
};

} // namespace zelkor::app
