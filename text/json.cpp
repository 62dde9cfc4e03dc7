#include "text/json.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <variant>

namespace zelkor {
namespace {

// ---------------------------------------------------------------------------------------------
// The value tree. Strings are UTF-8; a lone surrogate from a \u escape is kept in the 3-byte form
// (it leaves as "?").

struct Value;
using Member = std::pair<std::string, Value>;
using Array = std::vector<Value>;

class Object {
  public:
    // Defined once Value is complete.
    Object();
    Object(const Object& other);
    Object(Object&&) noexcept;
    Object& operator=(const Object& other);
    Object& operator=(Object&&) noexcept;
    ~Object();

    const std::vector<Member>& members() const { return m_members; }
    const Value* find(std::string_view key) const;
    Value* find(std::string_view key) { return const_cast<Value*>(std::as_const(*this).find(key)); }
    // A new key goes last; an existing one keeps its place.
    void put(std::string key, Value value);
    bool erase(std::string_view key);

  private:
    // Small objects are searched in order; large ones (a hostile payload with many keys would
    // otherwise make reading quadratic) get an index.
    static constexpr size_t kIndexFrom = 24;
    std::vector<Member> m_members;
    mutable std::unique_ptr<std::unordered_map<std::string_view, size_t>> m_index; // a cache
    void buildIndex() const;
};

struct Undefined {};
struct Null {};

struct Value {
    std::variant<Undefined, Null, bool, double, std::string, Array, Object> v;

