// One run worked by several zelkor-cli workers through a real redis-server: a worker killed part-way
// loses nothing, every keyword lands in the shared results exactly once, and only the keyword the
// dead worker held is asked twice.

#include "fixture_service.h"
#include "support/child_process.h"
#include "support/redis_server.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <map>
#include <set>
#include <thread>

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using test::FixtureService;
using test::RedisServer;
using test::TempDir;

constexpr int kGraph = 120;

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

class SharedRun : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(redis.ok()) << redis.error();
        ASSERT_TRUE(service.ok());
        // Two services name new keywords: a deep breadth-first walk of a few seconds.
        service.useBenchGraph(kGraph, 2);
        service.setLatency(std::chrono::milliseconds(8), std::chrono::milliseconds(4));
        service.writeEndpoints(dir / "endpoints.ini");
    }

    std::vector<std::string> workerArgs(const std::string& name, const std::string& run) {
        fs::create_directories(dir / name / "save");
        return {"--home",  (dir / name).string(), "--endpoints",  (dir / "endpoints.ini").string(),
                "--sources", "0,1,2",             "--delay",      "0",
                "--limit", "0",                   "--no-main-word", "--save-dir",
                (dir / name / "save").string(),   "--store",      redis.url(2),
                "--run",   run,                   "--lease",      "2"};
    }

    test::ChildOutcome cli(const std::vector<std::string>& args, test::ChildOptions options = {}) {
        options.dropEnvironment = {"ZELKOR_ENDPOINTS=", "ZELKOR_HOME="};
        options.timeout = std::chrono::seconds(120);
        auto outcome = test::runChild(ZELKOR_CLI_PATH, args, options);
        EXPECT_TRUE(outcome.started);
        return outcome;
    }

    // The keywords of an exported run, in the order of the file.
    std::vector<std::string> exported(const std::string& run) {
        const fs::path file = dir / (run + ".jsonl");
        const auto outcome =
            cli({"export", "--store", redis.url(2), "--run", run, "--format", "jsonl", "-o", file.string()});
        EXPECT_EQ(outcome.status(), 0) << outcome.err;
        std::vector<std::string> keywords;
        const std::string text = test::readFile(file);
        const std::string key = "\"keyword\":\"";
        for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
            const auto start = at + key.size();
            keywords.push_back(text.substr(start, text.find('"', start) - start));
        }
        return keywords;
    }

    // Requests per keyword and source.
    std::map<std::pair<std::string, int>, int> asked() {
        std::map<std::pair<std::string, int>, int> counts;
        for (const auto& request : service.requests()) ++counts[{request.keyword, request.source}];
        return counts;
    }

    RedisServer redis;
    TempDir dir;
    FixtureService service{0, 16};
};

