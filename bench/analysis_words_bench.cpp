// Segmentation, root words and intent tags of 10^5 short keyword phrases, side by side with
// Debian's python3-jieba cutting the same phrases: time (start and work) and peak memory of each,
// as separate processes, and their ratios.
//   analysis_words_bench [PHRASES]        (default 100000)
#include "analysis/root_words.h"

#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using namespace zelkor;

struct Figures {
    double startSeconds = 0, workSeconds = 0, peakMiB = 0;
};

double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

double peakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Phrases shaped like the suggestions of a run: brand or place, seed, product word, modifier.
std::vector<std::string> makePhrases(std::size_t count) {
    const std::vector<std::string> fronts = {"", "苹果", "华为", "小米", "北京", "上海", "2024年", "最新", "儿童", "女士"};
    const std::vector<std::string> seeds = {"手机壳", "手机", "耳机", "充电器", "平板", "笔记本电脑", "键盘", "鼠标"};
    const std::vector<std::string> middles = {"", "透明", "防摔", "硅胶", "无线", "蓝牙", "快充", "磨砂", "轻薄", "游戏"};
    const std::vector<std::string> ends = {"", "怎么选", "多少钱", "哪个好", "推荐", "价格", "图片", "评测",
                                           "和华为哪个好", "好不好", "排行榜", "批发", "官网", "维修", "怎么样"};
    std::vector<std::string> out;
    out.reserve(count);
    for (std::size_t i = 0; out.size() < count; ++i) {
        std::size_t k = i * 2654435761u;
        std::string p = fronts[k % fronts.size()] + seeds[(k / 7) % seeds.size()] +
                        middles[(k / 61) % middles.size()] + ends[(k / 613) % ends.size()];
        if (i >= 12000) p += std::to_string(i % 97); // past the plain combinations, vary like model numbers
        out.push_back(p);
    }
    return out;
}

int runOurs(const fs::path& file) {
    // One buffer with views into it, as a run's packed results would be held.
    std::ifstream in(file, std::ios::binary);
    std::string text(fs::file_size(file), '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    std::vector<PhraseOfSeed> phrases;
    phrases.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')));
    for (std::size_t from = 0, end; (end = text.find('\n', from)) != std::string::npos; from = end + 1)
        phrases.push_back({std::string_view(text).substr(from, end - from), "手机"});
    auto t0 = Clock::now();
    IntentTags tags = IntentTags::builtIn();
    Expected<Segmenter> segmenter = Segmenter::open(tags.allWords());
    if (!segmenter) {
        std::fprintf(stderr, "%s\n", segmenter.error().message.c_str());
        return 1;
    }
    double start = since(t0);
    auto t1 = Clock::now();
    KeywordWords words = analyseKeywords(*segmenter, tags, phrases);
    std::printf("%f %f %f %zu\n", start, since(t1), peakMiB(), words.rootCounts().size());
    return 0;
}

constexpr const char* kJieba = R"(
import sys, time, resource
t0 = time.monotonic()
import jieba
jieba.setLogLevel(60)
jieba.initialize()
start = time.monotonic() - t0
lines = open(sys.argv[1], encoding='utf-8').read().splitlines()
t1 = time.monotonic()
n = 0
for line in lines:
    n += len(jieba.lcut(line))
work = time.monotonic() - t1
print(start, work, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0, n)
)";

bool measure(const std::string& command, Figures& f) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return false;
    double start = 0, work = 0, peak = 0, extra = 0;
    int got = std::fscanf(pipe, "%lf %lf %lf %lf", &start, &work, &peak, &extra);
    int status = pclose(pipe);
    if (got != 4 || status != 0) return false;
    f = {start, work, peak};
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--ours") return runOurs(argv[2]);
    std::size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
    fs::path file = fs::temp_directory_path() / ("analysis_words_bench_" + std::to_string(getpid()) + ".txt");
    {
        std::ofstream out(file);
        for (const std::string& p : makePhrases(count)) out << p << '\n';
    }
    fs::path script = file;
    script.replace_extension(".py");
    std::ofstream(script) << kJieba;

    Figures ours, jieba;
    std::string self = fs::canonical("/proc/self/exe").string();
    bool okOurs = measure("'" + self + "' --ours '" + file.string() + "'", ours);
    measure("/usr/bin/python3 '" + script.string() + "' '" + file.string() + "'", jieba); // builds jieba's cache once
    bool okJieba = measure("/usr/bin/python3 '" + script.string() + "' '" + file.string() + "'", jieba);
    fs::remove(file);
    fs::remove(script);
    if (!okOurs) {
        std::fprintf(stderr, "our segmentation failed\n");
        return 1;
    }
    std::printf("%zu phrases\n", count);
    std::printf("ours  (friso, roots and tags): start %.2f s, work %.2f s, peak %.0f MiB\n", ours.startSeconds,
                ours.workSeconds, ours.peakMiB);
    if (!okJieba) {
        std::printf("jieba: not available (install python3-jieba)\n");
        return 0;
    }
    std::printf("jieba (cutting only):          start %.2f s, work %.2f s, peak %.0f MiB\n", jieba.startSeconds,
                jieba.workSeconds, jieba.peakMiB);
    std::printf("ours / jieba: time %.2f (start and work), work %.2f, memory %.2f\n",
                (ours.startSeconds + ours.workSeconds) / (jieba.startSeconds + jieba.workSeconds),
                ours.workSeconds / jieba.workSeconds, ours.peakMiB / jieba.peakMiB);
    return 0;
}
