// Feeds arbitrary patterns and subjects to RegexObject and checks what must hold for any input.
// Input: one byte of flags, then the pattern up to the first NUL, then the subject.
#include "text/regex.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// Byte offsets where a GBK character starts: a lead byte takes a trail byte with it.
std::vector<bool> characterStarts(std::string_view text) {
    std::vector<bool> starts(text.size() + 1, false);
    for (std::size_t i = 0; i < text.size();) {
        starts[i] = true;
        auto b = static_cast<unsigned char>(text[i]);
        auto t = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        i += b >= 0x81 && b <= 0xFE && t >= 0x40 && t <= 0xFE && t != 0x7F ? 2 : 1;
    }
    starts[text.size()] = true;
    return starts;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zelkor;
    if (size == 0) return 0;
    const uint8_t flags = data[0];
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t split = rest.find('\0');
    const std::string_view pattern = rest.substr(0, split);
    const std::string_view subject =
        split == std::string_view::npos ? std::string_view() : rest.substr(split + 1);
    const bool caseSensitive = flags & 1, multiLine = flags & 2, global = flags & 4, placeholder = flags & 8;

    RegexObject re;
    if (!re.create(pattern, subject, caseSensitive, multiLine, global, placeholder)) {
        check(re.match_count() == 0 && re.group_count() == 0, "failed create left matches");
        check(re.match_text(1).empty() && re.replace("x").empty() && re.pattern().empty(),
              "failed create answers");
        return 0;
    }
    check(re.pattern().empty() == pattern.empty(), "pattern lost");

    const int count = re.match_count();
    check(count >= 0 && (global || count <= 1), "match count");
    check(count > 0 || re.group_count() == 0, "groups without a match");
    const std::vector<bool> starts = characterStarts(subject);
    std::size_t removed = 0;
    int previousStart = -1, previousEnd = 0;
    for (int i = 1; i <= count; ++i) {
        int position = -1;
        const Text text = re.match_text(i, &position);
        check(position >= 0 && position + text.size() <= subject.size(), "match outside the subject");
        check(subject.substr(static_cast<std::size_t>(position), text.size()) == text,
              "match text not at its position");
        check(starts[static_cast<std::size_t>(position)] && starts[position + text.size()],
              "match cuts a character");
        check(position >= previousEnd && position > previousStart, "matches overlap or repeat");
        previousStart = position;
        previousEnd = position + static_cast<int>(text.size());
        removed += text.size();
        for (int j = 1; j <= re.group_count(); ++j) {
            int groupPosition = -1;
            const Text group = re.group_text(i, j, &groupPosition);
            if (groupPosition < 0) {
                check(group.empty(), "unset group with text");
                continue;
            }
            check(groupPosition + group.size() <= subject.size() &&
                      subject.substr(static_cast<std::size_t>(groupPosition), group.size()) == group,
                  "group text not at its position");
            check(starts[static_cast<std::size_t>(groupPosition)] && starts[groupPosition + group.size()],
                  "group cuts a character");
        }
    }
    check(re.match_text(count + 1).empty() && re.group_text(1, re.group_count() + 1).empty(), "out of range");

    check(re.replace("").size() == subject.size() - removed, "deleting matches");
    check(re.replace("$&") == subject, "replacing matches by themselves");
    re.replace("$1$2$10$99$`$'$$$0$x$");

    const RegexObject copy = re.copy();
    check(copy.match_count() == count && copy.replace("$&") == subject, "copy differs");
    return 0;
}
