#include "engine/run/result_filters.h"
#include "engine/run/seed_variants.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace zelkor {
namespace {

Text g(std::string_view utf8) {
    return utf8_to_gbk(utf8);
}

TEST(ResultFilters, DropWhatTheBoundsAndPatternsRefuse) {
    struct Case {
        const char* include;
        const char* exclude;
        int minChars;
        int maxChars;
        const char* phrase;
        const char* notice; // nullptr: kept
    } cases[] = {
        {"", "", 0, 0, "手机壳", nullptr},
        {"壳$", "", 0, 0, "手机壳", nullptr},
        {"壳$", "", 0, 0, "手机壳推荐", "当前词语：手机壳推荐  不符合包含规则：壳$  不使用"},
        {"^IPHONE", "", 0, 0, "iphone手机", nullptr}, // without regard to case
        {"", "二手|旧", 0, 0, "二手手机", "当前词语：二手手机  符合排除规则：二手|旧  不使用"},
        {"", "二手|旧", 0, 0, "新手机", nullptr},
        {"手机", "壳", 0, 0, "手机壳", "当前词语：手机壳  符合排除规则：壳  不使用"},
        {"", "", 3, 0, "手机", "当前词语：手机  少于3个字  不使用"}, // characters, not bytes
        {"", "", 3, 0, "手机壳", nullptr},
        {"", "", 0, 4, "手机壳膜", nullptr},
        {"", "", 0, 4, "手机壳膜a", "当前词语：手机壳膜a  多于4个字  不使用"},
        {"", "", 2, 2, "ab", nullptr},
        {"", "", 0, 0, "", nullptr},
        {"\\d", "", 0, 0, "手机2024", nullptr},
        {"^.{2}$", "", 0, 0, "手机", nullptr}, // "." is one character, a double-byte one too
    };
    for (const Case& c : cases) {
        std::string error;
        const auto filters = ResultFilters::make(g(c.include), g(c.exclude), c.minChars, c.maxChars, &error);
        ASSERT_TRUE(filters) << error;
        const std::optional<Text> notice = filters->refuse(g(c.phrase));
        if (c.notice) {
            EXPECT_EQ(notice.value_or("(kept)"), g(c.notice)) << c.phrase;
        } else {
            EXPECT_FALSE(notice) << c.phrase << " " << gbk_to_utf8(*notice);
        }
    }
    EXPECT_TRUE(ResultFilters::make({}, {}, 0, 0)->empty());
    EXPECT_FALSE(ResultFilters::make({}, {}, 1, 0)->empty());
}

TEST(ResultFilters, BrokenPatternsNameThePatternAndTheFault) {
    struct Case {
        const char* include;
        const char* exclude;
        const char* why;
    } cases[] = {
        {"(手机", "", "the include pattern \"(手机\" is broken: missing closing parenthesis"},
        {"", "[a-", "the exclude pattern \"[a-\" is broken: missing terminating ] for character class"},
        {"", "a**", "the exclude pattern \"a**\" is broken:"},
        {"(?<=a)b", "",
         "the include pattern \"(?<=a)b\" is broken: it uses a construct this dialect does not have"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(ResultFilters::make(g(c.include), g(c.exclude), 0, 0, &error)) << c.why;
        EXPECT_NE(error.find(c.why), std::string::npos) << error;
    }
}

TEST(SeedVariants, FollowTheKindsInTheOrderGivenEachOnce) {
    const Text seed = g("手机");
    EXPECT_TRUE(seedVariants(seed, {}, {}).empty());
    const auto digits = seedVariants(seed, {"digits", "az"}, {});
    ASSERT_EQ(digits.size(), 36u);
    EXPECT_EQ(digits.front(), seed + "0");
    EXPECT_EQ(digits[10], seed + "a");
    EXPECT_EQ(digits.back(), seed + "z");

    const auto questions = seedVariants(seed, {"questions"}, {});
    EXPECT_GE(questions.size(), 10u);
    EXPECT_EQ(questions.front(), g("手机怎么样"));
    EXPECT_NE(std::find(questions.begin(), questions.end(), g("哪个手机好")), questions.end());

    // A frame without "{}" follows the seed; duplicates and the seed itself are asked once only.
    const auto framed =
        seedVariants(seed, {"frames", "digits"}, g("{}推荐\r\n最新\n\n{}\n{}推荐\n{}0\n{}和{}"));
    ASSERT_GE(framed.size(), 4u);
    EXPECT_EQ(framed[0], g("手机推荐"));
    EXPECT_EQ(framed[1], g("手机最新"));
    EXPECT_EQ(framed[2], g("手机0"));
    EXPECT_EQ(framed[3], g("手机和手机"));
    EXPECT_EQ(framed.size(), 4u + 9u);

    std::string error;
    EXPECT_EQ(parseVariantList("questions, az", &error), (std::vector<std::string>{"questions", "az"}));
    EXPECT_FALSE(parseVariantList("az,letters", &error));
    EXPECT_NE(error.find("unknown variant \"letters\""), std::string::npos);
    EXPECT_FALSE(parseVariantList("", &error));
}

TEST(SeedVariants, FramesFileIsUtf8OrGbk) {
    test::TempDir dir;
    test::writeFile(dir / "utf8.txt", "\xEF\xBB\xBF{}推荐\r\n\r\n最新\n");
    test::writeFile(dir / "gbk.txt", g("{}推荐\r\n最新"));
    for (const char* name : {"utf8.txt", "gbk.txt"}) {
        std::string error;
        EXPECT_EQ(readFramesFile(dir / name, &error), g("{}推荐\r\n最新")) << name << error;
    }
    std::string error;
    EXPECT_FALSE(readFramesFile(dir / "none.txt", &error));
    EXPECT_NE(error.find("cannot read the frames file"), std::string::npos);
}

} // namespace
} // namespace zelkor
