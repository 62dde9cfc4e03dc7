// The fault report: a real fatal error in a child process, the message box the re-executed
// program shows, and the request the notification service receives.

#include "app/fault_report.h"
#include "support/app_support.h"
#include "support/child_process.h"
#include "support/loopback.h"
#include "support/temp_dir.h"
#include "support/tls_cert.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QSysInfo>
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <ctime>
#include <thread>
#include <unistd.h>

namespace zelkor::app {
namespace {

using test::gbk;
using test::RawServer;
using test::TempDir;

std::string percentAll(const std::string& bytes) {
    std::string out;
    char buffer[4];
    for (unsigned char c : bytes) {
        std::snprintf(buffer, sizeof buffer, "%%%02X", c);
        out += buffer;
    }
    return out;
}

std::string md5(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
    std::string out;
    char buffer[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(buffer, sizeof buffer, "%02x", digest[i]);
        out += buffer;
    }
    return out;
}

// Seconds since 1970-01-01 08:00:00 local time, from the zone's offset at `t`.
long long localSecondsSinceEight(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    return static_cast<long long>(t) + local.tm_gmtoff - 8 * 3600;
}

struct ChildResult {
    int exitCode = -1; // -1 when it died by a signal
    int signal = 0;
    std::string out, err;
};

// `platform` becomes QT_QPA_PLATFORM; empty: none, and no display either, as in a terminal session.
ChildResult runCrasher(const std::string& how, const std::vector<std::string>& extraEnv,
                       const std::string& platform = "offscreen") {
    test::ChildOptions options;
    options.dropEnvironment = {"ZELKOR_", "QT_QPA_PLATFORM=", "DISPLAY=", "WAYLAND_DISPLAY="};
    if (!platform.empty()) options.environment.push_back("QT_QPA_PLATFORM=" + platform);
    options.environment.insert(options.environment.end(), extraEnv.begin(), extraEnv.end());
    const test::ChildOutcome child = test::runChild(ZELKOR_FAULT_CRASHER, {how}, options);
    if (!child.started) ADD_FAILURE() << "cannot start " << ZELKOR_FAULT_CRASHER;
    return {child.exitCode, child.signal, child.out, child.err};
}

std::string targetOf(const std::string& head) {
    const auto first = head.find(' ');
    return head.substr(first + 1, head.find(' ', first + 1) - first - 1);
}

struct CrashCase {
    const char* name;
    const char* how;
    int code;
    const char* text; // UTF-8
};

class FaultReportCrash : public ::testing::TestWithParam<CrashCase> {};

TEST_P(FaultReportCrash, BoxShownAndReportReceived) {
    const CrashCase& c = GetParam();
    RawServer notify([](const test::RawRequest&) {
        return std::optional<std::string>(
            "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
    });
    TempDir home;
    const std::filesystem::path programDir = home / "程序 目录";
    std::filesystem::create_directories(programDir);
    test::writeFile(home / "endpoints.ini", "[endpoints]\nnotify = " + notify.url("/") + "\n");

    const long long before = localSecondsSinceEight(std::time(nullptr));
    const ChildResult child = runCrasher(c.how, {"ZELKOR_HOME=" + programDir.string(),
                                                 "ZELKOR_ENDPOINTS=" + (home / "endpoints.ini").string()});
    const long long after = localSecondsSinceEight(std::time(nullptr));

    // The crashed image is gone; the report process ends with the crash's own status.
    EXPECT_EQ(child.signal, 0);
    EXPECT_EQ(child.exitCode, 128 + c.code);
    const std::string message =
        std::string("软件发生致命错误，已经上报开发人员加紧修复bug|   软件错误代码：") +
        std::to_string(c.code) + "|   错误信息：" + c.text;
    // No display to show a box on: the user is told on standard error, and nothing waits.
    EXPECT_EQ(child.out, "");
    std::string told = message;
    std::replace(told.begin(), told.end(), '|', '\n');
    EXPECT_NE(child.err.find("Zelkor软件bug提示\n" + told + "\n"), std::string::npos) << child.err;

    ASSERT_TRUE(notify.waitForRequests(1));
    const std::vector<test::RawRequest> requests = notify.requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string& head = requests[0].head;
    EXPECT_TRUE(head.starts_with("GET ")) << head;

    char host[256] = {};
    gethostname(host, sizeof host - 1);
    std::string computer = std::string(host).substr(0, 15);
    std::erase(computer, ' ');
    const std::string title = gbk("电脑") + computer + gbk("发现bug，软件-app_fault_crasher版本号3.4");
    const std::string body =
        gbk("所属软件：app_fault_crasher\r\n    软件运行路径：") + gbk(programDir.c_str()) +
        gbk("\r\n   操作系统：") + gbk(QSysInfo::prettyProductName().toUtf8().constData()) +
        gbk("\r\n   软件错误代码：") + std::to_string(c.code) + gbk("\r\n   错误信息：") + gbk(c.text) +
        gbk("     Zelkor软件 错误信息和bug通知系统。\r\n");
    EXPECT_EQ(targetOf(head), "/tongzhi?mubiao=" + std::string(kReportRecipient) +
                                  "&title=" + percentAll(title) + "&body=" + percentAll(body) + "&sa=1");

    // One "sign:" line (names are case-blind), md5(secret + timestamp) + "@" + ten digits.
    std::string lower = head;
    for (char& ch : lower)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    const auto at = lower.find("\r\nsign:");
    ASSERT_NE(at, std::string::npos) << head;
    EXPECT_EQ(lower.find("\r\nsign:", at + 1), std::string::npos);
    const std::string value = head.substr(at + 7, head.find("\r\n", at + 2) - at - 7);
    ASSERT_EQ(value.size(), 32u + 1 + 10) << value;
    const std::string stamp = value.substr(33);
    EXPECT_EQ(value[32], '@');
    EXPECT_EQ(value.substr(0, 32), md5(std::string(kReportSecret) + stamp));
    const long long seconds = std::stoll(stamp);
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, after);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultReportCrash,
    ::testing::Values(CrashCase{"SegmentationFault", "segv", SIGSEGV, "非法内存访问（段错误）"},
                      CrashCase{"FaultOnAnotherThread", "thread", SIGSEGV, "非法内存访问（段错误）"},
                      CrashCase{"IntegerDivisionByZero", "fpe", SIGFPE, "算术运算错误（如整数除以零）"},
                      CrashCase{"BusError", "bus", SIGBUS, "总线错误（内存对齐或映射文件失效）"},
                      CrashCase{"Abort", "abort", SIGABRT, "程序异常中止"},
                      CrashCase{"UncaughtException", "throw", SIGABRT, "未捕获的异常：index 7 outside 0..3"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FaultReport, NothingSentWithoutANotificationRoot) {
    RawServer listener([](const test::RawRequest&) { return std::optional<std::string>(); });
    TempDir home;
    test::writeFile(home / "endpoints.ini", "[endpoints]\nquote = " + listener.url("/") + "\n");
    const ChildResult child = runCrasher("segv", {"ZELKOR_HOME=" + home.path().string(),
                                                  "ZELKOR_ENDPOINTS=" + (home / "endpoints.ini").string()});
    EXPECT_EQ(child.exitCode, 128 + SIGSEGV);
    EXPECT_NE(child.err.find("软件错误代码：11"), std::string::npos) << child.err;
    EXPECT_TRUE(listener.requests().empty());
}

// A terminal session: no platform named and no display. The report process must not try a
// window (Qt would refuse to start) and still reports.
TEST(FaultReport, TerminalSessionReportsOnStandardError) {
    RawServer notify([](const test::RawRequest&) {
        return std::optional<std::string>("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
    });
    TempDir home;
    test::writeFile(home / "endpoints.ini", "[endpoints]\nnotify = " + notify.url("/") + "\n");
    const ChildResult child = runCrasher("abort",
                                         {"ZELKOR_HOME=" + home.path().string(),
                                          "ZELKOR_ENDPOINTS=" + (home / "endpoints.ini").string()},
                                         "");
    EXPECT_EQ(child.signal, 0);
    EXPECT_EQ(child.exitCode, 128 + SIGABRT);
    EXPECT_EQ(child.out, "");
    EXPECT_NE(child.err.find("Zelkor软件bug提示\n软件发生致命错误"), std::string::npos) << child.err;
    EXPECT_TRUE(notify.waitForRequests(1));
}

// The report goes only to a notification service whose certificate checks out: to one nobody
// trusts, nothing of the fault is sent.
TEST(FaultReport, SentOnlyToAVerifiedService) {
    test::TlsCertificate cert, stranger;
    std::atomic<int> received{0};
    test::LoopbackServer notify(cert.certPath(), cert.keyPath());
    notify.server().Get("/tongzhi", [&](const httplib::Request&, httplib::Response& res) {
        ++received;
        res.set_content("ok", "text/plain");
    });
    notify.start();
    struct Case {
        const char* name;
        std::string caFile;
        int received;
    } cases[] = {
        {"the system's store does not know it", "", 0},
        {"another root", stranger.certPath().string(), 0},
        {"its own root", cert.certPath().string(), 1},
    };
    for (const Case& c : cases) {
        received = 0;
        FaultReportOptions options;
        options.showBox = false;
        options.notifyRoot = notify.url("").c_str();
        options.caFile = c.caFile;
        testing::internal::CaptureStderr();
        reportFault({SIGSEGV, "segv"}, FaultReportInputs{}, options);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(received.load(), c.received) << c.name;
    }
}

// Where a display is there, the user is told in a modal message box.
TEST(FaultReport, MessageBoxWhereADisplayIsThere) {
    test::qtApp();
    FaultReportOptions options;
    options.showBox = true;
    std::string seen;
    options.boxShown = [&](QMessageBox& box) {
        seen = "visible=" + std::to_string(box.isVisible()) + " modal=" + std::to_string(box.isModal()) +
               " title=" + box.windowTitle().toStdString() + " text=" + box.text().toStdString();
        box.button(QMessageBox::Ok)->click();
    };
    reportFault({SIGFPE, gbk("算术运算错误（如整数除以零）")}, FaultReportInputs{}, options);
    EXPECT_EQ(seen, "visible=1 modal=1 title=Zelkor软件bug提示 text=软件发生致命错误，已经上报开发人员加紧修复bug\n"
                    "   软件错误代码：8\n   错误信息：算术运算错误（如整数除以零）");
}

TEST(FaultReport, DisplayIsJudgedFromThePlatformAndTheDisplayVariables) {
    const struct {
        const char* platform;
        const char* display;
        const char* wayland;
        bool available;
    } cases[] = {
        {"offscreen", ":0", nullptr, false}, {"minimal", nullptr, nullptr, false},
        {"offscreen:fontengine=freetype", nullptr, nullptr, false},
        {"xcb", ":0", nullptr, true},        {"wayland;xcb", nullptr, "wayland-0", true},
        {nullptr, ":0", nullptr, true},      {nullptr, nullptr, "wayland-0", true},
        {nullptr, nullptr, nullptr, false},  {nullptr, "", "", false},
    };
    const char* const names[] = {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"};
    std::optional<std::string> saved[3];
    for (int i = 0; i < 3; ++i)
        if (const char* v = std::getenv(names[i])) saved[i] = v;
    for (const auto& c : cases) {
        const char* values[] = {c.platform, c.display, c.wayland};
        for (int i = 0; i < 3; ++i)
            values[i] ? setenv(names[i], values[i], 1) : unsetenv(names[i]);
        EXPECT_EQ(displayAvailable(), c.available)
            << (c.platform ? c.platform : "-") << " " << (c.display ? c.display : "-");
    }
    for (int i = 0; i < 3; ++i)
        saved[i] ? setenv(names[i], saved[i]->c_str(), 1) : unsetenv(names[i]);
}

TEST(FaultReport, NoFaultNoReport) {
    const ChildResult child = runCrasher("none", {});
    EXPECT_EQ(child.exitCode, 0);
    EXPECT_EQ(child.out, "no fault\n");
}

TEST(FaultReport, TitleLosesEverySpace) {
    FaultReportInputs in;
    in.computer = "my pc";
    in.programFile = gbk("zel kor　新.bin");
    in.version = "3.4";
    EXPECT_EQ(faultReportTitle(in), gbk("电脑mypc发现bug，软件-zelkor新.bin版本号3.4"));
    // The body keeps them.
    in.system = "Debian GNU/Linux 12";
    in.programDir = "/opt/my apps";
    EXPECT_EQ(
        faultReportBody(in, {11, gbk("越界 访问")}),
        gbk("所属软件：zel kor　新.bin\r\n    软件运行路径：/opt/my apps\r\n   操作系统：Debian GNU/Linux "
            "12\r\n"
            "   软件错误代码：11\r\n   错误信息：越界 访问     Zelkor软件 错误信息和bug通知系统。\r\n"));
}

TEST(FaultReport, EveryByteEncoded) {
    EXPECT_EQ(percentEncodeEveryByte("A"), "%41");
    EXPECT_EQ(percentEncodeEveryByte(gbk("电a 9\r\n")), "%B5%E7%61%20%39%0D%0A");
    EXPECT_EQ(faultReportUrl("http://127.0.0.1:9/", "A", "b"),
              "http://127.0.0.1:9/tongzhi?mubiao=" + std::string(kReportRecipient) +
                  "&title=%41&body=%62&sa=1");
}

TEST(FaultReport, TimestampCountsFromEightOClockLocalTime) {
    const char* saved = std::getenv("TZ");
    const std::string restore = saved ? saved : "";
    struct Case {
        const char* zone;
        std::time_t now;
        const char* stamp;
    } cases[] = {
        {"CST-8", 1612663205, "1612663205"}, // UTC+8: the Unix time itself
        {"UTC0", 1612663205, "1612634405"},
        {"EST5", 1612663205, "1612616405"},
        {"CST-8", 28800, "0000028800"}, // ten digits, zero-padded
    };
    for (const Case& c : cases) {
        setenv("TZ", c.zone, 1);
        tzset();
        EXPECT_EQ(reportTimestamp(c.now), c.stamp) << c.zone;
    }
    if (saved)
        setenv("TZ", restore.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    EXPECT_EQ(reportSignHeader("1612663205"),
              "sign:" + md5(std::string(kReportSecret) + "1612663205") + "@1612663205");
    EXPECT_EQ(std::string(kReportSecret).size(), 22u);
}

TEST(FaultReport, FaultVariableRoundTrip) {
    const Fault fault{11, gbk("非法内存访问：a:b")};
    const std::string value = faultVariableValue(fault);
    EXPECT_EQ(value, "11:非法内存访问：a:b");
    const std::optional<Fault> back = parseFaultVariable(value);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->code, 11);
    EXPECT_EQ(back->text, fault.text);
    for (const char* bad : {"", "11", ":text", "x1:text", "1234567890:t"})
        EXPECT_FALSE(parseFaultVariable(bad)) << bad;
}

} // namespace
} // namespace zelkor::app
