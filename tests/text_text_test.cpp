#include "text/bytes.h"
#include "text/text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace zelkor {
namespace {

using namespace std::string_literals;

// GBK bytes spelled out, so that the conversions are not tested against themselves.
const std::string kShu = "\xCA\xFD";   // 数
const std::string kJu = "\xBE\xDD";    // 据
const std::string kZhong = "\xD6\xD0"; // 中
const std::string kWen = "\xCE\xC4";   // 文
const std::string kIdeoSpace = "\xA1\xA1";
// A double-byte character whose trail byte is the ASCII letter A.
const std::string kTrailA = "\x81\x41";

struct FindCase {
    std::string text, sought;
    int start;
    bool ignoreCase;
    int expected;
};

TEST(TextFind, Table) {
    const FindCase cases[] = {
        {"ab" + kShu + kJu + "cd", "cd", 1, false, 7},
        {"abc", "", 1, false, 1},
        {"", "", 1, false, -1},
        {"", "a", 1, false, -1},
        {"abc", "c", 9, false, -1},
        {"abc", "", 4, false, -1},
        {"abc", "a", 0, false, 1},
        {"abc", "a", -5, false, 1},
        {"abcabc", "abc", 2, false, 4},
        {"abcabc", "abc", 4, false, 4},
        {"ABC", "b", 1, false, -1},
        {"ABC", "b", 1, true, 2},
        {"xAbC", "aBc", 1, true, 2},
        {"x[1]", "[1]", 1, true, 2},
        {"DDDdIv", "div", 1, true, 4},
        {"dDdDdD", "DDD", 2, true, 2},
        {"dDdDdD", "DDD", 5, true, -1},
        // A match never begins on a trail byte.
        {kTrailA + "B", "AB", 1, false, -1},
        {kTrailA + "AB", "AB", 1, false, 3},
        {kTrailA + "aB", "AB", 1, true, 3},
        {"\xB0\xA1\xB0\xA1", "\xA1\xB0", 1, false, -1},
        {"\xB0\xA1\xB0\xA1", "\xB0\xA1", 2, false, 3},
        {"\xB0\xA1\xB0\xA1", "\xB0\xA1", 3, false, 3},
        // Bytes of double-byte characters are never folded.
        {"\x81\x61", "A", 1, true, -1},
        {kTrailA, "\x81\x61", 1, true, -1},
        {kTrailA, kTrailA, 1, true, 1},
        // A start on a trail byte scans from the next character.
        {kTrailA + "A", "A", 2, false, 3},
        {kZhong + kWen + "<b>" + kShu + "</b>", kShu, 1, false, 8},
    };
    for (const FindCase& c : cases) {
        EXPECT_EQ(text_find(c.text, c.sought, c.start, c.ignoreCase), c.expected)
            << "text=" << c.text << " sought=" << c.sought << " start=" << c.start;
    }
}

TEST(TextFind, LongDoubleByteRunsWithMisalignedMatches) {
    // Every odd offset of this run holds the sought pair; only the one behind the ASCII byte counts.
    std::string run;
    for (int i = 0; i < 5000; ++i)
        run += "\xB0\xA1";
    std::string text = run + "\xA1" + "x" + "\xA1\xB0" + run;
    EXPECT_EQ(text_find(text, "\xA1\xB0"), static_cast<int>(run.size()) + 3);
    EXPECT_EQ(text_find(text, "\xA1\xB0", 1, true), static_cast<int>(run.size()) + 3);
    EXPECT_EQ(text_find_last(text, "\xA1\xB0"), static_cast<int>(run.size()) + 3);
    EXPECT_EQ(text_find(run + "\xA1", "\xA1\xB0"), -1);
}

struct FindLastCase {
    std::string text, sought;
    std::optional<int> start;
    bool ignoreCase;
    int expected;
};

TEST(TextFindLast, Table) {
    const FindLastCase cases[] = {
        {"a,b,c", ",", std::nullopt, false, 4},
        {"a,b,c", ",", 5, false, 4},
        {"a,b,c", ",", 4, false, 2},
        {"a,b,c", ",", 2, false, -1},
        {"a,b,c", ",", 99, false, 4},
        {"abab", "ab", 4, false, 1},
        {"abab", "ab", 5, false, 3},
        {"aaa", "aa", std::nullopt, false, 2},
        {"abc", "x", std::nullopt, false, -1},
        {"abc", "", std::nullopt, false, -1},
        {"", "a", std::nullopt, false, -1},
        {"abc", "a", 0, false, -1},
        {"xAx", "a", std::nullopt, false, -1},
        {"xAxa", "A", std::nullopt, true, 4},
        {"dIv-DIV-div-d", "Div", std::nullopt, true, 9},
        {"dIv-DIV-div-d", "Div", 9, true, 5},
        {kTrailA + "A", "A", std::nullopt, false, 3},
        {"A" + kTrailA, "A", std::nullopt, false, 1},
    };
    for (const FindLastCase& c : cases) {
        EXPECT_EQ(text_find_last(c.text, c.sought, c.start, c.ignoreCase), c.expected)
            << "text=" << c.text << " sought=" << c.sought << " start=" << c.start.value_or(0);
    }
}

TEST(TextCut, LeftRightMid) {
    EXPECT_EQ(text_left("abc", 2), "ab");
    EXPECT_EQ(text_left("abc", 9), "abc");
    EXPECT_EQ(text_left("abc", 0), "");
    EXPECT_EQ(text_left("abc", -1), "");
    EXPECT_EQ(text_right("abc", 2), "bc");
    EXPECT_EQ(text_right("abc", 9), "abc");
    EXPECT_EQ(text_right("abc", 0), "");
    EXPECT_EQ(text_right("", 3), "");
    EXPECT_EQ(text_mid("abcdef", 2, 3), "bcd");
    EXPECT_EQ(text_mid("abcdef", 5, 9), "ef");
    EXPECT_EQ(text_mid("abcdef", 6, 1), "f");
    EXPECT_EQ(text_mid("abcdef", 7, 1), "");
    EXPECT_EQ(text_mid("abcdef", 0, 3), "");
    EXPECT_EQ(text_mid("abcdef", 2, 0), "");
    EXPECT_EQ(text_mid("abcdef", 2, -2), "");
    EXPECT_EQ(text_length("ab" + kShu), 4);
    EXPECT_EQ(text_length(""), 0);
}

TEST(TextCompare, Table) {
    struct Case {
        std::string a, b;
        bool caseSensitive;
        int sign;
    };
    const Case cases[] = {
        {"abc", "abc", true, 0},
        {"abc", "ABC", false, 0},
        {"abc", "ABC", true, 1},
        {"a", "b", true, -1},
        {"ab", "abc", true, -1},
        {"abc", "ab", false, 1},
        {"", "", true, 0},
        {"\xB0", "a", true, 1}, // unsigned byte order
        {kTrailA, "\x81\x61", false, -1},
        {"Z", "a", false, 1},
        {"_", "a", false, -1}, // letters fold to lower case
    };
    for (const Case& c : cases) {
        int r = text_compare(c.a, c.b, c.caseSensitive);
        EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << c.b;
    }
}

TEST(TextStartsWith, ExactBytes) {
    EXPECT_TRUE(text_starts_with("Set-Cookie: a", "Set-Cookie"));
    EXPECT_FALSE(text_starts_with("Set-Cookie: a", "set-cookie"));
    EXPECT_TRUE(text_starts_with("abc", ""));
    EXPECT_FALSE(text_starts_with("ab", "abc"));
}

struct ReplaceCase {
    std::string text, find, replacement;
    int start, count;
    bool caseSensitive;
    std::string expected;
};

TEST(TextReplace, Table) {
    const ReplaceCase cases[] = {
        {"Set-Cookie: a=1", "set-cookie:", "", 1, -1, false, " a=1"},
        {"Set-Cookie: a=1", "set-cookie:", "", 1, -1, true, "Set-Cookie: a=1"},
        {"aXaXa", "a", "b", 1, -1, true, "bXbXb"},
        {"aXaXa", "a", "b", 2, -1, true, "aXbXb"},
        {"aXaXa", "a", "b", 1, 1, true, "bXaXa"},
        {"aXaXa", "a", "b", 1, 2, true, "bXbXa"},
        {"aXaXa", "a", "b", 1, 0, true, "aXaXa"},
        {"aXaXa", "a", "b", 9, -1, true, "aXaXa"},
        {"aaa", "aa", "b", 1, -1, true, "ba"},
        {"abc", "", "x", 1, -1, true, "abc"},
        {"", "a", "x", 1, -1, true, ""},
        {"AbAb", "ab", "[$&]", 1, -1, false, "[$&][$&]"},
        {"aAaA", "AA", "x", 1, -1, false, "xx"},
        {"dDdDdD", "Dd", "x", 2, -1, false, "dxxD"},
        {kTrailA + "A", "a", "z", 1, -1, false, kTrailA + "z"},
        {kZhong + kWen + kZhong, kZhong, "x", 1, -1, true, "x" + kWen + "x"},
        {"a\xB0\xA1\xB0\xA1", "\xA1\xB0", "x", 1, -1, true, "a\xB0\xA1\xB0\xA1"},
    };
    for (const ReplaceCase& c : cases) {
        EXPECT_EQ(text_replace(c.text, c.find, c.replacement, c.start, c.count, c.caseSensitive), c.expected)
            << "text=" << c.text << " find=" << c.find;
    }
    EXPECT_EQ(text_replace("Set-Cookie: a=1", "set-cookie:"), " a=1"); // defaults ignore case
}

TEST(TextSplit, Table) {
    struct Case {
        std::string text, delimiter;
        int max;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"a,,b", ",", -1, {"a", "", "b"}},
        {"a,b,", ",", -1, {"a", "b"}},
        {"k=v; ", "; ", -1, {"k=v"}},
        {",a", ",", -1, {"", "a"}},
        {",,", ",", -1, {"", ""}},
        {"", ",", -1, {}},
        {"abc", "", -1, {"abc"}},
        {"abc", ",", -1, {"abc"}},
        {"a,b,c", ",", 2, {"a", "b"}},
        {"a,b,c", ",", 3, {"a", "b", "c"}},
        {"a,b,c", ",", 0, {}},
        {"x\x81,y", ",", -1, {"x\x81,y"}}, // the comma is a trail byte
        {"a" + kZhong + "b" + kZhong, kZhong, -1, {"a", "b"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> got = text_split(c.text, c.delimiter, c.max);
        EXPECT_EQ(got, c.expected) << "text=" << c.text << " delimiter=" << c.delimiter << " max=" << c.max;
    }
}

TEST(TextTrim, Table) {
    const std::pair<std::string, std::string> cases[] = {
        {"\t x ", "\t x"},
        {"   ", ""},
        {"", ""},
        {" a b ", "a b"},
        {kIdeoSpace + " x" + kIdeoSpace + " " + kIdeoSpace, "x"},
        {kIdeoSpace + kIdeoSpace, ""},
        {"x\r\n", "x\r\n"},
        // A trailing 0xA1 or 0x20 that is the trail byte of a character is no space.
        {"\xB0\xA1\xA1", "\xB0\xA1\xA1"},
        {"x\xB0\xA1\xA1\xA1", "x\xB0\xA1"},
        {"\x81 ", "\x81 "},
        {" " + kZhong + " ", kZhong},
    };
    for (const auto& [in, expected] : cases)
        EXPECT_EQ(text_trim(in), expected) << "in=" << in;
}

TEST(TextCase, OnlyAsciiLettersChange) {
    EXPECT_EQ(text_upper("abC" + kShu + "z_1"), "ABC" + kShu + "Z_1");
    EXPECT_EQ(text_lower("ABc" + kShu + "Z_1"), "abc" + kShu + "z_1");
    EXPECT_EQ(text_upper("\x81\x61"), "\x81\x61");
    EXPECT_EQ(text_lower(kTrailA + "A"), kTrailA + "a");
    EXPECT_EQ(text_upper(""), "");
}

TEST(TextBetween, Table) {
    struct Case {
        std::string text, start, end;
        int from;
        bool ignoreCase;
        std::string expected;
    };
    const std::string q = "#\xD2\xFD\xBA\xC5"; // #引号
    const Case cases[] = {
        {"<a>x</a>", "<a>", "</a>", 1, false, "x"},
        {"<b>x</a>", "<a>", "</a>", 1, false, ""},
        {"<a>x</b>", "<a>", "</a>", 1, false, ""},
        {"</a><a>x", "<a>", "</a>", 1, false, ""},
        {"<a></a>", "<a>", "</a>", 1, false, ""},
        {"<a>1</a><a>2</a>", "<a>", "</a>", 2, false, "2"},
        {"<A>x</A>", "<a>", "</a>", 1, false, ""},
        {"<A>x</A>", "<a>", "</a>", 1, true, "x"},
        {"<a href=\"u\">", "href=" + q, q, 1, false, "u"},
        {"<a href=\"" + kZhong + "\">", "href=" + q, q + ">", 1, false, kZhong},
        {"<a>" + kZhong + kWen + "</a>", "<a>", "</a>", 1, false, kZhong + kWen},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(text_between(c.text, c.start, c.end, c.from, c.ignoreCase), c.expected)
            << "text=" << c.text;
    }
}

TEST(TextLeftRightOf, Table) {
    EXPECT_EQ(text_right_of("Connection: keep-alive", "Connection: "), "keep-alive");
    EXPECT_EQ(text_right_of("a: b: c", ": "), "c");
    EXPECT_EQ(text_right_of("abc", ": "), "");
    EXPECT_EQ(text_right_of("abc:", ":"), "");
    EXPECT_EQ(text_left_of("Set-Cookie: x", ": "), "Set-Cookie");
    EXPECT_EQ(text_left_of("a: b: c", ": "), "a");
    EXPECT_EQ(text_left_of("abc", ": "), "");
    EXPECT_EQ(text_left_of(": x", ": "), "");
}

TEST(DedupeItems, Table) {
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"a=1; b=2; a=1", "; ", "a=1; b=2"},
        {"a=1; a=2", "; ", "a=1; a=2"},
        {"", "; ", ""},
        {"a,,b,,", ",", "a,,b"},
        {"a,b,", ",", "a,b"},
        {"b,a,b,a,c", ",", "b,a,c"},
        {"abc", "", "abc"},
    };
    for (const auto& [in, delimiter, expected] : cases)
        EXPECT_EQ(dedupe_items(in, delimiter), expected) << in;
}

