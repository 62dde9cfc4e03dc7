#include "engine/run/result_filters.h"

#include "text/regex.h"

namespace zelkor {

namespace {

Text gbk(std::string_view utf8) {
    return utf8_to_gbk(utf8);
}

bool matches(const Text& pattern, const Text& phrase) {
    RegexObject regex;
    return regex.create(pattern, phrase, false, true, false) && regex.match_count() > 0;
}

} // namespace

int gbkCharCount(const Text& text) {
    int count = 0;
    for (std::size_t i = 0; i < text.size(); ++count)
        i += static_cast<unsigned char>(text[i]) >= 0x81 && i + 1 < text.size() ? 2 : 1;
    return count;
}

std::optional<ResultFilters> ResultFilters::make(const Text& include, const Text& exclude, int minChars,
                                                 int maxChars, std::string* error) {
    for (const auto& [name, pattern] : {std::pair{"include", &include}, std::pair{"exclude", &exclude}}) {
        if (pattern->empty()) continue;
        const std::string problem = RegexObject::patternProblem(*pattern);
        if (!problem.empty()) {
            if (error)
                *error = std::string("the ") + name + " pattern \"" + gbk_to_utf8(*pattern) +
                         "\" is broken: " + problem;
            return std::nullopt;
        }
    }
    ResultFilters filters;
    filters.m_include = include;
    filters.m_exclude = exclude;
    filters.m_minChars = minChars;
    filters.m_maxChars = maxChars;
    return filters;
}

std::optional<Text> patternBoxProblem(const Text& include, const Text& exclude) {
    for (const auto& [box, pattern] : {std::pair{"包含规则", &include}, std::pair{"排除规则", &exclude}}) {
        if (pattern->empty()) continue;
        const std::string problem = RegexObject::patternProblem(*pattern);
        if (!problem.empty())
            return gbk(std::string(box) + "“") + *pattern + gbk("”无法使用：" + problem);
    }
    return std::nullopt;
}

std::optional<Text> ResultFilters::refuse(const Text& phrase) const {
    static const Text wordA = gbk("当前词语：");
    static const Text notUsed = gbk("  不使用");
    if (!m_include.empty() && !matches(m_include, phrase))
        return wordA + phrase + gbk("  不符合包含规则：") + m_include + notUsed;
    if (!m_exclude.empty() && matches(m_exclude, phrase))
        return wordA + phrase + gbk("  符合排除规则：") + m_exclude + notUsed;
    const int chars = gbkCharCount(phrase);
    if (m_minChars > 0 && chars < m_minChars)
        return wordA + phrase + gbk("  少于") + std::to_string(m_minChars) + gbk("个字") + notUsed;
    if (m_maxChars > 0 && chars > m_maxChars)
        return wordA + phrase + gbk("  多于") + std::to_string(m_maxChars) + gbk("个字") + notUsed;
    return std::nullopt;
}

} // namespace zelkor
