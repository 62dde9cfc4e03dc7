#include "engine/core/file_lock.h"
#include "fixture_service.h"
#include "support/child_process.h"
#include "support/hostile_server.h"
#include "support/loopback.h"
#include "support/temp_dir.h"
#include "support/tls_cert.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using test::FixtureService;
using test::readFile;
using test::TempDir;
using test::to_gbk;
using test::writeFile;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs zelkor-cli with `args`; `whileRunning` sees the output so far and may signal the process.
// With closedOutput its standard output is a pipe nobody reads.
Outcome runCli(const std::vector<std::string>& args,
               std::function<void(pid_t, const std::string&)> whileRunning = {}, bool closedOutput = false) {
    test::ChildOptions options;
    options.dropEnvironment = {"ZELKOR_"};
    options.whileRunning = std::move(whileRunning);
    options.closedOutput = closedOutput;
    const test::ChildOutcome child = test::runChild(ZELKOR_CLI_PATH, args, options);
    EXPECT_TRUE(child.started) << ZELKOR_CLI_PATH;
    return {child.status(), child.out, child.err};
}

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
}

// Removes one occurrence of `part`; the emptying thread's notices land wherever it runs.
void removeOnce(std::string& text, const std::string& part) {
    const auto at = text.find(part);
    ASSERT_NE(at, std::string::npos) << part;
    text.erase(at, part.size());
}

const std::string kEmptyBegin = "\n\n开始清理临时数据，建议清理完后再使用本软件\n";
const std::string kEmptyEnd = "\n\n临时数据清理完毕\n";

class CliRunTest : public ::testing::Test {
  protected:
    TempDir home;
    FixtureService service;
    fs::path endpoints;

    void SetUp() override {
        // The fixture graph: 手机 -> 0: 手机壳 手机支架 手机, 1: 手机壳 手机膜; 手机壳 -> 0: 手机壳定制, 1:
        // 手机.
        ASSERT_TRUE(service.ok());
        endpoints = home / "endpoints.ini";
        service.writeEndpoints(endpoints);
    }

    std::vector<std::string> base() {
        return {
            "--home", home.path().string(), "--endpoints", endpoints.string(), "--sources", "0,1", "--delay",
            "0"};
    }
    std::vector<std::string> with(std::vector<std::string> extra) {
        auto args = base();
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
    std::vector<std::string> askedKeywords() {
        std::vector<std::string> out;
        for (const auto& r : service.requests())
            out.push_back(std::to_string(r.source) + ":" + r.keyword);
        return out;
    }
};

TEST_F(CliRunTest, RunsToTheEndAndPrintsWhatThePanelReceives) {
    const Outcome o = runCli(with({"手机"}));
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string file = (home / "Zelkor长尾词_手机.txt").string();
    const std::string saved = "\n\n已帮您自动保存数据，保存路径为：" + file + "\n";
    const std::string seen = "  已采集过，不再重复采集\n";
    std::string out = o.out;
    removeOnce(out, kEmptyBegin);
    removeOnce(out, kEmptyEnd);
    EXPECT_EQ(out, "\n1 来源：百度相关  主词：手机  keyword：手机壳"
                   "\n2 来源：百度相关  主词：手机  keyword：手机支架"
                   "\n3 来源：百度相关  主词：手机  keyword：手机"
                   "\n\n手机壳" +
                       seen +
                       "\n4 来源：百度下拉  主词：手机  keyword：手机膜" +
                       saved + // the seed
                       "\n\n当前待索引任务4\n"
                       "\n5 来源：百度相关  主词：手机  keyword：手机壳定制"
                       "\n\n手机" +
                       seen + saved + // 手机壳
                       saved +        // 手机支架
                       "\n\n手机壳" + seen + "\n\n手机支架" + seen + "\n\n手机" + seen + "\n\n手机壳" + seen +
                       "\n\n手机膜" + seen + saved + // 手机
                       saved + saved +               // 手机膜, 手机壳定制
                       saved);                       // the export at the end
    // Not a terminal: no progress, only the summary per service at the end.
    EXPECT_EQ(o.err.find('\r'), std::string::npos) << o.err;
    EXPECT_EQ(o.err.rfind("source  requests  ok  empty  failed  blocked  retries  phrases  accepted  label\n"
                          "     0         6   3      3       0        0        0        7         4  百度相关\n"
                          "     1         6   3      3       0        0        0        5         1  百度下拉\n"
                          "   all        12   6      6       0        0        0       12         5  6 keywords, ",
                          0),
              0u)
        << o.err;
    EXPECT_EQ(readFile(file), to_gbk("手机壳\r\n手机支架\r\n手机\r\n手机膜\r\n手机壳定制\r\n"));
    EXPECT_EQ(askedKeywords(),
              (std::vector<std::string>{"0:手机", "1:手机", "0:手机壳", "1:手机壳", "0:手机支架",
                                        "1:手机支架", "0:手机", "1:手机", "0:手机膜", "1:手机膜",
                                        "0:手机壳定制", "1:手机壳定制"}));
}

TEST_F(CliRunTest, OptionsBecomeControlValues) {
    writeFile(home / "seeds.txt", "手机\n\n快手\n");
    writeFile(home / "forbidden.txt", to_gbk("支架\r\n"));
    fs::create_directories(home / "out");
    const Outcome o =
        runCli(with({"--seeds-file", (home / "seeds.txt").string(), "--forbidden-file",
                     (home / "forbidden.txt").string(), "--no-main-word", "--limit", "2", "--hangup",
                     (home / "kw").string(), "--save-dir", (home / "out").string(), "--quiet"}));
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, ""); // --quiet: the panel receives nothing
    // The limit of 2 ends the run at 手机, before source 1 is asked.
    EXPECT_EQ(askedKeywords(), std::vector<std::string>{"0:手机"});
    EXPECT_TRUE(fs::exists(home / "kw" / "手机壳.zr"));
    EXPECT_TRUE(fs::exists(home / "kw" / "手机.zr"));
    EXPECT_FALSE(fs::exists(home / "kw" / "手机支架.zr"));
    EXPECT_EQ(readFile(home / "out" / "Zelkor长尾词_手机快手.txt"), to_gbk("手机壳\r\n手机\r\n"));
}

