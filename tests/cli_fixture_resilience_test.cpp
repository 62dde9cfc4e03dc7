// zelkor-cli against fixture services that fail, throttle and refuse, directly and through real
// proxies on loopback; the summary on standard error and in the report file.

#include "fixture_service.h"
#include "support/child_process.h"
#include "support/loopback.h"
#include "support/proxies.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using test::FixtureFault;
using test::FixtureService;
using test::ForwardingProxy;
using test::TempDir;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

Outcome runCli(const std::vector<std::string>& args) {
    test::ChildOptions options;
    options.dropEnvironment = {"ZELKOR_ENDPOINTS=", "ZELKOR_HOME="};
    const test::ChildOutcome child = test::runChild(ZELKOR_CLI_PATH, args, options);
    EXPECT_TRUE(child.started) << ZELKOR_CLI_PATH;
    return {child.exitCode, child.out, child.err};
}

int count(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
}

// The shown lines of a run ("1 来源：…"), without notices, whose order depends on the store thread.
std::string shownLines(const std::string& out) {
    std::string lines;
    std::size_t start = 0;
    for (std::size_t nl; start < out.size(); start = nl + 1) {
        nl = out.find('\n', start);
        if (nl == std::string::npos) nl = out.size();
        const std::string line = out.substr(start, nl - start);
        if (line.find(" 来源：") != std::string::npos) lines += line + "\n";
    }
    return lines;
}

// The figures of the table's "all" row: requests, ok, empty, failed, blocked, retries, phrases, accepted.
std::vector<unsigned long> totalsRow(const std::string& err) {
    const auto at = err.find("\n   all ");
    std::vector<unsigned long> figures;
    if (at == std::string::npos) return figures;
    std::istringstream row(err.substr(at + 7, err.find('\n', at + 1) - at - 7));
    for (unsigned long value; figures.size() < 8 && row >> value;)
        figures.push_back(value);
    return figures;
}

class CliResilience : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(service.ok());
        fs::create_directories(dir / "home");
        fs::create_directories(dir / "out");
    }

    Outcome run(const std::vector<std::string>& extra, const std::string& sources = "0,1,20",
                std::vector<std::string> seeds = {"手机"}) {
        service.writeEndpoints(dir / "endpoints.ini");
        std::vector<std::string> args = {"--home", (dir / "home").string(), "--endpoints",
                                         (dir / "endpoints.ini").string(), "--sources", sources, "--delay", "0",
                                         "--limit", "0", "--save-dir", (dir / "out").string(), "--report",
                                         (dir / "report.json").string()};
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), seeds.begin(), seeds.end());
        // Each run starts from an empty seen store, so runs can be compared.
        fs::remove_all(dir / "home" / "cwls");
        return runCli(args);
    }

    std::string report() const { return test::readFile(dir / "report.json"); }

    TempDir dir;
    FixtureService service;
};

// Fails the first answers: without retries the run loses them, with retries it gets them all.
TEST_F(CliResilience, RetriesWinBackAnswersThatFailedAtFirst) {
    const Outcome plain = run({});
    ASSERT_EQ(plain.status, 0) << plain.err;
    const std::string expected = shownLines(plain.out);
    ASSERT_FALSE(expected.empty());
    EXPECT_NE(report().find("\"source\":1,\"label\":\"百度下拉\""), std::string::npos) << report();

    service.setFailFirst(1, 2);
    service.setFailFirst(20, 1);
    const Outcome lossy = run({});
    EXPECT_EQ(lossy.status, 0) << lossy.err;
    EXPECT_NE(shownLines(lossy.out), expected);
    EXPECT_NE(report().find("\"source\":1,\"label\":\"百度下拉\",\"requests\":"), std::string::npos);
    EXPECT_NE(report().find("\"failed\":1,\"blocked\":0,\"retries\":0"), std::string::npos) << report();

    service.setFailFirst(1, 2);
    service.setFailFirst(20, 1);
    service.clearRequests();
    const Outcome retried = run({"--retries", "2", "--backoff", "0.01"});
    EXPECT_EQ(retried.status, 0) << retried.err;
    EXPECT_EQ(shownLines(retried.out), expected);
    const std::string json = report();
    EXPECT_NE(json.find("\"failed\":2,\"blocked\":0,\"retries\":2"), std::string::npos) << json;
    EXPECT_NE(json.find("\"failed\":1,\"blocked\":0,\"retries\":1"), std::string::npos) << json;
    // The table on standard error has the same figures; no line says everything failed.
    EXPECT_NE(retried.err.find("source  requests  ok  empty  failed  blocked  retries  phrases  accepted  label"),
              std::string::npos)
        << retried.err;
    EXPECT_EQ(retried.err.find("every request"), std::string::npos);
    // Standard output carries no summary: it stays what the panel shows.
    EXPECT_EQ(retried.out.find("requests"), std::string::npos);
}

