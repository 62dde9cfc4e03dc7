// The request each row sends, as the loopback service received it.

#include "sources/routines.h"
#include "sources/source_table.h"
#include "sources/sources.h"
#include "sources/table_source.h"

#include "fixture_service.h"
#include "support/loopback.h"

#include <gtest/gtest.h>

#include <regex>

namespace zelkor {
namespace {

using test::FixtureService;
using test::to_gbk;

class SilentHost : public SourceHost {
  public:
    bool isSourceTicked(int) override { return true; }
    bool offerCandidate(const Text&, const Text&, int) override { return true; }
    std::stop_token stopToken() const override { return {}; }
};

// The keyword a b&#手机: every byte encoded, so "&" and "#" never split the query.
constexpr const char* K = "%61%20%62%26%23%E6%89%8B%E6%9C%BA";

struct RequestCase {
    int source;
    std::string target; // "{K}" stands for the encoded keyword
};

const std::vector<RequestCase>& requestCases() {
    static const std::vector<RequestCase> all = {
        {0, "/s?ie=utf-8&wd={K}"},
        {1, "/5a1Fazu8AA54nxGko9WTAnF6hhy/su?wd={K}"},
        {2, "/s?ie=utf-8&word={K}"},
        {3, "/su?pre=1&p=3&ie=utf-8&from=wise_web&net=1&os=&sp=177&wd={K}"},
        {4, "/sug?code=utf-8&q={K}"},
        {5, "/s?ie=utf-8&fr=so.com&src=home_so.com&q={K}"},
        {6, "/suggest?callback=suggest_so&encodein=utf-8&encodeout=utf-8&format=json&fields=word&word={K}"},
        {7, "/s?by=submit&from=sm&tomode=center&q={K}"},
        {8, "/web?t=w&uc_param_str=dnnwnt&scheme=http&fr=android&bid=1&q={K}"},
        {9, "/web?query={K}"},
        {10, "/suggnew/ajajjson?key={K}&type=web&ori=yes&pr=web&abtestid=7"},
        {11, "/relatedSearch?query={K}"},
        {12, "/s?q={K}&src=srp"},
        {13, "/suggest/word?callback=suggest_so&encodein=utf-8&encodeout=utf-8&word={K}"},
        {14, "/so/q_{K}"},
        {15, "/search_tip_1?jsoncallback=XBox.kUpdate&query={K}&site=14&h=10"},
        {16,
         "/main/"
         "suggest?jsoncallback=jQuery3310480078012582307_1573784332831&func=suggest&suggest_type=accurate&"
         "sub_type=tag&main_ver=v1&highlight=&userid=0&bangumi_acc_num=1&special_acc_num=1&topic_acc_num=1&"
         "upuser_acc_num=3&tag_num=10&special_num=10&bangumi_num=10&upuser_num=3&term={K}"},
        {17, "/smartbox?callback=jQuery19103531141076816895_1573784810277&plat=2&ver=0&num=10&otype=json&"
             "query={K}"
             "&uid=f187aac0-69a3-b89a-c738-b89d4c4d849b"},
        {18, "/?key={K}&platform=11&ppuid=7302591136&rltnum=20&uid=b5598341270933cc14503a329f48821a&cb=cb"},
        {19, "/s?callback=__search_tip_callback&uid=5693955494272761&source=pc&encode=utf-8&key={K}"},
        {20, "/complete/"
             "search?client=youtube&hl=zh-CN&gl=us&gs_rn=64&gs_ri=youtube&tok=VygzyMUeFX3SD2rtaK4KEx&ds=yt&"
             "cp=4&gs_id=ep&q={K}&callback=google.sbox.p50&gs_gbg=8ZVne39jusLypzJJkNaTwml"},
        {21, "/search?hl=zh-CN&source=hp&ei=_J7PgwR7LmYPJ9FBaEHd5_j&q={K}"},
        {22, "/complete/search?q={K}&client=psy-ab&xssi=t&gs_ri=gws-wiz&hl=zh-CN&authuser=0"},
        {23, "/bin/suggest?type=offer&industryFlag=&q={K}&ver=2&encode=utf-8&_="},
        {24, "/?terminal=pc&newjson=1&ver=2&zip=1&key={K}"},
    };
    return all;
}

std::string header(const test::ReceivedRequest& request, const std::string& name) {
    const auto it = request.headers.find(name);
    return it == request.headers.end() ? std::string("<none>") : it->second;
}

class SourceRequest : public ::testing::TestWithParam<RequestCase> {};

TEST_P(SourceRequest, TheServiceReceivesTheRowsRequest) {
    const RequestCase& c = GetParam();
    FixtureService service;
    ASSERT_TRUE(service.ok());
    Endpoints endpoints;
    endpoints.set(std::to_string(c.source), service.origin());
    auto source = make_table_source(c.source, endpoints);

    const std::string before = epoch_millis_text();
    SilentHost host;
    source->run(to_gbk("a b&#手机"), host);
    const std::string after = epoch_millis_text();

    const auto requests = service.requests();
    ASSERT_EQ(requests.size(), 1u);
    const test::ReceivedRequest& request = requests[0];
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.source, c.source);
    EXPECT_EQ(request.keyword, "a b&#手机");

