// The window 分析's results table over the real model, filter and view (offscreen): what a large run
// costs it. Compare rows as ratios within one run:
//   app_results_table_bench --benchmark_counters_tabular=true
// BM_LoadSorted/N: ns_per_row to take N results sorted by keyword; 10^5 against 10^4 should stay
//   near the log factor.
// BM_Frame/N/at: ms_per_frame to draw the view `at` per cent down N sorted rows; the same from the top
//   to the bottom and from 10^3 to 10^5 rows is what scrolling smoothly means.
// BM_AppendBatch/N/k/sorted: us_per_batch to add one live batch of k rows to N rows shown in the
//   run's order (0) or sorted by keyword (1); a sorted table places each new row on its own.
// BM_Filter/pattern: ms_per_filter over 10^5 sorted rows, a filter and its clearing in turn, plain
//   text (0) or a pattern (1).
// BM_CutWords/N: ms_per_cut to make the root words, tags and groups of N rows, as the window's own
//   thread does; 10^5 against 10^4 should stay near 10.
// BM_TakeWords/N: ms_per_take for the window thread to take the words of N rows sorted by root: the
//   re-sort is all it pays.

#include "app/results_model.h"
#include "app/row_words.h"
#include "text/text.h"

#include <QApplication>
#include <QHeaderView>
#include <QPixmap>
#include <QTableView>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace zelkor::app {
namespace {

QApplication& application() {
    static int argc = 1;
    static char name[] = "app_results_table_bench";
    static char* argv[] = {name, nullptr};
    static auto* app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        return new QApplication(argc, argv);
    }();
    return *app;
}

// Results in no order a sort could exploit: i scrambled by a multiplicative hash.
std::vector<ResultRecord> records(int count, int from = 0) {
    const Text seed = utf8_to_gbk("手机");
    const Text source = utf8_to_gbk("百度相关");
    const Text tail = utf8_to_gbk("怎么样");
    std::vector<ResultRecord> out;
    out.reserve(static_cast<std::size_t>(count));
    for (int i = from; i < from + count; ++i) {
        const unsigned scrambled = static_cast<unsigned>(i) * 2654435761u;
        const Text keyword = seed + std::to_string(scrambled % 1000003u) + tail;
        out.push_back({keyword, source, seed, seed + std::to_string(i / 7), 1 + i % 5, "2026-12-10T13:45:00+08:00", 0, 0});
    }
    return out;
}

// Phrases of one seed made of words a segmenter knows, in many combinations, so that there are many
// roots and every family of tags.
std::vector<ResultRecord> wordyRecords(int count) {
    static const char* const heads[] = {"壳",   "膜",   "支架", "充电器", "耳机", "电池",   "屏幕",
                                        "相机", "内存", "主板", "外壳",   "贴膜", "数据线", "音响",
                                        "键盘", "游戏", "铃声", "壁纸",   "维修", "回收"};
    static const char* const tails[] = {"",     "多少钱", "怎么样", "哪个好", "推荐", "价格",
                                        "2026", "北京",   "上海",   "怎么换", "排行", "便宜",
                                        "最新", "对比",   "品牌",   "定制",   "批发", "图片"};
    const Text seed = utf8_to_gbk("手机");
    const Text source = utf8_to_gbk("百度相关");
    std::vector<ResultRecord> out;
    out.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const unsigned scrambled = static_cast<unsigned>(i) * 2654435761u;
        const Text keyword = seed + utf8_to_gbk(heads[scrambled % 20]) +
                             utf8_to_gbk(tails[(scrambled / 20) % 18]) + std::to_string(i / 360);
        out.push_back({keyword, source, seed, seed, 1, "2026-12-10T13:45:00+08:00", 0, 0});
    }
    return out;
}

// A program directory without an intent table: the built-in families.
std::filesystem::path plainHome() {
    return std::filesystem::temp_directory_path() / "app_results_table_bench-no-home";
}

struct Table {
    ResultsModel model;
    ResultsFilter filter{&model};
    QTableView view;
    explicit Table(int rows, bool sorted = true) {
        view.setModel(&filter);
        view.resize(940, 600);
        view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        view.verticalHeader()->setDefaultSectionSize(view.fontMetrics().height() + 6);
        view.horizontalHeader()->setSortIndicatorClearable(true);
        view.horizontalHeader()->setSortIndicator(sorted ? ResultsModel::Keyword : -1, Qt::AscendingOrder);
        view.setSortingEnabled(true);
        model.setRecords(records(rows));
    }
};

