// The throughput mode end to end against the fixture service: zelkor-cli --parallel gives what a
// sequential run gives, paces every service from the service's own clock and keeps the count limit.

#include "engine/core/control_names.h"
#include "engine/output/export.h"
#include "engine/core/program_dir.h"
#include "engine/core/text_rules.h"
#include "engine/run/mining_run.h"
#include "engine/core/value_controls.h"
#include "fixture_service.h"
#include "sources/sources.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <thread>

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using test::FixtureFault;
using test::FixtureService;
using test::TempDir;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

Outcome runCli(const std::vector<std::string>& args) {
    test::ChildOptions options;
    options.dropEnvironment = {"ZELKOR_ENDPOINTS=", "ZELKOR_HOME="};
    options.timeout = std::chrono::seconds(120);
    const test::ChildOutcome child = test::runChild(ZELKOR_CLI_PATH, args, options);
    EXPECT_TRUE(child.started);
    return {child.status(), child.out, child.err};
}

std::set<std::string> listing(const fs::path& dir) {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error))
        names.insert(entry.path().filename().string());
    return names;
}

// Everything a run leaves behind that the user sees: the panel, the results file, the hang-up files.
struct Leftovers {
    int status = -1;
    std::string panel;
    std::string results;
    std::set<std::string> hangup;
};

class ParallelRun : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(service.ok());
        service.writeEndpoints(dir / "endpoints.ini");
        fs::create_directories(dir / "save");
    }

    // One run in a home of its own; the save and hang-up directories are shared and emptied first,
    // so that the two runs' texts (which name them) can be the same.
    Leftovers run(const std::string& home, std::vector<std::string> extra) {
        fs::remove_all(dir / "hang");
        fs::create_directories(dir / "hang");
        fs::remove_all(dir / "save");
        fs::create_directories(dir / "save");
        fs::create_directories(dir / home);
        std::vector<std::string> args = {"--home",     (dir / home).string(), "--endpoints", (dir / "endpoints.ini").string(),
                                         "--sources",  "all",                 "--delay",     "0",
                                         "--save-dir", (dir / "save").string(), "--hangup",  (dir / "hang").string()};
        args.insert(args.end(), extra.begin(), extra.end());
        const Outcome outcome = runCli(args);
        Leftovers left;
        left.status = outcome.status;
        left.panel = outcome.out;
        for (const auto& name : listing(dir / "save"))
            left.results += name + ":\n" + test::readFile(dir / "save" / name);
        left.hangup = listing(dir / "hang");
        return left;
    }

    TempDir dir;
    // Enough workers that every service's request is answered at once.
    FixtureService service{0, 32};
};

TEST_F(ParallelRun, GivesWhatTheSequentialRunGives) {
    // Answers come back out of order (1-9 ms each), so only the commit order can keep them in line.
    service.setLatency(std::chrono::milliseconds(5), std::chrono::milliseconds(4));
    struct Case {
        const char* name;
        std::vector<std::string> seeds;
        std::string limit;
    };
    const Case cases[] = {
        {"whole graph", {"手机", "电脑"}, "0"},
        {"count limit", {"手机", "电脑"}, "7"},
        {"limit among queued keywords", {"手机"}, "12"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> extra = {"--limit", c.limit};
        extra.insert(extra.end(), c.seeds.begin(), c.seeds.end());
        const Leftovers sequential = run("seq" + std::to_string(n), extra);
        extra.insert(extra.begin(), {"--parallel", "--rate", "40"});
        const Leftovers parallel = run("par" + std::to_string(n), extra);
        ++n;
        EXPECT_EQ(sequential.status, 0);
        EXPECT_EQ(parallel.status, 0);
        EXPECT_FALSE(sequential.results.empty());
        EXPECT_FALSE(sequential.hangup.empty());
        EXPECT_EQ(parallel.panel, sequential.panel);
        EXPECT_EQ(parallel.results, sequential.results);
        EXPECT_EQ(parallel.hangup, sequential.hangup);
        if (c.limit != "0") {
            // The limit holds: exactly that many phrases shown.
            const std::string shown = "已达到挖掘数量上限" + c.limit;
            EXPECT_NE(parallel.panel.find(shown), std::string::npos);
        }
    }
}

TEST_F(ParallelRun, PacesEveryServiceByItsOwnClock) {
    service.useGraph(test::fixture_bench_graph(40));
    service.setLatency(std::chrono::milliseconds(20), std::chrono::milliseconds(15));
    const double rate = 10; // 100 ms between two requests to a service
    const Leftovers left = run("paced", {"--parallel", "--rate", "10", "--limit", "0", "bench-0"});
    ASSERT_EQ(left.status, 0);
    std::map<int, std::vector<test::ReceivedRequest>> bySource;
    for (auto& request : service.requests())
        bySource[request.source].push_back(request);
    ASSERT_EQ(bySource.size(), 25u);
    std::set<std::string> keywords;
    for (auto& [source, requests] : bySource) {
        SCOPED_TRACE("source " + std::to_string(source));
        EXPECT_EQ(requests.size(), 41u); // every keyword once, the seed again as an answer of its own
        std::sort(requests.begin(), requests.end(), [](auto& a, auto& b) { return a.arrived < b.arrived; });
        for (std::size_t i = 1; i < requests.size(); ++i) {
            // One in flight: the next request comes only after the answer left.
            EXPECT_GE(requests[i].arrived, requests[i - 1].answered);
        }
        // Starts 1/R apart. A request held up on its way in (a busy machine) arrives late and
        // close to the next; it never arrives early. So between starts i and j > i lie at least
        // j - i - 1 whole gaps, whichever one request was held up.
        for (std::size_t i = 0; i < requests.size(); ++i) {
            for (std::size_t j = i + 1; j < requests.size(); ++j) {
                const double span = std::chrono::duration<double>(requests[j].arrived - requests[i].arrived).count();
                const double least = static_cast<double>(j - i - 1) / rate - 0.02;
                if (span < least) {
                    ADD_FAILURE() << requests.size() << " requests; " << j - i << " starts in " << span << " s, from "
                                  << requests[i].keyword << " to " << requests[j].keyword;
                    i = requests.size();
                    break;
                }
            }
        }
        for (auto& request : requests)
            keywords.insert(request.keyword);
    }
    EXPECT_EQ(keywords.size(), 40u);
}

TEST_F(ParallelRun, RateIsCheckedBeforeAnythingIsSent) {
    for (const std::string bad : {"0", "-1", "abc", "1e3", "2000"}) {
        SCOPED_TRACE(bad);
        const Leftovers left = run("bad", {"--parallel", "--rate", bad, "手机"});
        EXPECT_NE(left.status, 0);
    }
    const Leftovers noParallel = run("bad", {"--rate", "3", "手机"});
    EXPECT_NE(noParallel.status, 0);
    EXPECT_TRUE(service.requests().empty());
}

} // namespace
} // namespace zelkor
