// The window 分析 over the real main window: its table filling from a run against the loopback
// fixture service, sorting and filtering, copying and exporting, and the history of a SQLite store.

#include "analysis/charts.h"
#include "app/analysis_window.h"
#include "app/demand_map_view.h"
#include "app/groups_panel.h"
#include "app/main_window.h"
#include "app/results_model.h"
#include "app/run_pictures.h"
#include "app/widgets.h"
#include "engine/output/rich_export.h"
#include "engine/store/sqlite_run_store.h"
#include "fixture_service.h"
#include "support/app_support.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QSvgWidget>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <gtest/gtest.h>

#include <set>
#include <sstream>

namespace zelkor::app {
namespace {

using test::gbk;
using test::q;
using test::TempDir;
using test::waitUntil;

// The shown rows, keyword|source|seed|parent|depth, top to bottom.
std::vector<std::string> shownRows(const AnalysisWindow& analysis, int columns = ResultsModel::Depth + 1) {
    std::vector<std::string> rows;
    const QAbstractItemModel* model = analysis.table()->model();
    for (int r = 0; r < model->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < columns; ++c)
            cells << model->data(model->index(r, c)).toString();
        rows.push_back(cells.join(QLatin1Char('|')).toStdString());
    }
    return rows;
}

ResultRecord record(const char* keyword, const char* source, const char* seed, const char* parent, int depth,
                    const char* time = "2026-12-10T13:45:00+08:00") {
    return {gbk(keyword), gbk(source), gbk(seed), gbk(parent), depth, time, 0, 0};
}

class AnalysisTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::qtApp();
        ::unsetenv("ZELKOR_ENDPOINTS");
        ASSERT_TRUE(service.ok());
        std::filesystem::create_directories(home / "data");
        service.writeEndpoints(home / "data" / "endpoints.ini");
    }
    void TearDown() override { window.reset(); }

    MainWindow& open() {
        MainWindowOptions options;
        options.home = home.path();
        options.showFile = [this](const std::filesystem::path& file) { shown.push_back(file); };
        options.showWarning = [this](const QString&, const QString& text) { warnings.push_back(text); };
        options.chooseSaveFile = [this](const QString&, const QString&) { return saveAs; };
        options.askYesNo = [](const QString&, const QString&, const QString&, std::function<void(bool)>) {};
        window = std::make_unique<MainWindow>(std::move(options));
        return *window;
    }
    template <typename W = QWidget> W* child(const char* name) { return window->findChild<W*>(q(name)); }
    AnalysisWindow& analysis() {
        if (!window->analysisWindow()) QTest::mousePress(child<QLabel>("标签_分析"), Qt::LeftButton);
        return *window->analysisWindow();
    }
    template <typename W = QWidget> W* part(const char* name) { return analysis().findChild<W*>(q(name)); }
    void prepare(const char* seeds) {
        child<QPlainTextEdit>("编辑框_关键词")->setPlainText(q(seeds));
        child<SpinEdit>("编辑框_延时")->setTextValue(q("0"));
    }
    void clickStart() { QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton); }
    void useSqlite() { child<ChoiceBox>("编辑框_运行存储")->combo()->setCurrentIndex(1); }
    // Filters as a user does; Return applies it without waiting for the next key.
    void filterBy(const char* text, bool pattern, int column) {
        auto* columns = part<QComboBox>("组合框_筛选列");
        columns->setCurrentIndex(columns->findData(column));
        part<QCheckBox>("选择框_正则")->setChecked(pattern);
        auto* box = part<QLineEdit>("编辑框_筛选");
        box->setText(q(text));
        QTest::keyClick(box, Qt::Key_Return);
    }

    test::FixtureService service;
    TempDir home;
    std::unique_ptr<MainWindow> window;
    std::vector<std::filesystem::path> shown;
    std::vector<QString> warnings;
    QString saveAs;
};

// What the fixture service's 百度相关 gives for the seed 手机, in the order the run shows it.
const std::vector<std::string> kPhoneRows = {
    "手机壳|百度相关|手机|手机|1",
    "手机支架|百度相关|手机|手机|1",
    "手机|百度相关|手机|手机|1",
    "手机壳定制|百度相关|手机|手机壳|2",
};

TEST_F(AnalysisTest, TableFollowsTheRunAndTheEndLineOffersIt) {
    open();
    prepare("手机");
    AnalysisWindow& table = analysis();
    EXPECT_TRUE(table.isVisible());
    EXPECT_TRUE(shownRows(table).empty());
    clickStart();
    ASSERT_TRUE(waitUntil([&] { return table.model()->rowCount() == 4; })) << table.model()->rowCount();
    EXPECT_EQ(shownRows(table), kPhoneRows);
    // Every row carries the time it was shown, without its offset.
    const QString time = table.table()->model()->index(0, ResultsModel::Time).data().toString();
    EXPECT_TRUE(QRegularExpression(q("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$")).match(time).hasMatch())
        << time.toStdString();

    // The end line offers the window again once it was closed.
    auto* offer = child<QAbstractButton>("按钮_查看分析");
    ASSERT_TRUE(waitUntil([&] { return !offer->isHidden(); }));
    table.close();
    EXPECT_FALSE(table.isVisible());
    QTest::mouseClick(offer, Qt::LeftButton);
    EXPECT_TRUE(table.isVisible());
    EXPECT_EQ(window->analysisWindow(), &table);

    // Stopped, the run stays in the table; the next Start begins it afresh.
    clickStart();
    QTest::qWait(AnalysisWindow::kRefreshMs * 2);
    EXPECT_EQ(shownRows(table), kPhoneRows);
    // A new run of its own: the table holds only what it shows.
    prepare("手机壳");
    clickStart();
    ASSERT_TRUE(waitUntil([&] { return !child<QAbstractButton>("按钮_查看分析")->isHidden(); }));
    ASSERT_TRUE(waitUntil([&] { return table.model()->rowCount() == 1; }));
    EXPECT_EQ(shownRows(table), (std::vector<std::string>{"手机壳定制|百度相关|手机壳|手机壳|1"}));
    clickStart();
}

