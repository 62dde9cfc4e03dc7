#include "text/json.h"

#include "text/json_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

namespace zelkor {
namespace {

using json::appendUtf8;
using json::hexValue;
using json::isIdentPart;
using json::isIdentStart;
using json::numberText;

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
    bool readDocument(JsonValue& out) {
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

    bool readValue(JsonValue& out, int depth) {
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
            out = JsonValue(std::move(s));
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
            out = JsonValue(c == '-' ? -d : d);
            return true;
        }
        default:
            break;
        }
        if ((c >= '0' && c <= '9') || c == '.') {
            double d;
            if (!readUnsignedNumber(d)) return false;
            out = JsonValue(d);
            return true;
        }
        std::string_view word = readIdentifier();
        if (word == "true" || word == "false") {
            out = JsonValue(word == "true");
        } else if (word == "null") {
            out = JsonValue(JsonValue::Null{});
        } else if (word == "undefined") {
            out = JsonValue();
        } else if (word == "Infinity") {
            out = JsonValue(HUGE_VAL);
        } else if (word == "NaN") {
            out = JsonValue(std::nan(""));
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

    bool readObject(JsonValue& out, int depth) {
        if (depth > kJsonMaxDepth) return false;
        ++m_p;
        JsonObject object;
        for (;;) {
            if (!skipSpace()) return false;
            if (at('}')) break;
            std::string key;
            if (!readKey(key) || !skipSpace() || !at(':')) return false;
            ++m_p;
            JsonValue value;
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
        out = JsonValue(std::move(object));
        return true;
    }

    bool readArray(JsonValue& out, int depth) {
        if (depth > kJsonMaxDepth) return false;
        ++m_p;
        JsonValue::Array array;
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
        out = JsonValue(std::move(array));
        return true;
    }
};

} // namespace

JsonValue JsonValue::parse(std::string_view text) {
    const std::string utf8 = json::toUtf8(text);
    JsonValue value;
    if (!Reader(utf8).readDocument(value)) return JsonValue(Null{});
    return value;
}

} // namespace zelkor
