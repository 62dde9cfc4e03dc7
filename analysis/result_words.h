#pragma once
// Root words and intent tags of a run's results (GBK records), for the exports, the groups and the
// report. The intent families are the built-in ones, extended by <home>/data/intent.toml when the
// user keeps one there. Any thread; segmentation loads its dictionary on first use.

#include "analysis/keyword_groups.h"
#include "analysis/root_words.h"
#include "engine/core/expected.h"
#include "engine/core/records.h"
#include "engine/output/rich_export.h"

#include <filesystem>
#include <vector>

namespace zelkor {

// <home>/data/intent.toml, beside the sources file.
std::filesystem::path intentTagsFile(const std::filesystem::path& home);

// The built-in families with the user's file added, when there is one.
Expected<IntentTags> loadIntentTags(const std::filesystem::path& home);

// The words of each record's phrase beyond its seed (the record's main word).
Expected<KeywordWords> analyseResults(const std::vector<ResultRecord>& records, const IntentTags& tags);

// The columns `root` and `tags` ("疑问;价格") of the records analysed.
ExtraColumns wordColumns(const KeywordWords& words);

} // namespace zelkor