// The main window works as before: no analysis window until it is asked for.
TEST_F(AnalysisTest, NothingOpensUnasked) {
    open();
    prepare("手机");
    clickStart();
    ASSERT_TRUE(waitUntil([&] { return !child<QAbstractButton>("按钮_查看分析")->isHidden(); }));
    EXPECT_EQ(window->analysisWindow(), nullptr);
    EXPECT_EQ(test::readFile(home.path() / "Zelkor长尾词_手机.txt"), gbk("手机壳\r\n手机支架\r\n手机\r\n手机壳定制\r\n"));
    clickStart();
}

std::vector<ResultRecord> sampleRecords() {
    return {
        record("手机壳", "百度相关", "手机", "手机", 1, "2026-12-10T13:45:03+08:00"),
        record("苹果手机", "搜狗下拉", "手机", "手机", 1, "2026-12-10T13:45:01+08:00"),
        record("安卓手机", "百度相关", "手机", "苹果手机", 2, "2026-12-10T13:45:02+08:00"),
        record("Apple phone", "必应联想", "apple", "apple", 1, "2026-12-10T13:46:00+08:00"),
        record("apple 壳", "搜狗下拉", "apple", "Apple phone", 3, "2026-12-10T13:44:59+08:00"),
        record("手机壳定制", "百度相关", "手机", "手机壳", 2, "2026-12-10T13:45:04+08:00"),
    };
}

std::vector<std::string> keywordsShown(const AnalysisWindow& analysis) {
    std::vector<std::string> keywords;
    for (const std::string& row : shownRows(analysis, 1))
        keywords.push_back(row);
    return keywords;
}

TEST_F(AnalysisTest, SortingGivesTheExpectedRows) {
    open();
    AnalysisWindow& table = analysis();
    table.model()->setRecords(sampleRecords());
    const struct {
        int column;
        Qt::SortOrder order;
        std::vector<std::string> keywords;
    } cases[] = {
        // GBK orders the common characters by their pinyin: an, ping, shou.
        {ResultsModel::Keyword, Qt::AscendingOrder,
         {"Apple phone", "apple 壳", "安卓手机", "苹果手机", "手机壳", "手机壳定制"}},
        {ResultsModel::Keyword, Qt::DescendingOrder,
         {"手机壳定制", "手机壳", "苹果手机", "安卓手机", "apple 壳", "Apple phone"}},
        // Ties keep the run's order.
        {ResultsModel::Source, Qt::AscendingOrder,
         {"手机壳", "安卓手机", "手机壳定制", "Apple phone", "苹果手机", "apple 壳"}},
        {ResultsModel::Depth, Qt::AscendingOrder,
         {"手机壳", "苹果手机", "Apple phone", "安卓手机", "手机壳定制", "apple 壳"}},
        {ResultsModel::Depth, Qt::DescendingOrder,
         {"apple 壳", "安卓手机", "手机壳定制", "手机壳", "苹果手机", "Apple phone"}},
        {ResultsModel::Time, Qt::AscendingOrder,
         {"apple 壳", "苹果手机", "安卓手机", "手机壳", "手机壳定制", "Apple phone"}},
        {ResultsModel::Parent, Qt::AscendingOrder,
         {"apple 壳", "Apple phone", "安卓手机", "手机壳", "苹果手机", "手机壳定制"}},
        // No column: the run's own order again.
        {-1, Qt::AscendingOrder, {"手机壳", "苹果手机", "安卓手机", "Apple phone", "apple 壳", "手机壳定制"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "column " << c.column << (c.order == Qt::AscendingOrder ? " up" : " down"));
        table.table()->horizontalHeader()->setSortIndicator(c.column, c.order);
        EXPECT_EQ(keywordsShown(table), c.keywords);
    }
    // A click on a header sorts by it.
    table.table()->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    QHeaderView* header = table.table()->horizontalHeader();
    table.show();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(ResultsModel::Depth) + 10, header->height() / 2));
    EXPECT_EQ(header->sortIndicatorSection(), ResultsModel::Depth);
    EXPECT_EQ(keywordsShown(table).front(), header->sortIndicatorOrder() == Qt::AscendingOrder ? "手机壳" : "apple 壳");

    // Hits and services are columns only for a run that counted them, and sort as numbers.
    EXPECT_TRUE(table.table()->isColumnHidden(ResultsModel::Hits));
    std::vector<ResultRecord> counted = sampleRecords();
    const int hits[] = {3, 12, 1, 2, 12, 9};
    for (std::size_t i = 0; i < counted.size(); ++i) {
        counted[i].hits = hits[i];
        counted[i].services = 1;
    }
    table.model()->setRecords(counted);
    EXPECT_FALSE(table.table()->isColumnHidden(ResultsModel::Hits));
    EXPECT_FALSE(table.table()->isColumnHidden(ResultsModel::Services));
    header->setSortIndicator(ResultsModel::Hits, Qt::DescendingOrder);
    EXPECT_EQ(keywordsShown(table),
              (std::vector<std::string>{"苹果手机", "apple 壳", "手机壳定制", "手机壳", "Apple phone", "安卓手机"}));
}