TEST(BytesToText, EndsAtFirstNul) {
    EXPECT_EQ(bytes_to_text("ab\0cd"s), "ab");
    EXPECT_EQ(bytes_to_text("abc"), "abc");
    EXPECT_EQ(bytes_to_text("\0x"s), "");
}

struct ConversionCase {
    std::string input, expected;
};

TEST(Utf8ToGbk, Table) {
    const ConversionCase cases[] = {
        {"", ""},
        {"plain ascii", "plain ascii"},
        {"ab数据cd", "ab" + kShu + kJu + "cd"},
        {"€", "\x80"},
        {"中文\xF0\x9F\x98\x80!", kZhong + kWen + "?!"}, // U+1F600 is outside GBK
        {"\xEA\xB0\x80", "?"},                           // Hangul syllable
        {"\xEF\xBB\xBF", "?"},                           // a byte-order mark is a character like any other
        // Ill-formed input: one "?" per maximal ill-formed subpart, valid text around it kept.
        {"a\xFF"
         "b",
         "a?b"},
        {"\x80\x80", "??"},
        {"x\xC3", "x?"},
        {"\xE4\xB8", "?"},
        {"\xE4\xB8"
         "a",
         "?a"},
        {"\xE4\xB8\xE6\x96\x87", "?" + kWen},
        {"\xC0\x80", "??"},
        {"\xED\xA0\x80", "???"},
        {"\xF4\x90\x80\x80", "????"},
        {"\xF0\x9F\x98", "?"},
        {"\xF8\x88\x80\x80\x80", "?????"},
        {"中\xFF文", kZhong + "?" + kWen},
        // The result ends at the first NUL.
        {"a\0b"s, "a"},
        {"中\0文"s, kZhong},
        {"\0"s, ""},
    };
    for (const ConversionCase& c : cases)
        EXPECT_EQ(utf8_to_gbk(c.input), c.expected) << "input=" << c.input;
}

