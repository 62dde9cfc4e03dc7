#pragma once
// GBK text primitives. Positions are 1-based byte indexes, -1 means not found, and every scan
// steps over a double-byte character whole, so no match ever starts on a trail byte.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelkor {

// GBK (code page 936) bytes without NUL. "No text" and "" are the same value.
using Text = std::string;
// A counted byte buffer; may hold NUL bytes.
using Bytes = std::string;

// Bytes up to the first NUL, or all of them.
Text bytes_to_text(std::string_view bytes);

int text_length(std::string_view text);
Text text_left(std::string_view text, int n);
Text text_right(std::string_view text, int n);
Text text_mid(std::string_view text, int start, int n);
int text_find(std::string_view text, std::string_view sought, int start = 1, bool ignore_case = false);
// With start given, only occurrences lying wholly before position start count.
int text_find_last(std::string_view text, std::string_view sought, std::optional<int> start = std::nullopt,
                   bool ignore_case = false);
int text_compare(std::string_view a, std::string_view b, bool case_sensitive);
bool text_starts_with(std::string_view text, std::string_view prefix);
// count < 0 replaces every match. Note the default: ASCII case is ignored.
Text text_replace(std::string_view text, std::string_view find, std::string_view replacement = {},
                  int start = 1, int count = -1, bool case_sensitive = false);
// max < 0 means no limit. An empty last piece is dropped; empty inner pieces stay.
std::vector<Text> text_split(std::string_view text, std::string_view delimiter, int max = -1);
// Removes leading and trailing runs of 0x20 and of the ideographic space 0xA1 0xA1 only.
Text text_trim(std::string_view text);
Text text_upper(std::string_view text);
Text text_lower(std::string_view text);
// "#引号" in either marker stands for a double quote.
Text text_between(std::string_view text, std::string_view start_marker, std::string_view end_marker,
                  int from = 1, bool ignore_case = false);
Text text_left_of(std::string_view text, std::string_view delimiter);
Text text_right_of(std::string_view text, std::string_view delimiter);
Text dedupe_items(std::string_view text, std::string_view delimiter);

// Encodings. UTF-16 is little-endian code units.
Bytes gbk_to_utf16(std::string_view text, bool keep_terminator = true);
Text utf16_to_gbk(std::string_view bytes);
Bytes gbk_to_utf8(std::string_view text);
// Characters GBK cannot hold and invalid UTF-8 sequences become "?"; ends at the first NUL.
Text utf8_to_gbk(std::string_view text);
// The same with `replacement` in place of "?" (an ASCII byte).
Text utf8_to_gbk(std::string_view text, char replacement);
// Decodes bytes declared to be in `charset` (any name a page may declare) and re-encodes them as
// GBK. An unknown charset name gives nullopt, and callers keep the raw bytes. A character GBK
// cannot hold becomes `lost` (an ASCII byte); undecodable input stays "?".
std::optional<Text> decode_to_gbk(std::string_view bytes, std::string_view charset, char lost = '?');

} // namespace zelkor
