#include "text/text.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <memory>
#include <unordered_map>

namespace zelkor {

namespace {

class Iconv {
  public:
    Iconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Iconv() {
        if (ok()) iconv_close(m_cd);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    void reset() { iconv(m_cd, nullptr, nullptr, nullptr, nullptr); }
    iconv_t get() const { return m_cd; }

  private:
    iconv_t m_cd;
};

enum class Pair { Utf8ToGbk, GbkToUtf8, GbkToUtf16, Utf16ToGbk, Ucs4ToGbk };

// Opening a converter loads a module and costs far more than converting a phrase, so each thread
// keeps one per direction.
Iconv& converter(Pair pair) {
    struct Set {
        Iconv utf8ToGbk{"GBK", "UTF-8"};
        Iconv gbkToUtf8{"UTF-8", "GBK"};
        Iconv gbkToUtf16{"UTF-16LE", "GBK"};
        Iconv utf16ToGbk{"GBK", "UTF-16LE"};
        Iconv ucs4ToGbk{"GBK", "UCS-4LE"};
    };
    thread_local Set set;
    Iconv* all[] = {&set.utf8ToGbk, &set.gbkToUtf8, &set.gbkToUtf16, &set.utf16ToGbk, &set.ucs4ToGbk};
    Iconv& cd = *all[static_cast<int>(pair)];
    cd.reset();
    return cd;
}

// Converter from a declared charset to UCS-4, or null when iconv does not know the name. Pages of one
// site keep declaring the same few names, so each thread keeps the converters it opened.
Iconv* decoderFor(const std::string& charset) {
    thread_local std::unordered_map<std::string, std::unique_ptr<Iconv>> cache;
    auto it = cache.find(charset);
    if (it == cache.end()) {
        if (cache.size() >= 32) cache.clear();
        it = cache.emplace(charset, std::make_unique<Iconv>("UCS-4LE", charset.c_str())).first;
    }
    if (!it->second->ok()) return nullptr;
    it->second->reset();
    return it->second.get();
}

// Output of a conversion. The buffer only ever grows, by doubling, and `used` marks its end, so
// recovering from thousands of bad sequences never re-fills memory.
class Sink {
  public:
    explicit Sink(size_t expected) { m_buffer.resize(std::max<size_t>(expected, 16)); }

    char* tail() { return m_buffer.data() + m_used; }
    size_t room() const { return m_buffer.size() - m_used; }
    void advance(size_t n) { m_used += n; }
    void grow() { m_buffer.resize(m_buffer.size() * 2); }
    void append(std::string_view bytes) {
        while (room() < bytes.size())
            grow();
        std::memcpy(tail(), bytes.data(), bytes.size());
        m_used += bytes.size();
    }
    std::string_view view() const { return std::string_view(m_buffer).substr(0, m_used); }
    std::string take() {
        m_buffer.resize(m_used);
        if (m_buffer.capacity() > 4096 && m_buffer.capacity() / 2 > m_used) m_buffer.shrink_to_fit();
        return std::move(m_buffer);
    }

