// The update check against loopback mirrors: the requests it makes, its run-log lines, what it
// tells the user, the download and its end, the "open" action, and the daily quote.

#include "app/main_window.h"
#include "app/update_check.h"
#include "support/app_support.h"
#include "sources/endpoints.h"
#include "support/loopback.h"
#include "support/temp_dir.h"
#include "support/tls_cert.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>

namespace zelkor::app {
namespace {

using test::gbk;
using test::q;
using test::RawRequest;
using test::RawServer;
using test::TempDir;

const char* const kQuoteUtf8 = "生活不止眼前的苟且，还有诗和远方。";
const char* const kFailure = "抱歉，自动更新失败，请到官网下载，下载后，把文件复制到当前目录";

std::string httpAnswer(int status, const std::string& body, const std::string& extra = "") {
    const char* reason = status == 200 ? "OK" : status == 206 ? "Partial Content" : "Not Found";
    return "HTTP/1.1 " + std::to_string(status) + " " + reason +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n" + extra +
           "\r\n" + body;
}

std::string targetOf(const RawRequest& r) {
    const auto first = r.head.find(' ');
    return r.head.substr(first + 1, r.head.find(' ', first + 1) - first - 1);
}

// One server stands in for the mirrors, the quotation service and the file host: fixed bodies by
// request target, and files under /files/ served in the ranges asked for.
using Pages = std::map<std::string, std::string>;

class Services {
  public:
    explicit Services(std::map<std::string, std::string> pages, std::map<std::string, std::string> files = {})
        : m_pages(std::move(pages)), m_files(std::move(files)),
          m_server([this](const RawRequest& r) { return answer(r); }) {}

    std::string root() const { return m_server.url("/").substr(0, m_server.url("/").size() - 1); }
    // Every request target but the file transfers, in arrival order.
    std::vector<std::string> targets() const {
        std::vector<std::string> out;
        for (const RawRequest& r : m_server.requests())
            if (!targetOf(r).starts_with("/files/")) out.push_back(targetOf(r));
        return out;
    }
    size_t fileRequests() const { return m_server.requests().size() - targets().size(); }

  private:
    std::optional<std::string> answer(const RawRequest& r) const {
        const std::string target = targetOf(r);
        if (auto file = m_files.find(target); file != m_files.end()) {
            const std::string& body = file->second;
            const auto range = r.head.find("Range:bytes=");
            // A host that ignores ranges: the pieces cannot be fetched.
            if (range == std::string::npos || target.starts_with("/files/norange/"))
                return httpAnswer(200, body);
            const long long first = std::stoll(r.head.substr(range + 12));
            long long last = std::stoll(r.head.substr(r.head.find('-', range) + 1));
            last = std::min<long long>(last, static_cast<long long>(body.size()) - 1);
            return httpAnswer(206, body.substr(first, last - first + 1),
                              "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) +
                                  "/" + std::to_string(body.size()) + "\r\n");
        }
        if (auto page = m_pages.find(target); page != m_pages.end()) return httpAnswer(200, page->second);
        return httpAnswer(404, "not here");
    }

    std::map<std::string, std::string> m_pages, m_files;
    RawServer m_server;
};

// Files over https with a certificate made for the test, which no system trusts: a flow trusts it
// only when its settings name it. An address under /to-http/ redirects to `httpTwin`.
class TlsFiles {
  public:
    explicit TlsFiles(std::map<std::string, std::string> files, std::string httpTwin = {})
        : m_files(std::move(files)), m_httpTwin(std::move(httpTwin)), m_server(m_cert.certPath(), m_cert.keyPath()) {
        m_server.server().Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
            ++m_requests;
            if (req.path.starts_with("/to-http/")) {
                res.set_redirect(m_httpTwin + req.path.substr(8));
                return;
            }
            std::lock_guard lock(m_mutex);
            const auto file = m_files.find(req.path);
            if (file == m_files.end()) {
                res.status = 404;
                return;
            }
            // Every file here is one piece, asked from byte 0; the server cuts the range itself.
            if (req.has_header("Range")) {
                res.status = 206;
                res.set_header("Content-Range", "bytes 0-" + std::to_string(file->second.size() - 1) + "/" +
                                                    std::to_string(file->second.size()));
            }
            res.set_content(file->second, "application/octet-stream");
        });
        m_server.start();
    }
    std::string root() const { return m_server.url("/").substr(0, m_server.url("/").size() - 1); }
    std::string caFile() const { return m_cert.certPath().string(); }
    int requests() const { return m_requests; }
    void put(const std::string& path, std::string body) {
        std::lock_guard lock(m_mutex);
        m_files[path] = std::move(body);
    }

