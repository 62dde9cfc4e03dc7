#pragma once
// Small forwarding proxies on 127.0.0.1 for network tests: an HTTP proxy (absolute-form requests
// and CONNECT tunnels) and a SOCKS5 proxy (no authentication, or user and password). Both forward
// to loopback only and refuse every other destination; each records what it was asked.

#include "support/loopback.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zelkor::test {

class ForwardingProxy {
  public:
    enum class Kind { Http, Socks5 };

    // With credentials, a client must give exactly these (Proxy-Authorization Basic for HTTP,
    // RFC 1929 for SOCKS5) or it is refused.
    explicit ForwardingProxy(Kind kind, std::optional<std::pair<std::string, std::string>> credentials = {});
    ~ForwardingProxy();
    ForwardingProxy(const ForwardingProxy&) = delete;
    ForwardingProxy& operator=(const ForwardingProxy&) = delete;

    int port() const { return m_listener.port(); }
    // "http://127.0.0.1:<port>" or "socks5://127.0.0.1:<port>".
    std::string url() const;

    // One entry per client accepted and carried through: for HTTP the request line as received
    // ("GET http://127.0.0.1:1/x HTTP/1.1", "CONNECT 127.0.0.1:1 HTTP/1.1"), for SOCKS5 the
    // destination as given ("127.0.0.1:1", or "localhost:1" when the client sent the name).
    std::vector<std::string> forwarded() const;
    // Clients turned away (bad credentials, a destination off loopback).
    int refused() const { return m_refused; }
    void stop();

  private:
    void serveHttp(int fd);
    void serveSocks(int fd);
    void relay(int client, int upstream);
    void record(std::string entry);

    Kind m_kind;
    std::optional<std::pair<std::string, std::string>> m_credentials;
    std::atomic<int> m_refused{0};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_forwarded;
    LoopbackListener m_listener; // last: stopped before the rest goes
};

} // namespace zelkor::test
