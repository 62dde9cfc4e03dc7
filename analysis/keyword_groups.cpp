#include "analysis/keyword_groups.h"

#include <algorithm>
#include <map>

namespace zelkor {

std::vector<ResultGroup> groupKeywords(const KeywordWords& words, GroupBy by) {
    std::map<std::string, std::vector<std::size_t>> named;
    std::vector<std::size_t> rest;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (by == GroupBy::Root) {
            std::string_view root = words.root(i);
            if (root.empty())
                rest.push_back(i);
            else
                named[std::string(root)].push_back(i);
        } else {
            if (!words.hasTags(i)) rest.push_back(i);
            for (const std::string& tag : words.tags(i)) named[tag].push_back(i);
        }
    }
    std::vector<ResultGroup> groups;
    for (auto& [name, members] : named) groups.push_back({name, std::move(members)});
    std::stable_sort(groups.begin(), groups.end(), [](const ResultGroup& a, const ResultGroup& b) {
        return a.members.size() > b.members.size();
    });
    if (!rest.empty()) groups.push_back({by == GroupBy::Root ? kNoRootGroup : kNoTagGroup, std::move(rest)});
    return groups;
}

} // namespace zelkor
