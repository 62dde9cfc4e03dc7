#include "net/cookies.h"
#include "net/http.h"
#include "text/bytes.h"
#include "support/loopback.h"
#include "support/tls_cert.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace zelkor {
namespace {

using test::LoopbackServer;
using test::RawRequest;
using test::RawServer;

Text gbk(const char* utf8) {
    return utf8_to_gbk(utf8);
}

std::string answer(std::string_view statusLine, std::string_view extraHeaders, std::string_view body) {
    return std::string(statusLine) + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
           std::string(extraHeaders) + "\r\n" + std::string(body);
}

RawServer::Responder answerOk(std::string body = "ok") {
    return [body](const RawRequest&) { return answer("HTTP/1.1 200 OK", "", body); };
}

constexpr const char* kUserAgent =
    "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n";
constexpr const char* kDefaults =
    "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n"
    "Accept: text/html, application/xhtml+xml, */*\r\n"
    "Accept-Encoding: gbk, GB2312\r\n"
    "Accept-Language: zh-cn\r\n"
    "Cache-Control: no-cache\r\n";

// ---- what goes over the wire ---------------------------------------------------------------------

struct WireCase {
    const char* name;
    HttpMethod method = HttpMethod::Get;
    const char* headers = "";
    const char* cookies = "";
    bool completeHeaders = true;
    bool normalize = true;
    const char* bodyText = "";
    std::string bodyBytes = {};
    // The exact request head; {host} stands for 127.0.0.1:<port>.
    std::string expectedHead = {};
    std::string expectedBody = {};
};

std::string line(std::string_view s) {
    return std::string(s) + "\r\n";
}

std::vector<WireCase> wireCases() {
    const std::string host = "Host: {host}\r\n";
    const std::string defaults = kDefaults;
    std::vector<WireCase> cases;
    cases.push_back(
        {.name = "default profile", .expectedHead = "GET /p?q=1 HTTP/1.1\r\n" + host + defaults + "\r\n"});
    cases.push_back({.name = "no completion and nothing else sends only Host",
                     .completeHeaders = false,
                     .expectedHead = "GET /p?q=1 HTTP/1.1\r\n" + host + "\r\n"});
    cases.push_back({.name = "no completion with cookies sends only the Cookie line",
                     .cookies = "a=1; b=2",
                     .completeHeaders = false,
                     .expectedHead = "GET /p?q=1 HTTP/1.1\r\n" + host + line("Cookie: a=1; b=2") + "\r\n"});
    cases.push_back({.name = "lower-case names are probed ignoring case and normalised",
                     .headers = "user-agent: X\r\nx-requested-with:1",
                     .expectedHead = "GET /p?q=1 HTTP/1.1\r\n" + host + line("User-Agent: X") +
                                     line("X-Requested-With:1") + replaceAll(defaults, kUserAgent, "") +
                                     "\r\n"});
    cases.push_back({.name = "without normalisation names go as written",
                     .headers = "user-agent: X\r\nx-requested-with:1",
                     .normalize = false,
                     .expectedHead = "GET /p?q=1 HTTP/1.1\r\n" + host + line("user-agent: X") +
                                     line("x-requested-with:1") + replaceAll(defaults, kUserAgent, "") +
                                     "\r\n"});
    cases.push_back(
        {.name = "a probe needs the space after the colon",
         .headers = "User-Agent:x",
         .expectedHead = "GET /p?q=1 HTTP/1.1\r\n" + host + line("User-Agent:x") + defaults + "\r\n"});
    cases.push_back({.name = "cookies holding Cookie: are sent unchanged",
                     .cookies = "Cookie: a=1",
                     .completeHeaders = false,
                     .expectedHead = "GET /p?q=1 HTTP/1.1\r\n" + host + line("Cookie: a=1") + "\r\n"});
    cases.push_back({.name = "a Cookie line in headers wins over cookies",
                     .headers = "Cookie: z=9",
                     .cookies = "a=1",
                     .completeHeaders = false,
                     .expectedHead = "GET /p?q=1 HTTP/1.1\r\n" + host + line("Cookie: z=9") + "\r\n"});
    cases.push_back({.name = "keep-alive followed by another line is dropped",
                     .headers = "Connection: keep-alive\r\nX-A: 1",
                     .completeHeaders = false,
                     .expectedHead = "GET /p?q=1 HTTP/1.1\r\n" + host + line("X-A: 1") + "\r\n"});
    cases.push_back({.name = "keep-alive as the last normalised line stays",
                     .headers = "X-A: 1\r\nConnection: keep-alive",
                     .completeHeaders = false,
                     .expectedHead = "GET /p?q=1 HTTP/1.1\r\n" + host + line("X-A: 1") +
                                     line("Connection: keep-alive") + "\r\n"});
    cases.push_back({.name = "keep-alive without normalisation is dropped even when last",
                     .headers = "X-A: 1\r\nConnection: keep-alive",
                     .completeHeaders = false,
                     .normalize = false,
                     .expectedHead = "GET /p?q=1 HTTP/1.1\r\n" + host + line("X-A: 1") + "\r\n"});
    cases.push_back({.name = "keep-alive inside another header is not cut out of it",
                     .headers = "Connection: keep-alive\r\nX-Connection: keep-alive\r\nX-B: 2",
                     .completeHeaders = false,
                     .expectedHead = "GET /p?q=1 HTTP/1.1\r\n" + host + line("X-Connection: keep-alive") +
                                     line("X-B: 2") + "\r\n"});
    cases.push_back({.name = "Connection: close stays",
                     .headers = "Connection: close\r\nX-A: 1",
                     .completeHeaders = false,
                     .expectedHead = "GET /p?q=1 HTTP/1.1\r\n" + host + line("Connection: close") +
                                     line("X-A: 1") + "\r\n"});
    cases.push_back({.name = "lines without a colon are left out when not normalising",
                     .headers = "garbage\r\n\r\nX-B: 2",
                     .completeHeaders = false,
                     .normalize = false,
                     .expectedHead = "GET /p?q=1 HTTP/1.1\r\n" + host + line("X-B: 2") + "\r\n"});
    cases.push_back({.name = "an empty header value is sent as an empty header",
                     .headers = "X-Empty:",
                     .completeHeaders = false,
                     .expectedHead = "GET /p?q=1 HTTP/1.1\r\n" + host + line("X-Empty:") + "\r\n"});
    cases.push_back({.name = "a caller's Host replaces the client's",
                     .headers = "Host: example.test",
                     .completeHeaders = false,
                     .expectedHead = "GET /p?q=1 HTTP/1.1\r\n" + line("Host: example.test") + "\r\n"});
    cases.push_back({.name = "POST gets the form content type",
                     .method = HttpMethod::Post,
                     .bodyText = "k=v",
                     .expectedHead = "POST /p?q=1 HTTP/1.1\r\n" + host +
                                     replaceAll(defaults, "Cache-Control: no-cache\r\n",
                                                "Content-Type: application/x-www-form-urlencoded\r\n"
                                                "Cache-Control: no-cache\r\n") +
                                     line("Content-Length: 3") + "\r\n",
                     .expectedBody = "k=v"});
    cases.push_back({.name = "POST without completion gets no content type",
                     .method = HttpMethod::Post,
                     .completeHeaders = false,
                     .bodyText = "k=v",
                     .expectedHead = "POST /p?q=1 HTTP/1.1\r\n" + host + line("Content-Length: 3") + "\r\n",
                     .expectedBody = "k=v"});
    cases.push_back(
        {.name = "a large body goes without Expect",
         .method = HttpMethod::Post,
         .completeHeaders = false,
         .bodyText = "",
         .bodyBytes = std::string(200000, 'x'),
         .expectedHead = "POST /p?q=1 HTTP/1.1\r\n" + host + line("Content-Length: 200000") + "\r\n",
         .expectedBody = std::string(200000, 'x')});
    cases.push_back({.name = "body bytes win over body text and keep their NUL",
                     .method = HttpMethod::Put,
                     .completeHeaders = false,
                     .bodyText = "text",
                     .bodyBytes = std::string("a\0b", 3),
                     .expectedHead = "PUT /p?q=1 HTTP/1.1\r\n" + host + line("Content-Length: 3") + "\r\n",
                     .expectedBody = std::string("a\0b", 3)});
    cases.push_back({.name = "method 5 is DELETE",
                     .method = HttpMethod::Delete,
                     .completeHeaders = false,
                     .expectedHead = "DELETE /p?q=1 HTTP/1.1\r\n" + host + "\r\n"});
    cases.push_back({.name = "method 4 is OPTIONS",
                     .method = HttpMethod::Options,
                     .completeHeaders = false,
                     .expectedHead = "OPTIONS /p?q=1 HTTP/1.1\r\n" + host + "\r\n"});
    cases.push_back({.name = "method 2 is HEAD",
                     .method = HttpMethod::Head,
                     .completeHeaders = false,
                     .expectedHead = "HEAD /p?q=1 HTTP/1.1\r\n" + host + "\r\n"});
    cases.push_back({.name = "an unknown method is GET",
                     .method = static_cast<HttpMethod>(9),
                     .completeHeaders = false,
                     .expectedHead = "GET /p?q=1 HTTP/1.1\r\n" + host + "\r\n"});
    return cases;
}

TEST(HttpRequestWire, SendsExactlyTheHeaderBlock) {
    for (const WireCase& c : wireCases()) {
        SCOPED_TRACE(c.name);
        RawServer server(answerOk());
        HttpRequestSpec spec;
        spec.url = server.url("/p?q=1");
        spec.method = c.method;
        spec.headers = c.headers;
        spec.cookies = c.cookies;
        spec.complete_headers = c.completeHeaders;
        spec.normalize_header_names = c.normalize;
        spec.body_text = c.bodyText;
        spec.body_bytes = c.bodyBytes;
        HttpResponse response = http_request(spec);
        EXPECT_EQ(response.status, "200 OK");
        ASSERT_EQ(server.requests().size(), 1u);
        RawRequest got = server.requests().front();
        EXPECT_EQ(got.head,
                  replaceAll(c.expectedHead, "{host}", "127.0.0.1:" + std::to_string(server.port())));
        EXPECT_EQ(got.body, c.expectedBody);
    }
}

TEST(HttpRequestWire, RequestTargetFromTheUrl) {
    struct Case {
        Text pathAndQuery;
        const char* requestLine;
    };
    const Case cases[] = {
        {"", "GET / HTTP/1.1"},
        {"/a b?q=%41", "GET /a%20b?q=%41 HTTP/1.1"},
        {gbk("/搜索?q=手机"), "GET /%E6%90%9C%E7%B4%A2?q=%E6%89%8B%E6%9C%BA HTTP/1.1"},
        {"/p?x=1#part", "GET /p?x=1 HTTP/1.1"},
    };
    for (const Case& c : cases) {
        RawServer server(answerOk());
        HttpRequestSpec spec;
        spec.url = "http://127.0.0.1:" + std::to_string(server.port()) + c.pathAndQuery;
        spec.complete_headers = false;
        EXPECT_EQ(http_request(spec).status, "200 OK");
        ASSERT_EQ(server.requests().size(), 1u);
        EXPECT_TRUE(server.requests().front().head.starts_with(std::string(c.requestLine) + "\r\n"))
            << server.requests().front().head;
    }
}

TEST(HttpRequestWire, IgnoresProxiesFromTheEnvironment) {
    RawServer proxy(answerOk("from proxy"));
    RawServer server(answerOk("direct"));
    std::string proxyUrl = proxy.url("");
    ::setenv("http_proxy", proxyUrl.c_str(), 1);
    ::setenv("HTTP_PROXY", proxyUrl.c_str(), 1);
    ::setenv("ALL_PROXY", proxyUrl.c_str(), 1);
    HttpRequestSpec spec;
    spec.url = server.url("/x");
    HttpResponse response = http_request(spec);
    Bytes plain = plain_get(server.url("/x"));
    ::unsetenv("http_proxy");
    ::unsetenv("HTTP_PROXY");
    ::unsetenv("ALL_PROXY");
    EXPECT_EQ(response.text, "direct");
    EXPECT_EQ(plain, "direct");
    EXPECT_TRUE(proxy.requests().empty());
}

// ---- what comes back -----------------------------------------------------------------------------

TEST(HttpRequestResponse, HarvestsStatusCookiesAndLocation) {
    const std::string head = "HTTP/1.1 404 Not Found\r\n"
                             "Set-Cookie: a=1; path=/\r\n"
                             "set-cookie: lower=1\r\n"
                             "Set-Cookie: b=2\r\n"
                             "Set-Cookie:nospace=1\r\n"
                             "Location: /first\r\n"
                             "location: /second\r\n"
                             "Content-Length: 4\r\n"
                             "\r\n";
    RawServer server([&](const RawRequest&) { return head + "gone"; });
    struct Case {
        const char* sent;
        bool merge;
        Text expectedCookies;
    };
    const Case cases[] = {
        {"", true, "a=1; b=2"},
        {"z=1; a=0", false, "a=1; b=2"},
        {"z=1; a=0", true, merge_cookie_lists("z=1; a=0", "a=1; b=2")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sent);
        HttpRequestSpec spec;
        spec.url = server.url("/");
        spec.cookies = c.sent;
        spec.merge_cookies = c.merge;
        HttpResponse response = http_request(spec);
        EXPECT_EQ(response.status, "404 Not Found");
        EXPECT_EQ(response.headers, head);
        EXPECT_EQ(response.location, "/second");
        EXPECT_EQ(response.cookies, c.expectedCookies);
        EXPECT_EQ(response.text, "gone");
        EXPECT_EQ(response.body, "gone");
    }
    // The merge puts received items first and keeps sent ones the response did not set.
    EXPECT_EQ(cases[2].expectedCookies, "a=1; b=2; z=1");
}

TEST(HttpRequestResponse, HeaderBytesOutsideGbkDoNotHideLineEnds) {
    // Servers send UTF-8 in reason phrases and cookie values; an odd run of high bytes must not
    // swallow the CR or the ";" after it.
    struct Case {
        const char* name;
        std::string headLines;
        std::string status;
        std::string cookies;
    };
    const Case cases[] = {
        {"reason phrase", "HTTP/1.1 200 \xE5\xA5\xBD\r\nX-A: 1\r\n", "200 \xE5\xA5\xBD", ""},
        {"cookie value", "HTTP/1.1 200 OK\r\nSet-Cookie: n=\xE5\xA5\xBD; path=/\r\nSet-Cookie: m=1\r\n",
         "200 OK", "n=\xE5\xA5\xBD; m=1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RawServer server([&](const RawRequest&) { return c.headLines + "Content-Length: 2\r\n\r\nok"; });
        HttpRequestSpec spec;
        spec.url = server.url("/");
        HttpResponse response = http_request(spec);
        EXPECT_EQ(response.status, c.status);
        EXPECT_EQ(response.cookies, c.cookies);
        EXPECT_EQ(response.text, "ok");
    }
}

TEST(HttpRequestResponse, KeepsOnlyTheFinalHeaderBlockAndNeverDecompresses) {
    const std::string gzipped("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03\x4b\x04\x00", 13);
    RawServer server([&](const RawRequest&) {
        return "HTTP/1.1 100 Continue\r\nX-Interim: 1\r\n\r\n" +
               answer("HTTP/1.1 200 OK", "Content-Encoding: gzip\r\n", gzipped);
    });
    HttpRequestSpec spec;
    spec.url = server.url("/");
    spec.headers = "Accept-Encoding: gzip";
    HttpResponse response = http_request(spec);
    EXPECT_EQ(response.status, "200 OK");
    EXPECT_EQ(response.headers, "HTTP/1.1 200 OK\r\nContent-Length: 13\r\nContent-Encoding: gzip\r\n\r\n");
    EXPECT_EQ(response.body, gzipped);
    ASSERT_EQ(server.requests().size(), 1u);
    const std::string head = server.requests().front().head;
    EXPECT_NE(head.find("\r\nAccept-Encoding: gzip\r\n"), std::string::npos);
    EXPECT_EQ(head.find("GB2312"), std::string::npos);
}

TEST(HttpRequestResponse, TextEndsAtTheFirstNulButBodyKeepsEverything) {
    const std::string body("abc\0def", 7);
    RawServer server([&](const RawRequest&) { return answer("HTTP/1.1 200 OK", "", body); });
    HttpRequestSpec spec;
    spec.url = server.url("/");
    HttpResponse response = http_request(spec);
    EXPECT_EQ(response.text, "abc");
    EXPECT_EQ(response.body, body);
}

TEST(HttpRequestResponse, DecodesTheCharsetDeclaredInTheFirst1024Bytes) {
    const std::string chinese = "\xE4\xB8\xAD\xE6\x96\x87"; // 中文 in UTF-8
    const std::string pad(1100, ' ');
    struct Case {
        const char* name;
        std::string body;
        bool decoded;
    };
    const Case cases[] = {
        {"tag near the top",
         "<html><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">" + chinese, true},
        {"html5 tag", "<meta charset=\"UTF-8\"><p>" + chinese, true},
        {"non-GBK bytes before the tag",
         "<title>" + chinese + "\xF0\x9F\x98\x80</title><meta charset='utf-8'>", true},
        {"a byte 0x80 just before charset=",
         "<meta\xE3\x80\x80"
         "charset=utf-8>" +
             chinese,
         true},
        {"tag after byte 1024", "<html>" + pad + "<meta charset=\"utf-8\">" + chinese, false},
        {"gbk in lower case is not decoded", "<meta charset=gbk>" + chinese, false},
        {"an unknown charset keeps the bytes", "<meta charset=no-such-charset>" + chinese, false},
        {"no tag", "{\"q\":\"" + chinese + "\"}", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RawServer server([&](const RawRequest&) { return answer("HTTP/1.1 200 OK", "", c.body); });
        HttpRequestSpec spec;
        spec.url = server.url("/");
        HttpResponse response = http_request(spec);
        EXPECT_EQ(response.body, c.body);
        EXPECT_EQ(response.text, c.decoded ? utf8_to_gbk(c.body) : c.body);
    }
    // The decoded text really is GBK.
    EXPECT_EQ(utf8_to_gbk(chinese), gbk("中文"));
    EXPECT_EQ(gbk("中文"), "\xD6\xD0\xCE\xC4");
}

TEST(HttpRequestResponse, FollowsRedirectsUnlessTold) {
    LoopbackServer server;
    server.server().Get("/start", [](const httplib::Request&, httplib::Response& res) {
        res.status = 302;
        res.set_header("Location", "/final");
        res.set_header("Set-Cookie", "hop=1");
    });
    server.server().Get("/final", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Set-Cookie", "end=2; HttpOnly");
        res.set_content("arrived", "text/plain");
    });
    server.start();

    HttpRequestSpec spec;
    spec.url = server.url("/start");
    HttpResponse followed = http_request(spec);
    EXPECT_EQ(followed.status, "200 OK");
    EXPECT_EQ(followed.text, "arrived");
    EXPECT_TRUE(followed.headers.starts_with("HTTP/1.1 200 OK\r\n")) << followed.headers;
    EXPECT_TRUE(followed.headers.ends_with("\r\n\r\n"));
    EXPECT_EQ(followed.headers.find("302"), std::string::npos);
    EXPECT_EQ(followed.cookies, "end=2");
    EXPECT_EQ(followed.location, "");

    spec.no_redirect = true;
    HttpResponse stopped = http_request(spec);
    EXPECT_EQ(stopped.status, "302 Found");
    EXPECT_EQ(stopped.location, "/final");
    EXPECT_EQ(stopped.cookies, "hop=1");
}

TEST(HttpRequestResponse, SendsBasicCredentialsOnlyWhenBothAreGiven) {
    LoopbackServer server;
    server.server().Get("/", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(req.get_header_value("Authorization"), "text/plain");
    });
    server.start();
    struct Case {
        const char* user;
        const char* password;
        const char* expected;
    };
    const Case cases[] = {
        {"user", "pass", "Basic dXNlcjpwYXNz"},
        {"user", "", ""},
        {"", "pass", ""},
    };
    for (const Case& c : cases) {
        HttpRequestSpec spec;
        spec.url = server.url("/");
        spec.user = c.user;
        spec.password = c.password;
        EXPECT_EQ(http_request(spec).text, c.expected) << c.user << ":" << c.password;
    }
}

TEST(HttpRequestResponse, HttpsWithASelfSignedCertificate) {
    test::TlsCertificate cert;
    LoopbackServer server(cert.certPath(), cert.keyPath());
    server.server().Post("/form", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(req.get_header_value("Content-Type") + "|" + req.body, "text/plain");
    });
    server.start();
    HttpRequestSpec spec;
    spec.url = server.url("/form");
    spec.method = HttpMethod::Post;
    spec.body_text = "a=1";
    HttpResponse response = http_request(spec);
    EXPECT_EQ(response.status, "200 OK");
    EXPECT_EQ(response.text, "application/x-www-form-urlencoded|a=1");
}

// Who is believed: unchecked by default, as the services have always been asked; checked, only a
// certificate that chains to a trusted root and names the host.
TEST(HttpRequestResponse, CertificateChecksWhenAsked) {
    test::TlsCertificate cert, stranger;
    LoopbackServer server(cert.certPath(), cert.keyPath());
    server.server().Get("/", [](const httplib::Request&, httplib::Response& res) { res.set_content("hi", "text/plain"); });
    server.start();
    const std::string byName = "https://localhost:" + std::to_string(server.port()) + "/";
    struct Case {
        const char* name;
        std::string url;
        TlsCheck tls;
        bool answers;
    } cases[] = {
        {"unchecked", server.url("/"), {}, true},
        {"system store does not know it", server.url("/"), verifiedTls(), false},
        {"its own root", server.url("/"), verifiedTls(cert.certPath().string()), true},
        {"its own root, by the other name it carries", byName, verifiedTls(cert.certPath().string()), true},
        {"another root", server.url("/"), verifiedTls(stranger.certPath().string()), false},
        {"a root file that is not there", server.url("/"), verifiedTls("/nonexistent/roots.pem"), false},
    };
    for (const Case& c : cases) {
        HttpRequestSpec spec;
        spec.url = c.url;
        spec.tls = c.tls;
        const HttpResponse response = http_request(spec);
        EXPECT_EQ(response.text, c.answers ? "hi" : "") << c.name;
        EXPECT_EQ(response.failed, !c.answers) << c.name;
    }
}

// ---- proxies -------------------------------------------------------------------------------------

TEST(HttpRequestProxy, HttpUrlGoesToTheProxyWithItsCredentials) {
    RawServer proxy(answerOk("via proxy"));
    const int target = test::closedLoopbackPort();
    HttpRequestSpec spec;
    spec.url = "http://127.0.0.1:" + std::to_string(target) + "/page?x=1";
    spec.proxy = "127.0.0.1:" + std::to_string(proxy.port());
    spec.proxy_user = "pu";
    spec.proxy_password = "pp";
    spec.complete_headers = false;
    spec.headers = "X-A: 1";
    HttpResponse response = http_request(spec);
    EXPECT_EQ(response.text, "via proxy");
    ASSERT_EQ(proxy.requests().size(), 1u);
    const std::string host = "127.0.0.1:" + std::to_string(target);
    EXPECT_EQ(proxy.requests().front().head,
              "GET http://" + host + "/page?x=1 HTTP/1.1\r\n" + "Host: " + host +
                  "\r\nProxy-Authorization: Basic cHU6cHA=\r\n" + "X-A: 1\r\n\r\n");
}

TEST(HttpRequestProxy, HttpsUrlTunnelsThroughTheProxy) {
    RawServer proxy([](const RawRequest&) { return answer("HTTP/1.1 403 Forbidden", "", ""); });
    HttpRequestSpec spec;
    spec.url = "https://127.0.0.1:9/secret";
    spec.proxy = "127.0.0.1:" + std::to_string(proxy.port());
    spec.proxy_user = "pu";
    spec.proxy_password = "pp";
    spec.headers = "X-Private: not for the proxy";
    HttpResponse response = http_request(spec);
    EXPECT_EQ(response.status, gbk("711 发送请求失败!"));
    EXPECT_EQ(response.text, "");
    ASSERT_EQ(proxy.requests().size(), 1u);
    const std::string head = proxy.requests().front().head;
    EXPECT_TRUE(head.starts_with("CONNECT 127.0.0.1:9 HTTP/1.1\r\n")) << head;
    EXPECT_NE(head.find("\r\nProxy-Authorization: Basic cHU6cHA=\r\n"), std::string::npos) << head;
    EXPECT_EQ(head.find("X-Private"), std::string::npos) << head;
}

// ---- failures ------------------------------------------------------------------------------------

TEST(HttpRequestFailure, StatusTextsForBrokenExchanges) {
    const int closed = test::closedLoopbackPort();
    RawServer silent([](const RawRequest&) { return std::nullopt; });
    RawServer truncated(
        [](const RawRequest&) { return std::string("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort"); });
    struct Case {
        const char* name;
        std::string url;
        const char* status;
    };
    const Case cases[] = {
        {"closed port", "http://127.0.0.1:" + std::to_string(closed) + "/", "711 发送请求失败!"},
        {"silent server", silent.url("/"), "712 服务器未响应!"},
        {"body cut short", truncated.url("/"), "713 读取数据失败!"},
        {"not http", "ftp://127.0.0.1/", "701 解析URL地址失败!"},
        {"not a URL", "no url at all", "701 解析URL地址失败!"},
        {"empty URL", "", "701 解析URL地址失败!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HttpRequestSpec spec;
        spec.url = c.url;
        spec.timeout_seconds = 1;
        auto started = std::chrono::steady_clock::now();
        HttpResponse response = http_request(spec);
        EXPECT_EQ(response.status, gbk(c.status));
        EXPECT_EQ(response.text, "");
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    }
}

TEST(HttpRequestFailure, ACutBodyKeepsWhatArrived) {
    RawServer truncated([](const RawRequest&) {
        return std::string("HTTP/1.1 200 OK\r\nSet-Cookie: s=1\r\nContent-Length: 100\r\n\r\nshort");
    });
    HttpRequestSpec spec;
    spec.url = truncated.url("/");
    HttpResponse response = http_request(spec);
    EXPECT_EQ(response.status, gbk("713 读取数据失败!"));
    EXPECT_EQ(response.text, "");
    EXPECT_EQ(response.body, "short");
    EXPECT_EQ(response.cookies, "s=1");
    EXPECT_TRUE(response.headers.starts_with("HTTP/1.1 200 OK\r\n"));
}

TEST(HttpRequestFailure, ABodyThatStallsTimesOutAsAReadFailure) {
    RawServer stalling(
        [](const RawRequest&) { return std::string("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npart"); },
        true);
    HttpRequestSpec spec;
    spec.url = stalling.url("/");
    spec.timeout_seconds = 1;
    HttpResponse response = http_request(spec);
    EXPECT_EQ(response.status, gbk("713 读取数据失败!"));
    EXPECT_EQ(response.body, "part");
}

TEST(HttpRequestFailure, TimeoutBelowOneMeansThirtySeconds) {
    // A silent server must still be waited for after two seconds; the stop token ends the wait.
    for (int seconds : {0, -5}) {
        RawServer silent([](const RawRequest&) { return std::nullopt; });
        std::stop_source source;
        std::thread stopper([&] {
            silent.waitForRequests(1);
            std::this_thread::sleep_for(std::chrono::seconds(2));
            source.request_stop();
        });
        HttpRequestSpec spec;
        spec.url = silent.url("/");
        spec.timeout_seconds = seconds;
        HttpResponse response = http_request(spec, source.get_token());
        stopper.join();
        EXPECT_EQ(response.status, gbk("714 请求已中止!")) << seconds;
    }
}

TEST(HttpRequestFailure, SilentServerTimesOutAfterTheGivenSeconds) {
    RawServer silent([](const RawRequest&) { return std::nullopt; });
    HttpRequestSpec spec;
    spec.url = silent.url("/");
    spec.timeout_seconds = 1;
    auto started = std::chrono::steady_clock::now();
    HttpResponse response = http_request(spec);
    auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(response.status, gbk("712 服务器未响应!"));
    EXPECT_GE(elapsed, std::chrono::milliseconds(900));
    EXPECT_LT(elapsed, std::chrono::seconds(10));
}

constexpr const char* kAborted = "714 请求已中止!";

TEST(HttpRequestAbort, StopFromAnotherThreadEndsTheCall) {
    RawServer silent([](const RawRequest&) { return std::nullopt; });
    std::stop_source source;
    HttpRequestSpec spec;
    spec.url = silent.url("/");
    std::thread stopper([&] {
        silent.waitForRequests(1);
        source.request_stop();
    });
    auto started = std::chrono::steady_clock::now();
    HttpResponse response = http_request(spec, source.get_token());
    auto elapsed = std::chrono::steady_clock::now() - started;
    stopper.join();
    EXPECT_EQ(response.status, gbk(kAborted));
    EXPECT_EQ(response.text, "");
    EXPECT_LT(elapsed, std::chrono::seconds(2));
}

TEST(HttpRequestAbort, AStoppedTokenSendsNothing) {
    RawServer server(answerOk());
    std::stop_source source;
    source.request_stop();
    HttpRequestSpec spec;
    spec.url = server.url("/");
    EXPECT_EQ(http_request(spec, source.get_token()).status, gbk(kAborted));
    EXPECT_EQ(plain_get(server.url("/"), source.get_token()), "");
    EXPECT_FALSE(server.waitForRequests(1, 200));
}

// ---- plain_get -----------------------------------------------------------------------------------

TEST(PlainGet, SendsItsOwnProfileAndReturnsTheBodyWhateverTheStatus) {
    RawServer server([](const RawRequest&) { return answer("HTTP/1.1 404 Not Found", "", "missing page"); });
    EXPECT_EQ(plain_get(server.url("/p?q=%E6")), "missing page");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests().front().head,
              "GET /p?q=%E6 HTTP/1.0\r\n"
              "Host: 127.0.0.1:" +
                  std::to_string(server.port()) +
                  "\r\n"
                  "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n"
                  "Accept: */*\r\n"
                  "\r\n");
}

TEST(PlainGet, FollowsRedirectsAndFailsToEmpty) {
    LoopbackServer server;
    server.server().Get("/old", [](const httplib::Request&, httplib::Response& res) {
        res.status = 301;
        res.set_header("Location", "/new");
    });
    server.server().Get("/new", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string("bin\0ary", 7), "application/octet-stream");
    });
    server.start();
    EXPECT_EQ(plain_get(server.url("/old")), std::string("bin\0ary", 7));

    RawServer truncated(
        [](const RawRequest&) { return std::string("HTTP/1.0 200 OK\r\nContent-Length: 9\r\n\r\nabc"); });
    EXPECT_EQ(plain_get(truncated.url("/")), "");
    EXPECT_EQ(plain_get("http://127.0.0.1:" + std::to_string(test::closedLoopbackPort()) + "/"), "");
    EXPECT_EQ(plain_get("gopher://127.0.0.1/"), "");
}

TEST(PlainGet, StopFromAnotherThreadEndsTheCall) {
    RawServer silent([](const RawRequest&) { return std::nullopt; });
    std::stop_source source;
    std::thread stopper([&] {
        silent.waitForRequests(1);
        source.request_stop();
    });
    auto started = std::chrono::steady_clock::now();
    Bytes body = plain_get(silent.url("/"), source.get_token());
    auto elapsed = std::chrono::steady_clock::now() - started;
    stopper.join();
    EXPECT_EQ(body, "");
    EXPECT_LT(elapsed, std::chrono::seconds(2));
}

} // namespace
} // namespace zelkor
