#include "sources/endpoints.h"

#include "sources/url_rules.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

namespace zelkor {

namespace {

std::string trimmed(std::string_view s) {
    const char* ws = " \t\r\n";
    const auto first = s.find_first_not_of(ws);
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(ws);
    return std::string(s.substr(first, last - first + 1));
}

// A list index as written: digits without a leading zero, up to the largest index a sources file takes.
bool isSourceKey(const std::string& key) {
    if (key.empty() || key.size() > 3) return false;
    for (char c : key)
        if (c < '0' || c > '9') return false;
    return key.size() == 1 || key[0] != '0';
}

bool isKnownKey(const std::string& key, std::optional<int> sourceCount) {
    if (isSourceKey(key)) return !sourceCount || std::stoi(key) < *sourceCount;
    return key == "update1" || key == "update2" || key == "update3" || key == "quote" ||
           key == "notify";
}

// Checks "http(s)://host[:port][/path]"; a source takes only scheme, host and port from it.
std::string urlProblem(const std::string& key, const std::string& value) {
    std::string_view rest = value;
    if (rest.starts_with("http://"))
        rest.remove_prefix(7);
    else if (rest.starts_with("https://"))
        rest.remove_prefix(8);
    else
        return "the value must begin with http:// or https://";
    const auto slash = rest.find('/');
    const std::string_view authority = rest.substr(0, slash);
    if (authority.empty() || authority.starts_with(":")) return "the value has no host";
    if (authority.find_first_of(" \t?#@") != std::string_view::npos) return "the host part is not valid";
    // An IPv6 address is bracketed; a port may follow only after its closing bracket.
    std::string_view afterHost = authority;
    if (authority.starts_with("[")) {
        const auto close = authority.find(']');
        if (close == std::string_view::npos || close == 1) return "the host part is not valid";
        afterHost = authority.substr(close + 1);
        if (!afterHost.empty() && !afterHost.starts_with(":")) return "the host part is not valid";
    }
    if (const auto colon = afterHost.rfind(':'); colon != std::string_view::npos) {
        const std::string_view port = afterHost.substr(colon + 1);
        if (port.empty() || port.size() > 5 ||
            port.find_first_not_of("0123456789") != std::string_view::npos ||
            std::stoi(std::string(port)) > 65535 || std::stoi(std::string(port)) == 0)
            return "the port is not valid";
    }
    if (const std::string problem = authorityProblem(authority); !problem.empty())
        return "the host part is not valid: " + problem;
    if (slash != std::string_view::npos)
        if (const std::string problem = suffixProblem(rest.substr(slash)); !problem.empty())
            return "the path " + problem;
    if (isSourceKey(key) && slash != std::string_view::npos && rest.substr(slash) != "/")
        return "a source's value takes a scheme, host and port only; its path is fixed";
    return {};
}

} // namespace

std::optional<Endpoints> Endpoints::loadFile(const std::filesystem::path& file, std::string* error,
                                             std::optional<int> sourceCount) {
    auto fail = [&](const std::string& why) -> std::optional<Endpoints> {
        if (error) *error = why;
        return std::nullopt;
    };
    std::ifstream in(file, std::ios::binary);
    if (!in) return fail("cannot read the endpoints file " + file.string());
    std::stringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) return fail("cannot read the endpoints file " + file.string());
    std::string content = buffer.str();
    if (content.starts_with("\xEF\xBB\xBF")) content.erase(0, 3);

    Endpoints result;
    bool inSection = false;
    std::istringstream lines(content);
    std::string raw;
    int lineNumber = 0;
    while (std::getline(lines, raw)) {
        ++lineNumber;
        const std::string where = file.string() + ":" + std::to_string(lineNumber) + ": ";
        std::string line = trimmed(raw);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            if (line.back() != ']') return fail(where + "a section header must end in \"]\"");
            inSection = trimmed(std::string_view(line).substr(1, line.size() - 2)) == "endpoints";
            continue;
        }
        // A comment after a value starts with ";" that follows white space.
        for (std::size_t i = 1; i < line.size(); ++i) {
            if (line[i] == ';' && (line[i - 1] == ' ' || line[i - 1] == '\t')) {
                line = trimmed(std::string_view(line).substr(0, i));
                break;
            }
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos) return fail(where + "expected key = value");
        if (!inSection) continue;
        const std::string key = trimmed(std::string_view(line).substr(0, eq));
        const std::string value = trimmed(std::string_view(line).substr(eq + 1));
        if (!isKnownKey(key, sourceCount))
            return fail(where + "unknown key \"" + key + "\" (expected " +
                        (sourceCount ? "0.." + std::to_string(*sourceCount - 1) : std::string("a source index")) +
                        ", update1..update3, quote or notify)");
        if (value.empty()) continue; // an empty value keeps the default
        if (const std::string problem = urlProblem(key, value); !problem.empty())
            return fail(where + problem);
        result.set(key, value);
    }
    return result;
}

std::optional<Endpoints> Endpoints::loadDefault(const std::filesystem::path& home, std::string* error,
                                                std::optional<int> sourceCount) {
    if (const char* named = std::getenv("ZELKOR_ENDPOINTS"); named && *named)
        return loadFile(named, error, sourceCount);
    const std::filesystem::path file = home / "data" / "endpoints.ini";
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return Endpoints{};
    return loadFile(file, error, sourceCount);
}

std::optional<std::string> Endpoints::get(const std::string& key) const {
    const auto it = m_values.find(key);
    if (it == m_values.end()) return std::nullopt;
    return it->second;
}

} // namespace zelkor
