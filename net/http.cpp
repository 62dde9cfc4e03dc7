#include "net/http.h"

#include "net/multi_fetch.h"

#include "net/cookies.h"
#include "net/curl_handle.h"
#include "text/regex.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace zelkor {

namespace {

using detail::ActivityClock;
using detail::CurlEasy;
using detail::CurlHeaderList;
using detail::TransferEnd;

enum class Failure {
    NoClient,
    BadUrl,
    NoSession,
    NoConnection,
    NoRequest,
    Timeouts,
    Credentials,
    Certificates,
    Cookies,
    Redirects,
    Headers,
    Send,
    NoResponse,
    Read,
    Aborted,
};

const Text& failureText(Failure failure) {
    static const std::array<Text, 15> texts = [] {
        std::array<Text, 15> t;
        const char* utf8[] = {
            "700 当前系统不支持WinHttp服务!",
            "701 解析URL地址失败!",
            "702 创建WinHttp会话失败!",
            "703 创建WinHttp连接失败!",
            "704 创建WinHttp请求失败!",
            "705 设置超时时间失败!",
            "707 设置代理凭证失败!",
            "忽略错误/证书错误  失败！",
            "708 禁止自动设置Cookies失败!",
            "709 重定向设置失败!",
            "710 设置协议头失败!",
            "711 发送请求失败!",
            "712 服务器未响应!",
            "713 读取数据失败!",
            // A stop request from the caller; the numbered series has no code for it.
            "714 请求已中止!",
        };
        for (std::size_t i = 0; i < t.size(); ++i)
            t[i] = utf8_to_gbk(utf8[i]);
        return t;
    }();
    return texts[static_cast<std::size_t>(failure)];
}

// ---- request header block ----------------------------------------------------------------------

struct DefaultLine {
    std::string_view probe;
    std::string_view line;
    bool postOnly;
};

constexpr DefaultLine kDefaultLines[] = {
    {"User-Agent: ", "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n",
     false},
    {"Accept: ", "Accept: text/html, application/xhtml+xml, */*\r\n", false},
    {"Accept-Encoding: ", "Accept-Encoding: gbk, GB2312\r\n", false},
    {"Accept-Language: ", "Accept-Language: zh-cn\r\n", false},
    {"Content-Type:", "Content-Type: application/x-www-form-urlencoded\r\n", true},
    {"Cache-Control: ", "Cache-Control: no-cache\r\n", false},
};

// Lines split at CR LF; a trailing CR LF gives no extra empty line.
std::vector<std::string_view> splitLines(std::string_view block) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < block.size()) {
        std::size_t end = block.find("\r\n", start);
        if (end == std::string_view::npos) end = block.size();
        lines.push_back(block.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

Text normalizeNames(std::string_view block) {
    Text out;
    bool first = true;
    for (std::string_view line : splitLines(block)) {
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        std::string name(line.substr(0, colon));
        bool pieceStart = true;
        for (char& c : name) {
            if (c == '-') {
                pieceStart = true;
                continue;
            }
            if (pieceStart && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            pieceStart = false;
        }
        if (!first) out += "\r\n";
        first = false;
        out += name;
        out += line.substr(colon);
    }
    return out;
}

// Drops whole "Connection: keep-alive" lines that end in CR LF; the same bytes inside another
// header (X-Connection: keep-alive) are left alone so that no two lines run together.
Text dropKeepAliveLines(std::string_view block) {
    static constexpr std::string_view kLine = "Connection: keep-alive\r\n";
    Text out;
    std::size_t start = 0;
    while (start < block.size()) {
        std::size_t end = block.find("\r\n", start);
        std::size_t next = end == std::string_view::npos ? block.size() : end + 2;
        std::string_view piece = block.substr(start, next - start);
        if (piece != kLine) out += piece;
        start = next;
    }
    return out;
}

Text buildHeaderBlock(const HttpRequestSpec& spec) {
    Text block = spec.headers;
    if (!block.empty()) block += "\r\n";
    if (spec.complete_headers) {
        for (const DefaultLine& line : kDefaultLines) {
            if (line.postOnly && spec.method != HttpMethod::Post) continue;
            if (text_find(block, line.probe, 1, true) == -1) block += line.line;
        }
    }
    if (spec.normalize_header_names) block = normalizeNames(block);
    if (block.find("Connection") != Text::npos) {
        for (std::string_view line : splitLines(block)) {
            if (!line.starts_with("Connection")) continue;
            std::size_t last = line.rfind("Connection: ");
            if (last != std::string_view::npos && line.substr(last + 12) == "keep-alive")
                block = dropKeepAliveLines(block);
            break;
        }
    }
    if (!spec.cookies.empty() && text_find(block, "Cookie:", 1, true) == -1) {
        if (text_find(spec.cookies, "Cookie:", 1, true) != -1)
            block += "\r\n" + spec.cookies + "\r\n";
        else
            block += "\r\nCookie: " + spec.cookies + "\r\n";
    }
    return block;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && text_compare(a, b, false) == 0;
}

// The block becomes libcurl's header list line by line. Empty lines and lines without a name
// cannot be sent and are left out. libcurl reads "Name:" as "remove your own Name header", so a
// caller's empty header goes in its "Name;" form, which is sent as "Name:". libcurl's own Accept,
// Expect, Content-Type and Proxy-Connection would add lines the block does not have, so those are
// removed unless the block names them; Host and Content-Length stay, a request needs them.
bool fillHeaderList(std::string_view block, bool viaProxy, CurlHeaderList& list) {
    std::vector<std::string_view> names;
    for (std::string_view line : splitLines(block)) {
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || trimmed(line.substr(0, colon)).empty()) continue;
        std::string_view name = trimmed(line.substr(0, colon));
        names.push_back(name);
        std::string entry(line);
        if (trimmed(line.substr(colon + 1)).empty()) entry = std::string(line.substr(0, colon)) + ";";
        if (!list.append(entry)) return false;
    }
    auto named = [&](std::string_view wanted) {
        for (std::string_view name : names)
            if (sameName(name, wanted)) return true;
        return false;
    };
    for (std::string_view own : {"Accept", "Expect", "Content-Type", "Proxy-Connection"}) {
        if (own == "Proxy-Connection" && !viaProxy) continue;
        if (!named(own) && !list.append(std::string(own) + ":")) return false;
    }
    return true;
}

// ---- URL ---------------------------------------------------------------------------------------

// The URL as libcurl takes it: UTF-8, with bytes a URL cannot carry raw percent-encoded. Only
// http and https URLs with a host are accepted.
std::optional<std::string> requestUrl(const Text& url) {
    Bytes utf8 = gbk_to_utf8(url);
    std::string encoded;
    for (unsigned char c : utf8) {
        if (c <= 0x20 || c >= 0x7F) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 15];
        } else {
            encoded += static_cast<char>(c);
        }
    }
    struct UrlDeleter {
        void operator()(CURLU* u) const { curl_url_cleanup(u); }
    };
    std::unique_ptr<CURLU, UrlDeleter> parts(curl_url());
    if (!parts || curl_url_set(parts.get(), CURLUPART_URL, encoded.c_str(), 0) != CURLUE_OK)
        return std::nullopt;
    char* scheme = nullptr;
    char* host = nullptr;
    bool ok = curl_url_get(parts.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
              curl_url_get(parts.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK && host && *host &&
              (std::string_view(scheme) == "http" || std::string_view(scheme) == "https");
    curl_free(scheme);
    curl_free(host);
    if (!ok) return std::nullopt;
    return encoded;
}

// ---- one exchange ------------------------------------------------------------------------------

enum class Phase {
    Connecting,  // resolving, connecting, TLS, proxy tunnel
    Waiting,     // request on its way or sent, no status line yet
    Headers,     // inside a response header block
    Redirecting, // a redirect's headers are in; libcurl reads its body and moves on
    Body,        // the final response's body
};

// The value of a block's first Location line, spaces around it trimmed.
Text locationOf(std::string_view block) {
    for (std::string_view line : splitLines(block)) {
        if (line.size() < 9 || text_compare(line.substr(0, 9), "Location:", false) != 0) continue;
        line.remove_prefix(9);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        return Text(line);
    }
    return {};
}

struct Exchange {
    bool followRedirects = true;
    Phase phase = Phase::Connecting;
    ActivityClock clock;
    Text headers;
    Bytes body;
    std::vector<Text> redirects;
    std::int64_t maxBytes = AnswerLimits::kDefaultMaxBytes;
    bool overCap = false; // the answer was refused for its size

    // False when the announced length is past the cap; otherwise room for it is taken at once, so
    // the buffer does not grow by doubling to twice the body.
    bool admitLength() {
        const int at = text_find(headers, "\r\nContent-Length:", 1, true);
        if (at == -1) return true;
        const long long length = std::atoll(headers.c_str() + at - 1 + 17);
        if (length > maxBytes) return false;
        if (length > 0) body.reserve(static_cast<std::size_t>(length));
        return true;
    }

    void headersComplete() {
        int code = 0;
        std::size_t space = headers.find(' ');
        if (space != Text::npos) code = std::atoi(headers.c_str() + space + 1);
        bool redirect = code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
        if (code >= 100 && code < 200) {
            phase = Phase::Waiting;
        } else if (redirect && followRedirects && text_find(headers, "\r\nLocation:", 1, true) != -1) {
            phase = Phase::Redirecting;
            redirects.push_back(locationOf(headers));
        } else {
            phase = Phase::Body;
        }
    }
};

// Whether a failed transfer never got through the proxy to the service.
bool proxyFailed(CURL* easy, const detail::TransferResult& result, Phase phase) {
    if (result.end != TransferEnd::Finished) return false;
    switch (result.code) {
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT: // with a proxy set, the only connection made is to the proxy
    case CURLE_PROXY:
        return true;
    case CURLE_OPERATION_TIMEDOUT: {
        curl_off_t connected = 0;
        return phase == Phase::Connecting && curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connected) == CURLE_OK &&
               connected == 0;
    }
    default:
        return false;
    }
}

int statusCode(std::string_view block) {
    const std::size_t space = block.find(' ');
    return space == std::string_view::npos ? 0 : std::atoi(block.data() + space + 1);
}

int onPrereq(void* user, char*, char*, int, int) {
    auto& exchange = *static_cast<Exchange*>(user);
    exchange.phase = Phase::Waiting;
    exchange.clock.touch();
    return CURL_PREREQFUNC_OK;
}

std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto& exchange = *static_cast<Exchange*>(user);
    std::string_view line(data, size * count);
    exchange.clock.touch();
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    // Each new status line starts the block again: only the final response's headers are kept.
    if (line.starts_with("HTTP/")) {
        exchange.headers.clear();
        exchange.phase = Phase::Headers;
    }
    exchange.headers.append(line);
    exchange.headers.append("\r\n");
    if (line.empty()) {
        exchange.headersComplete();
        if (exchange.phase == Phase::Body && !exchange.admitLength()) {
            exchange.overCap = true;
            return 0; // libcurl ends the transfer
        }
    }
    return size * count;
}

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& exchange = *static_cast<Exchange*>(user);
    exchange.clock.touch();
    const std::size_t n = size * count;
    if (static_cast<std::int64_t>(exchange.body.size() + n) > exchange.maxBytes) {
        exchange.overCap = true;
        return 0; // libcurl ends the transfer; nothing past the cap is kept
    }
    exchange.body.append(data, n);
    return n;
}

