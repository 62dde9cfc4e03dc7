#include "support/hostile_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace zelkor::test {

const char* hostileModeName(HostileMode mode) {
    switch (mode) {
    case HostileMode::Huge:
        return "huge";
    case HostileMode::Unsized:
        return "unsized";
    case HostileMode::Endless:
        return "endless";
    case HostileMode::Dripping:
        return "dripping";
    case HostileMode::Cut:
        return "cut";
    case HostileMode::Malformed:
        return "malformed";
    case HostileMode::Silent:
        return "silent";
    case HostileMode::Canned:
        return "canned";
    }
    return "?";
}

HostileServer::HostileServer(Plan plan)
    : m_plan(std::move(plan)), m_listener([this](int fd) { serve(fd); }) {}

HostileServer::HostileServer(HostileAnswer always)
    : HostileServer([always](const RawRequest&) { return always; }) {}

HostileServer::~HostileServer() {
    stop();
}

void HostileServer::stop() {
    m_listener.stop();
}

std::string HostileServer::url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(m_listener.port()) + std::string(path);
}

// False once the peer is gone or the server stops; waits for room in the socket meanwhile.
bool HostileServer::send(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        if (m_listener.stopping()) return false;
        pollfd p{fd, POLLOUT, 0};
        const int r = ::poll(&p, 1, 50);
        if (r < 0) return false;
        if (r == 0) continue;
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void HostileServer::serve(int fd) {
    if (const auto request = readRawRequest(fd, m_listener.stopping())) {
        ++m_requests;
        const HostileAnswer answer = m_plan(*request);
        const auto head = [&](std::string_view extra) {
            return "HTTP/1.1 200 OK\r\nContent-Type: " + answer.contentType + "\r\n" + std::string(extra) +
                   "Connection: close\r\n\r\n";
        };
        const std::string filler(1 << 16, 'x');
        const auto body = [&](std::size_t size) {
            for (std::size_t sent = 0; sent < size;) {
                const std::size_t n = std::min(filler.size(), size - sent);
                if (!send(fd, std::string_view(filler).substr(0, n))) return;
                sent += n;
                m_bytesSent += n;
            }
        };
        switch (answer.mode) {
        case HostileMode::Huge:
            if (send(fd, head("Content-Length: " + std::to_string(answer.size) + "\r\n"))) body(answer.size);
            break;
        case HostileMode::Unsized:
            if (send(fd, head(""))) body(answer.size);
            break;
        case HostileMode::Endless: {
            static constexpr std::size_t kChunk = 1 << 15;
            char size[16];
            std::snprintf(size, sizeof size, "%zx\r\n", kChunk);
            const std::string chunk = size + std::string(kChunk, 'y') + "\r\n";
            if (!send(fd, head("Transfer-Encoding: chunked\r\n"))) break;
            while (send(fd, chunk))
                m_bytesSent += kChunk;
            break;
        }
        case HostileMode::Dripping:
            if (!send(fd, head("Content-Length: " + std::to_string(answer.size) + "\r\n"))) break;
            for (std::size_t i = 0; i < answer.size && !m_listener.stopping(); ++i) {
                if (!send(fd, "z")) break;
                ++m_bytesSent;
                std::this_thread::sleep_for(answer.interval);
            }
            break;
        case HostileMode::Cut:
            if (send(fd, head("Content-Length: " + std::to_string(answer.size) + "\r\n") + answer.body))
                m_bytesSent += answer.body.size();
            break;
        case HostileMode::Malformed:
            send(fd, answer.body.empty() ? std::string("SPEAK FRIEND \x01\x02\r\n\r\nand enter\r\n") : answer.body);
            break;
        case HostileMode::Silent: {
            char ignored[4096];
            while (!m_listener.stopping()) {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 50) > 0 && ::recv(fd, ignored, sizeof ignored, 0) <= 0) break;
            }
            break;
        }
        case HostileMode::Canned:
            if (send(fd, head("Content-Length: " + std::to_string(answer.body.size()) + "\r\n") + answer.body))
                m_bytesSent += answer.body.size();
            break;
        }
    }
}

} // namespace zelkor::test
