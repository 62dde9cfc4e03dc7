#pragma once
// Proxies as users write them, turned into what a request needs.

#include "text/text.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelkor {

struct ProxyRoute {
    Text proxy; // "scheme://host:port"; empty: a direct connection
    Text user;  // decoded; sent only together with a password
    Text password;

    bool direct() const { return proxy.empty(); }
    bool operator==(const ProxyRoute&) const = default;
};

// scheme://[user:password@]host:port with scheme http, https, socks5 or socks5h (any case); a bare
// host:port means http. User and password may be percent-encoded; the port is required. On a bad
// text, nullopt and `error` says why (English, for the terminal).
std::optional<ProxyRoute> parseProxy(std::string_view text, std::string* error = nullptr);

// A proxy text as it may be shown: the password, or a lone credential (it may be a token), as "***".
std::string proxyShown(std::string_view text);
// A proxy text as a run store may keep it: the credentials, user included, as "***". Credentials are
// the machine's, like its proxies; a run that needs them is given them again.
std::string proxyKept(std::string_view text);
// True when `kept` (from proxyKept) had credentials taken out.
bool proxyNeedsCredentials(std::string_view kept);

// One proxy per line; blank lines and lines starting with "#" are skipped, spaces around a line are
// not part of it. The first bad line makes the whole list fail, `error` naming its number.
std::optional<std::vector<ProxyRoute>> parseProxyList(std::string_view text, std::string* error = nullptr);

} // namespace zelkor