Failure failureOf(Phase phase, CURLcode code) {
    switch (phase) {
    case Phase::Connecting:
        return Failure::Send;
    case Phase::Redirecting:
        // libcurl gave up on the redirect itself (too many, or a target it may not follow).
        if (code == CURLE_TOO_MANY_REDIRECTS || code == CURLE_UNSUPPORTED_PROTOCOL ||
            code == CURLE_URL_MALFORMAT)
            return Failure::NoResponse;
        return Failure::Send;
    case Phase::Waiting:
        return code == CURLE_SEND_ERROR ? Failure::Send : Failure::NoResponse;
    case Phase::Headers:
        return Failure::NoResponse;
    case Phase::Body:
        return Failure::Read;
    }
    return Failure::NoResponse;
}

// Harvests the final response's header block into the response.
void readHeaderBlock(const HttpRequestSpec& spec, const Text& block, HttpResponse& response) {
    response.headers = block;
    // The block is the server's raw bytes, not GBK: a UTF-8 reason phrase or cookie value can end
    // in a lone high byte, which a character scan would pair with the CR or ";" after it. Those
    // bytes are never trail bytes in GBK, so a byte search cuts well-formed text the same way.
    std::size_t end = block.size() > 9 ? block.find("\r\n", 9) : Text::npos;
    response.status = end != Text::npos ? block.substr(9, end - 9) : Text();
    Text cookies;
    for (std::string_view line : splitLines(block)) {
        std::size_t sep = line.find(": ");
        if (sep != std::string_view::npos && line.substr(0, sep) == "Set-Cookie") {
            std::size_t semicolon = line.find(';', sep);
            if (semicolon == std::string_view::npos)
                cookies += text_trim(text_replace(line, "Set-Cookie:", ""));
            else
                cookies += text_trim(line.substr(sep + 1, semicolon - sep - 1));
            cookies += "; ";
        }
        if (line.size() >= 10 && text_compare(line.substr(0, 10), "Location: ", false) == 0)
            response.location = Text(line.substr(10));
    }
    if (cookies.ends_with("; ")) cookies.resize(cookies.size() - 2);
    if (spec.merge_cookies && !spec.cookies.empty()) cookies = merge_cookie_lists(spec.cookies, cookies);
    response.cookies = cookies;
}

