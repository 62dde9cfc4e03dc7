// The throughput scheduler in process, so that it runs under ThreadSanitizer too: against the
// fixture service it gives what the sequential scheduler gives, on the memory, the SQLite and a
// shared Redis store, no service sees two requests closer than its pace, and a Stop with every
// service's request in flight ends it at once.

#include "engine/core/control_names.h"
#include "engine/core/program_dir.h"
#include "engine/core/text_rules.h"
#include "engine/core/value_controls.h"
#include "engine/output/export.h"
#include "engine/run/mining_run.h"
#include "fixture_service.h"
#include "sources/sources.h"
#include "support/redis_server.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using test::FixtureFault;
using test::FixtureService;
using test::TempDir;

Endpoints endpointsOf(const FixtureService& service, const fs::path& file) {
    service.writeEndpoints(file);
    std::string error;
    const auto loaded = Endpoints::loadFile(file, &error);
    EXPECT_TRUE(loaded) << error;
    return loaded ? *loaded : Endpoints{};
}

struct Outcome {
    std::string panel; // everything the panel received, UTF-8
    std::vector<std::string> results;
    std::optional<RunEnd> end;
};

// One run to its end in a home of its own, every service ticked, no pauses waited out.
Outcome runToEnd(const fs::path& home, const Endpoints& endpoints, const std::string& seeds, const std::string& limit,
                 bool throughput, StoreSpec store = {}, const std::string& rate = "1000") {
    fs::create_directories(home);
    auto controls = std::make_shared<ValueControls>();
    applyWindowDefaults(*controls, home);
    controls->setText(ctl::kSeeds, gbk(seeds));
    controls->setText(ctl::kDelay, "0");
    controls->setText(ctl::kLimit, limit);
    controls->setChecked(ctl::kAutoSave, false);
    controls->setChecked(ctl::kParallel, throughput);
    controls->setText(ctl::kParallelRate, rate);
    for (int i = 0; i < kSourceCount; ++i)
        controls->setItemChecked(ctl::kSourceList, i, true);
    auto mutex = std::make_shared<std::mutex>();
    auto panel = std::make_shared<std::string>();
    controls->setOutputListener([mutex, panel](const Text& text) {
        std::lock_guard lock(*mutex);
        *panel += gbk_to_utf8(text);
    });
    MiningController controller(controls, home, [endpoints] { return make_sources(endpoints); });
    controller.setWait([](std::chrono::milliseconds, std::stop_token stop) { return !stop.stop_requested(); });
    controller.setStore(std::move(store));
    Outcome outcome;
    if (controller.start()) {
        ADD_FAILURE() << "the run did not start";
        return outcome;
    }
    const auto run = controller.currentRun();
    EXPECT_TRUE(run->waitUntilDone(std::chrono::seconds(120)));
    for (const auto& record : run->results())
        outcome.results.push_back(gbk_to_utf8(record.keyword + " " + record.parent + " " + record.mainWord));
    outcome.end = run->end();
    controller.stop();
    EXPECT_TRUE(controller.waitForEmptying(std::chrono::seconds(20)));
    std::lock_guard lock(*mutex);
    // The panel up to the run's end; Stop's emptying notices follow it.
    outcome.panel = *panel;
    const auto emptying = outcome.panel.rfind("开始清理临时数据");
    if (emptying != std::string::npos) outcome.panel.erase(outcome.panel.rfind("\r\n\r\n", emptying));
    return outcome;
}

TEST(Throughput, GivesWhatTheSequentialSchedulerGives) {
    TempDir dir;
    FixtureService service(0, 32);
    ASSERT_TRUE(service.ok());
    // Answers come back out of order, so only the commit order can keep them in line.
    service.setLatency(std::chrono::milliseconds(3), std::chrono::milliseconds(2));
    const Endpoints endpoints = endpointsOf(service, dir / "endpoints.ini");
    test::RedisServer redis;
    ASSERT_TRUE(redis.ok()) << redis.error();
    struct Case {
        const char* name;
        std::string seeds;
        std::string limit;
        StoreSpec::Kind store;
    };
    const Case cases[] = {
        {"whole graph", "手机\r\n电脑", "0", StoreSpec::Kind::Files},
        {"count limit", "手机\r\n电脑", "7", StoreSpec::Kind::Files},
        {"whole graph on SQLite", "手机", "0", StoreSpec::Kind::Sqlite},
        // One worker leasing many keywords ahead still commits them in the queue's order.
        {"whole graph on Redis", "手机\r\n电脑", "0", StoreSpec::Kind::Redis},
        {"count limit on Redis", "手机\r\n电脑", "7", StoreSpec::Kind::Redis},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string tag = std::to_string(n++);
        StoreSpec store;
        store.kind = c.store;
        store.path = dir / ("runs" + tag + ".sqlite");
        store.url = redis.url(1);
        store.run = "same" + tag;
        const Outcome sequential = runToEnd(dir / ("seq" + tag), endpoints, c.seeds, c.limit, false);
        const Outcome throughput = runToEnd(dir / ("par" + tag), endpoints, c.seeds, c.limit, true, store);
        EXPECT_FALSE(sequential.results.empty());
        EXPECT_EQ(throughput.results, sequential.results);
        // A shared run's seeds wait in its queue from the start, so its panel counts them first.
        if (c.store != StoreSpec::Kind::Redis) {
            EXPECT_EQ(throughput.panel, sequential.panel);
        }
        EXPECT_EQ(throughput.end, sequential.end);
    }
}

