// The run's policy for services that fail or refuse it, and the summary it gives.

#include "engine/core/control_names.h"
#include "engine/output/run_report.h"
#include "engine/run/source_health.h"
#include "engine/core/value_controls.h"

#include <gtest/gtest.h>

namespace zelkor {
namespace {

using namespace std::chrono_literals;
using Clock = SourceHealth::Clock;

Text gbk(const std::string& utf8) {
    return utf8_to_gbk(utf8);
}

struct Recorder {
    std::vector<std::string> notices; // UTF-8
    SourceHealth::Notice callback() {
        return [this](const Text& text) { notices.push_back(gbk_to_utf8(text)); };
    }
};

TEST(Backoff, DoublesPerRetryWithinAQuarterEitherWay) {
    struct Case {
        int base;
        int retry;
        double unit;
        int expected;
    };
    const Case cases[] = {
        {500, 1, 0.5, 500},   {500, 1, 0.0, 375},    {500, 1, 1.0, 625},   {500, 2, 0.5, 1000},
        {500, 3, 0.5, 2000},  {500, 4, 0.0, 3000},   {0, 3, 0.9, 0},       {1000, 30, 0.5, 300000},
        {500, 1, -3.0, 375},  {500, 1, 7.0, 625},
    };
    for (const Case& c : cases)
        EXPECT_EQ(backoffDelay(std::chrono::milliseconds(c.base), c.retry, c.unit).count(), c.expected)
            << c.base << " " << c.retry << " " << c.unit;
}

TEST(SourceHealth, DefaultsSendOnceDirectlyAndOnlyCount) {
    Recorder recorder;
    SourceHealth health({}, recorder.callback());
    const auto t = Clock::now();
    for (AnswerClass answer : {AnswerClass::Blocked, AnswerClass::Blocked, AnswerClass::Failed, AnswerClass::Ok,
                               AnswerClass::Blocked, AnswerClass::Empty}) {
        ASSERT_TRUE(health.admit(3, gbk("淘宝"), t));
        const auto via = health.route();
        EXPECT_TRUE(via.route.direct());
        EXPECT_FALSE(health.answered(3, 0, answer, via, false, t).again);
    }
    health.offered(3, 4, 1);
    const HealthReport report = health.report();
    ASSERT_EQ(report.services.size(), 1u);
    const ServiceReport& s = report.services[0];
    EXPECT_EQ(s.source, 3);
    EXPECT_EQ(s.label, gbk("淘宝"));
    EXPECT_EQ(s.requests, 6u);
    EXPECT_EQ(s.blocked, 3u);
    EXPECT_EQ(s.failed, 1u);
    EXPECT_EQ(s.ok, 1u);
    EXPECT_EQ(s.empty, 1u);
    EXPECT_EQ(s.retries, 0u);
    EXPECT_EQ(s.phrases, 4u);
    EXPECT_EQ(s.accepted, 1u);
    EXPECT_TRUE(recorder.notices.empty());
}

TEST(SourceHealth, FailedAndBlockedAnswersAreAskedAgainUpToTheRetries) {
    HealthOptions options;
    options.retries = 2;
    options.backoff = 100ms;
    SourceHealth health(options, {}, [] { return 0.5; });
    const auto t = Clock::now();
    const auto via = health.route();
    auto next = health.answered(0, 0, AnswerClass::Failed, via, false, t);
    EXPECT_TRUE(next.again);
    EXPECT_EQ(next.wait, 100ms);
    next = health.answered(0, 1, AnswerClass::Blocked, via, false, t);
    EXPECT_TRUE(next.again);
    EXPECT_EQ(next.wait, 200ms);
    EXPECT_FALSE(health.answered(0, 2, AnswerClass::Failed, via, false, t).again);
    // Good answers are never asked again.
    EXPECT_FALSE(health.answered(0, 0, AnswerClass::Empty, via, false, t).again);
    EXPECT_FALSE(health.answered(0, 0, AnswerClass::Ok, via, false, t).again);
    const ServiceReport s = health.report().services.at(0);
    EXPECT_EQ(s.requests, 5u);
    EXPECT_EQ(s.retries, 2u);
}

// Blocked after its retries: cool down, come back, and after three cool-downs in a row, off.
TEST(SourceHealth, ABlockedServiceCoolsDownThenGoesOff) {
    HealthOptions options;
    options.cooldown = 10s;
    Recorder recorder;
    SourceHealth health(options, recorder.callback());
    const Text label = gbk("百度相关");
    auto t = Clock::now();
    auto block = [&] {
        EXPECT_TRUE(health.admit(0, label, t));
        health.answered(0, 0, AnswerClass::Blocked, health.route(), false, t);
    };
    block();
    EXPECT_EQ(recorder.notices.back(), "来源 百度相关：请求被拦截，暂停 10 秒（连续第 1 次冷却）");
    EXPECT_FALSE(health.admit(0, label, t + 9s));
    EXPECT_FALSE(health.admit(0, label, t + 9999ms));
    EXPECT_TRUE(health.admit(1, gbk("百度下拉"), t + 5s)); // the others are not held back
    t += 10s;
    EXPECT_TRUE(health.admit(0, label, t));
    EXPECT_EQ(recorder.notices.back(), "来源 百度相关：冷却结束，重新请求（冷却期间跳过 2 个关键词）");
    health.answered(0, 0, AnswerClass::Blocked, health.route(), false, t);
    EXPECT_EQ(recorder.notices.back(), "来源 百度相关：请求被拦截，暂停 10 秒（连续第 2 次冷却）");
    t += 10s;
    block();
    EXPECT_EQ(recorder.notices.back(), "来源 百度相关：请求被拦截，暂停 10 秒（连续第 3 次冷却）");
    t += 10s;
    block();
    EXPECT_EQ(recorder.notices.back(), "来源 百度相关：连续 3 次冷却后仍被拦截，本次运行不再请求");
    t += 1h;
    EXPECT_FALSE(health.admit(0, label, t));
    const ServiceReport s = health.report().services.at(0);
    EXPECT_EQ(s.requests, 4u);
    EXPECT_EQ(s.blocked, 4u);
    EXPECT_EQ(s.skipped, 3u);
    EXPECT_EQ(recorder.notices.size(), 7u); // three cool-downs, three ends, one off
}

TEST(SourceHealth, AGoodAnswerEndsTheRunOfCooldowns) {
    HealthOptions options;
    options.cooldown = 1s;
    options.retries = 1;
    Recorder recorder;
    SourceHealth health(options, recorder.callback(), [] { return 0.0; });
    auto t = Clock::now();
    for (int round = 0; round < 6; ++round) {
        ASSERT_TRUE(health.admit(2, gbk("x"), t)) << round;
        // A failed first try, retried; the retry's answer decides.
        EXPECT_TRUE(health.answered(2, 0, AnswerClass::Failed, health.route(), false, t).again);
        const AnswerClass last = round % 3 == 2 ? AnswerClass::Ok : AnswerClass::Blocked;
        EXPECT_FALSE(health.answered(2, 1, last, health.route(), false, t).again);
        t += 1s;
    }
    for (const std::string& notice : recorder.notices)
        EXPECT_EQ(notice.find("不再请求"), std::string::npos) << notice;
    EXPECT_EQ(recorder.notices.back(), "来源 x：冷却结束，重新请求（冷却期间跳过 0 个关键词）");
}

TEST(SourceHealth, ProxiesTakeTurnsAndGoAfterThreeFailuresInARow) {
    HealthOptions options;
    options.proxies = {*parseProxy("http://127.0.0.1:1"), *parseProxy("socks5://127.0.0.1:2"),
                       *parseProxy("socks5h://127.0.0.1:3")};
    options.directWhenProxiesGone = true;
    Recorder recorder;
    SourceHealth health(options, recorder.callback());
    const auto t = Clock::now();
    std::vector<std::string> order;
    for (int i = 0; i < 6; ++i)
        order.push_back(health.route().route.proxy);
    EXPECT_EQ(order, (std::vector<std::string>{"http://127.0.0.1:1", "socks5://127.0.0.1:2", "socks5h://127.0.0.1:3",
                                               "http://127.0.0.1:1", "socks5://127.0.0.1:2",
                                               "socks5h://127.0.0.1:3"}));
    // The first fails twice, recovers, then fails three times in a row; the second fails for good.
    const SourceHealth::RouteChoice first{options.proxies[0], 0};
    const SourceHealth::RouteChoice second{options.proxies[1], 1};
    for (bool failed : {true, true, false, true, true})
        health.answered(0, 0, AnswerClass::Failed, first, failed, t);
    EXPECT_TRUE(recorder.notices.empty());
    health.answered(0, 0, AnswerClass::Failed, first, true, t);
    EXPECT_EQ(recorder.notices, std::vector<std::string>{"代理 http://127.0.0.1:1 连续 3 次无法连接，已停用"});
    for (int i = 0; i < 3; ++i)
        health.answered(0, 0, AnswerClass::Failed, second, true, t);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(health.route().route.proxy, "socks5h://127.0.0.1:3");
    const SourceHealth::RouteChoice third{options.proxies[2], 2};
    for (int i = 0; i < 3; ++i)
        health.answered(0, 0, AnswerClass::Failed, third, true, t);
    ASSERT_EQ(recorder.notices.size(), 4u);
    EXPECT_EQ(recorder.notices.back(), "所有代理都已停用，之后的请求直接连接");
    EXPECT_TRUE(health.route().route.direct());
}

// Without leave to go direct, the last proxy's drop stops the run, and no route is direct; a request
// that could not reach its proxy goes once more through the next live one.
TEST(SourceHealth, ProxiesFailClosedAndAFailedOneHandsItsRequestOn) {
    HealthOptions options;
    options.proxies = {*parseProxy("http://127.0.0.1:1"), *parseProxy("http://127.0.0.1:2")};
    Recorder recorder;
    SourceHealth health(options, recorder.callback());
    int gone = 0;
    health.setOnProxiesGone([&] { ++gone; });
    const auto t = Clock::now();
    const SourceHealth::RouteChoice first{options.proxies[0], 0};
    const auto next = health.reroute(first);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->proxy, 1);
    EXPECT_TRUE(next->rerouted);
    EXPECT_FALSE(health.reroute(*next)); // once only
    // A rerouted attempt is no retry.
    health.answered(0, 1, AnswerClass::Ok, *next, false, t);
    EXPECT_EQ(health.report().services.at(0).retries, 0u);

