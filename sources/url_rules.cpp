#include "sources/url_rules.h"

namespace zelkor {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isAlnum(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// How a byte is named in a refusal: printable ones as themselves, the others by their code.
std::string shown(char c) {
    static const char* const hex = "0123456789ABCDEF";
    const auto byte = static_cast<unsigned char>(c);
    if (byte > 0x20 && byte < 0x7F) return std::string("\"") + c + "\"";
    if (byte == ' ') return "a space";
    return std::string("the byte 0x") + hex[byte >> 4] + hex[byte & 15];
}

std::string at(std::size_t offset) {
    return " (byte " + std::to_string(offset + 1) + ")";
}

std::string hostNameProblem(std::string_view host) {
    if (host.empty()) return "host must not be empty";
    for (std::size_t i = 0; i < host.size(); ++i) {
        const char c = host[i];
        if (!isAlnum(c) && c != '-' && c != '_' && c != '.')
            return "host must be a host name (letters, digits, \"-\", \"_\", \".\"), an IPv4 address or a "
                   "bracketed IPv6 address, with an optional :port; it holds " +
                   shown(c) + at(i);
    }
    return {};
}

std::string ipv6Problem(std::string_view inside) {
    if (inside.empty()) return "host [] holds no address";
    for (std::size_t i = 0; i < inside.size(); ++i) {
        const char c = inside[i];
        if (!isDigit(c) && !(c >= 'a' && c <= 'f') && !(c >= 'A' && c <= 'F') && c != ':' && c != '.')
            return "the IPv6 address must not hold " + shown(c) + at(i + 1);
    }
    return {};
}

std::string portProblem(std::string_view port) {
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string_view::npos)
        return "port must be a number from 1 to 65535";
    const int value = std::stoi(std::string(port));
    if (value < 1 || value > 65535) return "port must be a number from 1 to 65535";
    return {};
}

std::string pathPartProblem(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        if (c == '@' || c == '\\')
            return "must not hold " + shown(c) + at(i) + ": the host is the only authority of the URL";
        if (byte <= 0x20 || byte == 0x7F)
            return "must not hold " + shown(c) + at(i) + "; percent-encode it (%20 for a space)";
    }
    return {};
}

} // namespace

std::string authorityProblem(std::string_view hostPort) {
    std::string_view host = hostPort;
    std::string_view rest;
    if (hostPort.starts_with('[')) {
        const auto close = hostPort.find(']');
        if (close == std::string_view::npos) return "host \"[\" needs its closing \"]\"";
        if (std::string problem = ipv6Problem(hostPort.substr(1, close - 1)); !problem.empty()) return problem;
        rest = hostPort.substr(close + 1);
        if (!rest.empty() && !rest.starts_with(':'))
            return "host must end after its \"]\", or go on with \":port\"";
    } else {
        const auto colon = hostPort.find(':');
        host = hostPort.substr(0, colon);
        if (colon != std::string_view::npos) rest = hostPort.substr(colon);
        if (std::string problem = hostNameProblem(host); !problem.empty()) return problem;
    }
    if (!rest.empty()) return portProblem(rest.substr(1));
    return {};
}

std::string prefixProblem(std::string_view prefix) {
    if (!prefix.starts_with('/') && !prefix.starts_with('?'))
        return "must begin with \"/\" or \"?\", so that it cannot change the host or the port";
    if (prefix.starts_with("//")) return "must not begin with \"//\", which reads as another host";
    return pathPartProblem(prefix);
}

std::string suffixProblem(std::string_view suffix) {
    return pathPartProblem(suffix);
}

std::string headerLinesProblem(std::string_view lines) {
    if (lines.empty()) return {};
    std::size_t begin = 0;
    while (begin <= lines.size()) {
        const auto end = lines.find("\r\n", begin);
        const std::string_view line = lines.substr(begin, end == std::string_view::npos ? end : end - begin);
        for (std::size_t i = 0; i < line.size(); ++i) {
            const char c = line[i];
            if (c == '\0' || c == '\r' || c == '\n')
                return "must not hold " + shown(c) + at(begin + i) +
                       "; header lines are joined by CR LF and by nothing else";
        }
        const auto colon = line.find(':');
        if (line.empty()) return "must not hold an empty line" + at(begin) + ": it would end the request's header";
        if (colon == std::string_view::npos || colon == 0)
            return "must hold \"Name: value\" lines; line at byte " + std::to_string(begin + 1) + " has no name";
        for (std::size_t i = 0; i < colon; ++i)
            if (!isAlnum(line[i]) && std::string_view("!#$%&'*+-.^_`|~").find(line[i]) == std::string_view::npos)
                return "header name must not hold " + shown(line[i]) + at(begin + i);
        if (end == std::string_view::npos) break;
        begin = end + 2;
    }
    return {};
}

std::string cookieLineProblem(std::string_view cookies) {
    for (std::size_t i = 0; i < cookies.size(); ++i) {
        const char c = cookies[i];
        if (c == '\0' || c == '\r' || c == '\n')
            return "must not hold " + shown(c) + at(i) + ": cookies are one line";
    }
    return {};
}

} // namespace zelkor
