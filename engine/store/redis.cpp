#include "engine/store/redis.h"

#include <hiredis/hiredis.h>

#include <charconv>
#include <cstring>
#include <thread>
#include <utility>

namespace zelkor {

namespace {

timeval toTimeval(std::chrono::milliseconds ms) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(ms.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((ms.count() % 1000) * 1000);
    return tv;
}

RedisReply convert(const redisReply* reply) {
    RedisReply out;
    if (!reply) {
        out.kind = RedisReply::Kind::Failed;
        return out;
    }
    switch (reply->type) {
    case REDIS_REPLY_INTEGER:
        out.kind = RedisReply::Kind::Integer;
        out.integer = reply->integer;
        break;
    case REDIS_REPLY_STRING:
        out.kind = RedisReply::Kind::String;
        out.text.assign(reply->str, reply->len);
        break;
    case REDIS_REPLY_STATUS:
        out.kind = RedisReply::Kind::Status;
        out.text.assign(reply->str, reply->len);
        break;
    case REDIS_REPLY_ERROR:
        out.kind = RedisReply::Kind::Error;
        out.text.assign(reply->str, reply->len);
        break;
    case REDIS_REPLY_ARRAY:
        out.kind = RedisReply::Kind::Array;
        for (std::size_t i = 0; i < reply->elements; ++i) out.items.push_back(convert(reply->element[i]));
        break;
    default: out.kind = RedisReply::Kind::Nil;
    }
    return out;
}

RedisReply failedReply(std::string message) {
    RedisReply out;
    out.kind = RedisReply::Kind::Failed;
    out.text = std::move(message);
    return out;
}

} // namespace

RedisConnection::~RedisConnection() {
    close();
}

RedisConnection::RedisConnection(RedisConnection&& other) noexcept
    : m_context(std::exchange(other.m_context, nullptr)), m_options(std::move(other.m_options)),
      m_error(std::move(other.m_error)), m_reconnects(other.m_reconnects), m_scripts(std::move(other.m_scripts)),
      m_cancelled(std::move(other.m_cancelled)) {}

RedisConnection& RedisConnection::operator=(RedisConnection&& other) noexcept {
    if (this != &other) {
        close();
        m_context = std::exchange(other.m_context, nullptr);
        m_options = std::move(other.m_options);
        m_error = std::move(other.m_error);
        m_reconnects = other.m_reconnects;
        m_scripts = std::move(other.m_scripts);
        m_cancelled = std::move(other.m_cancelled);
    }
    return *this;
}

void RedisConnection::close() {
    if (m_context) redisFree(m_context);
    m_context = nullptr;
}

bool RedisConnection::connect(const Options& options) {
    m_options = options;
    return open();
}

bool RedisConnection::open() {
    close();
    const std::string where = m_options.host + ":" + std::to_string(m_options.port);
    m_context = redisConnectWithTimeout(m_options.host.c_str(), m_options.port, toTimeval(m_options.timeout));
    if (!m_context || m_context->err) {
        m_error = "cannot reach Redis at " + where + (m_context ? ": " + std::string(m_context->errstr) : "");
        close();
        return false;
    }
    redisSetTimeout(m_context, toTimeval(m_options.timeout));
    if (!m_options.password.empty()) {
        std::vector<const char*> argv = {"AUTH"};
        if (!m_options.user.empty()) argv.push_back(m_options.user.c_str());
        argv.push_back(m_options.password.c_str());
        std::vector<std::size_t> lengths;
        for (const char* argument : argv) lengths.push_back(std::strlen(argument));
        auto* raw = static_cast<redisReply*>(
            redisCommandArgv(m_context, static_cast<int>(argv.size()), argv.data(), lengths.data()));
        const RedisReply reply = convert(raw);
        if (raw) freeReplyObject(raw);
        if (!reply.ok()) {
            // The server's words, never the password.
            m_error = "Redis at " + where + " refused the password" +
                      (m_options.user.empty() ? "" : " of " + m_options.user) + ": " +
                      (reply.kind == RedisReply::Kind::Failed ? std::string(m_context->errstr) : reply.text);
            close();
            return false;
        }
    }
    const std::string db = std::to_string(m_options.database);
    const char* argv[] = {"SELECT", db.c_str()};
    const std::size_t lengths[] = {6, db.size()};
    auto* raw = static_cast<redisReply*>(redisCommandArgv(m_context, 2, argv, lengths));
    const RedisReply reply = convert(raw);
    if (raw) freeReplyObject(raw);
    if (!reply.ok()) {
        m_error = "cannot select database " + db + " at " + where + ": " +
                  (reply.kind == RedisReply::Kind::Failed ? std::string(m_context->errstr) : reply.text);
        close();
        return false;
    }
    m_error.clear();
    return true;
}

RedisReply RedisConnection::once(const std::vector<std::string_view>& arguments) {
    std::vector<const char*> argv;
    std::vector<std::size_t> lengths;
    for (const auto argument : arguments) {
        argv.push_back(argument.data());
        lengths.push_back(argument.size());
    }
    auto* raw = static_cast<redisReply*>(
        redisCommandArgv(m_context, static_cast<int>(argv.size()), argv.data(), lengths.data()));
    RedisReply reply = convert(raw);
    if (raw) freeReplyObject(raw);
    if (reply.kind == RedisReply::Kind::Failed) {
        reply.text = m_context->errstr;
        close(); // a context with an error cannot be used again
    }
    return reply;
}

RedisReply RedisConnection::command(const std::vector<std::string_view>& arguments) {
    constexpr std::chrono::milliseconds kLongestPause{2000};
    auto pause = m_options.firstPause;
    RedisReply reply = failedReply("not connected");
    const auto began = std::chrono::steady_clock::now();
    const auto since = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began);
    };
    const bool patient = m_options.outage.count() > 0;
    for (int attempt = 0; patient || attempt < std::max(1, m_options.attempts); ++attempt) {
        if (attempt > 0) {
            if (patient) {
                const auto left = m_options.outage - since();
                if (left.count() <= 0) break;
                pause = std::min({pause, kLongestPause, left});
            }
            if (m_options.onRetry) m_options.onRetry(reply.text, pause);
            for (auto slept = std::chrono::milliseconds(0); slept < pause; slept += std::chrono::milliseconds(50)) {
                if (m_cancelled && m_cancelled()) return reply;
                std::this_thread::sleep_for(std::min(std::chrono::milliseconds(50), pause - slept));
            }
            pause *= 2;
            ++m_reconnects;
        }
        if (!m_context && !open()) {
            reply = failedReply(m_error);
            continue;
        }
        reply = once(arguments);
        if (reply.kind != RedisReply::Kind::Failed) {
            if (attempt > 0 && m_options.onReconnected) m_options.onReconnected(since());
            return reply;
        }
        m_error = "lost the connection to Redis at " + m_options.host + ":" + std::to_string(m_options.port) +
                  ": " + reply.text;
        reply.text = m_error;
    }
    return reply;
}

