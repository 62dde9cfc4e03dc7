// zelkor-cli's outcome of a run when answers stop coming: unanswered keywords kept by a SQLite store
// and asked first by --resume, the exit statuses 0, 3 and 4, the report's outcome fields, proxies
// that fail closed, runs judged alive by their lock, seeds GBK cannot hold.

#include "engine/store/sqlite.h"
#include "fixture_service.h"
#include "support/child_process.h"
#include "support/loopback.h"
#include "support/proxies.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <thread>
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

Outcome runCli(const std::vector<std::string>& args, test::ChildOptions options = {}) {
    options.dropEnvironment = {"ZELKOR_ENDPOINTS=", "ZELKOR_HOME="};
    const test::ChildOutcome child = test::runChild(ZELKOR_CLI_PATH, args, options);
    EXPECT_TRUE(child.started) << ZELKOR_CLI_PATH;
    return {child.status(), child.out, child.err};
}

// A seed with 10 children, each with 5 of its own: 61 keywords, all from service 0.
test::FixtureGraph treeGraph() {
    test::FixtureGraph graph;
    for (int i = 0; i < 10; ++i) {
        const std::string child = "a" + std::to_string(i);
        graph["s"][0].push_back(child);
        for (int j = 0; j < 5; ++j)
            graph[child][0].push_back(child + "-" + std::to_string(j));
    }
    return graph;
}

// The keywords of an export, one a line, sorted: what two runs that asked in another order share.
std::multiset<std::string> keywordsOf(const std::string& jsonl) {
    std::multiset<std::string> keywords;
    std::istringstream lines(jsonl);
    for (std::string line; std::getline(lines, line);) {
        const auto from = line.find("{\"keyword\":\"");
        if (from == std::string::npos) continue;
        keywords.insert(line.substr(from + 12, line.find('"', from + 12) - from - 12));
    }
    return keywords;
}

class CliOutcomes : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(service.ok());
        fs::create_directories(dir / "home");
        fs::create_directories(dir / "out");
        service.writeEndpoints(dir / "endpoints.ini");
    }

    std::vector<std::string> base(const fs::path& endpoints, bool saveDir = true) const {
        std::vector<std::string> args = {"--home", (dir / "home").string(), "--endpoints", endpoints.string(),
                                         "--report", (dir / "report.json").string()};
        if (saveDir) args.insert(args.end(), {"--save-dir", (dir / "out").string()});
        return args;
    }
    Outcome run(std::vector<std::string> extra, const std::vector<std::string>& seeds = {"手机"},
                test::ChildOptions options = {}) {
        auto args = base(dir / "endpoints.ini");
        for (const char* arg : {"--delay", "0", "--limit", "0"}) args.push_back(arg);
        args.insert(args.end(), extra.begin(), extra.end());
        // Seeds after "--": a --proxy before them takes one value, not them too.
        args.push_back("--");
        args.insert(args.end(), seeds.begin(), seeds.end());
        fs::remove_all(dir / "home" / "cwls");
        fs::remove(dir / "report.json");
        return runCli(args, std::move(options));
    }
    Outcome resume(const fs::path& db, std::vector<std::string> extra = {}) {
        auto args = base(dir / "endpoints.ini", std::find(extra.begin(), extra.end(), "--save-dir") == extra.end());
        for (const std::string& arg : {std::string("--store"), "sqlite:" + db.string(), std::string("--resume")})
            args.push_back(arg);
        args.insert(args.end(), extra.begin(), extra.end());
        fs::remove(dir / "report.json");
        return runCli(args);
    }
    std::string exported(const fs::path& db, const std::string& run = {}) {
        const fs::path file = dir / "export.jsonl";
        std::vector<std::string> args = {"--home", (dir / "home").string(), "export", "--store", "sqlite:" + db.string(),
                                         "--format", "jsonl", "-o", file.string()};
        if (!run.empty()) args.insert(args.end(), {"--run", run});
        const Outcome outcome = runCli(args);
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        return test::readFile(file);
    }
    std::string runs(const fs::path& db) {
        const Outcome outcome = runCli({"--home", (dir / "home").string(), "runs", "--store", "sqlite:" + db.string()});
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        return outcome.out;
    }
    std::string report() const { return test::readFile(dir / "report.json"); }

    TempDir dir;
    FixtureService service;
};

