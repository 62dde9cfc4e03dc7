#pragma once
// Private to net/: owners for libcurl handles and the loop that drives one transfer so that a
// stop request or a stalled peer ends it within a poll interval.

#include "net/tls.h"

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stop_token>
#include <string>

namespace zelkor::detail {

struct CurlEasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

class CurlHeaderList {
  public:
    CurlHeaderList() = default;
    ~CurlHeaderList() { curl_slist_free_all(m_list); }
    CurlHeaderList(const CurlHeaderList&) = delete;
    CurlHeaderList& operator=(const CurlHeaderList&) = delete;

    // False when libcurl could not take the line (out of memory).
    bool append(const std::string& line) {
        curl_slist* grown = curl_slist_append(m_list, line.c_str());
        if (!grown) return false;
        m_list = grown;
        return true;
    }
    curl_slist* get() const { return m_list; }

  private:
    curl_slist* m_list = nullptr;
};

// libcurl's process-wide set-up, done once; false when it failed.
bool curlReady();

// Certificate and host name checks of the peer and of an HTTPS proxy, on or off; false when
// libcurl refused an option.
bool applyTlsCheck(CURL* easy, const TlsCheck& check);

// When the peer last moved a byte or the exchange changed phase. Callbacks of the transfer touch
// it; the stall limit counts only once it is armed (the connect phase has its own limit).
struct ActivityClock {
    std::chrono::steady_clock::time_point last = std::chrono::steady_clock::now();
    bool armed = false;
    void touch() {
        last = std::chrono::steady_clock::now();
        armed = true;
    }
};

enum class TransferEnd {
    Finished, // libcurl ended it; see code
    Stopped,  // the stop token was set
    Stalled,  // nothing moved for the stall limit
    Overdue,  // the whole exchange ran past its deadline
};

struct TransferResult {
    TransferEnd end = TransferEnd::Finished;
    CURLcode code = CURLE_OK;
};

// A prepared transfer as an event loop drives it: the handle, the clock its callbacks touch, its
// stall limit and its deadline.
struct TransferHandle {
    CURL* easy = nullptr;
    ActivityClock* clock = nullptr;
    std::chrono::milliseconds stallLimit{30000};
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
};

// Runs the prepared easy handle to its end on the calling thread. A stop request wakes the loop at
// once; the stall limit and the deadline are checked at least every 100 ms. A peer that sends a
// byte now and then resets the stall clock forever, so only the deadline bounds the whole call.
TransferResult runTransfer(CURL* easy, std::stop_token stop, ActivityClock& clock,
                           std::chrono::milliseconds stallLimit,
                           std::chrono::steady_clock::time_point deadline =
                               std::chrono::steady_clock::time_point::max());

} // namespace zelkor::detail