TEST_F(AnalysisTest, FilteringGivesTheExpectedRows) {
    open();
    AnalysisWindow& table = analysis();
    table.model()->setRecords(sampleRecords());
    const int any = ResultsFilter::kAllTextColumns;
    const struct {
        const char* text;
        bool pattern;
        int column;
        std::vector<std::string> keywords;
        bool problem;
    } cases[] = {
        {"", false, ResultsModel::Keyword, {"手机壳", "苹果手机", "安卓手机", "Apple phone", "apple 壳", "手机壳定制"}, false},
        {"手机壳", false, ResultsModel::Keyword, {"手机壳", "手机壳定制"}, false},
        {"APPLE", false, ResultsModel::Keyword, {"Apple phone", "apple 壳"}, false}, // ASCII case ignored
        {"搜狗", false, ResultsModel::Source, {"苹果手机", "apple 壳"}, false},
        {"苹果", false, ResultsModel::Parent, {"安卓手机"}, false},
        {"苹果", false, any, {"苹果手机", "安卓手机"}, false},
        {"apple", false, ResultsModel::Seed, {"Apple phone", "apple 壳"}, false},
        {"😀", false, ResultsModel::Keyword, {}, false}, // no GBK result holds it
        {"^苹|^安", true, ResultsModel::Keyword, {"苹果手机", "安卓手机"}, false},
        {"壳$", true, ResultsModel::Keyword, {"手机壳", "apple 壳"}, false},
        {"^apple\\s", true, ResultsModel::Keyword, {"Apple phone", "apple 壳"}, false},
        {"\\s壳$", true, ResultsModel::Keyword, {"apple 壳"}, false},
        {"^.{4}$", true, ResultsModel::Keyword, {"苹果手机", "安卓手机"}, false}, // a character is one
        {"定制|phone", true, any, {"apple 壳", "Apple phone", "手机壳定制"}, false},
        {"(", true, ResultsModel::Keyword, {"手机壳", "苹果手机", "安卓手机", "Apple phone", "apple 壳", "手机壳定制"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        filterBy(c.text, c.pattern, c.column);
        std::vector<std::string> expected = c.keywords;
        std::vector<std::string> got = keywordsShown(table);
        // "定制|phone" over every text column: the parent "Apple phone" counts too.
        std::sort(expected.begin(), expected.end());
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, expected);
        EXPECT_EQ(part<QLabel>("标签_筛选问题")->isVisibleTo(&table), c.problem);
    }
    filterBy("手机", false, ResultsModel::Keyword);
    EXPECT_EQ(part<QLabel>("标签_行数")->text(), q("共 6 条，显示 4 条"));
    // New rows meet the filter as they come.
    table.model()->append({record("手机膜", "百度相关", "手机", "手机", 1), record("平板", "百度相关", "手机", "手机", 1)});
    EXPECT_EQ(keywordsShown(table), (std::vector<std::string>{"手机壳", "苹果手机", "安卓手机", "手机壳定制", "手机膜"}));
}

TEST_F(AnalysisTest, CopyGivesTabSeparatedText) {
    open();
    AnalysisWindow& table = analysis();
    std::vector<ResultRecord> records = sampleRecords();
    records.push_back(record("带\t制表符", "百度相关", "手机", "手机", 1, "2026-12-10T13:45:05+08:00"));
    table.model()->setRecords(records);
    QItemSelectionModel* selection = table.table()->selectionModel();
    const QAbstractItemModel* model = table.table()->model();
    auto cell = [&](int row, int column) { return model->index(row, column); };
    const struct {
        const char* what;
        std::vector<std::pair<int, int>> cells;
        const char* text;
    } cases[] = {
        {"a whole row", {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}},
         "手机壳\t百度相关\t手机\t手机\t1\t2026-12-10 13:45:03\n"},
        {"a column's cells", {{1, 0}, {2, 0}}, "苹果手机\n安卓手机\n"},
        {"cells apart", {{3, 0}, {0, 4}}, "\t1\nApple phone\t\n"},
        {"a tab inside", {{6, 0}, {6, 1}}, "带 制表符\t百度相关\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        selection->clearSelection();
        for (const auto& [row, column] : c.cells)
            selection->select(cell(row, column), QItemSelectionModel::Select);
        QApplication::clipboard()->clear();
        QTest::mouseClick(part<QAbstractButton>("按钮_复制"), Qt::LeftButton);
        EXPECT_EQ(QApplication::clipboard()->text().toStdString(), c.text);
    }
    // Ctrl+C in the table copies the same; in the view's order once sorted.
    table.table()->horizontalHeader()->setSortIndicator(ResultsModel::Keyword, Qt::AscendingOrder);
    selection->clearSelection();
    for (int row : {0, 1})
        selection->select(cell(row, 0), QItemSelectionModel::Select);
    QApplication::clipboard()->clear();
    table.table()->setFocus();
    QTest::keyClick(table.table(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "Apple phone\napple 壳\n");
}

TEST_F(AnalysisTest, ExportWritesTheSelectionOrTheShownRows) {
    open();
    AnalysisWindow& table = analysis();
    const std::vector<ResultRecord> records = sampleRecords();
    table.model()->setRecords(records);
    table.table()->horizontalHeader()->setSortIndicator(ResultsModel::Depth, Qt::DescendingOrder);
    filterBy("手机", false, ResultsModel::Keyword);
    auto* format = part<QComboBox>("组合框_导出格式");

    // The shown rows in the shown order; the name gets its format's extension.
    format->setCurrentText(q("csv"));
    saveAs = QString::fromStdString((home / "shown").string());
    QTest::mouseClick(part<QAbstractButton>("按钮_导出筛选"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return shown.size() == 1; }));
    EXPECT_EQ(shown[0], home / "shown.csv");
    EXPECT_EQ(test::readFile(home / "shown.csv"),
              formatResults({records[2], records[5], records[0], records[1]}, ExportFormat::Csv));

    // The selected rows, whichever of their cells is selected.
    format->setCurrentText(q("jsonl"));
    saveAs = QString::fromStdString((home / "picked.jsonl").string());
    QItemSelectionModel* selection = table.table()->selectionModel();
    selection->select(table.table()->model()->index(3, 2), QItemSelectionModel::Select);
    selection->select(table.table()->model()->index(1, 0), QItemSelectionModel::Select);
    selection->select(table.table()->model()->index(1, 4), QItemSelectionModel::Select);
    QTest::mouseClick(part<QAbstractButton>("按钮_导出选中"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return shown.size() == 2; }));
    EXPECT_EQ(test::readFile(home / "picked.jsonl"), formatResults({records[5], records[1]}, ExportFormat::Jsonl));

    // Cancelled: nothing. The run store is never written over.
    saveAs.clear();
    QTest::mouseClick(part<QAbstractButton>("按钮_导出筛选"), Qt::LeftButton);
    const std::filesystem::path store = home / "store.csv";
    test::writeFile(store, "kept");
    child<ChoiceBox>("编辑框_运行存储")->setTextValue(QString::fromStdString("sqlite:" + store.string()));
    format->setCurrentText(q("csv"));
    saveAs = QString::fromStdString(store.string());
    QTest::mouseClick(part<QAbstractButton>("按钮_导出筛选"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !warnings.empty(); }));
    EXPECT_TRUE(warnings.back().startsWith(q("导出失败："))) << warnings.back().toStdString();
    EXPECT_EQ(test::readFile(store), "kept");
    EXPECT_EQ(shown.size(), 2u);

    // Nothing selected: said, not written.
    selection->clearSelection();
    warnings.clear();
    QTest::mouseClick(part<QAbstractButton>("按钮_导出选中"), Qt::LeftButton);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], q("没有选中的行可以导出。"));
}