TEST_F(CliRunTest, SeedsFileLinesAndForbiddenWordsApply) {
    writeFile(home / "seeds.txt", to_gbk("手机\r\n\r\n快手")); // not UTF-8: read as GBK
    writeFile(home / "forbidden.txt", "膜\n");
    const Outcome o = runCli(with({"--seeds-file", (home / "seeds.txt").string(), "--forbidden-file",
                                   (home / "forbidden.txt").string(), "--no-autosave", "--sources", "1"}));
    ASSERT_EQ(o.status, 0) << o.err;
    const auto asked = askedKeywords();
    ASSERT_GE(asked.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(asked.begin(), asked.begin() + 3),
              (std::vector<std::string>{"1:手机", "1:", "1:快手"}));
    EXPECT_NE(o.out.find("\n\n当前词语：手机膜  含有违禁词：膜  不使用\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(home / "Zelkor长尾词_手机快手.txt")); // --no-autosave: no file at all
    EXPECT_EQ(count(o.out, "已帮您自动保存数据"), 0u);
}

TEST_F(CliRunTest, DefaultsComeFromTheSettingsFile) {
    fs::create_directories(home / "data");
    writeFile(home / "data" / "Zelkorkey.ini",
              to_gbk("[编辑框]\r\n编辑框_关键词=手机壳\r\n编辑框_延时=0\r\n"));
    const Outcome o = runCli({"--home", home.path().string(), "--endpoints", endpoints.string()});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(askedKeywords(), (std::vector<std::string>{"0:手机壳", "0:手机壳定制"}));
    EXPECT_EQ(readFile(home / "Zelkor长尾词_手机壳.txt"), to_gbk("手机壳定制\r\n"));
}

TEST_F(CliRunTest, CtrlCStopsTheRunAndTheResultsAreExported) {
    bool sent = false;
    const Outcome o = runCli(with({"--delay", "3600", "手机"}), [&](pid_t pid, const std::string& out) {
        if (!sent && out.find("keyword：手机膜") != std::string::npos) {
            ::kill(pid, SIGINT);
            sent = true;
        }
    });
    ASSERT_TRUE(sent);
    EXPECT_EQ(o.status, 130) << o.err;
    const std::string file = (home / "Zelkor长尾词_手机.txt").string();
    EXPECT_EQ(readFile(file), to_gbk("手机壳\r\n手机支架\r\n手机\r\n手机膜\r\n"));
    EXPECT_EQ(count(o.out, "已帮您自动保存数据，保存路径为：" + file), 1u);
    EXPECT_EQ(count(o.out, kEmptyBegin), 2u); // Start and Stop
    EXPECT_EQ(count(o.out, "当前待索引任务"), 0u);
    EXPECT_FALSE(fs::exists(home / "cwls"));
}

TEST_F(CliRunTest, AFailedFinalExportExitsWith1) {
    fs::create_directories(home / "Zelkor长尾词_手机.txt"); // the results file's name is taken
    const Outcome o = runCli(with({"--limit", "1", "手机"}));
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("zelkor-cli: the results could not be saved to "), std::string::npos) << o.err;
    EXPECT_NE(o.out.find("数据保存失败，保存路径为："), std::string::npos);
}

TEST_F(CliRunTest, SharedOptionsWorkBeforeAndAfterASubcommand) {
    fs::create_directories(home / "data");
    fs::copy_file(endpoints, home / "data" / "endpoints.ini");
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"probe", "--home", home.path().string(), "--source", "0", "--json", "手机"},
             {"--home", home.path().string(), "probe", "--source", "0", "--json", "手机"},
             {"probe", "--endpoints", endpoints.string(), "--source", "0", "--json", "手机"}}) {
        const std::size_t before = service.requests().size();
        const Outcome o = runCli(args);
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.out.rfind("{\"source\":0,", 0), 0u) << o.out;
        EXPECT_EQ(service.requests().size(), before + 1); // asked the fixture, nothing else
    }
}