    bool isNullish() const { return v.index() <= 1; }
    bool isUndefined() const { return std::holds_alternative<Undefined>(v); }
    bool isContainer() const { return v.index() >= 5; }
    const std::string* string() const { return std::get_if<std::string>(&v); }
    const Array* array() const { return std::get_if<Array>(&v); }
    Array* array() { return std::get_if<Array>(&v); }
    const Object* object() const { return std::get_if<Object>(&v); }
    Object* object() { return std::get_if<Object>(&v); }
};

Object::Object() = default;
Object::Object(const Object& other) : m_members(other.m_members) {}
Object::Object(Object&&) noexcept = default;
Object& Object::operator=(Object&&) noexcept = default;
Object::~Object() = default;

Object& Object::operator=(const Object& other) {
    if (this != &other) {
        m_members = other.m_members;
        m_index.reset();
    }
    return *this;
}

void Object::buildIndex() const {
    m_index = std::make_unique<std::unordered_map<std::string_view, size_t>>();
    m_index->reserve(m_members.size() * 2);
    for (size_t i = 0; i < m_members.size(); ++i)
        m_index->emplace(m_members[i].first, i);
}

const Value* Object::find(std::string_view key) const {
    if (m_members.size() < kIndexFrom) {
        for (const auto& m : m_members)
            if (m.first == key) return &m.second;
        return nullptr;
    }
    if (!m_index) buildIndex();
    auto it = m_index->find(key);
    return it == m_index->end() ? nullptr : &m_members[it->second].second;
}

void Object::put(std::string key, Value value) {
    if (Value* existing = find(key)) {
        *existing = std::move(value);
        return;
    }
    // Moving the vector's strings would leave the index pointing at moved-from buffers.
    if (m_index && m_members.size() == m_members.capacity()) m_index.reset();
    m_members.emplace_back(std::move(key), std::move(value));
    if (m_index) m_index->emplace(m_members.back().first, m_members.size() - 1);
}

bool Object::erase(std::string_view key) {
    for (auto it = m_members.begin(); it != m_members.end(); ++it) {
        if (it->first == key) {
            m_index.reset();
            m_members.erase(it);
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Unicode helpers

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

inline unsigned char byteAt(const char* p) {
    return static_cast<unsigned char>(*p);
}

// Decodes one character of well-formed (or 3-byte surrogate) UTF-8 at p; returns its length.
size_t decodeUtf8(const char* p, const char* end, uint32_t& cp) {
    unsigned char c = byteAt(p);
    size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (c < 0x80 || c < 0xC0 || static_cast<size_t>(end - p) < n) {
        cp = c;
        return 1;
    }
    cp = n == 2 ? c & 0x1F : n == 3 ? c & 0x0F : c & 0x07;
    for (size_t i = 1; i < n; ++i)
        cp = cp << 6 | (byteAt(p + i) & 0x3F);
    return n;
}

bool isAscii(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

std::string toUtf8(std::string_view gbk) {
    return isAscii(gbk) ? std::string(gbk) : gbk_to_utf8(gbk);
}

constexpr std::string_view kMarker = "\xE2\x90\x80"; // U+2400, the stored form of a backslash

// The text form at the boundary: U+2400 becomes a backslash, a lone surrogate one "?", then GBK.
Text toGbk(std::string_view utf8) {
    if (isAscii(utf8)) return bytes_to_text(utf8); // a Text ends at a NUL, as utf8_to_gbk's does
    std::string s;
    bool marker = utf8.find(kMarker) != std::string_view::npos;
    bool surrogate = utf8.find('\xED') != std::string_view::npos;
    if (marker || surrogate) {
        s.reserve(utf8.size());
        for (size_t i = 0; i < utf8.size();) {
            if (marker && utf8.compare(i, kMarker.size(), kMarker) == 0) {
                s.push_back('\\');
                i += kMarker.size();
            } else if (surrogate && i + 2 < utf8.size() && utf8[i] == '\xED' &&
                       byteAt(&utf8[i + 1]) >= 0xA0) {
                s.push_back('?');
                i += 3;
            } else {
                s.push_back(utf8[i++]);
            }
        }
        utf8 = s;
    }
    return utf8_to_gbk(utf8);
}

// ---------------------------------------------------------------------------------------------
// Numbers, written as the script engines write them.

std::string numberText(double d) {
    if (std::isnan(d)) return "NaN";
    if (std::isinf(d)) return d < 0 ? "-Infinity" : "Infinity";
    if (d == 0) return "0"; // -0 too
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
    std::string_view sci(buf, static_cast<size_t>(r.ptr - buf)); // "-1.2345e+02", shortest digits
    std::string out;
    if (sci.front() == '-') {
        out.push_back('-');
        sci.remove_prefix(1);
    }
    size_t e = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, e))
        if (c != '.') digits.push_back(c);
    int exponent = 0;
    std::from_chars(sci.data() + e + (sci[e + 1] == '+' ? 2 : 1), sci.data() + sci.size(), exponent);
    int k = static_cast<int>(digits.size());
    int n = exponent + 1; // the decimal point sits after n digits
    if (k <= n && n <= 21) {
        out += digits;
        out.append(static_cast<size_t>(n - k), '0');
    } else if (0 < n && n <= 21) {
        out.append(digits, 0, static_cast<size_t>(n));
        out.push_back('.');
        out.append(digits, static_cast<size_t>(n));
    } else if (-6 < n && n <= 0) {
        out += "0.";
        out.append(static_cast<size_t>(-n), '0');
        out += digits;
    } else {
        out.push_back(digits[0]);
        if (k > 1) {
            out.push_back('.');
            out.append(digits, 1);
        }
        out.push_back('e');
        out.push_back(n - 1 < 0 ? '-' : '+');
        out += std::to_string(std::abs(n - 1));
    }
    return out;
}

// A canonical array index ("0", "17"; no sign, no leading zero) below 2^32 - 1.
std::optional<size_t> arrayIndex(std::string_view key) {
    if (key.empty() || key.size() > 10 || (key.size() > 1 && key[0] == '0')) return std::nullopt;
    uint64_t n = 0;
    for (char c : key) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    if (n >= 0xFFFFFFFFull) return std::nullopt;
    return static_cast<size_t>(n);
}

// ---------------------------------------------------------------------------------------------
// The literal reader (UTF-8 input).

bool isIdentStart(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$' || c >= 0x80;
}
bool isIdentPart(unsigned char c) {
    return isIdentStart(c) || (c >= '0' && c <= '9');
}
int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Length of the non-ASCII white space or line terminator at p (NBSP, BOM, the Unicode spaces,
// U+2028 and U+2029), 0 when there is none.
size_t unicodeSpaceLength(const char* p, const char* end) {
    size_t left = static_cast<size_t>(end - p);
    auto b = [&](size_t i) { return byteAt(p + i); };
    if (left >= 2 && b(0) == 0xC2 && b(1) == 0xA0) return 2;
    if (left < 3) return 0;
    if (b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF) return 3;
    if (b(0) == 0xE1 && b(1) == 0x9A && b(2) == 0x80) return 3; // U+1680
    if (b(0) == 0xE2 && b(1) == 0x80 && (b(2) <= 0x8A || b(2) == 0xA8 || b(2) == 0xA9 || b(2) == 0xAF))
        return 3;
    if (b(0) == 0xE2 && b(1) == 0x81 && b(2) == 0x9F) return 3; // U+205F
    if (b(0) == 0xE3 && b(1) == 0x80 && b(2) == 0x80) return 3; // U+3000
    return 0;
}

class Reader {
  public:
    Reader(std::string_view text) : m_p(text.data()), m_end(text.data() + text.size()) {}

    // One literal, then only space, comments and ";" up to the end.
    bool readDocument(Value& out) {
        if (!readValue(out, 0)) return false;
        for (;;) {
            if (!skipSpace()) return false;
            if (m_p == m_end) return true;
            if (*m_p != ';') return false;
            ++m_p;
        }
    }

  private:
    const char* m_p;
    const char* m_end;

    bool at(char c) const { return m_p < m_end && *m_p == c; }

    bool skipSpace() {
        while (m_p < m_end) {
            char c = *m_p;
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
                ++m_p;
            } else if (c == '/' && m_p + 1 < m_end && m_p[1] == '/') {
                while (m_p < m_end && *m_p != '\n' && *m_p != '\r')
                    ++m_p;
            } else if (c == '/' && m_p + 1 < m_end && m_p[1] == '*') {
                const char* close = nullptr;
                for (const char* q = m_p + 2; q + 1 < m_end; ++q) {
                    if (q[0] == '*' && q[1] == '/') {
                        close = q;
                        break;
                    }
                }
                if (!close) return false;
                m_p = close + 2;
            } else if (size_t n = byteAt(m_p) >= 0x80 ? unicodeSpaceLength(m_p, m_end) : 0) {
                m_p += n;
            } else {
                break;
            }
        }
        return true;
    }

    bool readValue(Value& out, int depth) {
        if (!skipSpace() || m_p == m_end) return false;
        char c = *m_p;
        switch (c) {
        case '{':
            return readObject(out, depth + 1);
        case '[':
            return readArray(out, depth + 1);
        case '"':
        case '\'': {
            std::string s;
            if (!readString(s)) return false;
            out.v = std::move(s);
            return true;
        }
        case '(': {
            if (depth + 1 > kJsonMaxDepth) return false;
            ++m_p;
            if (!readValue(out, depth + 1) || !skipSpace() || !at(')')) return false;
            ++m_p;
            return true;
        }
        case '-':
        case '+': {
            ++m_p;
            double d;
            if (!skipSpace() || !readUnsignedNumber(d)) return false;
            out.v = c == '-' ? -d : d;
            return true;
        }
        default:
            break;
        }
        if ((c >= '0' && c <= '9') || c == '.') {
            double d;
            if (!readUnsignedNumber(d)) return false;
            out.v = d;
            return true;
        }
        std::string_view word = readIdentifier();
        if (word == "true" || word == "false") {
            out.v = word == "true";
        } else if (word == "null") {
            out.v = Null{};
        } else if (word == "undefined") {
            out.v = Undefined{};
        } else if (word == "Infinity") {
            out.v = HUGE_VAL;
        } else if (word == "NaN") {
            out.v = std::nan("");
        } else {
            return false;
        }
        return true;
    }

    std::string_view readIdentifier() {
        const char* start = m_p;
        if (m_p == m_end || !isIdentStart(byteAt(m_p))) return {};
        while (m_p < m_end && isIdentPart(byteAt(m_p))) {
            if (byteAt(m_p) >= 0x80 && unicodeSpaceLength(m_p, m_end)) break;
            ++m_p;
        }
        return std::string_view(start, static_cast<size_t>(m_p - start));
    }

    // Decimal (1, 1.5, .5, 1., 1e-7), hex (0x1F), legacy octal (017), Infinity, NaN.
    bool readUnsignedNumber(double& out) {
        if (m_p < m_end && isIdentStart(byteAt(m_p))) {
            std::string_view word = readIdentifier();
            if (word == "Infinity")
                out = HUGE_VAL;
            else if (word == "NaN")
                out = std::nan("");
            else
                return false;
            return true;
        }
        const char* start = m_p;
        if (m_end - m_p >= 2 && m_p[0] == '0' && (m_p[1] == 'x' || m_p[1] == 'X')) {
            m_p += 2;
            double v = 0;
            const char* digits = m_p;
            while (m_p < m_end && hexValue(*m_p) >= 0)
                v = v * 16 + hexValue(*m_p++);
            if (m_p == digits) return false;
            out = v;
            return endsCleanly();
        }
        if (m_end - m_p >= 2 && m_p[0] == '0' && m_p[1] >= '0' && m_p[1] <= '9') {
            const char* q = m_p;
            while (q < m_end && *q >= '0' && *q <= '7')
                ++q;
            if (q == m_end || *q < '8' || *q > '9') {
                double v = 0;
                for (const char* d = m_p; d < q; ++d)
                    v = v * 8 + (*d - '0');
                m_p = q;
                out = v;
                return endsCleanly();
            }
            // A leading zero before an 8 or a 9 makes it decimal after all.
        }
        size_t intDigits = 0, fracDigits = 0;
        while (m_p < m_end && *m_p >= '0' && *m_p <= '9')
            ++m_p, ++intDigits;
        if (at('.')) {
            ++m_p;
            while (m_p < m_end && *m_p >= '0' && *m_p <= '9')
                ++m_p, ++fracDigits;
        }
        if (intDigits + fracDigits == 0) return false;
        const char* mantissaEnd = m_p;
        long exponent = 0;
        if (at('e') || at('E')) {
            ++m_p;
            bool negative = false;
            if (at('+') || at('-')) negative = *m_p++ == '-';
            const char* digits = m_p;
            while (m_p < m_end && *m_p >= '0' && *m_p <= '9') {
                if (exponent < 100000) exponent = exponent * 10 + (*m_p - '0');
                ++m_p;
            }
            if (m_p == digits) return false;
            if (negative) exponent = -exponent;
        }
        auto r = std::from_chars(start, m_p, out);
        if (r.ec == std::errc::result_out_of_range) {
            // Too large or too small for a double: the script engines give Infinity or 0.
            long magnitude = exponent;
            const char* q = start;
            while (q < mantissaEnd && (*q == '0' || *q == '.'))
                ++q;
            const char* point = std::find(start, mantissaEnd, '.');
            magnitude += q < point ? point - q : -(q - point);
            out = magnitude > 0 ? HUGE_VAL : 0.0;
        } else if (r.ec != std::errc() || r.ptr != m_p) {
            return false;
        }
        return endsCleanly();
    }

    // "3in" or "1.5.2" is not a number followed by something: it is a syntax error.
    bool endsCleanly() const {
        return m_p == m_end || !(isIdentPart(byteAt(m_p)) || *m_p == '.') ||
               (byteAt(m_p) >= 0x80 && unicodeSpaceLength(m_p, m_end));
    }

    bool readHex(int digits, uint32_t& out) {
        if (m_end - m_p < digits) return false;
        out = 0;
        for (int i = 0; i < digits; ++i) {
            int h = hexValue(m_p[i]);
            if (h < 0) return false;
            out = out << 4 | static_cast<uint32_t>(h);
        }
        m_p += digits;
        return true;
    }

    bool readString(std::string& out) {
        char quote = *m_p++;
        for (;;) {
            const char* run = m_p;
            while (m_p < m_end && *m_p != quote && *m_p != '\\' && *m_p != '\n' && *m_p != '\r')
                ++m_p;
            out.append(run, static_cast<size_t>(m_p - run));
            if (m_p == m_end || *m_p == '\n' || *m_p == '\r') return false;
            if (*m_p == quote) {
                ++m_p;
                return true;
            }
            ++m_p; // the backslash
            if (m_p == m_end) return false;
            char c = *m_p++;
            switch (c) {
            case 'n':
                out.push_back('\n');
                break;
            case 't':
                out.push_back('\t');
                break;
            case 'r':
                out.push_back('\r');
                break;
            case 'b':
                out.push_back('\b');
                break;
            case 'f':
                out.push_back('\f');
                break;
            case 'v':
                out.push_back('\v');
                break;
            case '\r':
                if (at('\n')) ++m_p;
                break;
            case '\n':
                break;
            case 'x': {
                uint32_t cp;
                if (!readHex(2, cp)) return false;
                appendUtf8(out, cp);
                break;
            }
            case 'u': {
                uint32_t cp;
                if (at('{')) {
                    ++m_p;
                    const char* digits = m_p;
                    cp = 0;
                    while (m_p < m_end && hexValue(*m_p) >= 0 && cp <= 0x10FFFF)
                        cp = cp << 4 | static_cast<uint32_t>(hexValue(*m_p++));
                    if (m_p == digits || cp > 0x10FFFF || !at('}')) return false;
                    ++m_p;
                } else {
                    if (!readHex(4, cp)) return false;
                    uint32_t low;
                    if (cp >= 0xD800 && cp <= 0xDBFF && m_end - m_p >= 6 && m_p[0] == '\\' && m_p[1] == 'u') {
                        const char* save = m_p;
                        m_p += 2;
                        if (readHex(4, low) && low >= 0xDC00 && low <= 0xDFFF)
                            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                        else
                            m_p = save;
                    }
                }
                appendUtf8(out, cp);
                break;
            }
            default:
                if (c >= '0' && c <= '7') {
                    // Legacy octal escape: up to three digits, at most \377.
                    uint32_t v = static_cast<uint32_t>(c - '0');
                    int maxMore = c <= '3' ? 2 : 1;
                    while (maxMore-- > 0 && m_p < m_end && *m_p >= '0' && *m_p <= '7')
                        v = v * 8 + static_cast<uint32_t>(*m_p++ - '0');
                    appendUtf8(out, v);
                } else if (byteAt(m_p - 1) >= 0x80) {
                    // An escaped non-ASCII character stands for itself (U+2028 and U+2029 continue
                    // the line instead).
                    uint32_t cp;
                    size_t n = decodeUtf8(m_p - 1, m_end, cp);
                    if (cp != 0x2028 && cp != 0x2029) out.append(m_p - 1, n);
                    m_p += n - 1;
                } else {
                    out.push_back(c); // \" \' \\ \/ and any other character stand for themselves
                }
            }
        }
    }

    bool readKey(std::string& key) {
        if (m_p == m_end) return false;
        char c = *m_p;
        if (c == '"' || c == '\'') return readString(key);
        if ((c >= '0' && c <= '9') || c == '.') {
            double d;
            if (!readUnsignedNumber(d)) return false;
            key = numberText(d);
            return true;
        }
        std::string_view word = readIdentifier();
        if (word.empty()) return false;
        key.assign(word);
        return true;
    }

    bool readObject(Value& out, int depth) {
        if (depth > kJsonMaxDepth) return false;
        ++m_p;
        Object object;
        for (;;) {
            if (!skipSpace()) return false;
            if (at('}')) break;
            std::string key;
            if (!readKey(key) || !skipSpace() || !at(':')) return false;
            ++m_p;
            Value value;
            if (!readValue(value, depth)) return false;
            object.put(std::move(key), std::move(value));
            if (!skipSpace()) return false;
            if (at(',')) {
                ++m_p;
                continue;
            }
            if (!at('}')) return false;
            break;
        }
        ++m_p;
        out.v = std::move(object);
        return true;
    }

    bool readArray(Value& out, int depth) {
        if (depth > kJsonMaxDepth) return false;
        ++m_p;
        Array array;
        for (;;) {
            if (!skipSpace()) return false;
            if (at(']')) break;
            if (at(',')) { // a hole
                ++m_p;
                array.emplace_back();
                continue;
            }
            array.emplace_back();
            if (!readValue(array.back(), depth)) return false;
            if (!skipSpace()) return false;
            if (at(',')) {
                ++m_p;
                continue;
            }
            if (!at(']')) return false;
            break;
        }
        ++m_p;
        out.v = std::move(array);
        return true;
    }
};

// Reads one GBK literal; nullopt when it does not read.
std::optional<Value> readLiteral(std::string_view gbk) {
    std::string utf8 = toUtf8(gbk);
    Value value;
    if (!Reader(utf8).readDocument(value)) return std::nullopt;
    return value;
}

// ---------------------------------------------------------------------------------------------
// Text forms

void appendPlainText(std::string& out, const Value& value) {
    struct Visitor {
        std::string& out;
        void operator()(const Undefined&) {}
        void operator()(const Null&) {}
        void operator()(bool b) { out += b ? "true" : "false"; }
        void operator()(double d) { out += numberText(d); }
        void operator()(const std::string& s) { out += s; }
        void operator()(const Array& a) {
            for (size_t i = 0; i < a.size(); ++i) {
                if (i) out.push_back(',');
                appendPlainText(out, a[i]);
            }
        }
        void operator()(const Object&) { out += "[object Object]"; }
    };
    std::visit(Visitor{out}, value.v);
}

bool needsUnicodeEscape(uint32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0xAD || (cp >= 0x600 && cp <= 0x604) ||
           cp == 0x70F || cp == 0x17B4 || cp == 0x17B5 || (cp >= 0x200C && cp <= 0x200F) ||
           (cp >= 0x2028 && cp <= 0x202F) || (cp >= 0x2060 && cp <= 0x206F) || cp == 0xFEFF ||
           (cp >= 0xFFF0 && cp <= 0xFFFF);
}

void appendQuoted(std::string& out, std::string_view s) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.push_back('"');
    const char* p = s.data();
    const char* end = p + s.size();
    while (p < end) {
        unsigned char c = byteAt(p);
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out.push_back(static_cast<char>(c));
            ++p;
            continue;
        }
        uint32_t cp;
        size_t n = decodeUtf8(p, end, cp);
        switch (cp) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case 0x2400:
            out += "\\\\";
            break; // a stored backslash stays a valid escape
        default:
            if (needsUnicodeEscape(cp)) {
                out += "\\u";
                for (int shift = 12; shift >= 0; shift -= 4)
                    out.push_back(kHex[(cp >> shift) & 0xF]);
            } else {
                out.append(p, n);
            }
        }
        p += n;
    }
    out.push_back('"');
}

void appendJson(std::string& out, const Value& value) {
    struct Visitor {
        std::string& out;
        void operator()(const Undefined&) { out += "null"; } // only reached inside arrays
        void operator()(const Null&) { out += "null"; }
        void operator()(bool b) { out += b ? "true" : "false"; }
        void operator()(double d) { out += std::isfinite(d) ? numberText(d) : "null"; }
        void operator()(const std::string& s) { appendQuoted(out, s); }
        void operator()(const Array& a) {
            out.push_back('[');
            for (size_t i = 0; i < a.size(); ++i) {
                if (i) out.push_back(',');
                appendJson(out, a[i]);
            }
            out.push_back(']');
        }
        void operator()(const Object& o) {
            out.push_back('{');
            bool first = true;
            for (const auto& [key, member] : o.members()) {
                if (member.isUndefined()) continue;
                if (!first) out.push_back(',');
                first = false;
                appendQuoted(out, key);
                out.push_back(':');
                appendJson(out, member);
            }
            out.push_back('}');
        }
    };
    std::visit(Visitor{out}, value.v);
}

Text jsonText(const Value& value) {
    if (value.isUndefined()) return {};
    std::string out;
    appendJson(out, value);
    return toGbk(out);
}

Text plainText(const Value& value) {
    if (const std::string* s = value.string()) return toGbk(*s);
    std::string out;
    appendPlainText(out, value);
    return toGbk(out);
}

// ---------------------------------------------------------------------------------------------
// Paths

using Steps = std::vector<std::string>;

class PathReader {
  public:
    explicit PathReader(std::string_view path) : m_p(path.data()), m_end(path.data() + path.size()) {}

