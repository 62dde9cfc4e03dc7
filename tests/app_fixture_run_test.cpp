// The window mining against the loopback fixture service through an endpoints file: Start, the
// panel lines and captions, Stop in the middle of a request, and an unattended start in-process.

#include "app/main_window.h"
#include "app/source_probe.h"
#include "app/widgets.h"
#include "support/app_support.h"
#include "engine/core/control_names.h"
#include "engine/store/seen_store.h"
#include "fixture_service.h"
#include "engine/store/run_history.h"
#include "engine/store/sqlite_run_store.h"
#include "support/child_process.h"
#include "support/hostile_server.h"
#include "support/temp_dir.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QElapsedTimer>
#include <QTest>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>

namespace zelkor::app {
namespace {

using test::gbk;
using test::q;
using test::TempDir;
using test::waitUntil;

class FixtureRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::qtApp();
        ::unsetenv("ZELKOR_ENDPOINTS"); // the program directory's file is the one that counts
        ASSERT_TRUE(service.ok());
        std::filesystem::create_directories(home / "data");
        service.writeEndpoints(home / "data" / "endpoints.ini");
    }
    void TearDown() override {
        window.reset(); // joins the run's worker and the store's emptiers
    }

    MainWindow& open(std::vector<std::string> arguments = {}) {
        MainWindowOptions options;
        options.home = home.path();
        options.arguments = std::move(arguments);
        options.showFile = [](const std::filesystem::path&) {};
        options.afterClose = [this] { ++processEnds; };
        options.showWarning = [this](const QString& title, const QString& text) { warnings.push_back({title, text}); };
        window = std::make_unique<MainWindow>(std::move(options));
        return *window;
    }
    template <typename W = QWidget> W* child(const char* name) { return window->findChild<W*>(q(name)); }
    QString panel() { return child<QPlainTextEdit>("输出_面板")->toPlainText(); }
    QString caption() { return child<QAbstractButton>("按钮_开始")->text(); }
    void prepare(const char* seeds) {
        child<QPlainTextEdit>("编辑框_关键词")->setPlainText(q(seeds));
        child<SpinEdit>("编辑框_延时")->setTextValue(q("0"));
    }
    std::vector<std::string> askedKeywords() {
        std::vector<std::string> keywords;
        for (const auto& r : service.requests())
            keywords.push_back(r.keyword);
        return keywords;
    }

    test::FixtureService service;
    TempDir home;
    std::unique_ptr<MainWindow> window;
    int processEnds = 0;
    std::vector<std::pair<QString, QString>> warnings;
};

TEST_F(FixtureRunTest, StartRunsTheQueueDryAndStopResetsTheCaption) {
    open();
    prepare("手机");
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
    EXPECT_EQ(caption(), q("停止"));

    // The seed is saved, then the queue pass ends with the auto-save of its fourth keyword; the
    // window shows its notice after everything the worker wrote before it.
    ASSERT_TRUE(waitUntil([&] { return panel().count(q("已帮您自动保存数据，保存路径为：")) == 5; }))
        << panel().toStdString();
    EXPECT_EQ(test::readFile(home.path() / "Zelkor长尾词_手机.txt"),
              gbk("手机壳\r\n手机支架\r\n手机\r\n手机壳定制\r\n"));
    EXPECT_EQ(askedKeywords(),
              (std::vector<std::string>{"手机", "手机壳", "手机支架", "手机", "手机壳定制"}));

    const QString text = panel();
    EXPECT_TRUE(text.contains(q("1 来源："))) << text.toStdString();
    EXPECT_TRUE(text.contains(q("主词：手机  keyword：手机壳\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(q("主词：手机  keyword：手机壳定制"))) << text.toStdString();
    EXPECT_TRUE(text.contains(q("当前待索引任务3"))) << text.toStdString();
    EXPECT_TRUE(text.contains(q("手机壳  已采集过，不再重复采集"))) << text.toStdString();
    EXPECT_EQ(child<QLabel>("标签_显示")->text(), q("当前词数：4"));
    EXPECT_EQ(caption(), q("停止")); // a run that ended by itself waits for Stop

    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
    EXPECT_EQ(caption(), q("开始"));
    EXPECT_EQ(processEnds, 0);
}

// The cleaned forbidden words are written back and read again: the box shows a lone LF as a line
// break, which must not come back as a blank entry that every phrase contains.
TEST_F(FixtureRunTest, ForbiddenWordsAfterBlankLinesRejectNothingElse) {
    const struct {
        const char* box;
        const char* cleaned; // GBK bytes of the run's list, CR LF as written
    } cases[] = {{"\n\n成人", "\n成人"}, {"\n\n\n成人\n\n色情", "\n成人\r\n色情"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.box);
        open();
        prepare("手机");
        child<QPlainTextEdit>("编辑框_违禁词")->setPlainText(q(c.box));
        QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
        EXPECT_EQ(window->controls()->text(ctl::kForbidden), gbk(c.cleaned));
        ASSERT_TRUE(waitUntil([&] { return panel().contains(q("keyword：手机壳定制")); }));
        EXPECT_FALSE(panel().contains(q("含有违禁词"))) << panel().toStdString();
        QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
        window.reset(); // joins the run's worker and the store's emptiers
    }
}

TEST_F(FixtureRunTest, StopInTheMiddleOfARequestEndsTheRunAtOnce) {
    open();
    prepare("手机");
    service.setFault(0, test::FixtureFault::Silent);
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return service.requests().size() == 1; }, 10000));

    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
    EXPECT_EQ(caption(), q("开始"));
    service.setFault(0, test::FixtureFault::None);
    QTest::qWait(1500); // long enough for a run that was not stopped to ask again
    EXPECT_EQ(service.requests().size(), 1u);
    EXPECT_FALSE(panel().contains(q("keyword："))) << panel().toStdString();
    EXPECT_EQ(child<QLabel>("标签_显示")->text(), q("采集结果预览"));

    // The next Start is a fresh run: counting starts again from 1.
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return panel().contains(q("keyword：手机壳定制")); }));
    EXPECT_TRUE(panel().contains(q("\n1 来源："))) << panel().toStdString();
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
}

