// zelkor-cli end to end against the fixture service, reached only through an endpoints file.

#include "fixture_service.h"
#include "support/child_process.h"
#include "text/text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sstream>

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

Outcome runCli(const std::vector<std::string>& args,
               const std::vector<std::pair<std::string, std::string>>& env = {}) {
    test::ChildOptions options;
    options.dropEnvironment = {"ZELKOR_ENDPOINTS=", "ZELKOR_HOME="};
    for (const auto& [name, value] : env)
        options.environment.push_back(name + "=" + value);
    options.timeout = std::chrono::seconds(300); // a whole run against the fixture service
    const test::ChildOutcome child = test::runChild(ZELKOR_CLI_PATH, args, options);
    EXPECT_TRUE(child.started) << ZELKOR_CLI_PATH;
    return {child.exitCode, child.out, child.err};
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        out.push_back(text.substr(start, nl - start));
    out.push_back(text.substr(start));
    return out;
}

void expectSameLines(const std::string& actual, const std::string& expected) {
    const auto a = lines(actual);
    const auto e = lines(expected);
    for (std::size_t i = 0; i < std::min(a.size(), e.size()); ++i)
        if (a[i] != e[i]) {
            ADD_FAILURE() << "first difference at line " << i + 1 << "\n  actual:   " << a[i]
                          << "\n  expected: " << e[i];
            return;
        }
    EXPECT_EQ(a.size(), e.size()) << "line counts differ";
}

// Removes one notice of the store-emptying thread, which may land anywhere in the run's output.
bool takeNotice(std::string& out, const std::string& text) {
    const std::string block = "\n\n" + text + "\n";
    const auto at = out.find(block);
    if (at == std::string::npos) return false;
    out.erase(at, block.size());
    return out.find(block) == std::string::npos;
}

// The run's output for the seed 手机, written event by event as the fixture graph makes it. Sources
// in `down` answer nothing; the keywords only they would have named never reach the queue.
class ExpectedRun {
  public:
    ExpectedRun(std::string hangDir, std::string resultFile, std::set<std::string> down)
        : m_hang(std::move(hangDir)), m_result(std::move(resultFile)), m_down(std::move(down)) {}

    void shown(const std::string& source, const std::string& keyword) {
        if (m_down.count(source)) return;
        m_out += "\n\n挂机词语 " + keyword + " 已保存到：" + m_hang + "\n";
        m_out += "\n" + std::to_string(++m_count) + " 来源：" + source + "  主词：手机  keyword：" + keyword;
        m_shown.push_back(keyword);
        m_queued.insert(keyword);
    }
    // Accepted and queued, but without the main word: nothing shown.
    void hidden(const std::string& source, const std::string& keyword) {
        if (m_down.count(source)) return;
        ++m_count;
        m_queued.insert(keyword);
    }
    void seen(const std::string& source, const std::string& keyword) {
        if (!m_down.count(source)) notice(keyword + "  已采集过，不再重复采集");
    }
    void forbidden(const std::string& source, const std::string& keyword, const std::string& word) {
        if (!m_down.count(source)) notice("当前词语：" + keyword + "  含有违禁词：" + word + "  不使用");
    }
    void queueNotice() { notice("当前待索引任务" + std::to_string(m_queued.size())); }
    // One keyword of the queue pass; `answers` runs only when the keyword was queued at all.
    template <typename F> void step(const std::string& keyword, F answers) {
        if (!m_queued.count(keyword)) return;
        answers();
        saved();
    }
    void step(const std::string& keyword) {
        step(keyword, [] {});
    }
    void saved() { notice("已帮您自动保存数据，保存路径为：" + m_result); }

    const std::string& out() const { return m_out; }
    const std::vector<std::string>& shownKeywords() const { return m_shown; }

  private:
    void notice(const std::string& text) { m_out += "\n\n" + text + "\n"; }

    std::string m_hang;
    std::string m_result;
    std::set<std::string> m_down;
    std::string m_out;
    int m_count = 0;
    std::vector<std::string> m_shown;
    std::set<std::string> m_queued;
};

