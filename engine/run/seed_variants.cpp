#include "engine/run/seed_variants.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace zelkor {

namespace {

Text gbk(std::string_view utf8) {
    return utf8_to_gbk(utf8);
}

bool validUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + len > s.size()) return false;
        for (int k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += len;
    }
    return true;
}

std::vector<Text> framesOf(const Text& lines) {
    std::vector<Text> frames;
    std::size_t start = 0;
    while (start <= lines.size()) {
        std::size_t end = lines.find('\n', start);
        if (end == Text::npos) end = lines.size();
        Text line = lines.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) frames.push_back(std::move(line));
        start = end + 1;
    }
    return frames;
}

} // namespace

const SeedFrames& questionFrames() {
    // What people type before buying, choosing or learning: price, choice, place, use, cause.
    static const SeedFrames frames = [] {
        SeedFrames f;
        for (const char* frame : {"{}怎么样", "{}多少钱", "{}哪个好", "{}是什么", "{}哪里有", "{}怎么用",
                                  "{}有哪些", "怎么{}", "如何{}", "为什么{}", "哪个{}好", "什么{}好"})
            f.push_back(gbk(frame));
        return f;
    }();
    return frames;
}

std::optional<std::vector<std::string>> parseVariantList(std::string_view list, std::string* error) {
    std::vector<std::string> kinds;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t comma = list.find(',', start);
        if (comma == std::string_view::npos) comma = list.size();
        std::string item(list.substr(start, comma - start));
        item.erase(0, item.find_first_not_of(' '));
        item.erase(item.find_last_not_of(' ') + 1);
        if (item != "az" && item != "digits" && item != "questions" && item != "frames") {
            if (error) *error = "unknown variant \"" + item + "\" (use az, digits, questions or file:F)";
            return std::nullopt;
        }
        if (std::find(kinds.begin(), kinds.end(), item) == kinds.end()) kinds.push_back(item);
        start = comma + 1;
    }
    return kinds;
}

std::optional<Text> readFramesFile(const std::filesystem::path& file, std::string* error) {
    std::error_code ec;
    std::ifstream in(file, std::ios::binary);
    std::stringstream buffer;
    if (in) buffer << in.rdbuf();
    if (!in || in.bad() || std::filesystem::is_directory(file, ec)) {
        if (error) *error = "cannot read the frames file " + file.string();
        return std::nullopt;
    }
    std::string bytes = buffer.str();
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.erase(0, 3);
    const Text text = validUtf8(bytes) ? utf8_to_gbk(bytes) : bytes_to_text(bytes);
    Text joined;
    for (const Text& frame : framesOf(text))
        joined += (joined.empty() ? "" : "\r\n") + frame;
    return joined;
}

Text applyFrame(const Text& frame, const Text& seed) {
    const std::size_t at = frame.find("{}");
    if (at == Text::npos) return seed + frame;
    Text out;
    std::size_t from = 0;
    for (std::size_t hit = at; hit != Text::npos; hit = frame.find("{}", from)) {
        out.append(frame, from, hit - from).append(seed);
        from = hit + 2;
    }
    return out.append(frame, from);
}

std::vector<Text> seedVariants(const Text& seed, const std::vector<std::string>& kinds, const Text& frames) {
    std::vector<Text> variants;
    auto add = [&](Text variant) {
        if (variant != seed && std::find(variants.begin(), variants.end(), variant) == variants.end())
            variants.push_back(std::move(variant));
    };
    for (const std::string& kind : kinds) {
        if (kind == "az") {
            for (char c = 'a'; c <= 'z'; ++c)
                add(seed + c);
        } else if (kind == "digits") {
            for (char c = '0'; c <= '9'; ++c)
                add(seed + c);
        } else if (kind == "questions") {
            for (const Text& frame : questionFrames())
                add(applyFrame(frame, seed));
        } else if (kind == "frames") {
            for (const Text& frame : framesOf(frames))
                add(applyFrame(frame, seed));
        }
    }
    return variants;
}

} // namespace zelkor
