#include "app/run_log.h"
#include "support/temp_dir.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace zelkor::app {
namespace {

using test::TempDir;

Text gbk(const char* utf8) {
    return utf8_to_gbk(utf8);
}

struct TimeCase {
    LocalTime time;
    const char* dateTime; // UTF-8
};

class RunLogTimeTest : public ::testing::TestWithParam<TimeCase> {};

TEST_P(RunLogTimeTest, LineCarriesTheTimeDownToItsLastNonZeroField) {
    TempDir home;
    std::filesystem::create_directories(home / "data");
    const TimeCase& c = GetParam();
    RunLog log(home.path(), [&] { return c.time; });
    log.write(gbk("启动窗口创建完毕"));
    const auto file = home.path() / "data" /
                      ("运行日志" + std::to_string(c.time.year) + "年" + std::to_string(c.time.month) + "月" +
                       std::to_string(c.time.day) + "日.txt");
    EXPECT_EQ(test::readFile(file), gbk(c.dateTime) + "   " + gbk("启动窗口创建完毕") + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(Times, RunLogTimeTest,
                         ::testing::Values(TimeCase{{2021, 2, 7, 0, 0, 0}, "2021年2月7日"},
                                           TimeCase{{2021, 2, 7, 10, 0, 5}, "2021年2月7日10时0分5秒"},
                                           TimeCase{{2021, 2, 7, 10, 5, 0}, "2021年2月7日10时5分"},
                                           TimeCase{{2021, 2, 7, 10, 0, 0}, "2021年2月7日10时"},
                                           TimeCase{{2024, 12, 31, 0, 0, 9}, "2024年12月31日0时0分9秒"},
                                           TimeCase{{2024, 12, 31, 23, 59, 59},
                                                    "2024年12月31日23时59分59秒"}));

TEST(RunLog, NewestLineFirst) {
    TempDir home;
    std::filesystem::create_directories(home / "data");
    LocalTime now{2021, 2, 7, 10, 0, 5};
    RunLog log(home.path(), [&] { return now; });
    log.write(gbk("启动窗口创建完毕"));
    now.second = 6;
    log.write(gbk("启动窗口线程"));
    EXPECT_EQ(test::readFile(log.pathFor(now)), gbk("2021年2月7日10时0分6秒   启动窗口线程\r\n"
                                                    "2021年2月7日10时0分5秒   启动窗口创建完毕\r\n"));
}

// Long enough that the insertion moves several 4096-byte blocks, one of them partial.
TEST(RunLog, InsertionKeepsALongFileIntact) {
    TempDir home;
    std::filesystem::create_directories(home / "data");
    LocalTime now{2021, 2, 7, 10, 0, 0};
    RunLog log(home.path(), [&] { return now; });
    std::string earlier;
    for (int i = 0; i < 10000; ++i)
        earlier += static_cast<char>('a' + i % 26);
    test::writeFile(log.pathFor(now), earlier);
    log.write(gbk("显示版本号3.4"));
    EXPECT_EQ(test::readFile(log.pathFor(now)), gbk("2021年2月7日10时   显示版本号3.4\r\n") + earlier);
}

// A write cut short (here by the file size limit, as a full disk or a crash would cut it) leaves
// the day's file as it was, and nothing beside it.
TEST(RunLog, CutShortWriteLeavesTheFileAsItWas) {
    TempDir home;
    std::filesystem::create_directories(home / "data");
    LocalTime now{2021, 2, 7, 10, 0, 0};
    RunLog log(home.path(), [&] { return now; });
    const std::string earlier(10000, 'e');
    test::writeFile(log.pathFor(now), earlier);

    struct rlimit before {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit cut = before;
    cut.rlim_cur = earlier.size() + 10; // the new line is longer than that
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &cut), 0);
    log.write(gbk("显示版本号3.4"));
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(test::readFile(log.pathFor(now)), earlier);
    int files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(home / "data"))
        ++files;
    EXPECT_EQ(files, 1);

    log.write(gbk("显示版本号3.4"));
    EXPECT_EQ(test::readFile(log.pathFor(now)), gbk("2021年2月7日10时   显示版本号3.4\r\n") + earlier);
}

TEST(RunLog, MidnightStartsANewFile) {
    TempDir home;
    std::filesystem::create_directories(home / "data");
    LocalTime now{2021, 2, 7, 23, 59, 59};
    RunLog log(home.path(), [&] { return now; });
    log.write("a");
    now = {2021, 2, 8, 0, 0, 0};
    log.write("b");
    EXPECT_EQ(test::readFile(home / "data" / "运行日志2021年2月7日.txt"),
              gbk("2021年2月7日23时59分59秒   a\r\n"));
    EXPECT_EQ(test::readFile(home / "data" / "运行日志2021年2月8日.txt"), gbk("2021年2月8日   b\r\n"));
}

TEST(RunLog, NothingWithoutADataDirectory) {
    TempDir home;
    RunLog log(home.path(), [] { return LocalTime{2021, 2, 7, 10, 0, 0}; });
    log.write("a");
    EXPECT_FALSE(std::filesystem::exists(home / "data"));
    EXPECT_TRUE(std::filesystem::is_empty(home.path()));
}

} // namespace
} // namespace zelkor::app
