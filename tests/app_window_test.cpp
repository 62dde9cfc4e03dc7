// The real MainWindow on the offscreen platform: its controls, handlers, output panel and the
// mirror the engine reads. No test here starts a run (see app_fixture_run_test.cpp).

#include "app/advanced_tab.h"
#include "app/main_window.h"
#include "app/run_status.h"
#include "app/update_check.h"
#include "app/window_controls.h"
#include "app/widgets.h"
#include "support/app_support.h"
#include "engine/core/file_lock.h"
#include "engine/core/control_names.h"
#include "engine/run/parallel_run.h"
#include "engine/core/value_controls.h"
#include "engine/store/seen_store.h"
#include "sources/endpoints.h"
#include "sources/source_table.h"
#include "support/temp_dir.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextLayout>
#include <QtMath>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <map>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <thread>

namespace zelkor::app {
namespace {

using test::gbk;
using test::q;
using test::TempDir;

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override { test::qtApp(); }

    MainWindow& open(std::vector<std::string> arguments = {}) {
        MainWindowOptions options;
        options.home = home.path();
        options.arguments = std::move(arguments);
        options.chooseFolder = [this](const QString& title, const QString& start) {
            chooserCalls.push_back({title, start});
            return chooserAnswer;
        };
        options.showFile = [this](const std::filesystem::path& file) { shownFiles.push_back(file); };
        options.showWarning = [this](const QString&, const QString& text) { warnings.push_back(text); };
        window = std::make_unique<MainWindow>(std::move(options));
        return *window;
    }

