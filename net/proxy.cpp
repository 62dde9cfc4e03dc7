#include "net/proxy.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace zelkor {

namespace {

bool setError(std::string* error, std::string message) {
    if (error) *error = std::move(message);
    return false;
}

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<Text> percentDecoded(std::string_view text) {
    Text out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

// Where the credentials of a proxy text begin and end ("@" included); nullopt when it has none.
std::optional<std::pair<std::size_t, std::size_t>> credentialsOf(std::string_view text) {
    const std::size_t scheme = text.find("://");
    const std::size_t start = scheme == std::string_view::npos ? 0 : scheme + 3;
    const std::size_t at = text.rfind('@');
    if (at == std::string_view::npos || at < start) return std::nullopt;
    return std::pair{start, at};
}

} // namespace

std::string proxyShown(std::string_view text) {
    const auto credentials = credentialsOf(text);
    if (!credentials) return std::string(text);
    const auto [start, at] = *credentials;
    const std::size_t colon = text.substr(start, at - start).find(':');
    const std::size_t secretFrom = colon == std::string_view::npos ? start : start + colon + 1;
    return std::string(text.substr(0, secretFrom)) + "***" + std::string(text.substr(at));
}

std::string proxyKept(std::string_view text) {
    const auto credentials = credentialsOf(text);
    if (!credentials) return std::string(text);
    return std::string(text.substr(0, credentials->first)) + "***" + std::string(text.substr(credentials->second));
}

bool proxyNeedsCredentials(std::string_view kept) {
    return kept.find("***@") != std::string_view::npos;
}

std::optional<ProxyRoute> parseProxy(std::string_view text, std::string* error) {
    const std::string_view given = trimmed(text);
    std::string_view rest = given;
    std::string scheme = "http";
    if (const std::size_t at = rest.find("://"); at != std::string_view::npos) {
        scheme = lower(rest.substr(0, at));
        rest.remove_prefix(at + 3);
    }
    const std::string quoted = "'" + proxyShown(given) + "'";
    if (scheme != "http" && scheme != "https" && scheme != "socks5" && scheme != "socks5h") {
        setError(error, "proxy " + quoted + ": the scheme must be http, https, socks5 or socks5h");
        return std::nullopt;
    }
    if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    ProxyRoute route;
    if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos) {
        const std::string_view credentials = rest.substr(0, at);
        rest.remove_prefix(at + 1);
        const std::size_t colon = credentials.find(':');
        const auto user = percentDecoded(credentials.substr(0, colon));
        const auto password =
            percentDecoded(colon == std::string_view::npos ? std::string_view() : credentials.substr(colon + 1));
        if (!user || !password || user->empty()) {
            setError(error, "proxy " + quoted + ": write the credentials as user:password@");
            return std::nullopt;
        }
        route.user = *user;
        route.password = *password;
    }
    std::string_view host;
    std::string_view port;
    if (rest.starts_with('[')) {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            setError(error, "proxy " + quoted + ": write it as host:port");
            return std::nullopt;
        }
        host = rest.substr(0, close + 1);
        port = rest.substr(close + 2);
    } else {
        const std::size_t colon = rest.rfind(':');
        if (colon == std::string_view::npos) {
            setError(error, "proxy " + quoted + ": the port is missing (host:port)");
            return std::nullopt;
        }
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
    }
    const bool hostOk = !host.empty() && std::none_of(host.begin(), host.end(), [](unsigned char c) {
        return c <= ' ' || c == '/' || c == '?' || c == '#' || c == '@' || c >= 0x7F;
    });
    int number = 0;
    const auto [end, status] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (!hostOk || port.empty() || status != std::errc() || end != port.data() + port.size() || number < 1 ||
        number > 65535) {
        setError(error, "proxy " + quoted + ": write it as host:port with a port from 1 to 65535");
        return std::nullopt;
    }
    route.proxy = scheme + "://" + std::string(host) + ":" + std::to_string(number);
    return route;
}

std::optional<std::vector<ProxyRoute>> parseProxyList(std::string_view text, std::string* error) {
    std::vector<ProxyRoute> routes;
    int number = 0;
    while (!text.empty() || number == 0) {
        ++number;
        const std::size_t end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && !line.starts_with('#')) {
            std::string why;
            auto route = parseProxy(line, &why);
            if (!route) {
                setError(error, "line " + std::to_string(number) + ": " + why);
                return std::nullopt;
            }
            routes.push_back(std::move(*route));
        }
        if (text.empty()) break;
    }
    return routes;
}

} // namespace zelkor