  private:
    std::mutex m_mutex;
    std::map<std::string, std::string> m_files;
    std::string m_httpTwin;
    test::TlsCertificate m_cert;
    std::atomic<int> m_requests{0};
    test::LoopbackServer m_server; // last: stopped first
};

// What the flow told the user, in order.
struct Recorder {
    std::mutex mutex;
    std::vector<std::pair<UpdateNotice, Text>> notices;
    std::vector<std::pair<Text, Text>> questions;
    std::vector<Text> openCaptions;
    std::vector<std::chrono::milliseconds> waits;
    int shownOpen = 0, closed = 0;
    bool answer = false;

    UpdateFace face() {
        UpdateFace f;
        f.setNotice = [this](UpdateNotice line, const Text& t) {
            std::lock_guard lock(mutex);
            notices.emplace_back(line, t);
        };
        f.ask = [this](const Text& title, const Text& text, std::stop_token) {
            std::lock_guard lock(mutex);
            questions.emplace_back(title, text);
            return answer;
        };
        f.setOpenCaption = [this](const Text& t) {
            std::lock_guard lock(mutex);
            openCaptions.push_back(t);
        };
        f.showOpen = [this] {
            std::lock_guard lock(mutex);
            ++shownOpen;
        };
        f.closeWindow = [this] {
            std::lock_guard lock(mutex);
            ++closed;
        };
        f.wait = [this](std::chrono::milliseconds d, std::stop_token) {
            std::lock_guard lock(mutex);
            waits.push_back(d);
            return true;
        };
        return f;
    }
    std::vector<Text> lines(UpdateNotice which) {
        std::lock_guard lock(mutex);
        std::vector<Text> out;
        for (const auto& [line, text] : notices)
            if (line == which) out.push_back(text);
        return out;
    }
};

const LocalTime kNow{2021, 2, 7, 10, 0, 5};

// The run log, oldest line first, without the time stamps.
std::vector<Text> runLogLines(const std::filesystem::path& home) {
    const Text prefix = gbk("2021年2月7日10时0分5秒") + "   ";
    std::vector<Text> lines;
    std::error_code ec;
    const auto file = RunLog(home).pathFor(kNow);
    if (!std::filesystem::exists(file, ec)) return lines;
    for (const Text& line : text_split(test::readFile(file), "\r\n")) {
        if (line.empty()) continue;
        EXPECT_TRUE(line.starts_with(prefix)) << line;
        lines.insert(lines.begin(), line.substr(prefix.size()));
    }
    return lines;
}

std::vector<Text> gbkAll(std::initializer_list<const char*> utf8) {
    std::vector<Text> out;
    for (const char* s : utf8)
        out.push_back(gbk(s));
    return out;
}

std::string document(const std::string& version, const std::string& fileName = "zelkor-3.5.bin",
                     const std::string& url = "http://127.0.0.1:1/files/none.bin") {
    return R"({"版本":")" + version + R"(","更新说明":"修复了导出","文件名":")" + fileName +
           R"(","下载地址":")" + url + R"(","其他":1})";
}

class UpdateFlow : public ::testing::Test {
  protected:
    UpdateSettings settings(const Services& s, int mirrors = 3) {
        UpdateSettings out;
        out.home = home.path();
        out.desktop = home / "desktop";
        for (int i = 0; i < mirrors; ++i)
            out.mirrors[i] = s.root() + "/m" + std::to_string(i + 1) + "/";
        out.quoteRoot = s.root();
        out.clock = [] { return kNow; };
        return out;
    }
    void SetUp() override {
        std::filesystem::create_directories(home / "data");
        std::filesystem::create_directories(home / "desktop");
    }
    TempDir home;
    Recorder rec;
};

struct FlowCase {
    const char* name;
    std::map<std::string, std::string> pages;
    std::vector<std::string> targets;
    std::vector<Text> log;
    const char* serverStatus; // nullptr: never set
    bool asked;
    const char* quote; // the quote line's sentence
};

class UpdateFlowCases : public UpdateFlow, public ::testing::WithParamInterface<FlowCase> {};