// Always 429: with a cool-down the service is left alone, comes back, and is off after three.
TEST_F(CliResilience, AThrottledServiceCoolsDownAndIsSwitchedOff) {
    service.setFault(1, FixtureFault::Always429);
    const Outcome outcome = run({"--cooldown", "1", "--delay", "1"}, "1", {"a1", "a2", "a3", "a4", "a5"});
    // Not one answer: 3.
    ASSERT_EQ(outcome.status, 3) << outcome.err;
    EXPECT_EQ(count(outcome.out, "来源 百度下拉：请求被拦截，暂停 1 秒（连续第"), 3) << outcome.out;
    EXPECT_EQ(count(outcome.out, "来源 百度下拉：冷却结束，重新请求"), 3) << outcome.out;
    EXPECT_EQ(count(outcome.out, "来源 百度下拉：连续 3 次冷却后仍被拦截，本次运行不再请求"), 1) << outcome.out;
    EXPECT_EQ(service.requests().size(), 4u);
    EXPECT_NE(report().find("\"requests\":4,\"ok\":0,\"empty\":0,\"failed\":0,\"blocked\":4"), std::string::npos)
        << report();
    EXPECT_NE(report().find("\"keywords\":5,\"requests\":4,\"seconds\":"), std::string::npos) << report();
    EXPECT_NE(outcome.err.find("every request was refused (4 sent"), std::string::npos) << outcome.err;

    // The original behaviour: every keyword asked, nothing held back, nothing said.
    service.clearRequests();
    const Outcome plain = run({"--delay", "0"}, "1", {"a1", "a2", "a3"});
    EXPECT_EQ(service.requests().size(), 3u);
    EXPECT_EQ(plain.out.find("拦截"), std::string::npos) << plain.out;
}

TEST_F(CliResilience, ADetourToAVerificationPageCountsAsBlocked) {
    service.setFault(0, FixtureFault::VerifyRedirect);
    const Outcome outcome = run({}, "0");
    ASSERT_EQ(outcome.status, 3) << outcome.err;
    EXPECT_NE(report().find("\"requests\":1,\"ok\":0,\"empty\":0,\"failed\":0,\"blocked\":1"), std::string::npos)
        << report();
}

// Requests take turns through the proxies; one that is not there is dropped and retries cover it.
TEST_F(CliResilience, ProxiesTakeTurnsAndADeadOneIsDropped) {
    const Outcome direct = run({});
    ASSERT_EQ(direct.status, 0) << direct.err;
    const std::string expected = shownLines(direct.out);

    ForwardingProxy http(ForwardingProxy::Kind::Http);
    ForwardingProxy socks(ForwardingProxy::Kind::Socks5, std::make_pair(std::string("u"), std::string("p")));
    const std::string dead = "http://127.0.0.1:" + std::to_string(test::closedLoopbackPort());
    test::writeFile(dir / "proxies.txt",
                    "# proxies\n" + dead + "\nsocks5h://u:p@127.0.0.1:" + std::to_string(socks.port()) + "\n");
    service.clearRequests();
    const Outcome proxied = run({"--proxy", http.url(), "--proxy-file", (dir / "proxies.txt").string(),
                                 "--retries", "3", "--backoff", "0"});
    ASSERT_EQ(proxied.status, 0) << proxied.err;
    EXPECT_EQ(shownLines(proxied.out), expected);
    EXPECT_EQ(count(proxied.out, "代理 " + dead + " 连续 3 次无法连接，已停用"), 1) << proxied.out;
    EXPECT_GT(http.forwarded().size(), 2u);
    EXPECT_GT(socks.forwarded().size(), 2u);
    for (const std::string& entry : socks.forwarded())
        EXPECT_EQ(entry, "127.0.0.1:" + std::to_string(service.port()));
    // Every request that reached the services came through a proxy, the plain fetch of row 20 too.
    EXPECT_EQ(http.forwarded().size() + socks.forwarded().size(), service.requests().size());
    bool plainFetchProxied = false;
    for (const auto& request : service.requests())
        plainFetchProxied = plainFetchProxied || request.source == 20;
    EXPECT_TRUE(plainFetchProxied);
    // The dead proxy cost three requests, each sent once more through the next proxy: no retry.
    const auto totals = totalsRow(proxied.err);
    ASSERT_GE(totals.size(), 8u) << proxied.err;
    EXPECT_EQ(totals[3], 3u) << proxied.err; // failed
    EXPECT_EQ(totals[5], 0u) << proxied.err; // retries

    // All proxies gone: the run goes on without, as asked.
    const std::string alsoDead = "socks5://127.0.0.1:" + std::to_string(test::closedLoopbackPort());
    const Outcome none = run({"--proxy", dead, "--proxy", alsoDead, "--retries", "6", "--backoff", "0",
                              "--proxy-fallback", "direct"});
    EXPECT_EQ(shownLines(none.out), expected);
    EXPECT_NE(none.out.find("所有代理都已停用，之后的请求直接连接"), std::string::npos) << none.out;
}