// Retries from the page 高级: the failed first answer is asked again and the run's summary ends the
// panel's notices. A run that asks for nothing beyond the original ends without a summary.
TEST_F(FixtureRunTest, RetriesFromTheAdvancedPageAndTheSummaryInThePanel) {
    open();
    prepare("手机");
    child<QLineEdit>("编辑框_重试次数")->setText(q("1"));
    service.setFailFirst(0, 1);
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return panel().contains(q("来源统计 百度相关：")); })) << panel().toStdString();
    EXPECT_TRUE(panel().contains(q("来源统计 百度相关：请求 6，有结果 3，无结果 2，失败 1，被拦截 0，重试 1，"
                                   "提供 7，采用 4")))
        << panel().toStdString();
    EXPECT_EQ(test::readFile(home.path() / "Zelkor长尾词_手机.txt"),
              gbk("手机壳\r\n手机支架\r\n手机\r\n手机壳定制\r\n"));
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);

    // Without retries the one request fails: no table, but the panel says what that means.
    child<QLineEdit>("编辑框_重试次数")->clear();
    service.setFailFirst(0, 1);
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return panel().contains(q("本次运行的 1 个请求全部失败")); }))
        << panel().toStdString();
    EXPECT_EQ(panel().count(q("来源统计")), 1) << panel().toStdString();
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
}

// Ticked variant boxes ask each seed's variants right after it, before the queue, in the order
// zelkor-cli's --variants az,digits,questions,file:F gives: letters, digits, question frames, then
// the typed frames.
TEST_F(FixtureRunTest, TickedVariantsFollowTheSeedInTheCliOrder) {
    open();
    prepare("手机");
    child<QLineEdit>("编辑框_挖掘数量")->setText(q("0"));
    for (const char* box : {"选择框_变体疑问", "选择框_变体数字", "选择框_变体字母"})
        QTest::mouseClick(child<QAbstractButton>(box), Qt::LeftButton);
    child<QPlainTextEdit>("编辑框_变体模板")->setPlainText(q("{}推荐\n最新"));
    std::vector<std::string> expected{"手机"};
    for (char c = 'a'; c <= 'z'; ++c)
        expected.push_back(std::string("手机") + c);
    for (char c = '0'; c <= '9'; ++c)
        expected.push_back(std::string("手机") + c);
    for (const char* frame : {"手机怎么样", "手机多少钱", "手机哪个好", "手机是什么", "手机哪里有", "手机怎么用",
                              "手机有哪些", "怎么手机", "如何手机", "为什么手机", "哪个手机好", "什么手机好"})
        expected.push_back(frame);
    expected.push_back("手机推荐");
    expected.push_back("手机最新");
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return panel().contains(q("当前待索引任务")); })) << panel().toStdString();
    const std::vector<std::string> asked = askedKeywords();
    ASSERT_GE(asked.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(asked.begin(), asked.begin() + std::ptrdiff_t(expected.size())), expected);
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
}

// A pattern that does not compile refuses Start, with a box that names it and says what is wrong,
// before any request; mended, the same Start runs with the filter.
TEST_F(FixtureRunTest, BrokenFilterPatternRefusesStart) {
    for (const char* box : {"编辑框_包含规则", "编辑框_排除规则"}) {
        SCOPED_TRACE(box);
        open();
        prepare("手机");
        child<QLineEdit>(box)->setText(q("(手机"));
        QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
        EXPECT_EQ(caption(), q("开始"));
        ASSERT_EQ(warnings.size(), 1u);
        const QString which = q(box).mid(4);
        EXPECT_EQ(warnings[0].first, q("高级设置有误"));
        EXPECT_TRUE(warnings[0].second.startsWith(which + q("“(手机”无法使用：缺少右括号“)”")))
            << warnings[0].second.toStdString();
        EXPECT_TRUE(panel().contains(q("未开始采集：") + which + q("“(手机”无法使用："))) << panel().toStdString();
        QTest::qWait(300);
        EXPECT_TRUE(service.requests().empty());
        warnings.clear();
        window.reset();
    }

    open();
    prepare("手机");
    child<QLineEdit>("编辑框_排除规则")->setText(q("(手机"));
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
    child<QLineEdit>("编辑框_排除规则")->setText(q("(壳)$"));
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
    EXPECT_EQ(caption(), q("停止"));
    ASSERT_TRUE(waitUntil([&] { return panel().contains(q("keyword：手机支架")); })) << panel().toStdString();
    EXPECT_TRUE(panel().contains(q("当前词语：手机壳  符合排除规则：(壳)$  不使用"))) << panel().toStdString();
    EXPECT_EQ(warnings.size(), 1u);
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
}

// Unattended, a broken pattern starts nothing either: nobody is there to answer a box, so the panel
// says why and the window ends, as for any start it cannot make.
TEST_F(FixtureRunTest, UnattendedStartWithABrokenPatternRunsNothing) {
    test::writeFile(home / "data" / "Zelkorkey.ini",
                    gbk("[编辑框]\r\n编辑框_关键词=手机\r\n编辑框_延时=0\r\n编辑框_包含规则=[a-\r\n"));
    MainWindow& w = open({"kw"});
    EXPECT_TRUE(w.unattended());
    EXPECT_EQ(caption(), q("开始"));
    EXPECT_TRUE(warnings.empty());
    EXPECT_TRUE(panel().contains(q("未开始采集：包含规则“[a-”无法使用："))) << panel().toStdString();
    EXPECT_EQ(processEnds, 1);
    QTest::qWait(300);
    EXPECT_TRUE(service.requests().empty());
}

