// One shared run worked by N zelkor-cli workers on this machine through a real redis-server.
//   cli_shared_bench [--keywords 240] [--workers 1,2,4,8,16] [--sources 5] [--latency 40] [--service-workers 8]
// The fixture service holds every answer back latency ± latency/2 ms and answers at most
// --service-workers requests at once: its limit, about service-workers / latency requests a second.
// Each worker asks --sources services one after another, so alone it does about
// 1 / (sources × latency) keywords a second; N workers should do N times that until the service's
// limit. Prints keywords per second for each N and the ratio to one worker.

#include "fixture_service.h"
#include "support/child_process.h"
#include "support/redis_server.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::vector<int> numberList(const std::string& text) {
    std::vector<int> out;
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto comma = text.find(',', start);
        out.push_back(std::atoi(text.substr(start, comma - start).c_str()));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return out;
}

int run(int argc, char** argv) {
    int keywords = 240, sources = 5, latency = 40, serviceWorkers = 8;
    std::vector<int> counts = {1, 2, 4, 8, 16};
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i], value = argv[i + 1];
        if (arg == "--keywords") keywords = std::atoi(value.c_str());
        else if (arg == "--workers") counts = numberList(value);
        else if (arg == "--sources") sources = std::atoi(value.c_str());
        else if (arg == "--latency") latency = std::atoi(value.c_str());
        else if (arg == "--service-workers") serviceWorkers = std::atoi(value.c_str());
        else {
            std::fprintf(stderr, "unknown option %s\n", arg.c_str());
            return 2;
        }
    }
    test::RedisServer redis;
    if (!redis.ok()) {
        std::fprintf(stderr, "redis-server: %s\n", redis.error().c_str());
        return 1;
    }
    test::FixtureService service(0, serviceWorkers);
    if (!service.ok()) return 1;
    // Two services name new keywords: the walk widens fast and stays wide.
    service.useBenchGraph(keywords, 2);
    service.setLatency(std::chrono::milliseconds(latency), std::chrono::milliseconds(latency / 2));
    const fs::path scratch = fs::temp_directory_path() / ("zelkor-shared-bench-" + std::to_string(::getpid()));
    fs::remove_all(scratch);
    fs::create_directories(scratch);
    service.writeEndpoints(scratch / "endpoints.ini");
    std::string sourceList;
    for (int i = 0; i < sources; ++i) {
        if (i) sourceList += ',';
        sourceList += std::to_string(i);
    }

    std::printf("%d keywords, %d sources, %d ± %d ms an answer, the service answers %d at once\n", keywords, sources,
                latency, latency / 2, serviceWorkers);
    std::printf("workers  keywords  seconds  keywords/s  ratio to 1 worker\n");
    double alone = 0;
    for (const int n : counts) {
        service.clearRequests();
        const std::string runName = "bench" + std::to_string(n);
        std::vector<std::jthread> workers;
        std::vector<int> statuses(static_cast<std::size_t>(n), -1);
        const auto began = Clock::now();
        for (int w = 0; w < n; ++w) {
            workers.emplace_back([&, w] {
                const fs::path home = scratch / (runName + "-" + std::to_string(w));
                fs::create_directories(home / "save");
                test::ChildOptions options;
                options.dropEnvironment = {"ZELKOR_ENDPOINTS=", "ZELKOR_HOME="};
                options.timeout = std::chrono::seconds(1800);
                const auto outcome = test::runChild(
                    ZELKOR_CLI_PATH,
                    {"--home", home.string(), "--endpoints", (scratch / "endpoints.ini").string(), "--sources",
                     sourceList, "--delay", "0", "--limit", "0", "--no-main-word", "--quiet", "--save-dir",
                     (home / "save").string(), "--store", redis.url(1), "--run", runName, "bench-0"},
                    options);
                statuses[static_cast<std::size_t>(w)] = outcome.status();
                if (outcome.status() != 0) std::fprintf(stderr, "worker %d: %s\n", w, outcome.err.c_str());
            });
        }
        workers.clear();
        const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
        std::set<std::string> asked;
        for (const auto& request : service.requests()) asked.insert(request.keyword);
        const double rate = static_cast<double>(asked.size()) / seconds;
        if (n == counts.front()) alone = rate / n;
        std::printf("%7d  %8zu  %7.2f  %10.2f  %.2f\n", n, asked.size(), seconds, rate, rate / alone);
        std::fflush(stdout);
        for (const int status : statuses)
            if (status != 0) return 1;
    }
    fs::remove_all(scratch);
    return 0;
}

} // namespace
} // namespace zelkor

int main(int argc, char** argv) {
    return zelkor::run(argc, argv);
}