  private:
    std::string m_buffer;
    size_t m_used = 0;
};

// Converts all of `in`. Where iconv rejects input (undecodable, or not representable on the target
// side), `question` is written and `skip(offset)` says how many input bytes that stands for.
template <class Skip>
void convertAll(Iconv& cd, std::string_view in, Sink& out, std::string_view question, Skip skip) {
    char* src = const_cast<char*>(in.data());
    size_t left = in.size();
    while (left > 0) {
        char* dst = out.tail();
        size_t room = out.room();
        size_t rc = iconv(cd.get(), &src, &left, &dst, &room);
        int error = rc == static_cast<size_t>(-1) ? errno : 0;
        out.advance(static_cast<size_t>(dst - out.tail()));
        if (error == 0) break;
        if (error == E2BIG) {
            out.grow();
            continue;
        }
        out.append(question);
        size_t n = std::min<size_t>(left, skip(in.size() - left));
        src += n;
        left -= n;
        cd.reset();
    }
}

// Flushes the shift state of a stateful encoding.
void finish(Iconv& cd, Sink& out) {
    char* dst = out.tail();
    size_t room = out.room();
    if (room < 32) {
        out.grow();
        dst = out.tail();
        room = out.room();
    }
    if (iconv(cd.get(), nullptr, nullptr, &dst, &room) != static_cast<size_t>(-1))
        out.advance(static_cast<size_t>(dst - out.tail()));
}

inline uint8_t u8(const char* p, size_t i) {
    return static_cast<uint8_t>(p[i]);
}

// Length of the UTF-8 sequence at p. When it is ill-formed, `valid` is false and the length is that
// of its maximal subpart (the lead byte plus the continuation bytes that could still belong to it),
// so one "?" stands for each ill-formed sequence the way Unicode counts them.
size_t utf8Sequence(const char* p, size_t avail, bool& valid) {
    uint8_t c = u8(p, 0);
    valid = true;
    if (c < 0x80) return 1;
    size_t need;
    uint8_t lo = 0x80, hi = 0xBF; // range allowed for the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        need = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        need = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        need = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        valid = false;
        return 1;
    }
    size_t i = 1;
    for (; i < need; ++i) {
        if (i >= avail) break;
        uint8_t t = u8(p, i);
        if (i == 1 ? (t < lo || t > hi) : (t < 0x80 || t > 0xBF)) break;
    }
    if (i < need) valid = false;
    return i;
}

size_t firstNul(std::string_view s) {
    const void* nul = std::memchr(s.data(), 0, s.size());
    return nul ? static_cast<size_t>(static_cast<const char*>(nul) - s.data()) : s.size();
}

// Converts GBK to a Unicode form, writing `question` for each byte sequence GBK cannot decode.
Bytes fromGbk(Pair pair, std::string_view text, std::string_view question, size_t expectedSize) {
    if (text.empty()) return {};
    Sink out(expectedSize);
    convertAll(converter(pair), text, out, question, [&](size_t i) -> size_t {
        // A lead byte takes its trail byte with it unless that byte could not be a trail at all, so
        // markup after a stray lead byte survives.
        uint8_t c = u8(text.data(), i);
        bool pair2 = c >= 0x81 && c <= 0xFE && i + 1 < text.size() && u8(text.data(), i + 1) >= 0x40 &&
                     u8(text.data(), i + 1) != 0x7F && u8(text.data(), i + 1) != 0xFF;
        return pair2 ? 2 : 1;
    });
    return out.take();
}

} // namespace

Text utf8_to_gbk(std::string_view text) {
    return utf8_to_gbk(text, '?');
}

Text utf8_to_gbk(std::string_view text, char replacement) {
    std::string_view in = text.substr(0, firstNul(text));
    if (in.empty()) return {};
    // GBK never needs more bytes than UTF-8 for the same characters, and "?" replaces at least a byte.
    Sink out(in.size());
    // iconv stops at ill-formed input and at characters GBK lacks alike (it rejects overlong forms,
    // surrogates and code points past U+10FFFF, none of which GBK could hold anyway); either way the
    // sequence there, or its ill-formed part, becomes one "?".
    convertAll(converter(Pair::Utf8ToGbk), in, out, std::string_view(&replacement, 1), [&](size_t i) {
        bool valid;
        return utf8Sequence(in.data() + i, in.size() - i, valid);
    });
    return out.take();
}

Bytes gbk_to_utf8(std::string_view text) {
    return fromGbk(Pair::GbkToUtf8, text, "?", text.size() + text.size() / 2 + 16);
}

Bytes gbk_to_utf16(std::string_view text, bool keep_terminator) {
    Bytes out = fromGbk(Pair::GbkToUtf16, text, std::string_view("?\0", 2), text.size() * 2 + 2);
    if (!out.empty() && keep_terminator) out.append(2, '\0');
    return out;
}

Text utf16_to_gbk(std::string_view bytes) {
    auto unit = [&](size_t k) {
        return static_cast<uint16_t>(u8(bytes.data(), 2 * k) | u8(bytes.data(), 2 * k + 1) << 8);
    };
    size_t units = bytes.size() / 2;
    size_t n = 0;
    while (n < units && unit(n) != 0)
        ++n;
    bool danglingByte = n == units && (bytes.size() & 1);
    Sink out(n * 2 + 1);
    // One "?" per character: a surrogate pair GBK lacks is skipped whole, a lone surrogate alone.
    convertAll(converter(Pair::Utf16ToGbk), bytes.substr(0, n * 2), out, "?", [&](size_t i) -> size_t {
        size_t k = i / 2;
        bool pair = unit(k) >= 0xD800 && unit(k) <= 0xDBFF && k + 1 < n && unit(k + 1) >= 0xDC00 &&
                    unit(k + 1) <= 0xDFFF;
        return pair ? 4 : 2;
    });
    if (danglingByte) out.append("?");
    return out.take();
}

std::optional<Text> decode_to_gbk(std::string_view bytes, std::string_view charset, char lost) {
    auto isPadding = [](char c) { return c == ' ' || c == '\t' || c == '"' || c == '\''; };
    while (!charset.empty() && isPadding(charset.front()))
        charset.remove_prefix(1);
    while (!charset.empty() && isPadding(charset.back()))
        charset.remove_suffix(1);
    if (charset.empty() || charset.size() > 64) return std::nullopt;
    // Only plain names reach iconv: a suffix like "//IGNORE" must not change how a page decodes.
    std::string name;
    std::string key; // lower case without punctuation, for the names handled here
    for (char ch : charset) {
        unsigned char c = static_cast<unsigned char>(ch);
        bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alnum && c != '-' && c != '_' && c != '.' && c != ':') return std::nullopt;
        name.push_back(ch);
        if (alnum) key.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c));
    }
    // Code page 936 is GBK already: the bytes stay as they are, up to a NUL.
    if (key == "gbk" || key == "gb2312" || key == "xgbk") return bytes_to_text(bytes);
    if (key == "utf8") {
        if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
        return utf8_to_gbk(bytes, lost);
    }

    // Through UCS-4, so that undecodable input and characters GBK lacks are told apart, and each
    // becomes one "?".
    Iconv* decoder = decoderFor(name);
    if (!decoder) return std::nullopt;
    Sink wide(bytes.size() * 4 + 16);
    convertAll(*decoder, bytes, wide, std::string_view("?\0\0\0", 4), [](size_t) { return 1; });
    finish(*decoder, wide);
    std::string_view units = wide.view();
    for (size_t k = 0; k + 4 <= units.size(); k += 4) {
        if (units.substr(k, 4) == std::string_view("\0\0\0\0", 4)) {
            units = units.substr(0, k);
            break;
        }
    }
    units = units.substr(0, units.size() / 4 * 4);
    Sink out(units.size() / 2 + 16);
    const char replacement[2] = {lost, '\0'};
    convertAll(converter(Pair::Ucs4ToGbk), units, out, replacement, [](size_t) { return 4; });
    return out.take();
}

} // namespace zelkor