// What the fixture graph answers for 手机, per source in list order, as the sink sees it.
void seedAnswers(ExpectedRun& r) {
    r.shown("百度相关", "手机壳");
    r.shown("百度相关", "手机支架");
    r.shown("百度相关", "手机");
    r.seen("百度下拉", "手机壳");
    r.shown("百度下拉", "手机膜");
    r.shown("百度移动相关", "手机报价");
    r.shown("百度移动下拉", "手机回收");
    r.shown("淘宝下拉", "手机套");
    r.shown("360搜索相关", "手机品牌");
    r.shown("360下拉", "手机号");
    r.shown("神马相关", "手机银行");
    r.shown("神马下拉", "手机游戏");
    r.shown("搜狗相关", "手机壁纸"); // then an empty cell, rejected without a word
    r.hidden("搜狗相关", "平板电脑");
    r.shown("搜狗下拉", "手机铃声");
    r.forbidden("搜狗下拉", "手机QQ", "QQ");
    r.shown("丁香园医疗", "手机辐射");
    r.shown("360良医相关", "手机依赖症");
    r.shown("360良医下拉", "手机颈");
    r.shown("爱奇艺相关", "手机电影");
    r.shown("优酷下拉", "手机电视");
    r.shown("bilibili", "手机直播");
    r.shown("腾讯视频", "手机视频");
    r.shown("爱奇艺下拉", "手机剧");
    r.shown("搜狐下拉", "手机短片");
    r.shown("youtube", "手机评测");
    r.shown("google相关", "手机测评");
    r.shown("google下拉", "手机排行");
    r.shown("1688下拉", "手机配件");
    r.shown("京东下拉", "手机充电器"); // then the version element, an empty text
}

// The same answers asked again when the queue reaches 手机 itself: every phrase is known by now.
void seedAnswersAgain(ExpectedRun& r) {
    const std::vector<std::pair<std::string, std::string>> again = {
        {"百度相关", "手机壳"},       {"百度相关", "手机支架"}, {"百度相关", "手机"},
        {"百度下拉", "手机壳"},       {"百度下拉", "手机膜"},   {"百度移动相关", "手机报价"},
        {"百度移动下拉", "手机回收"}, {"淘宝下拉", "手机套"},   {"360搜索相关", "手机品牌"},
        {"360下拉", "手机号"},        {"神马相关", "手机银行"}, {"神马下拉", "手机游戏"},
        {"搜狗相关", "手机壁纸"},     {"搜狗相关", "平板电脑"}, {"搜狗下拉", "手机铃声"},
    };
    for (const auto& [source, keyword] : again)
        r.seen(source, keyword);
    r.forbidden("搜狗下拉", "手机QQ", "QQ"); // a forbidden phrase is never marked, so it comes back
    const std::vector<std::pair<std::string, std::string>> rest = {
        {"丁香园医疗", "手机辐射"}, {"360良医相关", "手机依赖症"}, {"360良医下拉", "手机颈"},
        {"爱奇艺相关", "手机电影"}, {"优酷下拉", "手机电视"},      {"bilibili", "手机直播"},
        {"腾讯视频", "手机视频"},   {"爱奇艺下拉", "手机剧"},      {"搜狐下拉", "手机短片"},
        {"youtube", "手机评测"},    {"google相关", "手机测评"},    {"google下拉", "手机排行"},
        {"1688下拉", "手机配件"},   {"京东下拉", "手机充电器"},
    };
    for (const auto& [source, keyword] : rest)
        r.seen(source, keyword);
}

ExpectedRun expectedRun(const std::string& hang, const std::string& result, std::set<std::string> down) {
    ExpectedRun r(hang, result, std::move(down));
    seedAnswers(r);
    r.saved(); // after the seed
    r.queueNotice();
    r.step("手机壳", [&] {
        r.shown("百度相关", "手机壳定制");
        r.seen("百度下拉", "手机");
    });
    r.step("手机支架");
    r.step("手机", [&] { seedAnswersAgain(r); });
    for (const char* keyword : {"手机膜", "手机报价", "手机回收", "手机套", "手机品牌", "手机号", "手机银行",
                                "手机游戏", "手机壁纸"})
        r.step(keyword);
    r.step("平板电脑", [&] { r.hidden("百度下拉", "平板电脑支架"); });
    for (const char* keyword : {"手机铃声", "手机辐射", "手机依赖症", "手机颈", "手机电影", "手机电视",
                                "手机直播", "手机视频", "手机剧", "手机短片", "手机评测", "手机测评",
                                "手机排行", "手机配件", "手机充电器", "手机壳定制", "平板电脑支架"})
        r.step(keyword);
    r.saved(); // the export when the run has ended
    return r;
}

