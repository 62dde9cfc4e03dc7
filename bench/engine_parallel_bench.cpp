// Whole runs against the loopback fixture service, in process.
//   engine_parallel_bench [--keywords 300 (0: no throughput part)] [--rate 2] [--sequential-seconds 20] [--memory-sizes 10000,100000]
// Throughput: all 25 sources, every answer held back 40 ± 20 ms, a graph of --keywords keywords.
// The throughput mode's keywords per second as a ratio to R (target >= 0.9), and the speed-up over
// the sequential run (measured over its first --sequential-seconds, display pauses and all).
// Memory: peak RSS of a whole run over a graph of each size, three sources, no latency, pauses off
// through the wait hook, in a child process each that reports its own peak (the service stays in
// this one); sequential and throughput mode. Target: the larger within 20 % of the smaller.

#include "engine/core/control_names.h"
#include "engine/run/mining_run.h"
#include "engine/run/parallel_run.h"
#include "engine/core/value_controls.h"
#include "fixture_service.h"
#include "sources/sources.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <map>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Scratch {
    fs::path path;
    explicit Scratch(const std::string& name) {
        path = fs::temp_directory_path() / ("zelkor-bench-" + name + "-" + std::to_string(::getpid()));
        fs::remove_all(path);
        fs::create_directories(path / "save");
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

struct RunFigures {
    Clock::time_point began, ended;
    double seconds = 0;
    std::uint64_t keywords = 0;
    std::uint64_t requests = 0;
};

struct RunSetup {
    fs::path home;
    fs::path endpoints;
    int sources = kSourceCount; // sources 0 .. sources-1 ticked
    bool parallel = false;
    std::string rate = "2";
    bool pauses = true;                 // false: every wait of the run returns at once
    double stopAfterSeconds = 0;         // 0: to the end
};

RunFigures wholeRun(const RunSetup& setup) {
    std::string error;
    const auto endpoints = Endpoints::loadFile(setup.endpoints, &error);
    if (!endpoints) {
        std::fprintf(stderr, "engine_parallel_bench: %s\n", error.c_str());
        std::exit(1);
    }
    auto controls = std::make_shared<ValueControls>();
    applyWindowDefaults(*controls, setup.home);
    controls->setText(ctl::kSeeds, "bench-0");
    controls->setText(ctl::kDelay, "0");
    controls->setText(ctl::kLimit, "0");
    controls->setText(ctl::kSaveDir, (setup.home / "save").string() + "/");
    controls->setChecked(ctl::kMainWordOnly, false); // every phrase shown, as zelkor-cli --no-main-word
    controls->setChecked(ctl::kParallel, setup.parallel);
    controls->setText(ctl::kParallelRate, setup.rate);
    for (int i = 0; i < kSourceCount; ++i)
        controls->setItemChecked(ctl::kSourceList, i, i < setup.sources);
    MiningController controller(controls, setup.home, [e = *endpoints] { return make_sources(e); });
    if (!setup.pauses)
        controller.setWait([](std::chrono::milliseconds, std::stop_token stop) { return !stop.stop_requested(); });
    const auto began = Clock::now();
    controller.start();
    const auto run = controller.currentRun();
    if (setup.stopAfterSeconds > 0) {
        run->waitUntilDone(std::chrono::milliseconds(static_cast<long long>(setup.stopAfterSeconds * 1000)));
        controller.stop();
    }
    while (!run->waitUntilDone(std::chrono::seconds(1))) {
    }
    RunFigures figures;
    figures.began = began;
    figures.ended = Clock::now();
    figures.seconds = std::chrono::duration<double>(figures.ended - began).count();
    const HealthReport report = run->report();
    figures.keywords = report.keywords;
    figures.requests = report.requests;
    return figures;
}

// This process's own peak RSS in KiB: VmHWM belongs to the address space, which exec made new,
// whereas getrusage's maximum also counts the parent's pages the child was born with.
long ownPeakKib() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// Peak RSS (MiB) of a whole run in a child process, as the child reports it.
double childPeakMiB(const char* self, const fs::path& endpoints, int keywords, bool parallel) {
    const std::string command = std::string("'") + self + "' --child '" + endpoints.string() + "' " +
                                (parallel ? "parallel " : "sequential ") + std::to_string(keywords);
    FILE* out = ::popen(command.c_str(), "r");
    long kib = -1;
    if (out) {
        if (std::fscanf(out, "peak-kib %ld", &kib) != 1) kib = -1;
        if (::pclose(out) != 0) kib = -1;
    }
    if (kib < 0) {
        std::fprintf(stderr, "engine_parallel_bench: the run of %d keywords failed\n", keywords);
        std::exit(1);
    }
    return static_cast<double>(kib) / 1024.0;
}

int child(const fs::path& endpoints, bool parallel, int keywords) {
    Scratch home("child");
    RunSetup setup;
    setup.home = home.path;
    setup.endpoints = endpoints;
    setup.sources = 3;
    setup.parallel = parallel;
    setup.rate = "1000";
    setup.pauses = false;
    const RunFigures figures = wholeRun(setup);
    std::fprintf(stderr, "    %s, %d keywords: %llu asked in %.1f s\n", parallel ? "throughput mode" : "sequential",
                 keywords, static_cast<unsigned long long>(figures.keywords), figures.seconds);
    std::printf("peak-kib %ld\n", ownPeakKib());
    return figures.keywords + 1 >= static_cast<std::uint64_t>(keywords) ? 0 : 1;
}

} // namespace
} // namespace zelkor

