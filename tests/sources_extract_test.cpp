// Every row over answers of its service's shape, served on loopback and fetched the way a run
// fetches them: the phrases offered, in order, with the row's output name and pause.

#include "sources/sources.h"
#include "sources/table_source.h"

#include "fixture_service.h"

#include <gtest/gtest.h>

#include <atomic>

namespace zelkor {
namespace {

using test::FixtureService;
using test::to_gbk;

struct Offer {
    Text phrase;
    Text outputName;
    int pauseMs;
};

class RecordingHost : public SourceHost {
  public:
    std::vector<bool> ticked = std::vector<bool>(kSourceCount, true);
    std::vector<Offer> offers;
    std::stop_source stop;
    std::atomic<int> tickReads{0};
    int stopAfterOffers = -1;

    bool isSourceTicked(int index) override {
        ++tickReads;
        return index >= 0 && index < kSourceCount && ticked[static_cast<std::size_t>(index)];
    }
    bool offerCandidate(const Text& candidate, const Text& outputName, int displayPauseMs) override {
        offers.push_back({candidate, outputName, displayPauseMs});
        if (stopAfterOffers >= 0 && static_cast<int>(offers.size()) >= stopAfterOffers) stop.request_stop();
        return true;
    }
    std::stop_token stopToken() const override { return stop.get_token(); }