    // first: true when the path starts with its first step (a bare name allowed); false when it
    // continues after a name (only .name and [n]).
    bool read(Steps& steps, bool first) {
        while (m_p < m_end) {
            if (steps.size() >= static_cast<size_t>(kJsonMaxDepth)) return false;
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
        steps.emplace_back(start, static_cast<size_t>(m_p - start));
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
            char quote = *m_p++;
            const char* start = m_p;
            while (m_p < m_end && *m_p != quote && *m_p != '\\')
                ++m_p;
            if (m_p == m_end || *m_p != quote) return false;
            key.assign(start, static_cast<size_t>(m_p - start));
            ++m_p;
        } else {
            const char* start = m_p;
            while (m_p < m_end && *m_p >= '0' && *m_p <= '9')
                ++m_p;
            if (m_p == start) return false;
            while (start + 1 < m_p && *start == '0')
                ++start;
            key.assign(start, static_cast<size_t>(m_p - start));
        }
        skipBlanks();
        if (m_p == m_end || *m_p != ']') return false;
        ++m_p;
        steps.push_back(std::move(key));
        return true;
    }
};

// The number of UTF-16 code units, as the script engines count a string's length.
size_t utf16Length(std::string_view s) {
    size_t n = 0;
    for (char ch : s) {
        unsigned char c = static_cast<unsigned char>(ch);
        if ((c & 0xC0) != 0x80) ++n;
        if (c >= 0xF0) ++n;
    }
    return n;
}

// Follows steps from `from`. `scratch` holds a computed value (a length); nullptr when the path
// leads nowhere.
const Value* lookup(const Value& from, const Steps& steps, size_t count, Value& scratch) {
    const Value* at = &from;
    for (size_t i = 0; i < count && at; ++i) {
        const std::string& key = steps[i];
        if (const Object* o = at->object()) {
            at = o->find(key);
        } else if (const Array* a = at->array()) {
            if (auto index = arrayIndex(key)) {
                at = *index < a->size() ? &(*a)[*index] : nullptr;
            } else if (key == "length") {
                scratch.v = static_cast<double>(a->size());
                at = &scratch;
            } else {
                at = nullptr;
            }
        } else if (const std::string* s = at->string(); s && key == "length") {
            scratch.v = static_cast<double>(utf16Length(*s));
            at = &scratch;
        } else {
            at = nullptr;
        }
    }
    return at;
}

Value* lookupMutable(Value& from, const Steps& steps, size_t count) {
    Value scratch;
    const Value* found = lookup(from, steps, count, scratch);
    return found == &scratch ? nullptr : const_cast<Value*>(found);
}

// An index past the end grows the array with holes, but within reason: the script engines keep
// such arrays sparse, a dense vector cannot.
constexpr size_t kMaxGrowth = 1 << 16;

bool assign(Value& root, const Steps& steps, Value value) {
    if (steps.empty()) {
        root = std::move(value);
        return true;
    }
    Value* parent = lookupMutable(root, steps, steps.size() - 1);
    if (!parent) return false;
    const std::string& key = steps.back();
    if (Object* o = parent->object()) {
        o->put(key, std::move(value));
        return true;
    }
    if (Array* a = parent->array()) {
        auto index = arrayIndex(key);
        if (!index || *index > a->size() + kMaxGrowth) return false;
        if (*index >= a->size()) a->resize(*index + 1);
        (*a)[*index] = std::move(value);
        return true;
    }
    return false;
}

// Walks target and source by the extend rule; with apply false it only checks that the merge
// would succeed, so that a refused merge changes nothing.
bool extend(Value& target, const Value& source, bool apply) {
    if (Array* a = target.array()) {
        if (const Array* s = source.array(); s && apply) a->insert(a->end(), s->begin(), s->end());
        return true;
    }
    Object* o = target.object();
    if (!o) return true;
    auto mergeMember = [&](std::string_view key, const Value& member) {
        Value* existing = o->find(key);
        if (existing && existing->isContainer()) return extend(*existing, member, apply);
        if (existing && std::holds_alternative<double>(existing->v)) return false;
        if (apply) o->put(std::string(key), member);
        return true;
    };
    if (const Object* s = source.object()) {
        for (const auto& [key, member] : s->members())
            if (!mergeMember(key, member)) return false;
    } else if (const Array* s = source.array()) {
        for (size_t i = 0; i < s->size(); ++i)
            if (!mergeMember(std::to_string(i), (*s)[i])) return false;
    }
    return true;
}

void collectLeaves(const Value& value, bool recursive, std::vector<Text>& out) {
    auto visit = [&](const Value& child) {
        if (child.string() || std::holds_alternative<double>(child.v) ||
            std::holds_alternative<bool>(child.v))
            out.push_back(plainText(child));
        else if (recursive && child.isContainer())
            collectLeaves(child, true, out);
    };
    if (const Object* o = value.object()) {
        for (const auto& m : o->members())
            visit(m.second);
    } else if (const Array* a = value.array()) {
        for (const auto& e : *a)
            visit(e);
    }
}

// The script engines' string-to-number conversion, 0 where they would give NaN.
double stringNumber(std::string_view s) {
    auto isSpace = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    };
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back()))
        s.remove_suffix(1);
    if (s.empty()) return 0;
    bool negative = false;
    std::string_view body = s;
    if (body.front() == '+' || body.front() == '-') {
        negative = body.front() == '-';
        body.remove_prefix(1);
    }
    if (body == "Infinity") return negative ? -HUGE_VAL : HUGE_VAL;
    double d = 0;
    bool hex = body.size() > 2 && body[0] == '0' && (body[1] == 'x' || body[1] == 'X');
    if (hex) {
        if (negative || s.front() == '+') return 0;
        for (char c : body.substr(2)) {
            int h = hexValue(c);
            if (h < 0) return 0;
            d = d * 16 + h;
        }
        return d;
    }
    if (body.empty() || !((body[0] >= '0' && body[0] <= '9') || body[0] == '.')) return 0;
    auto r = std::from_chars(body.data(), body.data() + body.size(), d);
    if (r.ptr != body.data() + body.size()) return 0;
    if (r.ec == std::errc::result_out_of_range) return 0;
    return negative ? -d : d;
}

