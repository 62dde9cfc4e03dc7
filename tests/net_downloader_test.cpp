#include "net/downloader.h"

#include "support/loopback.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <regex>
#include <thread>

namespace zelkor {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

constexpr std::int64_t kMiB = 1048576;
const std::string kBrowserHeaders = "Accept: */*\r\n"
                                    "Accept-Language: zh-cn\r\n"
                                    "Accept-Encoding: gzip, deflate\r\n"
                                    "User-Agent: Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; "
                                    ".NET CLR 1.1.4322)\r\n";

std::string pattern(std::int64_t size) {
    std::string bytes(size_t(size), '\0');
    std::uint32_t x = 2463534242u;
    for (char& c : bytes) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        c = char(x >> 24);
    }
    return bytes;
}

// Compares file contents without printing megabytes when they differ.
testing::AssertionResult sameBytes(const std::string& actual, const std::string& expected) {
    if (actual == expected) return testing::AssertionSuccess();
    auto [a, e] = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    return testing::AssertionFailure() << actual.size() << " bytes where " << expected.size()
                                       << " were expected, first difference at byte " << (a - actual.begin());
}

// How the server answers range requests (and, for the last two, requests without a range).
enum class Reply { Honour, IgnoreRange, ShiftedRange, LongBody, ShortBody, Stall, NoLength, NotFound };