    std::vector<Text> phrases() const {
        std::vector<Text> out;
        for (const Offer& offer : offers)
            out.push_back(offer.phrase);
        return out;
    }
};

enum class Enc { Utf8, Gbk };

struct Case {
    int source;
    const char* name;
    Enc encoding; // of the body as the service sends it
    std::string body;
    std::vector<std::string> expected; // UTF-8
};

std::string withMeta(const std::string& body) {
    return "<html><head><meta charset=\"utf-8\"><title>t</title></head><body>" + body + "</body></html>";
}

const std::vector<Case>& cases() {
    static const std::vector<Case> all = {
        // 0 百度相关: block after a leading space, <th> cells stripped of their links.
        {0,
         "baidu_related",
         Enc::Utf8,
         withMeta(
             "<div>x</div> <div id=\"rs\"><div class=\"tt\">相关搜索</div><table "
             "cellpadding=\"0\"><tbody><tr>"
             "<th><a href=\"/s?wd=%E7&amp;rsf=1\">生肖运势</a></th><td></td><th><a "
             "href=\"#\"><b>手机</b>壳&nbsp;</a>"
             "</th><td></td><th></th><th>生肖运势</th></tr></tbody></table></div><div id=\"page\"></div>"),
         {"生肖运势", "手机壳", "", "生肖运势"}},
        {0,
         "baidu_related_gbk_page_without_meta",
         Enc::Gbk,
         "<html><body> <div id=\"rs\"><div "
         "class=\"tt\">相关搜索</div><table><tr><th><a>手机</a></th></tr></table></div>",
         {"手机"}},
        {0,
         "baidu_related_without_leading_space",
         Enc::Utf8,
         withMeta("<div id=\"rs\"><div class=\"tt\">相关搜索</div><table><tr><th>a</th></tr></table></div>"),
         {}},
        {0,
         "baidu_related_first_block_only",
         Enc::Utf8,
         withMeta("</div> <div id=\"rs\"><div class=\"tt\">相关搜索</div><th>a</th></div>"
                  " <div id=\"rs\"><div class=\"tt\">相关搜索</div><th>b</th></div>"),
         {"a"}},
        {0,
         "baidu_related_item_cut_by_section_end",
         Enc::Utf8,
         withMeta(" <div id=\"rs\"><div class=\"tt\">相关搜索</div><th>a</th><th>b</div><p>c</th></p>"),
         {"a"}},
        // 1 百度下拉: GBK JSONP with script-literal keys.
        {1,
         "baidu_sug",
         Enc::Gbk,
         "window.baidu.sug({q:\"手机\",p:false,s:[\"手机壳\",\"手机膜\",\"手机壳\"]});",
         {"手机壳", "手机膜", "手机壳"}},
        {1,
         "baidu_sug_quoted_keys",
         Enc::Gbk,
         "window.baidu.sug({\"q\":\"m\",\"p\":false,\"bs\":\"\",\"csor\":\"1\",\"status\":0,\"g\":[{\"q\":"
         "\"美团\","
         "\"t\":\"n\"}],\"s\":[\"美团\",\"mac\"]});",
         {"美团", "mac"}},
        {1,
         "baidu_sug_empty",
         Enc::Gbk,
         "window.baidu.sug({\"q\":\"\",\"p\":false,\"status\":769,\"s\":[]});",
         {}},
        {1,
         "baidu_sug_other_callback",
         Enc::Gbk,
         "window.bdsug.sug({q:\"nike\",p:true,s:[\"nike官网\"]});",
         {}},
        {1, "baidu_sug_paren_in_phrase", Enc::Gbk, "window.baidu.sug({q:\"a\",s:[\"a);b\",\"c\"]});", {}},
        // 2 百度移动: UTF-8 page, span texts kept as they are.
        {2,
         "baidu_mobile",
         Enc::Utf8,
         "<html><body><h3><span>相关搜索</span><!----><!----></h3><div><a><span "
         "data-a-2dcf2678>手机报价</span></a>"
         "<a><span data-a-2dcf2678><b>手机</b>&amp;壳</span></a></div><div><a><i></i>下一页<i></i></a></div>",
         {"手机报价", "<b>手机</b>&amp;壳"}},
        {2,
         "baidu_mobile_without_next_page",
         Enc::Utf8,
         "<h3><span>相关搜索</span><!----><!----></h3><span data-a-2dcf2678>a</span>",
         {}},
        // 3 百度移动下拉: UTF-8 JSONP; a phrase with a character outside GBK is left out, not offered
        // with a "?" the service never sent.
        {3,
         "baidu_mobile_sug",
         Enc::Utf8,
         "window.baidu.sug({q:\"手机\",p:false,s:[\"手机回收\",\"手机😀\",\"\\u4e2d\",\"问?\"]});",
         {"手机回收", "中", "问?"}},
        // 4 淘宝下拉: [phrase, count] pairs.
        {4,
         "taobao",
         Enc::Utf8,
         "{\"result\":[[\"妈妈装春装\",\"636521\"],[\"妈妈装外套\",\"849547\"]],\"magic\":[{\"index\":\"1\"}]"
         "}",
         {"妈妈装春装", "妈妈装外套"}},
        {4,
         "taobao_jsonp_is_another_shape",
         Enc::Utf8,
         "KISSY.Suggest.callback({\"result\":[[\"前端\",\"1\"]]})",
         {}},
        // 5 360搜索: the section starts right after 相关搜索 in the heading.
        {5,
         "so360_related",
         Enc::Utf8,
         withMeta(
             "<div id=\"rs\"><h3>相关搜索</h3><table><tr><th><a href=\"/s?q=x\">手机品牌</a></th><td></td>"
             "<th><a>手机&lt;排行&gt;</a></th></tr></table></div><div id=\"page\"><a>2</a></div>"),
         {"手机品牌", "手机"}},
        // 6 360下拉.
        {6,
         "so360_sug",
         Enc::Utf8,
         "suggest_so({\"query\":\"json\",\"result\":[{\"word\":\"json在线解析\"},{\"word\":\"json格式\"},{"
         "\"x\":1}],"
         "\"version\":\"3.2.2\",\"rec\":\"\"});",
         {"json在线解析", "json格式", ""}},
        {6, "so360_sug_paren_in_phrase", Enc::Utf8, "suggest_so({\"result\":[{\"word\":\"a(b)\"}]});", {}},
        // 7 神马相关.
        {7,
         "shenma_related",
         Enc::Utf8,
         withMeta(
             "<div><h2>相关搜索:</h2><ul><li><a href=\"/s?q=x\"><span>手机银行</span></a></li><li>a<br>b</li>"
             "</ul></div>"),
         {"手机银行", "ab"}},
        {7,
         "shenma_related_fullwidth_colon",
         Enc::Utf8,
         withMeta("<h2>相关搜索：</h2><ul><li>a</li></ul></div>"),
         {}},
        // 8 神马下拉.
        {8,
         "shenma_sug",
         Enc::Utf8,
         "{\"q\":\"设计\",\"r\":[{\"w\":\"设计师\"},{\"w\":\"设计图纸\"}]}",
         {"设计师", "设计图纸"}},
        // 9 搜狗搜索: empty cells are offered too.
        {9,
         "sogou_related",
         Enc::Gbk,
         "<table id=\"hint_container\">\n<caption>相关搜索</caption>\n<tr><td><a "
         "href=\"/web?query=a\">a</a></td>"
         "<td></td><td>b</td></tr></table>",
         {"a", "", "b"}},
        // 10 搜狗下拉: the second element of the root array.
        {10,
         "sogou_sug",
         Enc::Gbk,
         "window.sogou.sug([\"前端\",[\"前端开发\",\"前端框架\"],[\"0;0;0;0\",\"1;0;0;0\"],[\"\",\"\"],["
         "\"0\"],\"\","
         "\"suglabId_1\"],-1);",
         {"前端开发", "前端框架"}},
        {10, "sogou_sug_single_element", Enc::Gbk, "window.sogou.sug([\"前端\"],-1);", {}},
        // 11 丁香医疗: GBK JSON; an element without the field is offered as the empty text.
        {11,
         "dxy",
         Enc::Gbk,
         "{\"result\":[{\"query\":\"感冒\"},{\"id\":3},{\"query\":\"感冒药\"}]}",
         {"感冒", "", "感冒药"}},
        // 12 360良医相关.
        {12,
         "ly_related",
         Enc::Gbk,
         "<h3>相关搜索</h3><table><tr><th><a>感冒</a></th><th><a>发烧</a></th></tr></table>",
         {"感冒", "发烧"}},
        // 13 360良医下拉.
        {13,
         "ly_sug",
         Enc::Utf8,
         "suggest_so({q:\"qianduan\",p:true,s:[\"前端\",\"钱端\"]});",
         {"前端", "钱端"}},
        // 14 爱奇艺搜索: the link target's piece, not decoded.
        {14,
         "iqiyi_related",
         Enc::Utf8,
         withMeta("<h3>相关搜索</h3><ul><li><a href=\"/so/q_手机?source=x\">手机</a></li><li><a "
                  "href=\"/so/q_手机壳?source=y\">手机壳</a></li><li><a "
                  "href=\"/so/q_%E6%89%8B?source=z\"></a></li></ul>"),
         {"手机", "手机壳", "%E6%89%8B"}},
        // 15 优酷相关.
        {15,
         "youku",
         Enc::Utf8,
         "XBox.kUpdate({\"q\":\"a\",\"vs\":[],\"t\":\"x\",\"r\":[{\"w\":\"手机电视\",\"k\":\"\"}]})",
         {"手机电视"}},
        // 16 b站下拉: highlight tags stripped.
        {16,
         "bilibili",
         Enc::Utf8,
         "jQuery3310480078012582307_1573784332831({\"code\":0,\"result\":{\"tag\":[{\"value\":\"<em "
         "class=\\\"suggest_high_light\\\">小</em>霖QL\",\"term\":\"x\"},{\"value\":\"小说\"}]}})",
         {"小霖QL", "小说"}},
        // 17 腾讯下拉.
        {17,
         "tencent",
         Enc::Utf8,
         "jQuery19103531141076816895_1573784810277({\"item\":[{\"word\":\"<b>手机</b>视频\"}]})",
         {"手机视频"}},
        // 18 爱奇艺下拉: everything after the first "=", later ones kept.
        {18,
         "iqiyi_sug",
         Enc::Utf8,
         "var cb={\"data\":[{\"name\":\"a=b\"},{\"name\":\"<b>c</b>\"}]}",
         {"a=b", "c"}},
        {18, "iqiyi_sug_without_equals", Enc::Utf8, "cb({\"data\":[{\"name\":\"a\"}]})", {}},
        // 19 搜狐视频.
        {19,
         "sohu",
         Enc::Utf8,
         "__search_tip_callback({\"r\":[{\"t\":\"<font color=red>手机</font>短片\"}]})",
         {"手机短片"}},
        // 20 youtube.
        {20,
         "youtube",
         Enc::Utf8,
         "google.sbox.p50 && google.sbox.p50([\"hol\",[[\"holiday\",35,[39]],[\"hold "
         "<b>on</b>\",0]],{\"k\":1}])",
         {"holiday", "hold on"}},
        // 21 google相关: the rfs array in the page's script.
        {21,
         "google_related",
         Enc::Utf8,
         "<script>var m={\"a\":1,\"rfs\":[\"x\",\"y\"],\"b\":[2]};</script>",
         {"x", "y"}},
        {21,
         "google_related_bracket_in_phrase",
         Enc::Utf8,
         "<script>m={\"rfs\":[\"x]\",\"y\"]}</script>",
         {}},
        {21, "google_related_absent", Enc::Utf8, "<html>no related searches</html>", {}},
        // 22 google下拉: the guard removed, tags stripped.
        {22,
         "google_sug",
         Enc::Utf8,
         ")]}'\n[[[\"t\\u003cb\\u003earget\\u003c\\/b\\u003e\",0,[131]],[\"tr\\u003cb\\u003eump\\u003c\\/"
         "b\\u003e\",0]],"
         "{\"i\":\"xwfe\"}]",
         {"target", "trump"}},
        {22, "google_sug_guard_inside_a_phrase", Enc::Utf8, ")]}'\n[[[\"a)]}'b\",0]]]", {"ab"}},
        // 23 1688下拉: the assignment removed, "_" and "%" removed from each phrase (whole characters).
        {23,
         "alibaba",
         Enc::Utf8,
         "var _suggest_result_={result:[{q:\"a_b%c\"},{q:\"臺_\"}]};",
         {"abc", "臺"}},
        // 24 京东下拉: the root array.
        {24,
         "jd",
         Enc::Utf8,
         "[{\n\t\"key\": \"耳机蓝牙\",\n\t\"qre\": \"625584\"\n}, {\n\t\"key\": \"耳机 plus\"\n}, "
         "{\n\t\"version\": "
         "\"V06\"\n}]",
         {"耳机蓝牙", "耳机 plus", ""}},
        {24, "jd_object_instead", Enc::Utf8, "{\"key\":\"a\"}", {}},
    };
    return all;
}

class SourceExtract : public ::testing::TestWithParam<Case> {};

TEST_P(SourceExtract, OffersThePhrasesInOrder) {
    const Case& c = GetParam();
    FixtureService service;
    ASSERT_TRUE(service.ok());
    const std::string body = c.encoding == Enc::Gbk ? to_gbk(c.body) : c.body;
    service.setFixedAnswer(c.source, body,
                           c.encoding == Enc::Gbk ? "text/html; charset=gbk" : "text/html; charset=utf-8");
    Endpoints endpoints;
    endpoints.set(std::to_string(c.source), service.origin());
    auto source = make_table_source(c.source, endpoints);

    RecordingHost host;
    source->run(to_gbk("手机"), host);

    std::vector<Text> expected;
    for (const std::string& phrase : c.expected)
        expected.push_back(to_gbk(phrase));
    EXPECT_EQ(host.phrases(), expected);
    for (const Offer& offer : host.offers) {
        EXPECT_EQ(offer.outputName, to_gbk(source_rows()[c.source].outputName));
        EXPECT_EQ(offer.pauseMs, c.source <= 1 ? 0 : 100);
    }
    ASSERT_EQ(service.requests().size(), 1u);
    EXPECT_EQ(service.requests()[0].source, c.source);
}

INSTANTIATE_TEST_SUITE_P(Rows, SourceExtract, ::testing::ValuesIn(cases()), [](const auto& info) {
    return std::to_string(info.param.source) + "_" + info.param.name;
});

TEST(SourceFailures, WrongShapesAndBrokenServicesGiveNothing) {
    FixtureService service;
    ASSERT_TRUE(service.ok());
    Endpoints endpoints;
    for (int i = 0; i < kSourceCount; ++i)
        endpoints.set(std::to_string(i), service.origin());
    const std::string shapes[] = {"",     "{}",          "[]", "<html><body>nothing here</body></html>",
                                  "null", "\x01\xff\xfe"};
    for (int i = 0; i < kSourceCount; ++i) {
        auto source = make_table_source(i, endpoints);
        for (const std::string& shape : shapes) {
            service.setFixedAnswer(i, shape);
            RecordingHost host;
            source->run(to_gbk("手机"), host);
            EXPECT_TRUE(host.offers.empty()) << "source " << i << " body " << shape;
        }
        service.setFixedAnswer(i, std::nullopt);
        service.setFault(i, test::FixtureFault::Garbage500);
        RecordingHost host;
        source->run(to_gbk("手机"), host);
        EXPECT_TRUE(host.offers.empty()) << "source " << i << " answering 500";
    }
    // A port nobody listens on.
    Endpoints closed;
    closed.set("1", "http://127.0.0.1:1");
    RecordingHost host;
    make_table_source(1, closed)->run(to_gbk("手机"), host);
    EXPECT_TRUE(host.offers.empty());
}

TEST(SourceHostile, ControlCharactersAndBytesOutsideGbkNeverReachTheSink) {
    struct Hostile {
        int source;
        std::string body; // bytes as sent
        std::vector<std::string> expected; // UTF-8
    };
    const Hostile cases[] = {
        // Escapes in a JSON answer that would add a line of the answer's choosing.
        {1,
         to_gbk("window.baidu.sug({q:\"手机\",p:false,s:[\"手机\\r\\n99 来源：假\",\"\\u0007铃\\u007f\",\"\\t\",\"\","
                "\"手机壳\"]});"),
         {"手机99 来源：假", "铃", "", "手机壳"}},
        // Raw line breaks in a page, and GBK lead bytes with nothing after them.
        {0,
         to_gbk("<html><body> <div id=\"rs\"><div class=\"tt\">相关搜索</div><table><tr><th>手机\r\n壳</th>") +
             "<th>" + to_gbk("手机") + "\x81</th><th>" + to_gbk("手机") + "\xa1</th><th>\xff</th><th>" +
             to_gbk("手机膜") + "</th></tr></table></div>",
         {"手机壳", "手机膜"}},
    };
    for (const Hostile& c : cases) {
        SCOPED_TRACE(c.source);
        FixtureService service;
        ASSERT_TRUE(service.ok());
        service.setFixedAnswer(c.source, c.body, "text/html; charset=gbk");
        Endpoints endpoints;
        endpoints.set(std::to_string(c.source), service.origin());
        RecordingHost host;
        make_table_source(c.source, endpoints)->run(to_gbk("手机"), host);
        std::vector<Text> expected;
        for (const std::string& phrase : c.expected)
            expected.push_back(to_gbk(phrase));
        EXPECT_EQ(host.phrases(), expected);
    }
    EXPECT_EQ(without_control_characters("a\x01" "b\x7f\x1f"), "ab");
    EXPECT_TRUE(is_gbk(to_gbk("手机壳 QQ")));
    for (const std::string bad : {"\x81", "ab\xa1", "\xff\xfe"})
        EXPECT_FALSE(is_gbk(bad)) << bad;
}

TEST(SourceGraph, TheServiceAnswersFromTheGraphItIsGiven) {
    FixtureService service;
    ASSERT_TRUE(service.ok());
    test::FixtureGraph graph;
    graph["x"][24] = {"x1", "x2"};
    service.useGraph(std::move(graph));
    Endpoints endpoints;
    endpoints.set("24", service.origin());
    RecordingHost host;
    make_table_source(24, endpoints)->run("x", host);
    // The trailing element carries no key: the empty text.
    EXPECT_EQ(host.phrases(), (std::vector<Text>{"x1", "x2", ""}));
    host.offers.clear();
    make_table_source(24, endpoints)->run(to_gbk("手机"), host); // not in the given graph
    EXPECT_EQ(host.phrases(), std::vector<Text>{""});
}

TEST(SourceTick, AnUntickedSourceSendsNothingAndTheTickIsReadAtEveryCall) {
    FixtureService service;
    ASSERT_TRUE(service.ok());
    Endpoints endpoints;
    endpoints.set("1", service.origin());
    auto source = make_table_source(1, endpoints);
    RecordingHost host;
    host.ticked[1] = false;
    source->run(to_gbk("手机"), host);
    EXPECT_TRUE(service.requests().empty());
    EXPECT_TRUE(host.offers.empty());

    host.ticked[1] = true;
    source->run(to_gbk("手机"), host);
    EXPECT_EQ(service.requests().size(), 1u);
    EXPECT_EQ(host.phrases(), (std::vector<Text>{to_gbk("手机壳"), to_gbk("手机膜")}));
    EXPECT_EQ(host.tickReads, 2);
}

TEST(SourceStop, NothingIsSentOrOfferedAfterTheStop) {
    FixtureService service;
    ASSERT_TRUE(service.ok());
    Endpoints endpoints;
    endpoints.set("0", service.origin());
    auto source = make_table_source(0, endpoints);

    RecordingHost stopped;
    stopped.stop.request_stop();
    source->run(to_gbk("手机"), stopped);
    EXPECT_TRUE(service.requests().empty());

    // Stopped by the first offer: the other two phrases of the answer are not offered.
    RecordingHost host;
    host.stopAfterOffers = 1;
    source->run(to_gbk("手机"), host);
    EXPECT_EQ(host.phrases(), std::vector<Text>{to_gbk("手机壳")});
}

TEST(SourceStop, AStopEndsARequestInFlight) {
    FixtureService service;
    ASSERT_TRUE(service.ok());
    service.setFault(6, test::FixtureFault::Silent);
    Endpoints endpoints;
    endpoints.set("6", service.origin());
    auto source = make_table_source(6, endpoints);
    RecordingHost host;
    std::thread stopper([&] {
        while (service.requests().empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        host.stop.request_stop();
    });
    source->run(to_gbk("手机"), host); // returns long before the engine's 30 s time-out
    stopper.join();
    EXPECT_TRUE(host.offers.empty());
}

} // namespace
} // namespace zelkor