// A page that names its charset in a meta tag near the top arrives re-encoded as GBK. Takes the
// body by value so that a caller who moves it in holds the bytes once.
Text decodedText(Bytes body, char lost, bool& reencoded) {
    const std::size_t nul = body.find('\0');
    const std::string_view text(body.data(), nul == Bytes::npos ? body.size() : nul);
    Text head = text_left(text, 1024);
    const auto plain = [&] {
        body.resize(text.size());
        return std::move(body);
    };
    // Most answers are script or JSON without any tag: skip compiling the pattern for them. A byte
    // search, so that a stray high byte before the tag cannot hide it from this check.
    static constexpr std::string_view kCharset = "charset=";
    auto folded = [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a + 32 : a) == b; };
    if (std::search(head.begin(), head.end(), kCharset.begin(), kCharset.end(), folded) == head.end())
        return plain();
    RegexObject meta;
    if (!meta.create(R"(<meta.+?charset=[^\w]?([-\w]+))", head) || meta.match_count() < 1) return plain();
    Text charset = meta.group_text(1, 1);
    if (charset.empty() || charset == "gbk" || charset == "gb2312") return plain();
    std::optional<Text> decoded = decode_to_gbk(body, charset, lost);
    if (!decoded) return plain();
    reencoded = true;
    return bytes_to_text(*decoded);
}