bool isIdentifier(std::string_view name) {
    if (name.empty() || !isIdentStart(byteAt(name.data()))) return false;
    for (char c : name)
        if (!isIdentPart(static_cast<unsigned char>(c))) return false;
    return true;
}

} // namespace

// ---------------------------------------------------------------------------------------------

struct JsonDocument::Engine {
    Value root;
};

namespace {

// Resolves a GBK path against the document's value.
struct Resolution {
    bool valid = false; // the path is well-formed
    bool found = false; // it leads to a value that is neither null nor undefined
    Steps steps;        // relative to the value
};

Resolution resolveSteps(const Value& root, std::string_view rootName, std::string_view gbkPath,
                        Text* resolvedText) {
    Resolution r;
    std::string rootUtf8 = toUtf8(rootName);
    std::string_view root8 = rootUtf8;
    std::string path = toUtf8(gbkPath);
    std::string_view view(path);
    Value scratch;
    if (view.substr(0, root8.size()) == root8 &&
        (view.size() == root8.size() || view[root8.size()] == '.' || view[root8.size()] == '[')) {
        Steps steps;
        if (PathReader(view.substr(root8.size())).read(steps, false)) {
            const Value* v = lookup(root, steps, steps.size(), scratch);
            if (v && !v->isNullish()) {
                if (resolvedText) *resolvedText = Text(gbkPath);
                r.valid = r.found = true;
                r.steps = std::move(steps);
                return r;
            }
        }
    }
    if (resolvedText) {
        *resolvedText = Text(rootName);
        if (!gbkPath.empty() && gbkPath.front() != '[') resolvedText->push_back('.');
        resolvedText->append(gbkPath);
    }
    if (!PathReader(view).read(r.steps, true)) {
        r.steps.clear();
        return r;
    }
    r.valid = true;
    const Value* v = lookup(root, r.steps, r.steps.size(), scratch);
    r.found = v && !v->isNullish();
    return r;
}

} // namespace

