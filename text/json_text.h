#pragma once
// The text forms of JSON values, and the boundary between their UTF-8 and our GBK.

#include "text/text.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zelkor {

class JsonValue;

// UTF-8 text as a JSON string literal: quotes, backslashes and control characters escaped, as are
// the invisible and line-breaking characters script engines escape (in lower-case hex); other
// characters, Chinese among them, stay as they are. Bytes that are not UTF-8 pass through.
void appendJsonString(std::string& out, std::string_view utf8);
std::string jsonString(std::string_view utf8);

namespace json {

// A number as the script engines write it (1, 1.5, 1e+21, 1e-7, NaN, -Infinity).
std::string numberText(double d);
// The plain text of a value (see JsonValue::text) and its JSON text, both GBK.
// With `lost`, whether a character could not be held; the text then holds ASCII SUB for it.
Text plainText(const JsonValue& value, bool* lost = nullptr);
Text jsonText(const JsonValue& value);

// GBK in, UTF-8 inside; on the way out a lone surrogate or a character GBK cannot hold becomes
// `lost`, and U+2400 a backslash.
std::string toUtf8(std::string_view gbk);
Text toGbk(std::string_view utf8, char lost = '?');

void appendUtf8(std::string& out, std::uint32_t cp);
inline bool isIdentStart(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$' || c >= 0x80;
}
inline bool isIdentPart(unsigned char c) {
    return isIdentStart(c) || (c >= '0' && c <= '9');
}
inline int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace json
} // namespace zelkor
