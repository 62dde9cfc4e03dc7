#include "engine/core/control_names.h"
#include "engine/core/settings.h"
#include "engine/core/text_rules.h"
#include "engine/core/value_controls.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::TempDir;
using test::writeFile;

class SettingsTest : public ::testing::Test {
  protected:
    TempDir dir;
    SettingsStore store{SettingsStore::defaultFile(dir.path())};

    std::unique_ptr<ValueControls> fresh() {
        auto controls = std::make_unique<ValueControls>();
        applyWindowDefaults(*controls, dir.path());
        return controls;
    }
    Text roundTrip(std::string_view control, const Text& value) {
        auto saved = fresh();
        saved->setText(control, value);
        EXPECT_TRUE(store.save(*saved));
        auto restored = fresh();
        store.restore(*restored);
        return restored->text(control);
    }
};

TEST_F(SettingsTest, WritesGbkLinesInSectionEditBoxAndCreatesTheDataDirectory) {
    auto controlsPtr = fresh();
    ValueControls& controls = *controlsPtr;
    controls.setText(ctl::kSeeds, gbk("抖音\r\n快手"));
    ASSERT_FALSE(fs::exists(dir / "data"));
    ASSERT_TRUE(store.save(controls));
    const std::string bytes = readFile(dir / "data" / "Zelkorkey.ini");
    EXPECT_EQ(bytes.rfind(gbk("[编辑框]\r\n"), 0), 0u);
    EXPECT_NE(bytes.find(gbk("\r\n编辑框_关键词=抖音><br><快手\r\n")), std::string::npos);
    for (const auto control : ctl::kEditBoxes)
        EXPECT_NE(bytes.find(gbk(control) + "="), std::string::npos) << control;
    // Nothing else beside the file: the temporary file was renamed.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "data"), fs::directory_iterator()), 1);
}

TEST_F(SettingsTest, TextsComeBackAsTheEscapingAllows) {
    struct Case {
        std::string text;
        std::string restored;
    };
    const Case cases[] = {
        {"抖音\r\n快手", "抖音\r\n快手"},
        {"a\"b", "a\"b"},
        {"x><br><y", "x\r\ny"},
        {"x#引号y", "x\"y"},
        {"  padded  ", "padded"},
        {"\"quoted\"", "\"quoted\""}, // escaped, so no enclosing quotes reach the file
        {"lone\rcr\nlf", "lone\r\ncr\r\nlf"},
        {"[section]\r\nkey=value", "[section]\r\nkey=value"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(gbk_to_utf8(roundTrip(ctl::kForbidden, gbk(c.text))), c.restored) << c.text;
}

TEST_F(SettingsTest, EscapingIsByteExact) {
    EXPECT_EQ(escapeSetting(gbk("a\"b")), gbk("a#引号b"));
    EXPECT_EQ(escapeSetting(gbk("a\r\n\"")), gbk("a><br><#引号"));
    EXPECT_EQ(unescapeSetting(gbk("a><br><#引号><BR><")), gbk("a\r\n\"><BR><"));
}

TEST_F(SettingsTest, LongValuesComeBackCutTo10239Bytes) {
    EXPECT_EQ(roundTrip(ctl::kPanel, std::string(15000, 'x')), std::string(10239, 'x'));
    // A double-byte character the cut would split is dropped whole.
    Text wide;
    for (int i = 0; i < 7500; ++i)
        wide += gbk("字");
    EXPECT_EQ(roundTrip(ctl::kPanel, wide), wide.substr(0, 10238));
    // The cut applies to the stored (escaped) text.
    Text lines;
    for (int i = 0; i < 3000; ++i)
        lines += "ab\r\n";
    const Text restored = roundTrip(ctl::kPanel, lines);
    EXPECT_EQ(restored, unescapeSetting(escapeSetting(lines).substr(0, 10239)));
}

TEST_F(SettingsTest, EmptyOrMissingValuesLeaveTheFormDefaults) {
    EXPECT_EQ(roundTrip(ctl::kLimit, ""), "30");
    auto controlsPtr = fresh();
    ValueControls& controls = *controlsPtr;
    SettingsStore("/nonexistent/dir/Zelkorkey.ini").restore(controls);
    EXPECT_EQ(controls.text(ctl::kDelay), "1");
    EXPECT_EQ(controls.text(ctl::kSeeds), gbk("抖音\r\n快手"));
}

TEST_F(SettingsTest, ReaderTrimsAndUnquotesLikeTheWindowsReader) {
    fs::create_directories(dir / "data");
    writeFile(store.file(),
              gbk("; comment\r\n[other]\r\n编辑框_延时=9\r\n[编辑框]\r\n 编辑框_延时 =  \"5\"  \r\n"
                  "编辑框_挖掘数量='7'\n编辑框_关键词=\"\r\n"));
    auto controlsPtr = fresh();
    ValueControls& controls = *controlsPtr;
    store.restore(controls);
    EXPECT_EQ(controls.text(ctl::kDelay), "5");
    EXPECT_EQ(controls.text(ctl::kLimit), "7");
    EXPECT_EQ(controls.text(ctl::kSeeds), "\"");

    // Saving keeps what it does not own.
    ASSERT_TRUE(store.save(controls));
    const std::string bytes = readFile(store.file());
    EXPECT_NE(bytes.find(gbk("[other]\r\n编辑框_延时=9\r\n")), std::string::npos);
    EXPECT_NE(bytes.find("; comment"), std::string::npos);
    EXPECT_EQ(bytes.find(gbk("编辑框_延时 =")), std::string::npos); // replaced, not duplicated
}

TEST_F(SettingsTest, ASaveThatCannotBeWrittenLeavesTheFileAsItWas) {
    writeFile(dir / "data", "a file where the directory should be");
    EXPECT_FALSE(store.save(*fresh()));
    EXPECT_EQ(readFile(dir / "data"), "a file where the directory should be");
}

TEST_F(SettingsTest, ComboValuesUseTheirOwnFormat) {
    ComboValue value;
    value.items = {{gbk("抖音"), 0}, {gbk("a<|>b\"c"), 7}};
    value.selected = 1;
    value.text = gbk("快手");
    const Text stored = encodeComboValue(value);
    EXPECT_EQ(stored, gbk("抖音<|>0<||>a<|>b#引号c<|>7<||>1<|>快手"));
    const ComboValue back = decodeComboValue(stored);
    ASSERT_EQ(back.items.size(), 2u);
    EXPECT_EQ(back.items[0].text, gbk("抖音"));
    EXPECT_EQ(back.items[1].text, "a"); // text before the first "<|>"
    EXPECT_EQ(back.items[1].number, 7); // number after the last
    EXPECT_EQ(back.selected, 1);
    EXPECT_EQ(back.text, gbk("快手"));

    ASSERT_TRUE(store.saveComboValue("组合框1", value));
    const auto read = store.comboValue("组合框1");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->text, gbk("快手"));
    EXPECT_NE(readFile(store.file()).find(gbk("[组合框]\r\n组合框1=")), std::string::npos);
}

} // namespace
} // namespace zelkor
