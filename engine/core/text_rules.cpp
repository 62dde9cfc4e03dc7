#include "engine/core/text_rules.h"

#include <climits>
#include <cstring>

namespace zelkor {

namespace {

bool isLeadByte(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

// Length of the character starting at i: 2 for a complete double-byte character, else 1.
std::size_t charLength(std::string_view text, std::size_t i) {
    return isLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
}

} // namespace

std::vector<Text> splitLines(std::string_view text) {
    std::vector<Text> lines;
    std::size_t begin = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            lines.emplace_back(text.substr(begin, i - begin));
            i += 2;
            begin = i;
            continue;
        }
        i += charLength(text, i);
    }
    if (begin < text.size()) lines.emplace_back(text.substr(begin));
    return lines;
}

std::optional<int> boxNumber(std::string_view digits, int low, int high) {
    while (!digits.empty() && (digits.front() == ' ' || digits.front() == '\t'))
        digits.remove_prefix(1);
    while (!digits.empty() && (digits.back() == ' ' || digits.back() == '\t'))
        digits.remove_suffix(1);
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const int value = std::stoi(std::string(digits));
    return value >= low && value <= high ? std::optional<int>(value) : std::nullopt;
}

int textToInt(std::string_view text) {
    // Fold full-width forms (GBK row A3, FF01..FF5E; A3A4 and A3FE are other characters) and the
    // ideographic space A1A1.
    std::string folded;
    folded.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t len = charLength(text, i);
        if (len == 2) {
            const auto t = static_cast<unsigned char>(text[i + 1]);
            if (c == 0xA3 && t >= 0xA1 && t <= 0xFD && t != 0xA4)
                folded.push_back(static_cast<char>(t - 0x80));
            else if (c == 0xA1 && t == 0xA1)
                folded.push_back(' ');
            else
                folded.append(text.substr(i, 2));
        } else {
            folded.push_back(static_cast<char>(c));
        }
        i += len;
    }
    std::size_t i = 0;
    while (i < folded.size() && std::strchr(" \t\n\v\f\r", folded[i]) && folded[i] != '\0')
        ++i;
    bool negative = false;
    if (i < folded.size() && (folded[i] == '+' || folded[i] == '-')) {
        negative = folded[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < folded.size() && folded[i] >= '0' && folded[i] <= '9'; ++i) {
        value = value * 10 + (folded[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    return static_cast<int>(value);
}

bool containsText(std::string_view haystack, std::string_view needle) {
    if (haystack.empty()) return false;
    if (needle.empty()) return true;
    const char first = needle[0];
    for (std::size_t i = 0; i + needle.size() <= haystack.size(); i += charLength(haystack, i)) {
        if (haystack[i] == first && haystack.compare(i, needle.size(), needle) == 0) return true;
    }
    return false;
}

Text gbkPrefix(std::string_view text, std::size_t bytes) {
    if (text.size() <= bytes) return Text(text);
    std::size_t end = 0;
    while (end < bytes) {
        const std::size_t len = charLength(text, end);
        if (end + len > bytes) break;
        end += len;
    }
    return Text(text.substr(0, end));
}

Text gbk(std::string_view utf8) {
    return utf8_to_gbk(utf8);
}

} // namespace zelkor