// Why an answer past its limits failed, after the numbered message.
Text limitReason(const Exchange& exchange, bool overdue, const AnswerLimits& limits) {
    if (exchange.overCap)
        return " " + utf8_to_gbk("应答超过" + std::to_string(limits.maxBytes()) + "字节上限");
    if (overdue) return " " + utf8_to_gbk("超过总时限" + std::to_string(limits.deadlineSeconds()) + "秒");
    return {};
}

std::chrono::steady_clock::time_point deadlineOf(const AnswerLimits& limits) {
    return std::chrono::steady_clock::now() + std::chrono::seconds(limits.deadlineSeconds());
}

template <typename T> bool set(CURL* easy, CURLoption option, T value) {
    return curl_easy_setopt(easy, option, value) == CURLE_OK;
}

// Everything one HTTP exchange needs while it runs. It stays where it is made: libcurl holds
// pointers into it.
struct HttpJob {
    explicit HttpJob(const HttpRequestSpec& s) : spec(s), deadline(deadlineOf(s.limits)) {}
    HttpJob(const HttpJob&) = delete;
    HttpJob& operator=(const HttpJob&) = delete;

    const HttpRequestSpec& spec;
    std::chrono::steady_clock::time_point deadline;
    long timeoutMs = 30000;
    CurlEasy easy;
    Exchange exchange;
    CurlHeaderList headerList;
    HttpResponse response;
    Text reason; // set when the answer broke its limits

    HttpResponse& fail(Failure failure) {
        response.status = failureText(failure) + reason;
        response.failed = true;
        return response;
    }
};

