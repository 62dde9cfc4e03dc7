// Throughput mode on a shared Redis run against the memory store, in process, against loopback
// fixture services that hold every answer back 20 +- 5 ms, --rate 1000:
//   (a) --keywords-a keywords (1000), three sources
//   (b) --keywords-b keywords (400), all 25 sources
// prints one Redis worker's time as a ratio to the memory store's (target <= 1.05), then case (a)
// worked by N workers of one run (--workers 1,2,4), each with a fixture service of its own, as
// workers on several machines would be: the speed-up over one worker and its ratio to N.
//   engine_redis_bench [--keywords-a N] [--keywords-b N] [--workers N,N...]
// A real redis-server is started on a free loopback port and ended with the bench.

#include "engine/core/control_names.h"
#include "engine/core/value_controls.h"
#include "engine/run/mining_run.h"
#include "engine/store/run_history.h"
#include "fixture_service.h"
#include "sources/sources.h"
#include "support/redis_server.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Scratch {
    fs::path path;
    Scratch() {
        path = fs::temp_directory_path() / ("zelkor-bench-redis-" + std::to_string(::getpid()));
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

struct Worker {
    std::unique_ptr<test::FixtureService> service;
    std::shared_ptr<ValueControls> controls;
    std::unique_ptr<MiningController> controller;
};

Worker makeWorker(const fs::path& home, int keywords, int sources, const StoreSpec& store) {
    Worker w;
    w.service = std::make_unique<test::FixtureService>(0, 32);
    w.service->useBenchGraph(keywords, sources);
    w.service->setLatency(std::chrono::milliseconds(20), std::chrono::milliseconds(5));
    fs::create_directories(home / "save");
    w.service->writeEndpoints(home / "endpoints.ini");
    std::string error;
    const auto endpoints = Endpoints::loadFile(home / "endpoints.ini", &error);
    if (!endpoints) {
        std::fprintf(stderr, "engine_redis_bench: %s\n", error.c_str());
        std::exit(1);
    }
    w.controls = std::make_shared<ValueControls>();
    applyWindowDefaults(*w.controls, home);
    w.controls->setText(ctl::kSeeds, "bench-0");
    w.controls->setText(ctl::kDelay, "0");
    w.controls->setText(ctl::kLimit, "0");
    w.controls->setText(ctl::kSaveDir, (home / "save").string() + "/");
    w.controls->setChecked(ctl::kMainWordOnly, false);
    w.controls->setChecked(ctl::kAutoSave, false);
    w.controls->setChecked(ctl::kParallel, true);
    w.controls->setText(ctl::kParallelRate, "1000");
    for (int i = 0; i < kSourceCount; ++i)
        w.controls->setItemChecked(ctl::kSourceList, i, i < sources);
    w.controller = std::make_unique<MiningController>(w.controls, home, [e = *endpoints] { return make_sources(e); });
    w.controller->setStore(store);
    return w;
}

struct Figures {
    double seconds = 0;
    std::uint64_t keywords = 0;
};

// N workers of one run (or one worker on its own store) from Start to the last one's end.
Figures runWorkers(const fs::path& dir, int count, int keywords, int sources, const StoreSpec& store) {
    std::vector<Worker> workers;
    for (int i = 0; i < count; ++i)
        workers.push_back(makeWorker(dir / ("w" + std::to_string(i)), keywords, sources, store));
    const auto began = Clock::now();
    for (Worker& w : workers) {
        if (const auto refused = w.controller->start()) {
            std::fprintf(stderr, "engine_redis_bench: a worker did not start: %s\n", refused->reason.c_str());
            std::exit(1);
        }
    }
    Figures figures;
    for (Worker& w : workers) {
        const auto run = w.controller->currentRun();
        while (!run->waitUntilDone(std::chrono::seconds(1))) {
        }
        if (run->end() != RunEnd::QueueDry) {
            std::fprintf(stderr, "engine_redis_bench: a run did not end by itself\n");
            std::exit(1);
        }
        figures.keywords += run->report().keywords;
    }
    figures.seconds = std::chrono::duration<double>(Clock::now() - began).count();
    return figures;
}

std::vector<int> numbers(const std::string& list) {
    std::vector<int> out;
    for (std::size_t from = 0; from < list.size();) {
        const auto comma = std::min(list.find(',', from), list.size());
        out.push_back(std::atoi(list.substr(from, comma - from).c_str()));
        from = comma + 1;
    }
    return out;
}

} // namespace
} // namespace zelkor

int main(int argc, char** argv) {
    using namespace zelkor;
    int keywordsA = 1000, keywordsB = 400;
    std::vector<int> workerCounts = {1, 2, 4};
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--keywords-a")
            keywordsA = std::atoi(argv[i + 1]);
        else if (arg == "--keywords-b")
            keywordsB = std::atoi(argv[i + 1]);
        else if (arg == "--workers")
            workerCounts = numbers(argv[i + 1]);
        else {
            std::fprintf(stderr, "usage: engine_redis_bench [--keywords-a N] [--keywords-b N] [--workers N,N...]\n");
            return 2;
        }
    }
    test::RedisServer redis;
    if (!redis.ok()) {
        std::fprintf(stderr, "engine_redis_bench: %s\n", redis.error().c_str());
        return 1;
    }
    Scratch scratch;
    int runs = 0;
    const auto redisStore = [&] {
        StoreSpec spec;
        spec.kind = StoreSpec::Kind::Redis;
        spec.url = redis.url(1);
        spec.run = "bench" + std::to_string(++runs);
        return spec;
    };
    struct Case {
        const char* name;
        int keywords;
        int sources;
    };
    std::vector<Figures> oneWorker;
    for (const Case& c : {Case{"(a)", keywordsA, 3}, Case{"(b)", keywordsB, kSourceCount}}) {
        if (c.keywords <= 0) continue;
        const fs::path dir = scratch.path / ("case" + std::to_string(runs));
        const Figures memory = runWorkers(dir / "memory", 1, c.keywords, c.sources, StoreSpec{});
        const Figures shared = runWorkers(dir / "redis", 1, c.keywords, c.sources, redisStore());
        std::printf("%s %d keywords, %d sources, 20 +- 5 ms, --parallel --rate 1000\n", c.name, c.keywords, c.sources);
        std::printf("  memory store        %llu keywords in %.2f s\n", static_cast<unsigned long long>(memory.keywords),
                    memory.seconds);
        std::printf("  one Redis worker    %llu keywords in %.2f s\n", static_cast<unsigned long long>(shared.keywords),
                    shared.seconds);
        std::printf("  Redis / memory      %.3f (target <= 1.05)\n", shared.seconds / memory.seconds);
        std::fflush(stdout);
    }
    if (keywordsA <= 0 || workerCounts.empty()) return 0;
    std::printf("N Redis workers of one run, (a), each with a fixture service of its own\n");
    double single = 0;
    for (const int n : workerCounts) {
        if (n < 1) continue;
        const Figures f = runWorkers(scratch.path / ("scale" + std::to_string(n)), n, keywordsA, 3, redisStore());
        if (single == 0 && n == 1) single = f.seconds;
        std::printf("  N = %d: %llu keywords in %.2f s", n, static_cast<unsigned long long>(f.keywords), f.seconds);
        if (single > 0)
            std::printf(", speed-up %.2f x, speed-up / N %.2f", single / f.seconds, single / f.seconds / n);
        std::printf("\n");
        std::fflush(stdout);
    }
    return 0;
}
