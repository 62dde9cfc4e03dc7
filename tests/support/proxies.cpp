#include "support/proxies.h"

#include "support/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace zelkor::test {

namespace {

std::string base64(const std::string& in) {
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        const unsigned v = (unsigned char)in[i] << 16 | (unsigned char)in[i + 1] << 8 | (unsigned char)in[i + 2];
        out += {kDigits[v >> 18], kDigits[(v >> 12) & 63], kDigits[(v >> 6) & 63], kDigits[v & 63]};
    }
    if (i + 1 == in.size()) {
        const unsigned v = (unsigned char)in[i] << 16;
        out += {kDigits[v >> 18], kDigits[(v >> 12) & 63], '=', '='};
    } else if (i + 2 == in.size()) {
        const unsigned v = (unsigned char)in[i] << 16 | (unsigned char)in[i + 1] << 8;
        out += {kDigits[v >> 18], kDigits[(v >> 12) & 63], kDigits[(v >> 6) & 63], '='};
    }
    return out;
}

// Reads exactly n bytes, giving up after 5 s of silence or when stopping.
bool readExact(int fd, std::string& out, std::size_t n, const std::atomic<bool>& stopping) {
    out.clear();
    while (out.size() < n && !stopping) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, 50);
        if (ready < 0) return false;
        if (ready == 0) continue;
        char buffer[512];
        const ssize_t got = ::recv(fd, buffer, std::min(sizeof buffer, n - out.size()), 0);
        if (got <= 0) return false;
        out.append(buffer, static_cast<std::size_t>(got));
    }
    return out.size() == n;
}

// The request head up to and including its empty line, read a byte at a time so that nothing of
// what follows is taken.
std::optional<std::string> readHead(int fd, const std::atomic<bool>& stopping) {
    std::string head;
    std::string byte;
    while (!head.ends_with("\r\n\r\n")) {
        if (head.size() > 65536 || !readExact(fd, byte, 1, stopping)) return std::nullopt;
        head += byte;
    }
    return head;
}

// Loopback only: 127.0.0.1 or localhost, with a port.
int connectTo(const std::string& host, int port) {
    if (host != "127.0.0.1" && host != "localhost") return -1;
    return connectLoopback(port);
}

bool splitHostPort(const std::string& text, std::string& host, int& port) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    host = text.substr(0, colon);
    port = std::atoi(text.c_str() + colon + 1);
    return port > 0 && port < 65536;
}

} // namespace

ForwardingProxy::ForwardingProxy(Kind kind, std::optional<std::pair<std::string, std::string>> credentials)
    : m_kind(kind), m_credentials(std::move(credentials)), m_listener([this](int fd) {
          if (m_kind == Kind::Http)
              serveHttp(fd);
          else
              serveSocks(fd);
      }) {}

ForwardingProxy::~ForwardingProxy() {
    stop();
}

std::string ForwardingProxy::url() const {
    return std::string(m_kind == Kind::Http ? "http" : "socks5") + "://127.0.0.1:" + std::to_string(m_listener.port());
}

std::vector<std::string> ForwardingProxy::forwarded() const {
    std::lock_guard lock(m_mutex);
    return m_forwarded;
}

void ForwardingProxy::record(std::string entry) {
    std::lock_guard lock(m_mutex);
    m_forwarded.push_back(std::move(entry));
}

void ForwardingProxy::stop() {
    m_listener.stop();
}

void ForwardingProxy::relay(int client, int upstream) {
    m_listener.watch(upstream);
    pollfd fds[2] = {{client, POLLIN, 0}, {upstream, POLLIN, 0}};
    char buffer[16384];
    bool open = true;
    while (open && !m_listener.stopping()) {
        if (::poll(fds, 2, 50) <= 0) continue;
        for (int i = 0; i < 2 && open; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t got = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
            open = got > 0 && writeAll(fds[1 - i].fd, std::string_view(buffer, static_cast<std::size_t>(got)));
        }
    }
    m_listener.unwatch(upstream);
    ::shutdown(upstream, SHUT_RDWR);
    ::close(upstream);
}

