// zelkor-cli's bounds on an answer against a hostile loopback service: a larger cap lets a big but
// honest answer through, a smaller one refuses it with the reason, and a deadline cuts an answer
// that trickles in. Options, settings-file values and their checks.

#include "fixture_service.h"
#include "support/child_process.h"
#include "support/hostile_server.h"
#include "support/temp_dir.h"
#include "text/text.h"

#include <gtest/gtest.h>

#include <chrono>

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::HostileMode;
using test::HostileServer;
using test::TempDir;

constexpr std::size_t kMib = 1 << 20;

// Service 0's page for 手机 with its two related phrases, grown to `size` bytes by a comment after it.
test::HostileAnswer bigPage(std::size_t size) {
    std::string page = test::fixture_body(0, "手机", {"手机壳", "手机支架"});
    const std::string open = "<!--", close = "-->";
    page += open + std::string(size - page.size() - open.size() - close.size(), 'x') + close;
    auto answer = test::hostile(HostileMode::Canned, 0, {}, std::move(page));
    answer.contentType = "text/html; charset=utf-8";
    return answer;
}

class CliAnswerLimits : public ::testing::Test {
  protected:
    void SetUp() override { fs::create_directories(dir / "home" / "data"); }

    void pointAt(const HostileServer& server) {
        test::writeFile(dir / "endpoints.ini", "[endpoints]\n0 = http://127.0.0.1:" + std::to_string(server.port()) + "\n");
    }
    test::ChildOutcome cli(std::vector<std::string> args) {
        const std::vector<std::string> shared = {"--home", (dir / "home").string(), "--endpoints",
                                                 (dir / "endpoints.ini").string()};
        args.insert(args.begin() + (!args.empty() && args.front() == "probe" ? 1 : 0), shared.begin(), shared.end());
        test::ChildOptions options;
        options.dropEnvironment = {"ZELKOR_"};
        return test::runChild(ZELKOR_CLI_PATH, args, options);
    }
    test::ChildOutcome run(std::vector<std::string> extra) {
        std::vector<std::string> args = {"--sources", "0", "--delay", "0", "--limit", "0", "--no-autosave"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back("手机");
        return cli(args);
    }

    TempDir dir;
};

// The same answers with the cap raised, kept and lowered: every request of a run is bounded by it,
// and probe names the reason a refused answer failed.
TEST_F(CliAnswerLimits, CapLetsABigAnswerThroughOrRefusesItWithTheReason) {
    const struct {
        std::size_t size;
        std::vector<std::string> options;
        bool passes;
    } cases[] = {
        {9 * kMib, {}, false},
        {9 * kMib, {"--max-answer-mib", "16"}, true},
        {2 * kMib, {}, true},
        {2 * kMib, {"--max-answer-mib", "1"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + (c.options.empty() ? "" : " " + c.options.back()));
        HostileServer server(bigPage(c.size));
        pointAt(server);
        const test::ChildOutcome outcome = run(c.options);
        // A refused answer was the run's only one: no request got an answer.
        ASSERT_EQ(outcome.status(), c.passes ? 0 : 3) << outcome.err;
        EXPECT_EQ(outcome.out.find("keyword：手机壳") != std::string::npos, c.passes) << outcome.out;
        EXPECT_EQ(outcome.out.find("keyword：手机支架") != std::string::npos, c.passes) << outcome.out;
        // Passing, the seed and both phrases were asked; refused, the run had nothing to go on with.
        EXPECT_EQ(server.requestCount(), c.passes ? 3u : 1u);

        std::vector<std::string> probe = {"probe", "--source", "0", "--json"};
        probe.insert(probe.end(), c.options.begin(), c.options.end());
        probe.push_back("手机");
        const test::ChildOutcome probed = cli(probe);
        ASSERT_EQ(probed.status(), 0) << probed.err;
        const std::size_t cap = c.options.empty() ? 8 * kMib : std::stoul(c.options.back()) * kMib;
        const std::string status =
            c.passes ? "\"status\":\"200 OK\"" : "\"status\":\"713 读取数据失败! 应答超过" + std::to_string(cap) + "字节上限\"";
        EXPECT_NE(probed.out.find(status), std::string::npos) << probed.out;
    }
}

// A byte every 100 ms never trips the stall timer; the deadline ends the request, in a run as in probe.
TEST_F(CliAnswerLimits, DeadlineCutsADrippingAnswer) {
    HostileServer server(test::hostile(HostileMode::Dripping, 30, 100ms));
    pointAt(server);
    const auto started = std::chrono::steady_clock::now();
    const test::ChildOutcome probed = cli({"probe", "--source", "0", "--json", "--deadline", "1", "手机"});
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2500ms);
    ASSERT_EQ(probed.status(), 0) << probed.err;
    EXPECT_NE(probed.out.find("\"status\":\"713 读取数据失败! 超过总时限1秒\""), std::string::npos) << probed.out;

    // Without the option the whole answer (3 s) arrives within the default 60 s.
    const test::ChildOutcome whole = cli({"probe", "--source", "0", "--json", "手机"});
    EXPECT_NE(whole.out.find("\"status\":\"200 OK\""), std::string::npos) << whole.out;
    EXPECT_NE(whole.out.find("\"bytes\":30,"), std::string::npos) << whole.out;

    HostileServer slow(test::hostile(HostileMode::Dripping, 600, 100ms)); // a minute of answer
    pointAt(slow);
    const auto runStarted = std::chrono::steady_clock::now();
    const test::ChildOutcome outcome = run({"--deadline", "2"});
    EXPECT_LT(std::chrono::steady_clock::now() - runStarted, 10s);
    ASSERT_EQ(outcome.status(), 3) << outcome.err;
    EXPECT_NE(outcome.err.find("every request failed (1 sent, none answered)"), std::string::npos) << outcome.err;
}

// The values kept in the settings file are the defaults and are checked like the options.
TEST_F(CliAnswerLimits, SettingsValuesAndBadValues) {
    HostileServer server(bigPage(2 * kMib));
    pointAt(server);
    test::writeFile(dir / "home" / "data" / "Zelkorkey.ini", utf8_to_gbk("[编辑框]\r\n编辑框_应答上限=1\r\n"));
    const test::ChildOutcome kept = run({});
    ASSERT_EQ(kept.status(), 3) << kept.err;
    EXPECT_EQ(kept.out.find("keyword：手机壳"), std::string::npos) << kept.out;
    const test::ChildOutcome overridden = run({"--max-answer-mib", "3"});
    EXPECT_NE(overridden.out.find("keyword：手机壳"), std::string::npos) << overridden.out;

    for (const char* value : {"0", "abc", "1025"}) {
        test::writeFile(dir / "home" / "data" / "Zelkorkey.ini",
                        utf8_to_gbk(std::string("[编辑框]\r\n编辑框_总时限=") + (std::string(value) == "1025" ? "3601" : value) +
                                    "\r\n"));
        const test::ChildOutcome refused = run({});
        EXPECT_EQ(refused.status(), 2) << value;
        EXPECT_NE(refused.err.find("settings file: 总时限应为 1 到 3600 的整数"), std::string::npos) << refused.err;
    }
    fs::remove(dir / "home" / "data" / "Zelkorkey.ini");
    const std::size_t before = server.requestCount();
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--max-answer-mib", "0"}, {"--max-answer-mib", "0x2"}, {"--max-answer-mib", "1025"},
             {"--deadline", "1e3"}, {"--deadline", "-1"}, {"--deadline", "3601"}}) {
        const test::ChildOutcome refused = run(bad);
        EXPECT_EQ(refused.status(), 2) << bad.back();
        EXPECT_NE(refused.err.find(bad.front()), std::string::npos) << refused.err;
        const test::ChildOutcome probeRefused = cli({"probe", bad.front(), bad.back(), "手机"});
        EXPECT_EQ(probeRefused.status(), 2) << bad.back();
    }
    EXPECT_EQ(server.requestCount(), before);
}

} // namespace
} // namespace zelkor