// The services are asked as the original asked them, certificates unchecked, unless --verify-tls
// asks for the check; then a service whose certificate nobody trusts gets no request at all.
TEST(CliProbe, VerifyTlsChecksTheServicesCertificates) {
    test::TlsCertificate cert;
    test::LoopbackServer service(cert.certPath(), cert.keyPath());
    std::atomic<int> answered{0};
    service.server().Get(".*", [&](const httplib::Request&, httplib::Response& res) {
        ++answered;
        res.set_content("<html>ok</html>", "text/html");
    });
    service.start();
    TempDir home;
    writeFile(home / "endpoints.ini", "[endpoints]\n0 = " + service.url("") + "\n");
    struct Case {
        std::vector<std::string> args;
        bool reaches;
    } cases[] = {
        {{"probe", "--source", "0", "--json", "手机"}, true},
        {{"probe", "--source", "0", "--json", "--verify-tls", "手机"}, false},
        {{"--sources", "0", "--delay", "0", "--no-autosave", "手机"}, true},
        {{"--sources", "0", "--delay", "0", "--no-autosave", "--verify-tls", "手机"}, false},
    };
    for (const Case& c : cases) {
        answered = 0;
        std::vector<std::string> args{"--home", home.path().string(), "--endpoints", (home / "endpoints.ini").string()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome o = runCli(args);
        // A run without an answer may end in its own status; only bad input would be 2.
        if (c.args.front() == "probe" || c.reaches) {
            EXPECT_EQ(o.status, 0) << o.err;
        }
        EXPECT_NE(o.status, 2) << o.err;
        EXPECT_EQ(answered > 0, c.reaches) << c.args.back() << " " << c.args.size();
        if (c.args.front() == "probe") {
            EXPECT_EQ(o.out.find("\"status\":\"200 OK\"") != std::string::npos, c.reaches) << o.out;
        }
    }
}

TEST(CliOptions, VersionAndSubcommandHelp) {
    const Outcome version = runCli({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("zelkor-cli ", 0), 0u) << version.out;
    EXPECT_NE(version.out.find_first_of("0123456789"), std::string::npos);

    const Outcome help = runCli({"probe", "--help"});
    EXPECT_EQ(help.status, 0);
    for (const std::string option : {"--source", "--json", "--home", "--endpoints"})
        EXPECT_NE(help.out.find("  " + option + " "), std::string::npos) << option;

    const Outcome main = runCli({"--help"});
    EXPECT_NE(main.out.find("1 when the final export"), std::string::npos);
    EXPECT_NE(main.out.find("probe"), std::string::npos);
}

TEST_F(CliRunTest, HangUpTermAndPipeSignalsStopWithTheFinalSave) {
    const std::string file = (home / "Zelkor长尾词_手机.txt").string();
    for (const int signal : {SIGTERM, SIGHUP, SIGPIPE}) {
        SCOPED_TRACE(signal);
        fs::remove(file);
        bool sent = false;
        const Outcome o = runCli(with({"--delay", "3600", "手机"}), [&](pid_t pid, const std::string& out) {
            if (!sent && out.find("keyword：手机膜") != std::string::npos) {
                ::kill(pid, signal);
                sent = true;
            }
        });
        ASSERT_TRUE(sent);
        EXPECT_EQ(o.status, 128 + signal) << o.err;
        EXPECT_EQ(readFile(file), to_gbk("手机壳\r\n手机支架\r\n手机\r\n手机膜\r\n"));
        EXPECT_EQ(count(o.out, "已帮您自动保存数据，保存路径为：" + file), 1u);
    }
}

TEST_F(CliRunTest, AClosedOutputStopsTheRunAndTheResultsAreStillSaved) {
    const Outcome o = runCli(with({"手机"}), {}, true);
    EXPECT_EQ(o.status, 128 + SIGPIPE) << o.err;
    const fs::path file = home / "Zelkor长尾词_手机.txt";
    ASSERT_TRUE(fs::exists(file));
    // Whatever the run had shown before it noticed, and nothing else.
    const std::string all = to_gbk("手机壳\r\n手机支架\r\n手机\r\n手机膜\r\n手机壳定制\r\n");
    EXPECT_EQ(all.rfind(readFile(file), 0), 0u) << readFile(file);
}

TEST_F(CliRunTest, EachSeedIsSavedBeforeTheNextIsAsked) {
    // Source 0 answers the first seed and never the second; the run is killed while it waits.
    test::HostileServer source([](const test::RawRequest& request) {
        std::string keyword;
        const std::string target = request.head.substr(4, request.head.find(' ', 4) - 4);
        test::fixture_source_of(target, &keyword);
        if (keyword == "手机")
            return test::hostile(test::HostileMode::Canned, 0, {},
                                 test::fixture_body(0, keyword, {"手机壳", "手机膜"}));
        return test::hostile(test::HostileMode::Silent);
    });
    writeFile(home / "one.ini", "[endpoints]\n0 = " + source.url("") + "\n");
    bool killed = false;
    runCli({"--home", home.path().string(), "--endpoints", (home / "one.ini").string(), "--sources", "0",
            "--delay", "0", "手机", "快手"},
           [&](pid_t pid, const std::string&) {
               if (!killed && source.requestCount() >= 2) {
                   ::kill(pid, SIGKILL);
                   killed = true;
               }
           });
    ASSERT_TRUE(killed);
    EXPECT_EQ(readFile(home / "Zelkor长尾词_手机快手.txt"), to_gbk("手机壳\r\n手机膜\r\n"));
}

TEST_F(CliRunTest, AFinalSaveThatFailsIsReportedWithExit1) {
    // A file size limit stands in for a full disk: every write past it fails.
    struct sigaction ignore {}, before {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &before);
    rlimit limit{}, saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    limit = saved;
    limit.rlim_cur = 12;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const Outcome o = runCli(with({"手机"}));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &before, nullptr);
    EXPECT_EQ(o.status, 1);
    const std::string file = (home / "Zelkor长尾词_手机.txt").string();
    EXPECT_NE(o.err.find("zelkor-cli: the results could not be saved to " + file), std::string::npos) << o.err;
    EXPECT_NE(o.out.find("数据保存失败，保存路径为：" + file), std::string::npos);
    // Never half written: the file is absent or holds whole lines.
    if (fs::exists(file)) {
        EXPECT_TRUE(readFile(file).empty() || readFile(file).ends_with("\r\n"));
    }
}

TEST_F(CliRunTest, ASecondRunOnTheSameHomeIsRefused) {
    int error = 0;
    auto other = FileLock::tryAcquire(homeLockFile(home.path()), &error);
    ASSERT_TRUE(other);
    const Outcome o = runCli(with({"手机"}));
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("zelkor-cli: another run is using the program directory " + home.path().string()),
              std::string::npos)
        << o.err;
    EXPECT_EQ(o.out, "");
    EXPECT_TRUE(service.requests().empty());
    other.reset();
    writeFile(home / "plain", "");
    const Outcome hangup = runCli(with({"--hangup", (home / "plain").string(), "手机"}));
    EXPECT_EQ(hangup.status, 2);
    EXPECT_NE(hangup.err.find("cannot write hang-up files into " + (home / "plain").string()), std::string::npos)
        << hangup.err;
    EXPECT_TRUE(service.requests().empty());
}