// The pictures of a fixture run are the report's, drawn from the table's rows; a click on a phrase
// of the demand map, zoomed or not, leaves in the table the rows at and below it.
TEST_F(AnalysisTest, PicturesOfTheRunAndAMapClickChoosesRows) {
    open();
    prepare("手机");
    clickStart();
    AnalysisWindow& table = analysis();
    ASSERT_TRUE(waitUntil([&] { return !child<QAbstractButton>("按钮_查看分析")->isHidden(); }));
    ASSERT_TRUE(waitUntil([&] { return table.model()->rowCount() == 4; }));
    EXPECT_EQ(table.pictures(), nullptr); // nothing is drawn for pages nobody looks at
    table.showPage(AnalysisWindow::Page::Charts);
    ASSERT_TRUE(waitUntil([&] { return table.pictures() && table.pictures()->rows == 4; }));
    const RunStatistics stats = computeStatistics(table.model()->records());
    EXPECT_EQ(table.pictures()->depths, depthHistogram(stats));
    EXPECT_EQ(table.pictures()->growth, growthLine(stats));
    EXPECT_NE(table.pictures()->services.find("百度相关"), std::string::npos);
    for (const char* chart : {"图_来源", "图_层级", "图_增长"}) {
        auto* widget = part<QSvgWidget>(chart);
        EXPECT_TRUE(widget->renderer()->isValid()) << chart;
        EXPECT_GT(widget->width(), 100) << chart;
    }

    table.showPage(AnalysisWindow::Page::Map);
    DemandMapView* map = table.map();
    ASSERT_EQ(part<QComboBox>("组合框_种子")->currentText(), q("手机"));
    const struct {
        const char* phrase;
        double zoom;
        std::vector<std::string> keywords;
    } cases[] = {
        {"手机壳", 1, {"手机壳", "手机壳定制"}},
        {"手机支架", 2.5, {"手机支架"}},
        {"手机壳定制", 0.5, {"手机壳定制"}},
        {"手机", 1, {"手机壳", "手机支架", "手机", "手机壳定制"}}, // the seed: its whole tree
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.phrase);
        table.showPage(AnalysisWindow::Page::Map);
        map->fit();
        map->zoomBy(c.zoom);
        const std::vector<DemandMapLabel>& labels = map->layout().labels;
        const auto label = std::find_if(labels.begin(), labels.end(), [&](const DemandMapLabel& l) {
            return l.full == c.phrase && (std::string(c.phrase) != "手机" || l.kind == DemandMapLabel::Kind::Seed);
        });
        ASSERT_NE(label, labels.end());
        map->centerOn(label->x, label->y);
        const QPoint at = map->viewPoint(label->x, label->y);
        ASSERT_TRUE(map->viewport()->rect().contains(at));
        QTest::mouseClick(map->viewport(), Qt::LeftButton, {}, at);
        EXPECT_EQ(part<QTabWidget>("分析页")->currentWidget(), part<QWidget>("结果"));
        EXPECT_EQ(keywordsShown(table), c.keywords);
        EXPECT_TRUE(part<QLabel>("标签_图中选择")->text().contains(q(c.phrase)));
    }
    QTest::mouseClick(part<QAbstractButton>("按钮_显示全部"), Qt::LeftButton);
    EXPECT_EQ(table.filter()->rowCount(), 4);
    EXPECT_TRUE(part<QLabel>("标签_图中选择")->isHidden());
    clickStart();
}

// Runs kept in a database file, made through the store itself.
void keepRun(const std::filesystem::path& file, const char* seeds, const std::vector<ResultRecord>& results,
             bool finished, RunOptionValues options = {}) {
    std::string error;
    auto store = SqliteRunStore::open(file, &error);
    ASSERT_TRUE(store) << error;
    options.insert(options.begin(), {"编辑框_关键词", gbk(seeds)});
    ASSERT_TRUE(store->beginRun(options));
    for (const ResultRecord& r : results)
        store->results().append(r);
    ASSERT_TRUE(store->commitKeyword(1, static_cast<int>(results.size())));
    if (finished)
        store->runFinished();
    else
        store->runStopped();
}