    for (int i = 0; i < 3; ++i)
        health.answered(0, 0, AnswerClass::Failed, first, true, t);
    EXPECT_FALSE(health.reroute(SourceHealth::RouteChoice{options.proxies[1], 1}));
    const SourceHealth::RouteChoice second{options.proxies[1], 1};
    for (int i = 0; i < 3; ++i)
        health.answered(0, 0, AnswerClass::Failed, second, true, t);
    EXPECT_EQ(gone, 1);
    EXPECT_EQ(recorder.notices.back(), "所有代理都已停用，采集已停止：不直接连接，以免暴露本机地址");
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(health.route().route.direct());
    health.answered(0, 0, AnswerClass::Failed, second, true, t);
    EXPECT_EQ(gone, 1);
}

TEST(SourceHealth, SequentialSendingWaitsBetweenTriesAndStopsWaitingWhenStopped) {
    HealthOptions options;
    options.retries = 3;
    options.backoff = 100ms;
    SourceHealth health(options, {}, [] { return 0.5; });
    std::vector<std::chrono::milliseconds> waits;
    int attempts = 0;
    const auto failing = [&](const ProxyRoute&) {
        ++attempts;
        return SourceAttempt{AnswerClass::Failed, false};
    };
    std::stop_source stop;
    EXPECT_TRUE(sendWithPolicy(
        health, 0, gbk("a"), failing, [&](std::chrono::milliseconds d) { waits.push_back(d); return true; },
        stop.get_token()));
    EXPECT_EQ(attempts, 4);
    EXPECT_EQ(waits, (std::vector<std::chrono::milliseconds>{100ms, 200ms, 400ms}));

    // Stopped during the first wait: no further attempt, and nothing more counted.
    attempts = 0;
    sendWithPolicy(
        health, 1, gbk("b"), failing,
        [&](std::chrono::milliseconds) {
            stop.request_stop();
            return false;
        },
        stop.get_token());
    EXPECT_EQ(attempts, 1);
    EXPECT_EQ(health.report().services.at(1).requests, 1u);
}

TEST(HealthOptionsFromBoxes, EmptyBoxesMeanTheOriginalBehaviour) {
    struct Case {
        const char* retries;
        const char* cooldown;
        const char* proxies;
        int expectedRetries;
        int expectedCooldown;
        std::size_t expectedProxies;
        std::size_t problems;
    };
    const Case cases[] = {
        {"", "", "", 0, 0, 0, 0},
        {"2", "", "", 2, 300, 0, 0},
        {" 2 ", "0", "", 2, 0, 0, 0},
        {"", "60", "", 0, 60, 0, 0},
        {"x", "-1", "", 0, 0, 0, 2},
        {"101", "86401", "", 0, 0, 0, 2},
        {"", "", "# mine\r\nhttp://127.0.0.1:1\r\n\r\nnonsense\r\nsocks5://u:p@127.0.0.1:2", 0, 0, 2, 1},
    };
    for (const Case& c : cases) {
        ValueControls controls;
        controls.setText(ctl::kRetries, c.retries);
        controls.setText(ctl::kCooldown, c.cooldown);
        controls.setText(ctl::kProxyList, c.proxies);
        std::vector<Text> problems;
        const HealthOptions options = readHealthOptions(controls, 250ms, &problems);
        SCOPED_TRACE(std::string(c.retries) + "|" + c.cooldown + "|" + c.proxies);
        EXPECT_EQ(options.retries, c.expectedRetries);
        EXPECT_EQ(options.cooldown.count(), c.expectedCooldown);
        EXPECT_EQ(options.proxies.size(), c.expectedProxies);
        EXPECT_EQ(options.backoff, 250ms);
        EXPECT_EQ(problems.size(), c.problems);
        EXPECT_EQ(healthOptionsInUse(options), c.expectedRetries + c.expectedCooldown + c.expectedProxies > 0);
    }
    ValueControls controls;
    controls.setText(ctl::kProxyList, "http://127.0.0.1:1\r\nftp://x:1");
    std::vector<Text> problems;
    readHealthOptions(controls, 0ms, &problems);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(gbk_to_utf8(problems[0]), "代理列表第 2 行无法使用，已忽略：ftp://x:1");
}

HealthReport sampleReport() {
    HealthReport report;
    ServiceReport a;
    a.source = 0;
    a.label = gbk("百度相关");
    a.requests = 12;
    a.ok = 9;
    a.empty = 1;
    a.failed = 1;
    a.blocked = 1;
    a.retries = 2;
    a.phrases = 120;
    a.accepted = 35;
    ServiceReport b;
    b.source = 21;
    b.label = gbk("google\"相关");
    b.requests = 3;
    b.failed = 3;
    report.services = {a, b};
    report.keywords = 10;
    report.requests = 15;
    report.seconds = 2.5;
    return report;
}

TEST(RunReport, JsonHasExactlyTheAgreedShape) {
    EXPECT_EQ(reportJson(sampleReport()),
              "{\"sources\":[{\"source\":0,\"label\":\"百度相关\",\"requests\":12,\"ok\":9,\"empty\":1,"
              "\"failed\":1,\"blocked\":1,\"retries\":2,\"phrases\":120,\"accepted\":35,\"index\":0},{\"source\":21,"
              "\"label\":\"google\\\"相关\",\"requests\":3,\"ok\":0,\"empty\":0,\"failed\":3,\"blocked\":0,"
              "\"retries\":0,\"phrases\":0,\"accepted\":0,\"index\":21}],\"keywords\":10,\"requests\":15,"
              "\"seconds\":2.500}");
    EXPECT_EQ(reportJson({}), "{\"sources\":[],\"keywords\":0,\"requests\":0,\"seconds\":0.000}");
    // With the run's ending: its outcome, exit status, unanswered keywords and the answers' totals.
    const RunEnding ending{"incomplete", 4, 7};
    HealthReport report = sampleReport();
    report.services.front().lost = 2;
    const std::string json = reportJson(report, &ending);
    EXPECT_TRUE(json.ends_with(",\"seconds\":2.500,\"outcome\":\"incomplete\",\"exit\":4,\"unanswered\":7,\"ok\":9,"
                               "\"empty\":1,\"failed\":4,\"blocked\":1,\"lost\":2}"))
        << json;
}

TEST(RunReport, HintsLeaveOutWhatWasTried) {
    HealthReport blocked;
    ServiceReport s;
    s.source = 1;
    s.requests = 2;
    s.blocked = 2;
    blocked.services = {s};
    const struct {
        TriedRemedies tried;
        const char* hint;
    } cases[] = {
        {{}, "Try --retries, --cooldown or --proxy, and see 'zelkor-cli probe KEYWORD'"},
        {{true, false, false}, "Try --cooldown or --proxy, and see 'zelkor-cli probe KEYWORD'"},
        {{true, true, false}, "Try --proxy, and see 'zelkor-cli probe KEYWORD'"},
        {{true, true, true}, "blocking this address. See 'zelkor-cli probe KEYWORD'"},
    };
    for (const auto& c : cases) {
        const auto line = noAnswerLine(blocked, c.tried);
        ASSERT_TRUE(line);
        EXPECT_TRUE(line->ends_with(c.hint)) << *line;
    }
    const auto notices = reportNotices(blocked, false, {true, false, true});
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_TRUE(gbk_to_utf8(notices[0]).ends_with("服务可能限制了本机的访问，可在“高级”中设置冷却秒数")) << gbk_to_utf8(notices[0]);
}

TEST(RunReport, TableHasARowPerServiceAndTheTotals) {
    const std::string table = reportTable(sampleReport());
    EXPECT_EQ(table,
              "source  requests  ok  empty  failed  blocked  retries  phrases  accepted  label\n"
              "     0        12   9      1       1        1        2      120        35  百度相关\n"
              "    21         3   0      0       3        0        0        0         0  google\"相关\n"
              "   all        15   9      1       4        1        2      120        35  10 keywords, 2.5 s\n");
}

TEST(RunReport, NoAnswerLineOnlyWhenNothingAnswered) {
    HealthReport report = sampleReport();
    EXPECT_FALSE(noAnswerLine(report));
    EXPECT_EQ(reportNotices(report, false).size(), 0u);
    EXPECT_EQ(reportNotices(report, true).size(), 2u);
    EXPECT_FALSE(noAnswerLine({}));

    report.services.erase(report.services.begin());
    auto line = noAnswerLine(report);
    ASSERT_TRUE(line);
    EXPECT_NE(line->find("every request failed (3 sent"), std::string::npos) << *line;
    EXPECT_NE(line->find("probe"), std::string::npos);
    const auto notices = reportNotices(report, false);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(gbk_to_utf8(notices[0]).rfind("本次运行的 3 个请求全部失败", 0), 0u);

    report.services[0].failed = 0;
    report.services[0].blocked = 3;
    line = noAnswerLine(report);
    ASSERT_TRUE(line);
    EXPECT_NE(line->find("every request was refused"), std::string::npos) << *line;
}

} // namespace
} // namespace zelkor
