// Text primitives and conversions over a page-sized GBK text, each beside a bare libc baseline
// measured in the same run: text_find vs memmem, utf8_to_gbk vs one iconv call.
#include "text/text.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <iconv.h>
#include <random>
#include <string>

namespace {

using namespace zelkor;

// About 1 MB that looks like a result page: mostly Chinese in ASCII markup. The sought block sits
// near the end, after 95% of the page.
struct Page {
    Text gbk;
    Bytes utf8;
    Text sought;
};

const Page& page() {
    static const Page p = [] {
        std::mt19937 rng(936);
        std::uniform_int_distribution<int> lead(0xB0, 0xD7), trail(0xA1, 0xFE), words(4, 30);
        auto chinese = [&](int n) {
            std::string s;
            for (int i = 0; i < n; ++i) {
                s.push_back(static_cast<char>(lead(rng)));
                s.push_back(static_cast<char>(trail(rng)));
            }
            return s;
        };
        Page out;
        const size_t size = 1 << 20;
        const Text sought = "<div id=\"rs\"><table><tr><th><a href=\"/s?wd=" + chinese(4) + "\">";
        bool placed = false;
        while (out.gbk.size() < size) {
            if (!placed && out.gbk.size() > size / 100 * 95) {
                out.gbk += sought;
                placed = true;
            }
            out.gbk += "<div class=\"result c-container\"><h3 class=\"t\"><a href=\"/link?url=x\">";
            out.gbk += chinese(words(rng)) + "</a></h3><div class=\"c-abstract\">" + chinese(words(rng) * 3);
            out.gbk += "</div></div>\r\n";
        }
        out.sought = sought;
        out.utf8 = gbk_to_utf8(out.gbk);
        return out;
    }();
    return p;
}

void BM_TextFind(benchmark::State& state) {
    const Page& p = page();
    for (auto _ : state)
        benchmark::DoNotOptimize(text_find(p.gbk, p.sought));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(p.gbk.size()));
}
BENCHMARK(BM_TextFind);

void BM_TextFindIgnoreCase(benchmark::State& state) {
    const Page& p = page();
    for (auto _ : state)
        benchmark::DoNotOptimize(text_find(p.gbk, p.sought, 1, true));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(p.gbk.size()));
}
BENCHMARK(BM_TextFindIgnoreCase);

void BM_Memmem(benchmark::State& state) {
    const Page& p = page();
    for (auto _ : state) {
        benchmark::DoNotOptimize(memmem(p.gbk.data(), p.gbk.size(), p.sought.data(), p.sought.size()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(p.gbk.size()));
}
BENCHMARK(BM_Memmem);

void BM_Utf8ToGbk(benchmark::State& state) {
    const Page& p = page();
    for (auto _ : state)
        benchmark::DoNotOptimize(utf8_to_gbk(p.utf8));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(p.utf8.size()));
}
BENCHMARK(BM_Utf8ToGbk);

// The baseline: one iconv call into a buffer allocated once, with no validation and no fallback.
void BM_IconvUtf8ToGbk(benchmark::State& state) {
    const Page& p = page();
    iconv_t cd = iconv_open("GBK", "UTF-8");
    std::string out(p.utf8.size(), '\0');
    for (auto _ : state) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(p.utf8.data());
        size_t inLeft = p.utf8.size();
        char* dst = out.data();
        size_t room = out.size();
        benchmark::DoNotOptimize(iconv(cd, &in, &inLeft, &dst, &room));
        benchmark::ClobberMemory();
    }
    iconv_close(cd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(p.utf8.size()));
}
BENCHMARK(BM_IconvUtf8ToGbk);

void BM_GbkToUtf8(benchmark::State& state) {
    const Page& p = page();
    for (auto _ : state)
        benchmark::DoNotOptimize(gbk_to_utf8(p.gbk));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(p.gbk.size()));
}
BENCHMARK(BM_GbkToUtf8);

void BM_TextSplitLines(benchmark::State& state) {
    const Page& p = page();
    for (auto _ : state)
        benchmark::DoNotOptimize(text_split(p.gbk, "\r\n"));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(p.gbk.size()));
}
BENCHMARK(BM_TextSplitLines);

} // namespace

BENCHMARK_MAIN();