TEST_F(AnalysisTest, AStoredRunOpensFromTheHistory) {
    const std::filesystem::path file = home / "data" / "runs.sqlite";
    const std::vector<ResultRecord> first = {record("手机壳", "百度相关", "手机", "手机", 1),
                                             record("手机壳定制", "百度相关", "手机", "手机壳", 2)};
    const std::vector<ResultRecord> second = {record("电脑桌", "搜狗下拉", "电脑", "电脑", 1)};
    keepRun(file, "手机", first, true);
    keepRun(file, "电脑", second, true);
    open();
    AnalysisWindow& table = analysis();
    auto* history = part<QTableWidget>("表格_历史");
    // The files store keeps no history: the page says how to get one, and reads nothing.
    table.showPage(AnalysisWindow::Page::History);
    EXPECT_EQ(history->rowCount(), 0);
    EXPECT_TRUE(part<QLabel>("标签_历史状态")->text().contains(q("SQLite"))) << part<QLabel>("标签_历史状态")->text().toStdString();

    useSqlite();
    QTest::mouseClick(part<QAbstractButton>("按钮_刷新历史"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return history->rowCount() == 2; }));
    // Newest first.
    EXPECT_EQ(history->item(0, 2)->text(), q("电脑"));
    EXPECT_EQ(history->item(0, 3)->text(), q("已完成"));
    EXPECT_EQ(history->item(1, 2)->text(), q("手机"));
    EXPECT_EQ(history->item(1, 5)->text(), q("2"));
    EXPECT_FALSE(part<QAbstractButton>("按钮_继续采集")->isEnabled());

    history->selectRow(1);
    QTest::mouseClick(part<QAbstractButton>("按钮_查看历史"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return table.model()->rowCount() == 2; }));
    EXPECT_EQ(table.showing(), AnalysisWindow::Showing::Stored);
    EXPECT_EQ(part<QTabWidget>("分析页")->currentWidget(), part<QWidget>("结果"));
    EXPECT_EQ(shownRows(table), (std::vector<std::string>{"手机壳|百度相关|手机|手机|1", "手机壳定制|百度相关|手机|手机壳|2"}));
    EXPECT_TRUE(part<QLabel>("标签_分析对象")->text().startsWith(q("历史采集 #1"))) << part<QLabel>("标签_分析对象")->text().toStdString();
    // Its pictures are drawn from what the store kept.
    table.showPage(AnalysisWindow::Page::Map);
    ASSERT_TRUE(waitUntil([&] { return table.pictures() && table.pictures()->rows == 2; }));
    ASSERT_EQ(table.pictures()->seeds.size(), 1u);
    EXPECT_EQ(table.map()->layout().shown, 2);
    EXPECT_EQ(part<QComboBox>("组合框_种子")->currentText(), q("手机"));

    // A run of the main window does not replace the stored one shown; 回到当前采集 does.
    prepare("手机");
    clickStart();
    QTest::qWait(AnalysisWindow::kRefreshMs * 2);
    EXPECT_EQ(table.model()->rowCount(), 2);
    QTest::mouseClick(part<QAbstractButton>("按钮_当前采集"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return table.model()->rowCount() == 4; }));
    EXPECT_EQ(shownRows(table), kPhoneRows);
    clickStart();
}

// Phrases of two seeds whose words fall into several roots and every kind of intent, the user's own
// family (材质, from data/intent.toml) among them.
std::vector<ResultRecord> wordyRecords() {
    const char* const phone[] = {"手机壳多少钱", "手机壳怎么样", "手机膜和手机壳哪个好", "手机膜价格",
                                 "手机支架",     "手机",         "2026手机推荐",         "北京手机维修",
                                 "手机硅胶壳",   "手机壳定制",   "手机支架怎么安装",     "手机膜 贴"};
    const char* const computer[] = {"电脑桌", "电脑桌多少钱", "电脑维修", "电脑"};
    std::vector<ResultRecord> records;
    for (const char* phrase : phone)
        records.push_back(record(phrase, "百度相关", "手机", "手机", 1));
    for (const char* phrase : computer)
        records.push_back(record(phrase, "搜狗下拉", "电脑", "电脑", 1));
    return records;
}

// A group as `zelkor-cli groups` writes it in a txt file.
struct CliGroup {
    std::string name;
    std::size_t count = 0;
    std::vector<std::string> phrases;
    bool operator==(const CliGroup&) const = default;
};

std::vector<CliGroup> cliGroups(const std::string& gbkText) {
    std::vector<CliGroup> groups;
    std::string text = gbk_to_utf8(gbkText);
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t end = text.find("\r\n", from);
        const std::string line = text.substr(from, end - from);
        from = end == std::string::npos ? text.size() : end + 2;
        if (line.empty()) continue;
        if (line.starts_with("【")) {
            const std::size_t close = line.rfind("】");
            groups.push_back({line.substr(3, close - 3), std::stoul(line.substr(close + 4)), {}});
        } else {
            groups.back().phrases.push_back(line);
        }
    }
    return groups;
}

// Each line of a csv file (without its header and BOM) as its cells; none holds a comma here.
std::vector<std::vector<std::string>> csvRows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::stringstream lines(text);
    std::string line;
    std::getline(lines, line); // the header
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> cells;
        std::size_t from = 0;
        for (std::size_t comma; (comma = line.find(',', from)) != std::string::npos; from = comma + 1)
            cells.push_back(line.substr(from, comma - from));
        cells.push_back(line.substr(from));
        rows.push_back(cells);
    }
    return rows;
}

// The groups the panel lists, as the command line writes them (name and size).
std::vector<CliGroup> listedGroups(const AnalysisWindow& analysis) {
    std::vector<CliGroup> groups;
    const QTableWidget* list = analysis.groups()->list();
    for (int r = 0; r < list->rowCount(); ++r)
        groups.push_back({list->item(r, 0)->text().toStdString(), list->item(r, 1)->text().toULong(), {}});
    return groups;
}

void clickGroup(AnalysisWindow& analysis, int row) {
    QTableWidget* list = analysis.groups()->list();
    list->scrollToItem(list->item(row, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(row, 0)).center());
}

bool wordsDone(const AnalysisWindow& analysis) {
    const auto& words = analysis.model()->words();
    return words && words->rows() == analysis.model()->records().size() && analysis.pendingWork() == 0;
}

