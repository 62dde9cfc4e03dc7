#include "sources/routines.h"

#include "text/regex.h"

namespace zelkor {

Text percent_encode_utf8(const Text& keyword) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const Bytes utf8 = gbk_to_utf8(keyword);
    Text encoded;
    encoded.reserve(utf8.size() * 3);
    for (unsigned char byte : utf8) {
        encoded += '%';
        encoded += kHex[byte >> 4];
        encoded += kHex[byte & 0x0F];
    }
    return encoded;
}

std::vector<Text> text_between_all(const Text& text, const Text& start, const Text& end) {
    std::vector<Text> items;
    if (start.empty() || end.empty()) return items;
    int pos = 1;
    for (;;) {
        const int p1 = text_find(text, start, pos);
        if (p1 < 0) break;
        pos = p1 + static_cast<int>(start.size());
        const int p2 = text_find(text, end, pos);
        if (p2 < 0) break;
        items.push_back(text_mid(text, pos, p2 - pos));
    }
    return items;
}

Text strip_html(const Text& phrase) {
    static const Text kPattern = "<script[\\s\\S]*?</script>|<style[\\s\\S]*?</style>|<[^>]+>|&.{1,8};";
    RegexObject regex;
    if (!regex.create(kPattern, phrase)) return phrase;
    return regex.replace("");
}

Text epoch_millis_text_at(const std::tm& localTime) {
    std::tm wall = localTime;
    // The wall-clock fields read as if they were UTC give seconds since 1970-01-01 00:00:00 wall time.
    const long long wallSeconds = static_cast<long long>(timegm(&wall));
    long long seconds = wallSeconds - 8 * 3600;
    if (seconds < 0) seconds = 0;
    return std::to_string(seconds) + "000";
}

Text epoch_millis_text() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return epoch_millis_text_at(local);
}

} // namespace zelkor
