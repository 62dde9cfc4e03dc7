// How zelkor-cli reads its command line, from the outside: argv against the real binary and the
// fixture service; what came out, and what the service was asked.

#include "fixture_service.h"
#include "support/child_process.h"
#include "support/proxies.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using test::FixtureService;
using test::TempDir;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

class CliParse : public ::testing::Test {
  protected:
    TempDir home;
    FixtureService service;
    test::ForwardingProxy proxy{test::ForwardingProxy::Kind::Http};

    void SetUp() override {
        ASSERT_TRUE(service.ok());
        service.writeEndpoints(home / "endpoints.ini");
        test::writeFile(home / "plain", "");
    }

    // "{home}" and "{proxy}" in `args` stand for the test's home and proxy.
    Outcome run(std::vector<std::string> args) {
        for (std::string& arg : args)
            for (const auto& [name, value] : {std::pair<std::string, std::string>{"{home}", home.path().string()},
                                              {"{proxy}", proxy.url()}})
                if (const auto at = arg.find(name); at != std::string::npos) arg.replace(at, name.size(), value);
        std::vector<std::string> all{"--home", home.path().string(), "--endpoints", (home / "endpoints.ini").string()};
        all.insert(all.end(), args.begin(), args.end());
        test::ChildOptions options;
        options.dropEnvironment = {"ZELKOR_"};
        const test::ChildOutcome child = test::runChild(ZELKOR_CLI_PATH, all, options);
        EXPECT_TRUE(child.started) << ZELKOR_CLI_PATH;
        return {child.status(), child.out, child.err};
    }

    std::vector<std::string> asked() const {
        std::vector<std::string> out;
        for (const auto& r : service.requests())
            out.push_back(std::to_string(r.source) + ":" + r.keyword);
        return out;
    }
};