// A file server that answers ranges the way a careful server does (the end clamped to the file),
// or misbehaves on purpose for the ranges starting at `badStart` (-1: all of them). It keeps the
// request heads as they arrived and the most range requests it had in flight at once; one counts
// as in flight until just before its last byte is sent, so the client cannot have finished it.
// (The length request is left out: the client drops it after the head, and the server may not
// notice before the first range arrives.)
class RangeServer {
  public:
    explicit RangeServer(std::string content, Reply reply = Reply::Honour, std::int64_t badStart = -1)
        : m_content(std::move(content)), m_reply(reply), m_badStart(badStart) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(m_listen, 16) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot listen on loopback");
        m_port = ntohs(address.sin_port);
        m_acceptor = std::thread([this] { acceptLoop(); });
    }
    ~RangeServer() {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_changed.notify_all();
        m_acceptor.join();
        std::vector<std::thread> workers;
        {
            std::lock_guard lock(m_mutex);
            for (int fd : m_open)
                ::shutdown(fd, SHUT_RDWR);
            workers.swap(m_workers);
        }
        m_changed.notify_all();
        for (auto& worker : workers)
            worker.join();
        ::close(m_listen);
    }

    std::string url(const std::string& path = "/file.bin") const {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }
    std::string host() const { return "Host: 127.0.0.1:" + std::to_string(m_port) + "\r\n"; }
    // Sent with every answer to a request without a range.
    void setContentLocation(std::string value) { m_contentLocation = std::move(value); }
    // The first `count` range requests are held until `count` are in flight together.
    void holdUntilInFlight(int count) { m_hold = count; }

    std::vector<std::string> heads() const {
        std::lock_guard lock(m_mutex);
        return m_heads;
    }
    std::vector<std::string> ranges() const {
        std::lock_guard lock(m_mutex);
        auto sorted = m_ranges;
        std::sort(sorted.begin(), sorted.end(), [](const std::string& a, const std::string& b) {
            return std::stoll(a.substr(6)) < std::stoll(b.substr(6));
        });
        return sorted;
    }
    int peakInFlight() const {
        std::lock_guard lock(m_mutex);
        return m_peak;
    }
    bool waitForRanges(size_t count) const {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_ranges.size() >= count; });
    }

  private:
    void acceptLoop() {
        while (!m_stopping) {
            pollfd p{m_listen, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            std::lock_guard lock(m_mutex);
            m_open.push_back(fd);
            m_workers.emplace_back([this, fd] { serve(fd); });
        }
    }

    void serve(int fd) {
        if (auto request = test::readRawRequest(fd, m_stopping)) answer(fd, request->head);
        std::lock_guard lock(m_mutex);
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
        m_open.erase(std::find(m_open.begin(), m_open.end(), fd));
    }

    static std::string rangeOf(const std::string& head) {
        static const std::regex line("\r\nrange:[ \t]*([^\r]*)", std::regex::icase);
        std::smatch match;
        return std::regex_search(head, match, line) ? match[1].str() : std::string();
    }

    void answer(int fd, const std::string& head) {
        const std::string range = rangeOf(head);
        const auto size = std::int64_t(m_content.size());
        int arrival;
        {
            std::unique_lock lock(m_mutex);
            m_heads.push_back(head);
            if (!range.empty()) m_ranges.push_back(range);
            arrival = int(m_ranges.size());
            if (!range.empty()) m_peak = std::max(m_peak, ++m_inFlight);
            m_changed.notify_all();
            if (!range.empty() && arrival <= m_hold)
                m_changed.wait_for(lock, std::chrono::seconds(5),
                                   [&] { return m_inFlight >= m_hold || m_stopping; });
        }

        std::string response;
        std::string body;
        if (range.empty()) {
            if (m_reply == Reply::NotFound) {
                body = "not found";
                response = "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n";
            } else {
                body = m_content;
                response = "HTTP/1.1 200 OK\r\n";
                if (m_reply != Reply::NoLength)
                    response += "Content-Length: " + std::to_string(size) + "\r\n";
                if (!m_contentLocation.empty()) response += "Content-Location: " + m_contentLocation + "\r\n";
            }
        } else {
            std::int64_t first = std::stoll(range.substr(6));
            std::int64_t last =
                std::min<std::int64_t>(std::stoll(range.substr(range.find('-') + 1)), size - 1);
            std::int64_t length = last - first + 1;
            Reply reply = m_badStart < 0 || m_badStart == first ? m_reply : Reply::Honour;
            std::string contentRange =
                "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(size);
            body = m_content.substr(size_t(first), size_t(length));
            std::int64_t announced = length;
            switch (reply) {
            case Reply::IgnoreRange:
                body = m_content;
                announced = size;
                break;
            case Reply::ShiftedRange:
                body = m_content.substr(0, size_t(length));
                contentRange = "bytes 0-" + std::to_string(length - 1) + "/" + std::to_string(size);
                break;
            case Reply::LongBody:
                body = m_content.substr(size_t(first), size_t(length + 100));
                announced = std::int64_t(body.size());
                break;
            case Reply::ShortBody:
            case Reply::Stall:
                body.resize(body.size() / 2);
                break;
            default:
                break;
            }
            response = reply == Reply::IgnoreRange
                           ? "HTTP/1.1 200 OK\r\n"
                           : "HTTP/1.1 206 Partial Content\r\nContent-Range: " + contentRange + "\r\n";
            response += "Content-Length: " + std::to_string(announced) + "\r\n";
            if (reply == Reply::Stall) {
                test::writeAll(fd, response + "\r\n" + body);
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [&] { return m_stopping.load(); });
                --m_inFlight;
                return;
            }
        }
        response += "Connection: close\r\n\r\n" + body;
        test::writeAll(fd, std::string_view(response).substr(0, response.size() - 1));
        if (!range.empty()) {
            std::lock_guard lock(m_mutex);
            --m_inFlight;
            m_changed.notify_all();
        }
        test::writeAll(fd, std::string_view(response).substr(response.size() - 1));
    }

    std::string m_content;
    Reply m_reply;
    std::int64_t m_badStart;
    std::string m_contentLocation;
    int m_hold = 0;

    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::thread m_acceptor;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<int> m_open;
    std::vector<std::thread> m_workers;
    std::vector<std::string> m_heads;
    std::vector<std::string> m_ranges;
    int m_inFlight = 0;
    int m_peak = 0;
};

struct Event {
    int task;
    DownloadState state;
    std::int64_t total;
    std::int64_t received;
};

// Collects the callbacks of one download; notes any two that ran at the same time and the size
// of the partial file when the first chunk had been written.
class Recorder {
  public:
    explicit Recorder(std::filesystem::path part = {}) : m_part(std::move(part)) {}

