#pragma once
// Root words (词根) of a run's results: each phrase cut into words with its seed's own words set
// aside, the remaining words counted over the run, and each phrase placed under its most frequent
// one; with the intent tags of each phrase. Plain values; computed once the results are known.

#include "analysis/intent_tags.h"
#include "analysis/segmenter.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zelkor {

// Views into text the caller keeps for the call.
struct PhraseOfSeed {
    std::string_view phrase; // UTF-8
    std::string_view seed;   // UTF-8; the seed it was found from
};

struct RootCount {
    std::string word;
    std::size_t phrases = 0; // how many phrases hold it
};

// Kept compact, since a run may have millions of results: a phrase's root is an index into the
// run's root words, its tags a bit per family.
class KeywordWords {
  public:
    static constexpr std::uint32_t kNoRoot = 0xFFFFFFFF;

    std::size_t size() const { return m_rootIds.size(); }
    std::string_view root(std::size_t phrase) const; // "" when it has none
    std::vector<std::string> tags(std::size_t phrase) const;
    bool hasTags(std::size_t phrase) const { return m_tagMasks[phrase] != 0; }
    // Every root word, most frequent first.
    const std::vector<RootCount>& rootCounts() const { return m_rootCounts; }

  private:
    friend KeywordWords analyseKeywords(Segmenter&, const IntentTags&, std::span<const PhraseOfSeed>);
    std::vector<std::string> m_words;
    std::vector<std::uint32_t> m_rootIds;
    std::vector<std::uint32_t> m_tagMasks;
    std::vector<std::string> m_families;
    std::vector<RootCount> m_rootCounts;
};

// The words of `phrase` that are not its seed's: the seed's text is cut out wherever it occurs
// whole (so a seed the segmenter would split across words still goes), then the rest is cut into
// words and the seed's own words and bare particles (的, 了, 呢 …) are dropped.
std::vector<std::string> wordsBeyondSeed(Segmenter& segmenter, std::string_view phrase, std::string_view seed);

KeywordWords analyseKeywords(Segmenter& segmenter, const IntentTags& tags, std::span<const PhraseOfSeed> phrases);

} // namespace zelkor