TEST_F(SharedRun, AKilledWorkerLosesNothingAndOnlyItsKeywordIsAskedTwice) {
    // What one worker alone asks and finds.
    const auto alone = cli(workerArgs("alone", "alone") + std::vector<std::string>{"bench-0"});
    ASSERT_EQ(alone.status(), 0) << alone.err;
    const auto single = exported("alone");
    const auto singleAsked = asked();
    ASSERT_EQ(std::set<std::string>(single.begin(), single.end()).size(), single.size());
    ASSERT_GT(single.size(), 100u);
    service.clearRequests();

    // Three workers, the third killed once it has shown a few phrases of its own. It starts first, so
    // it creates the run and has work at once, whatever the machine's load.
    std::vector<test::ChildOutcome> outcomes(3);
    std::vector<std::jthread> workers;
    for (const int i : {2, 0, 1}) {
        workers.emplace_back([&, i] {
            test::ChildOptions options;
            if (i == 2) {
                options.whileRunning = [](pid_t pid, const std::string& out) {
                    if (count(out, "keyword：") >= 3) ::kill(pid, SIGKILL);
                };
            }
            outcomes[static_cast<std::size_t>(i)] =
                cli(workerArgs("w" + std::to_string(i), "shared") + std::vector<std::string>{"bench-0"}, options);
        });
        if (i == 2) std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    workers.clear();
    EXPECT_EQ(outcomes[0].status(), 0) << outcomes[0].err;
    EXPECT_EQ(outcomes[1].status(), 0) << outcomes[1].err;
    ASSERT_EQ(outcomes[2].status(), 128 + SIGKILL) << "the third worker ended before it was killed";
    // Two of them joined the first one's run, and said so.
    EXPECT_EQ(count(outcomes[0].err + outcomes[1].err + outcomes[2].err, "joined the run shared"), 2u);

    // Every keyword exactly once, the same keywords one worker alone finds.
    const auto shared = exported("shared");
    EXPECT_EQ(std::multiset<std::string>(shared.begin(), shared.end()),
              std::multiset<std::string>(single.begin(), single.end()));

    // Each worker showed its own share; together, all of them (the killed one's shown phrases were
    // either committed or are shown again by whoever took its keyword back).
    std::size_t shown = 0;
    for (int i = 0; i < 2; ++i) shown += count(outcomes[static_cast<std::size_t>(i)].out, "keyword：");
    EXPECT_GT(count(outcomes[0].out, "keyword："), 0u);
    EXPECT_GT(count(outcomes[1].out, "keyword："), 0u);
    EXPECT_LE(shown, single.size());

    // Asked as often as by one worker alone, but for the keyword the killed worker held.
    std::set<std::string> twice;
    for (const auto& [what, times] : asked()) {
        const auto it = singleAsked.find(what);
        const int expected = it == singleAsked.end() ? 0 : it->second;
        if (times == expected) continue;
        EXPECT_EQ(times, expected + 1) << what.first << " from source " << what.second;
        twice.insert(what.first);
    }
    EXPECT_LE(twice.size(), 1u);
    for (const auto& [what, times] : singleAsked)
        EXPECT_TRUE(asked().contains(what)) << what.first << " was never asked";

    // The history.
    const auto runs = cli({"runs", "--store", redis.url(2)});
    ASSERT_EQ(runs.status(), 0) << runs.err;
    EXPECT_NE(runs.out.find("shared\t"), std::string::npos) << runs.out;
    EXPECT_NE(runs.out.find("\tfinished\t"), std::string::npos) << runs.out;
    EXPECT_NE(runs.out.find("\t" + std::to_string(single.size()) + "\tbench-0"), std::string::npos) << runs.out;

    // A finished run takes no more workers.
    const auto late = cli(workerArgs("late", "shared"));
    EXPECT_EQ(late.status(), 2);
    EXPECT_NE(late.err.find("is finished"), std::string::npos) << late.err;
}

TEST_F(SharedRun, RefusesBadOptionsAndStopsCleanlyWhenTheServerGoes) {
    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    const Case cases[] = {
        {{"--store", "redis://127.0.0.1:1/0", "bench-0"}, "needs --run"},
        {{"--store", redis.url(2), "--run", "a b", "bench-0"}, "invalid --run"},
        {{"--store", redis.url(2), "--run", "x", "--lease", "0", "bench-0"}, "--lease"},
        {{"--store", redis.url(2), "--run", "x", "--resume"}, "leave out --resume"},
        {{"--run", "x", "bench-0"}, "belong to a shared store"},
        {{"--store", "redis://:1/0", "--run", "x", "bench-0"}, "invalid --store"},
        {{"--store", "redis://127.0.0.1:1/0", "--run", "x", "bench-0"}, "cannot reach Redis at 127.0.0.1:1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        const auto outcome = cli(std::vector<std::string>{"--home", dir.path().string(), "--endpoints",
                                                          (dir / "endpoints.ini").string()} +
                                 c.args);
        EXPECT_EQ(outcome.status(), 2);
        EXPECT_NE(outcome.err.find(c.says), std::string::npos) << outcome.err;
    }
    EXPECT_TRUE(service.requests().empty());

    // The server goes away part-way: the worker says so and fails, it does not crash or hang.
    auto server = std::make_unique<RedisServer>();
    ASSERT_TRUE(server->ok()) << server->error();
    auto args = workerArgs("gone", "gone");
    args[std::find(args.begin(), args.end(), "--store") - args.begin() + 1] = server->url(0);
    args.push_back("bench-0");
    test::ChildOptions options;
    options.whileRunning = [&](pid_t, const std::string& out) {
        if (server && count(out, "keyword：") >= 3) server.reset();
    };
    const auto outcome = cli(args, options);
    EXPECT_EQ(outcome.status(), 1) << outcome.err;
    EXPECT_NE(outcome.err.find("trying again"), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.err.find("shared run store failed"), std::string::npos) << outcome.err;
}

} // namespace
} // namespace zelkor
