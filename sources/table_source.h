#pragma once
// The two families of table-driven sources. A call is split into a fetch step and an extract step
// so that `zelkor-cli probe` can show the request and what a source would offer without a sink.

#include "sources/endpoints.h"
#include "sources/source_api.h"
#include "sources/source_table.h"

#include <cstddef>
#include <memory>
#include <stop_token>
#include <vector>

namespace zelkor {

struct SourceFetch {
    Text url;            // as sent
    Text status;         // the engine's status text; empty for a plain fetch
    std::size_t bytes{}; // raw body bytes received
    Text body;           // GBK, after the row's decoding
    AnswerFacts facts;   // phrases left at 0: extract() says what the body holds
    bool reencoded = false; // the page named a charset other than GBK and was re-encoded
    bool proxyFailed = false;
};

// The class of a fetched answer once its phrases are known.
AnswerClass classifyFetch(const SourceFetch& fetched, const std::vector<Text>& phrases);

class TableSource : public SourceAdapter, public FetchingSource {
  public:
    // `base` is scheme + "://" + host[:port], without a trailing "/".
    TableSource(const SourceRow& row, const Text& base);

    int listIndex() const override { return m_row.index; }
    void run(const Text& keyword, SourceHost& host) override;
    const FetchingSource* fetching() const override { return this; }

    Text label() const override { return m_label; }       // GBK
    Text outputName() const override { return m_output; } // GBK
    int displayPauseMs() const override { return m_row.displayPauseMs; }

    std::unique_ptr<PendingRequest> prepare(const Text& keyword, const ProxyRoute& route,
                                            const AnswerLimits& limits) const override;
    std::vector<Text> read(PendingRequest& answered, SourceAttempt& attempt) const override;
    const SourceRow& row() const { return m_row; }

    // The URL for a keyword (row 23's stamp taken now).
    Text requestUrl(const Text& keyword) const;
    Text requestHeaders() const { return m_headers; }
    Text requestCookies() const { return m_cookies; }
    // One request exactly as a run sends it, directly or through `route`.
    SourceFetch fetch(const Text& keyword, std::stop_token stop = {}, const ProxyRoute& route = {},
                      const AnswerLimits& limits = {}) const;
    // The phrases the source offers for a decoded body, in order, cleaned: control characters are
    // removed, and a phrase left empty by that or that is not valid GBK is not offered; nor is one
    // with a character GBK cannot hold (a "?" for it would pass for one the service sent), and
    // `lost` counts those.
    // `reencoded`: the body came re-encoded from the charset its page names (SourceFetch::reencoded).
    std::vector<Text> extract(const Text& body, std::size_t* lost = nullptr, bool reencoded = false) const;

  protected:
    HttpRequestSpec requestSpec(const Text& url, const ProxyRoute& route, const AnswerLimits& limits) const;
    void takeHttp(HttpResponse response, SourceFetch& result) const;
    void takePlain(PlainAnswer answer, SourceFetch& result) const;
    Text cutBody(const Text& body) const;
    std::vector<Text> jsonItems(const Text& json, std::size_t& lost) const;
    Text clean(const Text& phrase) const;
    virtual std::vector<Text> items(const Text& cut, std::size_t& lost) const = 0;

    SourceRow m_row; // literals converted to GBK
    Text m_base;
    Text m_label;
    Text m_output;
    Text m_headers;
    Text m_cookies;
};

// Cuts a related-search section out of a results page and takes the items between two markers in
// it (or, for the Google page, the JSON array it embeds).
class RelatedPageSource final : public TableSource {
  public:
    using TableSource::TableSource;

  protected:
    std::vector<Text> items(const Text& cut, std::size_t& lost) const override;
};

// Reads a JSON or JSONP answer and takes the text at one path of every array element.
class SuggestionSource final : public TableSource {
  public:
    using TableSource::TableSource;

  protected:
    std::vector<Text> items(const Text& cut, std::size_t& lost) const override;
};

// `phrase` without bytes below 0x20 and 0x7F.
Text without_control_characters(std::string_view phrase);
// True when every byte of `text` belongs to a GBK character.
bool is_gbk(std::string_view text);

// The endpoint base of a row: the endpoints file's scheme, host and port for its index, else the row's.
Text source_endpoint_base(const SourceRow& row, const Endpoints& endpoints);
std::unique_ptr<TableSource> make_table_source(const SourceRow& row, const Endpoints& endpoints);
// The same for built-in row `index`.
Text source_endpoint_base(int index, const Endpoints& endpoints);
std::unique_ptr<TableSource> make_table_source(int index, const Endpoints& endpoints);

} // namespace zelkor
