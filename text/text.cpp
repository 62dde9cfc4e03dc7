#include "text/text.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <unordered_set>

namespace zelkor {

namespace {

constexpr size_t npos = std::string_view::npos;

inline unsigned char byteAt(std::string_view s, size_t i) {
    return static_cast<unsigned char>(s[i]);
}
inline bool isLead(unsigned char c) {
    return c >= 0x80;
}
inline unsigned char foldLower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
}
inline bool isAsciiLetter(unsigned char c) {
    return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}

int clampToInt(size_t n) {
    return n > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
}

// Compares sought against the bytes at text, folding ASCII letters that stand as characters of their
// own; both sides start on a character boundary, so their double-byte structure runs in step.
bool foldedEqual(const unsigned char* text, const unsigned char* sought, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        unsigned char s = sought[i];
        if (isLead(s)) {
            if (text[i] != s) return false;
            if (++i < n && text[i] != sought[i]) return false;
        } else if (foldLower(text[i]) != foldLower(s)) {
            return false;
        }
    }
    return true;
}

// Finds occurrences of a sought text that begin on a character boundary. Candidates come from
// memchr/memmem; a candidate is a boundary when the run of bytes >= 0x80 just before it, counted back
// to the nearest byte below 0x80 or to a known boundary, has even length: such a byte either stands
// alone or ends a double-byte character. Known boundaries only move forward, so the back-scans of
// successive candidates never overlap and a whole scan stays linear.
class Finder {
  public:
    Finder(std::string_view text, std::string_view sought, bool ignoreCase)
        : m_data(reinterpret_cast<const unsigned char*>(text.data())), m_size(text.size()),
          m_sought(reinterpret_cast<const unsigned char*>(sought.data())), m_len(sought.size()) {
        if (ignoreCase) {
            bool trail = false;
            for (size_t i = 0; i < m_len; ++i) {
                if (!trail && isAsciiLetter(m_sought[i])) m_fold = true;
                trail = !trail && isLead(m_sought[i]);
            }
        }
        if (m_fold && m_len > 0 && isAsciiLetter(m_sought[0])) {
            m_anchorLo = foldLower(m_sought[0]);
            m_anchorHi = static_cast<unsigned char>(m_anchorLo - ('a' - 'A'));
        }
    }

    // First match at or after `from`, which the scan takes as a character boundary. npos if none.
    size_t next(size_t from) {
        m_known = from;
        while (from < m_size && m_size - from >= m_len) {
            size_t c = candidate(from);
            if (c == npos) return npos;
            if (isBoundary(c)) {
                m_known = c;
                if (!m_fold || foldedEqual(m_data + c, m_sought, m_len)) return c;
                from = c + (isLead(m_data[c]) ? 2 : 1);
            } else {
                from = c + 1; // c is a trail byte, so the next byte starts a character
            }
            m_known = from;
        }
        return npos;
    }

  private:
    size_t candidate(size_t from) {
        const unsigned char* base = m_data + from;
        size_t avail = m_size - from;
        if (!m_fold) {
            const void* hit =
                m_len == 1 ? std::memchr(base, m_sought[0], avail) : memmem(base, avail, m_sought, m_len);
            return hit ? static_cast<size_t>(static_cast<const unsigned char*>(hit) - m_data) : npos;
        }
        size_t last = m_size - m_len; // latest start that still fits
        if (m_anchorLo) {
            if (from < m_cacheFrom) m_nextLo = m_nextHi = kUnknown;
            m_cacheFrom = from;
            // Each case of the first letter is searched on its own and its next position remembered, so
            // a letter that is frequent in one case and rare in the other is not rescanned per candidate.
            m_nextLo = nextOf(m_anchorLo, from, last, m_nextLo);
            m_nextHi = nextOf(m_anchorHi, from, last, m_nextHi);
            return std::min(m_nextLo, m_nextHi);
        }
        const void* hit = std::memchr(base, m_sought[0], last - from + 1);
        return hit ? static_cast<size_t>(static_cast<const unsigned char*>(hit) - m_data) : npos;
    }

    // Position of byte c in [from, last], reusing `cached` when it is still ahead of from.
    size_t nextOf(unsigned char c, size_t from, size_t last, size_t cached) const {
        if (cached != kUnknown && (cached == npos || cached >= from)) return cached;
        const void* hit = std::memchr(m_data + from, c, last - from + 1);
        return hit ? static_cast<size_t>(static_cast<const unsigned char*>(hit) - m_data) : npos;
    }

