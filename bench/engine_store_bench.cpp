// The SQLite run store: one commit per keyword as a run makes them, and how that cost holds up as
// the seen set grows.
//   engine_store_bench --benchmark_counters_tabular=true
// BM_KeywordCommit: commits/s (one keyword of 10 accepted phrases each) and db_bytes_per_1e5_results.
// BM_KeywordAtSeenSize/N: us_per_keyword with N phrases already seen; it should stay flat from
// 10^4 to 10^6 (compare the rows as ratios).

#include "engine/store/sqlite_run_store.h"
#include "engine/core/text_rules.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <unistd.h>

namespace zelkor {
namespace {

namespace fs = std::filesystem;

constexpr int kPhrasesPerKeyword = 10;

struct ScratchDb {
    fs::path dir;
    fs::path file;
    explicit ScratchDb(const std::string& name) {
        dir = fs::temp_directory_path() / ("zelkor-store-bench-" + std::to_string(::getpid()) + "-" + name);
        fs::remove_all(dir);
        fs::create_directories(dir);
        file = dir / "runs.sqlite";
    }
    ~ScratchDb() {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    std::uint64_t bytes() const {
        std::uint64_t total = 0;
        for (const auto& entry : fs::directory_iterator(dir)) total += entry.file_size();
        return total;
    }
};

Text phrase(std::int64_t n) {
    return gbk("长尾词") + std::to_string(n) + gbk("怎么样");
}

// One keyword as a run does it: each phrase looked up, marked, queued and recorded, then one commit.
void keyword(SqliteRunStore& store, std::int64_t& next, int& accepted) {
    for (int i = 0; i < kPhrasesPerKeyword; ++i) {
        const Text p = phrase(next++);
        if (store.seen().contains(p)) continue;
        store.seen().insert(p);
        store.queue().push({p, gbk("长尾词"), 2});
        store.results().append({p, gbk("百度相关"), gbk("长尾词"), gbk("长尾词"), 2, "2026-12-10T13:45:00+08:00"});
        ++accepted;
    }
    store.queue().front();
    store.queue().pop();
    if (!store.commitKeyword(1, accepted)) std::abort();
}

void BM_KeywordCommit(benchmark::State& state) {
    ScratchDb db("commit");
    std::string error;
    auto store = SqliteRunStore::open(db.file, &error);
    if (!store || !store->beginRun({{"编辑框_关键词", gbk("长尾词")}})) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::int64_t next = 0;
    int accepted = 0;
    for (auto _ : state) keyword(*store, next, accepted);
    state.SetItemsProcessed(state.iterations());
    state.counters["commits_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                         benchmark::Counter::kIsRate);
    store.reset(); // checkpoints the WAL into the file
    state.counters["db_bytes_per_1e5_results"] =
        static_cast<double>(db.bytes()) * 1e5 / static_cast<double>(std::max<int>(accepted, 1));
}
BENCHMARK(BM_KeywordCommit)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();

void BM_KeywordAtSeenSize(benchmark::State& state) {
    ScratchDb db("seen" + std::to_string(state.range(0)));
    std::string error;
    auto store = SqliteRunStore::open(db.file, &error);
    if (!store || !store->beginRun({{"编辑框_关键词", gbk("长尾词")}})) {
        state.SkipWithError(error.c_str());
        return;
    }
    // Fill the seen set in large commits.
    std::int64_t next = 0;
    const std::int64_t seen = state.range(0);
    while (next < seen) {
        for (int i = 0; i < 10000 && next < seen; ++i) store->seen().insert(phrase(next++));
        store->commitKeyword(0, 0);
    }
    int accepted = 0;
    std::int64_t keywords = 0;
    const auto began = std::chrono::steady_clock::now();
    for (auto _ : state) {
        keyword(*store, next, accepted);
        ++keywords;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    state.counters["us_per_keyword"] = seconds * 1e6 / static_cast<double>(std::max<std::int64_t>(keywords, 1));
}
BENCHMARK(BM_KeywordAtSeenSize)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

} // namespace
} // namespace zelkor

BENCHMARK_MAIN();