TEST_F(FixtureRunTest, AnswerCapFromTheAdvancedPageBoundsTheRequests) {
    std::string page = test::fixture_body(0, "手机", {"手机壳", "手机支架"});
    page += "<!--" + std::string(2 * 1024 * 1024, 'x') + "-->";
    test::HostileAnswer answer = test::hostile(test::HostileMode::Canned, 0, {}, page);
    answer.contentType = "text/html; charset=utf-8";
    test::HostileServer server(answer);
    test::writeFile(home / "data" / "endpoints.ini",
                    "[endpoints]\n0 = http://127.0.0.1:" + std::to_string(server.port()) + "\n");
    const struct {
        const char* cap;
        bool passes;
    } cases[] = {{"1", false}, {"", true}, {"3", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cap);
        open();
        prepare("手机");
        child<QLineEdit>("编辑框_应答上限")->setText(q(c.cap));
        QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
        EXPECT_TRUE(warnings.empty());
        ASSERT_TRUE(waitUntil([&] { return panel().contains(q("当前待索引任务")); })) << panel().toStdString();
        if (!c.passes) {
            ASSERT_TRUE(waitUntil([&] { return panel().contains(q("本次运行的 1 个请求全部失败")); }));
        }
        EXPECT_EQ(panel().contains(q("keyword：手机壳")), c.passes) << panel().toStdString();
        QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
        window.reset();
    }

    // A cap that is no number refuses Start in the window; unattended, the run takes the default
    // and says so, as zelkor-cli does.
    open();
    prepare("手机");
    child<QLineEdit>("编辑框_应答上限")->setText(q("x"));
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
    EXPECT_EQ(caption(), q("开始"));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_TRUE(warnings[0].second.startsWith(q("应答上限“x”无法使用：应为 1 到 1024 的整数（MiB）")))
        << warnings[0].second.toStdString();
    window.reset();
    test::writeFile(home / "data" / "Zelkorkey.ini",
                    gbk("[编辑框]\r\n编辑框_关键词=手机\r\n编辑框_延时=0\r\n编辑框_应答上限=x\r\n"));
    open({"kw"});
    ASSERT_TRUE(waitUntil([&] { return processEnds == 1; }));
    EXPECT_TRUE(panel().contains(q("应答上限应为 1 到 1024 的整数（MiB），本次用默认的 8"))) << panel().toStdString();
    EXPECT_TRUE(panel().contains(q("挂机词语 手机壳 已保存到"))) << panel().toStdString();
}

// 导出数据 in the format chosen on the page 高级: the results file as always, and beside it the
// same results with their metadata, which is the file shown.
TEST_F(FixtureRunTest, ExportInTheChosenFormatWritesItBesideTheResultsFile) {
    std::vector<std::filesystem::path> shown;
    MainWindowOptions options;
    options.home = home.path();
    options.showFile = [&](const std::filesystem::path& file) { shown.push_back(file); };
    window = std::make_unique<MainWindow>(std::move(options));
    prepare("手机");
    child<QCheckBox>("选择框_自动保存结果")->setChecked(false);
    auto* format = child<ChoiceBox>("编辑框_导出格式");
    ASSERT_NE(format, nullptr);
    format->combo()->setCurrentIndex(1);
    EXPECT_EQ(window->controls()->text(ctl::kExportFormat), "csv");
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return panel().contains(q("当前待索引任务0")) || panel().contains(q("keyword：手机壳定制")); }));
    ASSERT_TRUE(waitUntil([&] { return window->controls()->text(ctl::kCountLabel) == gbk("当前词数：4"); }));
    QTest::qWait(200);
    QTest::mouseClick(child<QLabel>("标签5"), Qt::LeftButton);
    const auto csv = home / "Zelkor长尾词_手机.csv";
    ASSERT_TRUE(waitUntil([&] { return !shown.empty(); }, 10000)); // written off the window thread
    ASSERT_EQ(shown, std::vector<std::filesystem::path>{csv});
    EXPECT_EQ(test::readFile(home.path() / "Zelkor长尾词_手机.txt"), gbk("手机壳\r\n手机支架\r\n手机\r\n手机壳定制\r\n"));
    const std::string table = test::readFile(csv);
    EXPECT_TRUE(table.starts_with("\xEF\xBB\xBFkeyword,source,main_word,parent,depth,time,source_index\r\n手机壳,")) << table;
    EXPECT_NE(table.find("\r\n手机壳定制,百度相关,手机,手机壳,2,"), std::string::npos) << table;
    EXPECT_TRUE(panel().contains(q("已帮您自动保存数据，保存路径为：") + QString::fromStdString(csv.string())))
        << panel().toStdString();

    format->combo()->setCurrentIndex(3);
    QTest::mouseClick(child<QLabel>("标签5"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return shown.size() == 2; }, 10000));
    EXPECT_EQ(shown[1], home / "Zelkor长尾词_手机.xlsx");
    EXPECT_TRUE(test::readFile(shown[1]).starts_with("PK")); // a zip, as xlsx files are
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
}