TEST_P(UpdateFlowCases, RequestsLogLinesAndQuestion) {
    const FlowCase& c = GetParam();
    Services services(c.pages);
    {
        UpdateCheck check(settings(services), rec.face());
        check.run();
        check.waitUntilDone();
    }
    EXPECT_EQ(services.targets(), c.targets);
    EXPECT_EQ(services.fileRequests(), 0u);
    EXPECT_EQ(runLogLines(home.path()), c.log);

    EXPECT_EQ(rec.lines(UpdateNotice::Version), std::vector<Text>{gbk("版本v3.4")});
    EXPECT_EQ(rec.lines(UpdateNotice::ServerStatus),
              c.serverStatus ? std::vector<Text>{gbk(c.serverStatus)} : std::vector<Text>{});
    EXPECT_EQ(rec.lines(UpdateNotice::Quote), std::vector<Text>{"   " + gbk(c.quote)});
    EXPECT_TRUE(rec.lines(UpdateNotice::UpdateStatus).empty()); // Cancel, or never asked
    EXPECT_TRUE(rec.lines(UpdateNotice::Advice).empty());
    EXPECT_TRUE(rec.openCaptions.empty());
    if (c.asked) {
        ASSERT_EQ(rec.questions.size(), 1u);
        EXPECT_EQ(rec.questions[0].first, gbk("发现新版本，是否更新"));
        EXPECT_EQ(rec.questions[0].second, gbk("发现新版本，更新内容：\r\n修复了导出"));
        EXPECT_EQ(rec.lines(UpdateNotice::UpdateNotes), std::vector<Text>{rec.questions[0].second});
    } else {
        EXPECT_TRUE(rec.questions.empty());
        EXPECT_TRUE(rec.lines(UpdateNotice::UpdateNotes).empty());
    }
}