// The service goes away part-way: the keywords asked from then on are kept, the run ends
// incomplete (4), and --resume asks them first, to the results of a run left alone.
TEST_F(CliOutcomes, KeywordsLeftUnansweredAreKeptAndResumedToTheSameResults) {
    service.useGraph(treeGraph());
    // Slow enough for the service to be broken while the run is under way.
    service.setLatency(std::chrono::milliseconds(50));
    const std::vector<std::string> common = {"--sources", "0", "--no-main-word"};
    for (const bool parallel : {false, true}) {
        SCOPED_TRACE(parallel ? "throughput" : "sequential");
        std::vector<std::string> mode = common;
        if (parallel) mode.insert(mode.end(), {"--parallel", "--rate", "200"});
        const fs::path whole = dir / (parallel ? "whole-p.sqlite" : "whole.sqlite");
        auto args = mode;
        args.insert(args.end(), {"--store", "sqlite:" + whole.string()});
        const Outcome undisturbed = run(args, {"s"});
        ASSERT_EQ(undisturbed.status, 0) << undisturbed.err;
        EXPECT_NE(report().find("\"outcome\":\"finished\",\"exit\":0,\"unanswered\":0,\"ok\":"), std::string::npos)
            << report();
        const auto expected = keywordsOf(exported(whole));
        ASSERT_EQ(expected.size(), 60u);

        // After a few answers, before the seed's children have all been asked, every request fails.
        const fs::path db = dir / (parallel ? "broken-p.sqlite" : "broken.sqlite");
        args = mode;
        args.insert(args.end(), {"--store", "sqlite:" + db.string()});
        service.clearRequests();
        test::ChildOptions options;
        std::atomic<bool> broken{false};
        options.whileRunning = [&](pid_t, const std::string&) {
            if (!broken && service.requests().size() >= 4) {
                broken = true;
                service.setFault(0, FixtureFault::Garbage500);
            }
        };
        const Outcome partial = run(args, {"s"}, options);
        service.setFault(0, FixtureFault::None);
        std::set<std::string> askedBefore;
        for (const auto& request : service.requests()) askedBefore.insert(request.keyword);
        ASSERT_TRUE(broken);
        EXPECT_EQ(partial.status, 4) << partial.err;
        EXPECT_NE(partial.err.find("keywords got no answer; they are kept: --resume asks them first (exit status 4)"),
                  std::string::npos)
            << partial.err;
        EXPECT_NE(partial.out.find("个关键词没有得到任何来源的应答，自 "), std::string::npos) << partial.out;
        EXPECT_NE(report().find("\"outcome\":\"incomplete\",\"exit\":4,\"unanswered\":"), std::string::npos)
            << report();
        const std::string listing = runs(db);
        EXPECT_NE(listing.find("\tincomplete\t"), std::string::npos) << listing;
        EXPECT_NE(listing.find("\tyes\n"), std::string::npos) << listing;
        EXPECT_LT(keywordsOf(exported(db)).size(), expected.size());

        service.clearRequests();
        const Outcome resumed = resume(db);
        ASSERT_EQ(resumed.status, 0) << resumed.err;
        EXPECT_EQ(keywordsOf(exported(db)), expected);
        EXPECT_NE(runs(db).find("\tfinished\t"), std::string::npos);
        EXPECT_NE(runs(db).find("\tno\n"), std::string::npos);
        // The kept keywords went first: the resumed run's first request is one the broken run
        // asked in vain (an answered keyword is never asked again), not one it never reached.
        const auto requests = service.requests();
        ASSERT_FALSE(requests.empty());
        EXPECT_TRUE(askedBefore.contains(requests.front().keyword)) << requests.front().keyword;
    }
}

