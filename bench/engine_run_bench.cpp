// The result sink and the seen store as a run grows, and the bytes auto-save writes.
//   engine_run_bench --benchmark_counters_tabular=true
// us_per_candidate and heap_per_keyword should stay flat from 10^4 to 10^6 offered candidates;
// write_ratio (bytes written / final file size) should stay near 1 whatever the run's length.

#include "engine/core/control_names.h"
#include "engine/run/mining_run.h"
#include "engine/core/text_rules.h"
#include "engine/core/value_controls.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <malloc.h>
#include <thread>
#include <unistd.h>

namespace zelkor {
namespace {

namespace fs = std::filesystem;

struct ScratchHome {
    fs::path path;
    ScratchHome() {
        path = fs::temp_directory_path() / ("zelkor-bench-" + std::to_string(::getpid()));
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~ScratchHome() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

// CPU time of the calling thread: the sink's own work, without the file system's waits.
double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

WaitFunction noWait() {
    return [](std::chrono::milliseconds, std::stop_token stop) { return !stop.stop_requested(); };
}

std::shared_ptr<ValueControls> benchControls(const fs::path& home) {
    auto controls = std::make_shared<ValueControls>();
    applyWindowDefaults(*controls, home);
    controls->setItemChecked(ctl::kSourceList, 0, true);
    controls->setText(ctl::kDelay, "0");
    controls->setText(ctl::kLimit, "0");
    return controls;
}

// Offers `count` distinct phrases without the main word for the seed, timing the offers; the
// queue they fill is then dropped by stopping the run.
class FloodSource : public SourceAdapter {
  public:
    explicit FloodSource(int count) : m_count(count) {}
    int listIndex() const override { return 0; }
    void run(const Text& keyword, SourceHost& host) override {
        if (keyword != "seed" || m_done) return;
        const Text name = gbk("百度相关");
        m_heapBefore = mallinfo2().uordblks;
        const double cpuStart = threadCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < m_count; ++i)
            host.offerCandidate(gbk("长尾词") + std::to_string(i), name, 0);
        m_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        m_cpuSeconds = threadCpuSeconds() - cpuStart;
        m_heapAfter = mallinfo2().uordblks;
        m_done = true;
    }
    int m_count;
    std::atomic<bool> m_done{false};
    double m_seconds = 0;
    double m_cpuSeconds = 0;
    std::size_t m_heapBefore = 0, m_heapAfter = 0;
};

void BM_SinkAndStoreGrowth(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        ScratchHome home;
        auto controls = benchControls(home.path);
        controls->setText(ctl::kSeeds, "seed");
        auto flood = std::make_unique<FloodSource>(count);
        FloodSource& source = *flood;
        SourceSet set;
        set.push_back(std::move(flood));
        RunOptions options;
        options.home = home.path;
        options.wait = noWait();
        // Stop once the seed pass has filled the queue; the queue pass is not measured.
        MiningRun run(controls, std::move(set), options);
        run.start();
        while (!source.m_done)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        run.stop();
        run.waitUntilDone(std::chrono::minutes(10));
        state.SetIterationTime(source.m_seconds);
        state.counters["accepted"] = run.acceptedCount();
        state.counters["us_per_candidate"] = source.m_seconds * 1e6 / count;
        state.counters["cpu_us_per_candidate"] = source.m_cpuSeconds * 1e6 / count;
        state.counters["heap_per_keyword"] =
            static_cast<double>(source.m_heapAfter - source.m_heapBefore) / std::max(1, run.acceptedCount());
    }
}
BENCHMARK(BM_SinkAndStoreGrowth)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// A chain of `steps` keywords, each query showing one new phrase: `steps` results and `steps`
// queue steps, each followed by an auto-save.
class ChainSource : public SourceAdapter {
  public:
    explicit ChainSource(int steps) : m_steps(steps) {}
    int listIndex() const override { return 0; }
    void run(const Text& keyword, SourceHost& host) override {
        const int next = keyword == "k" ? 0 : std::stoi(keyword.substr(2)) + 1;
        if (next < m_steps) host.offerCandidate("k-" + std::to_string(next), "src", 0);
    }
    int m_steps;
};

void BM_AutoSaveBytes(benchmark::State& state) {
    const int steps = static_cast<int>(state.range(0));
    for (auto _ : state) {
        ScratchHome home;
        auto controls = benchControls(home.path);
        controls->setText(ctl::kSeeds, "k");
        controls->setChecked(ctl::kNoOutput, true);
        SourceSet set;
        set.push_back(std::make_unique<ChainSource>(steps));
        RunOptions options;
        options.home = home.path;
        options.wait = noWait();
        MiningRun run(controls, std::move(set), options);
        const auto start = std::chrono::steady_clock::now();
        run.start();
        run.waitUntilDone(std::chrono::minutes(30));
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        const auto file = home.path / "Zelkor长尾词_k.txt";
        const double size = static_cast<double>(fs::file_size(file));
        state.counters["results"] = static_cast<double>(run.results().size());
        state.counters["file_bytes"] = size;
        state.counters["written_bytes"] = static_cast<double>(run.bytesSaved());
        state.counters["write_ratio"] = static_cast<double>(run.bytesSaved()) / size;
    }
}
BENCHMARK(BM_AutoSaveBytes)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace zelkor

BENCHMARK_MAIN();
