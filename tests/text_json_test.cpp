#include "text/json.h"

#include <gtest/gtest.h>

#include <cmath>

#include <string>
#include <vector>

namespace zelkor {
namespace {

// Test sources are UTF-8; the document speaks GBK.
Text G(std::string_view utf8) {
    return utf8_to_gbk(utf8);
}

JsonDocument parsed(std::string_view literal, bool expectOk = true) {
    JsonDocument doc;
    EXPECT_TRUE(doc.init());
    EXPECT_EQ(doc.parse(literal), expectOk) << literal;
    return doc;
}

// ---------------------------------------------------------------------------------------------

TEST(JsonDocument, ReadsTheSuggestionShapes) {
    JsonDocument doc = parsed(R"({q:"kw",p:false,s:["a","b"]})");
    EXPECT_EQ(doc.count("s"), 2);
    EXPECT_EQ(doc.get_text("s[0]"), "a");
    EXPECT_EQ(doc.get_text("s[1]"), "b");
    EXPECT_EQ(doc.get_text("p"), "false");
    EXPECT_EQ(doc.get_text("q"), "kw");
    EXPECT_EQ(doc.get_text("s[2]"), "");

    doc = parsed(R"([["x",0],["y",1]])");
    EXPECT_EQ(doc.get_text("[1][0]"), "y");
    EXPECT_EQ(doc.get_text("[1][1]"), "1");
    EXPECT_EQ(doc.count(""), 2);
    EXPECT_EQ(doc.get_text("result[5].word"), "");
    EXPECT_EQ(doc.count("nothing.here"), 0);
}

TEST(JsonDocument, FailedParseLeavesNothing) {
    JsonDocument doc = parsed(R"({s:["a"]})");
    EXPECT_FALSE(doc.parse("{s:[\"a\""));
    EXPECT_EQ(doc.count("s"), 0);
    EXPECT_EQ(doc.count(""), 0);
    EXPECT_EQ(doc.get_text(""), "");
    EXPECT_EQ(doc.type_of(""), JsonDocument::kMissing);
    EXPECT_EQ(doc.to_json(), "null");
    EXPECT_TRUE(doc.parse("[1]")); // the document is usable again
    EXPECT_EQ(doc.count(""), 1);
}

// The bodies the suggestion and related-search sources hand over after cutting their wrappers.
struct SourceCase {
    const char* name;
    std::string body; // UTF-8 here; given to parse as GBK
    const char* arrayPath;
    const char* itemPrefix;
    const char* itemSuffix;
    std::vector<std::string> phrases; // UTF-8
};

class SourceBodies : public ::testing::TestWithParam<SourceCase> {};

TEST_P(SourceBodies, OfferEveryPhrase) {
    const SourceCase& c = GetParam();
    JsonDocument doc("da");
    ASSERT_TRUE(doc.init());
    EXPECT_TRUE(doc.parse(G(c.body)));
    int n = doc.count(c.arrayPath);
    std::vector<Text> got;
    for (int i = 0; i < n; ++i)
        got.push_back(doc.get_text(std::string(c.itemPrefix) + std::to_string(i) + c.itemSuffix));
    std::vector<Text> want;
    for (const auto& p : c.phrases)
        want.push_back(G(p));
    EXPECT_EQ(got, want);
    doc.destroy();
    EXPECT_EQ(doc.count(c.arrayPath), 0);
}

INSTANTIATE_TEST_SUITE_P(
    JsonDocument, SourceBodies,
    ::testing::Values(
        SourceCase{"baidu", R"({q:"手机",p:false,s:["手机壳","手机"]})", "s", "s[", "]", {"手机壳", "手机"}},
        SourceCase{"taobao",
                   R"({"result":[["手机壳","1234.5"],["手机膜","88"]],"magic":[]})"
                   "\n",
                   "result",
                   "result[",
                   "][0]",
                   {"手机壳", "手机膜"}},
        SourceCase{"so360",
                   R"({"query":"a","result":[{"word":"a1","type":"0"},{"word":"a2"}],"version":"2.0"})",
                   "result",
                   "result[",
                   "].word",
                   {"a1", "a2"}},
        SourceCase{
            "sogou", R"(["kw",["kw a","kw b"],["0;0;0","0;0;0"]])", "[1]", "[1][", "]", {"kw a", "kw b"}},
        SourceCase{
            "bilibili",
            R"({"code":0,"result":{"tag":[{"value":"<em class=\"suggest_high_light\">k</em>w","ref":3}]}})",
            "result.tag",
            "result.tag[",
            "].value",
            {R"(<em class="suggest_high_light">k</em>w)"}},
        SourceCase{"iqiyi",
                   R"({"code":"A00000","data":[{"name":"a","link":"http:\/\/x\/y"}]};)",
                   "data",
                   "data[",
                   "].name",
                   {"a"}},
        SourceCase{
            "youtube",
            R"(["kw",[["kw \u003cb\u003eone\u003c\/b\u003e",0,[512,433]],["kw two",0,[512]]],{"k":1,"q":"x"}])",
            "[1]",
            "[1][",
            "][0]",
            {"kw <b>one</b>", "kw two"}},
        SourceCase{"google",
                   "\n[[[\"kw\\u003cb\\u003e1\\u003c/b\\u003e\",0,[512]],[\"kw 2\",0]],{\"q\":\"x\"}]",
                   "[0]",
                   "[0][",
                   "][0]",
                   {"kw<b>1</b>", "kw 2"}},
        SourceCase{"alibaba",
                   "{\"result\":[{\"q\":\"a_b%c\"},{\"q\":\"d\"}]};\r\n",
                   "result",
                   "result[",
                   "].q",
                   {"a_b%c", "d"}},
        SourceCase{"jd",
                   R"([{"key":"k1","qre":2},{"key":"k2"},{"version":"x"}])",
                   "",
                   "[",
                   "].key",
                   {"k1", "k2", ""}},
        SourceCase{"related", R"(["x","y"])", "", "[", "]", {"x", "y"}},
        SourceCase{"scriptLiteral", R"({r:[{w:'a\'b'},{w:"\x41\u4e2d"}]})", "r", "r[", "].w", {"a'b", "A中"}},
        SourceCase{"emptyArray", R"({s:[]})", "s", "s[", "]", {}},
        SourceCase{"jdObjectNotArray", R"({"key":"k"})", "", "[", "].key", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JsonDocument, GbkTrailBytesAreNotSyntax) {
    // 乗 is 81 5C and 亇 81 7D in GBK: a backslash and a closing brace as trail bytes.
    JsonDocument doc = parsed(G(R"({s:["乗","亇}"],'乗':1})"));
    EXPECT_EQ(doc.get_text("s[0]"), G("乗"));
    EXPECT_EQ(doc.get_text("s[1]"), G("亇}"));
    EXPECT_EQ(doc.get_text(G("乗")), "1");
    EXPECT_EQ(doc.to_json(), G(R"({"s":["乗","亇}"],"乗":1})"));
}

