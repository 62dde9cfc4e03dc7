// Stop never waits for slow work: with the run's worker held inside a slow place (a database
// another connection keeps locked, a hang-up file that is a FIFO no one reads), stop() returns
// while the worker is still held there, and once it is let go nothing more reaches the panel.
// Stop during a slow start (a locked database) refuses that start instead of launching it.

#include "support/scripted_sources.h"

#include "engine/core/program_dir.h"
#include "engine/store/sqlite.h"
#include "engine/store/sqlite_run_store.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using test::EventLog;
using test::ScriptedSource;
using test::TempDir;

// One slow place: made ready before the run, taken by the worker (from inside the source that
// answers), and let go by the test once stop() has returned.
struct SlowPlace {
    const char* name;
    std::function<void(const fs::path& home, ValueControls& controls, MiningController& controller)> prepare;
    std::function<void(const fs::path& home)> hold;
    std::function<void(const fs::path& home)> release;
};

TEST(RunGate, StopReturnsWhileTheWorkerIsHeldInASlowPlace) {
    // Shared by the rows' lambdas: the connection that locks the database.
    auto locker = std::make_shared<SqliteDb>();
    const SlowPlace places[] = {
        {"a run database another connection keeps locked",
         [](const fs::path& home, ValueControls&, MiningController& controller) {
             StoreSpec spec;
             spec.kind = StoreSpec::Kind::Sqlite;
             spec.path = home / "runs.sqlite";
             controller.setStore(spec);
         },
         [locker](const fs::path& home) {
             ASSERT_TRUE(locker->open(home / "runs.sqlite", false));
             ASSERT_TRUE(locker->exec("BEGIN IMMEDIATE"));
         },
         [locker](const fs::path&) {
             locker->exec("COMMIT");
             locker->close();
         }},
        {"a hang-up file that is a FIFO no one reads",
         [](const fs::path& home, ValueControls& controls, MiningController&) {
             fs::create_directories(home / "hang");
             ASSERT_EQ(::mkfifo((home / "hang" / "手机壳.zr").c_str(), 0600), 0);
             controls.setChecked(ctl::kHangup, true);
             controls.setText(ctl::kHangupDir, pathToGbk(home / "hang"));
         },
         [](const fs::path&) {},
         [](const fs::path& home) {
             // A reader lets the blocked open go on.
             const int fd = ::open((home / "hang" / "手机壳.zr").c_str(), O_RDONLY | O_NONBLOCK);
             if (fd >= 0) ::close(fd);
         }},
    };
    for (const SlowPlace& place : places) {
        SCOPED_TRACE(place.name);
        TempDir dir;
        auto log = std::make_shared<EventLog>();
        auto controls = test::makeControls(dir.path(), {0});
        controls->setText(ctl::kSeeds, gbk("手机"));
        controls->setText(ctl::kDelay, "0");
        std::promise<void> held;
        auto heldFuture = held.get_future();
        const fs::path home = dir.path();
        MiningController controller(controls, home, [&] {
            SourceSet set;
            set.push_back(std::make_unique<ScriptedSource>(
                0, "百度相关", 0, ScriptedSource::Script{{"手机", {"手机壳"}}}, log,
                [&](const std::string&, SourceHost&) {
                    place.hold(home);
                    held.set_value();
                }));
            return set;
        });
        controller.setWait(test::recordingWait(log));
        place.prepare(home, *controls, controller);
        ASSERT_FALSE(controller.start());
        const auto run = controller.currentRun();
        heldFuture.wait();
        // Time for the worker to reach the slow place right after the source.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));

        controller.stop();
        EXPECT_FALSE(run->workerDone()) << "stop() waited for the worker";
        const Text panel = controls->text(ctl::kPanel);
        place.release(home);
        ASSERT_TRUE(run->waitUntilDone(std::chrono::seconds(20)));
        EXPECT_EQ(run->end(), RunEnd::Stopped);
        ASSERT_TRUE(controller.waitForEmptying(std::chrono::seconds(20)));
        const std::string after = gbk_to_utf8(controls->text(ctl::kPanel));
        const std::string before = gbk_to_utf8(panel);
        // The emptying that Stop starts says so; nothing of the run follows.
        EXPECT_EQ(after.substr(0, before.size()), before);
        EXPECT_EQ(after.find("手机壳", before.size()), std::string::npos);
    }
}

TEST(RunGate, StopWhileTheStoreOpensRefusesThatStart) {
    TempDir dir;
    auto log = std::make_shared<EventLog>();
    auto controls = test::makeControls(dir.path(), {0});
    controls->setText(ctl::kSeeds, gbk("手机"));
    {
        std::string error;
        ASSERT_TRUE(SqliteRunStore::open(dir / "runs.sqlite", &error)) << error;
    }
    SqliteDb locker;
    ASSERT_TRUE(locker.open(dir / "runs.sqlite", false));
    ASSERT_TRUE(locker.exec("BEGIN IMMEDIATE"));
    MiningController controller(controls, dir.path(), [&] {
        SourceSet set;
        set.push_back(std::make_unique<ScriptedSource>(0, "百度相关", 0, ScriptedSource::Script{}, log));
        return set;
    });
    StoreSpec spec;
    spec.kind = StoreSpec::Kind::Sqlite;
    spec.path = dir / "runs.sqlite";
    controller.setStore(spec);

    auto started = std::async(std::launch::async, [&] { return controller.start(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    controller.stop();
    locker.exec("COMMIT");
    const StartResult refusal = started.get();
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->why, StartRefusal::Stopped);
    EXPECT_FALSE(controller.currentRun());
    EXPECT_EQ(gbk_to_utf8(controls->text(ctl::kStartButton)), "开始");
    EXPECT_TRUE(log->events().empty()); // nothing was asked
    EXPECT_TRUE(controller.waitForEmptying(std::chrono::seconds(10)));
}

} // namespace
} // namespace zelkor
