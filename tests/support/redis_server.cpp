#include "support/redis_server.h"

#include <algorithm>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace zelkor::test {

namespace {

int freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

} // namespace

RedisServer::RedisServer() {
    start({}, {});
}

RedisServer::RedisServer(std::string password, std::vector<std::string> aclUsers) {
    start(password, aclUsers);
}

RedisServer::RedisServer(Durable) {
    m_extra = {"--appendonly", "yes", "--appendfsync", "always"};
    start({}, {});
}

void RedisServer::start(const std::string& password, const std::vector<std::string>& aclUsers) {
    char pattern[] = "/tmp/zelkor-redis-XXXXXX";
    if (!::mkdtemp(pattern)) {
        m_error = "cannot make a temporary directory";
        return;
    }
    m_dir = pattern;
    if (m_extra.empty()) m_extra = {"--appendonly", "no"};
    if (!password.empty()) m_extra.insert(m_extra.end(), {"--requirepass", password});
    for (const std::string& user : aclUsers) {
        m_extra.push_back("--user");
        for (std::size_t from = 0; from < user.size();) {
            const std::size_t end = std::min(user.find(' ', from), user.size());
            m_extra.push_back(user.substr(from, end - from));
            from = end + 1;
        }
    }
    // A port taken between the probe and the server's bind makes the server exit: try again.
    for (int attempt = 0; attempt < 5 && m_port == 0; ++attempt) {
        const int port = freeLoopbackPort();
        if (port != 0 && spawn(port)) m_port = port;
    }
}

bool RedisServer::spawn(int port) {
    const std::string portText = std::to_string(port);
    m_pid = ::fork();
    if (m_pid == 0) {
        const std::string log = (m_dir / "redis.log").string();
        std::vector<std::string> args = {"redis-server", "--port",   portText,           "--bind",     "127.0.0.1",
                                         "--save",       "",         "--dir",            m_dir.string(), "--loglevel",
                                         "warning",      "--logfile", log};
        args.insert(args.end(), m_extra.begin(), m_extra.end());
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        ::execvp("redis-server", argv.data());
        ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            m_error = WIFEXITED(status) && WEXITSTATUS(status) == 127
                          ? "redis-server is not installed (scripts/setup installs it)"
                          : "redis-server exited at start";
            return false;
        }
        if (accepts(port)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
    m_error = "redis-server did not answer";
    return false;
}

void RedisServer::stop() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

bool RedisServer::start() {
    return m_pid <= 0 && m_port > 0 && spawn(m_port);
}

RedisServer::~RedisServer() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
    std::error_code ignored;
    if (!m_dir.empty()) std::filesystem::remove_all(m_dir, ignored);
}

} // namespace zelkor::test
