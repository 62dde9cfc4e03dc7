#include "engine/redis.h"
#include "support/redis_server.h"

#include <gtest/gtest.h>

#include <thread>

namespace zelkor {
namespace {

using test::RedisServer;

RedisConnection::Options local(int port, int timeoutMs = 2000) {
    RedisConnection::Options options;
    options.port = port;
    options.database = 3;
    options.timeout = std::chrono::milliseconds(timeoutMs);
    options.firstPause = std::chrono::milliseconds(20);
    return options;
}

TEST(RedisUrl, ParsesHostPortAndDatabase) {
    struct Case {
        const char* url;
        bool ok;
        const char* host;
        int port;
        int db;
    };
    const Case cases[] = {
        {"redis://127.0.0.1:6380/2", true, "127.0.0.1", 6380, 2},
        {"redis://localhost", true, "localhost", 6379, 0},
        {"redis://h:7000", true, "h", 7000, 0},
        {"redis://h/5", true, "h", 6379, 5},
        {"redis://h:0/1", false, "", 0, 0},
        {"redis://h:99999", false, "", 0, 0},
        {"redis://h:x/1", false, "", 0, 0},
        {"redis://h/-1", false, "", 0, 0},
        {"redis:///1", false, "", 0, 0},
        {"http://h:1/1", false, "", 0, 0},
    };
    for (const auto& c : cases) {
        const auto options = parseRedisUrl(c.url);
        ASSERT_EQ(options.has_value(), c.ok) << c.url;
        if (!c.ok) continue;
        EXPECT_EQ(options->host, c.host) << c.url;
        EXPECT_EQ(options->port, c.port) << c.url;
        EXPECT_EQ(options->database, c.db) << c.url;
    }
}

TEST(RedisConnection, SendsBinaryArgumentsAndRunsScripts) {
    RedisServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    RedisConnection redis;
    ASSERT_TRUE(redis.connect(local(server.port()))) << redis.error();

    const std::string binary("a\0b\xff\r\n", 6);
    EXPECT_TRUE(redis.command({"SET", "k", binary}).ok());
    const auto got = redis.command({"GET", "k"});
    EXPECT_EQ(got.kind, RedisReply::Kind::String);
    EXPECT_EQ(got.text, binary);
    EXPECT_EQ(redis.command({"GET", "missing"}).kind, RedisReply::Kind::Nil);
    EXPECT_EQ(redis.command({"INCR", "k"}).kind, RedisReply::Kind::Error);
    const auto list = redis.command({"RPUSH", "l", "x", "y"});
    EXPECT_EQ(list.integer, 2);
    const auto range = redis.command({"LRANGE", "l", "0", "-1"});
    ASSERT_EQ(range.items.size(), 2u);
    EXPECT_EQ(range.items[1].text, "y");

    const std::string body = "return redis.call('INCRBY', KEYS[1], ARGV[1])";
    EXPECT_EQ(redis.script(body, {"n"}, {"5"}).integer, 5);
    // The server forgets its scripts: loaded again.
    EXPECT_TRUE(redis.command({"SCRIPT", "FLUSH"}).ok());
    EXPECT_EQ(redis.script(body, {"n"}, {"2"}).integer, 7);

    // The database of the URL is the one used.
    RedisConnection other;
    auto zero = local(server.port());
    zero.database = 0;
    ASSERT_TRUE(other.connect(zero));
    EXPECT_EQ(other.command({"GET", "k"}).kind, RedisReply::Kind::Nil);
}

TEST(RedisConnection, ReconnectsAfterALostConnectionAndReportsWhatFails) {
    RedisServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    RedisConnection redis;
    ASSERT_TRUE(redis.connect(local(server.port(), 300))) << redis.error();
    ASSERT_TRUE(redis.command({"SET", "k", "v"}).ok());

    RedisConnection admin;
    ASSERT_TRUE(admin.connect(local(server.port())));
    EXPECT_TRUE(admin.command({"CLIENT", "KILL", "TYPE", "normal", "SKIPME", "yes"}).ok());
    const auto again = redis.command({"GET", "k"});
    EXPECT_EQ(again.text, "v");
    EXPECT_GE(redis.reconnects(), 1);

    // Every client paused past the timeout: the call gives up, in words.
    auto impatient = local(server.port(), 200);
    impatient.attempts = 2;
    RedisConnection paused;
    ASSERT_TRUE(paused.connect(impatient));
    EXPECT_TRUE(admin.command({"CLIENT", "PAUSE", "1500"}).ok());
    const auto timedOut = paused.command({"GET", "k"});
    EXPECT_EQ(timedOut.kind, RedisReply::Kind::Failed);
    EXPECT_NE(timedOut.text.find("127.0.0.1:" + std::to_string(server.port())), std::string::npos) << timedOut.text;
    EXPECT_TRUE(admin.command({"CLIENT", "UNPAUSE"}).ok());

    // Nobody listening.
    RedisConnection nobody;
    auto closed = local(1, 200);
    EXPECT_FALSE(nobody.connect(closed));
    EXPECT_NE(nobody.error().find("cannot reach Redis at 127.0.0.1:1"), std::string::npos) << nobody.error();
    EXPECT_EQ(nobody.command({"PING"}).kind, RedisReply::Kind::Failed);
}

} // namespace
} // namespace zelkor
