// The HTML report of a large run: made and written in one go, as `report` and --report-html do.
//   analysis_report_bench --benchmark_counters_tabular=true
// BM_Report/N: seconds per report (the aim: under 2 s at 10^5 results), the file's MiB (under 15),
// and how many phrases and "+N" marks its demand maps label (bounded whatever N is).

#include "analysis/html_report.h"
#include "engine/core/text_rules.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <unistd.h>

namespace zelkor {
namespace {

namespace fs = std::filesystem;

const char* const kWords[] = {"怎么", "多少钱", "推荐", "哪个好", "价格", "官网", "下载", "教程", "图片", "排行榜",
                              "二手", "维修", "型号", "评测", "品牌", "女士", "儿童", "便宜", "正品", "批发"};
const char* const kSeeds[] = {"手机", "抖音", "快手", "洗衣机", "空调"};

// A run as the breadth-first walk makes it: five seeds, each phrase a parent's phrase and a word,
// 25 services, one result every 30 ms.
std::vector<ResultRecord> run(int results) {
    std::mt19937 random(7);
    std::vector<ResultRecord> out;
    out.reserve(static_cast<std::size_t>(results));
    std::vector<std::string> utf8;
    const auto start = std::chrono::sys_seconds(std::chrono::seconds(1796881500));
    for (int i = 0; i < results; ++i) {
        const int seed = i % 5;
        const bool top = i < 200 || random() % 8 == 0;
        const int parent = top ? -1 : static_cast<int>(random() % static_cast<unsigned>(i));
        const std::string base = parent < 0 ? kSeeds[seed] : utf8[static_cast<std::size_t>(parent)];
        std::string phrase = base.size() > 30 ? std::string(kSeeds[seed]) : base;
        phrase += kWords[random() % std::size(kWords)];
        phrase += std::to_string(i);
        utf8.push_back(phrase);
        const auto when = start + std::chrono::milliseconds(30LL * i);
        char stamp[40];
        const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::time_point_cast<std::chrono::seconds>(when));
        std::tm tm{};
        gmtime_r(&t, &tm);
        std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S+00:00", &tm);
        out.push_back({gbk(phrase), gbk("来源" + std::to_string(i % 25)),
                       parent < 0 ? gbk(kSeeds[seed]) : out[static_cast<std::size_t>(parent)].mainWord,
                       parent < 0 ? gbk(kSeeds[seed]) : out[static_cast<std::size_t>(parent)].keyword,
                       parent < 0 ? 1 : out[static_cast<std::size_t>(parent)].depth + 1, stamp});
    }
    return out;
}

void BM_Report(benchmark::State& state) {
    const std::vector<ResultRecord> results = run(static_cast<int>(state.range(0)));
    ReportFacts facts;
    for (const char* seed : kSeeds) facts.seeds.push_back(seed);
    facts.state = "finished";
    const fs::path file = fs::temp_directory_path() / ("zelkor-report-bench-" + std::to_string(::getpid()) + ".html");
    HtmlReport report;
    double seconds = 0;
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        report = makeHtmlReport(facts, results);
        if (!writeReportFile(file, report.html)) state.SkipWithError("cannot write the report");
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    }
    state.counters["s_per_report"] = seconds / static_cast<double>(state.iterations());
    state.counters["MiB"] = static_cast<double>(fs::file_size(file)) / (1024.0 * 1024.0);
    state.counters["maps"] = report.maps;
    state.counters["labelled_nodes"] = report.labelledNodes;
    fs::remove(file);
}
BENCHMARK(BM_Report)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
} // namespace zelkor

BENCHMARK_MAIN();