// Sets the handle up; false when the exchange failed before it began (the response says why).
bool prepareHttp(HttpJob& job, const std::stop_token& stop) {
    const HttpRequestSpec& spec = job.spec;
    if (stop.stop_requested()) return job.fail(Failure::Aborted), false;
    if (!detail::curlReady()) return job.fail(Failure::NoClient), false;
    std::optional<std::string> url = requestUrl(spec.url);
    if (!url) return job.fail(Failure::BadUrl), false;
    job.easy.reset(curl_easy_init());
    if (!job.easy) return job.fail(Failure::NoSession), false;
    CURL* h = job.easy.get();

    Exchange& exchange = job.exchange;
    exchange.followRedirects = !spec.no_redirect;
    exchange.maxBytes = spec.limits.maxBytes();
    job.timeoutMs = spec.timeout_seconds < 1 ? 30000L : spec.timeout_seconds * 1000L;

    // No cookie engine, no connection kept after the call, no environment proxy, no decoding of
    // compressed bodies: each call stands alone.
    if (!set(h, CURLOPT_PROXY, spec.proxy.c_str()) || !set(h, CURLOPT_NOSIGNAL, 1L) ||
        !set(h, CURLOPT_FORBID_REUSE, 1L) || !set(h, CURLOPT_FRESH_CONNECT, 1L) ||
        !set(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L))
        return job.fail(Failure::NoSession), false;
    if (!set(h, CURLOPT_CONNECTTIMEOUT_MS, job.timeoutMs)) return job.fail(Failure::Timeouts), false;

    static constexpr const char* kMethodNames[] = {"GET",     "POST",   "HEAD",  "PUT",
                                                   "OPTIONS", "DELETE", "TRACE", "CONNECT"};
    const int number = static_cast<int>(spec.method);
    const HttpMethod method = number >= 0 && number <= 7 ? spec.method : HttpMethod::Get;
    const char* const methodName = kMethodNames[static_cast<int>(method)];
    const Bytes& body = spec.body_bytes.empty() ? spec.body_text : spec.body_bytes;
    bool requestOk = set(h, CURLOPT_URL, url->c_str()) && set(h, CURLOPT_PROTOCOLS_STR, "http,https") &&
                     set(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") &&
                     set(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)) &&
                     set(h, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    if (method == HttpMethod::Head) {
        requestOk = requestOk && set(h, CURLOPT_NOBODY, 1L);
    } else if (!body.empty() || method == HttpMethod::Post || method == HttpMethod::Put) {
        requestOk = requestOk && set(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size())) &&
                    set(h, CURLOPT_POSTFIELDS, body.data());
        // POST stays libcurl's own so that a 303 turns it into GET like a browser does.
        if (method != HttpMethod::Post) requestOk = requestOk && set(h, CURLOPT_CUSTOMREQUEST, methodName);
    } else if (method != HttpMethod::Get) {
        requestOk = requestOk && set(h, CURLOPT_CUSTOMREQUEST, methodName);
    }
    requestOk = requestOk && set(h, CURLOPT_PREREQFUNCTION, onPrereq) &&
                set(h, CURLOPT_PREREQDATA, &exchange) && set(h, CURLOPT_HEADERFUNCTION, onHeader) &&
                set(h, CURLOPT_HEADERDATA, &exchange) && set(h, CURLOPT_WRITEFUNCTION, onBody) &&
                set(h, CURLOPT_WRITEDATA, &exchange);
    if (!requestOk) return job.fail(Failure::NoRequest), false;

    if (!spec.user.empty() && !spec.password.empty()) {
        if (!set(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC)) ||
            !set(h, CURLOPT_USERNAME, spec.user.c_str()) || !set(h, CURLOPT_PASSWORD, spec.password.c_str()))
            return job.fail(Failure::Credentials), false;
    }
    if (!spec.proxy_user.empty() && !spec.proxy_password.empty()) {
        if (!set(h, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC)) ||
            !set(h, CURLOPT_PROXYUSERNAME, spec.proxy_user.c_str()) ||
            !set(h, CURLOPT_PROXYPASSWORD, spec.proxy_password.c_str()))
            return job.fail(Failure::Credentials), false;
    }
    if (!detail::applyTlsCheck(h, spec.tls)) return job.fail(Failure::Certificates), false;
    if (!set(h, CURLOPT_FOLLOWLOCATION, spec.no_redirect ? 0L : 1L) || !set(h, CURLOPT_MAXREDIRS, 10L))
        return job.fail(Failure::Redirects), false;

    if (!fillHeaderList(buildHeaderBlock(spec), !spec.proxy.empty(), job.headerList) ||
        !set(h, CURLOPT_HTTPHEADER, job.headerList.get()))
        return job.fail(Failure::Headers), false;
    return true;
}