// How each kind of failure ends, in both run modes: status, report and what standard error says.
TEST_F(CliOutcomes, ATableOfOutcomes) {
    const std::string closed = "[endpoints]\n0 = http://127.0.0.1:" + std::to_string(test::closedLoopbackPort()) +
                               "\n1 = http://127.0.0.1:" + std::to_string(test::closedLoopbackPort()) + "\n";
    test::writeFile(dir / "closed.ini", closed);
    const std::string dead = "http://127.0.0.1:" + std::to_string(test::closedLoopbackPort());
    struct Case {
        std::string name;
        std::vector<std::string> args;
        bool noNetwork = false;
        bool blocked = false;
        int status;
        std::string outcome;
        std::string err;
        bool serviceAsked;
    };
    const Case cases[] = {
        {"undisturbed", {"--sources", "0,1", "--limit", "0"}, false, false, 0, "finished", "", true},
        {"at the limit", {"--sources", "0,1", "--limit", "1"}, false, false, 0, "limit", "", true},
        {"no network", {"--sources", "0,1", "--limit", "0"}, true, false, 3, "no-answers",
         "no request got an answer (exit status 3)", false},
        {"every answer 429",
         {"--sources", "0,1", "--limit", "0", "--retries", "1", "--backoff", "0", "--cooldown", "0"},
         false,
         true,
         3,
         "no-answers",
         "Try --cooldown or --proxy, and see",
         true},
        {"every proxy dead", {"--sources", "0,1", "--limit", "0", "--proxy", dead}, false, false, 3, "no-answers",
         "every proxy was dropped; the run stopped (exit status 3)", false},
    };
    for (const bool parallel : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name + (parallel ? ", throughput" : ", sequential"));
            auto args = base(c.noNetwork ? dir / "closed.ini" : dir / "endpoints.ini");
            args.insert(args.end(), {"--delay", "0"});
            args.insert(args.end(), c.args.begin(), c.args.end());
            if (parallel) args.insert(args.end(), {"--parallel", "--rate", "200"});
            args.insert(args.end(), {"--", "手机", "手机壳"});
            service.setFault(0, c.blocked ? FixtureFault::Always429 : FixtureFault::None);
            service.setFault(1, c.blocked ? FixtureFault::Always429 : FixtureFault::None);
            service.clearRequests();
            fs::remove_all(dir / "home" / "cwls");
            fs::remove(dir / "report.json");
            const Outcome outcome = runCli(args);
            EXPECT_EQ(outcome.status, c.status) << outcome.err;
            EXPECT_NE(report().find("\"outcome\":\"" + c.outcome + "\",\"exit\":" + std::to_string(c.status) + ","),
                      std::string::npos)
                << report();
            if (!c.err.empty()) {
                EXPECT_NE(outcome.err.find(c.err), std::string::npos) << outcome.err;
            }
            EXPECT_EQ(!service.requests().empty(), c.serviceAsked);
            if (c.status == 3) {
                // Nothing came back, and the panel does not say it was saved.
                EXPECT_EQ(outcome.out.find("已帮您自动保存数据"), std::string::npos) << outcome.out;
                EXPECT_NE(outcome.out.find("没有任何请求得到应答，没有数据可保存"), std::string::npos) << outcome.out;
                EXPECT_EQ(outcome.err.find("--retries"), std::string::npos) << outcome.err;
            }
        }
    }
    service.setFault(0, FixtureFault::None);
    service.setFault(1, FixtureFault::None);

    // The report's totals and rows.
    const Outcome plain = run({"--sources", "0,1"});
    ASSERT_EQ(plain.status, 0) << plain.err;
    const std::string json = report();
    EXPECT_NE(json.find("{\"source\":0,\"label\":\"百度相关\",\"requests\":"), std::string::npos) << json;
    EXPECT_NE(json.find(",\"index\":0},{\"source\":1,"), std::string::npos) << json;
    EXPECT_NE(json.find(",\"index\":1}],\"keywords\":"), std::string::npos) << json;
    EXPECT_NE(json.find(",\"outcome\":\"finished\",\"exit\":0,\"unanswered\":0,\"ok\":"), std::string::npos)
        << json;
    EXPECT_NE(json.find(",\"failed\":0,\"blocked\":0,\"lost\":0}"), std::string::npos) << json;
}

