// The throughput scheduler in process, so that it runs under ThreadSanitizer too: against the
// fixture service it gives what the sequential scheduler gives, on the memory and the SQLite
// store, and a Stop with every service's request in flight ends it at once.

#include "engine/core/control_names.h"
#include "engine/core/program_dir.h"
#include "engine/core/text_rules.h"
#include "engine/core/value_controls.h"
#include "engine/output/export.h"
#include "engine/run/mining_run.h"
#include "fixture_service.h"
#include "sources/sources.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <mutex>
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
                 bool throughput, StoreSpec store = {}) {
    fs::create_directories(home);
    auto controls = std::make_shared<ValueControls>();
    applyWindowDefaults(*controls, home);
    controls->setText(ctl::kSeeds, gbk(seeds));
    controls->setText(ctl::kDelay, "0");
    controls->setText(ctl::kLimit, limit);
    controls->setChecked(ctl::kAutoSave, false);
    controls->setChecked(ctl::kParallel, throughput);
    controls->setText(ctl::kParallelRate, "1000");
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
    StoreSpec sqlite;
    sqlite.kind = StoreSpec::Kind::Sqlite;
    struct Case {
        const char* name;
        std::string seeds;
        std::string limit;
        bool database;
    };
    const Case cases[] = {
        {"whole graph", "手机\r\n电脑", "0", false},
        {"count limit", "手机\r\n电脑", "7", false},
        {"whole graph on SQLite", "手机", "0", true},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string tag = std::to_string(n++);
        StoreSpec store;
        if (c.database) {
            store = sqlite;
            store.path = dir / ("runs" + tag + ".sqlite");
        }
        const Outcome sequential = runToEnd(dir / ("seq" + tag), endpoints, c.seeds, c.limit, false);
        const Outcome throughput = runToEnd(dir / ("par" + tag), endpoints, c.seeds, c.limit, true, store);
        EXPECT_FALSE(sequential.results.empty());
        EXPECT_EQ(throughput.results, sequential.results);
        EXPECT_EQ(throughput.panel, sequential.panel);
        EXPECT_EQ(throughput.end, sequential.end);
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
