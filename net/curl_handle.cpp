#include "net/curl_handle.h"

namespace zelkor::detail {

namespace {

struct CurlMultiDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
using CurlMulti = std::unique_ptr<CURLM, CurlMultiDeleter>;

// Keeps the easy handle in the multi handle exactly as long as the loop runs.
class Attachment {
  public:
    Attachment(CURLM* multi, CURL* easy) : m_multi(multi), m_easy(easy) {
        m_ok = curl_multi_add_handle(multi, easy) == CURLM_OK;
    }
    ~Attachment() {
        if (m_ok) curl_multi_remove_handle(m_multi, m_easy);
    }
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;
    bool ok() const { return m_ok; }

  private:
    CURLM* m_multi;
    CURL* m_easy;
    bool m_ok = false;
};

} // namespace

bool curlReady() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

bool applyTlsCheck(CURL* easy, const TlsCheck& check) {
    const long peer = check.verify ? 1L : 0L;
    const long host = check.verify ? 2L : 0L;
    bool ok = curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, peer) == CURLE_OK &&
              curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, host) == CURLE_OK &&
              curl_easy_setopt(easy, CURLOPT_PROXY_SSL_VERIFYPEER, peer) == CURLE_OK &&
              curl_easy_setopt(easy, CURLOPT_PROXY_SSL_VERIFYHOST, host) == CURLE_OK;
    if (ok && check.verify && !check.caFile.empty())
        ok = curl_easy_setopt(easy, CURLOPT_CAINFO, check.caFile.c_str()) == CURLE_OK &&
             curl_easy_setopt(easy, CURLOPT_CAPATH, static_cast<const char*>(nullptr)) == CURLE_OK;
    return ok;
}

TransferResult runTransfer(CURL* easy, std::stop_token stop, ActivityClock& clock,
                           std::chrono::milliseconds stallLimit,
                           std::chrono::steady_clock::time_point deadline) {
    if (stop.stop_requested()) return {TransferEnd::Stopped, CURLE_ABORTED_BY_CALLBACK};
    CurlMulti multi(curl_multi_init());
    if (!multi) return {TransferEnd::Finished, CURLE_OUT_OF_MEMORY};
    Attachment attachment(multi.get(), easy);
    if (!attachment.ok()) return {TransferEnd::Finished, CURLE_OUT_OF_MEMORY};
    // Declared after the multi handle so it is gone before the handle is cleaned up.
    std::stop_callback wake(stop, [&multi] { curl_multi_wakeup(multi.get()); });

    curl_off_t uploaded = 0;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK)
            return {TransferEnd::Finished, CURLE_OUT_OF_MEMORY};
        if (!running) break;
        if (stop.stop_requested()) return {TransferEnd::Stopped, CURLE_ABORTED_BY_CALLBACK};

        curl_off_t nowUploaded = 0;
        if (curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &nowUploaded) == CURLE_OK &&
            nowUploaded != uploaded) {
            uploaded = nowUploaded;
            clock.touch();
        }
        const auto now = std::chrono::steady_clock::now();
        if (clock.armed && now - clock.last >= stallLimit) return {TransferEnd::Stalled, CURLE_OPERATION_TIMEDOUT};
        if (now >= deadline) return {TransferEnd::Overdue, CURLE_OPERATION_TIMEDOUT};

        if (curl_multi_poll(multi.get(), nullptr, 0, 100, nullptr) != CURLM_OK)
            return {TransferEnd::Finished, CURLE_OUT_OF_MEMORY};
    }
    if (stop.stop_requested()) return {TransferEnd::Stopped, CURLE_ABORTED_BY_CALLBACK};

    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued))
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy)
            return {TransferEnd::Finished, message->data.result};
    return {TransferEnd::Finished, CURLE_OK};
}

} // namespace zelkor::detail