// Every proxy gone: nothing leaves directly unless asked; a proxy that cannot be reached hands its
// request to the next.
TEST_F(CliOutcomes, ProxiesFailClosed) {
    const std::string dead = "http://127.0.0.1:" + std::to_string(test::closedLoopbackPort());
    const std::vector<std::string> seeds = {"手机", "手机壳", "平板电脑", "手机膜"};
    const Outcome stopped = run({"--sources", "0", "--proxy", dead}, seeds);
    EXPECT_EQ(stopped.status, 3) << stopped.err;
    EXPECT_NE(stopped.out.find("所有代理都已停用，采集已停止"), std::string::npos) << stopped.out;
    EXPECT_TRUE(service.requests().empty());

    // The three asked through the proxy stay unanswered: 4.
    const Outcome direct = run({"--sources", "0", "--proxy", dead, "--proxy-fallback", "direct"}, seeds);
    EXPECT_EQ(direct.status, 4) << direct.err;
    EXPECT_NE(direct.out.find("所有代理都已停用，之后的请求直接连接"), std::string::npos) << direct.out;
    EXPECT_FALSE(service.requests().empty());

    // A dead proxy and a live one: every request gets through, none counted as a retry.
    ForwardingProxy live(ForwardingProxy::Kind::Http);
    service.clearRequests();
    const Outcome rerouted = run({"--sources", "0", "--proxy", dead, "--proxy", live.url()}, seeds);
    EXPECT_EQ(rerouted.status, 0) << rerouted.err;
    EXPECT_NE(report().find("\"retries\":0"), std::string::npos) << report();
    EXPECT_NE(report().find("\"unanswered\":0"), std::string::npos) << report();
    EXPECT_EQ(live.forwarded().size(), service.requests().size());

    // A proxy file without a proxy is refused, naming the file.
    for (const std::string& text : {std::string(), std::string("# none\n\n   \n# still none\n")}) {
        test::writeFile(dir / "proxies.txt", text);
        service.clearRequests();
        const Outcome refused = run({"--proxy-file", (dir / "proxies.txt").string()});
        EXPECT_EQ(refused.status, 2);
        EXPECT_NE(refused.err.find((dir / "proxies.txt").string() + ": no proxy in the file"), std::string::npos)
            << refused.err;
        EXPECT_TRUE(service.requests().empty());
    }
}