TEST(JsonDocument, UnicodeEscapesBecomeGbkOrQuestionMarks) {
    JsonDocument doc = parsed(R"(["\u4e2d","\ud83d\ude00","\u00e9","\ud800x","\u{4e2d}\u{1F600}","\u20ac"])");
    EXPECT_EQ(doc.get_text("[0]"), G("中"));
    EXPECT_EQ(doc.get_text("[1]"), "?"); // a pair outside GBK is one character
    EXPECT_EQ(doc.get_text("[2]"), G("é"));
    EXPECT_EQ(doc.get_text("[3]"), "?x"); // a lone surrogate
    EXPECT_EQ(doc.get_text("[4]"), G("中") + "?");
    EXPECT_EQ(doc.get_text("[5]"), "\x80"); // the euro sign, as code page 936 has it
    EXPECT_EQ(doc.get_text("[1].length"), "2");
    EXPECT_EQ(doc.get_text("[0].length"), "1");
    // A Text holds no NUL: text ends there, JSON text escapes it.
    doc = parsed(R"(['a\x00b','\u4e2d\0b',['x\0y']])");
    EXPECT_EQ(doc.get_text("[0]"), "a");
    EXPECT_EQ(doc.get_text("[1]"), G("中"));
    EXPECT_EQ(doc.get_text("[2]"), "x");
    EXPECT_EQ(doc.get_text("[1]", true), G(R"("中\u0000b")"));
}

// ---------------------------------------------------------------------------------------------
// Numbers in the script engines' shortest form.

struct NumberCase {
    const char* literal;
    const char* text;
};

class NumberText : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumberText, ReadsAndWritesLikeScript) {
    const NumberCase& c = GetParam();
    JsonDocument doc = parsed(std::string("[") + c.literal + "]");
    EXPECT_EQ(doc.get_text("[0]"), c.text) << c.literal;
}

INSTANTIATE_TEST_SUITE_P(
    JsonDocument, NumberText,
    ::testing::Values(
        NumberCase{"100", "100"}, NumberCase{"0.5", "0.5"}, NumberCase{"1", "1"}, NumberCase{"1.5", "1.5"},
        NumberCase{"-1.5", "-1.5"}, NumberCase{"1e21", "1e+21"}, NumberCase{"1e20", "100000000000000000000"},
        NumberCase{"123456789012345678901", "123456789012345680000"}, NumberCase{"1e-7", "1e-7"},
        NumberCase{"1e-6", "0.000001"}, NumberCase{"1.23e-18", "1.23e-18"},
        NumberCase{"0.30000000000000004", "0.30000000000000004"}, NumberCase{"-0", "0"},
        NumberCase{"1.7976931348623157e308", "1.7976931348623157e+308"}, NumberCase{"5e-324", "5e-324"},
        NumberCase{"1.5e300", "1.5e+300"}, NumberCase{"2.50", "2.5"}, NumberCase{".5", "0.5"},
        NumberCase{"5.", "5"}, NumberCase{"1E+2", "100"}, NumberCase{"0x1F", "31"}, NumberCase{"017", "15"},
        NumberCase{"019", "19"}, NumberCase{"09.5", "9.5"}, NumberCase{"+7", "7"}, NumberCase{"- 7", "-7"},
        NumberCase{"1e400", "Infinity"}, NumberCase{"-1e400", "-Infinity"}, NumberCase{"1e-400", "0"},
        NumberCase{"0.0000000000000000000000000000000000000000000000000000000000000000000000000000000"
                   "00000000000000000000000000000000000000000000000000000000000000000000000000000000"
                   "00000000000000000000000000000000000000000000000000000000000000000000000000000000"
                   "00000000000000000000000000000000000000000000000000000000000000000000000000000000"
                   "0000000001",
                   "0"},
        NumberCase{"Infinity", "Infinity"}, NumberCase{"-Infinity", "-Infinity"}, NumberCase{"NaN", "NaN"},
        NumberCase{"123456.789", "123456.789"}, NumberCase{"4294967296", "4294967296"},
        NumberCase{"9007199254740993", "9007199254740992"}));

