#pragma once
// Root words (词根) of a run's results: each phrase cut into words with its seed's own words set
// aside, the remaining words counted over the run, and each phrase placed under its most frequent
// one; with the intent tags of each phrase. Plain values; computed once the results are known.

#include "analysis/intent_tags.h"
#include "analysis/segmenter.h"

#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace zelkor::analysis {

struct PhraseOfSeed {
    std::string phrase; // UTF-8
    std::string seed;   // UTF-8; the seed it was found from
};

struct RootCount {
    std::string word;
    std::size_t phrases = 0; // how many phrases hold it
};

struct KeywordWords {
    std::vector<std::string> roots;             // per phrase: its root, "" when it has none
    std::vector<std::vector<std::string>> tags; // per phrase: its intent families
    std::vector<RootCount> rootCounts;          // every root word, most frequent first
};

// The words of `phrase` that are not its seed's: the seed's text is cut out wherever it occurs
// whole (so a seed the segmenter would split across words still goes), then the rest is cut into
// words and the seed's own words and bare particles (的, 了, 呢 …) are dropped.
std::vector<std::string> wordsBeyondSeed(Segmenter& segmenter, std::string_view phrase, std::string_view seed);

KeywordWords analyseKeywords(Segmenter& segmenter, const IntentTags& tags, std::span<const PhraseOfSeed> phrases);

} // namespace zelkor::analysis
