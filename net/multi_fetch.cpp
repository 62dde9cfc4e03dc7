#include "net/multi_fetch.h"

#include <vector>

namespace zelkor {

namespace {

// libcurl calls this once the connection is made, just before the request goes out: the moment a
// service sees it start, which a pace must be counted from.
int noteSent(void* sentAt, char*, char*, int, int) {
    // The first request of a redirected fetch is the one the service saw start.
    auto& first = *static_cast<std::optional<std::chrono::steady_clock::time_point>*>(sentAt);
    if (!first) first = std::chrono::steady_clock::now();
    return CURL_PREREQFUNC_OK;
}

} // namespace

MultiFetch::MultiFetch() {
    if (detail::curlReady()) m_multi.reset(curl_multi_init());
    m_thread = std::jthread([this](std::stop_token stop) { loop(stop); });
}

MultiFetch::~MultiFetch() {
    cancel();
    m_thread.request_stop();
    if (m_multi) curl_multi_wakeup(m_multi.get());
    if (m_thread.joinable()) m_thread.join();
    for (auto& [easy, entry] : m_running)
        curl_multi_remove_handle(m_multi.get(), easy);
}

void MultiFetch::submit(std::unique_ptr<PendingRequest> request, Done done) {
    {
        std::lock_guard lock(m_mutex);
        if (m_cancelled || !request) return;
        ++m_inFlight;
        m_incoming.push_back({std::move(request), std::move(done)});
    }
    if (m_multi) curl_multi_wakeup(m_multi.get());
}

void MultiFetch::cancel() {
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
        m_incoming.clear();
    }
    if (m_multi) curl_multi_wakeup(m_multi.get());
}

std::size_t MultiFetch::inFlight() const {
    std::lock_guard lock(m_mutex);
    return m_inFlight;
}

void MultiFetch::finish(Entry entry, const detail::TransferResult& result) {
    entry.request->end(result);
    {
        std::lock_guard lock(m_mutex);
        if (m_cancelled) return;
        // Counted out before it is handed back: whoever holds it has it no longer in flight.
        --m_inFlight;
    }
    // A cancel() racing with this Done is the caller's to tell apart.
    if (entry.done) entry.done(std::move(entry.request));
}

void MultiFetch::loop(std::stop_token stop) {
    using detail::TransferEnd;
    using detail::TransferResult;
    while (!stop.stop_requested()) {
        std::deque<Entry> incoming;
        bool cancelled = false;
        {
            std::lock_guard lock(m_mutex);
            incoming.swap(m_incoming);
            cancelled = m_cancelled;
        }
        if (cancelled) {
            // Aborted where they stand: nothing more is read or handed back.
            for (auto& [easy, entry] : m_running)
                curl_multi_remove_handle(m_multi.get(), easy);
            m_running.clear();
            incoming.clear();
            std::lock_guard lock(m_mutex);
            m_inFlight = 0;
        }
        for (Entry& entry : incoming) {
            if (!entry.request->ready() || !m_multi) {
                finish(std::move(entry), {TransferEnd::Finished, CURLE_FAILED_INIT});
                continue;
            }
            const detail::TransferHandle handle = entry.request->handle();
            entry.request->m_sentAt.reset();
            curl_easy_setopt(handle.easy, CURLOPT_PREREQFUNCTION, &noteSent);
            curl_easy_setopt(handle.easy, CURLOPT_PREREQDATA, &entry.request->m_sentAt);
            if (curl_multi_add_handle(m_multi.get(), handle.easy) != CURLM_OK) {
                finish(std::move(entry), {TransferEnd::Finished, CURLE_OUT_OF_MEMORY});
                continue;
            }
            m_running.emplace(handle.easy, std::move(entry));
        }
        if (!m_multi) {
            // No multi handle: every request has failed above; wait for the next.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }

        int running = 0;
        const bool performed = curl_multi_perform(m_multi.get(), &running) == CURLM_OK;
        std::vector<std::pair<CURL*, TransferResult>> ended;
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(m_multi.get(), &queued))
            if (message->msg == CURLMSG_DONE) ended.emplace_back(message->easy_handle, TransferResult{TransferEnd::Finished, message->data.result});
        // The same limits a single transfer has: a stalled peer and the whole exchange's deadline.
        const auto now = std::chrono::steady_clock::now();
        for (auto& [easy, entry] : m_running) {
            if (!performed) {
                ended.emplace_back(easy, TransferResult{TransferEnd::Finished, CURLE_OUT_OF_MEMORY});
                continue;
            }
            const detail::TransferHandle handle = entry.request->handle();
            curl_off_t uploaded = 0;
            if (curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &uploaded) == CURLE_OK && uploaded != entry.uploaded) {
                entry.uploaded = uploaded;
                handle.clock->touch();
            }
            if (handle.clock->armed && now - handle.clock->last >= handle.stallLimit)
                ended.emplace_back(easy, TransferResult{TransferEnd::Stalled, CURLE_OPERATION_TIMEDOUT});
            else if (now >= handle.deadline)
                ended.emplace_back(easy, TransferResult{TransferEnd::Overdue, CURLE_OPERATION_TIMEDOUT});
        }
        for (const auto& [easy, result] : ended) {
            const auto it = m_running.find(easy);
            if (it == m_running.end()) continue; // ended twice in one round: the first reason holds
            Entry entry = std::move(it->second);
            m_running.erase(it);
            curl_multi_remove_handle(m_multi.get(), easy);
            finish(std::move(entry), result);
        }
        // Woken at once by submit(), cancel() and the destructor; limits checked every 100 ms.
        curl_multi_poll(m_multi.get(), nullptr, 0, 100, nullptr);
    }
}

} // namespace zelkor
