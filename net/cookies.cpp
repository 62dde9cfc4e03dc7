#include "net/cookies.h"

#include <unordered_set>
#include <vector>

namespace zelkor {

namespace {

// A list ending in ";" gets its space, so the separator after its last item yields no empty item.
Text normalized(std::string_view list) {
    Text text = text_trim(list);
    if (!text.empty() && text.back() == ';') text.push_back(' ');
    return text;
}

Text itemName(std::string_view item) {
    size_t eq = item.find('=');
    return text_trim(eq == std::string_view::npos ? item : item.substr(0, eq));
}

bool isDeleted(std::string_view item) {
    constexpr std::string_view marker = "=deleted";
    return item.size() >= marker.size() && item.substr(item.size() - marker.size()) == marker;
}

} // namespace

Text merge_cookie_lists(std::string_view sent, std::string_view received) {
    std::vector<Text> sentItems = text_split(normalized(sent), "; ");
    std::vector<Text> merged = text_split(normalized(received), "; ");
    std::unordered_set<Text> names;
    for (const Text& item : merged)
        names.insert(itemName(item));
    // A sent item joins the list only under a name not seen yet, so of several sent items with one
    // name the first wins.
    for (Text& item : sentItems) {
        if (names.insert(itemName(item)).second) merged.push_back(std::move(item));
    }
    Text result;
    for (const Text& item : merged) {
        if (isDeleted(item)) continue;
        result.append(item);
        result.append("; ");
    }
    if (!result.empty()) result.resize(result.size() - 2);
    return dedupe_items(result, "; ");
}

} // namespace zelkor
