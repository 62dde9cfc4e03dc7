#include "analysis/result_words.h"

#include "text/text.h"

namespace zelkor {

std::filesystem::path intentTagsFile(const std::filesystem::path& home) {
    return home / "data" / "intent.toml";
}

Expected<IntentTags> loadIntentTags(const std::filesystem::path& home) {
    IntentTags tags = IntentTags::builtIn();
    const std::filesystem::path file = intentTagsFile(home);
    std::error_code error;
    if (!std::filesystem::exists(file, error)) return tags;
    Expected<Done> extended = tags.extendFrom(file);
    if (!extended) return extended.error();
    return tags;
}

Expected<KeywordWords> analyseResults(const std::vector<ResultRecord>& records, const IntentTags& tags) {
    Expected<Segmenter> segmenter = Segmenter::open(tags.allWords());
    if (!segmenter) return segmenter.error();
    // The views need their UTF-8 text kept for the call: one buffer, so a large run is not a
    // million small strings.
    std::string text;
    std::vector<std::pair<std::size_t, std::size_t>> spans; // phrase end, seed end
    for (const ResultRecord& r : records) {
        text += gbk_to_utf8(r.keyword);
        const std::size_t phraseEnd = text.size();
        text += gbk_to_utf8(r.mainWord);
        spans.emplace_back(phraseEnd, text.size());
    }
    std::vector<PhraseOfSeed> phrases;
    phrases.reserve(records.size());
    const std::string_view all(text);
    std::size_t from = 0;
    for (const auto& [phraseEnd, seedEnd] : spans) {
        phrases.push_back({all.substr(from, phraseEnd - from), all.substr(phraseEnd, seedEnd - phraseEnd)});
        from = seedEnd;
    }
    return analyseKeywords(*segmenter, tags, phrases);
}

ExtraColumns wordColumns(const KeywordWords& words) {
    ExtraColumn root{"root", {}, false}, tags{"tags", {}, false};
    root.cells.reserve(words.size());
    tags.cells.reserve(words.size());
    for (std::size_t i = 0; i < words.size(); ++i) {
        root.cells.emplace_back(words.root(i));
        tags.cells.push_back(joinTags(words.tags(i)));
    }
    return {std::move(root), std::move(tags)};
}

} // namespace zelkor