void BM_LoadSorted(benchmark::State& state) {
    application();
    const int rows = static_cast<int>(state.range(0));
    Table table(0);
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<ResultRecord> batch = records(rows);
        state.ResumeTiming();
        table.model.setRecords(std::move(batch));
        benchmark::DoNotOptimize(table.filter.rowCount());
    }
    state.counters["ns_per_row"] =
        benchmark::Counter(static_cast<double>(rows) * 1e-9, benchmark::Counter::kIsIterationInvariantRate |
                                                                 benchmark::Counter::kInvert);
}
BENCHMARK(BM_LoadSorted)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_Frame(benchmark::State& state) {
    application();
    const int rows = static_cast<int>(state.range(0));
    Table table(rows);
    const int at = static_cast<int>(state.range(1) * (rows - 1) / 100);
    QPixmap frame(table.view.size());
    for (auto _ : state) {
        table.view.scrollTo(table.filter.index(at, 0), QAbstractItemView::PositionAtCenter);
        table.view.render(&frame);
    }
    state.counters["ms_per_frame"] =
        benchmark::Counter(1e-3, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Frame)->ArgsProduct({{1000, 100000}, {0, 50, 100}})->Unit(benchmark::kMillisecond);

void BM_AppendBatch(benchmark::State& state) {
    application();
    const int rows = static_cast<int>(state.range(0));
    const int batch = static_cast<int>(state.range(1));
    // One table that grows batch by batch, as a live run's does.
    Table table(rows, state.range(2) != 0);
    int next = rows;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<ResultRecord> fresh = records(batch, next);
        next += batch;
        state.ResumeTiming();
        table.model.append(std::move(fresh));
        benchmark::DoNotOptimize(table.filter.rowCount());
    }
    state.counters["us_per_batch"] =
        benchmark::Counter(1e-6, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AppendBatch)->ArgsProduct({{1000, 100000}, {10, 100}, {0, 1}})->Iterations(50)->Unit(benchmark::kMillisecond);

void BM_Filter(benchmark::State& state) {
    application();
    Table table(100000);
    const bool pattern = state.range(0) != 0;
    const QString texts[2] = {pattern ? QStringLiteral("^手机12.*样$") : QStringLiteral("手机12"), QString()};
    int flip = 0;
    for (auto _ : state) {
        (void)table.filter.setFilter(texts[flip], pattern ? ResultsFilter::Mode::Pattern : ResultsFilter::Mode::Plain,
                                     ResultsModel::Keyword);
        flip = 1 - flip;
        benchmark::DoNotOptimize(table.filter.rowCount());
    }
    state.counters["ms_per_filter"] =
        benchmark::Counter(1e-3, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Filter)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_CutWords(benchmark::State& state) {
    const std::vector<ResultRecord> rows = wordyRecords(static_cast<int>(state.range(0)));
    const std::filesystem::path home = plainHome();
    (void)RowWords::analyse(wordyRecords(10), home); // the dictionary loads once per process
    std::size_t groups = 0;
    for (auto _ : state) {
        Expected<RowWords> words = RowWords::analyse(rows, home);
        if (!words) {
            state.SkipWithError(words.error().message.c_str());
            return;
        }
        groups = words->groups(GroupBy::Root).size();
    }
    state.counters["root_groups"] = static_cast<double>(groups);
    state.counters["ms_per_cut"] =
        benchmark::Counter(1e-3, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_CutWords)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_TakeWords(benchmark::State& state) {
    application();
    const int rows = static_cast<int>(state.range(0));
    Table table(0);
    table.model.setRecords(wordyRecords(rows));
    table.view.horizontalHeader()->setSortIndicator(ResultsModel::Root, Qt::AscendingOrder);
    Expected<RowWords> made = RowWords::analyse(table.model.records(), plainHome());
    if (!made) {
        state.SkipWithError(made.error().message.c_str());
        return;
    }
    const auto words = std::make_shared<const RowWords>(std::move(*made));
    for (auto _ : state) {
        table.model.setWords(words);
        benchmark::DoNotOptimize(table.filter.rowCount());
    }
    state.counters["ms_per_take"] =
        benchmark::Counter(1e-3, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_TakeWords)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace zelkor::app

BENCHMARK_MAIN();
