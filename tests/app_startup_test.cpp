// Start-up tasks: their order, the one-time disclaimer and the desktop entry.

#include "app/platform/desktop_entry.h"
#include "app/startup.h"
#include "support/app_support.h"
#include "support/temp_dir.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace zelkor::app {
namespace {

using test::gbk;
using test::q;
using test::TempDir;

TEST(StartupTasks, RunInStepOrderOnceSkippingEmptySlots) {
    std::vector<int> ran;
    StartupTasks tasks;
    tasks.set(StartupStep::DesktopEntry, [&] { ran.push_back(6); });
    tasks.set(StartupStep::LogWindowCreated, [&] { ran.push_back(1); });
    tasks.set(StartupStep::UpdateCheck, [&] { ran.push_back(5); });
    tasks.set(StartupStep::Disclaimer, [&] { ran.push_back(3); });
    tasks.run();
    tasks.run();
    EXPECT_EQ(ran, (std::vector<int>{1, 3, 5, 6}));
}

TEST(StartupTasks, RunLaterOnTheWindowThread) {
    test::qtApp();
    QWidget window;
    StartupTasks tasks;
    int runs = 0;
    tasks.set(StartupStep::LogWindowCreated, [&] { ++runs; });
    runStartupTasksLater(&window, std::move(tasks));
    QCoreApplication::processEvents();
    EXPECT_EQ(runs, 0);
    ASSERT_TRUE(test::waitUntil([&] { return runs == 1; }, 5000));
    QTest::qWait(1200);
    EXPECT_EQ(runs, 1);
}

// The disclaimer asks for "确定": the buttons of every message box say it.
TEST(Look, MessageBoxButtonsAreInChinese) {
    test::qtApp();
    QMessageBox box(QMessageBox::NoIcon, q("免责声明"), q("x"), QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Ok)->text(), q("确定"));
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), q("取消"));
}

class ShellTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::qtApp();
        env.home = home.path();
        env.documents = home / "文档";
        env.desktop = home / "desktop";
        env.programFile = home / "bin" / "zelkor";
        env.clock = [] { return LocalTime{2021, 2, 7, 10, 0, 5}; };
        env.askDisclaimer = [this](const QString& title, const QString& text) {
            asked.push_back({title, text});
            return answer;
        };
    }
    std::filesystem::path marker() const { return env.documents / "zrbq.dll"; }

    TempDir home;
    ShellEnvironment env;
    std::vector<std::pair<QString, QString>> asked;
    bool answer = true;
};

TEST_F(ShellTest, DisclaimerAskedUntilAcceptedThenRewrittenSilently) {
    answer = false;
    EXPECT_FALSE(checkDisclaimer(env));
    EXPECT_FALSE(std::filesystem::exists(marker()));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].first, q("免责声明"));
    EXPECT_TRUE(asked[0].second.startsWith(q("免责声明：\n  1、本软件是Zelkor")));
    EXPECT_TRUE(asked[0].second.endsWith(q("本信息仅弹出一次。")));

    answer = true;
    EXPECT_TRUE(checkDisclaimer(env));
    EXPECT_EQ(asked.size(), 2u);
    const std::string content = test::readFile(marker());
    EXPECT_EQ(content, disclaimerMarkerText());
    EXPECT_EQ(content.rfind(gbk("您已经同意www.zelkor.example的软件使用协议\r\n\r\n免责声明：\r\n"), 0), 0u);

    test::writeFile(marker(), "old");
    EXPECT_TRUE(checkDisclaimer(env));
    EXPECT_EQ(asked.size(), 2u); // not asked again
    EXPECT_EQ(test::readFile(marker()), disclaimerMarkerText());
}

TEST_F(ShellTest, DisclaimerMessageBoxOkAndCancel) {
    env.askDisclaimer = nullptr; // the real box
    for (const auto button : {QMessageBox::Cancel, QMessageBox::Ok}) {
        QString title;
        QTimer::singleShot(200, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            title = box->windowTitle();
            box->button(button)->click();
        });
        const bool written = checkDisclaimer(env);
        EXPECT_EQ(title, q("免责声明"));
        EXPECT_EQ(written, button == QMessageBox::Ok);
        EXPECT_EQ(std::filesystem::exists(marker()), button == QMessageBox::Ok);
    }
}