RedisReply RedisConnection::script(const std::string& body, const std::vector<std::string_view>& keys,
                                   const std::vector<std::string_view>& arguments) {
    std::string sha;
    for (const auto& [known, hash] : m_scripts)
        if (known == body) sha = hash;
    for (int round = 0; round < 2; ++round) {
        if (sha.empty()) {
            const RedisReply loaded = command({"SCRIPT", "LOAD", body});
            if (!loaded.ok()) return loaded;
            sha = loaded.text;
            std::erase_if(m_scripts, [&](const auto& entry) { return entry.first == body; });
            m_scripts.emplace_back(body, sha);
        }
        const std::string count = std::to_string(keys.size());
        std::vector<std::string_view> argv = {"EVALSHA", sha, count};
        argv.insert(argv.end(), keys.begin(), keys.end());
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        RedisReply reply = command(argv);
        if (reply.kind == RedisReply::Kind::Error && reply.text.starts_with("NOSCRIPT")) {
            sha.clear();
            continue;
        }
        return reply;
    }
    return failedReply("the server keeps losing the script");
}

namespace {

std::optional<std::string> percentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        int value = 0;
        if (i + 2 >= text.size()) return std::nullopt;
        const auto [end, ec] = std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
        if (ec != std::errc() || end != text.data() + i + 3) return std::nullopt;
        out += static_cast<char>(value);
        i += 2;
    }
    return out;
}

} // namespace

std::string redisUrlShown(std::string_view url) {
    constexpr std::string_view scheme = "redis://";
    if (!url.starts_with(scheme)) return std::string(url);
    const std::string_view rest = url.substr(scheme.size());
    const auto at = rest.substr(0, rest.find('/')).rfind('@');
    if (at == std::string_view::npos) return std::string(url);
    const std::string_view credentials = rest.substr(0, at);
    const auto colon = credentials.find(':');
    const std::string user = colon == std::string_view::npos ? "" : std::string(credentials.substr(0, colon)) + ":";
    return std::string(scheme) + user + "***" + std::string(rest.substr(at));
}

std::optional<RedisConnection::Options> parseRedisUrl(std::string_view url) {
    constexpr std::string_view scheme = "redis://";
    if (!url.starts_with(scheme)) return std::nullopt;
    url.remove_prefix(scheme.size());
    RedisConnection::Options options;
    const auto slash = url.find('/');
    std::string_view hostPort = url.substr(0, slash);
    if (const auto at = hostPort.rfind('@'); at != std::string_view::npos) {
        const std::string_view credentials = hostPort.substr(0, at);
        hostPort.remove_prefix(at + 1);
        const auto colon = credentials.find(':');
        const auto user = percentDecoded(colon == std::string_view::npos ? std::string_view() : credentials.substr(0, colon));
        const auto password =
            percentDecoded(colon == std::string_view::npos ? credentials : credentials.substr(colon + 1));
        if (!user || !password || password->empty()) return std::nullopt;
        options.user = *user;
        options.password = *password;
    }
    if (slash != std::string_view::npos) {
        const std::string_view db = url.substr(slash + 1);
        if (!db.empty()) {
            const auto [end, ec] = std::from_chars(db.data(), db.data() + db.size(), options.database);
            if (ec != std::errc() || end != db.data() + db.size() || options.database < 0) return std::nullopt;
        }
    }
    const auto colon = hostPort.rfind(':');
    if (colon != std::string_view::npos) {
        const std::string_view port = hostPort.substr(colon + 1);
        const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), options.port);
        if (ec != std::errc() || end != port.data() + port.size() || options.port <= 0 || options.port > 65535)
            return std::nullopt;
        hostPort = hostPort.substr(0, colon);
    }
    if (hostPort.empty()) return std::nullopt;
    options.host = std::string(hostPort);
    return options;
}

} // namespace zelkor