// A run is alive while its process holds its lock: right after kill -9 (the process not yet
// reaped) it can be resumed; --resume ID picks an older one; the run's own options are refused.
TEST_F(CliOutcomes, ResumeTakesARunByItsLock) {
    service.useGraph(treeGraph());
    service.setLatency(std::chrono::milliseconds(20));
    const fs::path db = dir / "runs.sqlite";
    const std::vector<std::string> args = {"--sources", "0", "--no-main-word", "--store", "sqlite:" + db.string()};
    ASSERT_EQ(run(args, {"a1"}).status, 0);
    pid_t killed = 0;
    std::string listing;
    test::ChildOptions options;
    options.whileRunning = [&](pid_t pid, const std::string&) {
        if (killed != 0 || service.requests().size() < 3) return;
        killed = pid;
        ::kill(pid, SIGKILL);
        // Dead and not yet reaped: its pid is still taken, and only its lock tells.
        const fs::path stat = "/proc/" + std::to_string(pid) + "/stat";
        for (int i = 0; i < 5000; ++i) {
            const std::string text = test::readFile(stat);
            const auto paren = text.rfind(')');
            if (paren != std::string::npos && paren + 2 < text.size() && text[paren + 2] == 'Z') break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        listing = runs(db);
    };
    service.clearRequests();
    const Outcome first = run(args, {"s"}, options);
    EXPECT_EQ(first.status, 128 + SIGKILL);
    service.setLatency(std::chrono::milliseconds(0));
    EXPECT_NE(listing.find("\n2\t"), std::string::npos) << listing;
    EXPECT_NE(listing.find("\tinterrupted\t"), std::string::npos) << listing;
    EXPECT_NE(listing.find("\tyes\n"), std::string::npos) << listing;

    // The run's own options, named.
    const Outcome refused = resume(db, {"--sources", "1", "--limit", "5"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("leave out --sources, --limit"), std::string::npos) << refused.err;
    const Outcome finished = resume(db, {"1"});
    EXPECT_EQ(finished.status, 2);
    EXPECT_NE(finished.err.find("run 1 in " + db.string() + " is finished"), std::string::npos) << finished.err;

    // This machine's own apply: another save directory and an export format.
    fs::create_directories(dir / "elsewhere");
    const Outcome resumed = resume(db, {"2", "--save-dir", (dir / "elsewhere").string(), "--export-format", "csv"});
    ASSERT_EQ(resumed.status, 0) << resumed.err;
    EXPECT_EQ(keywordsOf(exported(db, "2")).size(), 60u);
    bool csv = false;
    for (const auto& entry : fs::directory_iterator(dir / "elsewhere"))
        csv = csv || entry.path().extension() == ".csv";
    EXPECT_TRUE(csv);
    const Outcome none = resume(db);
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.err.find("no run to resume"), std::string::npos) << none.err;
}

// The results file was written whole and the csv beside it could not be: standard error names the
// csv and why, not the results file.
TEST_F(CliOutcomes, AFailedExportBlamesTheFileThatFailed) {
    fs::create_directories(dir / "out" / "Zelkor长尾词_手机.csv");
    const Outcome outcome = run({"--sources", "0", "--export-format", "csv", "--quiet"});
    EXPECT_EQ(outcome.status, 1) << outcome.err;
    EXPECT_NE(outcome.err.find("zelkor-cli: cannot export to " + (dir / "out" / "Zelkor长尾词_手机.csv").string() + ": it is a directory"),
              std::string::npos)
        << outcome.err;
    EXPECT_EQ(outcome.err.find("Zelkor长尾词_手机.txt"), std::string::npos) << outcome.err;
    EXPECT_NE(test::readFile(dir / "out" / "Zelkor长尾词_手机.txt").find(test::to_gbk("手机壳")), std::string::npos);
}

TEST_F(CliOutcomes, SeedsGbkCannotHoldAreLeftOut) {
    const Outcome outcome = run({"--sources", "0"}, {"핸드폰 케이스", "手机"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_NE(outcome.err.find("seed '핸드폰 케이스' left out"), std::string::npos) << outcome.err;
    for (const auto& request : service.requests())
        EXPECT_EQ(request.keyword.find('?'), std::string::npos) << request.keyword;
    EXPECT_EQ(outcome.out.find('?'), std::string::npos) << outcome.out;

    test::writeFile(dir / "seeds.txt", "핸드폰\n");
    auto args = base(dir / "endpoints.ini");
    args.insert(args.end(), {"--seeds-file", (dir / "seeds.txt").string()});
    const Outcome none = runCli(args);
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.err.find("no seed left to ask"), std::string::npos) << none.err;
}

// The database is taken from the run part-way (another program holds its write lock past the wait):
// the run stops with exit 1, and why reaches standard error even with --quiet.
TEST_F(CliOutcomes, AStoreFailureSaysWhyOnStandardError) {
    service.useGraph(treeGraph());
    service.setLatency(std::chrono::milliseconds(50));
    const fs::path db = dir / "locked.sqlite";
    SqliteDb other;
    test::ChildOptions options;
    options.whileRunning = [&](pid_t, const std::string&) {
        if (!other.isOpen() && service.requests().size() >= 4) {
            ASSERT_TRUE(other.open(db, false, 0)) << other.error();
            ASSERT_TRUE(other.exec("BEGIN EXCLUSIVE")) << other.error();
        }
    };
    const Outcome outcome =
        run({"--sources", "0", "--no-main-word", "--quiet", "--store", "sqlite:" + db.string()}, {"s"}, options);
    ASSERT_TRUE(other.isOpen());
    EXPECT_EQ(outcome.status, 1) << outcome.err;
    EXPECT_TRUE(outcome.out.empty()) << outcome.out;
    EXPECT_NE(outcome.err.find("zelkor-cli: the run store failed: "), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.err.find("database is locked"), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.err.find("what it kept can be continued with --resume"), std::string::npos) << outcome.err;
    EXPECT_NE(report().find("\"outcome\":\"store-failed\",\"exit\":1,"), std::string::npos) << report();
}

// Ctrl-C while --resume reads back a large run (a million results): the reading ends there, nothing
// is asked, and the run is left as it was, to be continued.
TEST_F(CliOutcomes, CtrlCWhileALargeRunLoadsEndsIt) {
    const fs::path db = dir / "large.sqlite";
    service.setFault(0, FixtureFault::Garbage500);
    const Outcome first = run({"--sources", "0", "--store", "sqlite:" + db.string()}, {"s"});
    service.setFault(0, FixtureFault::None);
    ASSERT_EQ(first.status, 3) << first.err;
    {
        SqliteDb writer;
        ASSERT_TRUE(writer.open(db, false));
        ASSERT_TRUE(writer.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000000) "
                                "INSERT INTO results SELECT 1, i, CAST('s' || i AS BLOB), CAST('x' AS BLOB), "
                                "CAST('s' AS BLOB), CAST('s' AS BLOB), 1, '2026-12-11 12:00:00' FROM n; "
                                "UPDATE runs SET result_count = 1000000 WHERE id = 1;"))
            << writer.error();
    }
    const std::string before = runs(db);
    ASSERT_NE(before.find("\tincomplete\t"), std::string::npos) << before;
    service.clearRequests();

    const fs::path lock = db.string() + ".run1.lock";
    bool interrupted = false;
    test::ChildOptions options;
    options.whileRunning = [&](pid_t pid, const std::string&) {
        if (!interrupted && fs::exists(lock)) {
            interrupted = true;
            ::kill(pid, SIGINT);
        }
    };
    auto args = base(dir / "endpoints.ini");
    args.insert(args.end(), {"--store", "sqlite:" + db.string(), "--resume", "1"});
    const Outcome resumed = runCli(args, options);
    ASSERT_TRUE(interrupted);
    EXPECT_EQ(resumed.status, 130) << resumed.err;
    EXPECT_TRUE(service.requests().empty());
    EXPECT_EQ(runs(db), before);
}

