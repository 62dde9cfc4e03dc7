#include "text/json.h"
#include "text/json_text.h"

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

JsonValue parsed(std::string_view literal) {
    JsonValue value = JsonValue::parse(literal);
    EXPECT_NE(value.type(), JsonType::Missing) << literal;
    return value;
}

// ---------------------------------------------------------------------------------------------

TEST(JsonValue, ReadsTheSuggestionShapes) {
    JsonValue doc = parsed(R"({q:"kw",p:false,s:["a","b"]})");
    EXPECT_EQ(doc.count("s"), 2);
    EXPECT_EQ(doc.text("s[0]"), "a");
    EXPECT_EQ(doc.text("s[1]"), "b");
    EXPECT_EQ(doc.text("p"), "false");
    EXPECT_EQ(doc.text("q"), "kw");
    EXPECT_EQ(doc.text("s[2]"), "");

    doc = parsed(R"([["x",0],["y",1]])");
    EXPECT_EQ(doc.text("[1][0]"), "y");
    EXPECT_EQ(doc.text("[1][1]"), "1");
    EXPECT_EQ(doc.count(""), 2);
    EXPECT_EQ(doc.text("result[5].word"), "");
    EXPECT_EQ(doc.count("nothing.here"), 0);
}

TEST(JsonValue, FailedParseLeavesNothing) {
    JsonValue doc = parsed(R"({s:["a"]})");
    doc = JsonValue::parse("{s:[\"a\"");
    EXPECT_EQ(doc.count("s"), 0);
    EXPECT_EQ(doc.count(""), 0);
    EXPECT_EQ(doc.text(""), "");
    EXPECT_EQ(doc.type(""), JsonType::Missing);
    EXPECT_EQ(doc.json(""), "");
    EXPECT_EQ(JsonValue().count(""), 0);
    EXPECT_EQ(JsonValue().type(), JsonType::Missing);
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
    const JsonValue doc = parsed(G(c.body));
    int n = doc.count(c.arrayPath);
    std::vector<Text> got;
    for (int i = 0; i < n; ++i)
        got.push_back(doc.text(std::string(c.itemPrefix) + std::to_string(i) + c.itemSuffix));
    std::vector<Text> want;
    for (const auto& p : c.phrases)
        want.push_back(G(p));
    EXPECT_EQ(got, want);
}

INSTANTIATE_TEST_SUITE_P(
    JsonValue, SourceBodies,
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

TEST(JsonValue, GbkTrailBytesAreNotSyntax) {
    // 乗 is 81 5C and 亇 81 7D in GBK: a backslash and a closing brace as trail bytes.
    JsonValue doc = parsed(G(R"({s:["乗","亇}"],'乗':1})"));
    EXPECT_EQ(doc.text("s[0]"), G("乗"));
    EXPECT_EQ(doc.text("s[1]"), G("亇}"));
    EXPECT_EQ(doc.text(G("乗")), "1");
    EXPECT_EQ(doc.json(), G(R"({"s":["乗","亇}"],"乗":1})"));
}

TEST(JsonValue, UnicodeEscapesBecomeGbkOrQuestionMarks) {
    JsonValue doc = parsed(R"(["\u4e2d","\ud83d\ude00","\u00e9","\ud800x","\u{4e2d}\u{1F600}","\u20ac"])");
    EXPECT_EQ(doc.text("[0]"), G("中"));
    EXPECT_EQ(doc.text("[1]"), "?"); // a pair outside GBK is one character
    EXPECT_EQ(doc.text("[2]"), G("é"));
    EXPECT_EQ(doc.text("[3]"), "?x"); // a lone surrogate
    EXPECT_EQ(doc.text("[4]"), G("中") + "?");
    EXPECT_EQ(doc.text("[5]"), "\x80"); // the euro sign, as code page 936 has it
    EXPECT_EQ(doc.text("[1].length"), "2");
    EXPECT_EQ(doc.text("[0].length"), "1");
    // A Text holds no NUL: text ends there, JSON text escapes it.
    doc = parsed(R"(['a\x00b','\u4e2d\0b',['x\0y']])");
    EXPECT_EQ(doc.text("[0]"), "a");
    EXPECT_EQ(doc.text("[1]"), G("中"));
    EXPECT_EQ(doc.text("[2]"), "x");
    EXPECT_EQ(doc.json("[1]"), G(R"("中\u0000b")"));
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
    JsonValue doc = parsed(std::string("[") + c.literal + "]");
    EXPECT_EQ(doc.text("[0]"), c.text) << c.literal;
}