TEST(Utf8ToGbk, LongMixedInputKeepsEveryCharacter) {
    std::string utf8, gbk;
    for (int i = 0; i < 20000; ++i) {
        utf8 += (i % 7 == 0) ? "\xFF" : (i % 3 == 0) ? "中" : "ab";
        gbk += (i % 7 == 0) ? "?" : (i % 3 == 0) ? kZhong : "ab";
    }
    EXPECT_EQ(utf8_to_gbk(utf8), gbk);
}

TEST(GbkToUtf8, Table) {
    const ConversionCase cases[] = {
        {"", ""},
        {"ab" + kShu + kJu + "cd", "ab数据cd"},
        {"\x80", "€"},
        {kIdeoSpace, "\xE3\x80\x80"},
        {"a\xFF"
         "b",
         "a?b"},
        {"a\x81", "a?"},
        {"\x81 x", "? x"}, // a stray lead byte does not swallow markup behind it
    };
    for (const ConversionCase& c : cases)
        EXPECT_EQ(gbk_to_utf8(c.input), c.expected) << "input=" << c.input;
}

TEST(GbkRoundTrip, EveryDoubleByteCharacterSurvivesUtf8AndUtf16) {
    int decoded = 0;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail == 0x7F) continue;
            std::string gbk{static_cast<char>(lead), static_cast<char>(trail)};
            std::string utf8 = gbk_to_utf8(gbk);
            if (utf8 == "?") continue; // unassigned in GBK
            ++decoded;
            EXPECT_EQ(utf8_to_gbk(utf8), gbk) << std::hex << lead << " " << trail;
            EXPECT_EQ(utf16_to_gbk(gbk_to_utf16(gbk)), gbk) << std::hex << lead << " " << trail;
        }
    }
    EXPECT_GT(decoded, 21000); // GBK assigns 21886 double-byte codes
}