// The response once the transfer has ended.
HttpResponse finishHttp(HttpJob& job, const detail::TransferResult& result) {
    const HttpRequestSpec& spec = job.spec;
    HttpResponse& response = job.response;
    Exchange& exchange = job.exchange;
    if (result.end == TransferEnd::Stopped) return std::move(job.fail(Failure::Aborted));
    response.redirects = std::move(exchange.redirects);
    response.proxy_failed = !spec.proxy.empty() && proxyFailed(job.easy.get(), result, exchange.phase);
    job.reason = limitReason(exchange, result.end == TransferEnd::Overdue, spec.limits);
    bool complete = result.end == TransferEnd::Finished && result.code == CURLE_OK;
    if (!complete) {
        Failure failure = failureOf(exchange.phase, result.code);
        if (failure != Failure::Read) return std::move(job.fail(failure));
    }
    if (exchange.headers.empty()) return std::move(job.fail(Failure::NoResponse));

    readHeaderBlock(spec, exchange.headers, response);
    response.http_code = statusCode(exchange.headers);
    response.bodySize = exchange.body.size();
    // A body cut short is a failure, not a shorter page: what arrived stays in body, text stays
    // empty, and the status says so.
    if (!complete) {
        if (spec.keepBody) response.body = std::move(exchange.body);
        return std::move(job.fail(Failure::Read));
    }
    if (spec.keepBody) {
        response.body = std::move(exchange.body);
        response.text = decodedText(response.body, spec.lostCharacter, response.reencoded);
    } else {
        response.text = decodedText(std::move(exchange.body), spec.lostCharacter, response.reencoded);
    }
    return std::move(response);
}

constexpr long kPlainPhaseMs = 30000;

struct PlainJob {
    PlainJob(const Text& u, const ProxyRoute& r, AnswerLimits l) : url(u), route(r), limits(l) {
        answer.failed = true;
    }
    PlainJob(const PlainJob&) = delete;
    PlainJob& operator=(const PlainJob&) = delete;

    const Text& url;
    const ProxyRoute& route;
    AnswerLimits limits;
    std::chrono::steady_clock::time_point deadline = deadlineOf(limits);
    CurlEasy easy;
    Exchange exchange;
    CurlHeaderList headers;
    PlainAnswer answer;
};

bool preparePlain(PlainJob& job, const std::stop_token& stop) {
    if (stop.stop_requested() || !detail::curlReady()) return false;
    std::optional<std::string> target = requestUrl(job.url);
    if (!target) return false;
    job.easy.reset(curl_easy_init());
    if (!job.easy) return false;
    CURL* h = job.easy.get();

    // Its own fixed profile: HTTP/1.0, direct unless the run routes it, two headers, no stored
    // state, certificates checked.
    Exchange& exchange = job.exchange;
    exchange.maxBytes = job.limits.maxBytes();
    const ProxyRoute& route = job.route;
    bool ok = job.headers.append("User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)") &&
              job.headers.append("Accept: */*") && set(h, CURLOPT_URL, target->c_str()) &&
              set(h, CURLOPT_PROTOCOLS_STR, "http,https") &&
              set(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") &&
              set(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0)) &&
              set(h, CURLOPT_PROXY, route.proxy.c_str()) && set(h, CURLOPT_NOSIGNAL, 1L) &&
              set(h, CURLOPT_FORBID_REUSE, 1L) && set(h, CURLOPT_FRESH_CONNECT, 1L) &&
              set(h, CURLOPT_HTTP_CONTENT_DECODING, 0L) && set(h, CURLOPT_FOLLOWLOCATION, 1L) &&
              set(h, CURLOPT_MAXREDIRS, 10L) && set(h, CURLOPT_CONNECTTIMEOUT_MS, kPlainPhaseMs) &&
              set(h, CURLOPT_HTTPHEADER, job.headers.get()) && set(h, CURLOPT_PREREQFUNCTION, onPrereq) &&
              set(h, CURLOPT_PREREQDATA, &exchange) && set(h, CURLOPT_HEADERFUNCTION, onHeader) &&
              set(h, CURLOPT_HEADERDATA, &exchange) && set(h, CURLOPT_WRITEFUNCTION, onBody) &&
              set(h, CURLOPT_WRITEDATA, &exchange);
    if (ok && !route.proxy.empty() && !route.user.empty() && !route.password.empty())
        ok = set(h, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC)) &&
             set(h, CURLOPT_PROXYUSERNAME, route.user.c_str()) &&
             set(h, CURLOPT_PROXYPASSWORD, route.password.c_str());
    return ok;
}