int main(int argc, char** argv) {
    using namespace zelkor;
    if (argc == 5 && std::string(argv[1]) == "--child")
        return child(argv[2], std::string(argv[3]) == "parallel", std::atoi(argv[4]));
    int keywords = 300;
    std::string rate = "2";
    double sequentialSeconds = 20;
    std::vector<int> sizes = {10000, 100000};
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--keywords")
            keywords = std::atoi(argv[i + 1]);
        else if (arg == "--rate")
            rate = argv[i + 1];
        else if (arg == "--sequential-seconds")
            sequentialSeconds = std::atof(argv[i + 1]);
        else if (arg == "--memory-sizes") {
            sizes.clear();
            for (std::string list = argv[i + 1]; !list.empty();) {
                const auto comma = list.find(',');
                sizes.push_back(std::atoi(list.substr(0, comma).c_str()));
                list = comma == std::string::npos ? "" : list.substr(comma + 1);
            }
        } else {
            std::fprintf(stderr, "usage: engine_parallel_bench [--keywords N] [--rate R] [--sequential-seconds S] "
                                 "[--memory-sizes N,N...]\n");
            return 2;
        }
    }
    const auto r = parseParallelRate(rate);
    if (!r || (keywords != 0 && keywords < 2)) {
        std::fprintf(stderr, "engine_parallel_bench: bad --rate or --keywords\n");
        return 2;
    }

    Scratch scratch("parallel");
    if (keywords > 0) {
        test::FixtureService service(0, 64);
        service.useBenchGraph(keywords);
        service.setLatency(std::chrono::milliseconds(40), std::chrono::milliseconds(20));
        service.writeEndpoints(scratch.path / "endpoints.ini");
        std::printf("throughput: %d keywords, 25 sources, 40 +- 20 ms per answer\n", keywords);

        RunSetup setup;
        setup.endpoints = scratch.path / "endpoints.ini";
        setup.home = scratch.path / "par";
        fs::create_directories(setup.home / "save");
        setup.parallel = true;
        setup.rate = rate;
        const RunFigures par = wholeRun(setup);
        const double parRate = static_cast<double>(par.keywords) / par.seconds;
        // Where the time went, from the service's own clock: the mean gap between two requests to
        // one service, and how much of it the service spent answering.
        std::map<int, std::vector<test::ReceivedRequest>> bySource;
        for (auto& request : service.requests())
            bySource[request.source].push_back(request);
        double gaps = 0, answering = 0;
        std::size_t count = 0;
        // The smallest gap between two starts each service saw, and the service that saw it.
        double smallest = std::numeric_limits<double>::max();
        int smallestAt = -1;
        std::size_t under = 0; // gaps under 1/R
        Clock::time_point first = Clock::time_point::max(), last{};
        for (auto& [source, requests] : bySource) {
            std::sort(requests.begin(), requests.end(), [](auto& a, auto& b) { return a.arrived < b.arrived; });
            first = std::min(first, requests.front().arrived);
            last = std::max(last, requests.back().answered);
            for (std::size_t i = 1; i < requests.size(); ++i, ++count) {
                const double gap = std::chrono::duration<double>(requests[i].arrived - requests[i - 1].arrived).count();
                gaps += gap;
                if (gap < smallest) smallest = gap, smallestAt = source;
                if (gap < 1 / *r) ++under;
                answering += std::chrono::duration<double>(requests[i - 1].answered - requests[i - 1].arrived).count();
            }
        }
        service.clearRequests();

        setup.home = scratch.path / "seq";
        fs::create_directories(setup.home / "save");
        setup.parallel = false;
        setup.stopAfterSeconds = sequentialSeconds;
        const RunFigures seq = wholeRun(setup);
        const double seqRate = static_cast<double>(seq.keywords) / seq.seconds;

        std::printf("  throughput mode, R = %s: %llu keywords (%llu requests) in %.1f s = %.2f keywords/s\n",
                    rate.c_str(), static_cast<unsigned long long>(par.keywords),
                    static_cast<unsigned long long>(par.requests), par.seconds, parRate);
        std::printf("  keywords/s / R          %.3f (target >= 0.9)\n", parRate / *r);
        if (count)
            std::printf("  per service: %.1f ms between requests (1/R = %.1f ms), %.1f ms of it answering\n",
                        1000 * gaps / static_cast<double>(count), 1000 / *r, 1000 * answering / static_cast<double>(count));
        if (count)
            std::printf("  smallest start gap at a service: %.1f ms (service %d); %zu of %zu gaps under 1/R\n",
                        1000 * smallest, smallestAt, under, count);
        if (count)
            std::printf("  first request %.2f s after Start, last answer %.2f s before the end\n",
                        std::chrono::duration<double>(first - par.began).count(),
                        std::chrono::duration<double>(par.ended - last).count());
        std::printf("  sequential:             %llu keywords in %.1f s = %.2f keywords/s\n",
                    static_cast<unsigned long long>(seq.keywords), seq.seconds, seqRate);
        std::printf("  speed-up                %.1f x\n", parRate / seqRate);
        std::fflush(stdout);
    }

    if (sizes.empty()) return 0;
    test::FixtureService service(0, 8);
    service.useBenchGraph(sizes.back(), 3);
    std::printf("memory: graphs of each size, 3 sources, no latency, pauses off\n");
    std::fflush(stdout);
    for (const bool parallel : {false, true}) {
        std::vector<double> peaks;
        for (const int size : sizes) {
            service.useBenchGraph(size, 3);
            service.writeEndpoints(scratch.path / "endpoints.ini");
            peaks.push_back(childPeakMiB(argv[0], scratch.path / "endpoints.ini", size, parallel));
            service.clearRequests(); // the service logs every request; this one keeps no log
        }
        std::printf("  %-16s", parallel ? "throughput mode" : "sequential");
        for (std::size_t i = 0; i < sizes.size(); ++i)
            std::printf("  %d keywords: %.1f MiB", sizes[i], peaks[i]);
        if (peaks.size() > 1) std::printf("  (largest / smallest %.2f, target <= 1.20)", peaks.back() / peaks.front());
        std::printf("\n");
        std::fflush(stdout);
    }
    return 0;
}