    template <typename W = QWidget> W* child(const char* name) {
        W* w = window->findChild<W*>(q(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString panel() { return child<QPlainTextEdit>("输出_面板")->toPlainText(); }
    QString notice() { return child<QLabel>("标签_tishi")->text(); }

    TempDir home;
    std::unique_ptr<MainWindow> window;
    std::vector<std::pair<QString, QString>> chooserCalls;
    QString chooserAnswer;
    std::vector<std::filesystem::path> shownFiles;
    std::vector<QString> warnings;
};

QString textOf(QWidget* w) {
    if (auto* s = qobject_cast<SpinEdit*>(w)) return s->textValue();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    if (auto* m = qobject_cast<QPlainTextEdit*>(w)) return m->toPlainText();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
    return {};
}

enum Flag { Plain = 0, Checked = 1, Unchecked = 2, Hidden = 4 };

struct ControlRow {
    const char* name;
    const char* kind;
    const char* parent;
    QRect geometry;
    const char* text; // nullptr: not checked here
    int flags;
};

const ControlRow kInventory[] = {
    {"图片框1", "zelkor::app::PictureBox", "MainWindow", {0, 0, 974, 90}, "", Plain}, // to the right edge
    {"标签_显示", "QLabel", "MainWindow", {348, 99, 244, 24}, "采集结果预览", Plain},
    {"选择框_数据不输出", "QCheckBox", "MainWindow", {624, 96, 184, 32}, "数据不输出到界面", Unchecked},
    {"输出_面板", "QPlainTextEdit", "MainWindow", {336, 136, 616, 360}, "", Plain},
    {"标签_tishi", "QLabel", "MainWindow", {344, 504, 552, 120}, "", Plain},
    {"按钮_开始", "QPushButton", "MainWindow", {24, 635, 104, 37}, "开始", Plain},
    {"按钮1", "QPushButton", "MainWindow", {144, 632, 88, 40}, "开始云端采集", Hidden},
        // 开始, 清理缓存 and the 自动保存 row on one middle line (the layout had three).
    {"按钮5", "QPushButton", "MainWindow", {248, 635, 72, 37}, "清理缓存", Plain},
    {"按钮_测试来源", "QPushButton", "MainWindow", {144, 635, 88, 37}, "测试来源", Plain},
    {"选择框_自动保存结果", "QCheckBox", "MainWindow", {339, 638, 96, 32}, "自动保存结果", Checked},
    {"编辑框_默认保存目录", "QLineEdit", "MainWindow", {441, 638, 312, 32}, nullptr, Plain},
    {"标签4", "zelkor::app::PressLabel", "MainWindow", {763, 638, 72, 32}, "选择目录", Plain},
    {"标签5", "zelkor::app::PressLabel", "MainWindow", {872, 638, 72, 32}, "导出数据", Plain},
    {"状态条1", "QStatusBar", "MainWindow", {0, 695, 1009, 20}, nullptr, Plain},
    {"选择夹1", "QTabWidget", "MainWindow", {0, 94, 328, 530}, nullptr, Plain},
    {"标签1", "QLabel", "采集设置", {16, 21, 96, 16}, "关键词 一行一个", Plain},
    {"编辑框_关键词", "QPlainTextEdit", "采集设置", {8, 40, 136, 98}, "抖音\n快手", Plain},
    {"选择框_包含原词", "QCheckBox", "采集设置", {8, 142, 128, 25}, "结果必须包含原词", Checked},
    {"分组框1", "QGroupBox", "采集设置", {155, 43, 157, 103}, "频率限制", Plain},
    {"标签2", "QLabel", "分组框1", {14, 26, 135, 16}, "查询延时：          秒", Plain},
    {"编辑框_延时", "zelkor::app::SpinEdit", "分组框1", {78, 19, 31, 31}, "1", Plain},
    {"标签3", "QLabel", "分组框1", {13, 66, 56, 24}, "挖掘数量：", Plain},
    {"编辑框_挖掘数量", "QLineEdit", "分组框1", {78, 65, 55, 28}, "30", Plain},
    {"分组框2", "QGroupBox", "采集设置", {8, 173, 272, 341}, "数据来源", Plain},
    {"选择列表框1", "QListWidget", "分组框2", {8, 20, 248, 313}, nullptr, Plain},
    {"按钮3", "QPushButton", "采集设置", {288, 202, 32, 32}, "全", Plain},
    {"按钮4", "QPushButton", "采集设置", {288, 250, 32, 32}, "国", Plain}, // as large as 全
    {"分组框3", "QGroupBox", "过滤", {8, 28, 208, 318}, "违禁词列表", Plain},
    {"编辑框_违禁词",
     "QPlainTextEdit",
     "分组框3",
     {8, 24, 184, 256},
     "成人\n色情\n棋牌\nQQ\n微信\nV信\nVX\nqq\nQq\nqQ\nvx",
     Plain},
    {"外形框_挂机", "zelkor::app::ShapeBox", "设置", {8, 34, 312, 480}, nullptr, Plain},
    {"标签6",
     "QLabel",
     "外形框_挂机",
     {8, 8, 272, 64},
     "此模式主要兼容Zelkor软件出品的配套软件。\n普通用户不用配置这个选项。",
     Plain},
    {"标签7", "QLabel", "外形框_挂机", {8, 96, 104, 24}, "待使用关键词目录：", Plain},
    {"编辑框_挂机keyword", "QLineEdit", "外形框_挂机", {9, 125, 272, 40}, "", Plain},
    {"选择框_挂机模式", "QCheckBox", "外形框_挂机", {16, 174, 104, 32}, "启用挂机模式", Unchecked},
    {"标签8", "QLabel", "外形框_挂机", {21, 217, 256, 198}, nullptr, Plain},
    {"标签13", "QLabel", "联系方式", {8, 28, 304, 140}, nullptr, Plain},
    {"图片框2", "zelkor::app::PictureBox", "联系方式", {8, 180, 148, 148}, "", Plain},
    {"图片框3", "zelkor::app::PictureBox", "联系方式", {164, 180, 148, 148}, "", Plain},
};

TEST(RunStatusText, DurationsReadAsAPersonSaysThem) {
    const struct {
        double seconds;
        const char* text;
    } cases[] = {{0, "0 秒"},        {0.4, "0 秒"},          {59.6, "1 分 00 秒"}, {65, "1 分 05 秒"},
                 {3599, "59 分 59 秒"}, {3600, "1 小时 00 分"}, {7384, "2 小时 03 分"}, {-3, "0 秒"}};
    for (const auto& c : cases)
        EXPECT_EQ(durationText(c.seconds), q(c.text)) << c.seconds;
}

// A service is in trouble after two bad answers in a row, or one refusal, since its last good
// one; a good answer clears it. Each step is a report's cumulative counts for service 4.
TEST(RunStatusText, TroubleFollowsTheAnswersInARow) {
    const struct {
        std::uint64_t ok, failed, blocked;
        bool trouble;
        bool changed;
    } steps[] = {
        {1, 0, 0, false, false}, // good
        {1, 1, 0, false, false}, // one failure is no trouble yet
        {1, 2, 0, true, true},   // two in a row
        {1, 3, 0, true, true},   // still, with a newer failure
        {1, 3, 0, true, false},  // nothing new
        {2, 3, 0, false, true},  // a good answer clears it
        {2, 3, 1, true, true},   // one refusal is enough
        {3, 4, 1, false, true},  // good and bad together: the good one counts as the newer
    };
    ServiceTrouble trouble;
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        const auto& st = steps[i];
        HealthReport report;
        ServiceReport s;
        s.source = 4;
        s.label = gbk("淘宝下拉");
        s.ok = st.ok;
        s.failed = st.failed;
        s.blocked = st.blocked;
        s.requests = st.ok + st.failed + st.blocked;
        report.services.push_back(s);
        const std::vector<int> changed = trouble.update(report, q("12:00:0") + QString::number(i));
        EXPECT_EQ(trouble.services().at(4).trouble, st.trouble);
        EXPECT_EQ(!changed.empty(), st.changed);
        EXPECT_EQ(trouble.inTrouble().size(), st.trouble ? 1u : 0u);
    }
    const QString tip = ServiceTrouble::tooltip(trouble.services().at(4));
    EXPECT_TRUE(tip.startsWith(q("淘宝下拉：连续 0 次没有得到应答"))) << tip.toStdString();
}

// The panel always gets a failing service's summary line: from the run's own summary when it
// gives one per service, else from these; nothing when nothing failed.
TEST(RunStatusText, FailureNoticesOnlyForFailingServices) {
    HealthReport report;
    ServiceReport good, bad;
    good.source = 0;
    good.label = gbk("百度相关");
    good.requests = good.ok = 3;
    bad.source = 4;
    bad.label = gbk("淘宝下拉");
    bad.requests = bad.failed = 3;
    report.services = {good};
    EXPECT_TRUE(failureNotices(report, false).empty());
    report.services = {good, bad};
    const std::vector<Text> own = failureNotices(report, false);
    ASSERT_EQ(own.size(), 2u);
    EXPECT_EQ(own[0], gbk("来源统计 淘宝下拉：请求 3，有结果 0，无结果 0，失败 3，被拦截 0，重试 0，提供 0，采用 0"));
    EXPECT_EQ(own[1], gbk("有来源没有应答：可点“测试来源”看看各来源现在的应答"));
    const std::vector<Text> withSummary = failureNotices(report, true);
    ASSERT_EQ(withSummary.size(), 1u);
    EXPECT_EQ(withSummary[0], own[1]);
}

// The tests' one wait: a condition that never holds fails the test that waited, at its line; one
// that comes true while the window's events run ends the wait without a failure.
TEST(TestWait, ATimeOutFailsTheTestAndAnEventEndsTheWait) {
    test::qtApp();
    EXPECT_NONFATAL_FAILURE(EXPECT_FALSE(test::waitUntil([] { return false; }, 50)),
                            "did not hold within 50 ms");
    bool fired = false;
    QTimer::singleShot(30, [&] { fired = true; });
    EXPECT_TRUE(test::waitUntil([&] { return fired; }, 5000));
}

// The test programs' own guard: a window made here without an endpoints file of its own asks
// loopback only, for every source and for the daily quote.
TEST_F(WindowTest, ServicesOfATestWindowAreOnLoopback) {
    const std::optional<Endpoints> endpoints = Endpoints::loadDefault(home.path());
    ASSERT_TRUE(endpoints.has_value());
    for (int i = 0; i < kSourceCount; ++i)
        EXPECT_EQ(endpoints->get(std::to_string(i)).value_or("").rfind("http://127.0.0.1:", 0), 0u) << i;
    const UpdateSettings update = UpdateSettings::fromEndpoints(&*endpoints, home.path(), home / "desktop");
    EXPECT_EQ(update.quoteRoot.rfind("http://127.0.0.1:", 0), 0u) << update.quoteRoot;
    for (const Text& mirror : update.mirrors)
        EXPECT_TRUE(mirror.empty());
}

TEST_F(WindowTest, EveryControlHasItsKindPlaceTextAndState) {
    open();
    for (const ControlRow& row : kInventory) {
        SCOPED_TRACE(row.name);
        QWidget* w = child(row.name);
        ASSERT_NE(w, nullptr);
        EXPECT_STREQ(w->metaObject()->className(), row.kind);
        ASSERT_NE(w->parentWidget(), nullptr);
        EXPECT_EQ(w->parentWidget()->objectName(), q(row.parent));
        EXPECT_EQ(w->geometry(), row.geometry);
        if (row.text) {
            EXPECT_EQ(textOf(w), q(row.text));
        }
        if (auto* c = qobject_cast<QCheckBox*>(w)) {
            EXPECT_EQ(c->isChecked(), (row.flags & Checked) != 0);
        }
        EXPECT_EQ(w->isHidden(), (row.flags & Hidden) != 0);
        EXPECT_EQ(w->isEnabled(), (row.flags & Hidden) == 0); // 按钮1 is hidden and disabled
    }
}

// Page coordinates count from the tab control's corner, as the layout was made: every control of
// every page is whole inside the page area and clear of the tab strip.
TEST_F(WindowTest, EveryPageControlIsWhollyVisible) {
    MainWindow& w = open();
    w.show();
    QCoreApplication::processEvents();
    auto* tabs = child<QTabWidget>("选择夹1");
    const int strip = tabs->tabBar()->geometry().bottom();
    EXPECT_LE(strip, 21); // the first page's label starts at 21
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        QWidget* page = tabs->widget(i);
        const QRect area(page->mapTo(tabs, QPoint(0, 0)), page->size());
        EXPECT_LE(area.top(), 1); // the border at most
        EXPECT_LE(area.left(), 1);
        for (const ControlRow& row : kInventory) {
            QWidget* control = page->findChild<QWidget*>(q(row.name));
            if (!control) continue;
            SCOPED_TRACE(row.name);
            const QRect onTabs(control->mapTo(tabs, QPoint(0, 0)), control->size());
            EXPECT_TRUE(area.contains(onTabs)) << onTabs.bottom() << " > " << area.bottom();
            EXPECT_GT(onTabs.top(), strip);
        }
    }
}

// Tab walks the controls in the layout's order, the tab control before its page's controls, and
// leaves every box, the output panel included.
TEST_F(WindowTest, TabWalksTheControlsInLayoutOrder) {
    MainWindow& w = open();
    w.show();
    QApplication::setActiveWindow(&w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    const char* const order[] = {"选择框_数据不输出",
                                 "输出_面板",
                                 "按钮_开始",
                                 "按钮_测试来源",
                                 "按钮5",
                                 "选择框_自动保存结果",
                                 "编辑框_默认保存目录",
                                 "qt_tabwidget_tabbar",
                                 "编辑框_关键词",
                                 "选择框_包含原词",
                                 "编辑框_延时",
                                 "编辑框_挖掘数量",
                                 "选择列表框1",
                                 "按钮3",
                                 "按钮4"};
    child<QCheckBox>("选择框_数据不输出")->setFocus(Qt::TabFocusReason);
    for (const char* name : order) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        EXPECT_EQ(focus->objectName().toStdString(), name);
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    EXPECT_EQ(QApplication::focusWidget()->objectName(), q("选择框_数据不输出")); // round again
    EXPECT_TRUE(panel().isEmpty());
}

TEST_F(WindowTest, WindowCaptionTabsSourcesAndStatusBar) {
    MainWindow& w = open();
    EXPECT_EQ(w.windowTitle(), q("Zelkor长尾词采集工具v3.4"));
    EXPECT_EQ(w.pos(), QPoint(50, 50));
    EXPECT_EQ(w.size(), QSize(974, 743));

    auto* tabs = child<QTabWidget>("选择夹1");
    ASSERT_EQ(tabs->count(), 5);
    const char* const pages[] = {"采集设置", "过滤", "设置", "联系方式", "高级"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(tabs->tabText(i), q(pages[i]));
    EXPECT_EQ(tabs->currentIndex(), 0);

    const char* const labels[] = {"百度相关", "百度下拉",   "百度移动",    "百度移动下拉", "淘宝下拉",
                                  "360搜索",  "360下拉",    "神马相关",    "神马下拉",     "搜狗搜索",
                                  "搜狗下拉", "丁香医疗",   "360良医相关", "360良医下拉",  "爱奇艺搜索",
                                  "优酷相关", "b站下拉",    "腾讯下拉",    "爱奇艺下拉",   "搜狐视频",
                                  "youtube",  "google相关", "google下拉",  "1688下拉",     "京东下拉"};
    auto* list = child<QListWidget>("选择列表框1");
    ASSERT_EQ(list->count(), kSourceCount);
    for (int i = 0; i < kSourceCount; ++i) {
        EXPECT_EQ(list->item(i)->text(), q(labels[i])) << i;
        EXPECT_EQ(list->item(i)->checkState(), i == 0 ? Qt::Checked : Qt::Unchecked) << i;
        EXPECT_EQ(w.controls()->itemChecked(ctl::kSourceList, i), i == 0) << i;
    }

    EXPECT_TRUE(child<QStatusBar>("状态条1")->currentMessage().isEmpty());
    EXPECT_EQ(child<QLineEdit>("编辑框_默认保存目录")->text(),
              QString::fromStdString(home.path().string()) + QLatin1Char('/'));
    for (const char* picture : {"图片框1", "图片框2", "图片框3"}) {
        const QPixmap pixmap = child<QLabel>(picture)->pixmap();
        EXPECT_FALSE(pixmap.isNull()) << picture;
    }
    EXPECT_EQ(child<QLabel>("图片框1")->pixmap().size(), QSize(960, 90));
    EXPECT_FALSE(w.unattended());
}

// At the first size every control is where the layout puts it; a larger window gives its extra
// room to the output panel and the source list, the bottom row and the notice follow the bottom
// edge, and the first size brings everything back.
TEST_F(WindowTest, ResizingGrowsThePanelAndTheSourceListOnly) {
    MainWindow& w = open();
    w.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(w.minimumSize(), QSize(974, 743));
    std::map<std::string, QRect> first;
    for (const ControlRow& row : kInventory)
        first[row.name] = child(row.name)->geometry();
    const int dx = 300, dy = 200;
    const struct {
        const char* name;
        QRect change; // x, y, width, height added
    } moved[] = {
        {"图片框1", {0, 0, dx, 0}},          {"输出_面板", {0, 0, dx, dy}},
        {"标签_tishi", {0, dy, dx, 0}},       {"按钮_开始", {0, dy, 0, 0}},
        {"按钮_测试来源", {0, dy, 0, 0}},     {"按钮5", {0, dy, 0, 0}},
        {"按钮1", {0, dy, 0, 0}}, // hidden, and where it was beside the row
        {"选择框_自动保存结果", {0, dy, 0, 0}}, {"编辑框_默认保存目录", {0, dy, dx, 0}},
        {"标签4", {dx, dy, 0, 0}},            {"标签5", {dx, dy, 0, 0}},
        {"状态条1", {0, dy, dx, 0}},          {"选择夹1", {0, 0, 0, dy}},
        {"分组框2", {0, 0, 0, dy}},           {"选择列表框1", {0, 0, 0, dy}},
    };
    w.resize(974 + dx, 743 + dy);
    QCoreApplication::processEvents();
    for (const ControlRow& row : kInventory) {
        SCOPED_TRACE(row.name);
        QRect expected = first[row.name];
        for (const auto& m : moved)
            if (std::string(m.name) == row.name)
                expected = QRect(expected.x() + m.change.x(), expected.y() + m.change.y(),
                                 expected.width() + m.change.width(), expected.height() + m.change.height());
        EXPECT_EQ(child(row.name)->geometry(), expected);
    }
    w.resize(974, 743);
    QCoreApplication::processEvents();
    for (const ControlRow& row : kInventory)
        EXPECT_EQ(child(row.name)->geometry(), row.geometry) << row.name;
}

// Faults of the layout, mended: the 秒 after 查询延时 clear of the spin box, 全 and 国 of one size,
// the banner to the right edge, and the bottom row on one middle line.
TEST_F(WindowTest, DelayUnitButtonsBannerAndBottomRowLineUp) {
    MainWindow& w = open();
    auto* caption = child<QLabel>("标签2");
    EXPECT_EQ(caption->text(), q("查询延时：          秒")); // the text itself stays
    // Measured as the label lays its text out, word spacing included.
    QTextLayout layout(caption->text(), caption->font());
    layout.beginLayout();
    QTextLine line = layout.createLine();
    layout.endLayout();
    const int secondAt = caption->x() + qFloor(line.cursorToX(caption->text().size() - 1));
    EXPECT_GE(secondAt, child("编辑框_延时")->geometry().right() + 1);
    EXPECT_LE(caption->x() + qCeil(line.naturalTextWidth()), caption->geometry().right() + 1);
    EXPECT_EQ(child("按钮3")->size(), child("按钮4")->size());
    EXPECT_EQ(child("图片框1")->width(), w.width());
    const int middle = child("按钮_开始")->geometry().center().y();
    for (const char* name : {"按钮_测试来源", "按钮5", "选择框_自动保存结果", "编辑框_默认保存目录", "标签4", "标签5"})
        EXPECT_LE(std::abs(child(name)->geometry().center().y() - middle), 1) << name;
}

// The page 高级 fits its page at the first size without scrolling; every box says its unit or
// what it takes, and has a tooltip saying what it does.
TEST_F(WindowTest, AdvancedPageFitsWithUnitsAndTooltips) {
    MainWindow& w = open();
    w.show();
    auto* tabs = child<QTabWidget>("选择夹1");
    tabs->setCurrentIndex(4);
    QCoreApplication::processEvents();
    auto* area = child<QScrollArea>("高级_滚动区");
    EXPECT_EQ(area->verticalScrollBar()->maximum(), 0);
    EXPECT_LE(area->widget()->minimumSizeHint().width(), area->viewport()->width());
    const struct {
        const char* box;
        const char* unit; // a label of its group says it; nullptr: none
        const char* caption;
    } boxes[] = {
        {"编辑框_重试次数", "次", "重试次数"},           {"编辑框_冷却秒数", "秒", "冷却时间"},
        {"编辑框_应答上限", "MiB", "应答上限"},          {"编辑框_总时限", "秒", "单个请求总时限"},
        {"编辑框_最少字数", "字", "最少字数"},           {"编辑框_最多字数", "字", "最多字数"},
        {"编辑框_并发速率", "次/秒", "每个来源每秒请求"}, {"编辑框_包含规则", nullptr, "包含规则（正则表达式）"},
        {"编辑框_排除规则", nullptr, "排除规则（正则表达式）"}, {"编辑框_代理列表", nullptr, "代理列表（一行一个，轮流使用）"},
        {"编辑框_运行存储", nullptr, "运行存储"},        {"编辑框_导出格式", nullptr, "导出格式"},
    };
    for (const auto& b : boxes) {
        SCOPED_TRACE(b.box);
        QWidget* box = child(b.box);
        ASSERT_NE(box, nullptr);
        EXPECT_FALSE(box->toolTip().isEmpty());
        QStringList labels;
        for (QLabel* l : box->parentWidget()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
            labels << l->text();
        EXPECT_TRUE(labels.contains(q(b.caption))) << labels.join(QLatin1Char('|')).toStdString();
        if (b.unit) {
            EXPECT_TRUE(labels.contains(q(b.unit))) << labels.join(QLatin1Char('|')).toStdString();
        }
    }
    auto* store = child<ChoiceBox>("编辑框_运行存储");
    EXPECT_EQ(store->combo()->itemText(0), q("标记文件（默认）"));
    EXPECT_EQ(store->combo()->itemText(1), q("SQLite 数据库"));
}

// Each box of 高级 is checked as it is typed: a bad value gets a red frame and its reason in
// Chinese under it; a good one, or an empty box (the default), clears both.
TEST_F(WindowTest, AdvancedBoxesAreCheckedAsTheyAreTyped) {
    open();
    child<QCheckBox>("选择框_并发查询")->setChecked(true);
    const struct {
        const char* box;
        const char* bad;
        const char* reason;
        const char* good;
    } cases[] = {
        {"编辑框_重试次数", "两", "应为 0 到 100 的整数（次）", "2"},
        {"编辑框_冷却秒数", "-5", "应为 0 到 86400 的整数（秒）", "60"},
        {"编辑框_应答上限", "0", "应为 1 到 1024 的整数（MiB）", "16"},
        {"编辑框_总时限", "99999", "应为 1 到 3600 的整数（秒）", "30"},
        {"编辑框_包含规则", "(手机", "缺少右括号“)”", "(手机)"},
        {"编辑框_排除规则", "[a-", "方括号“[”没有对应的“]”", "[a-z]"},
        {"编辑框_最少字数", "三", "应为 0 或正整数（0：不限）", "3"},
        {"编辑框_并发速率", "0", "应为 0.01 到 1000 之间的数，可有小数（如 0.5）", "0.5"},
        {"编辑框_代理列表", "http://127.0.0.1:8080\nnot a proxy", "第 2 行不是可用的代理", "http://127.0.0.1:8080\n# 注释"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.box);
        QWidget* box = child(c.box);
        auto* reason = child<QLabel>((std::string(c.box) + "_原因").c_str());
        ASSERT_TRUE(box && reason);
        auto type = [&](const char* text) {
            if (auto* line = qobject_cast<QLineEdit*>(box)) {
                line->clear();
                for (const QChar ch : q(text)) // typed, one character at a time
                    line->insert(QString(ch));
            } else {
                qobject_cast<QPlainTextEdit*>(box)->setPlainText(q(text));
            }
        };
        type(c.bad);
        EXPECT_TRUE(reason->text().startsWith(q(c.reason))) << reason->text().toStdString();
        EXPECT_FALSE(reason->isHidden());
        EXPECT_TRUE(box->property("bad").toBool());
        type(c.good);
        EXPECT_TRUE(reason->text().isEmpty()) << reason->text().toStdString();
        EXPECT_TRUE(reason->isHidden());
        EXPECT_FALSE(box->property("bad").toBool());
        type("");
        EXPECT_TRUE(reason->isHidden());
    }
    // The bounds are checked against each other; a rate the run does not read is not checked.
    child<QLineEdit>("编辑框_最少字数")->setText(q("5"));
    child<QLineEdit>("编辑框_最多字数")->setText(q("2"));
    EXPECT_EQ(child<QLabel>("编辑框_最多字数_原因")->text(), q("不能少于最少字数 5"));
    child<QLineEdit>("编辑框_最少字数")->setText(q("1"));
    EXPECT_TRUE(child<QLabel>("编辑框_最多字数_原因")->text().isEmpty());
    child<QLineEdit>("编辑框_并发速率")->setText(q("x"));
    EXPECT_FALSE(child<QLabel>("编辑框_并发速率_原因")->text().isEmpty());
    child<QCheckBox>("选择框_并发查询")->setChecked(false);
    EXPECT_TRUE(child<QLabel>("编辑框_并发速率_原因")->text().isEmpty());
}

// Start with bad boxes on 高级 is refused with one message that lists every one of them; nothing
// starts. A value restored from the settings file is checked like a typed one.
TEST_F(WindowTest, StartIsRefusedWithOneMessageListingEveryBadBox) {
    test::writeFile(home / "data" / "Zelkorkey.ini", gbk("[编辑框]\r\n编辑框_总时限=99999\r\n"));
    open();
    EXPECT_FALSE(child<QLabel>("编辑框_总时限_原因")->text().isEmpty());
    child<QLineEdit>("编辑框_重试次数")->setText(q("两"));
    child<QLineEdit>("编辑框_包含规则")->setText(q("(手机"));
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
    EXPECT_EQ(child<QAbstractButton>("按钮_开始")->text(), q("开始"));
    ASSERT_EQ(warnings.size(), 1u);
    const QStringList lines = warnings[0].split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[0], q("包含规则“(手机”无法使用：缺少右括号“)”"));
    EXPECT_EQ(lines[1], q("重试次数“两”无法使用：应为 0 到 100 的整数（次）"));
    EXPECT_EQ(lines[2], q("单个请求总时限“99999”无法使用：应为 1 到 3600 的整数（秒）"));
    EXPECT_TRUE(warnings[0].endsWith(q("请在“高级”页改正后再点开始。")));
    EXPECT_TRUE(panel().contains(q("未开始采集：包含规则“(手机”无法使用"))) << panel().toStdString();
    EXPECT_FALSE(panel().contains(q("开始清理临时数据"))) << panel().toStdString();
}

TEST_F(WindowTest, MirrorFollowsEveryChangeOnTheWindow) {
    MainWindow& w = open();
    auto controls = w.controls();
    EXPECT_EQ(controls->text(ctl::kSeeds), gbk("抖音\r\n快手"));
    EXPECT_EQ(controls->text(ctl::kLimit), gbk("30"));
    EXPECT_EQ(controls->text(ctl::kDelay), gbk("1"));
    EXPECT_EQ(controls->text(ctl::kStartButton), gbk("开始"));
    EXPECT_TRUE(controls->checked(ctl::kMainWordOnly));

    child<QPlainTextEdit>("编辑框_关键词")->setPlainText(q("手机\n电脑"));
    QTest::keyClicks(child<QLineEdit>("编辑框_挖掘数量"), "5");
    QTest::mouseClick(child<QCheckBox>("选择框_包含原词"), Qt::LeftButton);
    child<QListWidget>("选择列表框1")->item(7)->setCheckState(Qt::Checked);
    EXPECT_EQ(controls->text(ctl::kSeeds), gbk("手机\r\n电脑"));
    EXPECT_EQ(controls->text(ctl::kLimit), gbk("305"));
    EXPECT_FALSE(controls->checked(ctl::kMainWordOnly));
    EXPECT_TRUE(controls->itemChecked(ctl::kSourceList, 7));
    EXPECT_FALSE(controls->itemChecked(ctl::kSourceList, kSourceCount));
    EXPECT_FALSE(controls->itemChecked("other", 0));
}

// The 高级 page carries the variant and filter boxes, which the engine reads through the mirror.
// The variant check boxes make one comma list in a fixed order; typed frames join it as "frames".
TEST_F(WindowTest, VariantAndFilterBoxesReachTheEngine) {
    MainWindow& w = open();
    for (const auto control : {ctl::kIncludePattern, ctl::kExcludePattern, ctl::kMinChars, ctl::kMaxChars}) {
        auto* box = window->findChild<QLineEdit*>(QString::fromUtf8(control.data(), int(control.size())));
        ASSERT_NE(box, nullptr) << control;
        box->setText(q("az"));
        EXPECT_EQ(w.controls()->text(control), gbk("az")) << control;
    }
    auto* frames = child<QPlainTextEdit>("编辑框_变体模板");
    ASSERT_TRUE(child<VariantChoice>("编辑框_种子变体"));
    const struct {
        const char* click; // nullptr: type into the frames box instead
        const char* frames;
        const char* list;
    } steps[] = {
        {"选择框_变体疑问", "", "questions"},
        {"选择框_变体字母", "", "az,questions"},
        {nullptr, "{}推荐\n最新", "az,questions,frames"},
        {"选择框_变体数字", "{}推荐\n最新", "az,digits,questions,frames"},
        {"选择框_变体字母", "{}推荐\n最新", "digits,questions,frames"},
        {nullptr, "  \n", "digits,questions"}, // blank lines are no frames
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.list);
        if (step.click)
            QTest::mouseClick(child<QCheckBox>(step.click), Qt::LeftButton);
        else
            frames->setPlainText(q(step.frames));
        EXPECT_EQ(w.controls()->text(ctl::kVariants), gbk(step.list));
    }
    frames->setPlainText(q("{}推荐\n最新"));
    EXPECT_EQ(w.controls()->text(ctl::kVariantFrames), gbk("{}推荐\r\n最新"));
}

// The variants, frames, patterns and lengths come back at the next start. A list written by hand
// (or by an older window that took the words as text) ticks its words in any order; words the
// boxes do not know are dropped, and the list the engine reads is the boxes' own again.
TEST_F(WindowTest, VariantsAndFiltersAreKeptInTheSettings) {
    open();
    QTest::mouseClick(child<QCheckBox>("选择框_变体数字"), Qt::LeftButton);
    QTest::mouseClick(child<QCheckBox>("选择框_变体疑问"), Qt::LeftButton);
    child<QPlainTextEdit>("编辑框_变体模板")->setPlainText(q("{}推荐\n最新"));
    child<QLineEdit>("编辑框_包含规则")->setText(q("^手机"));
    child<QLineEdit>("编辑框_排除规则")->setText(q("壳$"));
    child<QLineEdit>("编辑框_最少字数")->setText(q("2"));
    child<QLineEdit>("编辑框_最多字数")->setText(q("8"));
    window->close();
    const std::string saved = test::readFile(home.path() / "data" / "Zelkorkey.ini");
    for (const char* line : {"编辑框_种子变体=digits,questions,frames", "编辑框_变体模板={}推荐><br><最新",
                             "编辑框_包含规则=^手机", "编辑框_排除规则=壳$", "编辑框_最少字数=2", "编辑框_最多字数=8"})
        EXPECT_NE(saved.find(gbk(line)), std::string::npos) << line << "\n" << saved;

    window.reset();
    MainWindow& again = open();
    EXPECT_FALSE(child<QCheckBox>("选择框_变体字母")->isChecked());
    EXPECT_TRUE(child<QCheckBox>("选择框_变体数字")->isChecked());
    EXPECT_TRUE(child<QCheckBox>("选择框_变体疑问")->isChecked());
    EXPECT_EQ(child<QPlainTextEdit>("编辑框_变体模板")->toPlainText(), q("{}推荐\n最新"));
    EXPECT_EQ(child<QLineEdit>("编辑框_包含规则")->text(), q("^手机"));
    EXPECT_EQ(child<QLineEdit>("编辑框_排除规则")->text(), q("壳$"));
    EXPECT_EQ(child<QLineEdit>("编辑框_最少字数")->text(), q("2"));
    EXPECT_EQ(child<QLineEdit>("编辑框_最多字数")->text(), q("8"));
    EXPECT_EQ(again.controls()->text(ctl::kVariants), gbk("digits,questions,frames"));
    window.reset();

    test::writeFile(home / "data" / "Zelkorkey.ini",
                    gbk("[编辑框]\r\n编辑框_种子变体=frames, questions,letters,az\r\n"));
    MainWindow& old = open();
    EXPECT_TRUE(child<QCheckBox>("选择框_变体字母")->isChecked());
    EXPECT_FALSE(child<QCheckBox>("选择框_变体数字")->isChecked());
    EXPECT_TRUE(child<QCheckBox>("选择框_变体疑问")->isChecked());
    EXPECT_EQ(old.controls()->text(ctl::kVariants), gbk("az,questions")); // no frames typed
    window->close();
    EXPECT_NE(test::readFile(home.path() / "data" / "Zelkorkey.ini").find(gbk("编辑框_种子变体=az,questions\r\n")),
              std::string::npos);

    // Unticked again: saved empty, so the next start shows none ticked.
    window.reset();
    open();
    QTest::mouseClick(child<QCheckBox>("选择框_变体字母"), Qt::LeftButton);
    QTest::mouseClick(child<QCheckBox>("选择框_变体疑问"), Qt::LeftButton);
    window->close();
    window.reset();
    MainWindow& none = open();
    for (const char* box : {"选择框_变体字母", "选择框_变体数字", "选择框_变体疑问"})
        EXPECT_FALSE(child<QCheckBox>(box)->isChecked()) << box;
    EXPECT_TRUE(none.controls()->text(ctl::kVariants).empty());
}

// The home's sources file adds items after the built-in ones; a broken one leaves the built-in
// list and says what is wrong without waiting for an answer.
TEST_F(WindowTest, SourcesFileInTheHomeShapesTheSourceList) {
    std::filesystem::create_directories(home / "data");
    test::writeFile(home / "data" / "sources.toml",
                    "[[source]]\nindex = 25\nlabel = \"新来源\"\nfamily = \"suggestion\"\nscheme = \"http\"\n"
                    "host = \"h.invalid\"\nprefix = \"/q=\"\n\n[[source]]\nindex = 3\nlabel = \"改名\"\n");
    std::vector<QString> warnings;
    auto openWith = [&] {
        MainWindowOptions options;
        options.home = home.path();
        options.showWarning = [&](const QString& title, const QString& text) { warnings.push_back(title + text); };
        window = std::make_unique<MainWindow>(std::move(options));
        return child<QListWidget>("选择列表框1");
    };

    QListWidget* list = openWith();
    ASSERT_EQ(list->count(), kSourceCount + 1);
    EXPECT_EQ(list->item(3)->text(), q("改名"));
    EXPECT_EQ(list->item(kSourceCount)->text(), q("新来源"));
    list->item(kSourceCount)->setCheckState(Qt::Checked);
    EXPECT_TRUE(window->controls()->itemChecked(ctl::kSourceList, kSourceCount));
    EXPECT_TRUE(warnings.empty());

    test::writeFile(home / "data" / "sources.toml", "[[source]]\nindex = 3\nfamily = \"page\"\n");
    list = openWith();
    ASSERT_EQ(list->count(), kSourceCount);
    EXPECT_EQ(list->item(3)->text(), q("百度移动下拉"));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_TRUE(warnings[0].contains(QString::fromStdString((home / "data" / "sources.toml").string() + ":3:10:")))
        << warnings[0].toStdString();
    EXPECT_TRUE(warnings[0].contains(q("family must be one of"))) << warnings[0].toStdString();
}

// A worker's writes land in the mirror at once and reach the widgets later, on the window thread;
// the worker never waits (were it to, join() below would never return).
TEST_F(WindowTest, WritesFromAnotherThreadAreQueued) {
    MainWindow& w = open();
    auto controls = w.controls();
    Text readBack;
    std::thread worker([&] {
        controls->setText(ctl::kCountLabel, gbk("当前词数：5"));
        controls->setChecked(ctl::kAutoSave, false);
        controls->appendOutput(gbk("手机壳\r\n"));
        controls->showNotice(gbk("当前待索引任务3"));
        readBack = controls->text(ctl::kCountLabel);
    });
    worker.join();
    EXPECT_EQ(readBack, gbk("当前词数：5"));
    EXPECT_EQ(child<QLabel>("标签_显示")->text(), q("采集结果预览"));
    EXPECT_TRUE(panel().isEmpty());

    QCoreApplication::processEvents();
    EXPECT_EQ(child<QLabel>("标签_显示")->text(), q("当前词数：5"));
    EXPECT_FALSE(child<QCheckBox>("选择框_自动保存结果")->isChecked());
    EXPECT_EQ(panel(), q("手机壳\n\n\n当前待索引任务3\n"));
    EXPECT_EQ(notice(), q("当前待索引任务3"));
}

// A stand-in window for the controls: its face counts the calls that reach it and flags any that
// comes once it is gone.
struct CountingWindow {
    std::unique_ptr<QObject> object = std::make_unique<QObject>();
    std::atomic<bool> alive{true};
    std::atomic<int> calls{0}, callsWhenGone{0};

    WindowControls::Face face() {
        auto reached = [this] { ++(alive ? calls : callsWhenGone); };
        WindowControls::Face f;
        f.setText = [reached](const std::string&, const Text&) { reached(); };
        f.setChecked = [reached](const std::string&, bool) { reached(); };
        f.appendOutput = [reached](const Text&) { reached(); };
        f.showNotice = [reached](const Text&) { reached(); };
        f.closeWindow = [reached] { reached(); };
        return f;
    }
    // What the window's destructor does.
    void goAway(WindowControls& controls) {
        controls.detach();
        object.reset();
        alive = false;
    }
};

// Engine threads may hold the controls longer than the window lives: their writes are dropped,
// from any thread, queued or not, while the mirror still answers.
TEST_F(WindowTest, WritesAfterTheWindowIsGoneAreDropped) {
    open();
    std::shared_ptr<WindowControls> fromWindow = window->controls();
    EXPECT_TRUE(fromWindow->attached());
    window.reset();
    EXPECT_FALSE(fromWindow->attached()); // the real window lets go of its controls

    CountingWindow stand;
    auto controls = std::make_shared<WindowControls>(stand.object.get(), stand.face());
    std::thread([&] { controls->appendOutput(gbk("a")); }).join(); // queued while the window is there
    stand.goAway(*controls);
    std::thread worker([&] {
        controls->setText(ctl::kCountLabel, gbk("当前词数：1"));
        controls->setChecked(ctl::kAutoSave, false);
        controls->appendOutput(gbk("a"));
        controls->closeWindow();
    });
    worker.join();
    controls->showNotice(gbk("b"));
    controls->setText(ctl::kLimit, gbk("3"));
    QCoreApplication::processEvents();
    EXPECT_EQ(stand.calls, 0);
    EXPECT_EQ(stand.callsWhenGone, 0);
    EXPECT_EQ(controls->text(ctl::kCountLabel), gbk("当前词数：1"));
}

// A cache cleanup or a stopped run may be writing at the very moment the window goes: what was
// queued before reaches it, nothing reaches it after.
TEST_F(WindowTest, WritesWhileTheWindowGoesAwayAreSafe) {
    for (int round = 0; round < 20; ++round) {
        CountingWindow stand;
        auto controls = std::make_shared<WindowControls>(stand.object.get(), stand.face());
        std::atomic<bool> writing{true};
        std::atomic<int> writes{0};
        std::thread worker([&] {
            while (writing) {
                controls->showNotice(gbk("临时数据清理完毕"));
                controls->setText(ctl::kCountLabel, gbk("当前词数：1"));
                ++writes;
            }
        });
        while (writes < 50)
            std::this_thread::yield();
        QCoreApplication::processEvents(); // some writes land while the window is there
        const int landed = stand.calls;
        stand.goAway(*controls);
        const int before = writes;
        while (writes < before + 50)
            std::this_thread::yield();
        writing = false;
        worker.join();
        QCoreApplication::processEvents();
        EXPECT_GT(landed, 0);
        EXPECT_EQ(stand.callsWhenGone, 0);
    }
    // The same with the real window: its destructor detaches while the worker writes.
    open();
    std::shared_ptr<WindowControls> controls = window->controls();
    std::atomic<bool> writing{true};
    std::thread worker([&] {
        while (writing)
            controls->showNotice(gbk("临时数据清理完毕"));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    window.reset();
    writing = false;
    worker.join();
    QCoreApplication::processEvents();
    EXPECT_FALSE(controls->attached());
}

TEST_F(WindowTest, AppendGoesToTheEndWithoutASeparator) {
    MainWindow& w = open();
    auto* edit = child<QPlainTextEdit>("输出_面板");
    edit->setPlainText(q("ab"));
    edit->selectAll(); // a selection or caret elsewhere is not replaced
    w.appendOutput(gbk("cd"));
    w.appendOutput(gbk("\r\n词"));
    EXPECT_EQ(panel(), q("abcd\n词"));
    EXPECT_EQ(w.controls()->text(ctl::kPanel), gbk("abcd\r\n词"));
    EXPECT_EQ(edit->textCursor().position(), edit->document()->characterCount() - 1);
}

TEST_F(WindowTest, PanelIsEmptiedOnlyPastTwentyThousandBytes) {
    MainWindow& w = open();
    Text big;
    for (int i = 0; i < 9999; ++i)
        big += gbk("词"); // 19 998 bytes
    w.appendOutput(big);
    w.appendOutput("\r\n"); // exactly 20 000 bytes, CR LF counted as two
    EXPECT_EQ(w.controls()->text(ctl::kPanel).size(), 20000u);
    EXPECT_FALSE(panel().isEmpty());
    w.appendOutput("x"); // the text that passes the limit is lost with the rest
    EXPECT_TRUE(panel().isEmpty());
    EXPECT_TRUE(w.controls()->text(ctl::kPanel).empty());
    w.appendOutput("y");
    EXPECT_EQ(panel(), q("y"));
}

TEST_F(WindowTest, OutputOffStillSetsTheNotice) {
    MainWindow& w = open();
    QTest::mouseClick(child<QCheckBox>("选择框_数据不输出"), Qt::LeftButton);
    ASSERT_TRUE(w.controls()->checked(ctl::kNoOutput));
    w.appendOutput(gbk("手机\r\n"));
    w.showNotice(gbk("当前待索引任务0"));
    EXPECT_TRUE(panel().isEmpty());
    EXPECT_EQ(notice(), q("当前待索引任务0"));
    EXPECT_EQ(w.controls()->text(ctl::kNoticeLabel), gbk("当前待索引任务0"));
}

TEST_F(WindowTest, NoticeTextIsShownAsPlainText) {
    MainWindow& w = open();
    w.showNotice(gbk("<b>挂机词语</b> a&amp;b"));
    EXPECT_EQ(child<QLabel>("标签_tishi")->textFormat(), Qt::PlainText);
    EXPECT_EQ(notice(), q("<b>挂机词语</b> a&amp;b"));
}

const char* const kAllNotice =
    "youtube和google接口需要软件配合才能访问，如果您无法访问请取消勾选。需要帮助请联系我";

TEST_F(WindowTest, SelectAllThenDomestic) {
    MainWindow& w = open();
    auto* list = child<QListWidget>("选择列表框1");
    QTest::mouseClick(child<QAbstractButton>("按钮3"), Qt::LeftButton);
    for (int i = 0; i < kSourceCount; ++i)
        EXPECT_TRUE(w.controls()->itemChecked(ctl::kSourceList, i)) << i;
    EXPECT_EQ(notice(), q(kAllNotice));
    EXPECT_EQ(panel(), q("\n\n") + q(kAllNotice) + q("\n"));

    QTest::mouseClick(child<QAbstractButton>("按钮4"), Qt::LeftButton);
    int checked = 0;
    for (int i = 0; i < kSourceCount; ++i) {
        const bool on = list->item(i)->checkState() == Qt::Checked;
        checked += on;
        EXPECT_EQ(on, i < 20 || i > 22) << i;
        EXPECT_EQ(w.controls()->itemChecked(ctl::kSourceList, i), on) << i;
    }
    EXPECT_EQ(checked, 22);
    EXPECT_EQ(panel().count(q(kAllNotice)), 2); // once per click
}

TEST_F(WindowTest, FolderChooserSetsTrimmedPathAndCancelKeepsTheFolder) {
    open();
    auto* box = child<QLineEdit>("编辑框_默认保存目录");
    chooserAnswer = q("  /srv/词库/out\u3000 ");
    QTest::mousePress(child<QLabel>("标签4"), Qt::LeftButton);
    ASSERT_EQ(chooserCalls.size(), 1u);
    EXPECT_EQ(chooserCalls[0].first, q("选择默认保存目录"));
    EXPECT_EQ(chooserCalls[0].second, QString::fromStdString(home.path().string()));
    EXPECT_EQ(box->text(), q("/srv/词库/out"));
    EXPECT_EQ(window->controls()->text(ctl::kSaveDir), gbk("/srv/词库/out"));

    // A cancelled dialog (nothing, or only blanks, comes back) keeps the folder the box had; the
    // original emptied the box, and the next export went to the root of the file system.
    for (const char* cancelled : {"", "  \u3000"}) {
        chooserAnswer = q(cancelled);
        QTest::mousePress(child<QLabel>("标签4"), Qt::LeftButton);
        EXPECT_EQ(box->text(), q("/srv/词库/out"));
        EXPECT_EQ(window->controls()->text(ctl::kSaveDir), gbk("/srv/词库/out"));
    }
    QTest::mousePress(child<QLabel>("标签4"), Qt::RightButton);
    EXPECT_EQ(chooserCalls.size(), 3u);

    // A box the user empties means the program directory, for every save and export.
    box->clear();
    EXPECT_EQ(window->controls()->text(ctl::kSaveDir), gbk((home.path().string() + "/").c_str()));
    child<QPlainTextEdit>("编辑框_关键词")->setPlainText(q("手机"));
    QTest::mousePress(child<QLabel>("标签5"), Qt::LeftButton);
    ASSERT_TRUE(test::waitUntil([&] { return !shownFiles.empty(); }, 10000));
    EXPECT_EQ(shownFiles.back(), home.path() / "Zelkor长尾词_手机.txt");
    EXPECT_TRUE(std::filesystem::exists(shownFiles.back()));
}

// The system dialog itself: titled, opened in the program directory, and a cancel keeps the box.
TEST_F(WindowTest, SystemFolderDialogCancelled) {
    test::qtApp();
    MainWindowOptions options;
    options.home = home.path();
    window = std::make_unique<MainWindow>(std::move(options));
    QString title, directory;
    QTimer::singleShot(200, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        title = dialog->windowTitle();
        directory = dialog->directory().absolutePath();
        dialog->reject();
    });
    QTest::mousePress(child<QLabel>("标签4"), Qt::LeftButton);
    EXPECT_EQ(title, q("选择默认保存目录"));
    EXPECT_EQ(directory, QString::fromStdString(home.path().string()));
    EXPECT_EQ(child<QLineEdit>("编辑框_默认保存目录")->text(), QString::fromStdString(home.path().string()) + QLatin1Char('/'));
}

TEST_F(WindowTest, AltPressOnTheBannerRevealsTheHangUpPanel) {
    open();
    auto* panelBox = child<QWidget>("外形框_挂机");
    auto* banner = child<QWidget>("图片框1");
    panelBox->hide();
    const struct {
        Qt::MouseButton button;
        Qt::KeyboardModifiers modifiers;
        bool reveals;
    } cases[] = {
        {Qt::LeftButton, Qt::NoModifier, false},
        {Qt::LeftButton, Qt::ControlModifier | Qt::AltModifier, false}, // state 5
        {Qt::LeftButton, Qt::ShiftModifier | Qt::AltModifier, false},
        {Qt::RightButton, Qt::AltModifier, false},
        {Qt::LeftButton, Qt::AltModifier, true},
    };
    for (const auto& c : cases) {
        QTest::mousePress(banner, c.button, c.modifiers, QPoint(100, 40));
        EXPECT_EQ(!panelBox->isHidden(), c.reveals) << int(c.modifiers);
    }
}

TEST_F(WindowTest, LeftPressInAnEditBoxShowsItsHint) {
    open();
    const struct {
        const char* control;
        const char* hint;
    } cases[] = {
        {"编辑框_关键词", "这里填写你需要搜索的关键词，如果有多个，一行写一个就可以了。"},
        {"编辑框_违禁词", "这里填写违禁词，一行一个，如果采集到包含这里面的内容，不保存"},
        {"编辑框_挖掘数量", "设置采集上限，设置为0不限制个数，无限采集"},
        {"编辑框_挂机keyword",
         "这里填写目录地址，采集到到关键词会放到里面。裂变或者上传软件，会使用到这个目录里面的内容。"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.control);
        QWidget* box = child(c.control);
        const QString before = textOf(box);
        QWidget* target = box;
        if (auto* multi = qobject_cast<QPlainTextEdit*>(box)) target = multi->viewport();
        QTest::mousePress(target, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        EXPECT_EQ(notice(), q(c.hint));
        EXPECT_EQ(textOf(box), before);
        QTest::mouseRelease(target, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    }
    window->showNotice(gbk("x"));
    QTest::mousePress(child<QLineEdit>("编辑框_挖掘数量"), Qt::RightButton);
    EXPECT_EQ(notice(), q("x"));
}

TEST_F(WindowTest, ContactPicturesShowTheContactNotice) {
    open();
    for (const char* picture : {"图片框2", "图片框3"}) {
        window->showNotice(gbk("x"));
        QTest::mousePress(child<QWidget>(picture), Qt::LeftButton);
        EXPECT_TRUE(notice().contains(q("support@zelkor.example"))) << picture;
    }
}

TEST_F(WindowTest, DelayBoxTakesFreeTextAndStepsWithinOneToHundred) {
    open();
    auto* delay = child<SpinEdit>("编辑框_延时");
    const struct {
        const char* text;
        int steps;
        const char* after;
    } cases[] = {{"1", 1, "2"},   {"1", -1, "1"},   {"100", 1, "100"},  {"99", 5, "100"},
                 {"abc", 1, "1"}, {"２0", 1, "21"}, {"500", -1, "100"}, {"7秒", -2, "5"}};
    for (const auto& c : cases) {
        delay->setTextValue(q(c.text));
        EXPECT_EQ(window->controls()->text(ctl::kDelay), gbk(c.text));
        delay->stepBy(c.steps);
        EXPECT_EQ(delay->textValue(), q(c.after)) << c.text << " " << c.steps;
    }
    delay->setTextValue(q("abc")); // any text stays as typed
    QTest::keyClick(delay, Qt::Key_Tab);
    EXPECT_EQ(delay->textValue(), q("abc"));
}

TEST_F(WindowTest, ExportWritesTheFileAndShowsIt) {
    MainWindow& w = open();
    QTest::mouseClick(child<QCheckBox>("选择框_自动保存结果"), Qt::LeftButton); // export is forced
    QTest::mousePress(child<QLabel>("标签5"), Qt::LeftButton);
    // The file is written off the window thread; the window goes on meanwhile.
    ASSERT_TRUE(test::waitUntil([&] { return !shownFiles.empty(); }, 10000));
    const std::filesystem::path file = home.path() / "Zelkor长尾词_抖音快手.txt";
    EXPECT_TRUE(std::filesystem::exists(file));
    ASSERT_EQ(shownFiles.size(), 1u);
    EXPECT_EQ(shownFiles[0], file);
    EXPECT_TRUE(notice().startsWith(q("已帮您自动保存数据，保存路径为："))) << notice().toStdString();
    EXPECT_EQ(w.controls()->text(ctl::kNoticeLabel).find(gbk("抖音快手.txt")) != Text::npos, true);

    // An unwritable directory: nothing to show.
    child<QLineEdit>("编辑框_默认保存目录")
        ->setText(QString::fromStdString((home.path() / "missing" / "x").string()));
    QTest::mousePress(child<QLabel>("标签5"), Qt::LeftButton);
    ASSERT_TRUE(test::waitUntil([&] { return notice().startsWith(q("数据保存失败")); }, 10000)) << notice().toStdString();
    QTest::qWait(50);
    EXPECT_EQ(shownFiles.size(), 1u);
}

TEST_F(WindowTest, StartOnAHomeInUseIsRefusedWithAWarning) {
    open();
    int error = 0;
    auto other = FileLock::tryAcquire(homeLockFile(home.path()), &error); // another run's
    ASSERT_TRUE(other);
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_TRUE(warnings[0].startsWith(q("另一个采集正在使用程序目录 "))) << warnings[0].toStdString();
    EXPECT_EQ(child<QAbstractButton>("按钮_开始")->text(), q("开始"));
    EXPECT_FALSE(panel().contains(q("开始清理临时数据"))) << panel().toStdString();

    other.reset();
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
    EXPECT_EQ(warnings.size(), 1u);
    EXPECT_EQ(child<QAbstractButton>("按钮_开始")->text(), q("停止"));
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
}

TEST_F(WindowTest, ClearCacheEmptiesTheSeenStore) {
    open();
    const auto store = SeenStore::defaultDirectory(home.path());
    std::filesystem::create_directories(store);
    test::writeFile(store / "abc.zr", "");
    QTest::mouseClick(child<QAbstractButton>("按钮5"), Qt::LeftButton);
    EXPECT_FALSE(std::filesystem::exists(store / "abc.zr")); // renamed away at once
    EXPECT_TRUE(test::waitUntil([&] { return notice() == q("临时数据清理完毕"); }, 10000)) << notice().toStdString();
    // Nothing of the old store is left beside the new one.
    for (const auto& entry : std::filesystem::directory_iterator(home.path())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name.rfind("cwls", 0) != 0 || name == "cwls") << name;
    }
}

TEST_F(WindowTest, SettingsComeBackAtTheNextStart) {
    open();
    child<QPlainTextEdit>("编辑框_关键词")->setPlainText(q("手机\n电脑"));
    child<QPlainTextEdit>("编辑框_违禁词")->setPlainText(q("a\"b"));
    child<QLineEdit>("编辑框_挖掘数量")->clear();
    child<SpinEdit>("编辑框_延时")->setTextValue(q("3"));
    child<QLineEdit>("编辑框_挂机keyword")->setText(q("/tmp/挂机"));
    QTest::mouseClick(child<QAbstractButton>("按钮3"), Qt::LeftButton); // ticks are not kept
    QTest::mouseClick(child<QCheckBox>("选择框_包含原词"), Qt::LeftButton);
    window->close();
    const std::string saved = test::readFile(home.path() / "data" / "Zelkorkey.ini");
    EXPECT_NE(saved.find(gbk("编辑框_关键词=手机><br><电脑")), std::string::npos) << saved;
    EXPECT_NE(saved.find(gbk("编辑框_违禁词=a#引号b")), std::string::npos) << saved;

    window.reset();
    MainWindow& again = open();
    EXPECT_EQ(child<QPlainTextEdit>("编辑框_关键词")->toPlainText(), q("手机\n电脑"));
    EXPECT_EQ(child<QPlainTextEdit>("编辑框_违禁词")->toPlainText(), q("a\"b"));
    EXPECT_EQ(child<QLineEdit>("编辑框_挖掘数量")->text(), q("30")); // saved empty: the form default
    EXPECT_EQ(child<SpinEdit>("编辑框_延时")->textValue(), q("3"));
    EXPECT_EQ(child<QLineEdit>("编辑框_挂机keyword")->text(), q("/tmp/挂机"));
    EXPECT_TRUE(child<QCheckBox>("选择框_包含原词")->isChecked());
    EXPECT_NE(panel().count(q(kAllNotice)), 0); // the panel is an edit box too
    for (int i = 0; i < kSourceCount; ++i)
        EXPECT_EQ(again.controls()->itemChecked(ctl::kSourceList, i), i == 0) << i;
}

// The page 高级 holds its boxes under their settings keys; they come back at the next start and,
// left empty, are not written at all.
TEST_F(WindowTest, AdvancedBoxesAreKeptOnlyOnceUsed) {
    open();
    auto* tabs = child<QTabWidget>("选择夹1");
    EXPECT_EQ(tabs->widget(4)->objectName(), q("高级"));
    for (const char* box : {"编辑框_重试次数", "编辑框_冷却秒数"})
        EXPECT_EQ(child<QLineEdit>(box)->window(), window.get()) << box;
    auto* proxies = child<QPlainTextEdit>("编辑框_代理列表");
    EXPECT_TRUE(tabs->widget(4)->isAncestorOf(proxies));
    window->close();
    std::string saved = test::readFile(home.path() / "data" / "Zelkorkey.ini");
    for (const char* key : {"编辑框_重试次数", "编辑框_冷却秒数", "编辑框_代理列表"})
        EXPECT_EQ(saved.find(gbk(key)), std::string::npos) << key;

    window.reset();
    open();
    QTest::keyClicks(child<QLineEdit>("编辑框_重试次数"), "3");
    child<QLineEdit>("编辑框_冷却秒数")->setText(q("60"));
    child<QPlainTextEdit>("编辑框_代理列表")->setPlainText(q("socks5://127.0.0.1:1080\nhttp://127.0.0.1:8080"));
    EXPECT_EQ(window->controls()->text(ctl::kRetries), gbk("3"));
    EXPECT_EQ(window->controls()->text(ctl::kProxyList), gbk("socks5://127.0.0.1:1080\r\nhttp://127.0.0.1:8080"));
    window->close();
    saved = test::readFile(home.path() / "data" / "Zelkorkey.ini");
    EXPECT_NE(saved.find(gbk("编辑框_代理列表=socks5://127.0.0.1:1080><br><http://127.0.0.1:8080")),
              std::string::npos)
        << saved;

    window.reset();
    open();
    EXPECT_EQ(child<QLineEdit>("编辑框_重试次数")->text(), q("3"));
    EXPECT_EQ(child<QLineEdit>("编辑框_冷却秒数")->text(), q("60"));
    EXPECT_EQ(child<QPlainTextEdit>("编辑框_代理列表")->toPlainText(),
              q("socks5://127.0.0.1:1080\nhttp://127.0.0.1:8080"));
    // Emptied again: saved empty, so the next start shows it empty.
    child<QLineEdit>("编辑框_重试次数")->clear();
    window->close();
    window.reset();
    open();
    EXPECT_TRUE(child<QLineEdit>("编辑框_重试次数")->text().isEmpty());
}

// The answer bounds and the export format sit in groups of their own on the page 高级 and are kept
// like the other boxes; a format the settings file names wrongly shows the default.
TEST_F(WindowTest, AnswerLimitsAndExportFormatAreKept) {
    MainWindow& w = open();
    auto* group = child<QGroupBox>("分组框_应答限制");
    EXPECT_EQ(group->title(), q("应答限制"));
    for (const char* box : {"编辑框_应答上限", "编辑框_总时限"})
        EXPECT_TRUE(group->isAncestorOf(child<QLineEdit>(box))) << box;
    QTest::keyClicks(child<QLineEdit>("编辑框_应答上限"), "64");
    child<QLineEdit>("编辑框_总时限")->setText(q("120"));
    EXPECT_EQ(w.controls()->text(ctl::kMaxAnswerMib), gbk("64"));
    EXPECT_EQ(w.controls()->text(ctl::kDeadline), gbk("120"));
    auto* format = child<ChoiceBox>("编辑框_导出格式");
    EXPECT_TRUE(child<QGroupBox>("分组框_存储与导出")->isAncestorOf(format));
    EXPECT_EQ(format->combo()->count(), 4);
    EXPECT_TRUE(w.controls()->text(ctl::kExportFormat).empty());
    format->combo()->setCurrentIndex(2);
    EXPECT_EQ(w.controls()->text(ctl::kExportFormat), "jsonl");
    window->close();
    const std::string saved = test::readFile(home.path() / "data" / "Zelkorkey.ini");
    for (const char* line : {"编辑框_应答上限=64\r\n", "编辑框_总时限=120\r\n", "编辑框_导出格式=jsonl\r\n"})
        EXPECT_NE(saved.find(gbk(line)), std::string::npos) << line << saved;
    window.reset();
    open();
    EXPECT_EQ(child<QLineEdit>("编辑框_应答上限")->text(), q("64"));
    EXPECT_EQ(child<QLineEdit>("编辑框_总时限")->text(), q("120"));
    EXPECT_EQ(child<ChoiceBox>("编辑框_导出格式")->combo()->currentIndex(), 2);
    window.reset();

    test::writeFile(home / "data" / "Zelkorkey.ini", gbk("[编辑框]\r\n编辑框_导出格式=pdf\r\n"));
    MainWindow& wrong = open();
    EXPECT_EQ(child<ChoiceBox>("编辑框_导出格式")->combo()->currentIndex(), 0);
    EXPECT_TRUE(wrong.controls()->text(ctl::kExportFormat).empty());
}

// The throughput mode's check box and rate sit on 高级, reach the engine through the mirror, and
// come back at the next start like every other box.
TEST_F(WindowTest, ParallelBoxesReachTheEngineAndComeBack) {
    open();
    auto* tabs = child<QTabWidget>("选择夹1");
    auto* box = child<QCheckBox>("选择框_并发查询");
    auto* rate = child<QLineEdit>("编辑框_并发速率");
    EXPECT_TRUE(tabs->widget(4)->isAncestorOf(box));
    EXPECT_TRUE(tabs->widget(4)->isAncestorOf(rate));
    EXPECT_FALSE(box->isChecked());
    EXPECT_FALSE(rate->isEnabled());
    window->close();
    EXPECT_EQ(test::readFile(home.path() / "data" / "Zelkorkey.ini").find(gbk("选择框_并发查询")), std::string::npos);

    window.reset();
    open();
    child<QCheckBox>("选择框_并发查询")->setChecked(true);
    EXPECT_TRUE(child<QLineEdit>("编辑框_并发速率")->isEnabled());
    child<QLineEdit>("编辑框_并发速率")->setText(q("3.5"));
    EXPECT_TRUE(window->controls()->checked(ctl::kParallel));
    EXPECT_EQ(window->controls()->text(ctl::kParallelRate), gbk("3.5"));
    const ParallelOptions options = parallelOptions(*window->controls());
    EXPECT_DOUBLE_EQ(options.rate, 3.5);
    window->close();

    window.reset();
    open();
    EXPECT_TRUE(child<QCheckBox>("选择框_并发查询")->isChecked());
    EXPECT_EQ(child<QLineEdit>("编辑框_并发速率")->text(), q("3.5"));
    EXPECT_TRUE(window->controls()->checked(ctl::kParallel));
    child<QCheckBox>("选择框_并发查询")->setChecked(false);
    window->close();
    window.reset();
    open();
    EXPECT_FALSE(child<QCheckBox>("选择框_并发查询")->isChecked());
}

// Lines written from an engine thread faster than the window takes them arrive in batches, and
// the panel ends exactly as one append at a time leaves it: notices in place, emptied past the limit.
TEST_F(WindowTest, BatchedAppendsLeaveThePanelAsSingleOnesDo) {
    MainWindow& w = open();
    auto controls = w.controls();
    ValueControls reference;
    std::thread worker([&] {
        for (int i = 0; i < 1500; ++i) {
            const Text line = utf8_to_gbk("\r\n" + std::to_string(i) + " 来源：百度下拉  主词：手机  keyword：手机壳" + std::to_string(i));
            controls->appendOutput(line);
            reference.appendOutput(line);
            if (i % 97 == 0) {
                const Text notice = gbk("当前待索引任务") + std::to_string(i);
                controls->showNotice(notice);
                reference.showNotice(notice);
            }
        }
    });
    worker.join();
    QCoreApplication::processEvents();
    const Text expected = reference.text(ctl::kPanel);
    EXPECT_LT(expected.size(), 20000u);
    EXPECT_EQ(w.controls()->text(ctl::kPanel), expected);
    EXPECT_EQ(notice(), q("当前待索引任务1455"));
}

TEST_F(WindowTest, CloseSavesBeforeTheProgramEnds) {
    bool savedFirst = false;
    int ends = 0;
    MainWindowOptions options;
    options.home = home.path();
    options.afterClose = [&] {
        ++ends;
        savedFirst = std::filesystem::exists(home.path() / "data" / "Zelkorkey.ini");
    };
    window = std::make_unique<MainWindow>(std::move(options));
    window->controls()->closeWindow();
    window->close();
    EXPECT_EQ(ends, 1);
    EXPECT_TRUE(savedFirst);
}

TEST_F(WindowTest, TwoArgumentsStartNothing) {
    MainWindow& w = open({"kw", "more"});
    EXPECT_FALSE(w.unattended());
    EXPECT_FALSE(w.windowState() & Qt::WindowMinimized);
    EXPECT_EQ(child<QLineEdit>("编辑框_挖掘数量")->text(), q("30"));
    EXPECT_EQ(w.controls()->text(ctl::kStartButton), gbk("开始"));
}

} // namespace
} // namespace zelkor::app
