#pragma once
// A small RAII face over hiredis: one connection with a timeout on connecting and on every call,
// commands as argument vectors (never text built from data), replies as plain values. A call that
// fails on the connection reconnects and tries again with a doubling pause; what still fails is
// a value (ok() false, error() in words), never a crash or an exception.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct redisContext;

namespace zelkor {

struct RedisReply {
    enum class Kind { Nil, Integer, String, Status, Array, Error, Failed } kind = Kind::Nil;
    std::int64_t integer = 0;
    std::string text; // String, Status, Error, and Failed (the connection's error)
    std::vector<RedisReply> items;

    bool ok() const { return kind != Kind::Error && kind != Kind::Failed; }
};

class RedisConnection {
  public:
    struct Options {
        std::string host = "127.0.0.1";
        int port = 6379;
        int database = 0;
        std::string user;     // AUTH user password when set, else AUTH password (Redis 6 ACL or requirepass)
        std::string password; // empty: no AUTH
        std::chrono::milliseconds timeout{5000}; // connecting and each call
        int attempts = 4;                        // per call, reconnecting in between
        std::chrono::milliseconds firstPause{100};
        // When set, a call rides out a lost server this long instead (trying again, the pause
        // doubling up to a few seconds), however many attempts that takes.
        std::chrono::milliseconds outage{0};
        // Told, before each pause, what failed and how long the pause is (from the calling thread).
        std::function<void(const std::string& what, std::chrono::milliseconds pause)> onRetry;
        // Told once a call that had to try again got through, after how long.
        std::function<void(std::chrono::milliseconds after)> onReconnected;
    };

    RedisConnection() = default;
    ~RedisConnection();
    RedisConnection(RedisConnection&& other) noexcept;
    RedisConnection& operator=(RedisConnection&& other) noexcept;
    RedisConnection(const RedisConnection&) = delete;
    RedisConnection& operator=(const RedisConnection&) = delete;

    // Connects and selects the database. False with error() when it cannot.
    bool connect(const Options& options);
    bool connected() const { return m_context != nullptr; }
    const std::string& error() const { return m_error; }
    // How many times a call had to reconnect so far.
    int reconnects() const { return m_reconnects; }
    // Asked during every pause between attempts: true ends the call at once, failed.
    void setCancel(std::function<bool()> cancelled) { m_cancelled = std::move(cancelled); }

    RedisReply command(const std::vector<std::string_view>& arguments);
    // EVALSHA of a script loaded once; loads it again when the server lost it.
    RedisReply script(const std::string& body, const std::vector<std::string_view>& keys,
                      const std::vector<std::string_view>& arguments);

  private:
    bool open();
    void close();
    RedisReply once(const std::vector<std::string_view>& arguments);

    redisContext* m_context = nullptr;
    Options m_options;
    std::string m_error;
    int m_reconnects = 0;
    std::vector<std::pair<std::string, std::string>> m_scripts; // body → sha
    std::function<bool()> m_cancelled;
};

// "redis://[[USER]:PASSWORD@]HOST[:PORT][/DB]" (PORT 6379 and DB 0 when left out; USER and
// PASSWORD percent-encoded); a lone "SECRET@" is a password. nullopt when malformed.
std::optional<RedisConnection::Options> parseRedisUrl(std::string_view url);
// The URL as it may be printed, stored or logged: any password as "***".
std::string redisUrlShown(std::string_view url);

} // namespace zelkor
