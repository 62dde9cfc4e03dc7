#include "sources/endpoints.h"
#include "sources/routines.h"
#include "sources/source_table.h"
#include "sources/sources.h"
#include "support/temp_dir.h"

#include "fixture_service.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

namespace zelkor {
namespace {

using test::to_gbk;

TEST(PercentEncodeUtf8, EncodesEveryByteInUpperCaseHex) {
    struct Case {
        const char* keywordUtf8;
        const char* expected;
    } cases[] = {
        {"", ""},
        {"a b", "%61%20%62"},
        {"手机", "%E6%89%8B%E6%9C%BA"},
        {"Az09-._~", "%41%7A%30%39%2D%2E%5F%7E"},
        {"a&b#c", "%61%26%62%23%63"},
        {"\t", "%09"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(percent_encode_utf8(to_gbk(c.keywordUtf8)), c.expected) << c.keywordUtf8;
}

TEST(TextBetweenAll, NextSearchStartsAfterTheStartMarker) {
    struct Case {
        const char* text;
        const char* start;
        const char* end;
        std::vector<Text> expected;
    } cases[] = {
        {"x<th>a<th>b</th>", "<th>", "</th>", {"a<th>b", "b"}},
        {"<th></th>", "<th>", "</th>", {""}},
        {"<th>a</th><th>b</th><th>c", "<th>", "</th>", {"a", "b"}},
        {"no markers", "<th>", "</th>", {}},
        {"</th><th>a</th>", "<th>", "</th>", {"a"}},
        {"<td>a</td><td></td><td>b</td>", "<td>", "</td>", {"a", "", "b"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(text_between_all(c.text, c.start, c.end), c.expected) << c.text;
}

TEST(TextBetweenAll, NeverMatchesInsideADoubleByteCharacter) {
    // 臺 is C5 5F in GBK: its trail byte is "_" and must not be taken for a marker.
    EXPECT_EQ(text_between_all(to_gbk("臺x_a_"), "_", "_"), std::vector<Text>{"a"});
}

TEST(StripHtml, RemovesTagsBlocksAndShortEntities) {
    struct Case {
        const char* inputUtf8;
        const char* expectedUtf8;
    } cases[] = {
        {"<b>手机</b>壳", "手机壳"},
        {"a&nbsp;b", "ab"},
        {"a & b;c", "a c"},
        {"a<br>b", "ab"},
        {"a &amp;x; b", "a  b"},
        {"a & no semicolon here", "a & no semicolon here"},
        {"x<script type=\"t\">var a = '<b>';\n</script>y", "xy"},
        {"x<STYLE>\n.a{}\n</STYLE>y", "xy"},
        {"<a\nhref=\"x\">手机</a>", "手机"},
        {"&手机壳；;", ""},
        {"  spaced  ", "  spaced  "},
        {"&lt;b&gt;", ""}, // the longest run up to a ";" goes
    };
    for (const Case& c : cases)
        EXPECT_EQ(strip_html(to_gbk(c.inputUtf8)), to_gbk(c.expectedUtf8)) << c.inputUtf8;
}

TEST(EpochMillisText, CountsSecondsFromEightOClockOnNewYear1970) {
    std::tm t{};
    t.tm_year = 2020 - 1900;
    t.tm_mon = 0;
    t.tm_mday = 1;
    t.tm_hour = 8;
    EXPECT_EQ(epoch_millis_text_at(t), "1577836800000");
    t.tm_sec = 59;
    EXPECT_EQ(epoch_millis_text_at(t), "1577836859000");
    std::tm origin{};
    origin.tm_year = 70;
    origin.tm_mday = 1;
    origin.tm_hour = 8;
    EXPECT_EQ(epoch_millis_text_at(origin), "0000");

    const Text now = epoch_millis_text();
    EXPECT_TRUE(std::regex_match(now, std::regex("[1-9][0-9]*000"))) << now;
}

TEST(SourceConfig, CookieTextsHaveTheirLengthsAndNamesInOrder) {
    const std::string& baidu = source_config::baiduCookieText();
    EXPECT_EQ(baidu.size(), 1279u);
    EXPECT_TRUE(baidu.starts_with("Cookie: "));
    const std::vector<std::string_view> baiduNames = {
        "MSA_WH", "BAIDUID",     "PSTM",     "COOKIE_SESSION", "BDUSS",     "BIDUPSID",
        "BDORZ",  "H_WISE_SIDS", "plus_lsv", "plus_cv",        "SE_LAUNCH", "ASUV",
        "lsv",    "ysm",         "BDORZ",    "delPer",         "BDSVRBFE",  "__bsi"};
    const std::vector<std::string_view> jdNames = {"shshshfpa", "shshshfpb", "__jdv",    "__jdu", "areaId",
                                                   "ipLoc-djd", "user-key",  "cn",       "__jda", "__jdb",
                                                   "__jdc",     "shshshfp",  "shshshsID"};
    auto namesOf = [](const std::string& text) {
        std::vector<std::string_view> names;
        std::string_view rest = std::string_view(text).substr(8);
        while (!rest.empty()) {
            const auto sep = rest.find("; ");
            const std::string_view item = rest.substr(0, sep);
            names.push_back(item.substr(0, item.find('=')));
            if (sep == std::string_view::npos) break;
            rest.remove_prefix(sep + 2);
        }
        return names;
    };
    EXPECT_EQ(namesOf(baidu), baiduNames);
    const std::string& jd = source_config::jdCookieText();
    EXPECT_EQ(jd.size(), 520u);
    EXPECT_EQ(namesOf(jd), jdNames);
}

TEST(SourceConfig, IdentifiersHaveTheirForms) {
    using namespace source_config;
    struct Case {
        std::string_view value;
        const char* form;
    } cases[] = {
        {kTencentUid, "[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}"},
        {kIqiyiPpuid, "[0-9]{10}"},
        {kIqiyiUid, "[0-9a-f]{32}"},
        {kSohuUid, "[0-9]{16}"},
        {kYoutubeTok, "[A-Za-z0-9-]{22}"},
        {kYoutubeGbg, "[A-Za-z0-9]{23}"},
        {kGoogleEi, "[A-Za-z0-9_]{23}"},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(std::regex_match(std::string(c.value), std::regex(c.form))) << c.value;
}

TEST(SourceTable, LabelsNamesAndPausesInListOrder) {
    const char* labels[] = {"百度相关", "百度下拉",   "百度移动",    "百度移动下拉", "淘宝下拉",
                            "360搜索",  "360下拉",    "神马相关",    "神马下拉",     "搜狗搜索",
                            "搜狗下拉", "丁香医疗",   "360良医相关", "360良医下拉",  "爱奇艺搜索",
                            "优酷相关", "b站下拉",    "腾讯下拉",    "爱奇艺下拉",   "搜狐视频",
                            "youtube",  "google相关", "google下拉",  "1688下拉",     "京东下拉"};
    const char* outputs[] = {"百度相关",    "百度下拉",   "百度移动相关", "百度移动下拉", "淘宝下拉",
                             "360搜索相关", "360下拉",    "神马相关",     "神马下拉",     "搜狗相关",
                             "搜狗下拉",    "丁香园医疗", "360良医相关",  "360良医下拉",  "爱奇艺相关",
                             "优酷下拉",    "bilibili",   "腾讯视频",     "爱奇艺下拉",   "搜狐下拉",
                             "youtube",     "google相关", "google下拉",   "1688下拉",     "京东下拉"};
    const auto& rows = source_rows();
    for (int i = 0; i < kSourceCount; ++i) {
        EXPECT_EQ(rows[i].index, i);
        EXPECT_EQ(source_list_label(i), to_gbk(labels[i])) << i;
        EXPECT_EQ(rows[i].outputName, outputs[i]) << i;
        EXPECT_EQ(rows[i].displayPauseMs, i <= 1 ? 0 : 100) << i;
        const bool related = i == 0 || i == 2 || i == 5 || i == 7 || i == 9 || i == 12 || i == 14 || i == 21;
        EXPECT_EQ(rows[i].family == SourceFamily::RelatedPage, related) << i;
        EXPECT_EQ(rows[i].fetch == FetchKind::Plain, i >= 20 && i <= 22) << i;
    }
    EXPECT_EQ(source_list_label(-1), "");
    EXPECT_EQ(source_list_label(25), "");
    EXPECT_EQ(make_sources(Endpoints{}).size(), 25u);
}

TEST(Endpoints, ReadsOverridesAndComments) {
    test::TempDir dir;
    test::writeFile(dir / "e.ini", "\xEF\xBB\xBF; loopback\r\n[other]\r\nx = y\r\n[endpoints]\r\n"
                                   "0 = http://127.0.0.1:8080        ; list index 0..24\r\n"
                                   "24=https://[::1]:9443/\r\n"
                                   "update1 = http://127.0.0.1:8080/m1/   ; mirror\r\n"
                                   "quote = http://127.0.0.1:8080\r\n"
                                   "notify =\r\n");
    std::string error;
    const auto endpoints = Endpoints::loadFile(dir / "e.ini", &error);
    ASSERT_TRUE(endpoints) << error;
    EXPECT_EQ(endpoints->get("0"), "http://127.0.0.1:8080");
    EXPECT_EQ(endpoints->get("24"), "https://[::1]:9443/");
    EXPECT_EQ(endpoints->get("update1"), "http://127.0.0.1:8080/m1/");
    EXPECT_EQ(endpoints->get("quote"), "http://127.0.0.1:8080");
    EXPECT_EQ(endpoints->get("notify"), std::nullopt);
    EXPECT_EQ(endpoints->get("1"), std::nullopt);
}

TEST(Endpoints, RejectsMalformedFilesWithTheLine) {
    struct Case {
        const char* content;
        const char* why;
    } cases[] = {
        {"[endpoints]\n25 = http://127.0.0.1:1\n", ":2: unknown key"},
        {"[endpoints]\n0 http://127.0.0.1:1\n", ":2: expected key = value"},
        {"[endpoints]\n0 = ftp://127.0.0.1:1\n", "http:// or https://"},
        {"[endpoints]\n0 = http://:80\n", "no host"},
        {"[endpoints]\n0 = http://127.0.0.1:99999\n", "port"},
        {"[endpoints]\n0 = http://[::1]:x\n", "port"},
        {"[endpoints]\n0 = http://[::1\n", "host part"},
        {"[endpoints]\n0 = http://[::1]8080\n", "host part"},
        {"[endpoints]\n\n\n3 = http://127.0.0.1:80/prefix\n", ":4: a source's value"},
        {"[endpoints\n", "section header"},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        test::writeFile(dir / "e.ini", c.content);
        std::string error;
        EXPECT_FALSE(Endpoints::loadFile(dir / "e.ini", &error, kSourceCount)) << c.content;
        EXPECT_NE(error.find(c.why), std::string::npos) << error;
    }
    // Indexes a sources file adds are accepted when the table is that long, or when no table is given.
    test::writeFile(dir / "e.ini", "[endpoints]\n26 = http://127.0.0.1:1\n");
    std::string error;
    EXPECT_TRUE(Endpoints::loadFile(dir / "e.ini", &error, 27)) << error;
    EXPECT_TRUE(Endpoints::loadFile(dir / "e.ini", &error)) << error;
    EXPECT_FALSE(Endpoints::loadFile(dir / "e.ini", &error, 26));
    EXPECT_NE(error.find("unknown key \"26\" (expected 0..25,"), std::string::npos) << error;
    EXPECT_FALSE(Endpoints::loadFile(dir / "missing.ini", &error));
    EXPECT_NE(error.find("cannot read"), std::string::npos);
}

TEST(Endpoints, DefaultComesFromTheEnvironmentThenTheHome) {
    test::TempDir dir;
    ::unsetenv("ZELKOR_ENDPOINTS");
    auto none = Endpoints::loadDefault(dir.path());
    ASSERT_TRUE(none);
    EXPECT_EQ(none->get("0"), std::nullopt);

    std::filesystem::create_directories(dir / "data");
    test::writeFile(dir / "data" / "endpoints.ini", "[endpoints]\n0 = http://127.0.0.1:1\n");
    EXPECT_EQ(Endpoints::loadDefault(dir.path())->get("0"), "http://127.0.0.1:1");

    test::writeFile(dir / "env.ini", "[endpoints]\n0 = http://127.0.0.1:2\n");
    ::setenv("ZELKOR_ENDPOINTS", (dir / "env.ini").c_str(), 1);
    EXPECT_EQ(Endpoints::loadDefault(dir.path())->get("0"), "http://127.0.0.1:2");
    ::setenv("ZELKOR_ENDPOINTS", (dir / "nowhere.ini").c_str(), 1);
    EXPECT_FALSE(Endpoints::loadDefault(dir.path()));
    ::unsetenv("ZELKOR_ENDPOINTS");
}

} // namespace
} // namespace zelkor