JsonDocument::JsonDocument(Text root_name) : m_root_name(std::move(root_name)) {}
JsonDocument::~JsonDocument() = default;
JsonDocument::JsonDocument(JsonDocument&&) noexcept = default;
JsonDocument& JsonDocument::operator=(JsonDocument&&) noexcept = default;

void JsonDocument::destroy() {
    m_engine.reset();
}

JsonDocument JsonDocument::copy() const {
    JsonDocument other(m_root_name);
    other.m_engine = m_engine;
    return other;
}

bool JsonDocument::init() {
    m_engine.reset();
    if (!isIdentifier(m_root_name)) return false;
    m_engine = std::make_shared<Engine>();
    m_engine->root.v = Object{};
    return true;
}

bool JsonDocument::init(std::string_view root_name) {
    m_root_name = Text(root_name);
    return init();
}

bool JsonDocument::parse(std::string_view text, bool /*raw*/) {
    if (!init()) return false;
    std::optional<Value> value = readLiteral(text);
    if (!value) {
        m_engine->root.v = Null{};
        return false;
    }
    m_engine->root = std::move(*value);
    return !m_engine->root.isNullish();
}

bool JsonDocument::clear() {
    if (!m_engine) return false;
    m_engine->root.v = Object{};
    return true;
}

Text JsonDocument::to_json() const {
    return m_engine ? jsonText(m_engine->root) : Text();
}