// The report is asked for on the page 高级: the end of the run offers to open it, and 导出数据
// writes it beside the results file. Not asked for, neither happens.
TEST_F(FixtureRunTest, TheRunsReportIsOfferedAtItsEndWhenAskedFor) {
    for (const bool asked : {false, true}) {
        SCOPED_TRACE(asked);
        TempDir runHome;
        std::filesystem::create_directories(runHome / "data");
        service.writeEndpoints(runHome / "data" / "endpoints.ini");
        std::vector<std::filesystem::path> opened, shown;
        MainWindowOptions options;
        options.home = runHome.path();
        options.showFile = [&](const std::filesystem::path& file) { shown.push_back(file); };
        options.openFile = [&](const std::filesystem::path& file) { opened.push_back(file); };
        window = std::make_unique<MainWindow>(std::move(options));
        prepare("手机");
        auto* choice = child<QCheckBox>("选择框_导出报告");
        ASSERT_NE(choice, nullptr);
        EXPECT_FALSE(choice->isChecked());
        choice->setChecked(asked);
        auto* progress = child<QLabel>("标签_进度");
        auto* open = child<QPushButton>("按钮_打开报告");
        ASSERT_TRUE(progress && open);
        QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
        ASSERT_TRUE(waitUntil([&] { return progress->text().startsWith(q("采集完成")); }, 20000));
        const std::filesystem::path report = runHome / "Zelkor长尾词_手机.html";
        EXPECT_EQ(open->isHidden(), !asked);
        if (asked) {
            QTest::mouseClick(open, Qt::LeftButton);
            ASSERT_TRUE(waitUntil([&] { return !opened.empty(); }, 10000));
            EXPECT_EQ(opened, std::vector<std::filesystem::path>{report});
            const std::string html = test::readFile(report);
            EXPECT_NE(html.find("<th>状态</th><td>finished</td>"), std::string::npos);
            EXPECT_NE(html.find("<tr><td>手机壳定制<td>百度相关<td>手机<td>手机壳<td class=\"n\">2<td>"), std::string::npos)
                << html.substr(html.find("id=\"results\""));
            EXPECT_NE(html.find("id=\"map-1\""), std::string::npos);
            EXPECT_TRUE(panel().contains(q("采集报告已保存到：") + QString::fromStdString(report.string())))
                << panel().toStdString();
            std::filesystem::remove(report);
        }
        QTest::mouseClick(child<QLabel>("标签5"), Qt::LeftButton);
        ASSERT_TRUE(waitUntil([&] { return !shown.empty(); }, 10000));
        EXPECT_EQ(shown, std::vector<std::filesystem::path>{runHome / "Zelkor长尾词_手机.txt"});
        EXPECT_EQ(std::filesystem::exists(report), asked);
        EXPECT_EQ(opened.size(), asked ? 1u : 0u); // 导出数据 writes the report; it opens nothing
        window.reset();
    }
}

// The keyword options of 高级 reach the run and its export: the depth bound, hits, root words and tags.
TEST_F(FixtureRunTest, KeywordOptionsFromTheAdvancedPage) {
    std::vector<std::filesystem::path> shown;
    MainWindowOptions options;
    options.home = home.path();
    options.showFile = [&](const std::filesystem::path& file) { shown.push_back(file); };
    window = std::make_unique<MainWindow>(std::move(options));
    prepare("手机");
    child<QLineEdit>("编辑框_最大深度")->setText(q("1"));
    child<QCheckBox>("选择框_统计出现次数")->setChecked(true);
    child<QCheckBox>("选择框_词根与意图")->setChecked(true);
    child<ChoiceBox>("编辑框_导出格式")->combo()->setCurrentIndex(1);
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return window->controls()->text(ctl::kCountLabel) == gbk("当前词数：3"); }));
    ASSERT_TRUE(waitUntil([&] { return panel().contains(q("当前待索引任务0")); })) << panel().toStdString();
    QTest::mouseClick(child<QLabel>("标签5"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !shown.empty(); }, 10000));
    const std::string table = test::readFile(home / "Zelkor长尾词_手机.csv");
    EXPECT_TRUE(table.starts_with(
        "\xEF\xBB\xBFkeyword,source,main_word,parent,depth,time,source_index,hits,services,root,tags\r\n"))
        << table;
    EXPECT_NE(table.find("\r\n手机支架,百度相关,手机,手机,1,"), std::string::npos) << table;
    EXPECT_NE(table.find(",0,1,1,支架,\r\n"), std::string::npos) << table;
    EXPECT_EQ(table.find("手机壳定制"), std::string::npos) << table; // depth 2: never asked for
    for (const auto& request : service.requests()) EXPECT_EQ(request.keyword, "手机");
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
}

// A run in the SQLite store killed while its second keyword is asked, by another process on the same
// home: its seed and that seed's phrases are kept, the rest is not.
void killRunInTheStore(test::FixtureService& service, const std::filesystem::path& home) {
    service.clearRequests();
    test::ChildOptions options;
    options.dropEnvironment = {"ZELKOR_"};
    options.whileRunning = [&](pid_t pid, const std::string&) {
        const std::size_t asked = service.requests().size();
        if (asked == 1) service.setFault(0, test::FixtureFault::Held); // well within the 1 s delay
        if (asked >= 2) ::kill(pid, SIGKILL);
    };
    const test::ChildOutcome child =
        test::runChild(ZELKOR_CLI_PATH,
                       {"--home", home.string(), "--endpoints", (home / "data" / "endpoints.ini").string(), "--store",
                        "sqlite", "--delay", "1", "--sources", "0", "--limit", "0", "手机"},
                       options);
    service.setFault(0, test::FixtureFault::None);
    EXPECT_EQ(child.signal, SIGKILL) << child.err;
    service.clearRequests();
}