// A short run on source 0 that ends at its first keyword; then `more`.
std::vector<std::string> mining(std::vector<std::string> more) {
    std::vector<std::string> args{"--sources", "0", "--delay", "0", "--limit", "1", "--no-autosave"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

std::string usage(const std::string& line, const std::string& where = "zelkor-cli") {
    return "zelkor-cli: " + line + "\nRun '" + where + " --help' for the options.\n";
}

TEST_F(CliParse, CommandLines) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string fragment; // of standard output and standard error together
        std::vector<std::string> asked;
    };
    const std::vector<std::string> none;
    const std::vector<std::string> seed{"0:手机"};
    const Case cases[] = {
        // One value per occurrence of a repeatable option.
        {mining({"--proxy", "{proxy}", "手机"}), 0, "1 keyword", seed},
        {mining({"--proxy={proxy}", "手机"}), 0, "1 keyword", seed},
        {mining({"--proxy", "{proxy}", "--proxy", "{proxy}", "手机"}), 0, "1 keyword", seed},
        {mining({"手机", "--proxy", "{proxy}"}), 0, "1 keyword", seed},
        {{"probe", "--source", "0", "--source", "1", "--json", "手机"}, 0, "{\"source\":1,", {"0:手机", "1:手机"}},
        {{"probe", "--source=1", "手机"}, 0, "#1 ", {"1:手机"}},

        // help, and a first word that looks like a mistyped command.
        {{"help"}, 0, "Usage: zelkor-cli [OPTIONS]", none},
        {{"help", "export"}, 0, "Usage: zelkor-cli export [OPTIONS]", none},
        {{"--delay", "0", "help", "probe"}, 0, "Usage: zelkor-cli probe [OPTIONS] KEYWORD", none},
        {{"help", "exprot"}, 2, "there is no command 'exprot'; the commands are probe, sources, runs, export", none},
        {{"exprot"}, 2, "'exprot' is not a command; did you mean 'export'? A seed spelled like that goes after '--'",
         none},
        {{"rnus"}, 2, "did you mean 'runs'?", none},
        {{"prob", "手机"}, 2, "did you mean 'probe'?", none},
        {{"sourcse"}, 2, "did you mean 'sources'?", none},
        {{"--sources", "0", "EXPORT"}, 2, "did you mean 'export'?", none},
        {mining({"--", "exprot"}), 0, "1 keyword", {"0:exprot"}},
        {mining({"--", "help"}), 0, "1 keyword", {"0:help"}},
        {mining({"手机", "exprot"}), 0, "1 keyword", seed}, // only the first word can be a command
        {mining({"手机", "runs"}), 0, "1 keyword", seed},
        {mining({"手机壳"}), 0, "1 keyword", {"0:手机壳"}}, // not Latin: never a mistyped command
        {mining({"exporting"}), 0, "1 keyword", {"0:exporting"}}, // three edits away

        // Numbers: one reader, our words, the subcommand's own help.
        {mining({"--cooldown", "0.5", "手机"}), 2, usage("--cooldown: '0.5' is not a whole number from 0 to 86400"),
         none},
        {mining({"--limit", "-1", "手机"}), 2, usage("--limit: '-1' is not a whole number of 0 or more"), none},
        {mining({"--delay", "-1", "手机"}), 2, usage("--delay: '-1' is not a whole number of 0 or more"), none},
        {mining({"--retries", "101", "手机"}), 2, usage("--retries: '101' is not a whole number from 0 to 100"), none},
        {mining({"--retries", "0x10", "手机"}), 2, "'0x10' is not a whole number from 0 to 100", none},
        {mining({"--backoff", "1e-1", "手机"}), 2, usage("--backoff: '1e-1' is not a number from 0 to 3600"), none},
        {mining({"--parallel", "--rate", "0.001", "手机"}), 2, "--rate: '0.001' is not a number from 0.01 to 1000",
         none},
        {mining({"--max-answer-mib", "0", "手机"}), 2, "'0' is not a whole number from 1 to 1024", none},
        {mining({"手机", "--retries"}), 2, usage("--retries needs a value: N 0-100"), none},
        {{"probe", "--deadline", "0", "手机"}, 2,
         usage("--deadline: '0' is not a whole number from 1 to 3600", "zelkor-cli probe"), none},
        {{"export", "--store", "sqlite", "--format", "doc", "-o", "r.doc"}, 2, "Run 'zelkor-cli export --help'", none},
        {{"runs"}, 2, usage("--store is required", "zelkor-cli runs"), none},
        {mining({"--min-chars", "4", "--max-chars", "3", "手机"}), 2,
         "--min-chars 4 is above --max-chars 3: no phrase could be kept", none},
        {mining({"--min-chars", "3", "--max-chars", "3", "手机"}), 0, "1 keyword", seed},
        {mining({"--min-chars", "4", "--max-chars", "0", "手机"}), 0, "1 keyword", seed}, // 0: no bound
        {mining({"--backoff", "0.25", "--parallel", "--rate", "0.5", "手机"}), 0, "1 keyword", seed},
        {mining({"--limit", "0", "--limit", "1", "手机"}), 0, "1 keyword", seed}, // the last one wins
    };
    for (const Case& c : cases) {
        std::string line;
        for (const auto& arg : c.args) line += arg + " ";
        SCOPED_TRACE(line);
        service.clearRequests();
        const Outcome o = run(c.args);
        EXPECT_EQ(o.status, c.status) << o.err;
        EXPECT_NE((o.out + o.err).find(c.fragment), std::string::npos) << o.out << o.err;
        EXPECT_EQ(asked(), c.asked);
        if (c.status == 2) {
            EXPECT_EQ(o.out, "");
            EXPECT_EQ(o.err.rfind("zelkor-cli: ", 0), 0u) << o.err;
        }
    }
    EXPECT_FALSE(proxy.forwarded().empty());
    // Nothing but the files the test made: a refused or help-only command line writes nothing, and
    // the runs above saved nothing.
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(home.path())) left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"cwls", "endpoints.ini", "plain"}));
}

TEST_F(CliParse, HelpShowsRangesAndTheWayToASeedLikeACommand) {
    const Outcome o = run({"--help"});
    ASSERT_EQ(o.status, 0);
    for (const std::string shown : {"--delay S >= 0", "--limit N >= 0", "--retries N 0-100", "--backoff S 0-3600",
                                    "--rate R 0.01-1000", "--max-answer-mib N 1-1024", "--lease S 1-86400",
                                    "zelkor-cli [OPTIONS] -- exprot", "help                "})
        EXPECT_NE(o.out.find(shown), std::string::npos) << shown;
    const Outcome probe = run({"probe", "--help"});
    EXPECT_NE(probe.out.find("--deadline S 1-3600"), std::string::npos) << probe.out;
}