void ForwardingProxy::serveHttp(int fd) {
    const auto head = readHead(fd, m_listener.stopping());
    if (!head) return;
    const std::string requestLine = head->substr(0, head->find("\r\n"));
    if (m_credentials) {
        const std::string expected =
            "Proxy-Authorization: Basic " + base64(m_credentials->first + ":" + m_credentials->second) + "\r\n";
        if (head->find(expected) == std::string::npos) {
            ++m_refused;
            writeAll(fd, "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic "
                         "realm=\"test\"\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            return;
        }
    }
    const auto firstSpace = requestLine.find(' ');
    const auto secondSpace = requestLine.rfind(' ');
    if (firstSpace == std::string::npos || secondSpace <= firstSpace) return;
    const std::string method = requestLine.substr(0, firstSpace);
    const std::string target = requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    std::string host;
    int port = 0;
    if (method == "CONNECT") {
        const int upstream = splitHostPort(target, host, port) ? connectTo(host, port) : -1;
        if (upstream < 0) {
            ++m_refused;
            writeAll(fd, "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n");
            return;
        }
        record(requestLine);
        writeAll(fd, "HTTP/1.1 200 Connection established\r\n\r\n");
        relay(fd, upstream);
        return;
    }
    // Absolute form: http://host:port/path
    if (!target.starts_with("http://")) return;
    const auto pathStart = target.find('/', 7);
    const std::string authority = target.substr(7, pathStart == std::string::npos ? std::string::npos : pathStart - 7);
    const std::string path = pathStart == std::string::npos ? "/" : target.substr(pathStart);
    int upstream = -1;
    if (splitHostPort(authority, host, port)) upstream = connectTo(host, port);
    if (upstream < 0) {
        ++m_refused;
        writeAll(fd, "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        return;
    }
    record(requestLine);
    // The rest of the head goes on unchanged but for the proxy's own lines; one request per connection.
    std::string forwarded = method + " " + path + requestLine.substr(secondSpace) + "\r\n";
    std::size_t at = head->find("\r\n") + 2;
    while (at < head->size()) {
        const std::size_t end = head->find("\r\n", at);
        const std::string line = head->substr(at, end - at);
        at = end + 2;
        if (line.empty()) break;
        const std::string name = line.substr(0, line.find(':'));
        if (name == "Proxy-Authorization" || name == "Proxy-Connection" || name == "Connection") continue;
        forwarded += line + "\r\n";
    }
    forwarded += "Connection: close\r\n\r\n";
    if (writeAll(upstream, forwarded)) {
        relay(fd, upstream);
    } else {
        ::close(upstream);
    }
}

void ForwardingProxy::serveSocks(int fd) {
    std::string bytes;
    if (!readExact(fd, bytes, 2, m_listener.stopping()) || bytes[0] != 5) return;
    std::string methods;
    if (!readExact(fd, methods, static_cast<unsigned char>(bytes[1]), m_listener.stopping())) return;
    const char wanted = m_credentials ? 2 : 0;
    if (methods.find(wanted) == std::string::npos) {
        ++m_refused;
        writeAll(fd, std::string("\x05\xff", 2));
        return;
    }
    writeAll(fd, std::string("\x05", 1) + wanted);
    if (m_credentials) {
        std::string part;
        if (!readExact(fd, part, 2, m_listener.stopping())) return;
        std::string user, password;
        if (!readExact(fd, user, static_cast<unsigned char>(part[1]), m_listener.stopping()) ||
            !readExact(fd, part, 1, m_listener.stopping()) ||
            !readExact(fd, password, static_cast<unsigned char>(part[0]), m_listener.stopping()))
            return;
        if (user != m_credentials->first || password != m_credentials->second) {
            ++m_refused;
            writeAll(fd, std::string("\x01\x01", 2));
            return;
        }
        writeAll(fd, std::string("\x01\x00", 2));
    }
    std::string request;
    if (!readExact(fd, request, 4, m_listener.stopping()) || request[0] != 5 || request[1] != 1) return;
    std::string host;
    std::string part;
    if (request[3] == 1) {
        if (!readExact(fd, part, 4, m_listener.stopping())) return;
        host = std::to_string((unsigned char)part[0]) + "." + std::to_string((unsigned char)part[1]) + "." +
               std::to_string((unsigned char)part[2]) + "." + std::to_string((unsigned char)part[3]);
    } else if (request[3] == 3) {
        if (!readExact(fd, part, 1, m_listener.stopping()) ||
            !readExact(fd, host, static_cast<unsigned char>(part[0]), m_listener.stopping()))
            return;
    } else {
        ++m_refused;
        writeAll(fd, std::string("\x05\x08\x00\x01\x00\x00\x00\x00\x00\x00", 10));
        return;
    }
    if (!readExact(fd, part, 2, m_listener.stopping())) return;
    const int port = (unsigned char)part[0] << 8 | (unsigned char)part[1];
    const int upstream = connectTo(host, port);
    if (upstream < 0) {
        ++m_refused;
        writeAll(fd, std::string("\x05\x02\x00\x01\x00\x00\x00\x00\x00\x00", 10)); // not allowed
        return;
    }
    record(host + ":" + std::to_string(port));
    writeAll(fd, std::string("\x05\x00\x00\x01\x7f\x00\x00\x01\x00\x00", 10));
    relay(fd, upstream);
}

} // namespace zelkor::test
