#include "engine/store/redis.h"
#include "engine/store/redis_run_store.h"
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


RedisStoreTarget target(int port, const std::string& run, int leaseMs) {
    RedisStoreTarget t;
    t.server = local(port);
    t.run = run;
    t.lease = std::chrono::milliseconds(leaseMs);
    return t;
}

std::unique_ptr<RedisRunStore> openStore(int port, const std::string& run, int leaseMs = 60000) {
    std::string error;
    auto store = RedisRunStore::open(target(port, run, leaseMs), &error);
    EXPECT_TRUE(store) << error;
    return store;
}

TEST(RedisRunStore, TasksAndRecordsSurviveTheirEncoding) {
    const KeywordTask task{std::string("a:1\0\xff", 5), "", 7};
    const auto back = decodeTask(encodeTask(task));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->keyword, task.keyword);
    EXPECT_EQ(back->mainWord, task.mainWord);
    EXPECT_EQ(back->depth, task.depth);
    const ResultRecord record{"k", "src", "main", "parent:2", 3, "2026-12-10T10:00:00+08:00"};
    const auto again = decodeResult(encodeResult(record));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->parent, record.parent);
    EXPECT_EQ(again->time, record.time);
    for (const char* bad : {"", "3:ab", "x:abc1:b1:1", "1:a1:b", "1:a1:b1:x", "1:a1:b1:11:z"})
        EXPECT_FALSE(decodeTask(bad)) << bad;
}

// Two workers of one run: a phrase one has taken is not the other's, a lease that runs out gives its
// task (and its phrases) back, and the run is over for both once nothing is queued or held.
TEST(RedisRunStore, LeasesClaimsAndTheEndOfARun) {
    RedisServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    auto a = openStore(server.port(), "r1");
    auto b = openStore(server.port(), "r1", 300);
    ASSERT_TRUE(a && b);

    const RunOptionValues options = {{"编辑框_关键词", "s1\r\ns2"}, {"编辑框_挖掘数量", "0"}};
    RunOptionValues stored;
    EXPECT_EQ(a->enter(options, {{"s1", "s1"}, {"s2", "s2"}}, &stored), RedisRunStore::Entry::Created);
    EXPECT_EQ(b->enter({{"编辑框_关键词", "other"}}, {{"other", "other"}}, &stored), RedisRunStore::Entry::Joined);
    EXPECT_EQ(stored, options);

    const auto first = a->queue().front();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->keyword, "s1");
    EXPECT_EQ(first->depth, 0);
    EXPECT_EQ(a->queue().front()->keyword, "s1"); // the same lease, not a second task
    const auto second = b->queue().front();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->keyword, "s2");

    // A phrase is new to one worker only, in any case.
    EXPECT_FALSE(a->seen().contains("Phone"));
    EXPECT_TRUE(a->seen().contains("phone"));
    EXPECT_TRUE(b->seen().contains("PHONE"));
    EXPECT_FALSE(b->seen().contains("tablet"));
    ASSERT_TRUE(a->seen().insert("Phone"));
    a->queue().push({"Phone", "s1", 1});
    a->results().append({"Phone", "src", "s1", "s1", 1, "t"});
    a->queue().pop();
    ASSERT_TRUE(a->commitKeyword(0, 1)) << a->error();
    EXPECT_EQ(a->results().size(), 1u);

    // b dies holding s2 and a claim on "tablet": its lease runs out, both come back.
    RedisConnection admin;
    ASSERT_TRUE(admin.connect(local(server.port())));
    ASSERT_EQ(admin.command({"DEL", "zelkor:run:r1:alive:" + admin.command({"HKEYS", "zelkor:run:r1:leases"}).items.at(0).text}).integer, 1);
    const auto back = a->queue().front();
    ASSERT_TRUE(back);
    EXPECT_EQ(back->keyword, "s2");
    EXPECT_FALSE(a->seen().contains("tablet"));
    b->queue().pop();
    EXPECT_FALSE(b->commitKeyword(0, 0)); // its work is a's now
    EXPECT_NE(b->error().find("lease"), std::string::npos) << b->error();
    a->queue().pop();
    ASSERT_TRUE(a->commitKeyword(0, 1)) << a->error();

    // "Phone" queued by a: leased, done; then nothing is left for anyone.
    EXPECT_EQ(a->queue().size(), 1u);
    EXPECT_EQ(a->queue().front()->keyword, "Phone");
    a->queue().pop();
    ASSERT_TRUE(a->commitKeyword(0, 1));
    EXPECT_EQ(a->queue().size(), 0u);
    EXPECT_FALSE(a->queue().front());
    a->runFinished();

    const auto runs = *a->listRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].name, "r1");
    EXPECT_EQ(runs[0].state, StoredRunState::Finished);
    EXPECT_EQ(runs[0].keywordsDone, 3);
    EXPECT_EQ(runs[0].results, 1);
    const auto results = a->runResults("r1");
    ASSERT_TRUE(results);
    ASSERT_EQ(results->size(), 1u);
    EXPECT_EQ(results->at(0).keyword, "Phone");
    EXPECT_FALSE(a->runResults("nope"));

    // A finished run takes nobody in.
    auto late = openStore(server.port(), "r1");
    EXPECT_FALSE(late->enter(options, {}, &stored));
    EXPECT_NE(late->error().find("is finished"), std::string::npos);
}

// A worker waits while others hold leases (their answers may queue more), and a Stop ends the wait
// and gives its lease back at once.
TEST(RedisRunStore, WaitsForOthersAndStopGivesTheLeaseBack) {
    RedisServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    auto a = openStore(server.port(), "r2");
    auto b = openStore(server.port(), "r2");
    RunOptionValues stored;
    ASSERT_TRUE(a->enter({}, {{"s1", "s1"}}, &stored));
    ASSERT_TRUE(b->enter({}, {}, &stored));
    ASSERT_TRUE(a->queue().front());

    std::optional<KeywordTask> got;
    std::thread waiter([&] { got = b->queue().front(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    a->queue().push({"more", "s1", 1});
    a->queue().pop();
    ASSERT_TRUE(a->commitKeyword(0, 1));
    waiter.join();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->keyword, "more");

    // b stops holding "more": a gets it without waiting for the lease to run out.
    b->runStopped();
    std::optional<KeywordTask> taken;
    for (int i = 0; i < 50 && !taken; ++i) {
        taken = a->queue().front();
        if (!taken) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->keyword, "more");
}

} // namespace
} // namespace zelkor
