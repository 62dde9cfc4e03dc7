// How long stop() takes while the run's worker is held by a database another connection keeps
// locked (BEGIN IMMEDIATE): the worker waits out SQLite's busy timeout in its commit, the caller
// of stop() (the window's thread, the CLI's Ctrl-C thread) must not.
//   engine_stop_bench [--rounds N]      prints the median and the longest stop(), in ms

#include "engine/core/text_rules.h"
#include "engine/core/value_controls.h"
#include "engine/run/mining_run.h"
#include "engine/store/sqlite.h"
#include "support/scripted_sources.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace zelkor;

namespace {

double oneStop(const fs::path& home) {
    auto log = std::make_shared<test::EventLog>();
    auto controls = test::makeControls(home, {0});
    controls->setText(ctl::kSeeds, gbk("手机"));
    controls->setText(ctl::kDelay, "0");
    SqliteDb locker;
    std::promise<void> held;
    auto heldFuture = held.get_future();
    MiningController controller(controls, home, [&] {
        SourceSet set;
        set.push_back(std::make_unique<test::ScriptedSource>(
            0, "百度相关", 0, test::ScriptedSource::Script{{"手机", {"手机壳"}}}, log,
            [&](const std::string&, SourceHost&) {
                locker.open(home / "runs.sqlite", false);
                locker.exec("BEGIN IMMEDIATE");
                held.set_value();
            }));
        return set;
    });
    controller.setWait(test::recordingWait(log));
    StoreSpec spec;
    spec.kind = StoreSpec::Kind::Sqlite;
    spec.path = home / "runs.sqlite";
    controller.setStore(spec);
    if (controller.start()) {
        std::fprintf(stderr, "engine_stop_bench: the run did not start\n");
        std::exit(1);
    }
    heldFuture.wait();
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the worker is in its commit now
    const auto before = std::chrono::steady_clock::now();
    controller.stop();
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - before).count();
    locker.exec("COMMIT");
    controller.currentRun()->waitUntilDone(std::chrono::seconds(30));
    controller.waitForEmptying(std::chrono::seconds(30));
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));
    char pattern[] = "/tmp/zelkor-stop-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    const fs::path root = pattern;
    std::vector<double> times;
    for (int r = 0; r < rounds; ++r) {
        const fs::path home = root / std::to_string(r);
        fs::create_directories(home);
        times.push_back(oneStop(home));
    }
    std::sort(times.begin(), times.end());
    std::printf("stop() with the run database locked: median %.3f ms, longest %.3f ms over %d rounds "
                "(SQLite's busy timeout: 5000 ms)\n",
                times[times.size() / 2], times.back(), rounds);
    std::error_code ignored;
    fs::remove_all(root, ignored);
    return 0;
}
