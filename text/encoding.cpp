#include "text/text.h"

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

enum class Pair { Utf8ToGbk, GbkToUtf8, GbkToUtf16, Utf16ToGbk, Ucs4ToGbk, Count };

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

struct RunResult {
    size_t consumed; // input bytes converted
    int error;       // 0 when all input was converted, else EILSEQ or EINVAL
};

// Converts as much of [in, in + len) as iconv accepts, appending to out. Output goes through a fixed
// buffer, so a text full of bad sequences costs no more than a clean one.
RunResult convertRun(iconv_t cd, const char* in, size_t len, std::string& out) {
    char buffer[16384];
    char* src = const_cast<char*>(in);
    size_t left = len;
    for (;;) {
        char* dst = buffer;
        size_t room = sizeof buffer;
        size_t rc = iconv(cd, &src, &left, &dst, &room);
        int error = rc == static_cast<size_t>(-1) ? errno : 0;
        out.append(buffer, static_cast<size_t>(dst - buffer));
        if (error == E2BIG) continue;
        if (error != 0) return {len - left, error == EINVAL ? EINVAL : EILSEQ};
        return {len, 0};
    }
}

// Flushes the shift state of a stateful encoding into out.
void finishRun(iconv_t cd, std::string& out) {
    char buffer[32];
    char* dst = buffer;
    size_t room = sizeof buffer;
    if (iconv(cd, nullptr, nullptr, &dst, &room) != static_cast<size_t>(-1))
        out.append(buffer, sizeof buffer - room);
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

inline bool allAscii8(const char* p) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    return (w & 0x8080808080808080ull) == 0;
}

// End of the run of well-formed UTF-8 starting at `from`; sets `ascii` when the run has no other byte.
size_t validRunEnd(const char* p, size_t from, size_t len, bool& ascii) {
    size_t i = from;
    ascii = true;
    while (i < len) {
        while (i + 8 <= len && allAscii8(p + i))
            i += 8;
        if (i >= len) break;
        if (u8(p, i) < 0x80) {
            ++i;
            continue;
        }
        bool valid;
        size_t n = utf8Sequence(p + i, len - i, valid);
        if (!valid) break;
        ascii = false;
        i += n;
    }
    return i;
}

size_t utf8LengthOfLead(uint8_t c) {
    return c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
}

size_t firstNul(std::string_view s) {
    const void* nul = std::memchr(s.data(), 0, s.size());
    return nul ? static_cast<size_t>(static_cast<const char*>(nul) - s.data()) : s.size();
}

// Converts GBK to a Unicode form, writing `question` for each byte sequence GBK cannot decode.
Bytes fromGbk(Pair pair, std::string_view text, std::string_view question, size_t expectedSize) {
    Bytes out;
    if (text.empty()) return out;
    Iconv& cd = converter(pair);
    out.reserve(expectedSize);
    size_t i = 0;
    while (i < text.size()) {
        RunResult r = convertRun(cd.get(), text.data() + i, text.size() - i, out);
        i += r.consumed;
        if (r.error == 0) break;
        out.append(question);
        // A lead byte takes its trail byte with it unless that byte could not be a trail at all, so
        // markup after a stray lead byte survives.
        uint8_t c = u8(text.data(), i);
        bool pair2 = c >= 0x81 && c <= 0xFE && i + 1 < text.size() && u8(text.data(), i + 1) >= 0x40 &&
                     u8(text.data(), i + 1) != 0x7F && u8(text.data(), i + 1) != 0xFF;
        i += pair2 ? 2 : 1;
        cd.reset();
    }
    return out;
}

} // namespace