// After such a crash the next start asks whether to continue. Yes: the run goes on from its last
// kept keyword with its own seeds and sources, and ends with exactly the results of a run left
// alone; no: nothing starts and the next Start is a new run of the boxes' seeds.
TEST_F(FixtureRunTest, ContinuesARunTheStoreKeptAfterACrashWhenAsked) {
    for (const bool yes : {true, false}) {
        SCOPED_TRACE(yes ? "yes" : "no");
        TempDir runHome;
        std::filesystem::create_directories(runHome / "data");
        service.writeEndpoints(runHome / "data" / "endpoints.ini");
        killRunInTheStore(service, runHome.path());
        // The boxes now say something else: the run's own options come from the store.
        test::writeFile(runHome / "data" / "Zelkorkey.ini",
                        gbk("[编辑框]\r\n编辑框_关键词=电脑\r\n编辑框_延时=0\r\n编辑框_运行存储=sqlite\r\n"));

        std::vector<std::pair<QString, QString>> questions;
        MainWindowOptions options;
        options.home = runHome.path();
        options.showFile = [](const std::filesystem::path&) {};
        options.showWarning = [this](const QString& title, const QString& text) { warnings.push_back({title, text}); };
        options.askYesNo = [&](const QString&, const QString& question, const QString& detail,
                               std::function<void(bool)> answer) {
            questions.push_back({question, detail});
            answer(yes);
        };
        window = std::make_unique<MainWindow>(std::move(options));
        ASSERT_TRUE(waitUntil([&] { return !questions.empty(); }, 5000));
        ASSERT_EQ(questions.size(), 1u);
        EXPECT_EQ(questions[0].first, q("继续上次未完成的采集？"));
        EXPECT_TRUE(questions[0].second.contains(q("关键词：手机"))) << questions[0].second.toStdString();
        EXPECT_TRUE(questions[0].second.contains(q("已查询 1 个词，已采集 3 个结果"))) << questions[0].second.toStdString();
        if (!yes) {
            QTest::qWait(300);
            EXPECT_EQ(caption(), q("开始"));
            EXPECT_TRUE(service.requests().empty());
            prepare("电脑");
            QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
            ASSERT_TRUE(waitUntil([&] { return panel().contains(q("当前待索引任务")); })) << panel().toStdString();
            EXPECT_EQ(askedKeywords().front(), "电脑");
            QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
            window.reset();
            continue;
        }
        // The store is opened and the run loaded off the window thread; then the run goes.
        ASSERT_TRUE(waitUntil(
            [&] { return caption() == q("停止") && child<QAbstractButton>("按钮_开始")->isEnabled(); }, 10000));
        EXPECT_EQ(child<QPlainTextEdit>("编辑框_关键词")->toPlainText(), q("手机"));
        // The queue pass ends with the auto-save of its fourth keyword (the run's own delay is 1 s).
        ASSERT_TRUE(waitUntil([&] { return panel().count(q("已帮您自动保存数据，保存路径为：")) == 4; }, 30000))
            << panel().toStdString();
        // The keyword in flight at the crash is asked again; the seed is not.
        EXPECT_EQ(askedKeywords(), (std::vector<std::string>{"手机壳", "手机支架", "手机", "手机壳定制"}));
        EXPECT_EQ(test::readFile(runHome / "Zelkor长尾词_手机.txt"), gbk("手机壳\r\n手机支架\r\n手机\r\n手机壳定制\r\n"));
        EXPECT_TRUE(warnings.empty());
        QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
        window.reset();

        // Continued to its end, it is history: the next start asks nothing.
        questions.clear();
        MainWindowOptions again;
        again.home = runHome.path();
        again.askYesNo = [&](const QString&, const QString& question, const QString&, std::function<void(bool)>) {
            questions.push_back({question, {}});
        };
        window = std::make_unique<MainWindow>(std::move(again));
        QTest::qWait(200);
        EXPECT_TRUE(questions.empty());
        window.reset();
    }
}

// Unattended, nobody answers: the question is not asked and the command line's run goes ahead as a
// new run; the one cut short stays in the store.
TEST_F(FixtureRunTest, UnattendedStartAsksNothingAboutARunCutShort) {
    killRunInTheStore(service, home.path());
    test::writeFile(home / "data" / "Zelkorkey.ini",
                    gbk("[编辑框]\r\n编辑框_关键词=手机\r\n编辑框_延时=0\r\n编辑框_运行存储=sqlite\r\n"));
    int asked = 0;
    MainWindowOptions options;
    options.home = home.path();
    options.arguments = {"kw"};
    options.afterClose = [this] { ++processEnds; };
    options.askYesNo = [&](const QString&, const QString&, const QString&, std::function<void(bool)>) { ++asked; };
    window = std::make_unique<MainWindow>(std::move(options));
    EXPECT_EQ(caption(), q("停止"));
    ASSERT_TRUE(waitUntil([&] { return processEnds == 1; }));
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(askedKeywords().front(), "手机"); // from the seed: a new run
    std::string error;
    auto store = SqliteRunStore::open(home / "data" / "runs.sqlite", &error);
    ASSERT_TRUE(store) << error;
    const auto runs = *store->listRuns();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].state, StoredRunState::Interrupted);
    EXPECT_EQ(runs[1].state, StoredRunState::Finished);
}

// The store choice is kept in the settings file; a store the command line names by its path is
// shown and kept as it is, and one that cannot be used refuses Start.
TEST_F(FixtureRunTest, StoreChoiceIsKeptAndABadOneRefusesStart) {
    open();
    auto* store = child<ChoiceBox>("编辑框_运行存储");
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(store->combo()->currentIndex(), 0);
    store->combo()->setCurrentIndex(1);
    EXPECT_EQ(window->controls()->text(ctl::kRunStore), "sqlite");
    prepare("手机");
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return panel().contains(q("keyword：手机壳定制")); })) << panel().toStdString();
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
    EXPECT_TRUE(std::filesystem::exists(home / "data" / "runs.sqlite"));
    window->close();
    EXPECT_NE(test::readFile(home / "data" / "Zelkorkey.ini").find(gbk("编辑框_运行存储=sqlite\r\n")), std::string::npos);
    window.reset();

    const std::string other = "sqlite:" + (home / "other.sqlite").string();
    test::writeFile(home / "data" / "Zelkorkey.ini", gbk(("[编辑框]\r\n编辑框_运行存储=" + other + "\r\n").c_str()));
    open();
    EXPECT_EQ(child<ChoiceBox>("编辑框_运行存储")->combo()->currentText(), QString::fromStdString(other));
    EXPECT_EQ(window->controls()->text(ctl::kRunStore), other);
    window->close();
    EXPECT_NE(test::readFile(home / "data" / "Zelkorkey.ini").find(gbk(("编辑框_运行存储=" + other).c_str())),
              std::string::npos);
    window.reset();

    test::writeFile(home / "data" / "Zelkorkey.ini", gbk("[编辑框]\r\n编辑框_运行存储=redis\r\n"));
    open();
    prepare("手机");
    service.clearRequests();
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
    EXPECT_EQ(caption(), q("开始"));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_TRUE(warnings[0].second.contains(q("unknown store 'redis'"))) << warnings[0].second.toStdString();
    QTest::qWait(200);
    EXPECT_TRUE(service.requests().empty());
    window.reset();

    // A shared store, kept there for zelkor-cli's workers: the window says so and runs on its own.
    test::writeFile(home / "data" / "Zelkorkey.ini", gbk("[编辑框]\r\n编辑框_运行存储=redis://127.0.0.1:1/0\r\n"));
    warnings.clear();
    open();
    prepare("手机");
    EXPECT_EQ(child<ChoiceBox>("编辑框_运行存储")->combo()->currentText(),
              q("Redis 共享（仅 zelkor-cli）：redis://127.0.0.1:1/0"));
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
    EXPECT_TRUE(warnings.empty());
    EXPECT_TRUE(panel().contains(q("只供 zelkor-cli 的共享采集使用，本次使用默认存储"))) << panel().toStdString();
    ASSERT_TRUE(waitUntil([&] { return panel().contains(q("keyword：手机壳定制")); })) << panel().toStdString();
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
    window->close();
    EXPECT_NE(test::readFile(home / "data" / "Zelkorkey.ini").find(gbk("编辑框_运行存储=redis://127.0.0.1:1/0\r\n")),
              std::string::npos);
}