    std::string expected = c.target;
    expected.replace(expected.find("{K}"), 3, K);
    if (c.source == 23) {
        // The stamp: whole seconds, so it ends in 000, taken just before the request.
        ASSERT_TRUE(request.target.starts_with(expected)) << request.target;
        const std::string stamp = request.target.substr(expected.size());
        EXPECT_TRUE(std::regex_match(stamp, std::regex("[1-9][0-9]*000"))) << stamp;
        EXPECT_GE(std::stoll(stamp), std::stoll(before));
        EXPECT_LE(std::stoll(stamp), std::stoll(after));
    } else {
        EXPECT_EQ(request.target, expected);
    }

    const bool plain = c.source >= 20 && c.source <= 22;
    EXPECT_EQ(request.version, plain ? "HTTP/1.0" : "HTTP/1.1");
    if (plain) {
        EXPECT_EQ(header(request, "User-Agent"), "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)");
        EXPECT_EQ(header(request, "Accept"), "*/*");
        EXPECT_EQ(header(request, "Accept-Language"), "<none>");
    }

    const std::string android =
        "Mozilla/5.0 (Linux; Android 6.0; Nexus 5 Build/MRA58N) AppleWebKit/537.36 (KHTML, "
        "like Gecko) Chrome/78.0.3904.70 Mobile Safari/537.36";
    const std::string iphone =
        "Mozilla/5.0 (iPhone; CPU iPhone OS 11_0 like Mac OS X) AppleWebKit/604.1.38 (KHTML, "
        "like Gecko) Version/11.0 Mobile/15A372 Safari/604.1";
    const std::string windows = "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
                                "Chrome/50.0.2661.87 Safari/537.36";
    const std::string jd = "Mozilla/5.0 (Windows NT 6.1; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
                           "Chrome/78.0.3904.70 Safari/537.36";
    switch (c.source) {
    case 2:
        EXPECT_EQ(header(request, "User-Agent"), android);
        EXPECT_NE(header(request, "Cookie"), "<none>"); // byte for byte below
        break;
    case 8:
        EXPECT_EQ(header(request, "User-Agent"), iphone);
        break;
    case 11:
        EXPECT_EQ(header(request, "User-Agent"), windows);
        break;
    case 24:
        EXPECT_EQ(header(request, "User-Agent"), jd);
        EXPECT_EQ(header(request, "Host"), "127.0.0.1:" + std::to_string(service.port()));
        EXPECT_EQ(header(request, "Pragma"), "no-cache");
        EXPECT_EQ(header(request, "Referer"), "https://www.jd.com/");
        EXPECT_EQ(header(request, "Sec-Fetch-Mode"), "no-cors");
        EXPECT_EQ(header(request, "Sec-Fetch-Site"), "same-site");
        EXPECT_NE(header(request, "Cookie"), "<none>");
        break;
    default:
        // Only the engine's (or the plain fetch's) own headers, and no cookie.
        EXPECT_EQ(header(request, "Cookie"), "<none>");
        EXPECT_NE(header(request, "User-Agent"), android);
        EXPECT_EQ(request.headers.count("Referer"), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, SourceRequest, ::testing::ValuesIn(requestCases()),
                         [](const auto& info) { return "row" + std::to_string(info.param.source); });

// The rows' own header lines and cookie texts as they go out on the wire: byte for byte, in order,
// each once (the engine's defaults never add a second User-Agent or Host).
TEST(SourceRequestHeaders, TheRowsHeaderBlocksGoOutByteForByte) {
    test::RawServer server([](const test::RawRequest&) -> std::optional<std::string> {
        return std::string("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\n[]");
    });
    const std::string host = "127.0.0.1:" + std::to_string(server.port());
    struct Case {
        int source;
        std::string block; // consecutive lines of the request head
        std::vector<std::string> once;
    } cases[] = {
        {2,
         "\r\nUser-Agent: Mozilla/5.0 (Linux; Android 6.0; Nexus 5 Build/MRA58N) AppleWebKit/537.36 (KHTML, "
         "like "
         "Gecko) Chrome/78.0.3904.70 Mobile Safari/537.36\r\n",
         {"User-Agent:", "Cookie:"}},
        {2, "\r\n" + source_config::baiduCookieText() + "\r\n", {}},
        {8,
         "\r\nUser-Agent: Mozilla/5.0 (iPhone; CPU iPhone OS 11_0 like Mac OS X) AppleWebKit/604.1.38 "
         "(KHTML, like "
         "Gecko) Version/11.0 Mobile/15A372 Safari/604.1\r\n",
         {"User-Agent:"}},
        {11,
         "\r\nUser-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
         "Chrome/50.0.2661.87 Safari/537.36\r\n",
         {"User-Agent:"}},
        {24,
         "\r\nHost: " + host +
             "\r\nPragma: no-cache\r\nReferer: https://www.jd.com/\r\nSec-Fetch-Mode: "
             "no-cors\r\nSec-Fetch-Site: same-site\r\nUser-Agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64) "
             "AppleWebKit/537.36 (KHTML, like Gecko) Chrome/78.0.3904.70 Safari/537.36\r\n",
         {"Host:", "User-Agent:", "Cookie:", "Pragma:", "Referer:"}},
        {24, "\r\n" + source_config::jdCookieText() + "\r\n", {}},
    };
    SilentHost silent;
    for (const Case& c : cases) {
        Endpoints endpoints;
        endpoints.set(std::to_string(c.source), server.url(""));
        const std::size_t before = server.requests().size();
        make_table_source(c.source, endpoints)->run(to_gbk("手机"), silent);
        const auto requests = server.requests();
        ASSERT_EQ(requests.size(), before + 1) << c.source;
        const std::string& head = requests.back().head;
        EXPECT_NE(head.find(c.block), std::string::npos) << c.source << "\n" << head;
        for (const std::string& name : c.once) {
            const std::string line = "\r\n" + name;
            EXPECT_NE(head.find(line), std::string::npos) << c.source << " " << name;
            EXPECT_EQ(head.find(line), head.rfind(line)) << c.source << " " << name << " sent twice";
        }
    }
}

TEST(SourceRequestKeyword, AnEmptyKeywordIsSentWithAnEmptyValue) {
    FixtureService service;
    ASSERT_TRUE(service.ok());
    Endpoints endpoints;
    endpoints.set("0", service.origin());
    SilentHost host;
    make_table_source(0, endpoints)->run("", host);
    ASSERT_EQ(service.requests().size(), 1u);
    EXPECT_EQ(service.requests()[0].target, "/s?ie=utf-8&wd=");
}

TEST(SourceEndpoints, DefaultHostsAndSchemesAndOverrides) {
    const char* defaults[] = {"http://www.baidu.com",
                              "https://sp0.baidu.com",
                              "https://m.baidu.com",
                              "https://m.baidu.com",
                              "https://suggest.taobao.com",
                              "https://www.so.com",
                              "https://sug.so.360.cn",
                              "https://m.sm.cn",
                              "https://sugs.m.sm.cn",
                              "https://www.sogou.com",
                              "https://www.sogou.com",
                              "http://search.dxy.cn",
                              "http://ly.so.com",
                              "http://sug.ly.so.com",
                              "https://so.iqiyi.com",
                              "https://tip.soku.com",
                              "https://s.search.bilibili.com",
                              "https://s.video.qq.com",
                              "https://suggest.video.iqiyi.com",
                              "https://tip.tv.sohu.com",
                              "https://clients1.google.com",
                              "https://www.google.com",
                              "https://www.google.com",
                              "https://suggest.1688.com",
                              "https://dd-search.jd.com"};
    const Endpoints none;
    for (int i = 0; i < kSourceCount; ++i)
        EXPECT_EQ(source_endpoint_base(i, none), defaults[i]) << i;
    EXPECT_EQ(make_table_source(0, none)->requestUrl(to_gbk("手机")),
              "http://www.baidu.com/s?ie=utf-8&wd=%E6%89%8B%E6%9C%BA");
    EXPECT_NE(make_table_source(24, none)->requestHeaders().find("Host: dd-search.jd.com\r\n"),
              std::string::npos);

    Endpoints moved;
    moved.set("24", "https://127.0.0.1:8443/");
    EXPECT_EQ(source_endpoint_base(24, moved), "https://127.0.0.1:8443");
    const Text headers = make_table_source(24, moved)->requestHeaders();
    EXPECT_TRUE(
        headers.starts_with("Host: 127.0.0.1:8443\r\nPragma: no-cache\r\nReferer: https://www.jd.com/\r\n"))
        << headers;
    EXPECT_FALSE(headers.ends_with("\r\n"));
}

} // namespace
} // namespace zelkor