class CliFixtureRun : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(service.ok());
        fs::create_directories(dir / "home");
        fs::create_directories(dir / "out");
    }

    Outcome run() {
        service.writeEndpoints(dir / "endpoints.ini");
        return runCli({"--home", (dir / "home").string(), "--endpoints", (dir / "endpoints.ini").string(),
                       "--sources", "all", "--delay", "0", "--limit", "0", "--hangup",
                       (dir / "hang").string(), "--save-dir", (dir / "out").string(), "手机"});
    }

    void expectRun(const Outcome& outcome, const ExpectedRun& expected) {
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        std::string out = outcome.out;
        EXPECT_TRUE(takeNotice(out, "开始清理临时数据，建议清理完后再使用本软件")) << out;
        EXPECT_TRUE(takeNotice(out, "临时数据清理完毕")) << out;
        expectSameLines(out, expected.out());

        std::string exported;
        for (const std::string& keyword : expected.shownKeywords())
            exported += test::to_gbk(keyword) + "\r\n";
        EXPECT_EQ(test::readFile(dir / "out" / "Zelkor长尾词_手机.txt"), exported);

        std::set<std::string> hangFiles;
        for (const auto& entry : fs::directory_iterator(dir / "hang")) {
            hangFiles.insert(entry.path().filename().string());
            EXPECT_EQ(fs::file_size(entry.path()), 0u);
        }
        std::set<std::string> expectedFiles;
        for (const std::string& keyword : expected.shownKeywords())
            expectedFiles.insert(keyword + ".zr");
        EXPECT_EQ(hangFiles, expectedFiles);
    }

    TempDir dir;
    FixtureService service;
};

TEST_F(CliFixtureRun, AllSourcesAgainstTheFixtureService) {
    const std::string result = (dir / "out" / "Zelkor长尾词_手机.txt").string();
    const Outcome outcome = run();
    expectRun(outcome, expectedRun((dir / "hang").string(), result, {}));
    // Every source was asked about every queued keyword, each once.
    const auto requests = service.requests();
    EXPECT_EQ(requests.size(), 25u * 31u);
    for (const auto& request : requests)
        EXPECT_GE(request.source, 0) << request.target;
}

TEST_F(CliFixtureRun, BrokenServicesLeaveTheOthersAsBefore) {
    service.setFault(5, FixtureFault::Garbage500);
    service.setFault(6, FixtureFault::CloseAtOnce);
    const std::string result = (dir / "out" / "Zelkor长尾词_手机.txt").string();
    const Outcome outcome = run();
    expectRun(outcome, expectedRun((dir / "hang").string(), result, {"360搜索相关", "360下拉"}));
}

TEST(CliFixtureProbe, PrintsEachSourcesRequestAndPhrasesAsJson) {
    FixtureService service;
    ASSERT_TRUE(service.ok());
    TempDir dir;
    fs::create_directories(dir / "home");
    service.writeEndpoints(dir / "endpoints.ini");
    const Outcome outcome = runCli(
        {"probe", "--source", "0", "--source", "9,21", "--json", "手机"},
        {{"ZELKOR_ENDPOINTS", (dir / "endpoints.ini").string()}, {"ZELKOR_HOME", (dir / "home").string()}});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    const std::string origin = service.origin();
    auto bytes = [](int source) {
        return std::to_string(
            test::fixture_body(source, "手机", test::fixture_phrases(source, "手机")).size());
    };
    const std::string expected =
        "{\"source\":0,\"label\":\"百度相关\",\"url\":\"" + origin +
        "/s?ie=utf-8&wd=%E6%89%8B%E6%9C%BA\",\"status\":\"200 OK\",\"bytes\":" + bytes(0) +
        ",\"phrases\":[\"手机壳\",\"手机支架\",\"手机\"],\"class\":\"ok\"}\n"
        "{\"source\":9,\"label\":\"搜狗搜索\",\"url\":\"" +
        origin + "/web?query=%E6%89%8B%E6%9C%BA\",\"status\":\"200 OK\",\"bytes\":" + bytes(9) +
        ",\"phrases\":[\"手机壁纸\",\"\",\"平板电脑\"],\"class\":\"ok\"}\n"
        "{\"source\":21,\"label\":\"google相关\",\"url\":\"" +
        origin +
        "/search?hl=zh-CN&source=hp&ei=_J7PgwR7LmYPJ9FBaEHd5_j&q=%E6%89%8B%E6%9C%BA\",\"status\":\"\","
        "\"bytes\":" +
        bytes(21) + ",\"phrases\":[\"手机测评\"],\"class\":\"ok\"}\n";
    expectSameLines(outcome.out, expected);
    // Nothing is stored: no seen store, no settings, no results.
    EXPECT_TRUE(fs::is_empty(dir / "home"));
    EXPECT_EQ(service.requests().size(), 3u);

    // A keyword that is not UTF-8 is taken as GBK.
    const Outcome gbk = runCli(
        {"probe", "--json", "--source", "1", test::to_gbk("手机")},
        {{"ZELKOR_ENDPOINTS", (dir / "endpoints.ini").string()}, {"ZELKOR_HOME", (dir / "home").string()}});
    ASSERT_EQ(gbk.status, 0) << gbk.err;
    EXPECT_NE(gbk.out.find("/5a1Fazu8AA54nxGko9WTAnF6hhy/su?wd=%E6%89%8B%E6%9C%BA\","), std::string::npos)
        << gbk.out;
    EXPECT_NE(gbk.out.find("\"phrases\":[\"手机壳\",\"手机膜\"],\"class\":\"ok\"}"), std::string::npos) << gbk.out;
}

