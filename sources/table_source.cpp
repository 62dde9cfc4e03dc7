#include "sources/table_source.h"

#include "net/http.h"
#include "net/multi_fetch.h"
#include "sources/routines.h"
#include "text/json.h"

#include <algorithm>

namespace zelkor {

namespace {

// Stands in for what GBK cannot hold while an answer is cut into phrases (ASCII's own SUB): a
// phrase holding it is left out, where a "?" would have passed for one the service sent.
constexpr char kLostCharacter = '\x1A';

Text gbk(const std::string& utf8) {
    return utf8.empty() ? Text{} : utf8_to_gbk(utf8);
}

SourceRow toGbk(const SourceRow& row) {
    SourceRow g = row;
    for (std::string* field :
         {&g.label, &g.outputName, &g.prefix, &g.suffix, &g.headers, &g.cookies, &g.cutStart,
          &g.cutEnd, &g.itemStart, &g.itemEnd, &g.arrayPath, &g.itemPrefix, &g.itemSuffix})
        *field = gbk(*field);
    return g;
}

// scheme://host[:port] of an endpoint value; any path is not ours to use.
Text originOf(const std::string& value) {
    const auto schemeEnd = value.find("://");
    if (schemeEnd == std::string::npos) return value;
    const auto pathStart = value.find('/', schemeEnd + 3);
    return value.substr(0, pathStart);
}

Text hostOf(const Text& base) {
    const auto schemeEnd = base.find("://");
    return schemeEnd == Text::npos ? base : base.substr(schemeEnd + 3);
}

} // namespace

TableSource::TableSource(const SourceRow& row, const Text& base)
    : m_row(toGbk(row)), m_base(base), m_label(m_row.label), m_output(m_row.outputName),
      m_headers(text_replace(m_row.headers, "{host}", hostOf(base), 1, -1, true)),
      m_cookies(m_row.cookies) {}

Text TableSource::requestUrl(const Text& keyword) const {
    Text url = m_base + m_row.prefix + percent_encode_utf8(keyword) + m_row.suffix;
    if (m_row.stampSuffix) url += epoch_millis_text();
    return url;
}

HttpRequestSpec TableSource::requestSpec(const Text& url, const ProxyRoute& route, const AnswerLimits& limits) const {
    HttpRequestSpec spec;
    spec.url = url;
    spec.headers = m_headers;
    spec.cookies = m_cookies;
    spec.proxy = route.proxy;
    spec.proxy_user = route.user;
    spec.proxy_password = route.password;
    spec.limits = limits;
    spec.tls.verify = limits.verifyTls;
    spec.keepBody = false;
    spec.lostCharacter = kLostCharacter;
    return spec;
}

void TableSource::takePlain(PlainAnswer answer, SourceFetch& result) const {
    result.bytes = answer.body.size();
    answer.body.resize(std::min(answer.body.size(), answer.body.find('\0')));
    result.body = std::move(answer.body);
    result.facts.transportFailed = answer.failed;
    result.facts.httpCode = answer.http_code;
    result.facts.locations = std::move(answer.redirects);
    result.proxyFailed = answer.proxy_failed;
    if (m_row.decoding == BodyDecoding::Utf8) result.body = utf8_to_gbk(result.body, kLostCharacter);
}

void TableSource::takeHttp(HttpResponse response, SourceFetch& result) const {
    result.status = std::move(response.status);
    result.bytes = response.bodySize;
    result.body = std::move(response.text);
    result.facts.transportFailed = response.failed;
    result.facts.httpCode = response.http_code;
    result.facts.locations = std::move(response.redirects);
    if (!response.location.empty()) result.facts.locations.push_back(std::move(response.location));
    result.proxyFailed = response.proxy_failed;
    result.reencoded = response.reencoded;
    if (m_row.decoding == BodyDecoding::Utf8) result.body = utf8_to_gbk(result.body, kLostCharacter);
}

SourceFetch TableSource::fetch(const Text& keyword, std::stop_token stop, const ProxyRoute& route,
                               const AnswerLimits& limits) const {
    SourceFetch result;
    result.url = requestUrl(keyword);
    if (m_row.fetch == FetchKind::Plain)
        takePlain(plain_fetch(result.url, route, stop, limits), result);
    else
        takeHttp(http_request(requestSpec(result.url, route, limits), stop), result);
    return result;
}

std::unique_ptr<PendingRequest> TableSource::prepare(const Text& keyword, const ProxyRoute& route,
                                                     const AnswerLimits& limits) const {
    const Text url = requestUrl(keyword);
    if (m_row.fetch == FetchKind::Plain) return PendingRequest::plain(url, route, limits);
    return PendingRequest::http(requestSpec(url, route, limits));
}

std::vector<Text> TableSource::read(PendingRequest& answered, SourceAttempt& attempt) const {
    SourceFetch fetched;
    if (answered.isPlain())
        takePlain(std::move(answered.plainAnswer()), fetched);
    else
        takeHttp(std::move(answered.httpResponse()), fetched);
    std::size_t lost = 0;
    std::vector<Text> phrases = extract(fetched.body, &lost, fetched.reencoded);
    attempt = SourceAttempt{classifyFetch(fetched, phrases), fetched.proxyFailed, lost};
    return phrases;
}

AnswerClass classifyFetch(const SourceFetch& fetched, const std::vector<Text>& phrases) {
    AnswerFacts facts = fetched.facts;
    facts.phrases = static_cast<std::size_t>(
        std::count_if(phrases.begin(), phrases.end(), [](const Text& phrase) { return !phrase.empty(); }));
    return classifyAnswer(facts);
}

// A line break inside a phrase would become a line of its own in the results file and the panel,
// so an answer could add keywords of its choosing. No GBK character holds a byte below 0x40 or 0x7F
// as its second byte, so removing those bytes never splits one.
Text without_control_characters(std::string_view phrase) {
    Text out;
    out.reserve(phrase.size());
    for (const char c : phrase)
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) out += c;
    return out;
}