TEST_F(CliResilience, EveryRequestFailedIsSaidPlainly) {
    const std::string endpoints = "[endpoints]\n0 = http://127.0.0.1:" + std::to_string(test::closedLoopbackPort()) +
                                  "\n";
    test::writeFile(dir / "closed.ini", endpoints);
    const Outcome outcome =
        runCli({"--home", (dir / "home").string(), "--endpoints", (dir / "closed.ini").string(), "--delay", "0",
                "--save-dir", (dir / "out").string(), "--report", (dir / "report.json").string(), "手机", "电脑"});
    EXPECT_EQ(outcome.status, 3) << outcome.err;
    EXPECT_NE(outcome.err.find("zelkor-cli: every request failed (2 sent, none answered): this usually means no "
                               "network, a proxy that is down, or a service that moved"),
              std::string::npos)
        << outcome.err;
    EXPECT_NE(outcome.err.find("probe"), std::string::npos);
    EXPECT_NE(report().find("{\"sources\":[{\"source\":0,\"label\":\"百度相关\",\"requests\":2,\"ok\":0,\"empty\":0,"
                            "\"failed\":2,\"blocked\":0,\"retries\":0,\"phrases\":0,\"accepted\":0,\"index\":0}],\"keywords\":2,"
                            "\"requests\":2,\"seconds\":"),
              std::string::npos)
        << report();
    EXPECT_EQ(outcome.out.find("failed"), std::string::npos);
}

TEST_F(CliResilience, BadOptionsAreRefusedBeforeTheRun) {
    test::writeFile(dir / "plain", ""); // no directory can be made under a file
    const std::vector<std::vector<std::string>> bad = {
        {"--retries", "-1"},       {"--retries", "x"},       {"--cooldown", "-5"},
        {"--backoff", "-1"},       {"--proxy", "ftp://h:1"}, {"--proxy", "127.0.0.1"},
        {"--proxy-file", "/nonexistent/proxies"},            {"--report", (dir / "plain" / "r.json").string()},
    };
    for (const auto& args : bad) {
        const Outcome outcome = run(args);
        EXPECT_EQ(outcome.status, 2) << args[0] << " " << args[1];
        EXPECT_TRUE(outcome.out.empty()) << outcome.out;
    }
    test::writeFile(dir / "proxies.txt", "http://127.0.0.1:1\nsocks4://127.0.0.1:2\n");
    const Outcome outcome = run({"--proxy-file", (dir / "proxies.txt").string()});
    EXPECT_EQ(outcome.status, 2);
    EXPECT_NE(outcome.err.find("line 2"), std::string::npos) << outcome.err;
    EXPECT_TRUE(service.requests().empty());
}

TEST_F(CliResilience, ProbePrintsTheClassOfEachAnswer) {
    service.setFault(1, FixtureFault::Always429);
    service.writeEndpoints(dir / "endpoints.ini");
    const Outcome outcome =
        runCli({"probe", "--endpoints", (dir / "endpoints.ini").string(), "--source", "0,1", "手机"});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_NE(outcome.out.find("  status: 200 OK\n  class: ok\n"), std::string::npos) << outcome.out;
    EXPECT_NE(outcome.out.find("  status: 429 Too Many Requests\n  class: blocked\n"), std::string::npos)
        << outcome.out;
    const Outcome unknown =
        runCli({"probe", "--endpoints", (dir / "endpoints.ini").string(), "--source", "0", "--json", "无人问"});
    EXPECT_NE(unknown.out.find("\"phrases\":[],\"class\":\"empty\"}"), std::string::npos) << unknown.out;
}

} // namespace
} // namespace zelkor