// A broken endpoints file must not send the run to the public services it was meant to replace.
TEST_F(FixtureRunTest, UnusableEndpointsFileAsksNobody) {
    test::writeFile(home / "data" / "endpoints.ini",
                    "[endpoints]\n0 = " + service.origin() + "\nnot a line\n");
    open();
    prepare("手机");
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
    EXPECT_TRUE(panel().contains(q("服务地址文件无法使用，本次不查询任何来源："))) << panel().toStdString();
    EXPECT_TRUE(panel().contains(q("expected key = value"))) << panel().toStdString();
    ASSERT_TRUE(waitUntil([&] { return panel().contains(q("当前待索引任务0")); }, 10000));
    EXPECT_TRUE(service.requests().empty());
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
}

TEST_F(FixtureRunTest, UnattendedStartMinimisesRunsAndClosesTheWindow) {
    test::writeFile(home / "data" / "Zelkorkey.ini",
                    gbk("[编辑框]\r\n编辑框_关键词=手机\r\n编辑框_延时=0\r\n编辑框_挖掘数量=7\r\n"));
    MainWindow& w = open({"kw"});
    EXPECT_TRUE(w.unattended());
    EXPECT_TRUE(w.windowState() & Qt::WindowMinimized);
    EXPECT_EQ(caption(), q("停止")); // the run started during creation
    EXPECT_EQ(w.windowTitle(), q("Zelkor长尾词采集工具v3.4"));
    EXPECT_EQ(child<QLineEdit>("编辑框_挖掘数量")->text(), q("100000"));
    EXPECT_EQ(child<QLineEdit>("编辑框_挂机keyword")->text(), QString::fromStdString((home / "kw").string()));
    EXPECT_TRUE(w.controls()->checked(ctl::kHangup));

    ASSERT_TRUE(waitUntil([&] { return processEnds == 1; })); // closed itself at the end of the queue pass
    for (const char* keyword : {"手机壳", "手机支架", "手机", "手机壳定制"})
        EXPECT_TRUE(std::filesystem::exists(home / "kw" / (std::string(keyword) + ".zr"))) << keyword;
    EXPECT_FALSE(panel().contains(q("keyword："))); // accepted keywords are not shown
    const std::string saved = test::readFile(home / "data" / "Zelkorkey.ini");
    EXPECT_NE(saved.find(gbk("编辑框_挖掘数量=100000")), std::string::npos) << saved;
}

TEST_F(FixtureRunTest, UnattendedRunClosesAtTheCountLimit) {
    test::writeFile(home / "data" / "Zelkorkey.ini",
                    gbk("[编辑框]\r\n编辑框_关键词=手机\r\n编辑框_延时=0\r\n"));
    // The limit the command line set is read during the run: it is lowered while the first answer
    // is held back, so the run sees the lower one from its first phrase on.
    service.setFault(0, test::FixtureFault::Held);
    open({"kw"});
    ASSERT_TRUE(waitUntil([&] { return service.requests().size() == 1; }, 10000));
    window->controls()->setText(ctl::kLimit, "2");
    service.setFault(0, test::FixtureFault::None);
    ASSERT_TRUE(waitUntil([&] { return processEnds == 1; }));
    EXPECT_TRUE(std::filesystem::exists(home / "kw" / "手机壳.zr"));
    EXPECT_TRUE(std::filesystem::exists(home / "kw" / "手机支架.zr"));
    EXPECT_FALSE(std::filesystem::exists(home / "kw" / "手机.zr"));
    EXPECT_EQ(service.requests().size(), 1u);
}