    bool isBoundary(size_t c) const {
        size_t j = c;
        while (j > m_known && isLead(m_data[j - 1]))
            --j;
        return ((c - j) & 1) == 0;
    }

    const unsigned char* m_data;
    size_t m_size;
    const unsigned char* m_sought;
    size_t m_len;
    bool m_fold = false;
    unsigned char m_anchorLo = 0;
    unsigned char m_anchorHi = 0;
    size_t m_known = 0;
    static constexpr size_t kUnknown = npos - 1;
    size_t m_nextLo = kUnknown;
    size_t m_nextHi = kUnknown;
    size_t m_cacheFrom = 0;
};

// The first character boundary at or after index i, counting characters from the start of the text.
size_t alignToBoundary(std::string_view text, size_t i) {
    size_t j = i;
    while (j > 0 && isLead(byteAt(text, j - 1)))
        --j;
    return ((i - j) & 1) ? i + 1 : i;
}

Text mapAsciiLetters(std::string_view text, bool upper) {
    Text out(text);
    for (size_t i = 0; i < out.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        if (isLead(c)) {
            ++i; // the trail byte belongs to the character and is never changed
        } else if (upper ? (c >= 'a' && c <= 'z') : (c >= 'A' && c <= 'Z')) {
            out[i] = static_cast<char>(c ^ 0x20);
        }
    }
    return out;
}

std::string_view quotePlaceholder() {
    static const Text placeholder = utf8_to_gbk("#引号");
    return placeholder;
}

Text expandQuotes(std::string_view marker) {
    if (marker.find('#') == npos) return Text(marker);
    return text_replace(marker, quotePlaceholder(), "\"", 1, -1, true);
}

} // namespace

Text bytes_to_text(std::string_view bytes) {
    const void* nul = std::memchr(bytes.data(), 0, bytes.size());
    return Text(bytes.substr(0, nul ? static_cast<const char*>(nul) - bytes.data() : bytes.size()));
}

int text_length(std::string_view text) {
    return clampToInt(text.size());
}

Text text_left(std::string_view text, int n) {
    if (n <= 0) return {};
    return Text(text.substr(0, static_cast<size_t>(n)));
}

Text text_right(std::string_view text, int n) {
    if (n <= 0) return {};
    size_t k = std::min(text.size(), static_cast<size_t>(n));
    return Text(text.substr(text.size() - k));
}

Text text_mid(std::string_view text, int start, int n) {
    if (start < 1 || static_cast<size_t>(start) > text.size() || n <= 0) return {};
    return Text(text.substr(static_cast<size_t>(start) - 1, static_cast<size_t>(n)));
}

int text_find(std::string_view text, std::string_view sought, int start, bool ignore_case) {
    if (start < 1) start = 1;
    if (static_cast<size_t>(start) > text.size()) return -1;
    if (sought.empty()) return 1;
    Finder finder(text, sought, ignore_case);
    size_t hit = finder.next(alignToBoundary(text, static_cast<size_t>(start) - 1));
    return hit == npos ? -1 : clampToInt(hit + 1);
}

int text_find_last(std::string_view text, std::string_view sought, std::optional<int> start,
                   bool ignore_case) {
    if (sought.empty() || text.empty()) return -1;
    size_t limit = text.size();
    if (start) {
        if (*start < 1) return -1;
        limit = std::min(limit, static_cast<size_t>(*start) - 1);
    }
    std::string_view region = text.substr(0, limit);
    Finder finder(region, sought, ignore_case);
    size_t last = npos;
    for (size_t hit = finder.next(0); hit != npos;
         hit = finder.next(hit + (isLead(byteAt(region, hit)) ? 2 : 1))) {
        last = hit;
    }
    return last == npos ? -1 : clampToInt(last + 1);
}

