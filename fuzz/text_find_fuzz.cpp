// Differential check of the fast searches against a plain character-by-character scan.
#include "text/text.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "mismatch: %s\n", what);
        std::abort();
    }
}

unsigned char at(std::string_view s, size_t i) {
    return static_cast<unsigned char>(s[i]);
}
size_t step(std::string_view s, size_t i) {
    return at(s, i) >= 0x80 ? 2 : 1;
}
unsigned char lower(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? c + 32 : c;
}

bool matchAt(std::string_view text, std::string_view sought, size_t i, bool ignoreCase) {
    if (i + sought.size() > text.size()) return false;
    for (size_t j = 0; j < sought.size(); ++j) {
        unsigned char t = at(text, i + j), s = at(sought, j);
        if (t >= 0x80 || !ignoreCase) {
            if (t != s) return false;
            if (t >= 0x80 && ++j < sought.size() && at(text, i + j) != at(sought, j)) return false;
        } else if (lower(t) != lower(s)) {
            return false;
        }
    }
    return true;
}

int naiveFind(std::string_view text, std::string_view sought, int start, bool ignoreCase) {
    if (start < 1) start = 1;
    if (static_cast<size_t>(start) > text.size()) return -1;
    if (sought.empty()) return 1;
    size_t i = 0;
    while (i < static_cast<size_t>(start) - 1)
        i += step(text, i);
    for (; i < text.size(); i += step(text, i))
        if (matchAt(text, sought, i, ignoreCase)) return static_cast<int>(i) + 1;
    return -1;
}

int naiveFindLast(std::string_view text, std::string_view sought, int start, bool ignoreCase) {
    if (sought.empty() || text.empty() || start < 1) return -1;
    std::string_view region = text.substr(0, static_cast<size_t>(start) - 1);
    int last = -1;
    for (size_t i = 0; i < region.size(); i += step(region, i))
        if (matchAt(region, sought, i, ignoreCase)) last = static_cast<int>(i) + 1;
    return last;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zelkor;
    if (size < 3) return 0;
    bool ignoreCase = data[0] & 1;
    int start = static_cast<int>(data[1]) - 8;
    size_t soughtLen = std::min<size_t>(data[2] % 8, size - 3);
    std::string_view sought(reinterpret_cast<const char*>(data + 3), soughtLen);
    Text text = bytes_to_text(
        std::string_view(reinterpret_cast<const char*>(data + 3 + soughtLen), size - 3 - soughtLen));
    if (sought.find('\0') != std::string_view::npos) return 0;

    check(text_find(text, sought, start, ignoreCase) == naiveFind(text, sought, start, ignoreCase),
          "text_find");
    check(text_find_last(text, sought, start, ignoreCase) == naiveFindLast(text, sought, start, ignoreCase),
          "text_find_last with start");
    check(text_find_last(text, sought, std::nullopt, ignoreCase) ==
              naiveFindLast(text, sought, static_cast<int>(text.size()) + 1, ignoreCase),
          "text_find_last");

    // Splitting and joining again gives the text back, up to a dropped empty last piece.
    if (!sought.empty()) {
        Text joined;
        for (const Text& piece : text_split(text, sought))
            joined += piece + std::string(sought);
        check(joined == text || joined == text + std::string(sought), "text_split");
    }
    Text trimmed = text_trim(text);
    check(text_find(text, trimmed) != -1 || trimmed.empty(), "text_trim");
    return 0;
}