// ---------------------------------------------------------------------------------------------
// Text forms of get_text, plain and as JSON.

struct TextCase {
    const char* path;
    const char* plain;
    const char* json;
};

class TextForms : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextForms, OfEachKindOfValue) {
    JsonDocument doc = parsed(R"({s:"a\"b",n:-2.5,t:true,f:false,z:null,u:undefined,e:"",
        a:[1,"x",[2,[3]],{},null,undefined,true],h:[1,,2],o:{k:"v",u:undefined,n:[NaN,Infinity]},ea:[],eo:{}})");
    const TextCase& c = GetParam();
    EXPECT_EQ(doc.get_text(c.path), c.plain);
    EXPECT_EQ(doc.get_text(c.path, true), c.json);
    EXPECT_EQ(doc.get_json(c.path), c.json);
}

INSTANTIATE_TEST_SUITE_P(
    JsonDocument, TextForms,
    ::testing::Values(TextCase{"s", "a\"b", R"("a\"b")"}, TextCase{"n", "-2.5", "-2.5"},
                      TextCase{"t", "true", "true"}, TextCase{"f", "false", "false"}, TextCase{"z", "", ""},
                      TextCase{"u", "", ""}, TextCase{"e", "", R"("")"},
                      TextCase{"a", "1,x,2,3,[object Object],,,true", R"([1,"x",[2,[3]],{},null,null,true])"},
                      TextCase{"h", "1,,2", "[1,null,2]"},
                      TextCase{"o", "[object Object]", R"({"k":"v","n":[null,null]})"},
                      TextCase{"o.n", "NaN,Infinity", "[null,null]"}, TextCase{"ea", "", "[]"},
                      TextCase{"eo", "[object Object]", "{}"}, TextCase{"missing", "", ""},
                      TextCase{"a.length", "7", "7"}, TextCase{"s.length", "3", "3"}));

// JSON text: no spaces, the listed characters escaped in lower-case hex, Chinese as it is.
struct StringifyCase {
    std::string literal; // UTF-8
    std::string json;    // UTF-8
};

class Stringify : public ::testing::TestWithParam<StringifyCase> {};

TEST_P(Stringify, FollowsTheJsonRules) {
    JsonDocument doc = parsed(G(GetParam().literal));
    EXPECT_EQ(doc.to_json(), G(GetParam().json));
}

INSTANTIATE_TEST_SUITE_P(
    JsonDocument, Stringify,
    ::testing::Values(
        StringifyCase{R"({ a : 1 , 'b' : [ 1 , 2 ] })", R"({"a":1,"b":[1,2]})"},
        StringifyCase{R"(["\"\\\b\f\n\r\t/"])", R"(["\"\\\b\f\n\r\t/"])"},
        StringifyCase{R"(["\u0001\u001f\u007f\u0085\u009f\u00a0"])", R"(["\u0001\u001f\u007f\u0085\u009f)"
                                                                     "\u00a0\"]"},
        StringifyCase{R"(["\u00ad\u0600\u0604\u070f\u17b4\u17b5"])",
                      R"(["\u00ad\u0600\u0604\u070f\u17b4\u17b5"])"},
        StringifyCase{R"(["\u200b\u200c\u200f\u2028\u202f\u2060\u206f\ufeff\ufff0\uffff"])",
                      R"(["?\u200c\u200f\u2028\u202f\u2060\u206f\ufeff\ufff0\uffff"])"},
        StringifyCase{R"(["中文","\u4E2D"])", R"(["中文","中"])"},
        StringifyCase{R"({k:undefined,"x y":1,"a\"":2})", R"({"x y":1,"a\"":2})"},
        StringifyCase{R"([undefined,,NaN,-Infinity,-0,1e21])", R"([null,null,null,null,0,1e+21])"},
        StringifyCase{R"({a:1,b:2,a:3})", R"({"a":3,"b":2})"}, // a repeated name keeps its first place
        StringifyCase{R"({1:'a',0x10:'b',1.50:'c',1e3:'d',true:1,null:2,$_x9:3})",
                      R"({"1":"a","16":"b","1.5":"c","1000":"d","true":1,"null":2,"$_x9":3})"},
        StringifyCase{"\"\\u0000\"", R"("\u0000")"}));

// ---------------------------------------------------------------------------------------------
// Script-literal syntax beyond JSON, and what is refused.

struct SyntaxCase {
    const char* name;
    std::string literal;
    std::string json; // "" when the literal must be refused
};

class Syntax : public ::testing::TestWithParam<SyntaxCase> {};

TEST_P(Syntax, ParsesOrRefusesCleanly) {
    const SyntaxCase& c = GetParam();
    JsonDocument doc;
    ASSERT_TRUE(doc.init());
    bool ok = doc.parse(c.literal);
    if (c.json.empty()) {
        EXPECT_FALSE(ok);
        EXPECT_EQ(doc.count(""), 0);
        EXPECT_EQ(doc.get_text(""), "");
        EXPECT_FALSE(doc.exists(""));
    } else {
        EXPECT_TRUE(ok);
        EXPECT_EQ(doc.to_json(), c.json);
    }
    EXPECT_EQ(doc.parse(c.literal, true), ok) << "raw reads the same way";
}

