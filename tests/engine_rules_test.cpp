#include "engine/core/command_line.h"
#include "engine/core/control_names.h"
#include "engine/core/normal_form.h"
#include "engine/core/program_dir.h"
#include "engine/core/text_rules.h"
#include "engine/core/value_controls.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace zelkor {
namespace {

std::vector<std::string> toUtf8(const std::vector<Text>& lines) {
    std::vector<std::string> out;
    for (const auto& line : lines)
        out.push_back(gbk_to_utf8(line));
    return out;
}

TEST(SplitLines, FollowsTheSplitRule) {
    struct Case {
        std::string text;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"", {}},       {"a", {"a"}},           {"a\r\n", {"a"}},         {"a\r\n\r\nb", {"a", "", "b"}},
        {"\r\n", {""}}, {"\r\n\r\n", {"", ""}}, {"a\nb\rc", {"a\nb\rc"}}, {"抖音\r\n快手", {"抖音", "快手"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(toUtf8(splitLines(gbk(c.text))), c.lines) << c.text;
}

TEST(SplitLines, NeverSplitsInsideADoubleByteCharacter) {
    // A lead byte followed by CR: the CR is the character's trail byte, not a delimiter start.
    const Text text = std::string("\x81\r\nx\r\ny");
    EXPECT_EQ(splitLines(text), (std::vector<Text>{std::string("\x81\r\nx"), "y"}));
}

TEST(TextToInt, ReadsLikeTheBoxes) {
    struct Case {
        std::string text;
        int value;
    };
    const Case cases[] = {
        {"", 0},
        {"abc", 0},
        {"0", 0},
        {"1", 1},
        {"30", 30},
        {"  7", 7},
        {"\t\r\n8", 8},
        {"-5", -5},
        {"+6", 6},
        {"12abc", 12},
        {"２", 2},
        {"１２３", 123},
        {"　３", 3},
        {"－４", -4},
        {"3.9", 3},
        {"- 1", 0},
        {"99999999999", 2147483647},
        {"-99999999999", -2147483647 - 1},
        {"x1", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(textToInt(gbk(c.text)), c.value) << c.text;
}

TEST(ContainsText, ComparesWholeCharactersExactly) {
    struct Case {
        std::string haystack;
        std::string needle;
        bool contained;
    };
    const Case cases[] = {
        {"抖音直播", "抖音", true},
        {"快手直播", "抖音", false},
        {"QQ群", "qq", false},
        {"Qq群", "Qq", true},
        {"a", "", true},
        {"", "", false},
        {"", "a", false},
        {"ab", "abc", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(containsText(gbk(c.haystack), gbk(c.needle)), c.contained)
            << c.haystack << " / " << c.needle;

    // "字字" is D7 D6 D7 D6: the bytes D6 D7 occur, but only across a character boundary.
    EXPECT_FALSE(containsText(gbk("字字"), std::string("\xD6\xD7")));
}

TEST(GbkPrefix, DropsACharacterTheCutWouldSplit) {
    EXPECT_EQ(gbkPrefix("abc", 100), "abc");
    EXPECT_EQ(gbkPrefix(std::string(120, 'a'), 100), std::string(100, 'a'));
    EXPECT_EQ(gbkPrefix(std::string(99, 'a') + gbk("字"), 100), std::string(99, 'a'));
    EXPECT_EQ(gbkPrefix(std::string(98, 'a') + gbk("字字"), 100), std::string(98, 'a') + gbk("字"));
}

TEST(NormalForm, MergesTheFormsOfOnePhrase) {
    const std::pair<std::string, std::string> cases[] = {
        {"  手机\t\t空格  ", "手机 空格"},           // blanks trimmed and collapsed
        {"手机\u3000\u3000壳", "手机 壳"},            // the ideographic space is a blank
        {"ｉＰｈｏｎｅ１５手机壳", "iPhone15手机壳"},  // full-width ASCII made half-width
        {"手機殼 價格", "手机壳 价格"},                // traditional made simplified
        {"iphone 15", "iphone 15"},                   // already normal: unchanged
        {"", ""},
    };
    for (const auto& [in, out] : cases) {
        Expected<std::string> got = normalFormUtf8(in);
        ASSERT_TRUE(got) << got.error().message;
        EXPECT_EQ(*got, out) << in;
    }
    // The engine's own GBK text goes the same way.
    Expected<Text> gbkForm = normalForm(gbk("　手機殼　"));
    ASSERT_TRUE(gbkForm);
    EXPECT_EQ(gbk_to_utf8(*gbkForm), "手机壳");
}

TEST(CommandLine, OneArgumentSetsUpAnUnattendedRun) {
    ValueControls controls;
    applyWindowDefaults(controls, "/opt/zelkor");
    EXPECT_TRUE(applyCommandLine({"kw"}, controls, "/opt/zelkor"));
    EXPECT_TRUE(controls.checked(ctl::kHangup));
    EXPECT_EQ(controls.text(ctl::kHangupDir), "/opt/zelkor/kw");
    EXPECT_EQ(controls.text(ctl::kLimit), "100000");
}

TEST(CommandLine, NoneOrSeveralArgumentsChangeNothing) {
    for (const auto& arguments : {std::vector<std::string>{}, std::vector<std::string>{"a", "b"}}) {
        ValueControls controls;
        applyWindowDefaults(controls, "/opt/zelkor");
        EXPECT_FALSE(applyCommandLine(arguments, controls, "/opt/zelkor"));
        EXPECT_FALSE(controls.checked(ctl::kHangup));
        EXPECT_EQ(controls.text(ctl::kHangupDir), "");
        EXPECT_EQ(controls.text(ctl::kLimit), "30");
    }
}

TEST(ValueControls, PanelFollowsTheWindowRules) {
    ValueControls controls;
    applyWindowDefaults(controls, "/tmp");
    std::string received;
    controls.setOutputListener([&](const Text& text) { received += text; });

    controls.showNotice("hi");
    EXPECT_EQ(controls.text(ctl::kPanel), "\r\n\r\nhi\r\n");
    EXPECT_EQ(controls.text(ctl::kNoticeLabel), "hi");

    controls.setChecked(ctl::kNoOutput, true);
    controls.showNotice("quiet");
    controls.appendOutput("line");
    EXPECT_EQ(controls.text(ctl::kPanel), "\r\n\r\nhi\r\n");
    EXPECT_EQ(controls.text(ctl::kNoticeLabel), "quiet");

    controls.setChecked(ctl::kNoOutput, false);
    controls.setText(ctl::kPanel, std::string(19990, 'x'));
    controls.appendOutput(std::string(10, 'y')); // exactly 20000: kept
    EXPECT_EQ(controls.text(ctl::kPanel).size(), 20000u);
    controls.appendOutput("z"); // past the limit: the panel is emptied, the text with it
    EXPECT_EQ(controls.text(ctl::kPanel), "");
    EXPECT_EQ(received, "\r\n\r\nhi\r\n" + std::string(10, 'y') + "z");
}

TEST(ProgramDirectory, HomeVariableOverridesTheExecutableDirectory) {
    ::setenv("ZELKOR_HOME", "/srv/zelkor-home", 1);
    EXPECT_EQ(programDirectory(), std::filesystem::path("/srv/zelkor-home"));
    ::unsetenv("ZELKOR_HOME");
    EXPECT_TRUE(std::filesystem::exists(programDirectory() / "engine_rules_test"));
}

// Run from an install prefix, the program keeps its state in the user's data directory; run from
// the build tree, beside itself; ZELKOR_HOME wins over both.
TEST(ProgramDirectory, InstalledProgramUsesTheUserDataDirectory) {
    test::TempDir dir;
    const std::filesystem::path prefix = dir / "usr";
    std::filesystem::create_directories(prefix / "bin");
    std::filesystem::create_directories(prefix / "share" / "zelkor");
    std::filesystem::create_directories(dir / "build" / "bin");
    std::filesystem::create_directories(dir / "build" / "app");
    const struct {
        std::filesystem::path exeDir;
        const char* zelkorHome;
        const char* dataHome;
        std::filesystem::path expected;
    } cases[] = {
        {prefix / "bin", nullptr, nullptr, "/home/u/.local/share/zelkor"},
        {prefix / "bin", nullptr, "/data/u", "/data/u/zelkor"},
        {prefix / "bin", nullptr, "", "/home/u/.local/share/zelkor"},
        {prefix / "bin", nullptr, "relative/dir", "/home/u/.local/share/zelkor"},
        {prefix / "bin", "/srv/z", "/data/u", "/srv/z"},
        {prefix / "bin", "", "/data/u", "/data/u/zelkor"},
        {dir / "build" / "bin", nullptr, "/data/u", dir / "build" / "bin"}, // no share/zelkor beside it
        {dir / "build" / "app", nullptr, "/data/u", dir / "build" / "app"},
        {dir / "build" / "app", "/srv/z", nullptr, "/srv/z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.exeDir.string() + " " + (c.zelkorHome ? c.zelkorHome : "-") + " " +
                     (c.dataHome ? c.dataHome : "-"));
        const auto variable = [&](const char* name) -> const char* {
            const std::string_view n = name;
            if (n == "ZELKOR_HOME") return c.zelkorHome;
            if (n == "XDG_DATA_HOME") return c.dataHome;
            if (n == "HOME") return "/home/u";
            return nullptr;
        };
        EXPECT_EQ(programDirectoryFor(c.exeDir, variable), c.expected);
    }
}

} // namespace
} // namespace zelkor
