#include "text/json_path.h"

#include "text/json.h"
#include "text/json_text.h"

#include <cstdint>
#include <optional>

namespace zelkor::json {
namespace {

using Steps = std::vector<std::string>;

inline unsigned char byteAt(const char* p) {
    return static_cast<unsigned char>(*p);
}

class PathReader {
  public:
    explicit PathReader(std::string_view path) : m_p(path.data()), m_end(path.data() + path.size()) {}

    // first: the path starts with its first step (a bare name allowed); otherwise it continues
    // after a name (only .name and [n]).
    bool read(Steps& steps, bool first) {
        while (m_p < m_end) {
            if (steps.size() >= static_cast<std::size_t>(kJsonMaxDepth)) return false;
            if (*m_p == '[') {
                if (!readBracket(steps)) return false;
            } else if (first) {
                if (!readName(steps)) return false;
            } else if (*m_p == '.') {
                ++m_p;
                if (!readName(steps)) return false;
            } else {
                return false;
            }
            first = false;
        }
        return true;
    }

  private:
    const char* m_p;
    const char* m_end;

    bool readName(Steps& steps) {
        const char* start = m_p;
        if (m_p == m_end || !isIdentStart(byteAt(m_p))) return false;
        while (m_p < m_end && isIdentPart(byteAt(m_p)))
            ++m_p;
        steps.emplace_back(start, static_cast<std::size_t>(m_p - start));
        return true;
    }

    void skipBlanks() {
        while (m_p < m_end && (*m_p == ' ' || *m_p == '\t'))
            ++m_p;
    }

    bool readBracket(Steps& steps) {
        ++m_p;
        skipBlanks();
        if (m_p == m_end) return false;
        std::string key;
        if (*m_p == '"' || *m_p == '\'') {
            const char quote = *m_p++;
            const char* start = m_p;
            while (m_p < m_end && *m_p != quote && *m_p != '\\')
                ++m_p;
            if (m_p == m_end || *m_p != quote) return false;
            key.assign(start, static_cast<std::size_t>(m_p - start));
            ++m_p;
        } else {
            const char* start = m_p;
            while (m_p < m_end && *m_p >= '0' && *m_p <= '9')
                ++m_p;
            if (m_p == start) return false;
            while (start + 1 < m_p && *start == '0')
                ++start;
            key.assign(start, static_cast<std::size_t>(m_p - start));
        }
        skipBlanks();
        if (m_p == m_end || *m_p != ']') return false;
        ++m_p;
        steps.push_back(std::move(key));
        return true;
    }
};

// A canonical array index ("0", "17"; no sign, no leading zero) below 2^32 - 1.
std::optional<std::size_t> arrayIndex(std::string_view key) {
    if (key.empty() || key.size() > 10 || (key.size() > 1 && key[0] == '0')) return std::nullopt;
    std::uint64_t n = 0;
    for (char c : key) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (n >= 0xFFFFFFFFull) return std::nullopt;
    return static_cast<std::size_t>(n);
}

// The number of UTF-16 code units, as the script engines count a string's length.
std::size_t utf16Length(std::string_view s) {
    std::size_t n = 0;
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c & 0xC0) != 0x80) ++n;
        if (c >= 0xF0) ++n;
    }
    return n;
}

const JsonValue* follow(const JsonValue& from, const Steps& steps, JsonValue& scratch) {
    const JsonValue* at = &from;
    for (std::size_t i = 0; i < steps.size() && at; ++i) {
        const std::string& key = steps[i];
        if (const JsonObject* o = at->object()) {
            at = o->find(key);
        } else if (const JsonValue::Array* a = at->array()) {
            if (auto index = arrayIndex(key)) {
                at = *index < a->size() ? &(*a)[*index] : nullptr;
            } else if (key == "length") {
                scratch = JsonValue(static_cast<double>(a->size()));
                at = &scratch;
            } else {
                at = nullptr;
            }
        } else if (const std::string* s = at->string(); s && key == "length") {
            scratch = JsonValue(static_cast<double>(utf16Length(*s)));
            at = &scratch;
        } else {
            at = nullptr;
        }
    }
    return at;
}

} // namespace

const JsonValue* lookUp(const JsonValue& root, std::string_view gbkPath, JsonValue& scratch) {
    const std::string path = toUtf8(gbkPath);
    const std::string_view view(path);
    const std::string_view name = kJsonRootName;
    if (view.substr(0, name.size()) == name &&
        (view.size() == name.size() || view[name.size()] == '.' || view[name.size()] == '[')) {
        Steps steps;
        if (PathReader(view.substr(name.size())).read(steps, false)) {
            const JsonValue* v = follow(root, steps, scratch);
            if (v && !v->isNullish()) return v;
        }
    }
    Steps steps;
    if (!PathReader(view).read(steps, true)) return nullptr;
    return follow(root, steps, scratch);
}

} // namespace zelkor::json