bool JsonDocument::resolve_path(std::string_view path, Text* resolved) const {
    if (!m_engine) {
        if (resolved) resolved->clear();
        return false;
    }
    return resolveSteps(m_engine->root, m_root_name, path, resolved).found;
}

namespace {

// The value a read operation works on, or nullptr.
const Value* readAt(const std::shared_ptr<JsonDocument::Engine>& engine, std::string_view rootName,
                    std::string_view path, Value& scratch, std::optional<int> index = std::nullopt) {
    if (!engine) return nullptr;
    Resolution r = resolveSteps(engine->root, rootName, path, nullptr);
    if (!r.valid) return nullptr;
    if (index) r.steps.push_back(std::to_string(*index));
    const Value* v = lookup(engine->root, r.steps, r.steps.size(), scratch);
    return v && !v->isNullish() ? v : nullptr;
}

} // namespace

int JsonDocument::type_of(std::string_view path) const {
    Value scratch;
    const Value* v = readAt(m_engine, m_root_name, path, scratch);
    if (!v) return kMissing;
    switch (v->v.index()) {
    case 2:
        return kBoolean;
    case 3:
        return kNumber;
    case 4:
        return kString;
    case 5:
        return kArray;
    case 6:
        return kObject;
    default:
        return kOther;
    }
}

