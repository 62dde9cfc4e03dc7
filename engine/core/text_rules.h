#pragma once
// The small text rules the engine applies to control values.

#include "text/text.h"

#include <optional>
#include <string_view>
#include <vector>

namespace zelkor {

// Split at CR LF, never inside a double-byte character: adjacent delimiters give an empty member,
// an empty tail is dropped, an empty text gives no member.
std::vector<Text> splitLines(std::string_view text);

// Full-width ASCII forms and the ideographic space read as their ASCII forms; then leading white
// space, an optional sign and decimal digits; anything else ends the number. No digits gives 0,
// and values beyond 32 bits are clamped.
int textToInt(std::string_view text);

// A box of the page 高级 holding a whole number from `low` to `high`: decimal digits only, blanks
// around them allowed; else nullopt (the box is named as a problem rather than read some other way).
std::optional<int> boxNumber(std::string_view text, int low, int high);

// True when `needle` occurs in `haystack` at a character boundary, bytes compared exactly. An empty
// needle is contained in every non-empty haystack.
bool containsText(std::string_view haystack, std::string_view needle);

// At most `bytes` bytes of `text`, dropping a double-byte character the cut would split.
Text gbkPrefix(std::string_view text, std::size_t bytes);

// GBK literal from UTF-8 source text.
Text gbk(std::string_view utf8);

} // namespace zelkor
