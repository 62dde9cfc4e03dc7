#include "analysis/svg.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace zelkor::svg {

namespace {

// The code point at `at` and its length; length 0 when the bytes there are not UTF-8.
std::pair<char32_t, std::size_t> decode(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(at);
    if (first < 0x80) return {first, 1};
    const std::size_t length = first >= 0xC2 && first <= 0xDF ? 2 : first >= 0xE0 && first <= 0xEF ? 3
                               : first >= 0xF0 && first <= 0xF4                                   ? 4
                                                                                                  : 0;
    if (length == 0 || at + length > text.size()) return {0, 0};
    char32_t point = first & (0xFF >> (length + 1));
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(at + k) & 0xC0) != 0x80) return {0, 0};
        point = point << 6 | (byte(at + k) & 0x3F);
    }
    const bool overlong = (length == 3 && point < 0x800) || (length == 4 && point < 0x10000);
    if (overlong || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return {0, 0};
    return {point, length};
}

bool allowedInXml(char32_t point) {
    if (point < 0x20) return point == '\t' || point == '\n' || point == '\r';
    return point != 0xFFFE && point != 0xFFFF;
}

bool wide(char32_t point) {
    return (point >= 0x1100 && point <= 0x115F) || (point >= 0x2E80 && point <= 0xA4CF) ||
           (point >= 0xAC00 && point <= 0xD7A3) || (point >= 0xF900 && point <= 0xFAFF) ||
           (point >= 0xFE30 && point <= 0xFE4F) || (point >= 0xFF00 && point <= 0xFF60) ||
           (point >= 0xFFE0 && point <= 0xFFE6) || point >= 0x1F000;
}

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
constexpr std::string_view kEllipsis = "\xE2\x80\xA6";

} // namespace

void appendEscaped(std::string& out, std::string_view utf8) {
    for (std::size_t i = 0; i < utf8.size();) {
        const char c = utf8[i];
        switch (c) {
        case '&': out += "&amp;"; ++i; continue;
        case '<': out += "&lt;"; ++i; continue;
        case '>': out += "&gt;"; ++i; continue;
        case '"': out += "&quot;"; ++i; continue;
        case '\'': out += "&#39;"; ++i; continue;
        default: break;
        }
        const auto [point, length] = decode(utf8, i);
        if (length == 0 || !allowedInXml(point)) {
            out += kReplacement;
            i += length == 0 ? 1 : length;
            continue;
        }
        out.append(utf8.substr(i, length));
        i += length;
    }
}

std::string escape(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    appendEscaped(out, utf8);
    return out;
}

std::string num(double value) {
    if (!std::isfinite(value)) value = 0;
    const double rounded = std::round(value * 100) / 100;
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, rounded == 0 ? 0.0 : rounded,
                                      std::chars_format::fixed, std::fabs(rounded - std::round(rounded)) < 1e-9 ? 0 : 2);
    std::string text(buffer, result.ptr);
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0') text.pop_back();
        if (text.back() == '.') text.pop_back();
    }
    return text;
}

double textWidth(std::string_view utf8, double size) {
    double width = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto [point, length] = decode(utf8, i);
        width += length == 0 ? size : wide(point) ? size : point == ' ' ? size * 0.3 : size * 0.62;
        i += length == 0 ? 1 : length;
    }
    return width;
}

std::string fitText(std::string_view utf8, double size, double width) {
    if (textWidth(utf8, size) <= width) return std::string(utf8);
    const double room = width - textWidth(kEllipsis, size);
    double used = 0;
    std::size_t end = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto [point, length] = decode(utf8, i);
        const std::size_t step = length == 0 ? 1 : length;
        const double w = length == 0 ? size : wide(point) ? size : point == ' ' ? size * 0.3 : size * 0.62;
        if (used + w > room) break;
        used += w;
        i += step;
        end = i;
    }
    return std::string(utf8.substr(0, end)) + std::string(kEllipsis);
}

std::string open(double width, double height, std::string_view id, std::string_view title) {
    std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.2\" baseProfile=\"tiny\" id=\"";
    appendEscaped(out, id);
    out += "\" width=\"" + num(width) + "\" height=\"" + num(height) + "\" viewBox=\"0 0 " + num(width) + " " +
           num(height) + "\" font-family=\"" + std::string(kFontFamily) + "\" font-size=\"12\"><title>";
    appendEscaped(out, title);
    out += "</title>";
    return out;
}

} // namespace zelkor::svg
