#include "analysis/intent_tags.h"

#include <toml++/toml.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace zelkor {
namespace {

bool isAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return out;
}

// One Chinese character, or a Latin word such as "vs": these only count as whole words.
bool wholeWordOnly(std::string_view modifier) { return isAscii(modifier) || modifier.size() <= 3; }

bool hasYear(std::string_view phrase) {
    for (std::size_t i = 0; i + 4 <= phrase.size(); ++i) {
        auto digit = [&](std::size_t k) { return k < phrase.size() && phrase[k] >= '0' && phrase[k] <= '9'; };
        bool startsHere = (i == 0 || !digit(i - 1)) && digit(i) && digit(i + 1) && digit(i + 2) &&
                          digit(i + 3) && !digit(i + 4);
        if (!startsHere) continue;
        std::string_view century = phrase.substr(i, 2);
        if (century == "19" || century == "20") return true;
    }
    return false;
}

constexpr const char* kTime = "时间";

} // namespace

IntentTags IntentTags::builtIn() {
    IntentTags tags;
    tags.m_families = {
        {"疑问", {"怎么", "如何", "为什么", "什么", "哪个", "哪里", "多少", "吗"}},
        {"价格", {"多少钱", "价格", "报价", "便宜", "贵"}},
        {"比较", {"和", "与", "还是", "vs", "区别", "对比", "哪个好"}},
        {"评价", {"好不好", "怎么样", "推荐", "排行", "口碑"}},
        {kTime, {"最新", "今年"}},
        {"地域",
         {"北京", "天津", "上海", "重庆", "河北", "山西", "辽宁", "吉林", "黑龙江", "江苏", "浙江", "安徽",
          "福建", "江西", "山东", "河南", "湖北", "湖南", "广东", "海南", "四川", "贵州", "云南", "陕西",
          "甘肃", "青海", "台湾", "内蒙古", "广西", "西藏", "宁夏", "新疆", "香港", "澳门", "石家庄",
          "太原", "沈阳", "大连", "长春", "哈尔滨", "南京", "苏州", "无锡", "常州", "南通", "徐州", "杭州",
          "宁波", "温州", "绍兴", "嘉兴", "金华", "合肥", "芜湖", "福州", "厦门", "泉州", "南昌", "赣州",
          "济南", "青岛", "烟台", "潍坊", "临沂", "郑州", "洛阳", "武汉", "宜昌", "襄阳", "长沙", "株洲",
          "岳阳", "广州", "深圳", "珠海", "汕头", "佛山", "东莞", "中山", "惠州", "江门", "湛江", "海口",
          "三亚", "成都", "绵阳", "贵阳", "遵义", "昆明", "大理", "丽江", "西安", "兰州", "西宁",
          "呼和浩特", "包头", "南宁", "桂林", "柳州", "拉萨", "银川", "乌鲁木齐"}},
    };
    return tags;
}

Expected<Done> IntentTags::extendFrom(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return Error{"the intent tags file " + file.string() + " could not be read"};
    std::ostringstream text;
    text << in.rdbuf();
    return extendFromText(text.str(), file.string());
}

Expected<Done> IntentTags::extendFromText(std::string_view toml, std::string_view origin) {
    toml::table root;
    try {
        root = toml::parse(toml, origin);
    } catch (const toml::parse_error& e) {
        return Error{std::string(origin) + ":" + std::to_string(e.source().begin.line) + ": " +
                     std::string(e.description())};
    }
    std::vector<IntentFamily> families = m_families;
    for (const auto& [key, value] : root) {
        std::string name(key.str());
        const toml::array* words = value.as_array();
        auto where = std::string(origin) + ":" + std::to_string(key.source().begin.line) + ": ";
        if (!words) return Error{where + "the family " + name + " must be an array of words, as " + name + " = [\"…\"]"};
        auto family = std::find_if(families.begin(), families.end(), [&](const IntentFamily& f) { return f.name == name; });
        if (family == families.end()) {
            if (families.size() == kMostFamilies)
                return Error{where + "at most " + std::to_string(kMostFamilies) + " families can be kept"};
            family = families.insert(families.end(), IntentFamily{name, {}});
        }
        for (const toml::node& word : *words) {
            const auto* text = word.as_string();
            if (!text || text->get().empty())
                return Error{where + "the family " + name + " holds something that is not a word"};
            if (std::find(family->words.begin(), family->words.end(), text->get()) == family->words.end())
                family->words.push_back(text->get());
        }
    }
    m_families = std::move(families);
    return Done{};
}

std::vector<std::string> IntentTags::allWords() const {
    std::vector<std::string> all;
    for (const IntentFamily& f : m_families) all.insert(all.end(), f.words.begin(), f.words.end());
    return all;
}

std::uint32_t IntentTags::maskOf(std::string_view phrase, const std::vector<std::string>& words) const {
    std::string lowered = lower(phrase);
    std::uint32_t mask = 0;
    for (std::size_t f = 0; f < m_families.size(); ++f) {
        const IntentFamily& family = m_families[f];
        bool hit = family.name == kTime && hasYear(lowered);
        for (const std::string& modifier : family.words) {
            if (hit) break;
            std::string m = lower(modifier);
            hit = wholeWordOnly(m) ? std::find(words.begin(), words.end(), m) != words.end()
                                   : lowered.find(m) != std::string::npos;
        }
        if (hit) mask |= std::uint32_t{1} << f;
    }
    return mask;
}

std::vector<std::string> IntentTags::tagsOf(std::string_view phrase, const std::vector<std::string>& words) const {
    std::uint32_t mask = maskOf(phrase, words);
    std::vector<std::string> tags;
    for (std::size_t f = 0; f < m_families.size(); ++f)
        if (mask & (std::uint32_t{1} << f)) tags.push_back(m_families[f].name);
    return tags;
}

std::string joinTags(const std::vector<std::string>& tags) {
    std::string out;
    for (const std::string& t : tags) {
        if (!out.empty()) out += ';';
        out += t;
    }
    return out;
}

} // namespace zelkor
