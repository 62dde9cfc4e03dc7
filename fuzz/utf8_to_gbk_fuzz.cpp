// Feeds arbitrary bytes to the encoding conversions and checks what must hold for any input.
#include "text/text.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string_view>

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// Length of the UTF-8 sequence at s[i] and whether it is well-formed; for an ill-formed one, the
// length of its maximal subpart.
size_t sequence(std::string_view s, size_t i, bool& valid) {
    auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = b(i);
    int need = c < 0x80 ? 1 : c < 0xC2 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 0;
    valid = need > 0;
    if (need <= 1) return 1;
    unsigned char lo = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
    unsigned char hi = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
    size_t n = 1;
    while (n < static_cast<size_t>(need) && i + n < s.size()) {
        unsigned char t = b(i + n);
        if (t < (n == 1 ? lo : 0x80) || t > (n == 1 ? hi : 0xBF)) break;
        ++n;
    }
    valid = n == static_cast<size_t>(need);
    return n;
}

// One sequence at a time, each well-formed character converted on its own.
zelkor::Text reference(std::string_view in) {
    in = in.substr(0, std::min(in.find('\0'), in.size()));
    zelkor::Text out;
    for (size_t i = 0; i < in.size();) {
        bool valid;
        size_t n = sequence(in, i, valid);
        out += valid ? zelkor::utf8_to_gbk(in.substr(i, n)) : "?";
        i += n;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zelkor;
    std::string_view input(reinterpret_cast<const char*>(data), size);

    // As UTF-8: a Text comes out, never longer than the input before its first NUL.
    Text gbk = utf8_to_gbk(input);
    check(gbk.find('\0') == Text::npos, "utf8_to_gbk output holds a NUL");
    check(gbk.size() <= bytes_to_text(input).size(), "utf8_to_gbk output longer than its input");
    check(gbk == reference(input), "utf8_to_gbk differs from the character-by-character conversion");

    // What utf8_to_gbk produced is valid GBK: it survives UTF-8 and UTF-16 unchanged.
    check(utf8_to_gbk(gbk_to_utf8(gbk)) == gbk, "GBK -> UTF-8 -> GBK changed the text");
    check(utf16_to_gbk(gbk_to_utf16(gbk)) == gbk, "GBK -> UTF-16 -> GBK changed the text");
    check(gbk_to_utf16(gbk, false).size() % 2 == 0, "odd UTF-16 length");

    // As GBK: where nothing was replaced, decoding and encoding again gives the same bytes.
    Text text = bytes_to_text(input);
    Bytes utf8 = gbk_to_utf8(text);
    if (text.find('?') == Text::npos && utf8.find('?') == Bytes::npos) {
        check(utf8_to_gbk(utf8) == text, "valid GBK did not survive UTF-8");
    }

    // As UTF-16 and as a declared charset (stateful ones included): no NUL in the result, no crash.
    check(utf16_to_gbk(input).find('\0') == Text::npos, "utf16_to_gbk output holds a NUL");
    static const char* const charsets[] = {"big5",  "shift_jis",   "gb18030", "utf-16", "UTF-7",
                                           "utf-8", "ISO-2022-JP", "gbk",     "euc-kr", "x-no-such"};
    const char* charset = charsets[size ? data[0] % std::size(charsets) : 0];
    auto decoded = decode_to_gbk(input, charset);
    check(decoded.has_value() == (std::string_view(charset) != "x-no-such"), "charset known or not");
    if (decoded) check(decoded->find('\0') == Text::npos, "decode_to_gbk output holds a NUL");
    return 0;
}
