#pragma once
// A few pieces every picture is made of. The pictures are plain SVG Tiny 1.2: presentation
// attributes, no style sheets, no script, so the same bytes show inline in the HTML report and
// in Qt's SVG module. Numbers are written without the locale (a window's locale may use commas).

#include <string>
#include <string_view>

namespace zelkor::svg {

// The system's CJK fonts first: a Chinese label must never fall back to boxes.
inline constexpr std::string_view kFontFamily =
    "Noto Sans CJK SC, Source Han Sans SC, WenQuanYi Micro Hei, Microsoft YaHei, sans-serif";

// Text for an XML (or HTML) text node or attribute: & < > " ' escaped; a byte that does not begin
// valid UTF-8, and a control character XML may not hold, becomes U+FFFD.
std::string escape(std::string_view utf8);
void appendEscaped(std::string& out, std::string_view utf8);

// A coordinate or a length, at most two decimals.
std::string num(double value);

// Roughly how wide `utf8` is in a font of `size` px: a CJK character an em, others less. Errs wide.
double textWidth(std::string_view utf8, double size);
// `utf8` cut at a character so that it, with "…" when cut, is no wider than `width`.
std::string fitText(std::string_view utf8, double size, double width);

// <svg …> with its size and view box, and a <title>; close with "</svg>".
std::string open(double width, double height, std::string_view id, std::string_view title);

} // namespace zelkor::svg