// A stored run that asked for words shows them at once, and they are the command line's for the
// same run: the columns those of `export --words`, the groups those of `groups --by root|tag`; a
// click on a group leaves its phrases in the table, and exporting the shown rows writes that group.
TEST_F(AnalysisTest, WordsAndGroupsOfAStoredRunAreTheCommandLines) {
    const std::filesystem::path file = home / "data" / "runs.sqlite";
    test::writeFile(home / "data" / "intent.toml", "\"材质\" = [\"硅胶\", \"皮革\"]\n");
    const std::vector<ResultRecord> records = wordyRecords();
    keepRun(file, "手机\r\n电脑", records, true, {{"选择框_词根与意图", "1"}});
    open();
    useSqlite();
    AnalysisWindow& table = analysis();
    EXPECT_FALSE(table.wordsShown()); // nothing shown yet asked for them
    table.showStored(1);
    ASSERT_TRUE(waitUntil([&] { return wordsDone(table); }));
    EXPECT_TRUE(table.wordsShown());
    EXPECT_FALSE(table.table()->isColumnHidden(ResultsModel::Root));
    EXPECT_FALSE(table.table()->isColumnHidden(ResultsModel::Tags));
    EXPECT_TRUE(table.groups()->isVisibleTo(&table));

    const std::string store = "sqlite:" + file.string();
    auto cli = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin() + 1,
                         {"--home", home.path().string(), "--store", store, "--run", "1"});
        const test::ChildOutcome outcome = test::runChild(ZELKOR_CLI_PATH, arguments);
        EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    };
    cli({"export", "--words", "-o", (home / "words.csv").string()});
    const auto exported = csvRows(test::readFile(home / "words.csv"));
    ASSERT_EQ(exported.size(), records.size());
    std::set<std::string> tagsSeen;
    for (std::size_t r = 0; r < records.size(); ++r) {
        const std::vector<std::string>& cells = exported[r];
        const QAbstractItemModel* shown = table.table()->model();
        SCOPED_TRACE(cells[0]);
        EXPECT_EQ(shown->index(int(r), ResultsModel::Keyword).data().toString().toStdString(), cells[0]);
        EXPECT_EQ(shown->index(int(r), ResultsModel::Root).data().toString().toStdString(),
                  cells[cells.size() - 2]);
        EXPECT_EQ(shown->index(int(r), ResultsModel::Tags).data().toString().toStdString(), cells.back());
        std::stringstream tags(cells.back());
        for (std::string tag; std::getline(tags, tag, ';');)
            tagsSeen.insert(tag);
    }
    // The phrases reach every family, the user's too.
    EXPECT_EQ(tagsSeen, (std::set<std::string>{"疑问", "价格", "比较", "评价", "时间", "地域", "材质"}));

    for (const auto& [by, name] : {std::pair{GroupBy::Root, "root"}, std::pair{GroupBy::Tag, "tag"}}) {
        SCOPED_TRACE(name);
        cli({"groups", "--by", name, "-o", (home / "groups.txt").string()});
        const std::vector<CliGroup> expected = cliGroups(test::readFile(home / "groups.txt"));
        ASSERT_GT(expected.size(), 3u);
        EXPECT_EQ(expected.back().name, by == GroupBy::Root ? "(无词根)" : "(无标签)");
        table.groups()->setBy(by);
        std::vector<CliGroup> sizes = expected;
        for (CliGroup& g : sizes)
            g.phrases.clear();
        EXPECT_EQ(listedGroups(table), sizes);

        // The first group, the last one (the phrases without), and one between.
        for (std::size_t g : {std::size_t{0}, expected.size() - 1, expected.size() / 2}) {
            SCOPED_TRACE(expected[g].name);
            clickGroup(table, int(g));
            EXPECT_EQ(keywordsShown(table), expected[g].phrases);
            EXPECT_EQ(part<QLabel>("标签_图中选择")->text(),
                      q("只看分组“%1”的 %2 个词").arg(q(expected[g].name.c_str())).arg(expected[g].count));
            EXPECT_EQ(part<QLabel>("标签_行数")->text(),
                      q("共 %1 条，显示 %2 条").arg(records.size()).arg(expected[g].count));
        }
        // Exporting the shown rows writes the group chosen, with its words as the table shows them.
        part<QComboBox>("组合框_导出格式")->setCurrentText(q("csv"));
        saveAs = QString::fromStdString((home / "group.csv").string());
        const std::size_t before = shown.size();
        QTest::mouseClick(part<QAbstractButton>("按钮_导出筛选"), Qt::LeftButton);
        ASSERT_TRUE(waitUntil([&] { return shown.size() == before + 1; }));
        const auto written = csvRows(test::readFile(home / "group.csv"));
        const CliGroup& last = expected[expected.size() / 2];
        ASSERT_EQ(written.size(), last.count);
        for (std::size_t r = 0; r < written.size(); ++r) {
            EXPECT_EQ(written[r][0], last.phrases[r]);
            const auto from = std::find_if(exported.begin(), exported.end(),
                                           [&](const auto& cells) { return cells[0] == last.phrases[r]; });
            EXPECT_EQ(std::vector(written[r].end() - 2, written[r].end()),
                      std::vector(from->end() - 2, from->end()));
        }
        QTest::mouseClick(part<QAbstractButton>("按钮_显示全部"), Qt::LeftButton);
        EXPECT_EQ(table.filter()->rowCount(), int(records.size()));
        EXPECT_TRUE(table.groups()->list()->selectedItems().isEmpty());
    }
}