// The status bar follows the run a few times a second, and a run that ends by itself says so
// there: the words, the time, why it ended and the results file, with a button that shows it.
// The Start button keeps its caption rule: 停止 until pressed.
TEST_F(FixtureRunTest, StatusBarFollowsTheRunAndSaysHowItEnded) {
    const struct {
        const char* limit;
        const char* ending;
        int words;
    } cases[] = {{"30", "采集完成：4 个词，用时 ", 4}, {"2", "采集完成：2 个词，用时 ", 2}};
    const char* const reasons[] = {"（队列已空）", "（已达到挖掘数量上限）"};
    service.setLatency(std::chrono::milliseconds(300)); // long enough to watch the run go
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.limit);
        std::vector<std::filesystem::path> shown;
        MainWindowOptions options;
        options.home = home.path();
        options.showFile = [&](const std::filesystem::path& file) { shown.push_back(file); };
        window = std::make_unique<MainWindow>(std::move(options));
        prepare("手机");
        child<QLineEdit>("编辑框_挖掘数量")->setText(q(c.limit));
        auto* progress = child<QLabel>("标签_进度");
        auto* open = child<QPushButton>("按钮_打开目录");
        ASSERT_TRUE(progress && open);
        EXPECT_TRUE(progress->text().isEmpty());
        QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);

        // While it runs: words, queue, words per minute and time so far.
        ASSERT_TRUE(waitUntil([&] { return progress->text().startsWith(q("词数 ")); }, 10000));
        EXPECT_TRUE(progress->text().contains(q(" · 队列 "))) << progress->text().toStdString();
        EXPECT_TRUE(progress->text().contains(q(" · 每分钟 "))) << progress->text().toStdString();
        EXPECT_TRUE(progress->text().contains(q(" · 用时 "))) << progress->text().toStdString();
        if (i == 0) { // the run with the limit ends at its first answer
            ASSERT_TRUE(waitUntil([&] { return progress->text().contains(q("层级 ")); }, 10000))
                << progress->text().toStdString();
        }
        EXPECT_TRUE(open->isHidden());

        ASSERT_TRUE(waitUntil([&] { return progress->text().startsWith(q("采集完成")); }));
        const QString text = progress->text();
        const std::filesystem::path file = home / "Zelkor长尾词_手机.txt";
        EXPECT_TRUE(text.startsWith(q(c.ending))) << text.toStdString();
        EXPECT_TRUE(text.contains(q(reasons[i]))) << text.toStdString();
        EXPECT_TRUE(text.endsWith(q("结果文件：") + QString::fromStdString(file.string()))) << text.toStdString();
        EXPECT_EQ(test::readFile(file).empty(), false);
        EXPECT_EQ(caption(), q("停止"));
        ASSERT_FALSE(open->isHidden());
        QTest::mouseClick(open, Qt::LeftButton);
        EXPECT_EQ(shown, std::vector<std::filesystem::path>{file});

        // Stop after the end leaves the line as it is; the next Start begins a fresh one.
        QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
        EXPECT_EQ(progress->text(), text);
        window.reset();
        std::filesystem::remove(file);
    }
}

// A stopped run says so, without calling it finished.
TEST_F(FixtureRunTest, StatusBarSaysARunWasStopped) {
    open();
    prepare("手机");
    service.setFault(0, test::FixtureFault::Silent);
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return service.requests().size() == 1; }, 10000));
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
    service.setFault(0, test::FixtureFault::None);
    auto* progress = child<QLabel>("标签_进度");
    ASSERT_TRUE(waitUntil([&] { return progress->text().startsWith(q("采集已停止：0 个词，用时 ")); }, 5000))
        << progress->text().toStdString();
    QTest::qWait(600); // later looks at the run leave the line alone
    EXPECT_TRUE(progress->text().startsWith(q("采集已停止："))) << progress->text().toStdString();
}

// A service that keeps failing, or that refuses us, is marked in the source list while the run
// goes on, without retries asked for; its last failure is in the tooltip, the panel gets its
// line of the summary, and the next Start clears the mark.
TEST_F(FixtureRunTest, AFailingServiceIsMarkedInTheSourceList) {
    const struct {
        test::FixtureFault fault;
        const char* tooltip;
        const char* summary;
    } cases[] = {
        {test::FixtureFault::Garbage500, "请求失败（无应答、出错或应答不完整）", "来源统计 百度下拉：请求 5，有结果 0，无结果 0，失败 5"},
        {test::FixtureFault::Always429, "被拦截（HTTP 403、429、503 或验证页）", "来源统计 百度下拉：请求 5，有结果 0，无结果 0，失败 0，被拦截 5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tooltip);
        open();
        prepare("手机");
        auto* list = child<QListWidget>("选择列表框1");
        list->item(1)->setCheckState(Qt::Checked);
        service.setFault(1, c.fault);
        QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
        ASSERT_TRUE(waitUntil([&] { return list->item(1)->data(MainWindow::kTroubleRole).toBool(); }, 10000));
        EXPECT_TRUE(list->item(1)->toolTip().startsWith(q("百度下拉：连续 "))) << list->item(1)->toolTip().toStdString();
        EXPECT_TRUE(list->item(1)->toolTip().contains(q(c.tooltip))) << list->item(1)->toolTip().toStdString();
        EXPECT_FALSE(list->item(1)->icon().isNull());
        EXPECT_FALSE(list->item(0)->data(MainWindow::kTroubleRole).toBool());
        EXPECT_TRUE(list->item(0)->toolTip().isEmpty());
        EXPECT_TRUE(window->controls()->itemChecked(ctl::kSourceList, 1)); // a mark is no tick

        auto* progress = child<QLabel>("标签_进度");
        ASSERT_TRUE(waitUntil([&] { return progress->text().startsWith(q("采集完成")); }));
        EXPECT_TRUE(progress->text().contains(q("（队列已空；5 个请求没有得到应答）"))) << progress->text().toStdString();
        EXPECT_TRUE(panel().contains(q(c.summary))) << panel().toStdString();
        EXPECT_EQ(panel().count(q("来源统计")), 1) << panel().toStdString(); // only the failing one
        EXPECT_TRUE(panel().contains(q("可点“测试来源”"))) << panel().toStdString();

        QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton); // Stop
        service.setFault(1, test::FixtureFault::None);
        QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton); // a new run
        EXPECT_FALSE(list->item(1)->data(MainWindow::kTroubleRole).toBool());
        EXPECT_TRUE(list->item(1)->toolTip().isEmpty());
        EXPECT_TRUE(list->item(1)->icon().isNull());
        QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
        window.reset();
    }
}

