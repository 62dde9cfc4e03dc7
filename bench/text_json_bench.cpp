// JsonValue over a ~100 KB suggestion-service answer, beside nlohmann::json (a strict parser,
// here only as the baseline) measured in the same run: parse alone, and parse then read every
// suggestion the way the sources do (count, then get_text of each item path).
#include "text/json.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <random>
#include <string>

namespace {

using namespace zelkor;

struct Answer {
    Bytes utf8; // for the baseline
    Text gbk;   // what the sources hand over
    int items = 0;
};

const Answer& answer() {
    static const Answer a = [] {
        std::mt19937 rng(360);
        static const char* const words[] = {"手机", "手机壳", "华为", "苹果", "价格",   "官网", "推荐",
                                            "2024", "新款",   "pro",  "max",  "充电器", "图片", "评测"};
        std::uniform_int_distribution<int> pick(0, std::size(words) - 1), length(2, 5);
        Answer out;
        std::string& s = out.utf8;
        s = R"({"query":"手机","version":"2.1","result":[)";
        while (s.size() < 100 * 1024) {
            std::string phrase;
            for (int w = length(rng); w > 0; --w)
                phrase += words[pick(rng)];
            if (out.items) s += ',';
            s += R"({"word":"\u003cb\u003e)" + phrase + R"(\u003c/b\u003e","type":"0","src":"sug","rank":)" +
                 std::to_string(out.items) + R"(,"score":)" + std::to_string(out.items * 0.37) + "}";
            ++out.items;
        }
        s += R"(],"ext":{"ab":true,"tags":[]}})";
        out.gbk = utf8_to_gbk(s);
        return out;
    }();
    return a;
}

void BM_JsonValueParse(benchmark::State& state) {
    const Answer& a = answer();
    for (auto _ : state) {
        benchmark::DoNotOptimize(JsonValue::parse(a.gbk));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * a.gbk.size()));
}
BENCHMARK(BM_JsonValueParse);

void BM_NlohmannParse(benchmark::State& state) {
    const Answer& a = answer();
    for (auto _ : state)
        benchmark::DoNotOptimize(nlohmann::json::parse(a.utf8));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * a.utf8.size()));
}
BENCHMARK(BM_NlohmannParse);

void BM_JsonValueParseAndRead(benchmark::State& state) {
    const Answer& a = answer();
    size_t total = 0;
    for (auto _ : state) {
        const JsonValue doc = JsonValue::parse(a.gbk);
        const int n = doc.count("result");
        for (int i = 0; i < n; ++i)
            total += doc.text("result[" + std::to_string(i) + "].word").size();
    }
    benchmark::DoNotOptimize(total);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * a.gbk.size()));
    state.counters["items"] = a.items;
}
BENCHMARK(BM_JsonValueParseAndRead);

void BM_NlohmannParseAndRead(benchmark::State& state) {
    const Answer& a = answer();
    size_t total = 0;
    for (auto _ : state) {
        nlohmann::json doc = nlohmann::json::parse(a.utf8);
        const auto& result = doc["result"];
        for (size_t i = 0; i < result.size(); ++i)
            total += result[i]["word"].get_ref<const std::string&>().size();
    }
    benchmark::DoNotOptimize(total);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * a.utf8.size()));
    state.counters["items"] = a.items;
}
BENCHMARK(BM_NlohmannParseAndRead);

} // namespace

BENCHMARK_MAIN();
