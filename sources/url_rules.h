#pragma once
// What a sources file or an endpoints file may put into a request. A source's URL is
// scheme://host[:port] + prefix + keyword + suffix, and the host is the only authority in it: no
// other part may name a user, another host or port, or break the request line; a header or cookie
// value may not start a line of its own. Each check answers what is wrong, or an empty text.

#include <string>
#include <string_view>

namespace zelkor {

// A host name (letters, digits, "-", "_", "."), an IPv4 address or a bracketed IPv6 address, then
// an optional ":port" of 1 to 65535.
std::string authorityProblem(std::string_view hostPort);

// A prefix begins with "/" or "?" (not "//"); prefix and suffix hold no "@", "\", white space,
// control characters or NUL.
std::string prefixProblem(std::string_view prefix);
std::string suffixProblem(std::string_view suffix);

// Header lines joined by CR LF: no NUL, no CR or LF but the CR LF between two lines, and every line
// "Name: value".
std::string headerLinesProblem(std::string_view lines);

// One cookie line: no CR, LF or NUL.
std::string cookieLineProblem(std::string_view cookies);

} // namespace zelkor
