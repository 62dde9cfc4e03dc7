#include "cli/run_options.h"

#include "text/bytes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace zelkor::cli {

std::optional<std::vector<int>> parseSourceList(std::string_view list, int count) {
    std::vector<int> indexes;
    if (list == "all" || list == "domestic") {
        for (int i = 0; i < count; ++i)
            if (list == "all" || std::find(std::begin(kForeignSources), std::end(kForeignSources), i) ==
                                     std::end(kForeignSources))
                indexes.push_back(i);
        return indexes;
    }
    if (list.empty()) return std::nullopt;
    std::size_t from = 0;
    while (true) {
        const auto comma = list.find(',', from);
        std::string_view item = list.substr(from, comma == std::string_view::npos ? list.npos : comma - from);
        while (!item.empty() && item.front() == ' ')
            item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ')
            item.remove_suffix(1);
        if (item.empty() || item.size() > 3) return std::nullopt;
        int index = 0;
        for (const char c : item) {
            if (c < '0' || c > '9') return std::nullopt;
            index = index * 10 + (c - '0');
        }
        if (index >= count) return std::nullopt;
        indexes.push_back(index);
        if (comma == std::string_view::npos) break;
        from = comma + 1;
    }
    return indexes;
}

Text inputToGbk(std::string_view bytes) {
    if (validUtf8(bytes)) return utf8_to_gbk(bytes);
    return bytes_to_text(bytes);
}

bool losesCharacters(std::string_view bytes) {
    return validUtf8(bytes) && gbk_to_utf8(utf8_to_gbk(bytes)) != bytes;
}

Text withoutLossyLines(std::string_view bytes, std::vector<std::string>* dropped) {
    Text kept;
    bool first = true;
    for (std::size_t from = 0; from <= bytes.size();) {
        const std::size_t end = std::min(bytes.find("\r\n", from), bytes.size());
        const std::string_view line = bytes.substr(from, end - from);
        if (losesCharacters(line)) {
            if (dropped) dropped->emplace_back(line);
        } else {
            kept += (first ? "" : "\r\n") + inputToGbk(line);
            first = false;
        }
        if (end == bytes.size()) break;
        from = end + 2;
    }
    return kept;
}

std::optional<Text> readLinesFile(const std::filesystem::path& file, std::string* error,
                                  std::vector<std::string>* lossy) {
    // read(2) itself, so that a directory or a failing read is an error, not an empty file.
    std::string bytes;
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    bool ok = fd >= 0;
    while (ok) {
        char buffer[1 << 16];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
        if (bytes.size() > kMaxLinesFileBytes) break;
    }
    if (!ok) {
        *error = "cannot read " + file.string() + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return std::nullopt;
    }
    if (bytes.size() > kMaxLinesFileBytes) {
        ::close(fd);
        *error = "cannot read " + file.string() + ": longer than " + std::to_string(kMaxLinesFileBytes >> 20) +
                 " MiB";
        return std::nullopt;
    }
    ::close(fd);
    // A NUL ends a line list for anything that reads it as C text, and the rest would be lost
    // without a word; such a file is not a list.
    if (const auto nul = bytes.find('\0'); nul != std::string::npos) {
        const auto line = 1 + std::count(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(nul), '\n');
        *error = file.string() + ":" + std::to_string(line) + ": holds a NUL byte; a list file is text, one entry a line";
        return std::nullopt;
    }
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
    std::string joined;
    std::size_t from = 0;
    while (from < bytes.size()) {
        auto end = bytes.find('\n', from);
        const bool last = end == std::string::npos;
        if (last) end = bytes.size();
        std::string_view line(bytes.data() + from, end - from);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (from > 0) joined += "\r\n";
        joined += line;
        from = end + 1;
    }
    if (lossy && validUtf8(joined)) return withoutLossyLines(joined, lossy);
    return inputToGbk(joined);
}

bool ensureOutputDirectory(const std::filesystem::path& directory, std::string* error) {
    const std::filesystem::path path = directory.empty() ? std::filesystem::path(".") : directory;
    std::error_code fsError;
    std::filesystem::create_directories(path, fsError);
    if (fsError) {
        *error = fsError.message();
        return false;
    }
    if (!std::filesystem::is_directory(path, fsError)) {
        *error = "not a directory";
        return false;
    }
    if (::access(path.c_str(), W_OK | X_OK) != 0) {
        *error = std::strerror(errno);
        return false;
    }
    return true;
}

std::string panelToTerminal(const Text& text) {
    std::string utf8 = gbk_to_utf8(text);
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if (utf8[i] == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n') continue;
        out += utf8[i];
    }
    return out;
}

} // namespace zelkor::cli
