#pragma once
// Intent tags: the modifier families (疑问, 价格, 比较, 评价, 时间, 地域) that say what page a keyword
// belongs on. The families are data: the built-in table, extended by a TOML file the user keeps
// beside the sources file. Read-only after loading; any thread.

#include "engine/core/expected.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zelkor {

struct IntentFamily {
    std::string name;
    std::vector<std::string> words; // UTF-8, as they appear in phrases
};

class IntentTags {
  public:
    // The built-in families, in the order their tags are listed.
    static IntentTags builtIn();

    // Adds the families of `file`: each key a family (quoted, as TOML wants for Chinese keys), its
    // value an array of words. A family that exists gains the words; a new one is listed after the
    // others. Nothing changes on failure.
    //   "价格" = ["团购"]
    //   "材质" = ["硅胶", "皮革"]
    Expected<Done> extendFrom(const std::filesystem::path& file);
    Expected<Done> extendFromText(std::string_view toml, std::string_view origin);

    const std::vector<IntentFamily>& families() const { return m_families; }
    // Every modifier of every family, for the segmenter's dictionary.
    std::vector<std::string> allWords() const;

    // The families `phrase` belongs to, in family order. `words` are its segmented words: a
    // modifier of one character (和, 吗, 贵) counts only as a whole word, so 和平 is no comparison;
    // longer ones count wherever they occur. A year (1900–2099, with or without 年) is 时间.
    std::vector<std::string> tagsOf(std::string_view phrase, const std::vector<std::string>& words) const;
    // The same as a bit per family, in family order.
    std::uint32_t maskOf(std::string_view phrase, const std::vector<std::string>& words) const;

    static constexpr std::size_t kMostFamilies = 32;

  private:
    std::vector<IntentFamily> m_families;
};

// The tags joined for one export cell: "疑问;价格".
std::string joinTags(const std::vector<std::string>& tags);

} // namespace zelkor
