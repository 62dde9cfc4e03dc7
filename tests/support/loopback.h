#pragma once
// Servers on 127.0.0.1 for network tests, each on a free port and in its own thread, stopped and
// joined by the destructor.
//
// LoopbackServer wraps a cpp-httplib server: register handlers through server(), then start().
// RawServer is a bare TCP listener for tests that need the exact request bytes (header order,
// duplicates, the request line) or a server that misbehaves on purpose.

#include <httplib.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace zelkor::test {

class LoopbackServer {
  public:
    // Plain HTTP.
    LoopbackServer();
    // HTTPS with the given PEM certificate and key (see tls_cert.h).
    LoopbackServer(const std::filesystem::path& certPem, const std::filesystem::path& keyPem);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    httplib::Server& server() { return *m_server; }
    // Binds and starts serving; returns once the server accepts connections.
    void start();
    void stop();

    int port() const { return m_port; }
    // "http://127.0.0.1:<port>" + path (https for the TLS form).
    std::string url(std::string_view path = "/") const;

  private:
    std::unique_ptr<httplib::Server> m_server;
    bool m_tls = false;
    int m_port = 0;
    std::thread m_thread;
};

// A listening socket on 127.0.0.1 whose accept thread hands each connection to `serve` on a thread
// of its own, and closes it when `serve` returns. stop() ends the accepting, shuts down every open
// connection (and every socket `watch` was given) so that blocked reads and writes return, and joins
// every thread. Servers hold one as their last member and call stop() first in their destructor.
class LoopbackListener {
  public:
    using Serve = std::function<void(int fd)>;

    explicit LoopbackListener(Serve serve);
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    int port() const { return m_port; }
    // Set once stop() began: the servers' loops end on it.
    const std::atomic<bool>& stopping() const { return m_stopping; }
    // Another socket of a connection (a proxy's upstream) to shut down at stop(); unwatch before
    // closing it.
    void watch(int fd);
    void unwatch(int fd);
    void stop();

  private:
    void acceptLoop();

    Serve m_serve;
    int m_listenFd = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::mutex m_mutex;
    std::vector<int> m_openFds;
    std::vector<std::thread> m_workers;
    std::vector<std::thread::id> m_finished; // workers done serving, joined by the accept loop

    std::thread m_acceptThread;
};

// One request as it arrived: the header part up to and including the empty line, then the body
// (read by Content-Length when there is one).
struct RawRequest {
    std::string head;
    std::string body;
    std::string bytes() const { return head + body; }
};

class RawServer {
  public:
    // The answer to one request: raw bytes to write, or nullopt to stay silent and keep the
    // connection open until the server stops. After the answer the connection is closed.
    using Responder = std::function<std::optional<std::string>(const RawRequest&)>;

    // With holdAfterAnswer the connection stays open after the answer until the server stops (a
    // peer that stalls in the middle of a body).
    explicit RawServer(Responder responder, bool holdAfterAnswer = false);
    ~RawServer();
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    int port() const { return m_listener.port(); }
    std::string url(std::string_view path = "/") const;
    // Every request received so far, in arrival order.
    std::vector<RawRequest> requests() const;
    // Waits up to `ms` for at least `count` requests; true when they arrived.
    bool waitForRequests(std::size_t count, int ms = 5000) const;
    void stop();

  private:
    void serve(int fd);

    Responder m_responder;
    bool m_holdAfterAnswer = false;
    mutable std::mutex m_mutex;
    std::vector<RawRequest> m_requests;
    LoopbackListener m_listener; // last: stopped before the rest goes
};

// Reads one request (head, then a Content-Length body) from a connected socket; nullopt on EOF,
// error or when `stopping` becomes true. Exposed for tests that run their own sockets.
std::optional<RawRequest> readRawRequest(int fd, const std::atomic<bool>& stopping);
// Writes all bytes; false on error.
bool writeAll(int fd, std::string_view bytes);
// Connects to 127.0.0.1:port; -1 on failure.
int connectLoopback(int port);
// A port on 127.0.0.1 that nothing listens on (bound, then released).
int closedLoopbackPort();
// A socket listening on 127.0.0.1 at a free port, stored in *port; throws when none can be had.
int listenLoopback(int* port);

} // namespace zelkor::test