// The run's end says its outcome as zelkor-cli's exit status does: keywords unanswered, or no answer.
TEST_F(FixtureRunTest, TheEndNoticeStatesTheOutcome) {
    const struct {
        const char* seeds;
        int failFirst;
        const char* notice;
        const char* status;
    } cases[] = {
        {"手机\n平板电脑", 1, "采集未完成：1 个关键词没有得到应答", "1 个关键词没有得到应答"},
        {"手机\n平板电脑", 2, "采集没有结果：没有任何请求得到应答", "2 个关键词没有得到应答"},
        {"手机", 0, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seeds + std::string(" ") + std::to_string(c.failFirst));
        open();
        prepare(c.seeds);
        service.setFailFirst(0, c.failFirst);
        QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
        auto* progress = child<QLabel>("标签_进度");
        ASSERT_TRUE(waitUntil([&] { return progress->text().startsWith(q("采集完成")); }, 10000));
        if (c.notice) {
            ASSERT_TRUE(waitUntil([&] { return panel().contains(q(c.notice)); })) << panel().toStdString();
            EXPECT_TRUE(progress->text().contains(q(c.status))) << progress->text().toStdString();
        } else {
            EXPECT_FALSE(panel().contains(q("采集未完成"))) << panel().toStdString();
            EXPECT_FALSE(panel().contains(q("采集没有结果"))) << panel().toStdString();
            EXPECT_FALSE(progress->text().contains(q("关键词没有得到应答"))) << progress->text().toStdString();
        }
        QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
        window.reset();
    }
}

// A seed line GBK cannot hold is left out with a notice; its "?" form is never asked. Going on
// directly once every proxy is dropped is a box of 高级.
TEST_F(FixtureRunTest, ASeedGbkCannotHoldIsLeftOut) {
    open();
    child<QPlainTextEdit>("编辑框_关键词")->setPlainText(QString::fromUtf8("핸드폰 케이스\n手机"));
    child<SpinEdit>("编辑框_延时")->setTextValue(q("0"));
    auto* fallback = child<QCheckBox>("选择框_代理失效直连");
    ASSERT_NE(fallback, nullptr);
    EXPECT_FALSE(window->controls()->checked(ctl::kProxyFallback));
    fallback->setChecked(true);
    EXPECT_TRUE(window->controls()->checked(ctl::kProxyFallback));
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
    auto* progress = child<QLabel>("标签_进度");
    ASSERT_TRUE(waitUntil([&] { return progress->text().startsWith(q("采集完成")); }, 10000));
    EXPECT_TRUE(panel().contains(q("关键词第 1 行含有 GBK 无法表示的字符，已跳过"))) << panel().toStdString();
    EXPECT_EQ(askedKeywords().front(), "手机");
    for (const std::string& keyword : askedKeywords())
        EXPECT_EQ(keyword.find('?'), std::string::npos) << keyword;
    QTest::mouseClick(child<QAbstractButton>("按钮_开始"), Qt::LeftButton);
}

// 测试来源 asks each ticked service once for the first seed, off the window thread, and its table
// says what zelkor-cli probe says of the same services.
TEST_F(FixtureRunTest, SourceProbeTableMatchesTheCommandLineProbe) {
    open();
    prepare("手机\n电脑");
    auto* list = child<QListWidget>("选择列表框1");
    for (int i : {4, 7})
        list->item(i)->setCheckState(Qt::Checked);
    service.setFault(4, test::FixtureFault::Always429);
    service.setFault(7, test::FixtureFault::Garbage500);
    QTest::mouseClick(child<QAbstractButton>("按钮_测试来源"), Qt::LeftButton);
    SourceProbeDialog* dialog = window->probeDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    auto* state = dialog->findChild<QLabel*>(q("标签_测试状态"));
    ASSERT_TRUE(waitUntil([&] { return state->text().startsWith(q("测试完成")); }, 20000)) << state->text().toStdString();
    EXPECT_EQ(state->text(), q("测试完成：3 个来源中 1 个有结果。"));
    EXPECT_EQ(askedKeywords(), (std::vector<std::string>{"手机", "手机", "手机"}));
    EXPECT_TRUE(panel().isEmpty()); // nothing of a run: no panel line, no file, no marker
    EXPECT_FALSE(std::filesystem::exists(home / "Zelkor长尾词_手机\r\n电脑.txt"));

    QTableWidget* table = dialog->table();
    ASSERT_EQ(table->rowCount(), 3);
    const struct {
        const char* label;
        const char* answerClass;
        const char* cliClass;
    } rows[] = {{"百度相关", "有结果（ok）", "ok"}, {"淘宝下拉", "被拦截（blocked）", "blocked"},
                {"神马相关", "失败（failed）", "failed"}};
    const test::ChildOutcome cli =
        test::runChild(ZELKOR_CLI_PATH, {"probe", "--home", home.path().string(), "--endpoints",
                                         (home / "data" / "endpoints.ini").string(), "--source", "0,4,7", "--json", "手机"});
    ASSERT_EQ(cli.exitCode, 0) << cli.err;
    for (int r = 0; r < 3; ++r) {
        SCOPED_TRACE(rows[r].label);
        EXPECT_EQ(table->item(r, 0)->text(), q(rows[r].label));
        EXPECT_EQ(table->item(r, 2)->text(), q(rows[r].answerClass));
        // The same phrases in the same order as the command line's JSON line for the source.
        std::string phrases;
        const QStringList words = table->item(r, 4)->text().split(q("、"), Qt::SkipEmptyParts);
        EXPECT_EQ(table->item(r, 3)->text(), QString::number(words.size()));
        for (const QString& word : words)
            phrases += (phrases.empty() ? "\"" : ",\"") + word.toStdString() + "\"";
        const std::string line = "\"label\":\"" + q(rows[r].label).toStdString() + "\"";
        const std::size_t at = cli.out.find(line);
        ASSERT_NE(at, std::string::npos) << cli.out;
        const std::string json = cli.out.substr(at, cli.out.find('\n', at) - at);
        EXPECT_NE(json.find("\"phrases\":[" + phrases + "],\"class\":\"" + rows[r].cliClass + "\""), std::string::npos)
            << json;
    }
    EXPECT_FALSE(table->item(0, 4)->text().isEmpty());

    // Closing the table stops a probe in flight at once.
    service.setFault(0, test::FixtureFault::Silent);
    QTest::mouseClick(child<QAbstractButton>("按钮_测试来源"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return service.requests().size() >= 4; }, 10000));
    EXPECT_TRUE(dialog->running());
    dialog->close();
    EXPECT_FALSE(dialog->running());
    service.setFault(0, test::FixtureFault::None);
}

} // namespace
} // namespace zelkor::app