    FileDownloader::Callback callback() {
        return [this](int task, DownloadState state, std::int64_t total, std::int64_t received) {
            if (m_inside.exchange(true)) m_overlapped = true;
            {
                std::lock_guard lock(m_mutex);
                if (m_events.empty() && !m_part.empty()) {
                    std::error_code error;
                    m_partSizeAtFirstChunk = std::int64_t(std::filesystem::file_size(m_part, error));
                }
                m_events.push_back({task, state, total, received});
            }
            m_inside = false;
        };
    }
    std::vector<Event> events() const {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    bool overlapped() const { return m_overlapped; }
    std::int64_t partSizeAtFirstChunk() const { return m_partSizeAtFirstChunk; }

  private:
    std::filesystem::path m_part;
    mutable std::mutex m_mutex;
    std::vector<Event> m_events;
    std::atomic<bool> m_inside{false};
    std::atomic<bool> m_overlapped{false};
    std::int64_t m_partSizeAtFirstChunk = -1;
};

std::string range(std::int64_t first, std::int64_t last) {
    return "bytes=" + std::to_string(first) + "-" + std::to_string(last);
}

struct SizeCase {
    const char* name;
    std::int64_t size;
    int connections;
    std::vector<std::string> ranges;
    int peak; // requests in flight at once
};

class DownloadSizes : public testing::TestWithParam<SizeCase> {};

TEST_P(DownloadSizes, ArrivesWholeThroughTheRangesAskedFor) {
    const SizeCase& c = GetParam();
    const std::string content = pattern(c.size);
    RangeServer server(content);
    server.holdUntilInFlight(c.peak > 1 ? c.peak : 0);
    TempDir dir;
    const auto target = dir / "new.bin";
    writeFile(target, "an older file, replaced on success");
    auto part = target;
    part += ".part";
    Recorder recorder(part);

    FileDownloader downloader;
    int task = downloader.start(server.url(), target, c.connections, recorder.callback());
    ASSERT_GT(task, 0);
    EXPECT_EQ(downloader.target_of(task), target);
    ASSERT_EQ(downloader.wait(task), DownloadState::Finished);

    EXPECT_TRUE(sameBytes(readFile(target), content));
    EXPECT_FALSE(std::filesystem::exists(part));
    EXPECT_EQ(server.ranges(), c.ranges);
    EXPECT_EQ(server.peakInFlight(), c.peak);
    EXPECT_EQ(recorder.partSizeAtFirstChunk(), c.size) << "the file exists at full length before data";

    auto events = recorder.events();
    ASSERT_GE(events.size(), 2u);
    const Event& last = events.back();
    EXPECT_EQ(last.task, task);
    EXPECT_EQ(last.state, DownloadState::Finished);
    EXPECT_EQ(last.total, c.size);
    EXPECT_EQ(last.received, c.size);
    std::int64_t previous = 0;
    for (size_t i = 0; i + 1 < events.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(events[i].task, task);
        EXPECT_EQ(events[i].state, DownloadState::Progress);
        EXPECT_EQ(events[i].total, c.size);
        EXPECT_GT(events[i].received, previous);
        EXPECT_LE(events[i].received - previous, 20480) << "reads are at most 20480 bytes";
        previous = events[i].received;
    }
    EXPECT_EQ(previous, c.size);
    EXPECT_FALSE(recorder.overlapped());
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, DownloadSizes,
    testing::Values(
        SizeCase{"Small", 1536, 2, {range(0, 1536)}, 1},
        SizeCase{"ExactlyOnePiece", kMiB, 2, {range(0, kMiB)}, 1},
        SizeCase{"OneByteIntoSecondPiece", kMiB + 1, 2, {range(0, kMiB - 1), range(kMiB, kMiB + 1)}, 2},
        SizeCase{"ThreePiecesTwoConnections",
                 2 * kMiB + 100,
                 2,
                 {range(0, kMiB - 1), range(kMiB, 2 * kMiB - 1), range(2 * kMiB, 2 * kMiB + 100)},
                 2},
        SizeCase{"ThreePiecesOneConnection",
                 2 * kMiB + 100,
                 1,
                 {range(0, kMiB - 1), range(kMiB, 2 * kMiB - 1), range(2 * kMiB, 2 * kMiB + 100)},
                 1},
        SizeCase{"MoreConnectionsThanPieces",
                 2 * kMiB + 100,
                 8,
                 {range(0, kMiB - 1), range(kMiB, 2 * kMiB - 1), range(2 * kMiB, 2 * kMiB + 100)},
                 3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FileDownloader, SendsExactlyTheBrowserHeaderBlock) {
    RangeServer server(pattern(1536));
    TempDir dir;
    Recorder recorder;
    FileDownloader downloader;
    int task = downloader.start(server.url(), dir / "f.bin", 2, recorder.callback());
    ASSERT_GT(task, 0);
    ASSERT_EQ(downloader.wait(task), DownloadState::Finished);

    auto heads = server.heads();
    ASSERT_EQ(heads.size(), 2u);
    const std::string start = "GET /file.bin HTTP/1.1\r\n" + server.host() + kBrowserHeaders;
    EXPECT_EQ(heads[0], start + "Pragma: no-cache\r\n\r\n") << "length request";
    EXPECT_EQ(heads[1], start + "Range:bytes=0-1536\r\nPragma: no-cache\r\n\r\n") << "range request";
}

struct FailureCase {
    const char* name;
    Reply reply;
    std::int64_t badStart;
    std::int64_t badPieceBytesAllowed; // bytes of the bad piece that may be written: all in place
};

class MisbehavingServer : public testing::TestWithParam<FailureCase> {};

TEST_P(MisbehavingServer, FailsCleanlyWithoutWritingOutsideThePiece) {
    const FailureCase& c = GetParam();
    const std::int64_t size = 2 * kMiB + 100;
    RangeServer server(pattern(size), c.reply, c.badStart);
    TempDir dir;
    const auto target = dir / "new.bin";
    writeFile(target, "the previous version");
    Recorder recorder;

    FileDownloader downloader;
    int task = downloader.start(server.url(), target, 2, recorder.callback());
    ASSERT_GT(task, 0);
    EXPECT_EQ(downloader.wait(task), DownloadState::Failed);

    EXPECT_TRUE(sameBytes(readFile(target), "the previous version"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
        << "partial file removed";
    auto events = recorder.events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().task, task);
    EXPECT_EQ(events.back().state, DownloadState::Failed);
    EXPECT_EQ(events.back().total, 0);
    EXPECT_EQ(events.back().received, 0);
    for (size_t i = 0; i + 1 < events.size(); ++i) {
        EXPECT_EQ(events[i].state, DownloadState::Progress);
        EXPECT_LE(events[i].received, size - kMiB + c.badPieceBytesAllowed);
    }
    EXPECT_FALSE(recorder.overlapped());
}

INSTANTIATE_TEST_SUITE_P(Replies, MisbehavingServer,
                         testing::Values(FailureCase{"IgnoresEveryRange", Reply::IgnoreRange, -1, 0},
                                         FailureCase{"IgnoresOneRange", Reply::IgnoreRange, kMiB, 0},
                                         FailureCase{"AnswersAnotherRange", Reply::ShiftedRange, kMiB, 0},
                                         FailureCase{"SendsMoreThanThePiece", Reply::LongBody, kMiB, kMiB},
                                         FailureCase{"EndsThePieceEarly", Reply::ShortBody, kMiB, kMiB / 2}),
                         [](const auto& info) { return std::string(info.param.name); });

struct StartFailure {
    const char* name;
    Reply reply;
    bool closedPort;
    bool missingDirectory;
};

class StartFails : public testing::TestWithParam<StartFailure> {};

TEST_P(StartFails, ReturnsMinusOneWithoutCallbackOrFile) {
    const StartFailure& c = GetParam();
    RangeServer server(pattern(5000), c.reply);
    TempDir dir;
    const auto target = c.missingDirectory ? dir / "missing" / "new.bin" : dir / "new.bin";
    std::string url = c.closedPort
                          ? "http://127.0.0.1:" + std::to_string(test::closedLoopbackPort()) + "/f.bin"
                          : server.url();
    Recorder recorder;
    FileDownloader downloader;
    EXPECT_EQ(downloader.start(url, target, 2, recorder.callback()), -1);
    EXPECT_TRUE(recorder.events().empty());
    EXPECT_TRUE(server.ranges().empty());
    EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "the target is not touched";
}

INSTANTIATE_TEST_SUITE_P(Causes, StartFails,
                         testing::Values(StartFailure{"NoContentLength", Reply::NoLength, false, false},
                                         StartFailure{"ErrorPage", Reply::NotFound, false, false},
                                         StartFailure{"ClosedPort", Reply::Honour, true, false},
                                         StartFailure{"UncreatableFile", Reply::Honour, false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

struct NameCase {
    const char* name;
    std::string path;
    std::string contentLocation;
    std::string fileName;
};

class TargetDirectory : public testing::TestWithParam<NameCase> {};

TEST_P(TargetDirectory, TakesTheServersFileName) {
    const NameCase& c = GetParam();
    const std::string content = pattern(3000);
    RangeServer server(content);
    server.setContentLocation(c.contentLocation);
    TempDir dir;
    Recorder recorder;
    FileDownloader downloader;
    int task = downloader.start(server.url(c.path), dir.path(), 2, recorder.callback());
    ASSERT_GT(task, 0);
    ASSERT_EQ(downloader.wait(task), DownloadState::Finished);
    EXPECT_EQ(downloader.target_of(task), dir / c.fileName);
    EXPECT_TRUE(sameBytes(readFile(dir / c.fileName), content));

    // The naming request goes out under the downloader's own agent name and nothing else.
    auto heads = server.heads();
    ASSERT_EQ(heads.size(), 3u);
    const std::string agent = utf8_to_gbk("我的下载");
    std::regex expected("GET " + std::regex_replace(c.path, std::regex(R"([?.\\])"), R"(\$&)") +
                        " HTTP/1.1\r\n" + server.host() + "User-Agent: " + agent +
                        "[0-9]+\r\nPragma: no-cache\r\n\r\n");
    EXPECT_TRUE(std::regex_match(heads[0], expected)) << heads[0];
}

INSTANTIATE_TEST_SUITE_P(Names, TargetDirectory,
                         testing::Values(NameCase{"FromUrl", "/files/app.zip?token=1", "", "app.zip"},
                                         NameCase{"FromContentLocation", "/get?id=3",
                                                  "dl\\new\\Setup.exe?v=2", "Setup.exe"},
                                         NameCase{"AbsoluteContentLocation", "/get",
                                                  "http://127.0.0.1/a/b/tool.tar.gz", "tool.tar.gz"},
                                         NameCase{"NoSegment", "/files/", "", "download"},
                                         NameCase{"DotDotIsNoName", "/get", "/a/..", "download"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FileDownloader, DestructorCancelsAndReportsFailure) {
    const std::int64_t size = 3 * kMiB;
    RangeServer server(pattern(size), Reply::Stall);
    TempDir dir;
    const auto target = dir / "new.bin";
    Recorder recorder;
    int task;
    {
        FileDownloader downloader;
        task = downloader.start(server.url(), target, 2, recorder.callback());
        ASSERT_GT(task, 0);
        ASSERT_TRUE(server.waitForRanges(2));
    }
    auto events = recorder.events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().task, task);
    EXPECT_EQ(events.back().state, DownloadState::Failed);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(FileDownloader, NumbersTasksInStartOrderAndKeepsDownloadsToOneTargetApart) {
    const std::string content = pattern(kMiB + 5000);
    RangeServer server(content);
    TempDir dir;
    Recorder first, second;
    FileDownloader downloader;
    int a = downloader.start(server.url(), dir / "same.bin", 1, first.callback());
    int b = downloader.start(server.url(), dir / "same.bin", 1, second.callback());
    ASSERT_GT(a, 0);
    EXPECT_EQ(b, a + 1);
    EXPECT_EQ(downloader.wait(a), DownloadState::Finished);
    EXPECT_EQ(downloader.wait(b), DownloadState::Finished);
    EXPECT_TRUE(sameBytes(readFile(dir / "same.bin"), content));
    EXPECT_EQ(downloader.wait(b + 1), DownloadState::Failed) << "not a task of this downloader";
}

} // namespace
} // namespace zelkor
