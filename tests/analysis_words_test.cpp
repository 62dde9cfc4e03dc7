#include "analysis/keyword_groups.h"
#include "analysis/root_words.h"

#include <gtest/gtest.h>

namespace zelkor {
namespace {

class Words : public ::testing::Test {
  protected:
    void SetUp() override {
        Expected<Segmenter> opened = Segmenter::open(tags.allWords());
        ASSERT_TRUE(opened) << opened.error().message;
        segmenter.emplace(std::move(*opened));
    }
    IntentTags tags = IntentTags::builtIn();
    std::optional<Segmenter> segmenter;
};

TEST_F(Words, SetsTheSeedAside) {
    struct Case {
        std::string phrase, seed;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"手机壳怎么选", "手机壳", {"怎么", "选"}},
        {"苹果手机壳多少钱", "手机壳", {"苹果", "多少钱"}}, // a modifier stays whole
        {"华为手机壳子", "手机壳", {"华为", "子"}},         // the seed split across words still goes
        {"手机维修多少钱", "手机", {"维修", "多少钱"}},     // a seed that is one word
        {"手机 壳 女", "手机 壳", {"女"}},                 // a seed of several parts
        {"iPhone 维修", "iphone", {"维修"}},               // Latin letters compared without case
        {"华为和小米的手机壳", "手机壳", {"华为", "小米"}}, // particles are no roots
        {"手机壳", "手机壳", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(wordsBeyondSeed(*segmenter, c.phrase, c.seed), c.words) << c.phrase;
}

TEST_F(Words, TagsByModifierFamily) {
    const std::pair<std::string, std::string> cases[] = {
        {"手机壳怎么选", "疑问"},
        {"苹果手机壳多少钱", "疑问;价格"},
        {"手机壳贵吗", "疑问;价格"},
        {"华为和小米手机壳哪个好", "疑问;比较"},
        {"iphone vs 华为", "比较"},
        {"手机壳口碑排行", "评价"},
        {"2024年最新手机壳", "时间"},
        {"2019款手机壳", "时间"},
        {"北京手机壳批发", "地域"},
        {"和平精英手机壳", ""}, // 和 inside a word is no comparison
        {"贵州手机壳", "地域"},  // nor 贵 inside a place
        {"vsco滤镜", ""},
        {"12345手机壳", ""},     // five digits are no year
    };
    std::vector<PhraseOfSeed> phrases;
    for (const auto& [phrase, tag] : cases) phrases.push_back({phrase, "手机壳"});
    KeywordWords words = analyseKeywords(*segmenter, tags, phrases);
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(joinTags(words.tags(i)), cases[i].second) << cases[i].first;
}

TEST_F(Words, RootIsThePhrasesMostFrequentWord) {
    std::vector<PhraseOfSeed> phrases = {
        {"透明手机壳", "手机壳"},       {"苹果手机壳透明", "手机壳"}, {"苹果手机壳多少钱", "手机壳"},
        {"华为手机壳透明", "手机壳"},   {"手机壳", "手机壳"},
    };
    KeywordWords words = analyseKeywords(*segmenter, tags, phrases);
    const char* roots[] = {"透明", "透明", "苹果", "透明", ""};
    for (std::size_t i = 0; i < std::size(roots); ++i) EXPECT_EQ(words.root(i), roots[i]) << phrases[i].phrase;
    ASSERT_GE(words.rootCounts().size(), 2u);
    EXPECT_EQ(words.rootCounts()[0].word, "透明");
    EXPECT_EQ(words.rootCounts()[0].phrases, 3u);
    EXPECT_EQ(words.rootCounts()[1].word, "苹果");

    std::vector<ResultGroup> byRoot = groupKeywords(words, GroupBy::Root);
    ASSERT_EQ(byRoot.size(), 3u);
    EXPECT_EQ(byRoot[0].name, "透明");
    EXPECT_EQ(byRoot[0].members, (std::vector<std::size_t>{0, 1, 3}));
    EXPECT_EQ(byRoot[1].name, "苹果");
    EXPECT_EQ(byRoot[2].name, kNoRootGroup);

    std::vector<ResultGroup> byTag = groupKeywords(words, GroupBy::Tag);
    ASSERT_EQ(byTag.size(), 3u); // 疑问 and 价格 hold the same phrase; the rest have no tag
    EXPECT_EQ(byTag.back().name, kNoTagGroup);
    EXPECT_EQ(byTag.back().members.size(), 4u);
}

TEST(IntentTagsFile, ExtendsTheFamilies) {
    IntentTags tags = IntentTags::builtIn();
    ASSERT_TRUE(tags.extendFromText("\"价格\" = [\"团购\"]\n\"材质\" = [\"硅胶\", \"皮革\"]\n", "intent.toml"));
    EXPECT_EQ(tags.families().back().name, "材质");
    EXPECT_EQ(joinTags(tags.tagsOf("硅胶手机壳团购", {"硅胶", "手机壳", "团购"})), "价格;材质");

    const std::pair<std::string, std::string> broken[] = {
        {"\"价格\" = \"团购\"\n", "intent.toml:1: the family 价格 must be an array of words"},
        {"\n\"价格\" = [1]\n", "intent.toml:2: the family 价格 holds something that is not a word"},
        {"\"价格\" = [\n", "intent.toml:"},
    };
    for (const auto& [text, message] : broken) {
        IntentTags copy = IntentTags::builtIn();
        Expected<Done> done = copy.extendFromText(text, "intent.toml");
        ASSERT_FALSE(done) << text;
        EXPECT_EQ(done.error().message.rfind(message, 0), 0u) << done.error().message;
        EXPECT_EQ(copy.families().size(), IntentTags::builtIn().families().size()); // nothing changed
    }
}

} // namespace
} // namespace zelkor