Text utf8_to_gbk(std::string_view text) {
    const char* p = text.data();
    size_t len = firstNul(text);
    Text out;
    if (len == 0) return out;
    // GBK never needs more bytes than UTF-8 for the same characters, and "?" replaces at least a byte.
    out.reserve(len);
    Iconv* cd = nullptr;
    size_t i = 0;
    while (i < len) {
        bool ascii;
        size_t end = validRunEnd(p, i, len, ascii);
        if (ascii) {
            out.append(p + i, end - i);
        } else {
            if (!cd) cd = &converter(Pair::Utf8ToGbk);
            while (i < end) {
                RunResult r = convertRun(cd->get(), p + i, end - i, out);
                i += r.consumed;
                if (r.error == 0) break;
                // The run is well-formed, so iconv stopped at a character GBK lacks.
                out.push_back('?');
                i += utf8LengthOfLead(u8(p, i));
                cd->reset();
            }
        }
        i = end;
        if (i < len) {
            bool valid;
            i += utf8Sequence(p + i, len - i, valid);
            out.push_back('?');
        }
    }
    return out;
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
    size_t units = bytes.size() / 2;
    auto unit = [&](size_t k) {
        return static_cast<uint16_t>(u8(bytes.data(), 2 * k) | u8(bytes.data(), 2 * k + 1) << 8);
    };
    size_t n = 0;
    while (n < units && unit(n) != 0)
        ++n;
    bool danglingByte = n == units && (bytes.size() & 1);
    Text out;
    if (n > 0) {
        Iconv& cd = converter(Pair::Utf16ToGbk);
        size_t len = n * 2;
        out.reserve(len);
        size_t i = 0;
        while (i < len) {
            RunResult r = convertRun(cd.get(), bytes.data() + i, len - i, out);
            i += r.consumed;
            if (r.error == 0) break;
            out.push_back('?');
            size_t k = i / 2;
            bool surrogatePair = unit(k) >= 0xD800 && unit(k) <= 0xDBFF && k + 1 < n &&
                                 unit(k + 1) >= 0xDC00 && unit(k + 1) <= 0xDFFF;
            i += surrogatePair ? 4 : 2;
            cd.reset();
        }
    }
    if (danglingByte) out.push_back('?');
    return out;
}

std::optional<Text> decode_to_gbk(std::string_view bytes, std::string_view charset) {
    while (!charset.empty() && (charset.front() == ' ' || charset.front() == '\t' || charset.front() == '"' ||
                                charset.front() == '\''))
        charset.remove_prefix(1);
    while (!charset.empty() && (charset.back() == ' ' || charset.back() == '\t' || charset.back() == '"' ||
                                charset.back() == '\''))
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
    if (key == "gbk" || key == "gb2312" || key == "xgbk") return bytes_to_text(bytes);
    if (key == "utf8") {
        if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
        return utf8_to_gbk(bytes);
    }

    // Decode to UCS-4 first so that undecodable input and characters GBK lacks are told apart, and each
    // becomes one "?".
    Iconv* decoder = decoderFor(name);
    if (!decoder) return std::nullopt;
    std::string wide;
    size_t i = 0;
    while (i < bytes.size()) {
        RunResult r = convertRun(decoder->get(), bytes.data() + i, bytes.size() - i, wide);
        i += r.consumed;
        if (r.error == 0) break;
        wide.append("?\0\0\0", 4);
        if (r.error == EINVAL) break;
        ++i;
    }
    finishRun(decoder->get(), wide);
    size_t units = wide.size() / 4;
    for (size_t k = 0; k < units; ++k) {
        if (std::memcmp(wide.data() + 4 * k, "\0\0\0\0", 4) == 0) {
            units = k;
            break;
        }
    }
    Text out;
    Iconv& cd = converter(Pair::Ucs4ToGbk);
    out.reserve(units * 2);
    size_t len = units * 4;
    i = 0;
    while (i < len) {
        RunResult r = convertRun(cd.get(), wide.data() + i, len - i, out);
        i += r.consumed;
        if (r.error == 0) break;
        out.push_back('?');
        i += 4;
        cd.reset();
    }
    return out;
}

} // namespace zelkor