Text JsonDocument::get_text(std::string_view path, bool as_json) const {
    Value scratch;
    const Value* v = readAt(m_engine, m_root_name, path, scratch);
    if (!v) return {};
    return as_json ? jsonText(*v) : plainText(*v);
}

int JsonDocument::count(std::string_view path) const {
    Value scratch;
    const Value* v = readAt(m_engine, m_root_name, path, scratch);
    const Array* a = v ? v->array() : nullptr;
    return a ? static_cast<int>(a->size()) : 0;
}

double JsonDocument::get_number(std::string_view path) const {
    Value scratch;
    const Value* v = readAt(m_engine, m_root_name, path, scratch);
    if (!v) return 0;
    if (const double* d = std::get_if<double>(&v->v)) return *d;
    if (const bool* b = std::get_if<bool>(&v->v)) return *b ? 1 : 0;
    if (const std::string* s = v->string()) return stringNumber(*s);
    return 0;
}

int JsonDocument::member_names(std::vector<Text>& list, std::string_view path) const {
    list.clear();
    Value scratch;
    const Value* v = readAt(m_engine, m_root_name, path, scratch);
    if (const Object* o = v ? v->object() : nullptr)
        for (const auto& m : o->members())
            list.push_back(toGbk(m.first));
    return static_cast<int>(list.size());
}

int JsonDocument::leaf_values(std::vector<Text>& list, std::string_view path, bool recursive) const {
    list.clear();
    Value scratch;
    if (const Value* v = readAt(m_engine, m_root_name, path, scratch)) collectLeaves(*v, recursive, list);
    return static_cast<int>(list.size());
}

JsonDocument JsonDocument::get_document(std::string_view path) const {
    Value scratch;
    const Value* v = readAt(m_engine, m_root_name, path, scratch);
    JsonDocument doc;
    doc.init();
    doc.m_engine->root = v ? *v : Value{Null{}};
    return doc;
}

JsonDocument JsonDocument::item_document(int index, std::string_view path) const {
    Value scratch;
    const Value* v = readAt(m_engine, m_root_name, path, scratch, index);
    JsonDocument doc;
    doc.init();
    doc.m_engine->root = v ? *v : Value{Null{}};
    return doc;
}

Text JsonDocument::item_text(int index, std::string_view path, bool as_json) const {
    Value scratch;
    const Value* v = readAt(m_engine, m_root_name, path, scratch, index);
    if (!v) return {};
    if (as_json) return jsonText(*v);
    const std::string* s = v->string();
    return s ? toGbk(*s) : Text();
}

// ---------------------------------------------------------------------------------------------
// Writes