INSTANTIATE_TEST_SUITE_P(
    JsonValue, NumberText,
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
// Text forms, plain and as JSON.

struct TextCase {
    const char* path;
    const char* plain;
    const char* json;
};

class TextForms : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextForms, OfEachKindOfValue) {
    JsonValue doc = parsed(R"({s:"a\"b",n:-2.5,t:true,f:false,z:null,u:undefined,e:"",
        a:[1,"x",[2,[3]],{},null,undefined,true],h:[1,,2],o:{k:"v",u:undefined,n:[NaN,Infinity]},ea:[],eo:{}})");
    const TextCase& c = GetParam();
    EXPECT_EQ(doc.text(c.path), c.plain);
    EXPECT_EQ(doc.json(c.path), c.json);
}

INSTANTIATE_TEST_SUITE_P(
    JsonValue, TextForms,
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
    JsonValue doc = parsed(G(GetParam().literal));
    EXPECT_EQ(doc.json(), G(GetParam().json));
}

INSTANTIATE_TEST_SUITE_P(
    JsonValue, Stringify,
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
    const JsonValue doc = JsonValue::parse(c.literal);
    if (c.json.empty()) {
        EXPECT_EQ(doc.type(), JsonType::Missing);
        EXPECT_EQ(doc.count(""), 0);
        EXPECT_EQ(doc.text(""), "");
    } else {
        EXPECT_NE(doc.type(), JsonType::Missing);
        EXPECT_EQ(doc.json(), c.json);
    }
}

INSTANTIATE_TEST_SUITE_P(
    JsonValue, Syntax,
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

TEST(JsonValue, DepthIsBounded) {
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
        EXPECT_NE(JsonValue::parse(nested(c, kJsonMaxDepth - 1)).type(), JsonType::Missing) << c.open;
        const JsonValue deep = JsonValue::parse(nested(c, kJsonMaxDepth + 1));
        EXPECT_EQ(deep.type(), JsonType::Missing) << c.open;
        EXPECT_EQ(deep.count(""), 0);
        EXPECT_EQ(JsonValue::parse(std::string(1000000, c.open[0])).type(), JsonType::Missing) << c.open;
        EXPECT_EQ(JsonValue::parse(nested(c, 200000)).type(), JsonType::Missing) << c.open;
    }
    JsonValue doc = parsed(nested({"[", "", "]"}, kJsonMaxDepth - 1));
    EXPECT_EQ(doc.json(), nested({"[", "", "]"}, kJsonMaxDepth - 1));
}

TEST(JsonValue, ParsesALargePayload) {
    std::string body = "{s:[";
    for (int i = 0; i < 200000; ++i)
        body += "'phrase " + std::to_string(i) + "',";
    body += "]}";
    JsonValue doc = parsed(body);
    EXPECT_EQ(doc.count("s"), 200000);
    EXPECT_EQ(doc.text("s[199999]"), "phrase 199999");

    std::string wide = "{";
    for (int i = 0; i < 100000; ++i)
        wide += "k" + std::to_string(i) + ":" + std::to_string(i) + ",";
    wide += "k5:'again'}";
    doc = parsed(wide);
    EXPECT_EQ(doc.text("k99999"), "99999");
    EXPECT_EQ(doc.text("k5"), "again");
    ASSERT_NE(doc.object(), nullptr);
    ASSERT_EQ(doc.object()->members().size(), 100000u);
    EXPECT_EQ(doc.object()->members()[5].first, "k5");
}

TEST(JsonValue, JsonTextReadsBackToTheSameText) {
    for (const char* literal :
         {R"({a:[1,2.5,-0,1e-7,'x\n\u0001y',{b:null,c:undefined}],'中':"\ud83d\ude00\u2028",d:[,NaN]})",
          R"([[],{},"",0,false,"\\\"",'\u00ad'])"}) {
        JsonValue first = parsed(G(literal));
        Text json = first.json();
        JsonValue second = parsed(json);
        EXPECT_EQ(second.json(), json) << literal;
    }
}

// ---------------------------------------------------------------------------------------------
// Paths

struct PathCase {
    const char* path;
    bool exists;
    const char* text;
};

class Paths : public ::testing::TestWithParam<PathCase> {};

TEST_P(Paths, ResolveAgainstTheRootName) {
    JsonValue doc = parsed(R"({data:[{name:"n0"},{name:"n1"}],x:{y:[10,[20,21]]},da:{q:"inner"},
        dax:1,z:null,"a b":"spaced","0":"zero",s:"str"})");
    const PathCase& c = GetParam();
    EXPECT_EQ(doc.type(c.path) != JsonType::Missing, c.exists) << c.path;
    EXPECT_EQ(doc.text(c.path), c.text) << c.path;
}

