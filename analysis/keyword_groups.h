#pragma once
// Groups of a run's results by root word or by intent tag, for the groups export, the report and
// the analysis window. Plain values.

#include "analysis/root_words.h"
#include "engine/output/rich_export.h"

#include <vector>

namespace zelkor {

enum class GroupBy { Root, Tag };

inline constexpr const char* kNoRootGroup = "(无词根)";
inline constexpr const char* kNoTagGroup = "(无标签)";

// Largest group first (ties by name); the phrases with no root or no tag come last, under
// kNoRootGroup / kNoTagGroup. A phrase with several tags is in each of their groups. Members are
// indexes of the phrases given to analyseKeywords, in order.
std::vector<ResultGroup> groupKeywords(const KeywordWords& words, GroupBy by);

} // namespace zelkor
