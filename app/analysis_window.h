#pragma once
// 分析: a second window over the results, beside the main window's panel. Its table shows the
// current run as it grows, or a run kept in the database store, picked from its history; rows sort
// by any column, filter by text or pattern, copy as tab-separated text and export in any format.
// The pictures are the report's charts and demand maps of the rows the table holds; a click on a
// phrase of a map leaves in the table the rows at and below it (rows that arrive later are left
// out until it is cleared). Asked for (and by default for a run that asked for them), the table
// gains each row's root word and intent tags, and beside it their groups; a click on a group leaves
// its rows in the table, and a growing run's words and groups are made again now and then.
//
// Threads: the window thread, but nothing here waits for a store or draws. The current run's new
// results are copied a few times a second on a thread of the window's own (the run's store takes
// its lock for the copy, never for long); the history is opened and read, and the pictures are
// drawn, there too. Words are cut on a second thread, so that a large run's cannot hold them up.

#include "engine/core/records.h"
#include "engine/store/run_history.h"

#include <QWidget>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTableView;
class QTableWidget;
class QTimer;

namespace zelkor {
class MiningRun;
}

class QSvgWidget;

namespace zelkor::app {

class BackgroundWork;
class DemandMapView;
class GroupsPanel;
struct RunPictures;
class ResultsModel;
class ResultsFilter;

class AnalysisWindow : public QWidget {
    Q_OBJECT
  public:
    struct Hooks {
        std::filesystem::path home;
        // The run the main window's controller holds, or none (window thread).
        std::function<std::shared_ptr<MiningRun>()> currentRun;
        // Whether the current run asked for root words and intent tags; asked when it is first shown.
        std::function<bool()> wordsAsked;
        // The store the page 高级 names, or nullopt when it cannot be read.
        std::function<std::optional<StoreSpec>()> store;
        // Whether a stored run may be continued now (no run going), and continuing it: the newest
        // unfinished run of the store, the only one the engine continues.
        std::function<bool()> canResume;
        std::function<void()> resume;
        // A file name to save to (title, suggested path) or "" on cancel; the system's dialog when
        // not set.
        std::function<QString(const QString& title, const QString& suggested)> chooseSaveFile;
        std::function<void(const std::filesystem::path&)> showFile;
        std::function<void(const QString& title, const QString& text)> showWarning;
    };

    explicit AnalysisWindow(Hooks hooks, QWidget* parent = nullptr);
    ~AnalysisWindow() override;

    enum class Showing { Current, Stored };
    Showing showing() const { return m_showing; }
    std::int64_t storedRun() const { return m_storedRun; } // when Showing::Stored
    // The history page's runs as last read, oldest first.
    const std::vector<RunSummary>& runs() const { return m_runs; }
    ResultsModel* model() const { return m_model; }
    ResultsFilter* filter() const { return m_filter; }
    QTableView* table() const { return m_table; }
    // Jobs not yet back from the window's own thread.
    int pendingWork() const;
    // The pictures last drawn, or none yet.
    const RunPictures* pictures() const { return m_pictures.get(); }
    DemandMapView* map() const { return m_map; }
    GroupsPanel* groups() const { return m_groups; }
    // The words and groups are asked for (the box 显示词根与意图).
    bool wordsShown() const;
    void showWords(bool shown);

    enum class Page { Results, Charts, Map, History };
    void showPage(Page page);
    // Leaves in the table the rows at and below `label` of the map shown.
    void chooseMapLabel(int label);
    void clearMapChoice();

    void showCurrent();
    // Reads the run `id` of the store off the window thread, then shows it.
    void showStored(std::int64_t id);
    void refreshHistory();
    void copySelection();
    enum class ExportScope { Selection, Shown };
    void exportRows(ExportScope scope);

    static constexpr int kRefreshMs = 400;
    // Pictures of a growing run are drawn again at most this often.
    static constexpr int kPicturesMs = 1500;
    // ... and its words at most this often, or half the time when cutting them takes longer.
    static constexpr int kWordsMs = 1500;

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildResultsPage(QWidget* page);
    void buildHistoryPage(QWidget* page);
    void buildChartsPage(QWidget* page);
    void buildMapPage(QWidget* page);
    // Empties the table for something else to be shown; reads and pictures of the old are dropped.
    void startShowing();
    void refreshCurrent();
    bool picturesPageShown() const;
    void schedulePictures();
    void drawPictures();
    void showPictures();
    void showSeedMap();
    void applyFilter();
    void updateCounts();
    void wordsToggled(bool shown);
    void scheduleWords();
    void cutWords();
    void groupChosen();
    // Leaves in the table only `rows` (of the model), saying which they are; clears the other choice.
    void chooseRows(std::vector<bool> rows, const QString& what);
    void historyRead(std::optional<StoreSpec> spec, std::vector<RunSummary> runs, QString problem);
    void selectedRunChanged();
    std::optional<std::int64_t> selectedRun() const;
    std::optional<std::int64_t> resumableRun() const;

    Hooks m_hooks;
    ResultsModel* m_model;
    ResultsFilter* m_filter;
    QTabWidget* m_pages = nullptr;
    QLabel* m_what = nullptr;
    QPushButton* m_current = nullptr;
    QLineEdit* m_filterText = nullptr;
    QComboBox* m_filterColumn = nullptr;
    QCheckBox* m_pattern = nullptr;
    QLabel* m_filterProblem = nullptr;
    QTableView* m_table = nullptr;
    QLabel* m_counts = nullptr;
    QComboBox* m_exportFormat = nullptr;
    QCheckBox* m_wordsBox = nullptr;
    QLabel* m_wordsState = nullptr;
    GroupsPanel* m_groups = nullptr;
    QTableWidget* m_history = nullptr;
    QLabel* m_historyState = nullptr;
    QPushButton* m_open = nullptr;
    QPushButton* m_resume = nullptr;
    QLabel* m_mapChoice = nullptr;
    QPushButton* m_clearMapChoice = nullptr;
    QWidget* m_chartsPage = nullptr;
    QWidget* m_mapPage = nullptr;
    QLabel* m_chartsState = nullptr;
    QSvgWidget* m_charts[3] = {};
    QComboBox* m_mapSeed = nullptr;
    QLabel* m_mapState = nullptr;
    DemandMapView* m_map = nullptr;
    QTimer* m_refresh;
    QTimer* m_filterDelay;
    QTimer* m_picturesDelay;
    QTimer* m_wordsDelay;

    Showing m_showing = Showing::Current;
    std::int64_t m_storedRun = 0;
    std::vector<RunSummary> m_runs;
    std::optional<StoreSpec> m_historySpec; // the store the list was read from
    std::shared_ptr<MiningRun> m_run;       // the current run being followed
    std::size_t m_copied = 0;               // of its results, in the model
    int m_generation = 0;                   // one per thing shown; older reads are dropped
    bool m_copying = false;
    std::shared_ptr<const RunPictures> m_pictures;
    int m_picturesGeneration = -1; // what they were drawn from
    bool m_drawing = false;
    bool m_cutting = false;
    qint64 m_cuttingMs = 0; // the last cut took
    QString m_wordsProblem; // why they could not be made; not tried again until asked again
    std::unique_ptr<BackgroundWork> m_wordsWork;
    std::unique_ptr<BackgroundWork> m_work; // last: joined first
};

} // namespace zelkor::app
