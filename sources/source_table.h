#pragma once
// The source table: one row of constants per keyword source, read by the two family classes.
// Literals are UTF-8 here; the adapters convert them to GBK once, when they are made.

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zelkor {

enum class SourceFamily { RelatedPage, Suggestion };
enum class FetchKind { Engine, Plain };
enum class BodyDecoding { None, Utf8 };
enum class BodyCut {
    Between,          // text_between(body, cutStart, cutEnd)
    BetweenThenClose, // the same, then cutEnd appended, completing a JSON array
    RemoveLiteral,    // every cutStart removed
    AfterFirstEquals, // everything after the first "="
    Whole,
};
enum class ItemRule { Markers, JsonPaths };
enum class ItemCleaning { None, StripHtml, RemoveUnderscorePercent };

struct SourceRow {
    int index = 0;
    std::string label;      // UTF-8
    std::string outputName; // UTF-8
    SourceFamily family = SourceFamily::Suggestion;
    FetchKind fetch = FetchKind::Engine;
    int displayPauseMs = 100;
    std::string scheme;       // of the default endpoint
    std::string host;         // the public host
    std::string prefix;       // path and query up to the encoded keyword
    std::string suffix;       // after it
    bool stampSuffix = false; // epoch_millis_text() follows the suffix
    std::string headers;      // CR LF between lines; "{host}" stands for the endpoint's host[:port]
    std::string cookies;
    BodyDecoding decoding = BodyDecoding::None;
    BodyCut cut = BodyCut::Whole;
    std::string cutStart;
    std::string cutEnd;
    ItemRule itemRule = ItemRule::JsonPaths;
    std::string itemStart; // Markers
    std::string itemEnd;
    std::string arrayPath; // JsonPaths: the array, and the item path around the decimal index
    std::string itemPrefix;
    std::string itemSuffix;
    ItemCleaning cleaning = ItemCleaning::None;

    bool operator==(const SourceRow&) const = default;
};

inline constexpr int kSourceCount = 25;

// The services reached only from abroad: they fetch with plain_get, and "domestic" leaves them out.
inline constexpr std::array<int, 3> kForeignSources = {20, 21, 22};
bool isForeignSource(int index);

// The built-in rows in list order.
const std::array<SourceRow, kSourceCount>& source_rows();

// Fixed identifiers and cookie texts sent as they stand (configuration of the rows).
namespace source_config {
inline constexpr std::string_view kSo360Domain = "so.com";                              // D
inline constexpr std::string_view kTencentUid = "f187aac0-69a3-b89a-c738-b89d4c4d849b"; // U17
inline constexpr std::string_view kIqiyiPpuid = "7302591136";                           // P18
inline constexpr std::string_view kIqiyiUid = "b5598341270933cc14503a329f48821a";       // U18
inline constexpr std::string_view kSohuUid = "5693955494272761";                        // U19
inline constexpr std::string_view kYoutubeTok = "VygzyMUeFX3SD2rtaK4KEx";               // T20
inline constexpr std::string_view kYoutubeGbg = "8ZVne39jusLypzJJkNaTwml";              // G20
inline constexpr std::string_view kGoogleEi = "_J7PgwR7LmYPJ9FBaEHd5_j";                // E21
inline constexpr std::string_view kJdReferer = "https://www.jd.com/";
// The cookie names in the order they are sent, with their values.
const std::vector<std::pair<std::string_view, std::string_view>>& baiduCookies();
const std::vector<std::pair<std::string_view, std::string_view>>& jdCookies();
// "Cookie: " followed by the pairs joined by "; ".
const std::string& baiduCookieText();
const std::string& jdCookieText();
} // namespace source_config

} // namespace zelkor