INSTANTIATE_TEST_SUITE_P(
    JsonDocument, Syntax,
    ::testing::Values(
        SyntaxCase{"strict", R"({"a":[1,2.5,"x",true,false,null]})", R"({"a":[1,2.5,"x",true,false,null]})"},
        SyntaxCase{"unquotedNames", "{q:1,_x:2,$y:3,a1:4}", R"({"q":1,"_x":2,"$y":3,"a1":4})"},
        SyntaxCase{"singleQuotes", R"({'a':'it\'s "x"'})", R"({"a":"it's \"x\""})"},
        SyntaxCase{"hexEscape", R"(['\x41\x7e\xe9'])", "[\"A~\xA8\xA6\"]"},
        SyntaxCase{"octalEscapes", R"(['\101\60\0x\8\9\400'])", "[\"A0\\u0000x89 0\"]"},
        SyntaxCase{"otherEscapes", R"(['\/\q\v\'\"'])", "[\"/q\\u000b'\\\"\"]"},
        SyntaxCase{"lineContinuation", "['a\\\nb\\\r\nc']", R"(["abc"])"},
        SyntaxCase{"trailingCommas", "{a:[1,2,],b:{c:1,},}", R"({"a":[1,2],"b":{"c":1}})"},
        SyntaxCase{"holes", "[,1,,]", "[null,1,null]"}, SyntaxCase{"onlyHole", "[,]", "[null]"},
        SyntaxCase{"comments", "/*x*/{a:1, // note\n b:2}/* end */", R"({"a":1,"b":2})"},
        SyntaxCase{"semicolons", "{a:1};;\n", R"({"a":1})"},
        SyntaxCase{"parentheses", "({a:(1)})", R"({"a":1})"},
        SyntaxCase{"unicodeSpace",
                   "\xA1\xA1[\xA1\xA1"
                   "1\xA1\xA1]\xA1\xA1",
                   "[1]"},
        SyntaxCase{"nested", "[[[[]]],{a:{b:{c:[{}]}}}]", R"([[[[]]],{"a":{"b":{"c":[{}]}}}])"},
        SyntaxCase{"numberRoot", "0", "0"}, SyntaxCase{"stringRoot", "''", R"("")"},
        SyntaxCase{"falseRoot", "false", "false"}, SyntaxCase{"nullRoot", "null", ""},
        SyntaxCase{"undefinedRoot", "undefined", ""}, SyntaxCase{"empty", "", ""},
        SyntaxCase{"blank", " \r\n\t", ""}, SyntaxCase{"unclosedObject", "{a:1", ""},
        SyntaxCase{"unclosedArray", "[1,2", ""}, SyntaxCase{"unclosedString", "['abc]", ""},
        SyntaxCase{"newlineInString", "[\"a\nb\"]", ""}, SyntaxCase{"missingValue", "{a:}", ""},
        SyntaxCase{"missingColon", "{a 1}", ""}, SyntaxCase{"emptyMember", "{,}", ""},
        SyntaxCase{"doubleComma", "{a:1,,}", ""}, SyntaxCase{"extraClose", "{a:1}}", ""},
        SyntaxCase{"trailingText", "[1] x", ""}, SyntaxCase{"twoValues", "1 2", ""},
        SyntaxCase{"identifierValue", "{a:b}", ""}, SyntaxCase{"call", "window.baidu.sug({s:[]})", ""},
        SyntaxCase{"concatenation", "'a'+'b'", ""}, SyntaxCase{"badHexEscape", R"(['\x4g'])", ""},
        SyntaxCase{"shortUnicodeEscape", R"(['\u12'])", ""},
        SyntaxCase{"unicodeEscapeTooLarge", R"(['\u{110000}'])", ""},
        SyntaxCase{"numberThenName", "[3in]", ""}, SyntaxCase{"twoPoints", "[1.2.3]", ""},
        SyntaxCase{"bareHex", "[0x]", ""}, SyntaxCase{"bareExponent", "[1e]", ""},
        SyntaxCase{"semicolonInArray", "[1;2]", ""}, SyntaxCase{"unclosedComment", "[1]/* x", ""},
        SyntaxCase{"unclosedParenthesis", "((1)", ""}, SyntaxCase{"nearlyNull", "nul", ""},
        SyntaxCase{"lonePoint", "[.]", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JsonDocument, DepthIsBounded) {
    struct Case {
        const char* open;
        const char* inner;
        const char* close;
    };
    auto nested = [](const Case& c, int depth) {
        std::string s;
        for (int i = 0; i < depth; ++i)
            s += c.open;
        s += c.inner;
        for (int i = 0; i < depth; ++i)
            s += c.close;
        return s;
    };
    for (const Case& c : {Case{"[", "", "]"}, Case{"{a:", "1", "}"}, Case{"(", "[1]", ")"}}) {
        JsonDocument doc;
        ASSERT_TRUE(doc.init());
        EXPECT_TRUE(doc.parse(nested(c, kJsonMaxDepth - 1))) << c.open;
        EXPECT_FALSE(doc.parse(nested(c, kJsonMaxDepth + 1))) << c.open;
        EXPECT_EQ(doc.count(""), 0);
        EXPECT_FALSE(doc.parse(std::string(1000000, c.open[0]))) << c.open;
        EXPECT_FALSE(doc.parse(nested(c, 200000))) << c.open;
    }
    JsonDocument doc = parsed(nested({"[", "", "]"}, kJsonMaxDepth - 1));
    EXPECT_EQ(doc.to_json(), nested({"[", "", "]"}, kJsonMaxDepth - 1));
}

TEST(JsonDocument, ParsesALargePayload) {
    std::string body = "{s:[";
    for (int i = 0; i < 200000; ++i)
        body += "'phrase " + std::to_string(i) + "',";
    body += "]}";
    JsonDocument doc = parsed(body);
    EXPECT_EQ(doc.count("s"), 200000);
    EXPECT_EQ(doc.get_text("s[199999]"), "phrase 199999");

    std::string wide = "{";
    for (int i = 0; i < 100000; ++i)
        wide += "k" + std::to_string(i) + ":" + std::to_string(i) + ",";
    wide += "k5:'again'}";
    doc = parsed(wide);
    EXPECT_EQ(doc.get_text("k99999"), "99999");
    EXPECT_EQ(doc.get_text("k5"), "again");
    std::vector<Text> names;
    EXPECT_EQ(doc.member_names(names, ""), 100000);
    EXPECT_EQ(names[5], "k5");
}

TEST(JsonDocument, JsonTextReadsBackToTheSameText) {
    for (const char* literal :
         {R"({a:[1,2.5,-0,1e-7,'x\n\u0001y',{b:null,c:undefined}],'中':"\ud83d\ude00\u2028",d:[,NaN]})",
          R"([[],{},"",0,false,"\\\"",'\u00ad'])"}) {
        JsonDocument first = parsed(G(literal));
        Text json = first.to_json();
        JsonDocument second = parsed(json);
        EXPECT_EQ(second.to_json(), json) << literal;
    }
}

// ---------------------------------------------------------------------------------------------
// Paths

struct PathCase {
    const char* path;
    const char* resolved;
    bool exists;
    const char* text;
};

class Paths : public ::testing::TestWithParam<PathCase> {};

TEST_P(Paths, ResolveAgainstTheRootName) {
    JsonDocument doc = parsed(R"({data:[{name:"n0"},{name:"n1"}],x:{y:[10,[20,21]]},da:{q:"inner"},
        dax:1,z:null,"a b":"spaced","0":"zero",s:"str"})");
    const PathCase& c = GetParam();
    Text resolved;
    EXPECT_EQ(doc.resolve_path(c.path, &resolved), c.exists) << c.path;
    EXPECT_EQ(resolved, c.resolved) << c.path;
    EXPECT_EQ(doc.exists(c.path), c.exists);
    EXPECT_EQ(doc.get_text(c.path), c.text) << c.path;
}

INSTANTIATE_TEST_SUITE_P(
    JsonDocument, Paths,
    ::testing::Values(
        PathCase{"", "da", true, "[object Object]"}, PathCase{"da", "da", true, "[object Object]"},
        PathCase{"data[1].name", "da.data[1].name", true, "n1"},
        PathCase{"da.data[0].name", "da.data[0].name", true, "n0"},
        PathCase{"da[\"data\"][0].name", "da[\"data\"][0].name", true, "n0"},
        PathCase{"x.y[1][0]", "da.x.y[1][0]", true, "20"}, PathCase{"x.y[1]", "da.x.y[1]", true, "20,21"},
        PathCase{"x.y[01]", "da.x.y[01]", true, "20,21"},
        PathCase{"x['y'][ 0 ]", "da.x['y'][ 0 ]", true, "10"},
        PathCase{"x.y.length", "da.x.y.length", true, "2"}, PathCase{"s.length", "da.s.length", true, "3"},
        // da.q is missing in the value, so "da.q" falls back to the value's member da.
        PathCase{"da.q", "da.da.q", true, "inner"}, PathCase{"dax", "da.dax", true, "1"},
        PathCase{"[\"a b\"]", "da[\"a b\"]", true, "spaced"}, PathCase{"[0]", "da[0]", true, "zero"},
        PathCase{"z", "da.z", false, ""}, PathCase{"missing", "da.missing", false, ""},
        PathCase{"data[2].name", "da.data[2].name", false, ""},
        PathCase{"data.name", "da.data.name", false, ""}, PathCase{"s.x", "da.s.x", false, ""},
        PathCase{"x..y", "da.x..y", false, ""}, PathCase{"x.", "da.x.", false, ""},
        PathCase{".x", "da..x", false, ""}, PathCase{"1x", "da.1x", false, ""},
        PathCase{"x[y]", "da.x[y]", false, ""}, PathCase{"x[-1]", "da.x[-1]", false, ""},
        PathCase{"x[1", "da.x[1", false, ""}, PathCase{"x y", "da.x y", false, ""}));

TEST(JsonDocument, PathsIndexTheRootWhenTheValueIsAnArray) {
    JsonDocument doc = parsed(R"([[1,2,3,4,"e"],[5,6,7,8,"f"]])");
    EXPECT_EQ(doc.get_text("[1][4]"), "f");
    EXPECT_EQ(doc.get_text("da[1][4]"), "f");
    EXPECT_EQ(doc.count("[0]"), 5);

    JsonDocument other("root");
    ASSERT_TRUE(other.init());
    ASSERT_TRUE(other.parse("{data:[1]}"));
    Text resolved;
    EXPECT_TRUE(other.resolve_path("data[0]", &resolved));
    EXPECT_EQ(resolved, "root.data[0]");
    EXPECT_TRUE(other.resolve_path("root.data", &resolved));
    EXPECT_EQ(resolved, "root.data");
}

TEST(JsonDocument, RootNameMustBeAnIdentifier) {
    for (const char* bad : {"", "1a", "a.b", "a[0]", "a b"}) {
        JsonDocument doc(bad);
        EXPECT_FALSE(doc.init()) << bad;
        EXPECT_FALSE(doc.parse("[1]")) << bad;
        EXPECT_EQ(doc.count(""), 0);
        EXPECT_EQ(doc.engine_handle(), nullptr);
    }
    JsonDocument doc("x");
    EXPECT_TRUE(doc.init("_data$1"));
    EXPECT_EQ(doc.root_name(), "_data$1");
}

// ---------------------------------------------------------------------------------------------
// The other operations.

TEST(JsonDocument, TypeOfEachKind) {
    JsonDocument doc = parsed("{b:true,n:1,o:{},a:[],s:'',z:null,u:undefined}");
    struct Case {
        const char* path;
        int type;
    } cases[] = {{"b", JsonDocument::kBoolean}, {"n", JsonDocument::kNumber},
                 {"o", JsonDocument::kObject},  {"a", JsonDocument::kArray},
                 {"s", JsonDocument::kString},  {"z", JsonDocument::kMissing},
                 {"u", JsonDocument::kMissing}, {"q", JsonDocument::kMissing},
                 {"", JsonDocument::kObject},   {"a.length", JsonDocument::kNumber}};
    for (const Case& c : cases)
        EXPECT_EQ(doc.type_of(c.path), c.type) << c.path;
}

TEST(JsonDocument, InitStartsWithAnEmptyObjectAndClearReturnsToIt) {
    JsonDocument doc;
    EXPECT_EQ(doc.to_json(), "");
    EXPECT_FALSE(doc.clear());
    ASSERT_TRUE(doc.init());
    EXPECT_EQ(doc.to_json(), "{}");
    EXPECT_TRUE(doc.parse("[1,2]"));
    EXPECT_TRUE(doc.clear());
    EXPECT_EQ(doc.to_json(), "{}");
    EXPECT_EQ(doc.count(""), 0);
}

TEST(JsonDocument, CopySharesTheValueUntilTheNextParse) {
    JsonDocument doc = parsed("{a:1}");
    JsonDocument view = doc.copy();
    EXPECT_EQ(view.engine_handle(), doc.engine_handle());
    EXPECT_EQ(view.root_name(), doc.root_name());
    EXPECT_TRUE(view.set_number("a", 2));
    EXPECT_EQ(doc.get_text("a"), "2");
    doc.destroy(); // the copy keeps the value alive
    EXPECT_EQ(view.get_text("a"), "2");
    EXPECT_EQ(doc.get_text("a"), "");
    EXPECT_TRUE(doc.parse("{a:3}"));
    EXPECT_NE(view.engine_handle(), doc.engine_handle());
    EXPECT_EQ(view.get_text("a"), "2");
}

TEST(JsonDocument, GetDocumentAndItemDocumentCopy) {
    JsonDocument doc("root");
    ASSERT_TRUE(doc.init());
    ASSERT_TRUE(doc.parse("{r:[{w:'a'},{w:'b',n:[1,2]}]}"));
    JsonDocument sub = doc.get_document("r[1]");
    EXPECT_EQ(sub.root_name(), "da");
    EXPECT_NE(sub.engine_handle(), doc.engine_handle());
    EXPECT_EQ(sub.to_json(), R"({"w":"b","n":[1,2]})");
    EXPECT_TRUE(sub.set_value("w", "changed"));
    EXPECT_EQ(doc.get_text("r[1].w"), "b");

    JsonDocument item = doc.item_document(0, "r");
    EXPECT_EQ(item.get_text("w"), "a");
    EXPECT_EQ(doc.item_document(1, "r[1].n").to_json(), "2");
    JsonDocument none = doc.item_document(5, "r");
    EXPECT_FALSE(none.exists(""));
    EXPECT_EQ(none.count(""), 0);
    EXPECT_FALSE(doc.get_document("nothing").exists(""));
}

TEST(JsonDocument, ItemText) {
    JsonDocument doc = parsed("{r:['a',1,true,{k:'v'},[1,2]]}");
    struct Case {
        int index;
        const char* plain;
        const char* json;
    } cases[] = {{0, "a", R"("a")"}, {1, "", "1"}, {2, "", "true"}, {3, "", R"({"k":"v"})"},
                 {4, "", "[1,2]"},   {5, "", ""},  {-1, "", ""}};
    for (const Case& c : cases) {
        EXPECT_EQ(doc.item_text(c.index, "r"), c.plain) << c.index;
        EXPECT_EQ(doc.item_text(c.index, "r", true), c.json) << c.index;
    }
}

TEST(JsonDocument, MemberNames) {
    JsonDocument doc = parsed(G("{b:1,a:2,'中':3,2:4,o:{x:1}}"));
    std::vector<Text> names{"stale"};
    EXPECT_EQ(doc.member_names(names, ""), 5);
    EXPECT_EQ(names, (std::vector<Text>{"b", "a", G("中"), "2", "o"}));
    EXPECT_EQ(doc.member_names(names, "o"), 1);
    EXPECT_EQ(doc.member_names(names, "b"), 0);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(doc.member_names(names, "none"), 0);
}

TEST(JsonDocument, LeafValues) {
    JsonDocument doc =
        parsed(G("{a:'x',b:{c:2,d:[true,'y',null]},e:'',sep:'p[2020年7月20日20时0分0秒]q',f:1.5,z:''}"));
    std::vector<Text> list{"stale"};
    EXPECT_EQ(doc.leaf_values(list, ""), 5);
    EXPECT_EQ(list, (std::vector<Text>{"x", "", G("p[2020年7月20日20时0分0秒]q"), "1.5", ""}));
    EXPECT_EQ(doc.leaf_values(list, "", true), 8);
    EXPECT_EQ(list,
              (std::vector<Text>{"x", "2", "true", "y", "", G("p[2020年7月20日20时0分0秒]q"), "1.5", ""}));
    EXPECT_EQ(doc.leaf_values(list, "b.d"), 2);
    EXPECT_EQ(doc.leaf_values(list, "a"), 0);
    EXPECT_EQ(doc.leaf_values(list, "none", true), 0);
}

TEST(JsonDocument, NumbersInAndOut) {
    JsonDocument doc =
        parsed(R"({n:2.5,t:true,f:false,s:' 12 ',h:'0x1f',e:'1e3',x:'12a',empty:'',o:{},inf:'-Infinity'})");
    struct Case {
        const char* path;
        double value;
    } cases[] = {{"n", 2.5}, {"t", 1},     {"f", 0}, {"s", 12},   {"h", 31},         {"e", 1000},
                 {"x", 0},   {"empty", 0}, {"o", 0}, {"none", 0}, {"inf", -HUGE_VAL}};
    for (const Case& c : cases)
        EXPECT_EQ(doc.get_number(c.path), c.value) << c.path;
    EXPECT_TRUE(doc.set_number("m", 0.1));
    EXPECT_EQ(doc.get_text("m"), "0.1");
    EXPECT_TRUE(doc.set_number("n", 1e21));
    EXPECT_EQ(doc.get_text("n"), "1e+21");
    EXPECT_FALSE(doc.set_number("none.deeper", 1));
}

TEST(JsonDocument, SetValueAsStringKeepsBackslashes) {
    JsonDocument doc = parsed("{}");
    EXPECT_TRUE(doc.set_value("p", G("C:\\dir\\中'\"\r\n")));
    EXPECT_EQ(doc.get_text("p"), G("C:\\dir\\中'\"\r\n"));
    // A stored backslash stays an escaped backslash in JSON text, so the text reads back.
    EXPECT_EQ(doc.to_json(), G(R"({"p":"C:\\dir\\中'\"\r\n"})"));
    JsonDocument again = parsed(doc.to_json());
    EXPECT_EQ(again.get_text("p"), doc.get_text("p"));
    EXPECT_FALSE(doc.set_value("a.b", "x")); // no parent
    EXPECT_TRUE(doc.set_value("", "whole"));
    EXPECT_EQ(doc.to_json(), R"("whole")");
}

TEST(JsonDocument, BackslashMarkerInAPayloadReadsAsBackslash) {
    JsonDocument doc = parsed(R"(["a\u2400b"])");
    EXPECT_EQ(doc.get_text("[0]"), "a\\b");
    EXPECT_EQ(doc.to_json(), R"(["a\\b"])");
}

TEST(JsonDocument, SetValueAsJsonMergesByTheExtendRule) {
    struct Case {
        const char* name;
        const char* start;
        const char* path;
        const char* value;
        bool ok;
        const char* after;
    } cases[] = {
        {"mergeObjects", "{o:{a:'x',b:true,c:{d:1},e:[1]}}", "o", "{a:'y',b:false,c:{f:2},e:[2],g:null}",
         true, R"({"o":{"a":"y","b":false,"c":{"d":1,"f":2},"e":[1,2],"g":null}})"},
        {"appendToArray", "{a:[1]}", "a", "[2,[3]]", true, R"({"a":[1,2,[3]]})"},
        {"objectIntoArrayAddsNothing", "{a:[1]}", "a", "{x:1}", true, R"({"a":[1]})"},
        {"arrayIntoObjectByIndex", "{o:{}}", "o", "['p','q']", true, R"({"o":{"0":"p","1":"q"}})"},
        {"emptyIsEmptyObject", "{o:{a:1}}", "o", "", true, R"({"o":{"a":1}})"},
        {"nullMemberOverwritten", "{o:{a:null}}", "o", "{a:{b:1}}", true, R"({"o":{"a":{"b":1}}})"},
        {"numberMemberRefusesWholeMerge", "{o:{a:'x',n:1}}", "o", "{a:'y',n:2}", false,
         R"({"o":{"a":"x","n":1}})"},
        {"nestedNumberRefuses", "{o:{c:{n:1}},p:1}", "o", "{c:{m:2,n:3}}", false,
         R"({"o":{"c":{"n":1}},"p":1})"},
        {"primitiveIntoObjectMember", "{o:{c:{n:1}}}", "o", "{c:5}", true, R"({"o":{"c":{"n":1}}})"},
        {"replaceNonObject", "{a:1}", "a", "{b:2}", true, R"({"a":{"b":2}})"},
        {"newMember", "{}", "a", "[1,'x']", true, R"({"a":[1,"x"]})"},
        {"primitiveReplacesObject", "{a:{b:1}}", "a", "5", true, R"({"a":5})"},
        {"rootMerge", "{a:1}", "", "{b:2}", true, R"({"a":1,"b":2})"},
        {"badJson", "{a:{}}", "a", "{b:", false, R"({"a":{}})"},
        {"noParent", "{}", "a.b", "{}", false, "{}"},
    };
    for (const Case& c : cases) {
        JsonDocument doc = parsed(c.start);
        EXPECT_EQ(doc.set_value(c.path, c.value, true), c.ok) << c.name;
        EXPECT_EQ(doc.to_json(), c.after) << c.name;
    }
}

TEST(JsonDocument, SetExpression) {
    JsonDocument doc = parsed("{}");
    EXPECT_TRUE(doc.set_expression("a", "{b:[1,'2']}"));
    EXPECT_EQ(doc.get_text("a.b"), "1,2");
    EXPECT_TRUE(doc.set_expression("a.b[1]", "'z'"));
    EXPECT_EQ(doc.to_json(), R"({"a":{"b":[1,"z"]}})");
    EXPECT_FALSE(doc.set_expression("a", "1+"));
    EXPECT_FALSE(doc.set_expression("a.b.c.d", "1"));
    EXPECT_EQ(doc.to_json(), R"({"a":{"b":[1,"z"]}})");
}

TEST(JsonDocument, ArrayAdd) {
    JsonDocument doc = parsed("{s:'not an array',a:[1]}");
    EXPECT_TRUE(doc.array_add("x", "s"));
    EXPECT_TRUE(doc.array_add("y", "s", false, true));
    EXPECT_TRUE(doc.array_add("{k:1}", "s", true));
    EXPECT_TRUE(doc.array_add("a\\nb", "a")); // escapes in the text count
    EXPECT_TRUE(doc.array_add("n", "new"));
    EXPECT_EQ(doc.to_json(), R"({"s":["y","x",{"k":1}],"a":[1,"a\nb"],"new":["n"]})");
    EXPECT_FALSE(doc.array_add("it's", "a")); // the quote ends the string early
    EXPECT_FALSE(doc.array_add("[1", "a", true));
    EXPECT_FALSE(doc.array_add("x", "no.parent"));
    EXPECT_EQ(doc.count("a"), 2);
}

TEST(JsonDocument, SetItem) {
    JsonDocument doc = parsed("{a:[1,2],o:{},s:'x'}");
    EXPECT_TRUE(doc.set_item(0, "a", "first"));
    EXPECT_TRUE(doc.set_item(2, "a", "3", true));
    EXPECT_TRUE(doc.set_item(4, "a", "{}", true)); // grows with a hole
    EXPECT_TRUE(doc.set_item(1, "o", "one"));
    EXPECT_EQ(doc.to_json(), R"({"a":["first",2,3,null,{}],"o":{"1":"one"},"s":"x"})");
    EXPECT_EQ(doc.count("a"), 5);
    EXPECT_FALSE(doc.set_item(0, "s", "y"));
    EXPECT_FALSE(doc.set_item(-1, "a", "y"));
    EXPECT_FALSE(doc.set_item(0, "missing", "y"));
    EXPECT_FALSE(doc.set_item(0, "a", "'", false));
    EXPECT_FALSE(doc.set_item(100000000, "a", "far"));
    EXPECT_EQ(doc.count("a"), 5);
}

TEST(JsonDocument, RemoveItemAndRemove) {
    JsonDocument doc = parsed("{a:[0,1,2],o:{x:1,y:2}}");
    EXPECT_TRUE(doc.remove_item(1, "a"));
    EXPECT_EQ(doc.get_json("a"), "[0,2]");
    EXPECT_FALSE(doc.remove_item(2, "a"));
    EXPECT_FALSE(doc.remove_item(-1, "a"));
    EXPECT_FALSE(doc.remove_item(0, "o"));
    EXPECT_TRUE(doc.remove("o.x"));
    EXPECT_FALSE(doc.remove("o.x"));
    EXPECT_TRUE(doc.remove("a[0]")); // leaves a hole, as delete does
    EXPECT_EQ(doc.get_json("a"), "[null,2]");
    EXPECT_EQ(doc.count("a"), 2);
    EXPECT_FALSE(doc.remove(""));
    EXPECT_FALSE(doc.remove("da"));
    EXPECT_FALSE(doc.remove("none.x"));
    EXPECT_EQ(doc.to_json(), R"({"a":[null,2],"o":{"y":2}})");
}

TEST(JsonDocument, EveryOperationIsEmptyWithoutAnEngine) {
    JsonDocument doc;
    std::vector<Text> list{"x"};
    EXPECT_FALSE(doc.exists(""));
    EXPECT_EQ(doc.type_of(""), 0);
    EXPECT_EQ(doc.get_text(""), "");
    EXPECT_EQ(doc.count(""), 0);
    EXPECT_EQ(doc.get_number(""), 0);
    EXPECT_EQ(doc.member_names(list, ""), 0);
    EXPECT_EQ(doc.leaf_values(list, ""), 0);
    EXPECT_EQ(doc.item_text(0, ""), "");
    EXPECT_FALSE(doc.set_value("a", "b"));
    EXPECT_FALSE(doc.set_expression("a", "1"));
    EXPECT_FALSE(doc.set_number("a", 1));
    EXPECT_FALSE(doc.array_add("a", "b"));
    EXPECT_FALSE(doc.set_item(0, "a", "b"));
    EXPECT_FALSE(doc.remove_item(0, ""));
    EXPECT_FALSE(doc.remove("a"));
    EXPECT_EQ(doc.to_json(), "");
    EXPECT_EQ(doc.engine_handle(), nullptr);
    EXPECT_EQ(doc.copy().engine_handle(), nullptr);
    EXPECT_FALSE(doc.get_document("").exists(""));
}

TEST(JsonDocument, ReadsNeverChangeTheDocument) {
    JsonDocument doc = parsed("{a:[1,{b:'c'}],n:null}");
    Text before = doc.to_json();
    std::vector<Text> list;
    for (const char* path : {"", "a", "a[1].b", "n", "none", "a[9]", "a.length", "da.x", "x..y"}) {
        doc.get_text(path);
        doc.get_text(path, true);
        doc.count(path);
        doc.type_of(path);
        doc.get_number(path);
        doc.member_names(list, path);
        doc.leaf_values(list, path, true);
        doc.item_text(0, path, true);
        doc.get_document(path);
        doc.item_document(0, path);
    }
    EXPECT_EQ(doc.to_json(), before);
}

} // namespace
} // namespace zelkor