// Root and tags sort as the other text columns do (GBK: pinyin order; ties in the run's order) and
// filter as they do; a group chosen stays chosen as more rows come; unasked, the words go.
TEST_F(AnalysisTest, WordsSortFilterAndFollowTheRows) {
    test::writeFile(home / "data" / "intent.toml", "\"材质\" = [\"硅胶\", \"皮革\"]\n");
    open();
    AnalysisWindow& table = analysis();
    table.model()->setRecords(wordyRecords());
    EXPECT_EQ(table.pendingWork(), 0);
    EXPECT_EQ(table.model()->words(), nullptr); // nothing is cut unasked
    EXPECT_EQ(part<QComboBox>("组合框_筛选列")->findData(int(ResultsModel::Root)), -1);
    table.showWords(true);
    ASSERT_TRUE(waitUntil([&] { return wordsDone(table); }));
    EXPECT_EQ(part<QLabel>("标签_词根状态")->text(), q("7 个词根"));
    // Beside the phrase they are of, in the view and in what is copied.
    QHeaderView* header = table.table()->horizontalHeader();
    EXPECT_EQ(header->visualIndex(ResultsModel::Root), 1);
    EXPECT_EQ(header->visualIndex(ResultsModel::Tags), 2);
    QItemSelectionModel* selection = table.table()->selectionModel();
    for (int column : {ResultsModel::Source, ResultsModel::Tags, ResultsModel::Keyword, ResultsModel::Root})
        selection->select(table.table()->model()->index(0, column), QItemSelectionModel::Select);
    QApplication::clipboard()->clear();
    QTest::mouseClick(part<QAbstractButton>("按钮_复制"), Qt::LeftButton);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "手机壳多少钱\t壳\t疑问;价格\t百度相关\n");
    selection->clearSelection();

    const struct {
        int column;
        Qt::SortOrder order;
        std::vector<std::string> keywords;
    } sorts[] = {
        {ResultsModel::Root,
         Qt::AscendingOrder,
         {"手机", "电脑", "电脑桌多少钱", "手机壳多少钱", "手机壳怎么样", "手机膜和手机壳哪个好",
          "手机硅胶壳", "手机壳定制", "手机膜价格", "手机膜 贴", "2026手机推荐", "北京手机维修", "电脑维修",
          "手机支架", "手机支架怎么安装", "电脑桌"}},
        {ResultsModel::Root,
         Qt::DescendingOrder,
         {"电脑桌", "手机支架", "手机支架怎么安装", "北京手机维修", "电脑维修", "2026手机推荐", "手机膜价格",
          "手机膜 贴", "手机壳多少钱", "手机壳怎么样", "手机膜和手机壳哪个好", "手机硅胶壳", "手机壳定制",
          "电脑桌多少钱", "手机", "电脑"}},
        {ResultsModel::Tags,
         Qt::AscendingOrder,
         {"手机支架", "手机", "手机壳定制", "手机膜 贴", "电脑桌", "电脑维修", "电脑", "手机硅胶壳",
          "北京手机维修", "手机膜价格", "2026手机推荐", "手机支架怎么安装", "手机膜和手机壳哪个好",
          "手机壳多少钱", "电脑桌多少钱", "手机壳怎么样"}},
    };
    for (const auto& c : sorts) {
        SCOPED_TRACE(testing::Message()
                     << "column " << c.column << (c.order == Qt::AscendingOrder ? " up" : " down"));
        table.table()->horizontalHeader()->setSortIndicator(c.column, c.order);
        EXPECT_EQ(keywordsShown(table), c.keywords);
    }
    table.table()->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);

    const struct {
        const char* text;
        bool pattern;
        int column;
        std::vector<std::string> keywords;
    } filters[] = {
        {"价格", false, ResultsModel::Tags, {"手机壳多少钱", "手机膜价格", "电脑桌多少钱"}},
        {"^壳$",
         true,
         ResultsModel::Root,
         {"手机壳多少钱", "手机壳怎么样", "手机膜和手机壳哪个好", "手机硅胶壳", "手机壳定制"}},
        {"^$", true, ResultsModel::Root, {"手机", "电脑"}},
        {"材质", false, ResultsFilter::kAllTextColumns, {"手机硅胶壳"}}, // found in the tags alone
    };
    for (const auto& c : filters) {
        SCOPED_TRACE(c.text);
        filterBy(c.text, c.pattern, c.column);
        EXPECT_EQ(keywordsShown(table), c.keywords);
    }
    filterBy("", false, ResultsModel::Keyword);

    // The group 壳 chosen, then a row comes that belongs to it: the words are cut again, and the
    // table shows the group as it is now.
    ASSERT_EQ(table.groups()->list()->item(0, 0)->text(), q("壳"));
    clickGroup(table, 0);
    EXPECT_EQ(table.filter()->rowCount(), 5);
    table.model()->append({record("手机壳防摔", "百度相关", "手机", "手机", 1)});
    ASSERT_TRUE(waitUntil([&] { return wordsDone(table); }));
    EXPECT_EQ(keywordsShown(table),
              (std::vector<std::string>{"手机壳多少钱", "手机壳怎么样", "手机膜和手机壳哪个好", "手机硅胶壳",
                                        "手机壳定制", "手机壳防摔"}));
    EXPECT_EQ(part<QLabel>("标签_图中选择")->text(), q("只看分组“壳”的 6 个词"));
    EXPECT_EQ(part<QLabel>("标签_行数")->text(), q("共 17 条，显示 6 条"));
    EXPECT_EQ(table.groups()->list()->selectedItems().front()->text(), q("壳"));
    // By intent the choice starts afresh.
    table.groups()->setBy(GroupBy::Tag);
    EXPECT_EQ(table.filter()->rowCount(), 17);
    EXPECT_EQ(table.groups()->list()->item(0, 0)->text(), q("疑问"));
    clickGroup(table, 0);
    EXPECT_EQ(table.filter()->rowCount(), 5);

    // Unasked: the columns, the groups and the group's choice go, and nothing sorts or filters by them.
    table.table()->horizontalHeader()->setSortIndicator(ResultsModel::Root, Qt::AscendingOrder);
    filterBy("壳", false, ResultsModel::Root);
    table.showWords(false);
    EXPECT_TRUE(table.table()->isColumnHidden(ResultsModel::Root));
    EXPECT_TRUE(table.table()->isColumnHidden(ResultsModel::Tags));
    EXPECT_FALSE(table.groups()->isVisibleTo(&table));
    EXPECT_EQ(table.model()->words(), nullptr);
    EXPECT_EQ(table.table()->horizontalHeader()->sortIndicatorSection(), -1);
    EXPECT_EQ(part<QComboBox>("组合框_筛选列")->currentData().toInt(), int(ResultsModel::Keyword));
    EXPECT_EQ(part<QComboBox>("组合框_筛选列")->findData(int(ResultsModel::Root)), -1);
    filterBy("", false, ResultsModel::Keyword);
    EXPECT_EQ(table.filter()->rowCount(), 17);
    EXPECT_TRUE(part<QLabel>("标签_图中选择")->isHidden());
}

