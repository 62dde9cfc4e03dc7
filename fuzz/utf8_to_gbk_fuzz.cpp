// Feeds arbitrary bytes to the encoding conversions and checks what must hold for any input.
#include "text/text.h"

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zelkor;
    std::string_view input(reinterpret_cast<const char*>(data), size);

    // As UTF-8: a Text comes out, never longer than the input before its first NUL.
    Text gbk = utf8_to_gbk(input);
    check(gbk.find('\0') == Text::npos, "utf8_to_gbk output holds a NUL");
    check(gbk.size() <= bytes_to_text(input).size(), "utf8_to_gbk output longer than its input");

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
