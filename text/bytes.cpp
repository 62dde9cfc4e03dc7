#include "text/bytes.h"

#include <cstdint>

namespace zelkor {

bool validUtf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t length;
        std::uint32_t least;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2, least = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3, least = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4, least = 0x10000;
        } else {
            return false;
        }
        if (i + length > bytes.size()) return false;
        std::uint32_t cp = c & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto t = static_cast<unsigned char>(bytes[i + k]);
            if ((t & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (t & 0x3F);
        }
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

Text replaceAll(std::string_view text, std::string_view find, std::string_view with) {
    Text out;
    out.reserve(text.size());
    std::size_t from = 0;
    for (std::size_t at; (at = text.find(find, from)) != std::string_view::npos; from = at + find.size()) {
        out.append(text.substr(from, at - from));
        out.append(with);
    }
    out.append(text.substr(from));
    return out;
}

} // namespace zelkor