TEST(CliOptions, HelpShowsEveryOptionWithItsDefault) {
    TempDir home;
    const Outcome o = runCli({"--home", home.path().string(), "--help"});
    EXPECT_EQ(o.status, 0);
    for (const std::string option :
         {"--seeds-file", "--sources", "--delay", "--limit", "--forbidden-file", "--no-main-word", "--hangup",
          "--save-dir", "--no-autosave", "--quiet", "--home", "--endpoints"}) {
        const auto at = o.out.find("  " + option + " ");
        ASSERT_NE(at, std::string::npos) << option;
        EXPECT_NE(o.out.substr(at, o.out.find('\n', at) - at).find("default"), std::string::npos) << option;
    }
    EXPECT_TRUE(fs::is_empty(home.path()));
}

TEST(CliOptions, BadInputGivesExit2AMessageAndWritesNothing) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    TempDir home;
    writeFile(home / "endpoints-bad.ini", "[endpoints]\nthis is not a line\n");
    // Every service at a closed loopback port: a refusal that ever lets a run start asks nobody real.
    std::string closed = "[endpoints]\n";
    for (int i = 0; i < 25; ++i) closed += std::to_string(i) + " = http://127.0.0.1:9\n";
    writeFile(home / "closed.ini", closed);
    writeFile(home / "huge.txt", "a\n");
    fs::resize_file(home / "huge.txt", (16 << 20) + 1);
    writeFile(home / "nul-seeds.txt", std::string("手机\n电脑\n平") + '\0' + "板\n耳机\n");
    writeFile(home / "nul-forbidden.txt", std::string(1, '\0') + "成人\n");
    writeFile(home / "nul-proxies.txt", std::string("http://127.0.0.1:9\nhttp://127.0.0.1:10") + '\0' + "\n");
    writeFile(home / "deep.toml", "[" + std::string(20000, '[') + "\n");
    writeFile(home / "elsewhere.toml", "[[source]]\nindex = 0\nprefix = \"@127.0.0.1:9/s?q=\"\n");
    const std::string h = home.path().string();
    const Case cases[] = {
        {{"--bogus"}, "--bogus"},
        {{"--seeds-file", h + "/missing.txt"}, "missing.txt"},
        {{"--forbidden-file", h + "/missing.txt"}, "missing.txt"},
        {{"--seeds-file", h}, "Is a directory"},
        {{"--forbidden-file", h}, "Is a directory"},
        {{"--sources", "25"}, "--sources"},
        {{"--sources", "1,,2"}, "--sources"},
        {{"--sources", "baidu"}, "--sources"},
        {{"--sources", ""}, "--sources"},
        {{"--delay", "abc"}, "--delay"},
        {{"--limit", "many"}, "--limit"},
        {{"--limit", "0x2"}, "--limit"},
        {{"--limit", "1e3"}, "--limit"},
        {{"--limit", "99999999999"}, "--limit"},
        {{"--delay", "0x3"}, "--delay"},
        {{"--delay", "-1"}, "--delay"},
        {{"--delay", " 5"}, "--delay"},
        {{"--seeds-file", "/dev/zero"}, "16 MiB"},
        {{"--forbidden-file", h + "/huge.txt"}, "16 MiB"},
        {{"--seeds-file", h + "/nul-seeds.txt"}, "nul-seeds.txt:3: holds a NUL byte"},
        {{"--forbidden-file", h + "/nul-forbidden.txt"}, "nul-forbidden.txt:1: holds a NUL byte"},
        {{"--proxy-file", h + "/nul-proxies.txt"}, "nul-proxies.txt:2: holds a NUL byte"},
        {{"--sources-file", h + "/deep.toml"}, "deep.toml:1:33: nested deeper than 32"},
        {{"--sources-file", h + "/elsewhere.toml"}, "elsewhere.toml:3:10: prefix must begin with \"/\""},
        {{"--endpoints", h + "/missing.ini"}, "missing.ini"},
        {{"--endpoints", h + "/endpoints-bad.ini"}, "endpoints-bad.ini:2: expected key = value"},
        {{"--seeds-file", h + "/endpoints-bad.ini", "抖音"}, "not both"},
        {{"--save-dir", h + "/huge.txt/dir"}, "huge.txt/dir: Not a directory"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"--home", h};
        if (std::find(c.args.begin(), c.args.end(), "--endpoints") == c.args.end())
            args.insert(args.end(), {"--endpoints", h + "/closed.ini"});
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome o = runCli(args);
        EXPECT_EQ(o.status, 2) << c.args.front();
        EXPECT_EQ(o.out, "") << c.args.front();
        EXPECT_EQ(o.err.rfind("zelkor-cli: ", 0), 0u) << o.err;
        EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
    }
    const Outcome missingHome = runCli({"--home", h + "/nowhere", "--endpoints", h + "/closed.ini"});
    EXPECT_EQ(missingHome.status, 2);
    EXPECT_NE(missingHome.err.find("nowhere"), std::string::npos);
    // Nothing but the files the test made.
    std::vector<fs::path> left;
    for (const auto& entry : fs::recursive_directory_iterator(home.path()))
        left.push_back(entry.path().filename());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<fs::path>{"closed.ini", "deep.toml", "elsewhere.toml", "endpoints-bad.ini", "huge.txt",
                                           "nul-forbidden.txt", "nul-proxies.txt", "nul-seeds.txt"}));
}

} // namespace
} // namespace zelkor
