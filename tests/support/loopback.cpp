#include "support/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <stdexcept>

namespace zelkor::test {

LoopbackServer::LoopbackServer() : m_server(std::make_unique<httplib::Server>()) {}

LoopbackServer::LoopbackServer(const std::filesystem::path& certPem, const std::filesystem::path& keyPem)
    : m_server(std::make_unique<httplib::SSLServer>(certPem.c_str(), keyPem.c_str())), m_tls(true) {
    if (!m_server->is_valid()) throw std::runtime_error("cannot load the test certificate");
}

LoopbackServer::~LoopbackServer() {
    stop();
}

void LoopbackServer::start() {
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0) throw std::runtime_error("cannot bind a loopback port");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    while (!m_server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void LoopbackServer::stop() {
    if (!m_thread.joinable()) return;
    m_server->stop();
    m_thread.join();
}

std::string LoopbackServer::url(std::string_view path) const {
    return std::string(m_tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(m_port) +
           std::string(path);
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

namespace {

// Reads what is available into `buffer`, waking every 50 ms to look at `stopping`.
bool readSome(int fd, std::string& buffer, const std::atomic<bool>& stopping) {
    while (!stopping) {
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, 50);
        if (r < 0) return false;
        if (r == 0) continue;
        char chunk[16384];
        ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        buffer.append(chunk, static_cast<std::size_t>(n));
        return true;
    }
    return false;
}

std::size_t contentLength(const std::string& head) {
    std::string lower = head;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    auto pos = lower.find("\r\ncontent-length:");
    if (pos == std::string::npos) return 0;
    return std::strtoull(lower.c_str() + pos + 17, nullptr, 10);
}

} // namespace

std::optional<RawRequest> readRawRequest(int fd, const std::atomic<bool>& stopping) {
    std::string buffer;
    std::size_t end;
    while ((end = buffer.find("\r\n\r\n")) == std::string::npos)
        if (!readSome(fd, buffer, stopping)) return std::nullopt;
    RawRequest request;
    request.head = buffer.substr(0, end + 4);
    request.body = buffer.substr(end + 4);
    std::size_t length = contentLength(request.head);
    while (request.body.size() < length)
        if (!readSome(fd, request.body, stopping)) return std::nullopt;
    return request;
}

int connectLoopback(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

namespace {

int bindLoopback(int& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = 0;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(addr.sin_port);
    return fd;
}

} // namespace

int closedLoopbackPort() {
    int port = 0;
    int fd = bindLoopback(port);
    if (fd < 0) throw std::runtime_error("cannot bind a loopback port");
    ::close(fd); // bound but never listening: connections are refused
    return port;
}

int listenLoopback(int* port) {
    const int fd = bindLoopback(*port);
    if (fd < 0 || ::listen(fd, 64) != 0) {
        if (fd >= 0) ::close(fd);
        throw std::runtime_error("cannot listen on loopback");
    }
    return fd;
}

LoopbackListener::LoopbackListener(Serve serve) : m_serve(std::move(serve)) {
    m_listenFd = listenLoopback(&m_port);
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

LoopbackListener::~LoopbackListener() {
    stop();
}

void LoopbackListener::watch(int fd) {
    std::lock_guard lock(m_mutex);
    m_openFds.push_back(fd);
}

void LoopbackListener::unwatch(int fd) {
    std::lock_guard lock(m_mutex);
    m_openFds.erase(std::remove(m_openFds.begin(), m_openFds.end(), fd), m_openFds.end());
}

void LoopbackListener::stop() {
    if (m_stopping.exchange(true)) return;
    m_acceptThread.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(m_mutex);
        for (int fd : m_openFds)
            ::shutdown(fd, SHUT_RDWR);
        workers.swap(m_workers);
    }
    for (auto& worker : workers)
        worker.join();
    ::close(m_listenFd);
}

void LoopbackListener::acceptLoop() {
    while (!m_stopping) {
        pollfd p{m_listenFd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        // A long-lived server takes thousands of connections: a finished worker's thread is joined
        // here, not at stop(), so threads and their stacks do not pile up.
        std::vector<std::thread> finished;
        {
            std::lock_guard lock(m_mutex);
            for (const auto id : m_finished) {
                const auto at = std::find_if(m_workers.begin(), m_workers.end(),
                                             [id](const std::thread& worker) { return worker.get_id() == id; });
                if (at == m_workers.end()) continue;
                finished.push_back(std::move(*at));
                m_workers.erase(at);
            }
            m_finished.clear();
            m_openFds.push_back(fd);
            m_workers.emplace_back([this, fd] {
                m_serve(fd);
                std::lock_guard lock(m_mutex);
                ::shutdown(fd, SHUT_RDWR);
                ::close(fd);
                m_openFds.erase(std::remove(m_openFds.begin(), m_openFds.end(), fd), m_openFds.end());
                m_finished.push_back(std::this_thread::get_id());
            });
        }
        for (auto& worker : finished)
            worker.join();
    }
}

RawServer::RawServer(Responder responder, bool holdAfterAnswer)
    : m_responder(std::move(responder)), m_holdAfterAnswer(holdAfterAnswer),
      m_listener([this](int fd) { serve(fd); }) {}

RawServer::~RawServer() {
    stop();
}

void RawServer::stop() {
    m_listener.stop();
}

std::string RawServer::url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(m_listener.port()) + std::string(path);
}

std::vector<RawRequest> RawServer::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

bool RawServer::waitForRequests(std::size_t count, int ms) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < deadline) {
        {
            std::lock_guard lock(m_mutex);
            if (m_requests.size() >= count) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

void RawServer::serve(int fd) {
    while (auto request = readRawRequest(fd, m_listener.stopping())) {
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back(*request);
        }
        auto answer = m_responder(*request);
        if (answer) writeAll(fd, *answer);
        if (!answer || m_holdAfterAnswer) {
            // Hold the connection, reading nothing more into requests, until the server stops.
            std::string ignored;
            while (readSome(fd, ignored, m_listener.stopping()))
                ignored.clear();
        }
        break;
    }
}

} // namespace zelkor::test
