#include "cli/first_word.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace zelkor::cli {

std::optional<int> firstWord(const CLI::App& app, int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") return std::nullopt;
        if (arg.size() < 2 || arg[0] != '-') return i;
        if (arg.find('=') != std::string::npos) continue;
        const CLI::Option* option = app.get_option_no_throw(arg);
        if (option && option->get_items_expected_max() > 0) ++i;
    }
    return std::nullopt;
}

namespace {

std::size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

} // namespace

std::optional<std::string> meantCommand(const std::string& word, const std::vector<std::string>& names) {
    if (word.empty() || word.size() > 16 ||
        !std::all_of(word.begin(), word.end(), [](unsigned char c) { return std::isalnum(c) || c == '-' || c == '_'; }))
        return std::nullopt;
    std::string lower = word;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    std::optional<std::string> best;
    std::size_t bestDistance = 3;
    for (const std::string& name : names)
        if (const std::size_t distance = editDistance(lower, name); distance < bestDistance) {
            best = name;
            bestDistance = distance;
        }
    return best;
}

} // namespace zelkor::cli