TEST(GbkToUtf16, TerminatorRule) {
    EXPECT_EQ(gbk_to_utf16("a"), "a\0\0\0"s);
    EXPECT_EQ(gbk_to_utf16("a", false), "a\0"s);
    EXPECT_EQ(gbk_to_utf16(kShu), "\x70\x65\0\0"s);
    EXPECT_EQ(gbk_to_utf16(""), "");
    EXPECT_EQ(gbk_to_utf16("", false), "");
    EXPECT_EQ(gbk_to_utf16("ab" + kZhong).size(), 2u * (3 + 1));
    EXPECT_EQ(gbk_to_utf16("\xFF", false), "?\0"s);
}

TEST(Utf16ToGbk, Table) {
    const ConversionCase cases[] = {
        {"", ""},
        {"a\0"s, "a"},
        {"\x70\x65"s, kShu},
        {"a\0\0\0b\0"s, "a"},       // ends at the terminator
        {"\x3D\xD8\x00\xDE"s, "?"}, // U+1F600, one character outside GBK
        {"\x3D\xD8"
         "a\0"s,
         "?a"}, // unpaired high surrogate
        {"\x00\xDE"
         "a\0"s,
         "?a"},                             // unpaired low surrogate
        {"a\0\x3D\xD8"s, "a?"},             // high surrogate at the end
        {"a\0b"s, "a?"},                    // odd byte left over
        {"\x00\xAC\x2D\x4E"s, "?" + kZhong} // U+AC00 (Hangul) then U+4E2D
    };
    for (const ConversionCase& c : cases)
        EXPECT_EQ(utf16_to_gbk(c.input), c.expected);
}