TEST_F(ShellTest, ShellTasksLogTwiceAndMakeTheDesktopEntry) {
    std::filesystem::create_directories(home / "data");
    std::filesystem::create_directories(env.desktop);
    test::writeFile(env.desktop / "other.desktop", "x");
    StartupTasks tasks;
    addShellTasks(tasks, env);
    tasks.run();
    EXPECT_EQ(test::readFile(home / "data" / "运行日志2021年2月7日.txt"),
              gbk("2021年2月7日10时0分5秒   启动窗口线程\r\n2021年2月7日10时0分5秒   启动窗口创建完毕\r\n"));
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(env.desktop / "Zelkor长尾词采集工具.desktop"));
    EXPECT_EQ(test::readFile(env.desktop / "other.desktop"), "x");
}

TEST_F(ShellTest, DesktopEntryIsReplacedAtEveryStart) {
    std::filesystem::create_directories(env.desktop);
    const auto entry = env.desktop / "Zelkor长尾词采集工具.desktop";
    test::writeFile(entry, "stale");
    ASSERT_TRUE(
        platform::writeDesktopEntry(env.desktop, "Zelkor长尾词采集工具", home / "my $dir" / "zelkor"));
    const std::string content = test::readFile(entry);
    EXPECT_EQ(content.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(content.find("Name=Zelkor长尾词采集工具\n"), std::string::npos);
    EXPECT_NE(content.find("Exec=\"" + (home.path() / "my \\\\$dir" / "zelkor").string() + "\"\n"),
              std::string::npos)
        << content;
    EXPECT_NE(content.find("Path=" + (home.path() / "my $dir").string() + "\n"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat(entry.c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);

    std::filesystem::remove(entry); // deleted by the user: back at the next start
    EXPECT_TRUE(platform::writeDesktopEntry(env.desktop, "Zelkor长尾词采集工具", home / "zelkor"));
    EXPECT_TRUE(std::filesystem::exists(entry));
}

// What desktop-file-validate says about a file: nothing when the file is valid.
QString validatorComplaints(const std::filesystem::path& file) {
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty()) return QStringLiteral("desktop-file-validate is missing (scripts/setup installs it)");
    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(validator, {QString::fromStdString(file.string())});
    if (!run.waitForFinished(30000)) return QStringLiteral("desktop-file-validate did not end");
    const QString said = QString::fromUtf8(run.readAll());
    return run.exitCode() == 0 ? said : said + QStringLiteral(" (exit status non-zero)");
}

// Characters that mean something in Exec= reach the program as they are, and launchers show the
// program's icon.
TEST_F(ShellTest, DesktopEntryQuotesExecAndNamesTheIcon) {
    std::filesystem::create_directories(env.desktop);
    const struct {
        const char* dir;
        const char* exec; // the directory as written inside Exec="…"
    } cases[] = {{"100%棉", "100%%棉"}, {"a%%b", "a%%%%b"}, {"%f $x", "%%f \\\\$x"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dir);
        ASSERT_TRUE(platform::writeDesktopEntry(env.desktop, "Zelkor长尾词采集工具", home / c.dir / "zelkor"));
        const auto entry = env.desktop / "Zelkor长尾词采集工具.desktop";
        const std::string content = test::readFile(entry);
        EXPECT_NE(content.find("Exec=\"" + (home.path() / c.exec / "zelkor").string() + "\"\n"), std::string::npos)
            << content;
        EXPECT_NE(content.find("Path=" + (home.path() / c.dir).string() + "\n"), std::string::npos) << content;
        EXPECT_NE(content.find("\nIcon=zelkor\n"), std::string::npos) << content;
        EXPECT_EQ(validatorComplaints(entry), QString());
    }
}

TEST_F(ShellTest, DesktopEntryFailuresWriteNothing) {
    std::filesystem::create_directories(env.desktop);
    test::writeFile(env.desktop / "a.desktop", "stale");
    EXPECT_FALSE(platform::writeDesktopEntry(env.desktop, "a", "zelkor")); // no directory part
    EXPECT_FALSE(std::filesystem::exists(env.desktop / "a.desktop"));
    EXPECT_FALSE(platform::writeDesktopEntry(home / "missing", "a", home / "zelkor"));
    EXPECT_TRUE(platform::writeDesktopEntry(env.desktop, "/some/where/名字.lnk", home / "zelkor"));
    EXPECT_TRUE(std::filesystem::exists(env.desktop / "名字.desktop"));
}

} // namespace
} // namespace zelkor::app