// The pace as the services see it: from the first keyword on and with many keywords in flight, no
// service sees two requests start closer than 1/R, and every keyword is asked of every service
// once; on the memory store and on a shared Redis run.
TEST(Throughput, NoServiceSeesTwoStartsCloserThanItsPace) {
    constexpr int kKeywords = 20;
    constexpr auto kSpacing = std::chrono::milliseconds(500); // R = 2 requests a second, the default
    // The service stamps a request when it accepts its connection (one request each), before a
    // worker thread takes it up: stamped in the handler, requests that waited for a worker (for
    // hundreds of ms under ThreadSanitizer) looked as if they came late, and the next one at that
    // service too soon. The accepting thread shares two cores with the run and with builds, so a
    // tenth of the spacing is allowed for a stamp it takes late.
    constexpr auto kStampJitter = kSpacing / 10;
    TempDir dir;
    test::RedisServer redis;
    ASSERT_TRUE(redis.ok()) << redis.error();
    for (const auto kind : {StoreSpec::Kind::Files, StoreSpec::Kind::Redis}) {
        const bool shared = kind == StoreSpec::Kind::Redis;
        SCOPED_TRACE(shared ? "Redis" : "memory");
        FixtureService service(0, 32);
        ASSERT_TRUE(service.ok());
        service.useBenchGraph(kKeywords);
        service.setLatency(std::chrono::milliseconds(5), std::chrono::milliseconds(3));
        const Endpoints endpoints = endpointsOf(service, dir / "endpoints.ini");
        StoreSpec store;
        store.kind = kind;
        store.url = redis.url(1);
        store.run = "pace";
        const Outcome outcome = runToEnd(dir / (shared ? "redis" : "memory"), endpoints, "bench-0", "0", true, store, "2");
        EXPECT_EQ(outcome.end, RunEnd::QueueDry);

        std::map<int, std::vector<std::chrono::steady_clock::time_point>> starts;
        std::map<std::pair<std::string, int>, int> asked;
        std::set<std::string> keywords;
        for (const auto& request : service.requests()) {
            starts[request.source].push_back(request.arrived);
            ++asked[{request.keyword, request.source}];
            keywords.insert(request.keyword);
        }
        EXPECT_EQ(keywords.size(), static_cast<std::size_t>(kKeywords));
        EXPECT_EQ(starts.size(), static_cast<std::size_t>(test::kFixtureSources));
        // A seed is never marked seen, as ever: once a service names it, it is asked once more.
        for (const auto& [what, times] : asked)
            EXPECT_EQ(times, what.first == "bench-0" ? 2 : 1) << what.first << " of service " << what.second;
        for (auto& [source, times] : starts) {
            EXPECT_EQ(times.size(), static_cast<std::size_t>(kKeywords + 1)) << "service " << source;
            std::sort(times.begin(), times.end());
            for (std::size_t i = 1; i < times.size(); ++i)
                EXPECT_GE(times[i] - times[i - 1], kSpacing - kStampJitter)
                    << "service " << source << ", requests " << i - 1 << " and " << i << ": "
                    << std::chrono::duration<double, std::milli>(times[i] - times[i - 1]).count() << " ms";
        }
    }
}

// Stop with all 25 services' requests in flight (the service holds them): stop() returns while they
// are still held, and nothing more is sent, shown or saved, even once the service answers.
TEST(ParallelStop, EndsAtOnceWithEveryServiceInFlight) {
    TempDir dir;
    FixtureService service(0, 32);
    ASSERT_TRUE(service.ok());
    for (int i = 0; i < test::kFixtureSources; ++i)
        service.setFault(i, FixtureFault::Held);
    service.writeEndpoints(dir / "endpoints.ini");
    std::string error;
    const auto loaded = Endpoints::loadFile(dir / "endpoints.ini", &error);
    ASSERT_TRUE(loaded) << error;
    const Endpoints endpoints = *loaded;

    auto controls = std::make_shared<ValueControls>();
    applyWindowDefaults(*controls, dir.path());
    controls->setText(ctl::kSeeds, gbk("手机\r\n电脑"));
    controls->setText(ctl::kDelay, "0");
    controls->setText(ctl::kLimit, "0");
    controls->setChecked(ctl::kAutoSave, true);
    controls->setChecked(ctl::kParallel, true);
    controls->setText(ctl::kParallelRate, "50");
    for (int i = 0; i < kSourceCount; ++i)
        controls->setItemChecked(ctl::kSourceList, i, true);
    MiningController controller(controls, dir.path(), [endpoints] { return make_sources(endpoints); });
    controller.start();
    const auto run = controller.currentRun();
    for (int i = 0; i < 500 && service.requests().size() < 25; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(service.requests().size(), 25u);
    const std::string panel = gbk_to_utf8(controls->text(ctl::kPanel));

    controller.stop();
    const std::size_t sent = service.requests().size();
    EXPECT_EQ(sent, 25u); // the service still holds every one of them
    EXPECT_TRUE(run->waitUntilDone(std::chrono::seconds(5)));
    // Stop empties the seen store, which says so on the panel; nothing else may follow.
    EXPECT_TRUE(controller.waitForEmptying(std::chrono::seconds(5)));
    const std::string stopped = gbk_to_utf8(controls->text(ctl::kPanel));
    EXPECT_EQ(stopped.substr(0, panel.size()), panel);
    EXPECT_EQ(run->end(), RunEnd::Stopped);
    for (int i = 0; i < test::kFixtureSources; ++i)
        service.setFault(i, FixtureFault::None);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(service.requests().size(), sent);
    EXPECT_EQ(gbk_to_utf8(controls->text(ctl::kPanel)), stopped);
    EXPECT_TRUE(run->results().empty());
    EXPECT_EQ(run->acceptedCount(), 0);
    EXPECT_FALSE(fs::exists(gbkToPath(resultPathText(*controls))));
}

} // namespace
} // namespace zelkor