PlainAnswer finishPlain(PlainJob& job, const detail::TransferResult& result) {
    PlainAnswer& answer = job.answer;
    answer.redirects = std::move(job.exchange.redirects);
    answer.http_code = statusCode(job.exchange.headers);
    answer.proxy_failed = !job.route.proxy.empty() && proxyFailed(job.easy.get(), result, job.exchange.phase);
    if (result.end != TransferEnd::Finished || result.code != CURLE_OK) return std::move(answer);
    answer.failed = false;
    answer.body = std::move(job.exchange.body);
    return std::move(answer);
}

} // namespace

HttpResponse http_request(const HttpRequestSpec& spec, std::stop_token stop) {
    HttpJob job(spec);
    if (!prepareHttp(job, stop)) return std::move(job.response);
    const detail::TransferResult result = detail::runTransfer(
        job.easy.get(), stop, job.exchange.clock, std::chrono::milliseconds(job.timeoutMs), job.deadline);
    return finishHttp(job, result);
}

Bytes plain_get(const Text& url, std::stop_token stop, AnswerLimits limits) {
    return plain_fetch(url, ProxyRoute{}, stop, limits).body;
}

PlainAnswer plain_fetch(const Text& url, const ProxyRoute& route, std::stop_token stop, AnswerLimits limits) {
    PlainJob job(url, route, limits);
    if (!preparePlain(job, stop)) return std::move(job.answer);
    const detail::TransferResult result = detail::runTransfer(
        job.easy.get(), stop, job.exchange.clock, std::chrono::milliseconds(kPlainPhaseMs), job.deadline);
    return finishPlain(job, result);
}

// ---- a request for an event loop ---------------------------------------------------------------

struct PendingRequest::Impl {
    bool plain = false;
    bool ready = false; // false: failed before it began; the answer is already there
    bool ended = false;
    // The inputs, kept here because the jobs refer to them.
    HttpRequestSpec spec;
    Text url;
    ProxyRoute route;
    std::unique_ptr<HttpJob> http;
    std::unique_ptr<PlainJob> plainJob;
    HttpResponse httpAnswer;
    PlainAnswer plainAnswer;
};

PendingRequest::PendingRequest() : m_impl(std::make_unique<Impl>()) {}
PendingRequest::~PendingRequest() = default;

std::unique_ptr<PendingRequest> PendingRequest::http(HttpRequestSpec spec) {
    std::unique_ptr<PendingRequest> request(new PendingRequest);
    Impl& impl = *request->m_impl;
    impl.spec = std::move(spec);
    impl.http = std::make_unique<HttpJob>(impl.spec);
    impl.ready = prepareHttp(*impl.http, {});
    if (!impl.ready) {
        impl.httpAnswer = std::move(impl.http->response);
        impl.ended = true;
    }
    return request;
}

std::unique_ptr<PendingRequest> PendingRequest::plain(Text url, ProxyRoute route, AnswerLimits limits) {
    std::unique_ptr<PendingRequest> request(new PendingRequest);
    Impl& impl = *request->m_impl;
    impl.plain = true;
    impl.url = std::move(url);
    impl.route = std::move(route);
    impl.plainJob = std::make_unique<PlainJob>(impl.url, impl.route, limits);
    impl.ready = preparePlain(*impl.plainJob, {});
    if (!impl.ready) {
        impl.plainAnswer = std::move(impl.plainJob->answer);
        impl.ended = true;
    }
    return request;
}

bool PendingRequest::isPlain() const {
    return m_impl->plain;
}
bool PendingRequest::ready() const {
    return m_impl->ready && !m_impl->ended;
}

detail::TransferHandle PendingRequest::handle() {
    Impl& impl = *m_impl;
    if (impl.plain)
        return {impl.plainJob->easy.get(), &impl.plainJob->exchange.clock, std::chrono::milliseconds(kPlainPhaseMs),
                impl.plainJob->deadline};
    return {impl.http->easy.get(), &impl.http->exchange.clock, std::chrono::milliseconds(impl.http->timeoutMs),
            impl.http->deadline};
}

void PendingRequest::end(const detail::TransferResult& result) {
    Impl& impl = *m_impl;
    if (impl.ended) return;
    impl.ended = true;
    if (impl.plain)
        impl.plainAnswer = finishPlain(*impl.plainJob, result);
    else
        impl.httpAnswer = finishHttp(*impl.http, result);
}

HttpResponse& PendingRequest::httpResponse() {
    return m_impl->httpAnswer;
}
PlainAnswer& PendingRequest::plainAnswer() {
    return m_impl->plainAnswer;
}

} // namespace zelkor
