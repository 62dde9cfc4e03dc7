// zelkor-cli's HTML report against the fixture service: the report written at the end of a run
// and the one `report` reads back from the run's store show the same results; what cannot be
// written is refused before anything runs, and a store is never written over.

#include "fixture_service.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using test::FixtureService;
using test::TempDir;

test::ChildOutcome runCli(const std::vector<std::string>& args) {
    test::ChildOptions options;
    options.dropEnvironment = {"ZELKOR_"};
    return test::runChild(ZELKOR_CLI_PATH, args, options);
}

// The rows of the results table, as written.
std::vector<std::string> resultRows(const std::string& html) {
    std::vector<std::string> rows;
    const std::size_t table = html.find("<table id=\"results\">");
    for (std::size_t at = html.find("\n<tr><td>", table); at != std::string::npos && table != std::string::npos;
         at = html.find("\n<tr><td>", at + 1))
        rows.push_back(html.substr(at + 1, html.find('\n', at + 1) - at - 1));
    return rows;
}

class CliReport : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(service.ok());
        fs::create_directories(dir / "home");
        service.writeEndpoints(dir / "endpoints.ini");
    }
    std::vector<std::string> with(std::vector<std::string> args) const {
        args.insert(args.begin(), {"--home", (dir / "home").string(), "--endpoints", (dir / "endpoints.ini").string()});
        return args;
    }
    std::string store() const { return "sqlite:" + (dir / "runs.sqlite").string(); }

    FixtureService service;
    TempDir dir;
};

TEST_F(CliReport, TheRunsReportAndTheStoresShowTheSameResults) {
    const auto run = runCli(with({"--sources", "all", "--delay", "0", "--limit", "0", "--no-autosave", "--quiet",
                                  "--store", store(), "--report-html", (dir / "run.html").string(), "手机"}));
    ASSERT_EQ(run.status(), 0) << run.err;
    const auto stored = runCli(with({"report", "--store", store(), "-o", (dir / "stored.html").string()}));
    ASSERT_EQ(stored.status(), 0) << stored.err;
    const auto listing = runCli(with({"runs", "--store", store()}));
    ASSERT_EQ(listing.status(), 0) << listing.err;

    const std::string fromRun = test::readFile(dir / "run.html");
    const std::string fromStore = test::readFile(dir / "stored.html");
    const std::vector<std::string> rows = resultRows(fromRun);
    ASSERT_GT(rows.size(), 10u);
    EXPECT_EQ(resultRows(fromStore), rows);
    // `runs`: id, started, state, keywords, results, seeds.
    const std::string line = listing.out.substr(listing.out.find('\n') + 1);
    std::vector<std::string> fields;
    for (std::size_t from = 0, tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
        fields.push_back(line.substr(from, tab - from));
    ASSERT_GE(fields.size(), 5u);
    EXPECT_EQ(fields[4], std::to_string(rows.size()));
    EXPECT_NE(run.err.find("report of " + fields[4] + " results written"), std::string::npos) << run.err;

    for (const std::string* html : {&fromRun, &fromStore}) {
        EXPECT_NE(html->find("<th>种子</th><td>手机</td>"), std::string::npos);
        EXPECT_NE(html->find("<th>状态</th><td>finished</td>"), std::string::npos);
        EXPECT_NE(html->find("id=\"map-1\""), std::string::npos);
        EXPECT_NE(html->find("<th>选择列表框1</th><td>0,1,2,3,4,5,6,7"), std::string::npos);
    }
    // Only the run itself counted what each service answered.
    EXPECT_EQ(fromRun.find("请求数只在采集进行时统计"), std::string::npos);
    EXPECT_NE(fromStore.find("请求数只在采集进行时统计"), std::string::npos);
    EXPECT_NE(fromRun.find("<th>用时</th>"), std::string::npos);
}

TEST_F(CliReport, RefusesWhatItCannotWriteOrRead) {
    const auto made = runCli(with({"--sources", "0", "--delay", "0", "--limit", "3", "--no-autosave", "--quiet",
                                   "--store", store(), "手机"}));
    ASSERT_EQ(made.status(), 0) << made.err;
    const std::string before = test::readFile(dir / "runs.sqlite");
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"onto the store", {"report", "--store", store(), "-o", (dir / "runs.sqlite").string()}, "runs.sqlite"},
        {"the files store", {"report", "--store", "files", "-o", (dir / "r.html").string()}, "keeps no history"},
        {"no such store", {"report", "--store", "sqlite:" + (dir / "none.sqlite").string(), "-o",
                           (dir / "r.html").string()}, "no run store at"},
        {"no such run", {"report", "--store", store(), "--run", "99", "-o", (dir / "r.html").string()}, "no run 99"},
        {"into a directory", {"report", "--store", store(), "-o", dir.path().string()}, "directory"},
        {"a run's report under a file", {"--sources", "0", "--no-autosave", "--report-html",
                                         (dir / "runs.sqlite" / "r.html").string(), "手机"},
         "cannot write the report into"},
        {"a run's report onto a directory", {"--sources", "0", "--no-autosave", "--report-html", dir.path().string(),
                                             "手机"}, "is a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto outcome = runCli(with(c.args));
        EXPECT_EQ(outcome.status(), 2) << outcome.err;
        EXPECT_NE(outcome.err.find(c.says), std::string::npos) << outcome.err;
    }
    EXPECT_FALSE(fs::exists(dir / "r.html"));
    EXPECT_FALSE(fs::exists(dir / "none.sqlite"));
    EXPECT_EQ(test::readFile(dir / "runs.sqlite"), before);
}

} // namespace
} // namespace zelkor
