// Memory for one huge answer: peak RSS above idle while a 100 MB answer arrives, at the default
// cap (8 MiB; with and without a length announced) and under a cap raised past it, where the body
// is held once, so the peak is about the answer's own size.
//   net_answer_memory_bench

#include "net/http.h"
#include "process_memory.h"
#include "support/hostile_server.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

namespace zelkor {
namespace {

using namespace std::chrono_literals;
using test::HostileMode;

using bench::rssMiB;

// Peak RSS while `work` runs, sampled every 2 ms.
template <typename F> double peakDuring(F&& work) {
    std::atomic<bool> done{false};
    double peak = rssMiB();
    std::thread sampler([&] {
        while (!done) {
            peak = std::max(peak, rssMiB());
            std::this_thread::sleep_for(2ms);
        }
    });
    work();
    done = true;
    sampler.join();
    return std::max(peak, rssMiB());
}

void oneAnswer() {
    constexpr std::size_t kAnswer = 100u << 20;
    test::HostileServer unsized(test::hostile(HostileMode::Unsized, kAnswer));
    test::HostileServer sized(test::hostile(HostileMode::Huge, kAnswer));
    const auto fetch = [](const std::string& url, std::int64_t cap) {
        HttpRequestSpec spec;
        spec.url = url;
        spec.keepBody = false; // as the sources fetch
        spec.limits.maxBodyBytes = cap;
        return http_request(spec);
    };
    fetch(unsized.url("/warm"), 1 << 10); // libcurl and TLS set up, as in a run
    const double idle = rssMiB();
    std::size_t got = 0;
    const double cappedUnsized = peakDuring([&] { got = fetch(unsized.url("/a"), 0).bodySize; });
    const double cappedSized = peakDuring([&] { fetch(sized.url("/b"), 0); });
    std::printf("one 100 MB answer, default cap (8 MiB)\n");
    std::printf("  no length given          peak %.1f MiB above idle (%.1f MiB), %zu bytes kept\n",
                cappedUnsized - idle, idle, got);
    std::printf("  length announced         peak %.1f MiB above idle\n", cappedSized - idle);
    const double brave = peakDuring([&] { got = fetch(unsized.url("/c"), 256 << 20).bodySize; });
    std::printf("  cap raised to 256 MiB    peak %.1f MiB above idle for %zu bytes read = %.2f x the answer\n",
                brave - idle, got, (brave - idle) / (static_cast<double>(got) / (1 << 20)));
}

} // namespace
} // namespace zelkor

int main() {
    zelkor::oneAnswer();
}