const std::string kIndex1 = "/m1/vurariduvu/index.json", kIndex2 = "/m2/vurariduvu/index.json";
const std::string kQuote = "/?encode=text";
const auto kChecked = gbkAll({"显示版本号3.4", "版本检查结果1是最新版：0", "启动升级程序检查"});
std::vector<Text> checkedThen(std::initializer_list<const char*> more) {
    std::vector<Text> out = kChecked;
    for (const Text& t : gbkAll(more))
        out.push_back(t);
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateFlowCases,
    ::testing::Values(
        FlowCase{"SameVersion",
                 {{kIndex1, document("3.4")}, {"/m1/test.txt", "ok"}, {kQuote, kQuoteUtf8}},
                 {kIndex1, kQuote},
                 gbkAll({"显示版本号3.4", "版本检查结果1是最新版：1"}),
                 nullptr,
                 false,
                 kQuoteUtf8},
        FlowCase{"OlderVersionCancel",
                 {{kIndex1, document("3.3")}, {"/m1/test.txt", "ok"}, {kQuote, kQuoteUtf8}},
                 {kIndex1, "/m1/test.txt", kIndex1, kQuote},
                 checkedThen({"升级文件获取到数据", "提醒用户升级"}),
                 "华北多线服务器正常",
                 true,
                 kQuoteUtf8},
        FlowCase{"MirrorOneAnswersOkWithCrLf",
                 {{kIndex1, document("3.5")},
                  {"/m1/test.txt", "ok\r\n"},
                  {"/m2/test.txt", "ok"},
                  {kIndex2, document("3.6")},
                  {kQuote, kQuoteUtf8}},
                 {kIndex1, "/m1/test.txt", "/m2/test.txt", kIndex2, kQuote},
                 checkedThen({"升级文件获取到数据", "提醒用户升级"}),
                 "广州服务器正常",
                 true,
                 kQuoteUtf8},
        FlowCase{"NoMirrorAnswersSoMirrorOneIsUsed",
                 {{kIndex1, document("3.5")}, {"/m2/test.txt", "OK"}, {"/m3/test.txt", " ok"}},
                 {kIndex1, "/m1/test.txt", "/m2/test.txt", "/m3/test.txt", kIndex1, kQuote},
                 checkedThen({"升级文件获取到数据", "提醒用户升级"}),
                 "服务器异常，尝试使用多线服务器连接",
                 true,
                 ""},
        FlowCase{"UpdateDocumentMissing",
                 {{"/m1/test.txt", "ok"}, {kQuote, kQuoteUtf8}},
                 {kIndex1, "/m1/test.txt", kIndex1, kQuote},
                 checkedThen({"升级文件获取失败"}),
                 "华北多线服务器正常",
                 false,
                 kQuoteUtf8},
        FlowCase{"UpdateDocumentWithoutVersion",
                 {{kIndex1, R"({"更新说明":"x","文件名":"a.bin","下载地址":"http://127.0.0.1:1/a.bin"})"},
                  {"/m1/test.txt", "ok"},
                  {kQuote, kQuoteUtf8}},
                 {kIndex1, "/m1/test.txt", kIndex1, kQuote},
                 checkedThen({"升级文件获取失败"}),
                 "华北多线服务器正常",
                 false,
                 kQuoteUtf8},
        FlowCase{"FileNameLeavingTheProgramDirectory",
                 {{kIndex1, document("3.5", "../zelkor.bin")}, {"/m1/test.txt", "ok"}, {kQuote, kQuoteUtf8}},
                 {kIndex1, "/m1/test.txt", kIndex1, kQuote},
                 checkedThen({"升级文件获取到数据"}),
                 "华北多线服务器正常",
                 false,
                 kQuoteUtf8}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateFlow, WithoutMirrorsOnlyTheVersionAndTheQuote) {
    Services services({{kQuote, kQuoteUtf8}});
    UpdateCheck check(settings(services, 0), rec.face());
    check.run();
    EXPECT_EQ(services.targets(), std::vector<std::string>{kQuote});
    EXPECT_EQ(runLogLines(home.path()), gbkAll({"显示版本号3.4"}));
    EXPECT_EQ(rec.lines(UpdateNotice::Version), std::vector<Text>{gbk("版本v3.4")});
    EXPECT_EQ(rec.lines(UpdateNotice::Quote), std::vector<Text>{"   " + gbk(kQuoteUtf8)});
    EXPECT_TRUE(rec.questions.empty());
}

// A script, so that "open" has something to start; padded to the size under test.
std::string payload(size_t size) {
    std::string script = "#!/bin/sh\necho started > \"$0.started\"\n";
    script.resize(size, '#');
    script[size - 1] = '\n';
    return script;
}

struct DownloadCase {
    const char* name;
    size_t size;
    const char* lastProgress;
    bool desktopEntry;
};

class UpdateDownloads : public UpdateFlow, public ::testing::WithParamInterface<DownloadCase> {};

TEST_P(UpdateDownloads, ProgressEndAndSizeTest) {
    const DownloadCase& c = GetParam();
    const std::string content = payload(c.size);
    TlsFiles files({{"/files/new.bin", content}});
    Services mirror({{kIndex1, document("3.5", "zelkor-3.5.bin", files.root() + "/files/new.bin")},
                     {"/m1/test.txt", "ok"},
                     {kQuote, kQuoteUtf8}});
    rec.answer = true;
    UpdateSettings trusting = settings(mirror);
    trusting.caFile = files.caFile();
    UpdateCheck check(trusting, rec.face());
    check.run();
    check.waitUntilDone();

    const std::filesystem::path target = home / "zelkor-3.5.bin";
    EXPECT_EQ(check.downloadTarget(), target);
    EXPECT_EQ(test::readFile(target), content);
    EXPECT_EQ(runLogLines(home.path()), checkedThen({"升级文件获取到数据", "提醒用户升级"}));
    EXPECT_EQ(rec.openCaptions, std::vector<Text>{gbk("打开：zelkor-3.5.bin")});
    EXPECT_EQ(rec.shownOpen, 1);
    EXPECT_EQ(rec.waits, std::vector<std::chrono::milliseconds>{std::chrono::seconds(2)});

    std::vector<Text> status = rec.lines(UpdateNotice::UpdateStatus);
    ASSERT_GE(status.size(), 3u);
    EXPECT_EQ(status.front(), gbk("开始更新"));
    const std::vector<Text> tail(status.end() - (c.desktopEntry ? 2 : 3), status.end());
    std::vector<Text> expected = {gbk(c.lastProgress), gbk("更新结束")};
    if (!c.desktopEntry) expected.push_back(gbk(kFailure));
    EXPECT_EQ(tail, expected);
    for (size_t i = 1; i + expected.size() < status.size(); ++i)
        EXPECT_TRUE(status[i].starts_with(gbk("已下载："))) << i;

    const std::filesystem::path entry = home / "desktop" / "Zelkor长尾词采集工具.desktop";
    ASSERT_EQ(std::filesystem::exists(entry), c.desktopEntry);
    if (c.desktopEntry) {
        EXPECT_NE(test::readFile(entry).find("Exec=\"" + target.string() + "\""), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, UpdateDownloads,
    ::testing::Values(DownloadCase{"Small1536Bytes", 1536, "已下载：1.5kb/1.5kb\r\n进度：100%", false},
                      DownloadCase{"Large64KB", 65536, "已下载：64kb/64kb\r\n进度：100%", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateFlow, OpenStartsTheNewVersionAndClosesTheWindow) {
    test::qtApp();
    const std::string content = payload(65536);
    TlsFiles files({{"/files/new.bin", content}});
    Services mirror(Pages{{kIndex1, document("3.5", "zelkor-new", files.root() + "/files/new.bin")},
                          {"/m1/test.txt", "ok"}});
    rec.answer = true;
    UpdateFace face = rec.face();
    face.startProgram = {}; // the real start
    UpdateSettings trusting = settings(mirror);
    trusting.caFile = files.caFile();
    UpdateCheck check(trusting, face);
    check.run();
    check.waitUntilDone();
    // A name without an extension still lands under that name.
    const std::filesystem::path target = home / "zelkor-new";
    ASSERT_EQ(test::readFile(target), content);

    check.open();
    const std::filesystem::path started = home / "zelkor-new.started";
    for (int i = 0; i < 100 && !std::filesystem::exists(started); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(std::filesystem::exists(started));
    EXPECT_EQ(rec.closed, 1);
    EXPECT_EQ(rec.waits.back(), std::chrono::milliseconds(200));
}

TEST_F(UpdateFlow, OpenThatCannotStartKeepsTheWindow) {
    TlsFiles files({{"/files/new.bin", payload(30000)}});
    Services mirror(
        Pages{{kIndex1, document("3.5", "z.bin", files.root() + "/files/new.bin")}, {"/m1/test.txt", "ok"}});
    rec.answer = true;
    UpdateFace face = rec.face();
    face.startProgram = [](const std::filesystem::path&) { return false; };
    UpdateSettings trusting = settings(mirror);
    trusting.caFile = files.caFile();
    UpdateCheck check(trusting, face);
    check.run();
    check.waitUntilDone();
    check.open();
    EXPECT_EQ(rec.closed, 0);
    EXPECT_EQ(rec.lines(UpdateNotice::UpdateStatus).back(), gbk("无法打开：z.bin"));
}

TEST_F(UpdateFlow, DownloadThatCannotStartSaysSoAndKeepsAnExistingFile) {
    Services files({}, {}); // the address answers 404
    Services mirror(
        Pages{{kIndex1, document("3.5", "z.bin", files.root() + "/files/gone.bin")}, {"/m1/test.txt", "ok"}});
    test::writeFile(home / "z.bin", std::string(40000, 'x')); // an older download, over 20 KB
    rec.answer = true;
    UpdateCheck check(settings(mirror), rec.face());
    check.run();
    check.waitUntilDone();
    EXPECT_EQ(rec.lines(UpdateNotice::UpdateStatus), gbkAll({"开始更新", kFailure}));
    EXPECT_EQ(rec.shownOpen, 0);
    EXPECT_EQ(test::readFile(home / "z.bin"), std::string(40000, 'x'));
    EXPECT_FALSE(std::filesystem::exists(home / "desktop" / "Zelkor长尾词采集工具.desktop"));
}

// A transfer that fails after it started leaves the older file of that name alone, and it is
// never offered to be opened.
TEST_F(UpdateFlow, FailedTransferOffersNothingToOpen) {
    Services files({}, {{"/files/norange/new.bin", payload(65536)}});
    Services mirror(Pages{{kIndex1, document("3.5", "z.bin", files.root() + "/files/norange/new.bin")},
                          {"/m1/test.txt", "ok"}});
    test::writeFile(home / "z.bin", std::string(40000, 'x'));
    rec.answer = true;
    UpdateFace face = rec.face();
    int started = 0;
    face.startProgram = [&](const std::filesystem::path&) { return ++started, true; };
    UpdateCheck check(settings(mirror), face);
    check.run();
    check.waitUntilDone();
    EXPECT_GT(files.fileRequests(), 1u); // the transfer did start
    EXPECT_EQ(rec.shownOpen, 0);
    EXPECT_EQ(rec.lines(UpdateNotice::UpdateStatus).back(), gbk(kFailure));
    EXPECT_EQ(test::readFile(home / "z.bin"), std::string(40000, 'x'));
    check.open();
    EXPECT_EQ(started, 0);
    EXPECT_EQ(rec.closed, 0);
}

// Who may choose the program that runs: only a server whose certificate checks out. Each row is a
// path the index, the quote or the program may come by.
struct TrustCase {
    const char* name;
    bool indexOverTls;  // the mirror and the quote are the https host; else plain http
    const char* fileAt; // "http", "https" or "https-to-http" (an https address redirecting to http)
    bool trusted;       // the flow names the test certificate as a root
    bool asked;         // the index was read
    bool saved;         // the program is on disk afterwards
    bool runnable;      // executable, with a desktop entry and an "open" that starts it
    const char* lastStatus;
};

class UpdateTrust : public UpdateFlow, public ::testing::WithParamInterface<TrustCase> {};

TEST_P(UpdateTrust, OnlyAVerifiedProgramIsMadeRunnable) {
    const TrustCase& c = GetParam();
    const std::string content = payload(65536);
    Services plain({}, {{"/files/new.bin", content}});
    // The https host serves the program, and in the rows that say so the index and the quote too.
    TlsFiles tls({{"/files/new.bin", content}, {"/m1/test.txt", "ok"}, {"/", kQuoteUtf8}}, plain.root());
    const std::string fileUrl = std::string(c.fileAt) == "http"    ? plain.root() + "/files/new.bin"
                                : std::string(c.fileAt) == "https" ? tls.root() + "/files/new.bin"
                                                                   : tls.root() + "/to-http/files/new.bin";
    const std::string doc = document("3.5", "zelkor-3.5.bin", fileUrl);
    tls.put(kIndex1, doc);
    Services mirror({{kIndex1, doc}, {"/m1/test.txt", "ok"}, {kQuote, kQuoteUtf8}});

    UpdateSettings s = settings(mirror);
    if (c.indexOverTls) {
        s.mirrors = {tls.root() + "/m1/", "", ""};
        s.quoteRoot = tls.root();
    }
    if (c.trusted) s.caFile = tls.caFile();
    rec.answer = true;
    UpdateFace face = rec.face();
    int started = 0;
    face.startProgram = [&](const std::filesystem::path&) { return ++started, true; };
    {
        UpdateCheck check(s, face);
        check.run();
        check.waitUntilDone();
        check.open();
    }
    const std::filesystem::path target = home / "zelkor-3.5.bin";
    EXPECT_EQ(rec.questions.size(), c.asked ? 1u : 0u);
    EXPECT_EQ(std::filesystem::exists(target), c.saved);
    if (c.saved) {
        EXPECT_EQ(test::readFile(target), content);
        const auto perms = std::filesystem::status(target).permissions();
        EXPECT_EQ((perms & std::filesystem::perms::owner_exec) != std::filesystem::perms::none, c.runnable);
    }
    EXPECT_EQ(std::filesystem::exists(home / "desktop" / "Zelkor长尾词采集工具.desktop"), c.runnable);
    EXPECT_EQ(rec.shownOpen, c.runnable ? 1 : 0);
    EXPECT_EQ(started, c.runnable ? 1 : 0);
    const std::vector<Text> status = rec.lines(UpdateNotice::UpdateStatus);
    if (c.lastStatus) {
        ASSERT_FALSE(status.empty());
        EXPECT_EQ(status.back(), gbk(c.lastStatus));
    } else {
        EXPECT_TRUE(status.empty());
    }
    // An untrusted quotation server gives no sentence either.
    if (c.indexOverTls) {
        EXPECT_EQ(rec.lines(UpdateNotice::Quote), std::vector<Text>{"   " + gbk(c.trusted ? kQuoteUtf8 : "")});
    }
}

const char* const kUnverifiedStatus = "新版本已保存为 zelkor-3.5.bin，但它不是从证书经过验证的 https 地址下载的，"
                                      "任何人都可能替换了它，所以没有设为可执行，也不会启动";

INSTANTIATE_TEST_SUITE_P(
    Paths, UpdateTrust,
    ::testing::Values(
        TrustCase{"IndexFromAnUntrustedServer", true, "https", false, false, false, false, nullptr},
        TrustCase{"IndexFromATrustedServer", true, "https", true, true, true, true, "更新结束"},
        TrustCase{"ProgramOverPlainHttp", false, "http", false, true, true, false, kUnverifiedStatus},
        TrustCase{"ProgramFromAnUntrustedServer", false, "https", false, true, false, false, kFailure},
        TrustCase{"ProgramFromATrustedServer", false, "https", true, true, true, true, "更新结束"},
        TrustCase{"TrustedServerRedirectingToHttp", false, "https-to-http", true, true, false, false, kFailure}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UpdateText, ProgressTextsUseThirteenSignificantDigits) {
    struct Case {
        std::int64_t total, received;
        const char* text;
    } cases[] = {
        {1536, 1536, "已下载：1.5kb/1.5kb\r\n进度：100%"},
        {65536, 20480, "已下载：20kb/64kb\r\n进度：31.25%"},
        {3000, 1000, "已下载：0.9765625kb/2.9296875kb\r\n进度：33.33333333333%"},
        {1048577, 1, "已下载：0.0009765625kb/1024.000976562kb\r\n进度：9.536734069124e-05%"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(downloadProgressText(c.total, c.received), gbk(c.text)) << c.text;
}

TEST(UpdateText, SizesInKilobytesRoundUp) {
    TempDir dir;
    const std::pair<size_t, std::int64_t> cases[] = {{0, 0},    {1, 1},      {1024, 1},  {1025, 2},
                                                     {1536, 2}, {20479, 20}, {20480, 20}};
    for (const auto& [bytes, kb] : cases) {
        test::writeFile(dir / "f", std::string(bytes, 'a'));
        EXPECT_EQ(fileSizeKb(dir / "f"), kb) << bytes;
    }
    EXPECT_EQ(fileSizeKb(dir / "missing"), -1);
    EXPECT_EQ(fileSizeKb(dir.path()), -1);
}

TEST(UpdateText, AdviceOnlyForAnUpperCaseC) {
    const std::pair<const char*, bool> cases[] = {{"C:/Users/a/Desktop", true},
                                                  {"Cdrive/zelkor", true},
                                                  {"c:/zelkor", false},
                                                  {"/home/a/zelkor", false},
                                                  {"", false}};
    for (const auto& [home, advise] : cases)
        EXPECT_EQ(adviseMovingProgram(home), advise) << home;
}

TEST(UpdateText, DocumentInUtf8OrGbk) {
    const std::string utf8 =
        R"({"版本":"3.5","更新说明":"新增\r\n导出","文件名":"新版.bin","下载地址":"http://x/新版.bin"})";
    for (const std::string& body : {utf8, gbk(utf8.c_str())}) {
        const UpdateDocument doc = parseUpdateDocument(body);
        EXPECT_TRUE(doc.read);
        EXPECT_EQ(doc.version, "3.5");
        EXPECT_EQ(doc.notes, gbk("新增\r\n导出"));
        EXPECT_EQ(doc.fileName, gbk("新版.bin"));
        EXPECT_EQ(doc.url, gbk("http://x/新版.bin"));
        EXPECT_TRUE(doc.offersUpdate("3.4"));
        EXPECT_FALSE(doc.offersUpdate("3.5"));
    }
    EXPECT_EQ(parseUpdateDocument(R"({"版本":3.5})").version, "3.5");
    for (const char* bad : {"", "<html>404</html>", "[1,2]", R"({"版本":)"})
        EXPECT_FALSE(parseUpdateDocument(bad).read) << bad;
}

// The window's notice area, driven from another thread as the check does.
TEST(UpdateWindow, NoticeAreaOnTheContactPageQuestionAndOpen) {
    test::qtApp();
    TempDir home;
    Services services({{kIndex1, document("3.4")}, {kQuote, kQuoteUtf8}});
    test::writeFile(home / "endpoints.ini",
                    "[endpoints]\nupdate1 = " + services.root() + "/m1/\nquote = " + services.root() + "\n");
    const std::string before = std::getenv("ZELKOR_ENDPOINTS") ? std::getenv("ZELKOR_ENDPOINTS") : "";
    setenv("ZELKOR_ENDPOINTS", (home / "endpoints.ini").c_str(), 1);
    MainWindowOptions options;
    options.home = home.path();
    bool closed = false;
    options.afterClose = [&] { closed = true; };
    MainWindow window(std::move(options));
    auto* area = window.findChild<UpdateNoticeArea*>();
    ASSERT_NE(area, nullptr);
    EXPECT_EQ(area->parentWidget()->objectName(), q("联系方式"));

    std::unique_ptr<UpdateCheck> check = makeWindowUpdateCheck(&window, home.path(), home / "desktop");
    if (before.empty())
        unsetenv("ZELKOR_ENDPOINTS");
    else
        setenv("ZELKOR_ENDPOINTS", before.c_str(), 1); // the test program's loopback guard
    check->start();
    ASSERT_TRUE(test::waitUntil([&] { return area->notice(UpdateNotice::Quote) == q("   ") + q(kQuoteUtf8); }, 10000))
        << area->notice(UpdateNotice::Quote).toStdString();
    EXPECT_EQ(area->notice(UpdateNotice::Version), q("版本v3.4"));
    EXPECT_EQ(services.targets(), (std::vector<std::string>{kIndex1, kQuote}));
    EXPECT_FALSE(area->openButton()->isVisibleTo(area));

    // The question is a message box over the window; the asking thread waits for it.
    UpdateFace face = windowUpdateFace(&window, area);
    QTimer::singleShot(100, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->windowTitle(), q("发现新版本，是否更新"));
        EXPECT_EQ(box->text(), q("发现新版本，更新内容：\n修复"));
        box->button(QMessageBox::Ok)->click();
    });
    bool answer = false;
    std::atomic<bool> answered{false}; // publishes `answer` to this thread
    std::thread asker([&] {
        answer = face.ask(gbk("发现新版本，是否更新"), gbk("发现新版本，更新内容：\r\n修复"), {});
        answered = true;
    });
    EXPECT_TRUE(test::waitUntil([&] { return answered.load(); }, 5000));
    asker.join();
    EXPECT_TRUE(answer);

    std::thread worker([&] {
        face.setNotice(UpdateNotice::UpdateStatus, gbk("已下载：1.5kb/1.5kb\r\n进度：100%"));
        face.setOpenCaption(gbk("打开：z.bin"));
        face.showOpen();
        face.closeWindow();
    });
    worker.join();
    EXPECT_TRUE(test::waitUntil([&] { return closed; }, 5000));
    EXPECT_EQ(area->notice(UpdateNotice::UpdateStatus), q("已下载：1.5kb/1.5kb\n进度：100%"));
    EXPECT_EQ(area->openButton()->text(), q("打开：z.bin"));
    EXPECT_TRUE(area->openButton()->isVisibleTo(area));
}

} // namespace
} // namespace zelkor::app

namespace zelkor::app {
namespace {

// "open" is pressed on the window's thread: it returns at once, with no event loop of its own
// running inside it, and the window closes after the pause.
TEST(UpdateWindow, OpenClosesTheWindowLaterWithoutANestedLoop) {
    test::qtApp();
    TempDir home;
    const std::string content = payload(65536);
    TlsFiles files({{"/files/new.bin", content}});
    Services mirror(Pages{{kIndex1, document("3.5", "zelkor-new.bin", files.root() + "/files/new.bin")},
                          {"/m1/test.txt", "ok"}});
    QWidget window;
    UpdateNoticeArea area(&window);
    bool closed = false;
    window.setAttribute(Qt::WA_DontShowOnScreen);
    window.show();
    UpdateFace face = windowUpdateFace(&window, &area);
    face.ask = [](const Text&, const Text&, std::stop_token) { return true; };
    face.closeWindow = [&] { closed = true; };
    int started = 0;
    face.startProgram = [&](const std::filesystem::path&) { return ++started, true; };
    UpdateSettings settings;
    settings.home = home.path();
    settings.desktop = home / "desktop";
    settings.mirrors[0] = mirror.root() + "/m1/";
    settings.caFile = files.caFile();
    UpdateCheck check(settings, face);
    check.run();
    check.waitUntilDone();
    ASSERT_EQ(test::readFile(home / "zelkor-new.bin"), content);

    bool otherEventRan = false;
    QTimer::singleShot(0, [&] { otherEventRan = true; });
    check.open();
    EXPECT_EQ(started, 1);
    EXPECT_FALSE(otherEventRan);
    EXPECT_FALSE(closed);
    EXPECT_TRUE(test::waitUntil([&] { return closed; }, 5000));
}

// A check being torn down must not wait for a question nobody will answer.
TEST(UpdateWindow, StopGivesAnOpenQuestionUpAsCancel) {
    test::qtApp();
    QWidget window;
    UpdateNoticeArea area(&window);
    UpdateFace face = windowUpdateFace(&window, &area);
    std::stop_source stop;
    std::optional<bool> answer;
    // The box runs its own loop, so the test acts from inside it.
    bool checked = false;
    std::thread asker;
    QTimer::singleShot(100, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        stop.request_stop();
        asker.join();
        EXPECT_EQ(answer, false);
        checked = true;
        box->button(QMessageBox::Ok)->click(); // an answer after the fact goes nowhere
    });
    asker = std::thread([&] { answer = face.ask(gbk("发现新版本，是否更新"), gbk("x"), stop.get_token()); });
    EXPECT_TRUE(test::waitUntil([&] { return checked; }, 5000));
    stop.request_stop();
    if (asker.joinable()) asker.join();
    QCoreApplication::processEvents();
}

} // namespace
} // namespace zelkor::app
