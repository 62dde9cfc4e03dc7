#include "app/row_words.h"

#include "analysis/result_words.h"
#include "app/qt_text.h"

#include <unordered_map>

namespace zelkor::app {

Expected<RowWords> RowWords::analyse(const std::vector<ResultRecord>& records,
                                     const std::filesystem::path& home) {
    Expected<IntentTags> tags = loadIntentTags(home);
    if (!tags) return tags.error();
    Expected<KeywordWords> words = analyseResults(records, *tags);
    if (!words) return words.error();

    RowWords made;
    made.m_values.push_back({});
    made.m_root.reserve(words->size());
    made.m_tags.reserve(words->size());
    std::unordered_map<std::string, std::uint32_t> ids{{std::string(), 0}};
    auto idOf = [&](std::string utf8) {
        const auto [at, added] = ids.try_emplace(utf8, static_cast<std::uint32_t>(made.m_values.size()));
        if (added) {
            Text gbk = utf8_to_gbk(utf8);
            QString shown = QString::fromStdString(utf8);
            made.m_values.push_back({std::move(utf8), std::move(gbk), std::move(shown)});
        }
        return at->second;
    };
    for (std::size_t i = 0; i < words->size(); ++i) {
        made.m_root.push_back(idOf(std::string(words->root(i))));
        made.m_tags.push_back(words->hasTags(i) ? idOf(joinTags(words->tags(i))) : 0);
    }
    made.m_byRoot = groupKeywords(*words, GroupBy::Root);
    made.m_byTag = groupKeywords(*words, GroupBy::Tag);
    return made;
}

} // namespace zelkor::app
