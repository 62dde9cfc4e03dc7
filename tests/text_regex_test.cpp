#include "text/json_text.h"
#include "text/regex.h"
#include "text/text.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace zelkor {
namespace {

// Test texts are written in UTF-8 and handed to the object as GBK, as the system does.
Text g(const std::string& utf8) {
    return utf8_to_gbk(utf8);
}

const char* const kMetaCharset = "<meta.+?charset=[^\\w]?([-\\w]+)";
const char* const kBlankLines = "(?:^\\r|\\n$)";
const char* const kStripHtml = "<script[\\s\\S]*?</script>|<style[\\s\\S]*?</style>|<[^>]+>|&.{1,8};";

TEST(RegexGbk, TestTextsAreGbk) {
    // Guards every Chinese case below: 数据 and 引号 in GBK.
    EXPECT_EQ(g("数据引号"), "\xCA\xFD\xBE\xDD\xD2\xFD\xBA\xC5");
}

// ---- the three patterns the system uses -------------------------------------------------------

struct CharsetCase {
    const char* name;
    std::string page;
    std::string charset; // group 1 of match 1
};

TEST(RegexMetaCharset, ReadsTheDeclaredCharset) {
    const CharsetCase cases[] = {
        {"http-equiv", "<head><meta http-equiv=Content-Type content=text/html; charset=utf-8></head>",
         "utf-8"},
        {"capitals keep their case",
         "<HEAD><META http-equiv=Content-Type CONTENT=\"text/html; CHARSET=GBK\">", "GBK"},
        {"html5 form with a quote", "<meta charset=\"gb2312\" />", "gb2312"},
        {"after CR LF lines", "<html>\r\n<head>\r\n<meta charset='Big5'>\r\n", "Big5"},
        {"dot does not cross LF", "<meta name=x>\n<p>charset=no</p>\n<meta charset=koi8-r>", "koi8-r"},
        {"dot crosses CR", "<meta\rcharset=iso-8859-1>", "iso-8859-1"},
        {"Chinese before it", g("<title>手机数据</title><meta charset=\"UTF-8\">"), "UTF-8"},
        {"no meta", "<html><body>charset=utf-8</body></html>", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RegexObject re;
        ASSERT_TRUE(re.create(kMetaCharset, c.page));
        EXPECT_EQ(re.group_text(1, 1), c.charset);
        EXPECT_EQ(re.match_count() > 0, !c.charset.empty());
    }
}

struct ReplaceCase {
    const char* name;
    std::string subject;
    std::string expected;
};

TEST(RegexBlankLines, RemovesBlankLines) {
    const ReplaceCase cases[] = {
        {"three line breaks become one", "a\r\n\r\n\r\nb", "a\r\nb"},
        // "a\r\n\r\n" once its trailing CR LF is dropped: the LF before the end goes, the CR stays.
        {"a list ending in a blank line", "a\r\n", "a\r"},
        {"CR at the start", "\r\na", "\na"},
        {"LF lines", "a\n\nb", "a\nb"},
        {"lone CRs", "a\r\rb", "a\rb"},
        {"nothing to clean", "a\r\nb", "a\r\nb"},
        {"empty", "", ""},
        {"Chinese words", g("词一\r\n\r\n词二\r\n\r\n\r\n词三"), g("词一\r\n词二\r\n词三")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RegexObject re;
        ASSERT_TRUE(re.create(kBlankLines, c.subject));
        EXPECT_EQ(re.replace(""), c.expected);
    }
}

TEST(RegexStripHtml, RemovesTagsScriptsAndShortEntities) {
    const ReplaceCase cases[] = {
        {"tags", g("<b>手机</b>壳"), g("手机壳")},
        {"entity", "a&nbsp;b", "ab"},
        {"ampersand with a semicolon soon after", "a & b;c", "a c"},
        {"tag between words", "a<br>b", "ab"},
        {"no semicolon within nine characters", "a & bcdefghij", "a & bcdefghij"},
        {"the longest run", "&amp;x;y", "y"},
        {"eight Chinese characters count as eight", g("&一二三四五六七八;x"), "x"},
        {"nine do not fit", g("&一二三四五六七八九;x"), g("&一二三四五六七八九;x")},
        {"script with its content", "<script type=x>\r\nvar a = '<b>';\r\n</script>k", "k"},
        {"style in capitals", "<STYLE>\r\np{}\r\n</style>k", "k"},
        {"a tag over lines", "<a\r\nhref=1>k</a>", "k"},
        {"entity dot stops at LF", "&a\nb;", "&a\nb;"},
        {"entity dot takes CR", "&a\rb;", ""},
        {"plain", g("手机壳 a"), g("手机壳 a")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RegexObject re;
        ASSERT_TRUE(re.create(kStripHtml, c.subject));
        EXPECT_EQ(re.replace(""), c.expected);
    }
}

// ---- matching -----------------------------------------------------------------------------------

struct MatchCase {
    const char* name;
    std::string pattern;
    std::string subject;
    std::vector<std::string> matches;
    bool caseSensitive = false;
    bool multiLine = true;
    bool global = true;
};

TEST(RegexMatch, FindsWhatTheDialectFinds) {
    const MatchCase cases[] = {
        {"all matches", "an", "banana", {"an", "an"}},
        {"first only when not global", "an", "banana", {"an"}, false, true, false},
        {"ignores case by default", "b", "aBcb", {"B", "b"}},
        {"case-sensitive", "b", "aBcb", {"b"}, true},
        {"full-width letters fold", g("ａ"), g("ＡａＢ"), {g("Ａ"), g("ａ")}},
        {"Greek folds", g("α"), g("Α"), {g("Α")}},
        {"full-width case-sensitive", g("ａ"), g("ＡａＢ"), {g("ａ")}, true},
        {"dot takes CR, not LF", ".+", "ab\rc\nd", {"ab\rc", "d"}},
        {"a Chinese character is one", "^.{2}$", g("数据"), {g("数据")}},
        {"lazy", "<.+?>", "<a><b>", {"<a>", "<b>"}},
        {"caret at line starts", "^\\w", "a\r\nb\rc\nd", {"a", "b", "c", "d"}},
        {"caret between CR and LF", "^\\n", "a\r\nb", {"\n"}},
        {"dollar before CR LF", "\\w$", "a\r\nb", {"a", "b"}},
        {"dollar between CR and LF", "\\r$", "a\r\nb", {"\r"}},
        {"caret after a final line break", "^", "a\n", {"", ""}},
        {"single line caret", "^\\w", "a\nb", {"a"}, false, false},
        {"single line dollar only at the very end", "\\w$", "a\nb\n", {}, false, false},
        {"empty matches step by a character", "x*", g("数a"), {"", "", ""}},
        {"empty match after a match", "b*", "abc", {"", "b", "", ""}},
        {"look-ahead", "\\w+(?=!)", "hi! yo", {"hi"}},
        {"alternation order", "a|ab", "ab", {"a"}},
        {"ideographic space is white space", "\\s", g("a　b"), {g("　")}},
        {"negated space class", "[^\\S]+", g("a 　\tb"), {g(" 　\t")}},
        {"non-space", "\\S+", g("数 b"), {g("数"), "b"}},
        {"word characters are ASCII", "\\w+", g("ab数cd"), {"ab", "cd"}},
        {"digits are ASCII", "\\d", g("1３"), {"1"}},
        {"unicode escape", "\\u6570", g("据数"), {g("数")}},
        {"hex escape", "\\x41", "bA", {"A"}},
        {"unknown letter escapes are letters", "\\A\\Q\\z", "xAQz", {"AQz"}},
        {"empty class matches nothing", "a[]", "a", {}},
        {"negated empty class matches anything", "a[^]", "a\n", {"a\n"}},
        {"bracket inside a class is literal", "[[:a]+", "[:a]", {"[:a"}},
        {"back reference", "(\\w)\\1", "abbc", {"bb"}},
        {"reference to a missing group is octal", "a\\2", "a\x02", {"a\x02"}},
        {"\\8 without a group is the digit", "\\8", "18", {"8"}},
        {"trail byte that looks like a backslash",
         "\x81\x5C"
         "d",
         "\x81\x5C"
         "d1",
         {"\x81\x5C"
          "d"}},
        {"trail byte that looks like a bracket", "\x81\x5B", "\x81\x5B", {"\x81\x5B"}},
        {"no match inside a double-byte character",
         "a",
         "\x81\x61"
         "a",
         {"a"}},
        {"lone bytes are characters",
         "^.b.$",
         "\xFF"
         "b\x81",
         {"\xFF"
          "b\x81"}},
        {"undefined pair is one character", "^.$", "\xAA\xA1", {"\xAA\xA1"}},
        {"euro sign", "\\u20AC", "a\x80", {"\x80"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RegexObject re;
        ASSERT_TRUE(re.create(c.pattern, c.subject, c.caseSensitive, c.multiLine, c.global));
        ASSERT_EQ(re.match_count(), static_cast<int>(c.matches.size()));
        for (std::size_t i = 0; i < c.matches.size(); ++i)
            EXPECT_EQ(re.match_text(static_cast<int>(i) + 1), c.matches[i]) << "match " << i + 1;
    }
}

TEST(RegexMatch, PositionsAreGbkByteOffsets) {
    struct Case {
        const char* name;
        std::string pattern;
        std::string subject;
        int match;
        int group; // 0: the whole match
        std::string text;
        int position;
    };
    const Case cases[] = {
        {"after two Chinese characters", "a", g("数据ab"), 1, 0, "a", 4},
        {"second match, not the first occurrence", "a", g("数据a数据a"), 2, 0, "a", 9},
        {"group after the match start", "(a)b(a)", g("数aba"), 1, 2, "a", 4},
        {"first group", "(a)b(a)", g("数aba"), 1, 1, "a", 2},
        {"Chinese match", g("据"), g("数据据"), 2, 0, g("据"), 4},
        {"empty match at the end", "$", g("数"), 1, 0, "", 2},
        {"group that took no part", "(x)?a", "a", 1, 1, "", -1},
        {"match out of range", "a", "a", 2, 0, "", -1},
        {"group out of range", "(a)", "a", 1, 2, "", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RegexObject re;
        ASSERT_TRUE(re.create(c.pattern, c.subject));
        int position = 42;
        const Text text =
            c.group == 0 ? re.match_text(c.match, &position) : re.group_text(c.match, c.group, &position);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(position, c.position);
    }
}

TEST(RegexMatch, IndexesCountFromOne) {
    RegexObject re;
    ASSERT_TRUE(re.create("(\\d+)-(x)?", "12- 3-x"));
    ASSERT_EQ(re.match_count(), 2);
    EXPECT_EQ(re.group_count(), 2);
    const struct {
        int match, group;
        std::string text;
    } cases[] = {
        {1, 1, "12"}, {1, 2, ""}, {2, 1, "3"}, {2, 2, "x"},  {0, 1, ""},
        {3, 1, ""},   {1, 0, ""}, {1, 3, ""},  {-1, -1, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(re.group_text(c.match, c.group), c.text) << c.match << "," << c.group;
    EXPECT_EQ(re.match_text(1), "12-");
    EXPECT_EQ(re.match_text(2), "3-x");
    EXPECT_EQ(re.match_text(0), "");
    EXPECT_EQ(re.match_text(5), "");
    EXPECT_EQ(re.match_text(-3), "");
}

TEST(RegexMatch, GroupCountIsThatOfTheFirstMatch) {
    const struct {
        const char* pattern;
        const char* subject;
        int groups;
    } cases[] = {
        {"(a)(b)?(?:c)", "ac", 2},
        {"a", "a", 0},
        {"(a)", "b", 0}, // no match: no first match to count
        {"(?=(a))", "a", 1},
    };
    for (const auto& c : cases) {
        RegexObject re;
        ASSERT_TRUE(re.create(c.pattern, c.subject));
        EXPECT_EQ(re.group_count(), c.groups) << c.pattern;
    }
}

// ---- replace ------------------------------------------------------------------------------------

TEST(RegexReplace, ExpandsDollarForms) {
    const struct {
        const char* name;
        std::string pattern;
        std::string subject;
        std::string replacement;
        std::string expected;
        bool global = true;
    } cases[] = {
        {"delete", "b", "abcb", "", "ac"},
        {"first only", "b", "abcb", "", "acb", false},
        {"group", "(\\w)-(\\w)", "a-b c-d", "$2-$1", "b-a d-c"},
        {"whole match", "\\d+", "x12y", "[$&]", "x[12]y"},
        {"dollar dollar", "b", "abc", "$$", "a$c"},
        {"before and after", "b", "abc", "<$`|$'>", "a<a|c>c"},
        {"dollar zero is literal", "b", "abc", "$0", "a$0c"},
        {"missing group is literal", "(b)", "abc", "$2", "a$2c"},
        {"second digit kept when the pair is no group", "(b)", "abc", "$10", "ab0c"},
        {"two digits", "(b)", "abc", "$01", "abc"},
        {"group that took no part", "(x)?b", "abc", "[$1]", "a[]c"},
        {"trailing dollar", "b", "abc", "$", "a$c"},
        {"other dollar", "b", "abc", "$x", "a$xc"},
        {"Chinese", g("(数)据"), g("数据库"), g("【$1】"), g("【数】库")},
        {"empty matches", "x*", g("数a"), "-", g("-数-a-")},
        {"empty after a match", "b*", "abc", "-", "-a--c-"},
        {"no match", "z", g("数据"), "y", g("数据")},
        {"lone bytes stay", "b",
         "\xFF"
         "b\x81",
         "", "\xFF\x81"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RegexObject re;
        ASSERT_TRUE(re.create(c.pattern, c.subject, false, true, c.global));
        EXPECT_EQ(re.replace(c.replacement), c.expected);
    }
}

// ---- life cycle ---------------------------------------------------------------------------------

void expectEmpty(const RegexObject& re) {
    EXPECT_EQ(re.match_count(), 0);
    EXPECT_EQ(re.group_count(), 0);
    EXPECT_EQ(re.match_text(1), "");
    EXPECT_EQ(re.group_text(1, 1), "");
    EXPECT_EQ(re.replace("x"), "");
    EXPECT_EQ(re.pattern(), "");
}

TEST(RegexLifeCycle, InvalidPatternsGiveFalseAndEmptyAnswers) {
    const char* const patterns[] = {"(", "a)", "[a", "*a", "a{2,1}", "\\", "(?<=a", "a**", "(?P<", "\\k<x>("};
    for (const char* pattern : patterns) {
        SCOPED_TRACE(pattern);
        RegexObject re;
        EXPECT_FALSE(re.create(pattern, "a(b)c"));
        expectEmpty(re);
        int position = 0;
        EXPECT_EQ(re.match_text(1, &position), "");
        EXPECT_EQ(position, -1);
    }
}

// Syntax that only PCRE2 has is refused, not quietly given PCRE2's meaning; the dialect's own
// forms that look alike still compile and match as the dialect does.
TEST(RegexLifeCycle, SyntaxTheDialectLacksIsRefused) {
    const char* const refused[] = {
        "(?<=a)b",  "(?<!a)b",     "(?<n>a)",   "(?P<n>a)", "(?'n'a)", "(?i)A",   "(?i:A)",
        "(?-i)a",   "(?s).",       "(?x) a",    "(?>a+)b",  "(?|(a)|(b))", "(?#note)a", "(a)(?1)",
        "(?R)?",    "(?(1)a|b)",   "(*CR)a$",   "(*LF)",    "(*UTF)a", "a(*ACCEPT)", "(*",
        "a*+",      "a++b",        "a?+",       "a{2}+",    "a{1,}+",  "\\d++",   "[ab]*+"};
    for (const char* pattern : refused) {
        SCOPED_TRACE(pattern);
        RegexObject re;
        EXPECT_FALSE(re.create(pattern, "aab\r\nb"));
        expectEmpty(re);
    }
    const struct {
        const char* pattern;
        const char* subject;
        int matches;
    } accepted[] = {
        {"(?:a)+", "aa", 1},     {"a(?=b)", "ab", 1},   {"a(?!b)", "ab a", 1}, {"a*?b", "aab", 1},
        {"a+?", "aa", 2},        {"a??b", "ab", 1},     {"a{1,2}?", "aaa", 3}, {"a{2}", "aaaa", 2},
        {"[+*?(]", "+*?(", 4},   {"\\(?a", "(a a", 2}, {"a{,2}", "a{,2}", 1}, {"x{a}", "x{a}", 1},
        {"(a)+", "aa", 1},       {"\\++", "++", 1},   {"a*b+c?", "aabbc", 1},
    };
    for (const auto& c : accepted) {
        SCOPED_TRACE(c.pattern);
        RegexObject re;
        ASSERT_TRUE(re.create(c.pattern, c.subject));
        EXPECT_EQ(re.match_count(), c.matches);
    }
}

// \v is the vertical tab alone, in a class or not; LF, CR and FF are not.
TEST(RegexLifeCycle, VerticalTabEscapeIsOneCharacter) {
    for (const char* pattern : {"\\v", "[\\v]"}) {
        SCOPED_TRACE(pattern);
        RegexObject re;
        ASSERT_TRUE(re.create(pattern, "a\vb\nc\rd\fe"));
        EXPECT_EQ(re.match_count(), 1);
        EXPECT_EQ(re.match_text(1), "\v");
    }
    RegexObject re;
    ASSERT_TRUE(re.create("[^\\v]+", "a\nb\vc"));
    EXPECT_EQ(re.match_count(), 2);
    EXPECT_EQ(re.match_text(1), "a\nb");
}

TEST(RegexLifeCycle, NeverCreated) {
    RegexObject re;
    expectEmpty(re);
}

TEST(RegexLifeCycle, CreateReplacesEverything) {
    RegexObject re;
    ASSERT_TRUE(re.create("(a)", "aa"));
    EXPECT_FALSE(re.create("(", "aa"));
    expectEmpty(re);
    ASSERT_TRUE(re.create("b", "abb", true));
    EXPECT_EQ(re.pattern(), "b");
    EXPECT_EQ(re.match_count(), 2);
    EXPECT_EQ(re.group_count(), 0);
    EXPECT_EQ(re.replace("c"), "acc");
}

TEST(RegexLifeCycle, CopySharesTheRunAndKeepsItsSubject) {
    RegexObject original;
    ASSERT_TRUE(original.create("(\\w)\\w", "ab cd"));
    RegexObject copy = original.copy();
    ASSERT_TRUE(original.create("z", "zz"));
    EXPECT_EQ(copy.pattern(), "(\\w)\\w");
    EXPECT_EQ(copy.match_count(), 2);
    EXPECT_EQ(copy.group_text(2, 1), "c");
    EXPECT_EQ(copy.replace("$1"), "a c");
    original = copy;
    EXPECT_EQ(original.match_text(2), "cd");
    RegexObject moved = std::move(copy);
    EXPECT_EQ(moved.replace(""), " ");
}

TEST(RegexLifeCycle, QuotePlaceholder) {
    const std::string pattern = g("#引号(.+?)#引号");
    RegexObject re;
    ASSERT_TRUE(re.create(pattern, "a \"b\" c", false, true, true, true));
    EXPECT_EQ(re.pattern(), "\"(.+?)\"");
    EXPECT_EQ(re.group_text(1, 1), "b");

    ASSERT_TRUE(re.create(pattern, g("#引号x#引号 \"y\"")));
    EXPECT_EQ(re.pattern(), pattern);
    EXPECT_EQ(re.group_text(1, 1), "x");
}

TEST(RegexLifeCycle, PathologicalPatternsEnd) {
    // Catastrophic backtracking and very deep repetition give up or finish; neither hangs nor crashes.
    RegexObject re;
    EXPECT_TRUE(re.create("(a+)+b", std::string(40, 'a') + "c"));
    EXPECT_EQ(re.match_count(), 0);
    const std::string longSubject(300000, 'a');
    EXPECT_TRUE(re.create("(a|b)*c|(a|b)*", longSubject));
    EXPECT_LE(re.match_count(), 2);
    EXPECT_TRUE(re.create("x*", longSubject));
    EXPECT_EQ(re.match_count(), 300001);
}

TEST(RegexLifeCycle, ObjectsOnSeveralThreads) {
    std::vector<std::thread> threads;
    std::vector<int> ok(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &ok] {
            const Text subject = g("<b>手机</b>壳&nbsp;") + std::to_string(t);
            for (int k = 0; k < 200; ++k) {
                RegexObject re;
                if (re.create(kStripHtml, subject) && re.replace("") == g("手机壳") + std::to_string(t))
                    ++ok[t];
            }
        });
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(ok[t], 200) << "thread " << t;
}

// ---- against JavaScript ------------------------------------------------------------------------

std::string hex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out.empty() ? "=" : out;
}

int characterIndex(const Text& subject, int byteOffset) {
    const std::string utf8 = gbk_to_utf8(subject.substr(0, static_cast<std::size_t>(byteOffset)));
    int count = 0;
    for (unsigned char b : utf8)
        count += (b & 0xC0) != 0x80;
    return count;
}

// The script engines' dialect differs from JavaScript in one point that matters here: its "." takes
// CR (and every other character but LF). The script rewrites "." accordingly before matching.
const char* const kNodeScript = R"JS(
const fs = require('fs');
const input = JSON.parse(fs.readFileSync(process.argv[2], 'utf8'));
const hex = s => s === undefined ? '-' : (s === '' ? '=' : Buffer.from(s, 'utf8').toString('hex'));
function dialect(p) {
  let out = '', inClass = false;
  for (let i = 0; i < p.length; i++) {
    const c = p[i];
    if (c === '\\') { out += c + p[++i]; continue; }
    if (inClass) { if (c === ']') inClass = false; out += c; continue; }
    if (c === '[') { inClass = true; out += c; if (p[i + 1] === '^') out += p[++i]; continue; }
    out += c === '.' ? '[^\\n]' : c;
  }
  return out;
}
const lines = [];
for (const c of input) {
  const re = new RegExp(dialect(c.pattern), 'gim');
  const found = [...c.subject.matchAll(re)];
  lines.push('n ' + found.length);
  for (const m of found) lines.push('m ' + m.index + ' ' + hex(m[0]) + ' ' + hex(m[1]));
  lines.push('r ' + hex(c.subject.replace(re, '')) + ' ' + hex(c.subject.replace(re, '<$1$&$$>')));
}
fs.writeFileSync(process.argv[3], lines.join('\n') + '\n');
)JS";

TEST(RegexAgainstJavaScript, SystemPatternsAgree) {
    // Without node this comparison would prove nothing; scripts/setup installs it.
    ASSERT_EQ(std::system("node --version > /dev/null 2>&1"), 0) << "node is missing: install nodejs";

    // Subjects built from the pieces these patterns care about, mixed at random with a fixed seed.
    const std::vector<std::string> pieces = {
        "<meta ",  "<META ",   "charset=", "CharSet=\"", "utf-8",  "GBK",      "http-equiv=", "content=",
        "<",       ">",        "&",        ";",          "&nbsp;", "&amp;",    "<script>",    "</script>",
        "<style>", "</STYLE>", "<b>",      "</b>",       "\r",     "\n",       "\r\n",        " ",
        "\t",      "a",        "B",        "-",          "_",      "=",        "'",           "\"",
        "数",      "据",       "手机",     "　",         "壳",     "&一二三;", "x;",          "\r\n\r\n"};
    std::mt19937 random(20240601);
    std::vector<std::string> subjects; // UTF-8
    for (int i = 0; i < 300; ++i) {
        std::string s;
        const int length = static_cast<int>(random() % 24);
        for (int k = 0; k < length; ++k)
            s += pieces[random() % pieces.size()];
        subjects.push_back(s);
    }
    const std::vector<std::string> patterns = {kMetaCharset, kBlankLines, kStripHtml,
                                               "^.*$",       "\\s+",      "[^\\w]+"};

    test::TempDir dir;
    std::string json = "[";
    for (const auto& p : patterns)
        for (const auto& s : subjects)
            json += (json.size() > 1 ? "," : "") + std::string("{\"pattern\":") + jsonString(p) +
                    ",\"subject\":" + jsonString(s) + "}";
    json += "]";
    test::writeFile(dir / "cases.json", json);
    test::writeFile(dir / "run.js", kNodeScript);
    const std::string command = "node '" + (dir / "run.js").string() + "' '" + (dir / "cases.json").string() +
                                "' '" + (dir / "out.txt").string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::istringstream out(test::readFile(dir / "out.txt"));

    int compared = 0;
    for (const auto& p : patterns)
        for (const auto& s : subjects) {
            SCOPED_TRACE("pattern " + p + " subject " + hex(s));
            const Text subject = g(s);
            RegexObject re;
            ASSERT_TRUE(re.create(p, subject));
            std::string tag;
            int count = -1;
            out >> tag >> count;
            ASSERT_EQ(tag, "n");
            ASSERT_EQ(re.match_count(), count);
            for (int m = 1; m <= count; ++m) {
                int index = -1;
                std::string text, group;
                out >> tag >> index >> text >> group;
                int position = -1;
                EXPECT_EQ(hex(gbk_to_utf8(re.match_text(m, &position))), text) << "match " << m;
                EXPECT_EQ(characterIndex(subject, position), index) << "match " << m;
                if (re.group_count() >= 1) {
                    const Text ours = re.group_text(m, 1, &position);
                    EXPECT_EQ(position < 0 ? "-" : hex(gbk_to_utf8(ours)), group) << "group of match " << m;
                }
            }
            std::string deleted, replaced;
            out >> tag >> deleted >> replaced;
            ASSERT_EQ(tag, "r");
            EXPECT_EQ(hex(gbk_to_utf8(re.replace(""))), deleted);
            EXPECT_EQ(hex(gbk_to_utf8(re.replace("<$1$&$$>"))), replaced);
            ++compared;
        }
    EXPECT_EQ(compared, static_cast<int>(patterns.size() * subjects.size()));
}

} // namespace
} // namespace zelkor