int text_compare(std::string_view a, std::string_view b, bool case_sensitive) {
    size_t n = std::min(a.size(), b.size());
    bool trail = false;
    for (size_t i = 0; i < n; ++i) {
        unsigned char ca = byteAt(a, i);
        unsigned char cb = byteAt(b, i);
        if (!trail && !case_sensitive) {
            ca = foldLower(ca);
            cb = foldLower(cb);
        }
        if (ca != cb) return ca < cb ? -1 : 1;
        trail = !trail && isLead(byteAt(a, i));
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool text_starts_with(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && std::memcmp(text.data(), prefix.data(), prefix.size()) == 0;
}

Text text_replace(std::string_view text, std::string_view find, std::string_view replacement, int start,
                  int count, bool case_sensitive) {
    if (text.empty() || find.empty()) return Text(text);
    if (start < 1) start = 1;
    if (static_cast<size_t>(start) > text.size() || count == 0) return Text(text);
    Finder finder(text, find, !case_sensitive);
    Text out;
    size_t pos = static_cast<size_t>(start) - 1;
    size_t hit = finder.next(alignToBoundary(text, pos));
    if (hit == npos) return Text(text);
    out.reserve(text.size());
    out.append(text.substr(0, pos));
    for (int made = 0; hit != npos;) {
        out.append(text.substr(pos, hit - pos));
        out.append(replacement);
        pos = hit + find.size();
        if (count > 0 && ++made == count) break;
        hit = finder.next(pos);
    }
    out.append(text.substr(pos));
    return out;
}

std::vector<Text> text_split(std::string_view text, std::string_view delimiter, int max) {
    std::vector<Text> pieces;
    if (text.empty() || max == 0) return pieces;
    if (delimiter.empty()) {
        pieces.emplace_back(text);
        return pieces;
    }
    Finder finder(text, delimiter, false);
    size_t pos = 0;
    while (max < 0 || pieces.size() < static_cast<size_t>(max)) {
        size_t hit = finder.next(pos);
        if (hit == npos) {
            if (pos < text.size()) pieces.emplace_back(text.substr(pos));
            break;
        }
        pieces.emplace_back(text.substr(pos, hit - pos));
        pos = hit + delimiter.size();
    }
    return pieces;
}

Text text_trim(std::string_view text) {
    auto spaceAt = [&](size_t i) -> size_t { // length of the space starting at i, else 0
        if (byteAt(text, i) == 0x20) return 1;
        if (byteAt(text, i) == 0xA1 && i + 1 < text.size() && byteAt(text, i + 1) == 0xA1) return 2;
        return 0;
    };
    size_t begin = 0;
    while (begin < text.size()) {
        size_t n = spaceAt(begin);
        if (n == 0) break;
        begin += n;
    }
    // Trailing spaces are found walking forward, so a trail byte 0x20 or 0xA1 is never taken for one.
    size_t end = begin;
    for (size_t i = begin; i < text.size();) {
        size_t n = spaceAt(i);
        if (n == 0) {
            n = isLead(byteAt(text, i)) ? 2 : 1;
            end = std::min(i + n, text.size());
        }
        i += n;
    }
    return Text(text.substr(begin, end - begin));
}

Text text_upper(std::string_view text) {
    return mapAsciiLetters(text, true);
}

Text text_lower(std::string_view text) {
    return mapAsciiLetters(text, false);
}

Text text_between(std::string_view text, std::string_view start_marker, std::string_view end_marker, int from,
                  bool ignore_case) {
    Text startMarker = expandQuotes(start_marker);
    Text endMarker = expandQuotes(end_marker);
    int p1 = text_find(text, startMarker, from, ignore_case);
    if (p1 == -1) return {};
    int p = p1 + text_length(startMarker);
    int p2 = text_find(text, endMarker, p, ignore_case);
    if (p2 == -1) return {};
    return text_mid(text, p, p2 - p);
}

Text text_left_of(std::string_view text, std::string_view delimiter) {
    int p = text_find(text, delimiter);
    if (p == -1) return {};
    return Text(text.substr(0, static_cast<size_t>(p) - 1));
}

Text text_right_of(std::string_view text, std::string_view delimiter) {
    int p = text_find_last(text, delimiter);
    if (p == -1) return {};
    return Text(text.substr(static_cast<size_t>(p) - 1 + delimiter.size()));
}

Text dedupe_items(std::string_view text, std::string_view delimiter) {
    std::vector<Text> pieces = text_split(text, delimiter);
    std::unordered_set<std::string_view> kept;
    Text out;
    out.reserve(text.size());
    for (const Text& piece : pieces) {
        if (!kept.insert(piece).second) continue;
        out.append(piece);
        out.append(delimiter);
    }
    if (!out.empty()) out.resize(out.size() - delimiter.size());
    return out;
}

} // namespace zelkor