TEST(CliFixtureProbe, ShowsABrokenServiceAndRejectsBadArguments) {
    FixtureService service;
    ASSERT_TRUE(service.ok());
    service.setFault(6, FixtureFault::Garbage500);
    TempDir dir;
    service.writeEndpoints(dir / "endpoints.ini");
    const Outcome outcome =
        runCli({"probe", "--endpoints=" + (dir / "endpoints.ini").string(), "--source=6", "手机"});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    expectSameLines(outcome.out,
                    "#6 360下拉\n  url: " + service.origin() +
                        "/suggest?callback=suggest_so&encodein=utf-8&encodeout=utf-8&format=json&"
                        "fields=word&word=%E6%89%8B%E6%9C%BA\n  status: 500 Internal Server Error\n"
                        "  class: failed\n  bytes: 30\n  phrases: 0\n");

    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{"probe"},
                                               {"probe", "--source", "25", "x"},
                                               {"probe", "--source=", "x"},
                                               {"probe", "--json=1", "x"},
                                               {"probe", "--bogus", "x"},
                                               {"probe", "a", "b"}}) {
        const Outcome failed = runCli(bad);
        EXPECT_EQ(failed.status, 2) << bad.back();
        EXPECT_TRUE(failed.out.empty());
        EXPECT_FALSE(failed.err.empty());
    }
}

// A row mended and a row added through a sources file, seen on the wire by probe and by a run.
TEST(CliFixtureSources, MendedAndAddedRowsReachTheService) {
    FixtureService service;
    ASSERT_TRUE(service.ok());
    TempDir dir;
    fs::create_directories(dir / "home");
    test::writeFile(dir / "endpoints.ini", service.endpointsText() + "25 = " + service.origin() + "\n");
    // Row 25 asks the shop suggestion service (row 4's path) under a name of its own.
    test::writeFile(dir / "sources.toml", "[[source]]\nindex = 1\noutput_name = \"百度下拉改\"\n"
                                          "headers = \"X-Mended: yes\"\n\n"
                                          "[[source]]\nindex = 25\nlabel = \"淘宝副本\"\nfamily = \"suggestion\"\n"
                                          "scheme = \"https\"\nhost = \"shop.invalid\"\n"
                                          "prefix = \"/sug?code=utf-8&q=\"\ndecoding = \"utf8\"\n"
                                          "array_path = \"result\"\nitem_prefix = \"result[\"\n"
                                          "item_suffix = \"][0]\"\n");
    const std::vector<std::string> files = {"--endpoints", (dir / "endpoints.ini").string(), "--sources-file",
                                            (dir / "sources.toml").string()};
    // The files go after a subcommand's name, or first for a run.
    auto with = [&](std::vector<std::string> args) {
        args.insert(args.begin() + (args.front() == "probe" ? 1 : 0), files.begin(), files.end());
        return runCli(args, {{"ZELKOR_HOME", (dir / "home").string()}});
    };

    const Outcome probe = with({"probe", "--json", "--source", "25", "手机"});
    ASSERT_EQ(probe.status, 0) << probe.err;
    std::string phrases;
    for (const std::string& phrase : test::fixture_phrases(4, "手机"))
        phrases += (phrases.empty() ? "\"" : ",\"") + phrase + "\"";
    EXPECT_EQ(probe.out, "{\"source\":25,\"label\":\"淘宝副本\",\"url\":\"" + service.origin() +
                             "/sug?code=utf-8&q=%E6%89%8B%E6%9C%BA\",\"status\":\"200 OK\",\"bytes\":" +
                             std::to_string(test::fixture_body(4, "手机", test::fixture_phrases(4, "手机")).size()) +
                             ",\"phrases\":[" + phrases + "],\"class\":\"ok\"}\n");

    service.clearRequests();
    const Outcome run = with({"--home", (dir / "home").string(), "--sources", "1,25", "--delay", "0",
                              "--limit", "0", "--no-autosave", "手机"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("来源：百度下拉改  主词：手机  keyword："), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("来源：淘宝副本  主词：手机  keyword："), std::string::npos) << run.out;
    int mended = 0, added = 0;
    for (const auto& request : service.requests()) {
        ASSERT_TRUE(request.source == 1 || request.source == 4) << request.target;
        if (request.source == 1) {
            ++mended;
            const auto header = request.headers.find("X-Mended");
            EXPECT_TRUE(header != request.headers.end() && header->second == "yes");
        } else {
            ++added;
        }
    }
    EXPECT_GT(mended, 0);
    EXPECT_EQ(added, mended); // each keyword asked of both, row 1 first
    EXPECT_EQ(service.requests().front().source, 1);
}

TEST(CliFixtureSources, DumpReadsBackAndBrokenFilesStopBeforeAnyRequest) {
    FixtureService service;
    ASSERT_TRUE(service.ok());
    TempDir dir;
    fs::create_directories(dir / "home" / "data");
    service.writeEndpoints(dir / "endpoints.ini");
    const std::vector<std::pair<std::string, std::string>> env = {{"ZELKOR_HOME", (dir / "home").string()}};

    const Outcome dump = runCli({"sources"}, env);
    ASSERT_EQ(dump.status, 0) << dump.err;
    EXPECT_NE(dump.out.find("\n# 24 京东下拉: JD search suggestion service\n[[source]]\nindex = 24\n"),
              std::string::npos);
    test::writeFile(dir / "dump.toml", dump.out);
    const Outcome again = runCli({"sources", "--sources-file", (dir / "dump.toml").string()}, env);
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.out, dump.out);

    // The home's file is read by default; a broken one stops every command that would use it.
    test::writeFile(dir / "home" / "data" / "sources.toml", "[[source]]\nindex = 3\n\nhots = \"x\"\n");
    const std::string endpoints = "--endpoints=" + (dir / "endpoints.ini").string();
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"probe", endpoints, "手机"},
                                               {endpoints, "--sources", "all", "--no-autosave", "手机"},
                                               {"sources", "--sources-file", (dir / "home/data/sources.toml").string()}}) {
        const Outcome refused = runCli(args, env);
        EXPECT_EQ(refused.status, 2) << args.front();
        EXPECT_NE(refused.err.find("sources.toml:4:1: unknown key \"hots\""), std::string::npos) << refused.err;
        EXPECT_TRUE(refused.out.empty()) << refused.out;
    }
    EXPECT_TRUE(service.requests().empty());

    // Without a file that adds it, index 25 is no source.
    fs::remove(dir / "home" / "data" / "sources.toml");
    const Outcome unknown = runCli({endpoints, "--sources", "25", "--no-autosave", "手机"}, env);
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("indexes 0-24"), std::string::npos) << unknown.err;
}

