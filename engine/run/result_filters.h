#pragma once
// Result filters beside the forbidden words: a pattern a phrase must match, one it must not, and
// bounds on its length in characters. A dropped phrase is neither shown nor queued.

#include "text/text.h"

#include <optional>
#include <string>

namespace zelkor {

class ResultFilters {
  public:
    // Patterns (GBK) in the regular-expression dialect of the text layer, matched without regard to
    // case; empty: no such filter. Bounds of 0 or less: none. nullopt and *error (UTF-8, naming
    // the pattern and what is wrong) when a pattern does not compile.
    static std::optional<ResultFilters> make(const Text& include, const Text& exclude, int minChars,
                                             int maxChars, std::string* error = nullptr);

    bool empty() const {
        return m_include.empty() && m_exclude.empty() && m_minChars <= 0 && m_maxChars <= 0;
    }
    // The notice (GBK) for a phrase the filters drop; nullopt when it passes.
    std::optional<Text> refuse(const Text& phrase) const;

  private:
    Text m_include;
    Text m_exclude;
    int m_minChars = 0;
    int m_maxChars = 0;
};

// Why the boxes 编辑框_包含规则 and 编辑框_排除规则 cannot be used, for the window (GBK): the box, its
// pattern and what is wrong; nullopt when both compile (or are empty).
std::optional<Text> patternBoxProblem(const Text& include, const Text& exclude);

// Characters of a GBK text, a double-byte character being one.
int gbkCharCount(const Text& text);

} // namespace zelkor