// Bytes that are not GBK would go raw into the results file, and distinct phrases would share one
// seen marker once their stray bytes became "?".
bool is_gbk(std::string_view text) {
    return utf8_to_gbk(gbk_to_utf8(text)) == text;
}

Text TableSource::cutBody(const Text& body) const {
    switch (m_row.cut) {
    case BodyCut::Between:
        return text_between(body, m_row.cutStart, m_row.cutEnd);
    case BodyCut::BetweenThenClose:
        return text_between(body, m_row.cutStart, m_row.cutEnd) + m_row.cutEnd;
    case BodyCut::RemoveLiteral:
        return text_replace(body, m_row.cutStart, {}, 1, -1, true);
    case BodyCut::AfterFirstEquals: {
        const int p = text_find(body, "=");
        return p < 0 ? Text{} : body.substr(static_cast<std::size_t>(p));
    }
    case BodyCut::Whole:
        break;
    }
    return body;
}

std::vector<Text> TableSource::jsonItems(const Text& json, std::size_t& lost) const {
    std::vector<Text> phrases;
    const JsonValue document = JsonValue::parse(json);
    const int n = document.count(m_row.arrayPath);
    phrases.reserve(n > 0 ? static_cast<std::size_t>(n) : 0);
    for (int i = 0; i < n; ++i) {
        bool lostOne = false;
        Text phrase = document.text(m_row.itemPrefix + std::to_string(i) + m_row.itemSuffix, lostOne);
        if (lostOne)
            ++lost; // a \u escape GBK cannot hold
        else
            phrases.push_back(std::move(phrase));
    }
    return phrases;
}

Text TableSource::clean(const Text& phrase) const {
    switch (m_row.cleaning) {
    case ItemCleaning::StripHtml:
        return strip_html(phrase);
    case ItemCleaning::RemoveUnderscorePercent:
        return text_replace(text_replace(phrase, "_", {}, 1, -1, true), "%", {}, 1, -1, true);
    case ItemCleaning::None:
        break;
    }
    return phrase;
}

std::vector<Text> TableSource::extract(const Text& body, std::size_t* lost, bool reencoded) const {
    std::size_t lostHere = 0;
    std::vector<Text> phrases = items(cutBody(body), lostHere);
    std::vector<Text> kept;
    kept.reserve(phrases.size());
    for (const Text& phrase : phrases) {
        Text cleaned = clean(phrase);
        if (cleaned.empty()) { // the sink passes over it silently, as always
            kept.push_back(std::move(cleaned));
            continue;
        }
        if ((m_row.decoding == BodyDecoding::Utf8 || reencoded) && cleaned.find(kLostCharacter) != Text::npos) {
            ++lostHere;
            continue;
        }
        cleaned = without_control_characters(cleaned);
        if (!cleaned.empty() && is_gbk(cleaned)) kept.push_back(std::move(cleaned));
    }
    if (lost) *lost = lostHere;
    return kept;
}

void TableSource::run(const Text& keyword, SourceHost& host) {
    if (!host.isSourceTicked(m_row.index)) return;
    const std::stop_token stop = host.stopToken();
    if (stop.stop_requested()) return;
    std::vector<Text> phrases;
    const AnswerLimits limits = host.answerLimits();
    const bool sent = host.sendRequest(m_row.index, m_output, [&](const ProxyRoute& route) {
        const SourceFetch fetched = fetch(keyword, stop, route, limits);
        std::size_t lost = 0;
        phrases = extract(fetched.body, &lost, fetched.reencoded);
        return SourceAttempt{classifyFetch(fetched, phrases), fetched.proxyFailed, lost};
    });
    if (!sent || stop.stop_requested()) return;
    int offered = 0;
    int accepted = 0;
    for (const Text& phrase : phrases) {
        if (stop.stop_requested()) break;
        ++offered;
        if (host.offerCandidate(phrase, m_output, m_row.displayPauseMs)) ++accepted;
    }
    host.countOffers(m_row.index, offered, accepted);
}

std::vector<Text> RelatedPageSource::items(const Text& cut, std::size_t& lost) const {
    if (m_row.itemRule == ItemRule::JsonPaths) return jsonItems(cut, lost);
    return text_between_all(cut, m_row.itemStart, m_row.itemEnd);
}

std::vector<Text> SuggestionSource::items(const Text& cut, std::size_t& lost) const {
    return jsonItems(cut, lost);
}

Text source_endpoint_base(const SourceRow& row, const Endpoints& endpoints) {
    if (const auto value = endpoints.get(std::to_string(row.index))) return originOf(*value);
    return row.scheme + "://" + row.host;
}

std::unique_ptr<TableSource> make_table_source(const SourceRow& row, const Endpoints& endpoints) {
    const Text base = source_endpoint_base(row, endpoints);
    if (row.family == SourceFamily::RelatedPage) return std::make_unique<RelatedPageSource>(row, base);
    return std::make_unique<SuggestionSource>(row, base);
}

Text source_endpoint_base(int index, const Endpoints& endpoints) {
    return source_endpoint_base(source_rows().at(static_cast<std::size_t>(index)), endpoints);
}

std::unique_ptr<TableSource> make_table_source(int index, const Endpoints& endpoints) {
    return make_table_source(source_rows().at(static_cast<std::size_t>(index)), endpoints);
}

} // namespace zelkor
