// Many requests on one event loop: each is the same bytes http_request or plain_fetch sends, each
// answer reads the same, and a cancel ends them all without handing any back.

#include "net/multi_fetch.h"
#include "support/loopback.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace zelkor {
namespace {

using test::RawRequest;
using test::RawServer;

std::string answer(const std::string& body, const std::string& extra = {}) {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n" + extra + "Content-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

// Collects what the loop hands back, for the test thread to wait on.
class Returns {
  public:
    MultiFetch::Done done() {
        return [this](std::unique_ptr<PendingRequest> request) {
            std::lock_guard lock(m_mutex);
            m_back.push_back(std::move(request));
            m_wake.notify_all();
        };
    }
    bool waitFor(std::size_t count) {
        std::unique_lock lock(m_mutex);
        return m_wake.wait_for(lock, std::chrono::seconds(10), [&] { return m_back.size() >= count; });
    }
    std::vector<std::unique_ptr<PendingRequest>> take() {
        std::lock_guard lock(m_mutex);
        return std::move(m_back);
    }
    std::size_t count() {
        std::lock_guard lock(m_mutex);
        return m_back.size();
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<std::unique_ptr<PendingRequest>> m_back;
};

TEST(MultiFetch, SendsAndReadsWhatTheBlockingCallsDo) {
    RawServer server([](const RawRequest& request) {
        const bool plain = request.head.starts_with("GET /plain");
        return answer(plain ? "plain body" : "<p>\xc4\xe3\xba\xc3</p>", "Set-Cookie: a=1; path=/\r\n");
    });
    HttpRequestSpec spec;
    spec.url = server.url("/q?w=%E6%89%8B");
    spec.headers = "Referer: http://example.invalid/\r\nX-Mine: 1";
    spec.cookies = "BAIDUID=abc; k=v";
    spec.keepBody = false;
    const Text plainUrl = server.url("/plain?x=1");

    const HttpResponse blocking = http_request(spec);
    const PlainAnswer blockingPlain = plain_fetch(plainUrl, ProxyRoute{});
    ASSERT_TRUE(server.waitForRequests(2));

    MultiFetch fetch;
    Returns returns;
    fetch.submit(PendingRequest::http(spec), returns.done());
    fetch.submit(PendingRequest::plain(plainUrl, ProxyRoute{}), returns.done());
    ASSERT_TRUE(returns.waitFor(2));
    ASSERT_TRUE(server.waitForRequests(4));
    const auto requests = server.requests();
    // The same bytes on the wire: request line, header block, cookies, HTTP version.
    const auto sameRequest = [&](const std::string& blockingHead) {
        return requests[2].head == blockingHead || requests[3].head == blockingHead;
    };
    EXPECT_TRUE(sameRequest(requests[0].head)) << requests[0].head;
    EXPECT_TRUE(sameRequest(requests[1].head)) << requests[1].head;
    EXPECT_NE(requests[0].head, requests[1].head);

    for (auto& back : returns.take()) {
        if (back->isPlain()) {
            const PlainAnswer& a = back->plainAnswer();
            EXPECT_EQ(a.body, blockingPlain.body);
            EXPECT_EQ(a.failed, blockingPlain.failed);
            EXPECT_EQ(a.http_code, 200);
        } else {
            const HttpResponse& r = back->httpResponse();
            EXPECT_EQ(r.text, blocking.text);
            EXPECT_EQ(r.status, blocking.status);
            EXPECT_EQ(r.cookies, blocking.cookies);
            EXPECT_EQ(r.headers, blocking.headers);
            EXPECT_FALSE(r.failed);
        }
    }
    EXPECT_EQ(fetch.inFlight(), 0u);
}

TEST(MultiFetch, FailuresComeBackAsTheBlockingCallsGiveThem) {
    MultiFetch fetch;
    Returns returns;
    HttpRequestSpec bad;
    bad.url = "not a url";
    fetch.submit(PendingRequest::http(bad), returns.done());
    HttpRequestSpec refused;
    refused.url = "http://127.0.0.1:1/"; // nothing listens on port 1
    fetch.submit(PendingRequest::http(refused), returns.done());
    fetch.submit(PendingRequest::plain("http://127.0.0.1:1/", ProxyRoute{}), returns.done());
    ASSERT_TRUE(returns.waitFor(3));
    const HttpResponse badBlocking = http_request(bad);
    const HttpResponse refusedBlocking = http_request(refused);
    for (auto& back : returns.take()) {
        if (back->isPlain()) {
            EXPECT_TRUE(back->plainAnswer().failed);
            EXPECT_TRUE(back->plainAnswer().body.empty());
            continue;
        }
        const HttpResponse& r = back->httpResponse();
        EXPECT_TRUE(r.failed);
        EXPECT_TRUE(r.status == badBlocking.status || r.status == refusedBlocking.status) << gbk_to_utf8(r.status);
    }
}

// A pace is counted from when a request left: once its connection was made, never before it was
// submitted; a request that never connected has no such time.
TEST(MultiFetch, TellsWhenEachRequestLeft) {
    RawServer server([](const RawRequest&) { return answer("ok"); });
    MultiFetch fetch;
    Returns returns;
    const auto submitted = std::chrono::steady_clock::now();
    HttpRequestSpec good;
    good.url = server.url("/q");
    fetch.submit(PendingRequest::http(good), returns.done());
    fetch.submit(PendingRequest::plain(server.url("/plain"), ProxyRoute{}), returns.done());
    HttpRequestSpec refused;
    refused.url = "http://127.0.0.1:1/"; // nothing listens on port 1
    fetch.submit(PendingRequest::http(refused), returns.done());
    ASSERT_TRUE(returns.waitFor(3));
    const auto back = std::chrono::steady_clock::now();
    int sent = 0;
    for (auto& request : returns.take()) {
        const bool failed = request->isPlain() ? request->plainAnswer().failed : request->httpResponse().failed;
        const auto at = request->sentAt();
        EXPECT_EQ(at.has_value(), !failed);
        if (!at) continue;
        ++sent;
        EXPECT_GE(*at, submitted);
        EXPECT_LE(*at, back);
    }
    EXPECT_EQ(sent, 2);
}

TEST(MultiFetch, CancelEndsEverythingInFlightWithoutHandingItBack) {
    // A server that never answers: every request stays in flight until cancelled.
    RawServer server([](const RawRequest&) { return std::nullopt; });
    Returns returns;
    {
        MultiFetch fetch;
        for (int i = 0; i < 25; ++i) {
            HttpRequestSpec spec;
            spec.url = server.url("/held/" + std::to_string(i));
            fetch.submit(PendingRequest::http(spec), returns.done());
        }
        ASSERT_TRUE(server.waitForRequests(25));
        EXPECT_EQ(fetch.inFlight(), 25u);
        fetch.cancel();
        HttpRequestSpec late;
        late.url = server.url("/late");
        fetch.submit(PendingRequest::http(late), returns.done());
        for (int i = 0; i < 100 && fetch.inFlight() != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(fetch.inFlight(), 0u);
    }
    EXPECT_EQ(returns.count(), 0u);
    EXPECT_EQ(server.requests().size(), 25u); // the late one was never sent
}

} // namespace
} // namespace zelkor