INSTANTIATE_TEST_SUITE_P(
    JsonValue, Paths,
    ::testing::Values(
        PathCase{"", true, "[object Object]"}, PathCase{"da", true, "[object Object]"},
        PathCase{"data[1].name", true, "n1"},
        PathCase{"da.data[0].name", true, "n0"},
        PathCase{"da[\"data\"][0].name", true, "n0"},
        PathCase{"x.y[1][0]", true, "20"}, PathCase{"x.y[1]", true, "20,21"},
        PathCase{"x.y[01]", true, "20,21"},
        PathCase{"x['y'][ 0 ]", true, "10"},
        PathCase{"x.y.length", true, "2"}, PathCase{"s.length", true, "3"},
        // da.q is missing in the value, so "da.q" falls back to the value's member da.
        PathCase{"da.q", true, "inner"}, PathCase{"dax", true, "1"},
        PathCase{"[\"a b\"]", true, "spaced"}, PathCase{"[0]", true, "zero"},
        PathCase{"z", false, ""}, PathCase{"missing", false, ""},
        PathCase{"data[2].name", false, ""},
        PathCase{"data.name", false, ""}, PathCase{"s.x", false, ""},
        PathCase{"x..y", false, ""}, PathCase{"x.", false, ""},
        PathCase{".x", false, ""}, PathCase{"1x", false, ""},
        PathCase{"x[y]", false, ""}, PathCase{"x[-1]", false, ""},
        PathCase{"x[1", false, ""}, PathCase{"x y", false, ""}));

TEST(JsonValue, PathsIndexTheRootWhenTheValueIsAnArray) {
    JsonValue doc = parsed(R"([[1,2,3,4,"e"],[5,6,7,8,"f"]])");
    EXPECT_EQ(doc.text("[1][4]"), "f");
    EXPECT_EQ(doc.text("da[1][4]"), "f");
    EXPECT_EQ(doc.count("[0]"), 5);
}

// ---------------------------------------------------------------------------------------------
// Types, and values read without a path.

TEST(JsonValue, TypeOfEachKind) {
    const JsonValue doc = parsed("{b:true,n:1,o:{},a:[],s:'',z:null,u:undefined}");
    struct Case {
        const char* path;
        JsonType type;
    } cases[] = {{"b", JsonType::Boolean}, {"n", JsonType::Number},  {"o", JsonType::Object},
                 {"a", JsonType::Array},   {"s", JsonType::String},  {"z", JsonType::Missing},
                 {"u", JsonType::Missing}, {"q", JsonType::Missing}, {"", JsonType::Object},
                 {"a.length", JsonType::Number}};
    for (const Case& c : cases)
        EXPECT_EQ(doc.type(c.path), c.type) << c.path;
}

TEST(JsonValue, BackslashMarkerInAPayloadReadsAsBackslash) {
    const JsonValue doc = parsed(R"(["a\u2400b"])");
    EXPECT_EQ(doc.text("[0]"), "a\\b");
    EXPECT_EQ(doc.json(), R"(["a\\b"])");
}

TEST(JsonValue, CopiesAreIndependent) {
    JsonValue doc = parsed("{r:[{w:'a'},{w:'b'}]}");
    const JsonValue copy = doc;
    doc = JsonValue::parse("{r:[]}");
    EXPECT_EQ(copy.text("r[1].w"), "b");
    EXPECT_EQ(doc.count("r"), 0);
}

// ---------------------------------------------------------------------------------------------
// JSON string literals for other writers of JSON text (UTF-8 in and out).

TEST(JsonQuoted, EscapesWhatJsonNeedsAndPassesTheRest) {
    struct Case {
        std::string in;
        std::string out;
        bool readsBack; // the input is UTF-8 without a NUL, so the literal reads back as it
    } cases[] = {
        {"", R"("")", true},
        {"plain", R"("plain")", true},
        {"a\"b\\c", R"("a\"b\\c")", true},
        {"\b\f\n\r\t", R"("\b\f\n\r\t")", true},
        {std::string("\0\x01\x1f\x7f", 4), R"("\u0000\u0001\u001f\u007f")", false},
        {"中文 é", "\"中文 é\"", true},
        {"\u2028\uFEFF", R"("\u2028\ufeff")", true},
        {"\xD6\xD0\"", "\"\xD6\xD0\\\"\"", false}, // GBK bytes are not UTF-8: they pass through
        {"\xC0\x80", "\"\xC0\x80\"", false},       // an overlong NUL is not a NUL
        {"\xE4\xB8", "\"\xE4\xB8\"", false},       // a cut-off character
    };
    for (const Case& c : cases) {
        EXPECT_EQ(jsonString(c.in), c.out) << c.in;
        if (c.readsBack) {
            EXPECT_EQ(JsonValue::parse(utf8_to_gbk("[" + c.out + "]")).text("[0]"), utf8_to_gbk(c.in)) << c.in;
        }
    }
}

} // namespace
} // namespace zelkor
