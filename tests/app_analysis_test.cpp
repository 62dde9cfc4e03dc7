// The window 分析 over the real main window: its table filling from a run against the loopback
// fixture service, sorting and filtering, copying and exporting, and the history of a SQLite store.

#include "analysis/charts.h"
#include "app/analysis_window.h"
#include "app/demand_map_view.h"
#include "app/main_window.h"
#include "app/results_model.h"
#include "app/run_pictures.h"
#include "app/widgets.h"
#include "engine/output/rich_export.h"
#include "engine/store/sqlite_run_store.h"
#include "fixture_service.h"
#include "support/app_support.h"
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
             bool finished) {
    std::string error;
    auto store = SqliteRunStore::open(file, &error);
    ASSERT_TRUE(store) << error;
    ASSERT_TRUE(store->beginRun({{"编辑框_关键词", gbk(seeds)}}));
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