// A phrase a service sends with characters GBK cannot hold, raw or as \u escapes, is never a keyword
// with "?" in it: it is left out, said once per service, and counted in the report.
TEST_F(CliOutcomes, ServicePhrasesGbkCannotHoldAreLeftOut) {
    const std::string korean = "핸드폰";
    const std::string escaped = "\\uD578\\uB4DC\\uD3F0";
    const struct {
        int source;
        const std::string& lost;
    } cases[] = {{0, korean}, {4, korean}, {4, escaped}, {1, escaped}};
    for (const auto& c : cases) {
        SCOPED_TRACE("service " + std::to_string(c.source) + (&c.lost == &escaped ? ", escaped" : ", raw"));
        std::string body = test::fixture_body(c.source, "手机", {"手机lostphrase", "手机好词"});
        ASSERT_NE(body.find("lostphrase"), std::string::npos) << body;
        for (auto at = body.find("lostphrase"); at != std::string::npos; at = body.find("lostphrase"))
            body.replace(at, 10, c.lost);
        service.setFixedAnswer(c.source, body, c.source == 1 ? "text/javascript; charset=gbk" : "text/plain; charset=utf-8");
        const Outcome outcome = run({"--sources", std::to_string(c.source)});
        service.setFixedAnswer(c.source, std::nullopt);
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        const std::string said = outcome.out + outcome.err;
        EXPECT_NE(said.find("个词含有 GBK 无法表示的字符，已舍弃"), std::string::npos) << said;
        EXPECT_NE(said.find("本次运行共舍弃 2 个含有 GBK 无法表示字符的词"), std::string::npos) << said;
        const std::string results = test::readFile(dir / "out" / "Zelkor长尾词_手机.txt");
        EXPECT_NE(results.find(test::to_gbk("手机好词")), std::string::npos) << results;
        EXPECT_EQ(results.find('?'), std::string::npos) << results;
        EXPECT_NE(report().find("\"lost\":2}"), std::string::npos) << report();
        for (const auto& request : service.requests())
            EXPECT_EQ(request.keyword.find('?'), std::string::npos) << request.keyword;
        service.clearRequests();
    }
}

} // namespace
} // namespace zelkor