TEST_F(CliParse, OutputDirectoriesAreMadeOrRefusedBeforeTheRun) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string fragment; // of standard error
        std::string made;     // a file the run left, under the home
    };
    const Case cases[] = {
        {{"--save-dir", "{home}/made/save"}, 0, "", "made/save/Zelkor长尾词_手机.txt"},
        {{"--hangup", "{home}/made/hangup", "--no-autosave"}, 0, "", "made/hangup/手机壳.zr"},
        {{"--report", "{home}/made/report/r.json", "--no-autosave"}, 0, "", "made/report/r.json"},
        {{"--save-dir", "{home}/plain/save"}, 2, "cannot write results into {home}/plain/save: Not a directory", ""},
        {{"--hangup", "{home}/plain/hangup"}, 2, "cannot write hang-up files into {home}/plain/hangup: Not a directory",
         ""},
        {{"--report", "{home}/plain/r.json"}, 2, "cannot write the report into {home}/plain: Not a directory", ""},
        {{"--report", "{home}/made"}, 2, "the report {home}/made is a directory; name a file in it", ""},
        // The save directory is refused first: nothing of the others is made.
        {{"--save-dir", "{home}/plain/save", "--hangup", "{home}/never/hangup", "--report", "{home}/never/r.json"}, 2,
         "plain/save: Not a directory", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args[1]);
        service.clearRequests();
        std::vector<std::string> args{"--sources", "0", "--delay", "0", "--limit", "1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back("手机");
        const Outcome o = run(args);
        EXPECT_EQ(o.status, c.status) << o.err;
        std::string fragment = c.fragment;
        if (const auto at = fragment.find("{home}"); at != std::string::npos)
            fragment.replace(at, 6, home.path().string());
        EXPECT_NE(o.err.find(fragment), std::string::npos) << o.err;
        if (c.status == 0) {
            EXPECT_TRUE(fs::is_regular_file(home / c.made)) << c.made;
            EXPECT_EQ(asked(), std::vector<std::string>{"0:手机"});
        } else {
            EXPECT_TRUE(asked().empty());
            EXPECT_EQ(o.out, "");
        }
    }
    EXPECT_FALSE(fs::exists(home / "never"));
}

TEST_F(CliParse, ExportTakesItsFormatFromTheFileName) {
    const std::string store = "sqlite:" + (home / "runs.sqlite").string();
    const Outcome mined =
        run({"--store", store, "--sources", "0", "--delay", "0", "--limit", "0", "--no-autosave", "手机"});
    ASSERT_EQ(mined.status, 0) << mined.err;
    struct Case {
        std::vector<std::string> args;
        std::string file;
        int status;
        std::string begins; // the file's first bytes; "" when it must not exist
    };
    const std::string csv = "\xEF\xBB\xBFkeyword,source,";
    const std::string txt = test::to_gbk("手机壳") + "\r\n";
    const Case cases[] = {
        {{}, "r.csv", 0, csv},
        {{}, "R.CSV", 0, csv},
        {{}, "r.jsonl", 0, "{\""},
        {{}, "r.txt", 0, txt},
        {{}, "r.xlsx", 0, "PK"},
        {{}, "new/dir/r.csv", 0, csv},
        {{"--format", "txt"}, "given.csv", 0, txt}, // --format wins over the name
        {{"--format", "jsonl"}, "given", 0, "{\""},
        {{}, "r.dat", 2, ""},
        {{}, "r", 2, ""},
        {{}, "r.csv.bak", 2, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const fs::path file = home / "exports" / c.file;
        std::vector<std::string> args{"export", "--store", store, "-o", file.string()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome o = run(args);
        EXPECT_EQ(o.status, c.status) << o.err;
        if (c.status == 0) {
            EXPECT_EQ(test::readFile(file).substr(0, c.begins.size()), c.begins);
        } else {
            EXPECT_NE(o.err.find("cannot tell the format of " + file.string() + " from its name"), std::string::npos)
                << o.err;
            EXPECT_FALSE(fs::exists(file));
        }
    }
}

} // namespace
} // namespace zelkor
