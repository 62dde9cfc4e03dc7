#pragma once
// A real redis-server for a test: on a free loopback port, without persistence, in a temporary
// directory; ended (and waited for) when the object goes.

#include <filesystem>
#include <string>
#include <vector>
#include <sys/types.h>

namespace zelkor::test {

class RedisServer {
  public:
    RedisServer();
    // With a password every client must give (requirepass), and with users (ACL SETUSER lines).
    explicit RedisServer(std::string password, std::vector<std::string> aclUsers = {});
    // Writing every change to an append-only file, so that it comes back whole after stop().
    struct Durable {};
    explicit RedisServer(Durable);
    ~RedisServer();
    RedisServer(const RedisServer&) = delete;
    RedisServer& operator=(const RedisServer&) = delete;

    bool ok() const { return m_port > 0; }
    int port() const { return m_port; }
    std::string url(int database = 0) const {
        return "redis://127.0.0.1:" + std::to_string(m_port) + "/" + std::to_string(database);
    }
    // Why it did not start.
    const std::string& error() const { return m_error; }
    // Shuts the server down (its clients lose their connections); start() brings it back on the same
    // port with what it kept.
    void stop();
    bool start();

  private:
    void start(const std::string& password, const std::vector<std::string>& aclUsers);
    bool spawn(int port); // true once it answers on port

    std::vector<std::string> m_extra; // arguments beyond the port and the directory

    std::filesystem::path m_dir;
    pid_t m_pid = -1;
    int m_port = 0;
    std::string m_error;
};

} // namespace zelkor::test
