// Answers that misbehave on purpose: every one ends in bounded time and bounded memory, as a
// failure that says why.
#include "net/http.h"
#include "support/hostile_server.h"

#include <gtest/gtest.h>

#include <chrono>

namespace zelkor {
namespace {

using namespace std::chrono_literals;
using test::HostileAnswer;
using test::HostileMode;
using test::HostileServer;
using test::hostile;

Text gbk(const std::string& utf8) {
    return utf8_to_gbk(utf8);
}

const Text kReadFailed = gbk("713 读取数据失败!");

struct HostileCase {
    HostileAnswer answer;
    AnswerLimits limits;
    int timeoutSeconds = 0;
    std::string status;      // UTF-8; exact
    std::size_t maxBodyKept; // what the call may have held on to
    std::chrono::milliseconds within;
};

TEST(HttpRequestHostile, EveryAnswerEndsBoundedAndSaysWhy) {
    const std::size_t mib = 1 << 20;
    const HostileCase cases[] = {
        // Refused by its Content-Length before a byte of the body is kept.
        {hostile(HostileMode::Huge, 100 * mib), {}, 0, "713 读取数据失败! 应答超过8388608字节上限", 0, 10s},
        {hostile(HostileMode::Unsized, 20 * mib), {mib, 0}, 0, "713 读取数据失败! 应答超过1048576字节上限", mib, 10s},
        {hostile(HostileMode::Endless), {}, 0, "713 读取数据失败! 应答超过8388608字节上限", 8 * mib, 20s},
        {hostile(HostileMode::Huge, 1001), {1000, 0}, 0, "713 读取数据失败! 应答超过1000字节上限", 0, 10s},
        {hostile(HostileMode::Huge, 1000), {1000, 0}, 0, "200 OK", 1000, 10s},
        // A byte every 100 ms never trips the stall timer; only the deadline ends it.
        {hostile(HostileMode::Dripping, 200, 100ms), {0, 1}, 0, "713 读取数据失败! 超过总时限1秒", 200, 5s},
        {hostile(HostileMode::Silent), {0, 1}, 20, "712 服务器未响应! 超过总时限1秒", 0, 5s},
        {hostile(HostileMode::Cut, 100, 0ms, "short"), {}, 0, "713 读取数据失败!", 5, 10s},
    };
    for (const HostileCase& c : cases) {
        SCOPED_TRACE(test::hostileModeName(c.answer.mode) + std::string(" ") + std::to_string(c.answer.size));
        HostileServer server(c.answer);
        for (const bool keep : {true, false}) {
            HttpRequestSpec spec;
            spec.url = server.url("/su");
            spec.limits = c.limits;
            spec.timeout_seconds = c.timeoutSeconds;
            spec.keepBody = keep;
            const auto started = std::chrono::steady_clock::now();
            const HttpResponse response = http_request(spec);
            const auto elapsed = std::chrono::steady_clock::now() - started;
            EXPECT_EQ(response.status, gbk(c.status));
            EXPECT_LE(response.bodySize, c.maxBodyKept);
            EXPECT_LE(response.body.size(), keep ? c.maxBodyKept : 0);
            EXPECT_LT(elapsed, c.within);
            if (c.status == "200 OK") {
                EXPECT_EQ(response.text.size(), c.answer.size);
                EXPECT_EQ(response.bodySize, c.answer.size);
            } else {
                EXPECT_EQ(response.text, "");
            }
        }
    }
}

TEST(HttpRequestHostile, MalformedAnswersFailWithoutText) {
    for (const std::string& junk : {std::string("SPEAK FRIEND\r\n\r\n"), std::string("\x01\x02\x03\r\n"),
                                   std::string("HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nabc"),
                                   std::string("HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n")}) {
        SCOPED_TRACE(junk);
        HostileServer server(hostile(HostileMode::Malformed, 0, 0ms, junk));
        HttpRequestSpec spec;
        spec.url = server.url("/");
        spec.timeout_seconds = 2;
        const HttpResponse response = http_request(spec);
        EXPECT_EQ(response.text, "");
        EXPECT_TRUE(response.status.starts_with("71")) << response.status;
    }
}

TEST(HttpRequestHostile, KeepBodyOffHandsTheBytesToTextOnly) {
    const std::string page = std::string("abc") + '\0' + "def";
    HostileServer server(hostile(HostileMode::Canned, 0, 0ms, page));
    HttpRequestSpec spec;
    spec.url = server.url("/");
    spec.keepBody = false;
    const HttpResponse response = http_request(spec);
    EXPECT_EQ(response.status, "200 OK");
    EXPECT_EQ(response.text, "abc");
    EXPECT_EQ(response.body, "");
    EXPECT_EQ(response.bodySize, page.size());
}

TEST(PlainGetHostile, AnswersPastTheLimitsGiveNothing) {
    struct Case {
        HostileAnswer answer;
        AnswerLimits limits;
        std::size_t expected;
    };
    const Case cases[] = {
        {hostile(HostileMode::Endless), {1 << 20, 0}, 0},
        {hostile(HostileMode::Huge, 5000), {4999, 0}, 0},
        {hostile(HostileMode::Huge, 5000), {5000, 0}, 5000},
        {hostile(HostileMode::Dripping, 100, 100ms), {0, 1}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(test::hostileModeName(c.answer.mode));
        HostileServer server(c.answer);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(plain_get(server.url("/"), {}, c.limits).size(), c.expected);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 8s);
    }
}

} // namespace
} // namespace zelkor
