// A long run against the fixture service with hostile services mixed in: a third of the sources
// answer, in turn, 100 MB with its length announced, 20 MB without, an endless body, a drip that
// never lets the stall timer fire, a cut body, bytes that are not HTTP, and pages whose phrases
// carry line breaks and bytes outside GBK. Targets: memory flat (the peak RSS of the last quarter
// of the run within 20 % of the first's), and the run's own results file holding every shown
// keyword, each on a line of its own, with no control character or stray byte. Exits 1 when a
// shown keyword is missing from the file or the file is not clean.
//   engine_soak_bench [KEYWORDS]    (default 300; about a second a keyword, most of it the drips'
//                                    one-second deadline)

#include "engine/core/control_names.h"
#include "engine/run/mining_run.h"
#include "engine/core/program_dir.h"
#include "engine/core/text_rules.h"
#include "engine/core/value_controls.h"
#include "fixture_service.h"
#include "sources/sources.h"
#include "sources/table_source.h"
#include "process_memory.h"
#include "support/hostile_server.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::HostileMode;

using bench::rssMiB;

// The graph keyword a request asks about, or -1 for anything else.
int graphKeyword(const std::string& keyword) {
    if (keyword.rfind("bench-", 0) != 0 || keyword.size() == 6 || keyword.size() > 15) return -1;
    if (keyword.find_first_not_of("0123456789", 6) != std::string::npos) return -1;
    return std::stoi(keyword.substr(6));
}

// Every hostile mode in turn, one per request, and poisoned pages between them (a drip costs up to
// the whole deadline, so it comes once in twelve). A poisoned page names the keyword's real
// neighbours with a line break inside (cleaned, they are the neighbours again) and with a byte
// that is not GBK after them (dropped, or a dead end when the service's text is UTF-8), so the
// run stays within the graph however long it goes.
test::HostileAnswer nextHostile(std::size_t n, const std::string& keyword, int source, int keywords) {
    switch (n % 12) {
    case 0:
        return test::hostile(HostileMode::Huge, 100u << 20);
    case 1:
        return test::hostile(HostileMode::Unsized, 20u << 20);
    case 2:
        return test::hostile(HostileMode::Endless);
    case 3:
        return test::hostile(HostileMode::Dripping, 100000, 20ms);
    case 4:
        return test::hostile(HostileMode::Cut, 1000, 0ms, "<html>");
    case 5:
        return test::hostile(HostileMode::Malformed);
    default: {
        std::vector<std::string> phrases;
        if (const int at = graphKeyword(keyword); at >= 0 && at < keywords) {
            for (const auto& phrase : test::fixture_bench_phrases(at, source, keywords)) {
                std::string broken = phrase;
                broken.insert(std::min<std::size_t>(6, broken.size()), "\r\n\x01");
                phrases.push_back(broken);
                phrases.push_back(phrase + "@");
            }
        }
        std::string body = test::fixture_body(source, keyword, phrases);
        for (std::size_t at; (at = body.find('@')) != std::string::npos;)
            body[at] = '\x81';
        return test::hostile(HostileMode::Canned, 0, 0ms, body);
    }
    }
}

int soak(int keywords) {
    const fs::path home = fs::temp_directory_path() / ("zelkor-soak-" + std::to_string(::getpid()));
    fs::remove_all(home);
    fs::create_directories(home);
    test::FixtureService service;
    service.useGraph(test::fixture_bench_graph(keywords));
    std::atomic<std::size_t> hostileRequests{0};
    std::vector<std::unique_ptr<test::HostileServer>> hostile;
    Endpoints endpoints;
    for (int i = 0; i < kSourceCount; ++i) {
        if (i % 3 == 2) {
            hostile.push_back(std::make_unique<test::HostileServer>([&, i](const test::RawRequest& request) {
                std::string keyword;
                test::fixture_source_of(request.head.substr(4, request.head.find(' ', 4) - 4), &keyword);
                return nextHostile(hostileRequests++, keyword, i, keywords);
            }));
            endpoints.set(std::to_string(i), hostile.back()->url(""));
        } else {
            endpoints.set(std::to_string(i), service.origin());
        }
    }

    auto controls = std::make_shared<ValueControls>();
    applyWindowDefaults(*controls, home);
    for (int i = 0; i < kSourceCount; ++i)
        controls->setItemChecked(ctl::kSourceList, i, true);
    controls->setText(ctl::kSeeds, "bench-0");
    controls->setText(ctl::kDelay, "0");
    controls->setText(ctl::kLimit, "0");
    controls->setChecked(ctl::kMainWordOnly, false);
    controls->setText(ctl::kDeadline, "1"); // a drip is cut off after a second, not the default minute
    std::atomic<int> shownLines{0};
    const Text shownMark = gbk(" 来源：");
    controls->setOutputListener([&](const Text& text) {
        if (text.find(shownMark) != Text::npos && text.find(gbk("  主词：")) != Text::npos) ++shownLines;
    });

    MiningController controller(controls, home, [endpoints] { return make_sources(endpoints); });
    // Pauses are the run's own pacing, not its cost; they are skipped here.
    controller.setWait([](std::chrono::milliseconds, std::stop_token stop) { return !stop.stop_requested(); });
    const auto started = std::chrono::steady_clock::now();
    std::vector<std::pair<double, double>> samples; // seconds, MiB
    if (controller.start()) {
        std::fprintf(stderr, "soak: the run did not start\n");
        return 1;
    }
    const auto run = controller.currentRun();
    while (!run->waitUntilDone(50ms)) {
        service.clearRequests(); // the service's log of requests is the bench's, not the run's
        samples.emplace_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(),
                             rssMiB());
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const fs::path file = gbkToPath(run->resultsPathText());

    double quarter[4] = {0, 0, 0, 0};
    for (const auto& [at, mib] : samples) {
        const int q = std::min(3, static_cast<int>(4 * at / seconds));
        quarter[q] = std::max(quarter[q], mib);
    }
    std::size_t lines = 0;
    bool clean = true;
    {
        std::ifstream in(file, std::ios::binary);
        for (std::string line; std::getline(in, line);) {
            ++lines;
            if (line.empty() || line.back() != '\r') {
                clean = false;
                continue;
            }
            line.pop_back();
            if (!is_gbk(line)) clean = false;
            for (const char c : line)
                if (static_cast<unsigned char>(c) < 0x20) clean = false;
        }
    }
    const std::size_t results = run->results().size();
    std::printf("soak: %d keywords in the graph, %zu requests to hostile services, %.1f s\n", keywords,
                hostileRequests.load(), seconds);
    const bool saved = lines == results && results == static_cast<std::size_t>(shownLines.load());
    std::printf("  peak RSS per quarter     %.1f  %.1f  %.1f  %.1f MiB; last / first = %.2f (target <= 1.20)\n",
                quarter[0], quarter[1], quarter[2], quarter[3], quarter[0] > 0 ? quarter[3] / quarter[0] : 0.0);
    std::printf("  shown %d, recorded %zu, lines in the results file %zu (%s), no control or stray bytes: %s\n",
                shownLines.load(), results, lines, saved ? "all saved" : "MISSING", clean ? "yes" : "NO");
    controller.stop();
    controller.waitForEmptying(60s);
    fs::remove_all(home);
    return saved && clean ? 0 : 1;
}

} // namespace
} // namespace zelkor

int main(int argc, char** argv) {
    const int keywords = argc > 1 ? std::atoi(argv[1]) : 300;
    if (keywords < 1) {
        std::fprintf(stderr, "usage: engine_soak_bench [KEYWORDS]\n");
        return 2;
    }
    return zelkor::soak(keywords);
}