TEST(DecodeToGbk, DeclaredCharsets) {
    struct Case {
        std::string bytes, charset;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"\xE4\xB8\xAD\xE6\x96\x87", "utf-8", kZhong + kWen},
        {"\xE4\xB8\xAD\xE6\x96\x87", "UTF8", kZhong + kWen},
        {"\xEF\xBB\xBF"
         "a",
         "utf-8", "a"},
        {"a\xFF", "UTF-8", "a?"},
        {"\xA4\xA4\xA4\xE5", "big5", kZhong + kWen},
        {"\xE9", "iso-8859-1", "\xA8\xA6"}, // é
        {"\x80", "windows-1252", "\x80"},   // €
        {"\x92\x86\x95\xB6", "shift_jis", kZhong + kWen},
        {"\xD6\xD0\x95\x32\x82\x36", "gb18030", kZhong + "?"}, // U+1F600 has no GBK form
        {kZhong + "\xFF", "GB2312", kZhong + "\xFF"},          // read as GBK: bytes kept
        {kZhong, "x-gbk", kZhong},
        {kZhong, "GBK", kZhong},
        {"a\0b"s, "gbk", "a"},
        {"a\0b"s, "iso-8859-1", "a"},
        {"", "big5", ""},
        {"\xFF\xFF"
         "a",
         "big5", "??a"},
        {"abc", "no-such-charset", std::nullopt},
        {"abc", "", std::nullopt},
        {"abc", "utf-8//IGNORE", std::nullopt},
        {"abc", " \"UTF-8\" ", "abc"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decode_to_gbk(c.bytes, c.charset), c.expected) << "charset=" << c.charset;
    }
}