// A run of the main window shows the words by default when its box on 高级 asked for them, and
// only then; the groups are those of the fixture's phrases.
TEST_F(AnalysisTest, ARunThatAskedForWordsShowsThem) {
    open();
    prepare("手机");
    AnalysisWindow& table = analysis();
    clickStart();
    ASSERT_TRUE(waitUntil([&] { return !child<QAbstractButton>("按钮_查看分析")->isHidden(); }));
    ASSERT_TRUE(waitUntil([&] { return table.model()->rowCount() == 4; }));
    QTest::qWait(AnalysisWindow::kRefreshMs);
    EXPECT_FALSE(table.wordsShown());
    EXPECT_TRUE(table.table()->isColumnHidden(ResultsModel::Root));
    EXPECT_FALSE(table.groups()->isVisibleTo(&table));
    EXPECT_EQ(table.model()->words(), nullptr);
    clickStart();

    child<QCheckBox>("选择框_词根与意图")->setChecked(true);
    prepare("手机");
    clickStart();
    ASSERT_TRUE(waitUntil([&] { return !child<QAbstractButton>("按钮_查看分析")->isHidden(); }));
    ASSERT_TRUE(waitUntil([&] { return table.model()->rowCount() == 4 && wordsDone(table); }));
    EXPECT_TRUE(table.wordsShown());
    EXPECT_FALSE(table.table()->isColumnHidden(ResultsModel::Root));
    std::vector<std::string> words;
    for (int r = 0; r < 4; ++r)
        words.push_back(table.model()->cellText(r, ResultsModel::Keyword).toStdString() + "|" +
                        table.model()->cellText(r, ResultsModel::Root).toStdString() + "|" +
                        table.model()->cellText(r, ResultsModel::Tags).toStdString());
    EXPECT_EQ(words, (std::vector<std::string>{"手机壳|壳|", "手机支架|支架|", "手机||", "手机壳定制|壳|"}));
    EXPECT_EQ(listedGroups(table),
              (std::vector<CliGroup>{{"壳", 2, {}}, {"支架", 1, {}}, {"(无词根)", 1, {}}}));
    clickStart();
}

// An intent table the user broke is said, with where, and the table stays as it was; mended and
// asked again, the words come.
TEST_F(AnalysisTest, ABrokenIntentTableIsSaid) {
    const std::filesystem::path intent = home / "data" / "intent.toml";
    test::writeFile(intent, "\"价格\" = [\"团购\"\n");
    open();
    AnalysisWindow& table = analysis();
    table.model()->setRecords(wordyRecords());
    table.showWords(true);
    auto* state = part<QLabel>("标签_词根状态");
    ASSERT_TRUE(waitUntil([&] { return table.pendingWork() == 0 && state->text().startsWith(q("无法切分")); }));
    EXPECT_TRUE(state->text().contains(QString::fromStdString(intent.string() + ":"))) << state->text().toStdString();
    EXPECT_EQ(table.model()->words(), nullptr);
    EXPECT_EQ(table.groups()->list()->rowCount(), 0);
    EXPECT_EQ(table.filter()->rowCount(), int(wordyRecords().size()));
    table.model()->append({record("手机壳团购", "百度相关", "手机", "手机", 1)});

    test::writeFile(intent, "\"价格\" = [\"团购\"]\n");
    table.showWords(false);
    table.showWords(true);
    ASSERT_TRUE(waitUntil([&] { return wordsDone(table); }));
    EXPECT_EQ(table.model()->cellText(int(wordyRecords().size()), ResultsModel::Tags), q("价格"));
}

// A stopped run of the store is continued from the history and ends with the results of a run left
// alone; only the newest unfinished run can be, as the engine continues no other.
TEST_F(AnalysisTest, AStoppedRunContinuesFromTheHistory) {
    open();
    useSqlite();
    prepare("手机");
    service.setFault(0, test::FixtureFault::Held);
    clickStart();
    ASSERT_TRUE(waitUntil([&] { return service.requests().size() == 1; }));
    clickStart(); // stopped while the seed is asked
    service.setFault(0, test::FixtureFault::None);
    ASSERT_EQ(child<QAbstractButton>("按钮_开始")->text(), q("开始"));

    AnalysisWindow& table = analysis();
    table.showPage(AnalysisWindow::Page::History);
    auto* history = part<QTableWidget>("表格_历史");
    ASSERT_TRUE(waitUntil([&] { return history->rowCount() == 1; }));
    EXPECT_EQ(history->item(0, 3)->text(), q("已停止"));
    history->selectRow(0);
    auto* resume = part<QAbstractButton>("按钮_继续采集");
    EXPECT_TRUE(resume->isEnabled());
    service.clearRequests();
    QTest::mouseClick(resume, Qt::LeftButton);
    EXPECT_EQ(table.showing(), AnalysisWindow::Showing::Current);
    ASSERT_TRUE(waitUntil([&] { return table.model()->rowCount() == 4; }, 30000))
        << gbk_to_utf8(window->controls()->text("输出_面板"));
    EXPECT_EQ(shownRows(table), kPhoneRows);
    EXPECT_EQ(service.requests().front().keyword, "手机"); // the seed was never answered
    ASSERT_TRUE(waitUntil([&] { return !child<QAbstractButton>("按钮_查看分析")->isHidden(); }));
    clickStart();

    // Finished now: nothing is left to continue.
    table.showPage(AnalysisWindow::Page::Results);
    table.showPage(AnalysisWindow::Page::History);
    ASSERT_TRUE(waitUntil([&] { return history->rowCount() == 1 && history->item(0, 3)->text() == q("已完成"); }));
    history->selectRow(0);
    EXPECT_FALSE(resume->isEnabled());
}

} // namespace
} // namespace zelkor::app
