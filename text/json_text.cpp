#include "text/json_text.h"

#include "text/json.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <variant>

namespace zelkor {
namespace {

inline unsigned char byteAt(const char* p) {
    return static_cast<unsigned char>(*p);
}

bool isAscii(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// The length of the well-formed UTF-8 character at p and its code point (a surrogate in its 3-byte
// form counts as well-formed: a lone \u escape is stored so); 0 when the bytes are not one.
std::size_t utf8Character(const char* p, const char* end, std::uint32_t& cp) {
    const unsigned char c = byteAt(p);
    const std::size_t n = c < 0xC2 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 0;
    if (n == 0 || static_cast<std::size_t>(end - p) < n) return 0;
    cp = n == 2 ? c & 0x1F : n == 3 ? c & 0x0F : c & 0x07;
    for (std::size_t i = 1; i < n; ++i) {
        if ((byteAt(p + i) & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (byteAt(p + i) & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
    return n;
}

bool needsUnicodeEscape(std::uint32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0xAD || (cp >= 0x600 && cp <= 0x604) ||
           cp == 0x70F || cp == 0x17B4 || cp == 0x17B5 || (cp >= 0x200C && cp <= 0x200F) ||
           (cp >= 0x2028 && cp <= 0x202F) || (cp >= 0x2060 && cp <= 0x206F) || cp == 0xFEFF ||
           (cp >= 0xFFF0 && cp <= 0xFFFF);
}

void appendUnicodeEscape(std::string& out, std::uint32_t cp) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out.push_back(kHex[(cp >> shift) & 0xF]);
}

constexpr std::string_view kMarker = "\xE2\x90\x80"; // U+2400, read back as a backslash

void appendPlainText(std::string& out, const JsonValue& value) {
    if (const bool* b = value.boolean()) {
        out += *b ? "true" : "false";
    } else if (const double* d = value.number()) {
        out += json::numberText(*d);
    } else if (const std::string* s = value.string()) {
        out += *s;
    } else if (const JsonValue::Array* a = value.array()) {
        for (std::size_t i = 0; i < a->size(); ++i) {
            if (i) out.push_back(',');
            appendPlainText(out, (*a)[i]);
        }
    } else if (value.object()) {
        out += "[object Object]";
    }
}

void appendJson(std::string& out, const JsonValue& value) {
    if (const bool* b = value.boolean()) {
        out += *b ? "true" : "false";
    } else if (const double* d = value.number()) {
        out += std::isfinite(*d) ? json::numberText(*d) : "null";
    } else if (const std::string* s = value.string()) {
        appendJsonString(out, *s);
    } else if (const JsonValue::Array* a = value.array()) {
        out.push_back('[');
        for (std::size_t i = 0; i < a->size(); ++i) {
            if (i) out.push_back(',');
            appendJson(out, (*a)[i]);
        }
        out.push_back(']');
    } else if (const JsonObject* o = value.object()) {
        out.push_back('{');
        bool first = true;
        for (const auto& [key, member] : o->members()) {
            if (member.isUndefined()) continue;
            if (!first) out.push_back(',');
            first = false;
            appendJsonString(out, key);
            out.push_back(':');
            appendJson(out, member);
        }
        out.push_back('}');
    } else {
        out += "null"; // undefined is only reached inside arrays
    }
}

} // namespace

void appendJsonString(std::string& out, std::string_view utf8) {
    out.push_back('"');
    const char* p = utf8.data();
    const char* end = p + utf8.size();
    while (p < end) {
        const unsigned char c = byteAt(p);
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out.push_back(static_cast<char>(c));
            ++p;
            continue;
        }
        std::uint32_t cp = c;
        std::size_t n = c < 0x80 ? 1 : utf8Character(p, end, cp);
        if (n == 0) { // not UTF-8: the byte as it is
            out.push_back(static_cast<char>(c));
            ++p;
            continue;
        }
        switch (cp) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
        case 0x2400: // a stored backslash stays a valid escape
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
        default:
            if (needsUnicodeEscape(cp))
                appendUnicodeEscape(out, cp);
            else
                out.append(p, n);
        }
        p += n;
    }
    out.push_back('"');
}

std::string jsonString(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size() + 2);
    appendJsonString(out, utf8);
    return out;
}

namespace json {

void appendUtf8(std::string& out, std::uint32_t cp) {
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

std::string toUtf8(std::string_view gbk) {
    return isAscii(gbk) ? std::string(gbk) : gbk_to_utf8(gbk);
}

Text toGbk(std::string_view utf8, char lost) {
    if (isAscii(utf8)) return bytes_to_text(utf8); // a Text ends at a NUL, as utf8_to_gbk's does
    std::string s;
    const bool marker = utf8.find(kMarker) != std::string_view::npos;
    const bool surrogate = utf8.find('\xED') != std::string_view::npos;
    if (marker || surrogate) {
        s.reserve(utf8.size());
        for (std::size_t i = 0; i < utf8.size();) {
            if (marker && utf8.compare(i, kMarker.size(), kMarker) == 0) {
                s.push_back('\\');
                i += kMarker.size();
            } else if (surrogate && i + 2 < utf8.size() && utf8[i] == '\xED' && byteAt(&utf8[i + 1]) >= 0xA0) {
                s.push_back(lost);
                i += 3;
            } else {
                s.push_back(utf8[i++]);
            }
        }
        utf8 = s;
    }
    return utf8_to_gbk(utf8, lost);
}

std::string numberText(double d) {
    if (std::isnan(d)) return "NaN";
    if (std::isinf(d)) return d < 0 ? "-Infinity" : "Infinity";
    if (d == 0) return "0"; // -0 too
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
    std::string_view sci(buf, static_cast<std::size_t>(r.ptr - buf)); // "-1.2345e+02", shortest digits
    std::string out;
    if (sci.front() == '-') {
        out.push_back('-');
        sci.remove_prefix(1);
    }
    const std::size_t e = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, e))
        if (c != '.') digits.push_back(c);
    int exponent = 0;
    std::from_chars(sci.data() + e + (sci[e + 1] == '+' ? 2 : 1), sci.data() + sci.size(), exponent);
    const int k = static_cast<int>(digits.size());
    const int n = exponent + 1; // the decimal point sits after n digits
    if (k <= n && n <= 21) {
        out += digits;
        out.append(static_cast<std::size_t>(n - k), '0');
    } else if (0 < n && n <= 21) {
        out.append(digits, 0, static_cast<std::size_t>(n));
        out.push_back('.');
        out.append(digits, static_cast<std::size_t>(n));
    } else if (-6 < n && n <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-n), '0');
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

Text plainText(const JsonValue& value, bool* lost) {
    std::string out;
    const std::string* s = value.string();
    if (!s) {
        appendPlainText(out, value);
        s = &out;
    }
    if (!lost) return toGbk(*s);
    // SUB maps to itself, so any SUB beyond the source's own stands for a lost character.
    constexpr char kSub = '\x1A';
    Text gbk = toGbk(*s, kSub);
    *lost = std::count(gbk.begin(), gbk.end(), kSub) > std::count(s->begin(), s->end(), kSub);
    return gbk;
}

Text jsonText(const JsonValue& value) {
    if (value.isUndefined()) return {};
    std::string out;
    appendJson(out, value);
    return toGbk(out);
}

} // namespace json
} // namespace zelkor