namespace {

std::optional<Value> readJsonArgument(std::string_view value) {
    if (value.empty()) return Value{Object{}};
    return readLiteral(value);
}

// Not-JSON arguments of array_add and set_item go into single quotes as they are, so their
// escapes count and a quote in them ends the string early.
std::optional<Value> readQuotedArgument(std::string_view value) {
    std::string quoted;
    quoted.reserve(value.size() + 2);
    quoted.push_back('\'');
    quoted.append(value);
    quoted.push_back('\'');
    std::optional<Value> v = readLiteral(quoted);
    if (v && !v->string()) return std::nullopt;
    return v;
}

Value markedString(std::string_view gbk) {
    std::string s = toUtf8(gbk);
    if (s.find('\\') == std::string::npos) return Value{std::move(s)};
    std::string marked;
    marked.reserve(s.size() + 8);
    for (char c : s) {
        if (c == '\\')
            marked += kMarker;
        else
            marked.push_back(c);
    }
    return Value{std::move(marked)};
}

} // namespace

bool JsonDocument::set_value(std::string_view path, std::string_view value, bool is_json) {
    if (!m_engine) return false;
    Resolution r = resolveSteps(m_engine->root, m_root_name, path, nullptr);
    if (!r.valid) return false;
    if (!is_json) return assign(m_engine->root, r.steps, markedString(value));
    std::optional<Value> v = readJsonArgument(value);
    if (!v) return false;
    Value* target = lookupMutable(m_engine->root, r.steps, r.steps.size());
    if (target && target->isContainer() && v->isContainer()) {
        if (!extend(*target, *v, false)) return false;
        return extend(*target, *v, true);
    }
    return assign(m_engine->root, r.steps, std::move(*v));
}

bool JsonDocument::set_expression(std::string_view path, std::string_view expression) {
    if (!m_engine) return false;
    Resolution r = resolveSteps(m_engine->root, m_root_name, path, nullptr);
    if (!r.valid) return false;
    std::optional<Value> v = readLiteral(expression);
    return v && assign(m_engine->root, r.steps, std::move(*v));
}

bool JsonDocument::set_number(std::string_view path, double number) {
    if (!m_engine) return false;
    Resolution r = resolveSteps(m_engine->root, m_root_name, path, nullptr);
    return r.valid && assign(m_engine->root, r.steps, Value{number});
}

bool JsonDocument::array_add(std::string_view value, std::string_view path, bool is_json, bool at_front) {
    if (!m_engine) return false;
    Resolution r = resolveSteps(m_engine->root, m_root_name, path, nullptr);
    if (!r.valid) return false;
    std::optional<Value> v = is_json ? readLiteral(value) : readQuotedArgument(value);
    if (!v) return false;
    Value* target = lookupMutable(m_engine->root, r.steps, r.steps.size());
    if (!target || !target->array()) {
        if (!assign(m_engine->root, r.steps, Value{Array{}})) return false;
        target = lookupMutable(m_engine->root, r.steps, r.steps.size());
    }
    Array& a = *target->array();
    a.insert(at_front ? a.begin() : a.end(), std::move(*v));
    return true;
}

bool JsonDocument::set_item(int index, std::string_view path, std::string_view value, bool is_json) {
    if (!m_engine || index < 0) return false;
    Resolution r = resolveSteps(m_engine->root, m_root_name, path, nullptr);
    if (!r.valid) return false;
    std::optional<Value> v = is_json ? readLiteral(value) : readQuotedArgument(value);
    if (!v) return false;
    Value* target = lookupMutable(m_engine->root, r.steps, r.steps.size());
    if (!target || !target->isContainer()) return false;
    r.steps.push_back(std::to_string(index));
    return assign(m_engine->root, r.steps, std::move(*v));
}

bool JsonDocument::remove_item(int index, std::string_view path) {
    if (!m_engine || index < 0) return false;
    Resolution r = resolveSteps(m_engine->root, m_root_name, path, nullptr);
    if (!r.valid) return false;
    Value* target = lookupMutable(m_engine->root, r.steps, r.steps.size());
    Array* a = target ? target->array() : nullptr;
    if (!a || static_cast<size_t>(index) >= a->size()) return false;
    a->erase(a->begin() + index);
    return true;
}

bool JsonDocument::remove(std::string_view path) {
    if (!m_engine) return false;
    Resolution r = resolveSteps(m_engine->root, m_root_name, path, nullptr);
    if (!r.valid || r.steps.empty()) return false;
    Value* parent = lookupMutable(m_engine->root, r.steps, r.steps.size() - 1);
    if (!parent) return false;
    const std::string& key = r.steps.back();
    if (Object* o = parent->object()) return o->erase(key);
    if (Array* a = parent->array()) {
        auto index = arrayIndex(key);
        if (!index || *index >= a->size()) return false;
        (*a)[*index] = Value{};
        return true;
    }
    return false;
}

const void* JsonDocument::engine_handle() const {
    return m_engine.get();
}

void appendJsonString(std::string& out, std::string_view utf8) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (const unsigned char c : utf8) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                out += "\\u00";
                out.push_back(kHex[c >> 4]);
                out.push_back(kHex[c & 0xF]);
            } else {
                out.push_back(static_cast<char>(c));
            }
        }
    }
    out += '"';
}

std::string jsonString(std::string_view utf8) {
    std::string out;
    appendJsonString(out, utf8);
    return out;
}

} // namespace zelkor