TEST(Bytes, ValidUtf8BesideInvalidAndTruncated) {
    struct Case {
        std::string bytes;
        bool valid;
    } cases[] = {
        {"", true},
        {"plain ascii", true},
        {"\xE4\xB8\xAD\xE6\x96\x87", true},         // 中文
        {"\xC2\x80\xDF\xBF", true},                 // the ends of the two-byte range
        {"\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF", true}, // U+1F600 and U+10FFFF
        {"\xE4\xB8", false},                         // cut off
        {"a\xF0\x9F\x98", false},
        {"\xC0\x80", false},                         // overlong NUL
        {"\xE0\x80\x80", false},                     // overlong
        {"\xED\xA0\x80", false},                     // a surrogate
        {"\xF4\x90\x80\x80", false},                 // above U+10FFFF
        {"\x80", false},                             // a lone trail byte
        {"\xD6\xD0\xCE\xC4", false},                 // 中文 in GBK
        {"\xE4\x41\xAD", false},                     // a trail byte that is not one
    };
    for (const Case& c : cases)
        EXPECT_EQ(validUtf8(c.bytes), c.valid) << testing::PrintToString(c.bytes);
}

TEST(Bytes, ReplaceAllReplacesEveryOccurrenceFromTheLeft) {
    struct Case {
        const char* text;
        const char* find;
        const char* with;
        const char* expected;
    } cases[] = {
        {"", "a", "b", ""},
        {"abc", "x", "y", "abc"},
        {"a\r\nb\r\n", "\r\n", "><br><", "a><br><b><br><"},
        {"aaa", "aa", "b", "ba"},      // no overlapping matches
        {"xax", "x", "", "a"},
        {"q\"q", "\"", "#\"#", "q#\"#q"}, // the replacement is not searched again
    };
    for (const Case& c : cases)
        EXPECT_EQ(replaceAll(c.text, c.find, c.with), c.expected) << c.text;
}

} // namespace
} // namespace zelkor
