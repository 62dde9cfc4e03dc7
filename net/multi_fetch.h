#pragma once
// Many requests in flight on one thread. A PendingRequest is a request made ready exactly as
// http_request or plain_fetch would send it (the same handle options, header block, cookies, HTTP
// version and limits); MultiFetch drives every submitted request on its own event loop thread
// (libcurl's multi interface) and hands each back when it has ended.
//
// Threads: submit(), cancel() and inFlight() from any thread; each Done runs on the loop thread,
// one at a time, and should be short.

#include "net/curl_handle.h"
#include "net/http.h"
#include "net/proxy.h"

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

namespace zelkor {

class MultiFetch;

class PendingRequest {
  public:
    // What http_request(spec) would send.
    static std::unique_ptr<PendingRequest> http(HttpRequestSpec spec);
    // What plain_fetch(url, route, {}, limits) would send.
    static std::unique_ptr<PendingRequest> plain(Text url, ProxyRoute route, AnswerLimits limits = {});
    ~PendingRequest();
    PendingRequest(const PendingRequest&) = delete;
    PendingRequest& operator=(const PendingRequest&) = delete;

    bool isPlain() const;
    // When the request left: libcurl was about to send it, its connection made. Unset when it
    // never got that far. Set on the loop thread; read it once the request is handed back.
    std::optional<std::chrono::steady_clock::time_point> sentAt() const { return m_sentAt; }
    // Once ended: the answer as http_request or plain_fetch gives it.
    HttpResponse& httpResponse();
    PlainAnswer& plainAnswer();

  private:
    friend class MultiFetch;
    PendingRequest();
    // False when the request failed before it began (its answer is already there).
    bool ready() const;
    detail::TransferHandle handle();
    void end(const detail::TransferResult& result);

    struct Impl;
    std::unique_ptr<Impl> m_impl;
    std::optional<std::chrono::steady_clock::time_point> m_sentAt;
};

class MultiFetch {
  public:
    using Done = std::function<void(std::unique_ptr<PendingRequest>)>;

    MultiFetch();
    // Cancels whatever is in flight and joins the loop.
    ~MultiFetch();
    MultiFetch(const MultiFetch&) = delete;
    MultiFetch& operator=(const MultiFetch&) = delete;

    // The request starts at once; `done` gets it back when it has ended, a request that failed
    // before it began included. Dropped after cancel().
    void submit(std::unique_ptr<PendingRequest> request, Done done);
    // Aborts every request in flight and every later one; no Done is called for them any more.
    // Never waits for the loop.
    void cancel();
    // Submitted and not yet handed back.
    std::size_t inFlight() const;

  private:
    struct Entry {
        std::unique_ptr<PendingRequest> request;
        Done done;
        curl_off_t uploaded = 0;
    };
    void loop(std::stop_token stop);
    void finish(Entry entry, const detail::TransferResult& result);

    struct MultiDeleter {
        void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
    };
    std::unique_ptr<CURLM, MultiDeleter> m_multi;
    mutable std::mutex m_mutex;
    std::deque<Entry> m_incoming;
    bool m_cancelled = false;
    std::size_t m_inFlight = 0;
    std::unordered_map<CURL*, Entry> m_running; // loop thread only
    std::jthread m_thread; // last: joined before the rest goes
};

} // namespace zelkor
