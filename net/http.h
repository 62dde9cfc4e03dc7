#pragma once
// One blocking HTTP/HTTPS exchange with its own client, connection and request; nothing
// outlives the call. Failures are values: empty text and a numbered status message.

#include "net/proxy.h"
#include "net/tls.h"
#include "text/text.h"

#include <cstdint>
#include <stop_token>
#include <vector>

namespace zelkor {

// Bounds on one answer, whatever the peer does. An answer past either bound fails like a body cut
// short: empty text and a numbered status that names the reason.
struct AnswerLimits {
    static constexpr std::int64_t kDefaultMaxBytes = 8 << 20;
    static constexpr int kDefaultDeadlineSeconds = 60;
    std::int64_t maxBodyBytes = 0; // below 1 means kDefaultMaxBytes
    int totalSeconds = 0;          // the whole exchange, redirects included; below 1 means 60 s
    bool verifyTls = false;        // check the peer's certificate; off, as the original asks

    std::int64_t maxBytes() const { return maxBodyBytes < 1 ? kDefaultMaxBytes : maxBodyBytes; }
    int deadlineSeconds() const { return totalSeconds < 1 ? kDefaultDeadlineSeconds : totalSeconds; }
};

// The values are the documented method numbers; any other value sends GET.
enum class HttpMethod { Get = 0, Post = 1, Head = 2, Put = 3, Options = 4, Delete = 5, Trace = 6, Connect = 7 };

struct HttpRequestSpec {
    Text url;
    HttpMethod method = HttpMethod::Get;
    Text body_text;
    Text cookies;
    Text headers; // extra request header lines separated by CR LF
    bool no_redirect = false;
    Text user;
    Text password;
    Text proxy; // host:port; empty means direct
    Text proxy_user;
    Text proxy_password;
    int timeout_seconds = 0; // each phase; below 1 means 30 s
    bool merge_cookies = true;
    bool complete_headers = true;
    Bytes body_bytes; // wins over body_text when non-empty
    bool normalize_header_names = true;
    AnswerLimits limits;
    // False: `body` stays empty and `text` takes the bytes without a copy, so a large answer is
    // held once; `bodySize` still counts them.
    bool keepBody = true;
    TlsCheck tls; // off, as the original: any certificate is accepted
    // A page re-encoded to GBK from the charset it names: what stands for a character GBK cannot hold.
    char lostCharacter = '?';
};

struct HttpResponse {
    Text text;     // body as text, decoded; empty on every failure
    Text cookies;  // name=value; name=value
    Text headers;  // raw response header block of the final response
    Text location;
    Text status;   // e.g. "200 OK", or one of the 700-713 messages
    Bytes body;    // raw body bytes

    // What the run needs to tell a failed or refused answer from a good one.
    bool failed = false;          // status holds one of the failure messages
    int http_code = 0;            // status code of the final response; 0 when none arrived
    std::vector<Text> redirects;  // Location of every redirect followed, in order
    bool proxy_failed = false;    // the proxy could not be reached, or refused to connect us
    std::size_t bodySize = 0; // bytes of the final body received, kept or not
    bool reencoded = false;   // text was re-encoded to GBK from the charset the page names
};

// A stop request aborts the exchange in flight; the call then returns at once with empty text and
// the status "714 请求已中止!" (GBK). A body cut short gives "713 读取数据失败!" with empty text; the
// bytes that arrived stay in body and the response headers are filled in. An answer past its limits
// fails the same way with the reason after the message ("713 读取数据失败! 应答超过8388608字节上限",
// or "... 超过总时限60秒"; 711 or 712 with that reason when the deadline strikes before the body).
HttpResponse http_request(const HttpRequestSpec& spec, std::stop_token stop = {});

// The simpler fetch some sources use: HTTP/1.0, direct connection, its own two headers, no
// cache, redirects followed; the body whatever the status, empty bytes on any failure (an answer
// past `limits` too). Connecting and each later wait for the peer are bounded by 30 s; certificates
// are verified.
Bytes plain_get(const Text& url, std::stop_token stop = {}, AnswerLimits limits = {});

// plain_get through a proxy, with what the run needs to class the answer.
struct PlainAnswer {
    Bytes body; // empty on any failure
    bool failed = false;
    int http_code = 0;
    std::vector<Text> redirects; // Location of every redirect followed, in order
    bool proxy_failed = false;
};
PlainAnswer plain_fetch(const Text& url, const ProxyRoute& route, std::stop_token stop = {},
                        AnswerLimits limits = {});

} // namespace zelkor
