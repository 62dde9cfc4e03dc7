#include "sources/source_table.h"

#include <algorithm>

namespace zelkor {

namespace source_config {

const std::vector<std::pair<std::string_view, std::string_view>>& baiduCookies() {
    static const std::vector<std::pair<std::string_view, std::string_view>> cookies = {
        {"MSA_WH", "375_667"},
        {"BAIDUID", "3C786672077984BB8BF6080492D8BC33:FG=1"},
        {"PSTM", "8347022870"},
        {"COOKIE_SESSION", "070696387_352284832_373393804_461679454_390420996_115193029_384242374_663867990_"
                           "903838727_512132876_218521607_429044776_444581289_421137916_763766131_123386895_"
                           "871252752_583019"},
        {"BDUSS",
         "HLYiWoNszL5iOW61Cjxc0i-r-~EeEs0KhNe0XNuMbZ3dUjbr0Vezosg886hKHOSRFh3aqzUA~z0lrGSEk~zRVGz41eSG"
         "HIwQsETtvm-MkR-GARSkuPpWW4g~y6dWNPR5UEqZdT-gaCoRaVrzUnJaUrS9lJ76cwOBMxfDaN373wY7P1ij"},
        {"BIDUPSID", "19A03D7CD9BE263F75ACC003D3C3D174"},
        {"BDORZ", "B490B5EBF6F3CD402E515D22BCDA1598"},
        {"H_WISE_SIDS", "74835_32355_23523_67224_22839_47789_76472_20271_98325_84970_56558_79441_08796_55195_"
                        "72673_92845_99798_90779_17916_25269_56738_39601_48099_38750_19470_05134_75261_94437_"
                        "34993_13"},
        {"plus_lsv", "b4c4717d88c83c68"},
        {"plus_cv", "1::m:c029701d"},
        {"SE_LAUNCH", "5%3A82896317_0%3A79997193"},
        {"ASUV", "1.2.126"},
        {"lsv",
         "globalTjs_c9a06a9-wwwTcss_24bc62b-f094d5f08ec00ca1f04d691ed4f8ba9fb413a17840511065d19496815136"
         "ea42724e3009bc873bb81e77507b5257089c01be9eabc097ffd3721fd1f8935ae69b7a39338bb28f1c"},
        {"ysm", "87453"},
        {"BDORZ", "AE84CDB3A529C0F8A2B9DCDD1D18B695"},
        {"delPer", "0"},
        {"BDSVRBFE", "Go"},
        {"__bsi",
         "22717230815904433770_00_67_R_N_9_0303_c02f_53898676042085704567836253025263507381861077133234"
         "9368303131434490090503282049085953898564255559700630906697845377016048612561056809658"},
    };
    return cookies;
}

const std::vector<std::pair<std::string_view, std::string_view>>& jdCookies() {
    static const std::vector<std::pair<std::string_view, std::string_view>> cookies = {
        {"shshshfpa", "ec275f7c-48ed-5a28-9a79-fb1ad89a77b5-078005262"},
        {"shshshfpb", "EDNkdcyKDtshHTdP9CC9HoKm7mdHHWD69XrwMXcHuu5KKd"},
        {"__jdv", "122270672|direct|-|none|-|4474891351928"},
        {"__jdu", "9395912692928573760"},
        {"areaId", "1"},
        {"ipLoc-djd", "1-72-2799-0"},
        {"user-key", "4d4a6871-eae0-597d-5e13-8d84a9020d0074d76994aa"},
        {"cn", "0"},
        {"__jda", "122270672.2779497351482748332.2246917833.25799"},
        {"__jdb", "122270672.1.0810621908351479660|1.332811720405"},
        {"__jdc", "122270672"},
        {"shshshfp", "653fabd48938d1a6e841400af19949ff"},
        {"shshshsID", "18b8b5dd8a8dd2ded75c73bc0d25d7cd_1_2834759257415"},
    };
    return cookies;
}

namespace {
std::string cookieText(const std::vector<std::pair<std::string_view, std::string_view>>& cookies) {
    std::string text = "Cookie: ";
    for (std::size_t i = 0; i < cookies.size(); ++i) {
        if (i > 0) text += "; ";
        text.append(cookies[i].first).append("=").append(cookies[i].second);
    }
    return text;
}
} // namespace

const std::string& baiduCookieText() {
    static const std::string text = cookieText(baiduCookies());
    return text;
}

const std::string& jdCookieText() {
    static const std::string text = cookieText(jdCookies());
    return text;
}

} // namespace source_config

namespace {

using namespace source_config;

constexpr const char* kAndroidAgent = "User-Agent: Mozilla/5.0 (Linux; Android 6.0; Nexus 5 Build/MRA58N) "
                                      "AppleWebKit/537.36 (KHTML, like Gecko) Chrome/78.0.3904.70 Mobile "
                                      "Safari/537.36";
constexpr const char* kIphoneAgent =
    "Mozilla/5.0 (iPhone; CPU iPhone OS 11_0 like Mac OS X) AppleWebKit/604.1.38 "
    "(KHTML, like Gecko) Version/11.0 Mobile/15A372 Safari/604.1";
constexpr const char* kWindowsAgent =
    "User-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, "
    "like Gecko) Chrome/50.0.2661.87 Safari/537.36";
constexpr const char* kJdAgent =
    "User-Agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64) AppleWebKit/537.36 (KHTML, "
    "like Gecko) Chrome/78.0.3904.70 Safari/537.36";

SourceRow related(int index, const char* label, const char* output, const char* scheme, const char* host,
                  std::string prefix, std::string suffix, std::string sectionStart, std::string sectionEnd,
                  std::string itemStart, std::string itemEnd, ItemCleaning cleaning) {
    SourceRow row;
    row.index = index;
    row.label = label;
    row.outputName = output;
    row.family = SourceFamily::RelatedPage;
    row.displayPauseMs = index <= 1 ? 0 : 100;
    row.scheme = scheme;
    row.host = host;
    row.prefix = std::move(prefix);
    row.suffix = std::move(suffix);
    row.cut = BodyCut::Between;
    row.cutStart = std::move(sectionStart);
    row.cutEnd = std::move(sectionEnd);
    row.itemRule = ItemRule::Markers;
    row.itemStart = std::move(itemStart);
    row.itemEnd = std::move(itemEnd);
    row.cleaning = cleaning;
    return row;
}

SourceRow suggestion(int index, const char* label, const char* output, const char* scheme, const char* host,
                     std::string prefix, std::string suffix, BodyDecoding decoding, BodyCut cut,
                     std::string cutStart, std::string cutEnd, std::string arrayPath, std::string itemPrefix,
                     std::string itemSuffix, ItemCleaning cleaning) {
    SourceRow row;
    row.index = index;
    row.label = label;
    row.outputName = output;
    row.family = SourceFamily::Suggestion;
    row.displayPauseMs = index <= 1 ? 0 : 100;
    row.scheme = scheme;
    row.host = host;
    row.prefix = std::move(prefix);
    row.suffix = std::move(suffix);
    row.decoding = decoding;
    row.cut = cut;
    row.cutStart = std::move(cutStart);
    row.cutEnd = std::move(cutEnd);
    row.itemRule = ItemRule::JsonPaths;
    row.arrayPath = std::move(arrayPath);
    row.itemPrefix = std::move(itemPrefix);
    row.itemSuffix = std::move(itemSuffix);
    row.cleaning = cleaning;
    return row;
}

std::array<SourceRow, kSourceCount> buildRows() {
    using enum BodyCut;
    constexpr auto None = BodyDecoding::None;
    constexpr auto Utf8 = BodyDecoding::Utf8;
    constexpr auto StripHtml = ItemCleaning::StripHtml;
    constexpr auto RemoveUnderscorePercent = ItemCleaning::RemoveUnderscorePercent;
    const std::string d(kSo360Domain);
    std::array<SourceRow, kSourceCount> rows = {
        related(0, "百度相关", "百度相关", "http", "www.baidu.com", "/s?ie=utf-8&wd=", "",
                " <div id=\"rs\"><div class=\"tt\">相关搜索</div>", "</div>", "<th>", "</th>", StripHtml),
        suggestion(1, "百度下拉", "百度下拉", "https", "sp0.baidu.com", "/5a1Fazu8AA54nxGko9WTAnF6hhy/su?wd=",
                   "", None, Between, "window.baidu.sug(", ");", "s", "s[", "]", ItemCleaning::None),
        related(2, "百度移动", "百度移动相关", "https", "m.baidu.com", "/s?ie=utf-8&word=", "",
                "相关搜索</span><!----><!----></h3>", "</i>下一页<i", "<span data-a-2dcf2678>", "</span>",
                ItemCleaning::None),
        suggestion(3, "百度移动下拉", "百度移动下拉", "https", "m.baidu.com",
                   "/su?pre=1&p=3&ie=utf-8&from=wise_web&net=1&os=&sp=177&wd=", "", Utf8, Between,
                   "window.baidu.sug(", ");", "s", "s[", "]", ItemCleaning::None),
        suggestion(4, "淘宝下拉", "淘宝下拉", "https", "suggest.taobao.com", "/sug?code=utf-8&q=", "", Utf8,
                   Whole, "", "", "result", "result[", "][0]", ItemCleaning::None),
        related(5, "360搜索", "360搜索相关", "https", "www.so.com",
                "/s?ie=utf-8&fr=" + d + "&src=home_" + d + "&q=", "", "<h3>相关搜索", "<div id=\"page\">",
                "<th>", "</th>", StripHtml),
        suggestion(
            6, "360下拉", "360下拉", "https", "sug.so.360.cn",
            "/suggest?callback=suggest_so&encodein=utf-8&encodeout=utf-8&format=json&fields=word&word=", "",
            Utf8, Between, "suggest_so(", ")", "result", "result[", "].word", ItemCleaning::None),
        related(7, "神马相关", "神马相关", "https", "m.sm.cn", "/s?by=submit&from=sm&tomode=center&q=", "",
                "<h2>相关搜索:</h2>", "</ul></div>", "<li>", "</li>", StripHtml),
        suggestion(8, "神马下拉", "神马下拉", "https", "sugs.m.sm.cn",
                   "/web?t=w&uc_param_str=dnnwnt&scheme=http&fr=android&bid=1&q=", "", Utf8, Whole, "", "",
                   "r", "r[", "].w", ItemCleaning::None),
        related(9, "搜狗搜索", "搜狗相关", "https", "www.sogou.com", "/web?query=", "", "相关搜索</caption>",
                "</table>", "<td>", "</td>", StripHtml),
        suggestion(10, "搜狗下拉", "搜狗下拉", "https", "www.sogou.com",
                   "/suggnew/ajajjson?key=", "&type=web&ori=yes&pr=web&abtestid=7", None, Between,
                   "window.sogou.sug(", ",-1)", "[1]", "[1][", "]", ItemCleaning::None),
        suggestion(11, "丁香医疗", "丁香园医疗", "http", "search.dxy.cn", "/relatedSearch?query=", "", None,
                   Whole, "", "", "result", "result[", "].query", ItemCleaning::None),
        related(12, "360良医相关", "360良医相关", "http", "ly.so.com", "/s?q=", "&src=srp", "相关搜索</h3>",
                "</table>", "<th>", "</th>", StripHtml),
        suggestion(13, "360良医下拉", "360良医下拉", "http", "sug.ly.so.com",
                   "/suggest/word?callback=suggest_so&encodein=utf-8&encodeout=utf-8&word=", "", Utf8,
                   Between, "suggest_so(", ")", "s", "s[", "]", ItemCleaning::None),
        related(14, "爱奇艺搜索", "爱奇艺相关", "https", "so.iqiyi.com", "/so/q_", "", "相关搜索</h3>",
                "</ul>", "/so/q_", "?source", StripHtml),
        suggestion(15, "优酷相关", "优酷下拉", "https", "tip.soku.com",
                   "/search_tip_1?jsoncallback=XBox.kUpdate&query=", "&site=14&h=10", Utf8, Between,
                   "XBox.kUpdate(", ")", "r", "r[", "].w", ItemCleaning::None),
        suggestion(
            16, "b站下拉", "bilibili", "https", "s.search.bilibili.com",
            "/main/suggest?jsoncallback=jQuery3310480078012582307_1573784332831&func=suggest&suggest_type="
            "accurate&sub_type=tag&main_ver=v1&highlight=&userid=0&bangumi_acc_num=1&special_acc_num=1&"
            "topic_acc_num=1&upuser_acc_num=3&tag_num=10&special_num=10&bangumi_num=10&upuser_num=3&term=",
            "", Utf8, Between, "(", ")", "result.tag", "result.tag[", "].value", StripHtml),
        suggestion(17, "腾讯下拉", "腾讯视频", "https", "s.video.qq.com",
                   "/smartbox?callback=jQuery19103531141076816895_1573784810277&plat=2&ver=0&num=10&otype="
                   "json&query=",
                   "&uid=" + std::string(kTencentUid), Utf8, Between, "(", ")", "item", "item[", "].word",
                   StripHtml),
        suggestion(18, "爱奇艺下拉", "爱奇艺下拉", "https", "suggest.video.iqiyi.com", "/?key=",
                   "&platform=11&ppuid=" + std::string(kIqiyiPpuid) +
                       "&rltnum=20&uid=" + std::string(kIqiyiUid) + "&cb=cb",
                   Utf8, AfterFirstEquals, "", "", "data", "data[", "].name", StripHtml),
        suggestion(19, "搜狐视频", "搜狐下拉", "https", "tip.tv.sohu.com",
                   "/s?callback=__search_tip_callback&uid=" + std::string(kSohuUid) +
                       "&source=pc&encode=utf-8&key=",
                   "", Utf8, Between, "(", ")", "r", "r[", "].t", StripHtml),
        suggestion(20, "youtube", "youtube", "https", "clients1.google.com",
                   "/complete/search?client=youtube&hl=zh-CN&gl=us&gs_rn=64&gs_ri=youtube&tok=" +
                       std::string(kYoutubeTok) + "&ds=yt&cp=4&gs_id=ep&q=",
                   "&callback=google.sbox.p50&gs_gbg=" + std::string(kYoutubeGbg), Utf8, Between, "(", ")",
                   "[1]", "[1][", "][0]", StripHtml),
        related(21, "google相关", "google相关", "https", "www.google.com",
                "/search?hl=zh-CN&source=hp&ei=" + std::string(kGoogleEi) + "&q=", "", "rfs\":", "]", "", "",
                ItemCleaning::None),
        suggestion(22, "google下拉", "google下拉", "https", "www.google.com",
                   "/complete/search?q=", "&client=psy-ab&xssi=t&gs_ri=gws-wiz&hl=zh-CN&authuser=0", Utf8,
                   RemoveLiteral, ")]}'", "", "[0]", "[0][", "][0]", StripHtml),
        suggestion(23, "1688下拉", "1688下拉", "https", "suggest.1688.com",
                   "/bin/suggest?type=offer&industryFlag=&q=", "&ver=2&encode=utf-8&_=", Utf8, RemoveLiteral,
                   "var _suggest_result_=", "", "result", "result[", "].q", RemoveUnderscorePercent),
        suggestion(24, "京东下拉", "京东下拉", "https", "dd-search.jd.com",
                   "/?terminal=pc&newjson=1&ver=2&zip=1&key=", "", Utf8, Whole, "", "", "", "[", "].key",
                   ItemCleaning::None),
    };

    // The Google family fetches with plain_get; its related page is UTF-8 and carries its list as JSON.
    for (int i : kForeignSources)
        rows[i].fetch = FetchKind::Plain;
    rows[21].decoding = Utf8;
    rows[21].cut = BetweenThenClose;
    rows[21].itemRule = ItemRule::JsonPaths;
    rows[21].arrayPath = "";
    rows[21].itemPrefix = "[";
    rows[21].itemSuffix = "]";
    rows[2].decoding = Utf8;
    rows[2].headers = kAndroidAgent;
    rows[2].cookies = baiduCookieText();
    rows[8].headers = std::string("User-Agent: ") + kIphoneAgent;
    rows[11].headers = kWindowsAgent;
    rows[23].stampSuffix = true;
    rows[24].headers = std::string("Host: {host}\r\nPragma: no-cache\r\nReferer: ") +
                            std::string(kJdReferer) +
                            "\r\nSec-Fetch-Mode: no-cors\r\nSec-Fetch-Site: same-site\r\n" + kJdAgent;
    rows[24].cookies = jdCookieText();
    return rows;
}

} // namespace

bool isForeignSource(int index) {
    return std::find(kForeignSources.begin(), kForeignSources.end(), index) != kForeignSources.end();
}

const std::array<SourceRow, kSourceCount>& source_rows() {
    static const std::array<SourceRow, kSourceCount> rows = buildRows();
    return rows;
}

} // namespace zelkor
