#pragma once
// A loopback HTTP server that answers the way a hostile service does: too much, forever, a byte at
// a time, cut off, not HTTP at all, or a well-formed answer with poisoned content. Each request is
// answered by whatever the plan gives for it; the connection is closed after the answer.

#include "support/loopback.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zelkor::test {

enum class HostileMode {
    Huge,      // `size` bytes of body with a true Content-Length
    Unsized,   // `size` bytes of body, no length: the end of the body is the close
    Endless,   // a chunked body that never ends
    Dripping,  // one byte of a `size`-byte body every `interval`
    Cut,       // announces `size` bytes, sends `body`, then closes
    Malformed, // bytes that are not an HTTP answer (`body`, or a fixed line of junk)
    Silent,    // reads the request and says nothing until the server stops
    Canned,    // `body` as an ordinary 200 answer
};

const char* hostileModeName(HostileMode mode);

struct HostileAnswer {
    HostileMode mode = HostileMode::Canned;
    std::size_t size = 0;
    std::chrono::milliseconds interval{0};
    std::string body;
    std::string contentType = "text/html; charset=gbk";
};

inline HostileAnswer hostile(HostileMode mode, std::size_t size = 0, std::chrono::milliseconds interval = {},
                             std::string body = {}) {
    HostileAnswer answer;
    answer.mode = mode;
    answer.size = size;
    answer.interval = interval;
    answer.body = std::move(body);
    return answer;
}

class HostileServer {
  public:
    using Plan = std::function<HostileAnswer(const RawRequest&)>;

    explicit HostileServer(Plan plan);
    explicit HostileServer(HostileAnswer always);
    ~HostileServer();
    HostileServer(const HostileServer&) = delete;
    HostileServer& operator=(const HostileServer&) = delete;

    int port() const { return m_listener.port(); }
    std::string url(std::string_view path = "/") const;
    std::size_t requestCount() const { return m_requests; }
    // Body bytes the server managed to hand to the socket, all connections together.
    std::uint64_t bytesSent() const { return m_bytesSent; }
    void stop();

  private:
    void serve(int fd);
    bool send(int fd, std::string_view bytes);

    Plan m_plan;
    std::atomic<std::size_t> m_requests{0};
    std::atomic<std::uint64_t> m_bytesSent{0};
    LoopbackListener m_listener; // last: stopped before the rest goes
};

} // namespace zelkor::test