// Each seed's variants are asked right after it, in the order given, before the queue.
TEST(CliFixtureVariants, FollowEachSeedInTheOrderGiven) {
    FixtureService service;
    ASSERT_TRUE(service.ok());
    TempDir dir;
    fs::create_directories(dir / "home");
    service.writeEndpoints(dir / "endpoints.ini");
    test::writeFile(dir / "frames.txt", "{}推荐\n最新\n");
    const Outcome run = runCli({"--home", (dir / "home").string(), "--endpoints", (dir / "endpoints.ini").string(),
                                "--sources", "4", "--delay", "0", "--limit", "0", "--no-autosave", "--variants",
                                "digits,file:" + (dir / "frames.txt").string(), "手机", "电脑"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> expected;
    for (const std::string seed : {"手机", "电脑"}) {
        expected.push_back(seed);
        for (char d = '0'; d <= '9'; ++d)
            expected.push_back(seed + d);
        expected.push_back(seed + "推荐");
        expected.push_back(seed + "最新");
    }
    const auto requests = service.requests();
    ASSERT_GT(requests.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(requests[i].keyword, expected[i]) << i;

    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--variants", "az,letters"}, {"--variants", "file:" + (dir / "none.txt").string()}}) {
        std::vector<std::string> args = {"--home", (dir / "home").string(), "--no-autosave"};
        args.insert(args.end(), bad.begin(), bad.end());
        args.push_back("手机");
        const Outcome refused = runCli(args);
        EXPECT_EQ(refused.status, 2) << bad.back();
        EXPECT_FALSE(refused.err.empty());
    }
}

TEST(CliFixtureFilters, DroppedPhrasesAreNeitherShownNorQueued) {
    FixtureService service;
    ASSERT_TRUE(service.ok());
    TempDir dir;
    fs::create_directories(dir / "home");
    service.writeEndpoints(dir / "endpoints.ini");
    const std::vector<std::string> base = {"--home", (dir / "home").string(), "--endpoints",
                                           (dir / "endpoints.ini").string(), "--sources", "0", "--delay", "0",
                                           "--limit", "0", "--no-autosave"};
    auto run = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = base;
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back("手机");
        return runCli(args);
    };
    // Source 0 answers 手机壳, 手机支架 and 手机 for the seed.
    const Outcome filtered = run({"--exclude", "壳$", "--max-chars", "3"});
    ASSERT_EQ(filtered.status, 0) << filtered.err;
    EXPECT_NE(filtered.out.find("当前词语：手机壳  符合排除规则：壳$  不使用"), std::string::npos) << filtered.out;
    EXPECT_NE(filtered.out.find("当前词语：手机支架  多于3个字  不使用"), std::string::npos) << filtered.out;
    EXPECT_EQ(filtered.out.find("keyword：手机壳"), std::string::npos);
    for (const auto& request : service.requests()) {
        EXPECT_NE(request.keyword, "手机壳");
        EXPECT_NE(request.keyword, "手机支架");
    }

    service.clearRequests();
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--include", "(手机"}, {"--exclude", "[a-"}, {"--include", "(?<=a)b"}}) {
        const Outcome refused = run(bad);
        EXPECT_EQ(refused.status, 2);
        EXPECT_NE(refused.err.find("pattern \"" + bad.back() + "\" is broken: "), std::string::npos) << refused.err;
    }
    // A pattern kept in the settings file is checked like the option.
    test::writeFile(dir / "home" / "data" / "Zelkorkey.ini", utf8_to_gbk("[编辑框]\r\n编辑框_排除规则=(手机\r\n"));
    const Outcome kept = run({});
    EXPECT_EQ(kept.status, 2);
    EXPECT_NE(kept.err.find("settings file: the exclude pattern \"(手机\" is broken: "), std::string::npos) << kept.err;
    fs::remove(dir / "home" / "data" / "Zelkorkey.ini");
    const Outcome negative = run({"--min-chars", "-1"});
    EXPECT_EQ(negative.status, 2);
    EXPECT_TRUE(service.requests().empty());
}

// Hits, the depth bound, filters that keep walking and normal forms, each against the run without it.
TEST(CliFixtureIntelligence, EachOptionChangesTheWalkAsItSays) {
    FixtureService service;
    ASSERT_TRUE(service.ok());
    TempDir dir;
    fs::create_directories(dir / "home");
    service.writeEndpoints(dir / "endpoints.ini");
    struct Case {
        std::string name;
        std::vector<std::string> options;
        std::string seed;
        std::vector<std::string> rows;  // keyword,depth[,hits,services] of the csv export
        std::vector<std::string> asked; // keywords the service was asked, in order
    };
    const Case cases[] = {
        // 手机 is asked twice (the seed, then the result 手机), so its phrases come again.
        {"hits: every offer, every service",
         {"--sources", "0,1", "--hits"},
         "手机",
         {"手机壳,1,4,2", "手机支架,1,2,1", "手机,1,3,2", "手机膜,1,2,1", "手机壳定制,2,1,1"},
         {"手机", "手机", "手机壳", "手机壳", "手机支架", "手机支架", "手机", "手机", "手机膜", "手机膜",
          "手机壳定制", "手机壳定制"}},
        {"depth bound: depth-1 phrases are results, never asked",
         {"--sources", "0", "--max-depth", "1"},
         "手机",
         {"手机壳,1", "手机支架,1", "手机,1"},
         {"手机"}},
        {"show filter: 手机壳 is hidden, but what it leads to is found",
         {"--sources", "0", "--exclude", "壳$", "--filter-mode", "show"},
         "手机",
         {"手机支架,1", "手机,1", "手机壳定制,2"},
         {"手机", "手机壳", "手机支架", "手机", "手机壳定制"}},
        {"walk filter: 手机壳 and all behind it are gone",
         {"--sources", "0", "--exclude", "壳$", "--filter-mode", "walk"},
         "手机",
         {"手机支架,1", "手机,1"},
         {"手机", "手机支架", "手机"}},
        {"exact forms: four phrases",
         {"--sources", "0", "--hits"},
         "平板",
         {"平板電腦,1,1,1", "平板电脑,1,1,1", "平板　ＰＲＯ,1,1,1", "平板 PRO,1,1,1"},
         {"平板", "平板電腦", "平板电脑", "平板　ＰＲＯ", "平板 PRO"}},
        {"normal forms: near-duplicates merge and add up",
         {"--sources", "0", "--hits", "--normalize"},
         "平板",
         {"平板电脑,1,2,1", "平板 PRO,1,2,1"},
         {"平板", "平板电脑", "平板 PRO"}},
    };
    for (const Case& c : cases) {
        service.clearRequests();
        fs::remove_all(dir / "out");
        std::vector<std::string> args = {"--home", (dir / "home").string(), "--endpoints",
                                         (dir / "endpoints.ini").string(), "--delay", "0", "--limit", "0",
                                         "--save-dir", (dir / "out").string(), "--export-format", "csv"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(c.seed);
        const Outcome o = runCli(args);
        ASSERT_EQ(o.status, 0) << c.name << "\n" << o.err;
        std::vector<std::string> rows;
        const std::vector<std::string> csv = lines(test::readFile(dir / "out" / ("Zelkor长尾词_" + c.seed + ".csv")));
        const bool withHits = csv.at(0).ends_with(",hits,services\r");
        // keyword,source,main_word,parent,depth,time,source_index[,hits,services]
        for (std::size_t i = 1; i < csv.size() && !csv[i].empty(); ++i) {
            std::vector<std::string> cells;
            std::stringstream line(csv[i].substr(0, csv[i].size() - 1));
            for (std::string cell; std::getline(line, cell, ',');) cells.push_back(cell);
            std::string row = cells.at(0) + "," + cells.at(4);
            if (withHits) row += "," + cells.at(7) + "," + cells.at(8);
            rows.push_back(row);
        }
        EXPECT_EQ(rows, c.rows) << c.name;
        std::vector<std::string> asked;
        for (const auto& request : service.requests()) asked.push_back(request.keyword);
        EXPECT_EQ(asked, c.asked) << c.name;
        fs::remove_all(dir / "home" / "cwls"); // each case starts with nothing seen
    }
}

// A stored run's results grouped by root word and by tag, and exported with their words.
TEST(CliFixtureIntelligence, GroupsAndWordsOfAStoredRun) {
    FixtureService service;
    ASSERT_TRUE(service.ok());
    TempDir dir;
    fs::create_directories(dir / "home");
    service.writeEndpoints(dir / "endpoints.ini");
    const std::string store = "sqlite:" + (dir / "runs.sqlite").string();
    const Outcome run = runCli({"--home", (dir / "home").string(), "--endpoints", (dir / "endpoints.ini").string(),
                                "--delay", "0", "--limit", "0", "--sources", "0,1", "--hits", "--store", store,
                                "--save-dir", dir.path().string(), "手机"});
    ASSERT_EQ(run.status, 0) << run.err;

    const std::string home = (dir / "home").string();
    const Outcome byRoot = runCli({"groups", "--home", home, "--store", store, "-o", (dir / "g.txt").string()});
    ASSERT_EQ(byRoot.status, 0) << byRoot.err;
    EXPECT_NE(byRoot.err.find("5 results in 4 groups"), std::string::npos) << byRoot.err;
    EXPECT_EQ(gbk_to_utf8(test::readFile(dir / "g.txt")),
              "【壳】 2\r\n手机壳\r\n手机壳定制\r\n\r\n【支架】 1\r\n手机支架\r\n\r\n【膜】 1\r\n手机膜\r\n\r\n"
              "【(无词根)】 1\r\n手机\r\n");

    const Outcome byTag = runCli({"groups", "--home", home, "--store", store, "--by", "tag", "-o",
                                  (dir / "g.csv").string()});
    ASSERT_EQ(byTag.status, 0) << byTag.err;
    const std::vector<std::string> rows = lines(test::readFile(dir / "g.csv"));
    EXPECT_EQ(rows.at(0),
              "\xEF\xBB\xBFkeyword,source,main_word,parent,depth,time,source_index,hits,services,root,tags,group\r");
    EXPECT_TRUE(rows.at(1).starts_with("手机壳,百度相关,手机,手机,1,")) << rows.at(1);
    EXPECT_TRUE(rows.at(1).ends_with(",0,4,2,壳,,(无标签)\r")) << rows.at(1);
    ASSERT_EQ(runCli({"groups", "--home", home, "--store", store, "-o", (dir / "g.xlsx").string()}).status, 0);
    EXPECT_EQ(test::readFile(dir / "g.xlsx").substr(0, 2), "PK");

    const Outcome words = runCli({"export", "--home", home, "--store", store, "--words", "-o",
                                  (dir / "e.jsonl").string()});
    ASSERT_EQ(words.status, 0) << words.err;
    EXPECT_NE(test::readFile(dir / "e.jsonl").find("\"hits\":4,\"services\":2,\"root\":\"壳\",\"tags\":\"\"}"),
              std::string::npos);

    const Outcome report = runCli({"report", "--home", home, "--store", store, "--words", "-o",
                                   (dir / "r.html").string()});
    ASSERT_EQ(report.status, 0) << report.err;
    const std::string html = test::readFile(dir / "r.html");
    EXPECT_NE(html.find("<tr><td>壳</td><td class=\"n\">2</td></tr>"), std::string::npos);
    EXPECT_NE(html.find("<tr><td>(无标签)</td><td class=\"n\">5</td><td>手机壳、手机支架、手机、手机膜、手机壳定制</td></tr>"),
              std::string::npos);

    const Outcome unknown = runCli({"groups", "--home", home, "--store", store, "-o", (dir / "g.pdf").string()});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("cannot tell the format"), std::string::npos) << unknown.err;
    const Outcome badBy = runCli({"groups", "--home", home, "--store", store, "--by", "stem", "-o", "x.txt"});
    EXPECT_EQ(badBy.status, 2);
}

// --export-format writes the results with their metadata beside the results file, which stays whole;
// the window's choice kept in the settings file is the default.
TEST(CliFixtureExport, ChosenFormatBesideTheResultsFile) {
    FixtureService service;
    ASSERT_TRUE(service.ok());
    TempDir dir;
    fs::create_directories(dir / "home" / "data");
    service.writeEndpoints(dir / "endpoints.ini");
    auto run = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = {"--home", (dir / "home").string(), "--endpoints",
                                         (dir / "endpoints.ini").string(), "--delay", "0", "--save-dir",
                                         dir.path().string()};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back("手机");
        return runCli(args);
    };
    const Outcome jsonl = run({"--export-format", "jsonl"});
    ASSERT_EQ(jsonl.status, 0) << jsonl.err;
    EXPECT_EQ(test::readFile(dir / "Zelkor长尾词_手机.txt"), utf8_to_gbk("手机壳\r\n手机支架\r\n手机\r\n手机壳定制\r\n"));
    const std::vector<std::string> records = lines(test::readFile(dir / "Zelkor长尾词_手机.jsonl"));
    ASSERT_EQ(records.size(), 5u); // four lines, each ended
    EXPECT_EQ(records[4], "");
    EXPECT_TRUE(records[3].starts_with(
        "{\"keyword\":\"手机壳定制\",\"source\":\"百度相关\",\"main_word\":\"手机\",\"parent\":\"手机壳\",\"depth\":2,"))
        << records[3];
    EXPECT_NE(jsonl.out.find("已帮您自动保存数据，保存路径为：" + (dir / "Zelkor长尾词_手机.jsonl").string()), std::string::npos)
        << jsonl.out;

    test::writeFile(dir / "home" / "data" / "Zelkorkey.ini", utf8_to_gbk("[编辑框]\r\n编辑框_导出格式=csv\r\n"));
    ASSERT_EQ(run({}).status, 0);
    EXPECT_TRUE(test::readFile(dir / "Zelkor长尾词_手机.csv").starts_with("\xEF\xBB\xBFkeyword,source,"));

    test::writeFile(dir / "home" / "data" / "Zelkorkey.ini", utf8_to_gbk("[编辑框]\r\n编辑框_导出格式=pdf\r\n"));
    const Outcome kept = run({});
    EXPECT_EQ(kept.status, 2);
    EXPECT_NE(kept.err.find("settings file: 导出格式应为 txt、csv、jsonl 或 xlsx：pdf"), std::string::npos) << kept.err;
    const Outcome bad = run({"--export-format", "pdf"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("--export-format"), std::string::npos) << bad.err;
}

// Two runs at once from two homes into one save directory with the same seeds: each keeps a file of
// its own, whole, and says which; nothing else is left in the directory.
TEST(CliFixtureExport, TwoRunsSharingASaveDirectoryEachKeepTheirOwnFile) {
    FixtureService service;
    ASSERT_TRUE(service.ok());
    // Each answer takes a while, so the two runs are surely under way together.
    service.setLatency(std::chrono::milliseconds(300));
    TempDir dir;
    service.writeEndpoints(dir / "endpoints.ini");
    fs::create_directories(dir / "save");
    std::vector<Outcome> outcomes(2);
    {
        std::vector<std::jthread> runs;
        for (std::size_t i = 0; i < 2; ++i) {
            fs::create_directories(dir / ("home" + std::to_string(i)));
            runs.emplace_back([&, i] {
                outcomes[i] = runCli({"--home", (dir / ("home" + std::to_string(i))).string(), "--endpoints",
                                      (dir / "endpoints.ini").string(), "--delay", "0", "--save-dir",
                                      (dir / "save").string(), "--export-format", "csv", "手机"});
            });
        }
    }
    const std::string results = utf8_to_gbk("手机壳\r\n手机支架\r\n手机\r\n手机壳定制\r\n");
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir / "save")) names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"Zelkor长尾词_手机.txt", "Zelkor长尾词_手机.csv", "Zelkor长尾词_手机 (2).txt",
                                            "Zelkor长尾词_手机 (2).csv"}));
    EXPECT_EQ(test::readFile(dir / "save" / "Zelkor长尾词_手机.txt"), results);
    EXPECT_EQ(test::readFile(dir / "save" / "Zelkor长尾词_手机 (2).txt"), results);
    std::string said;
    for (const auto& outcome : outcomes) {
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        said += outcome.out;
    }
    for (const char* name : {"Zelkor长尾词_手机.txt", "Zelkor长尾词_手机 (2).txt"})
        EXPECT_NE(said.find("保存路径为：" + (dir / "save" / name).string()), std::string::npos) << said;
}

} // namespace
} // namespace zelkor
