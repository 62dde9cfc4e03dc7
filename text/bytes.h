#pragma once
// Byte-level helpers for text that may not be GBK yet.

#include "text/text.h"

#include <string_view>

namespace zelkor {

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF, nothing cut off.
bool validUtf8(std::string_view bytes);

// Every occurrence of `find` (non-empty) replaced by `with`, searched byte by byte from the left.
// On GBK text this is only safe for a `find` whose first byte is below 0x40, which is never the
// trail byte of a double-byte character.
Text replaceAll(std::string_view text, std::string_view find, std::string_view with);

} // namespace zelkor
