#pragma once
// How a run's keywords are asked. The feed gives them in order; a scheduler asks their sources
// and commits each keyword, in feed order, through the run. Two kinds:
//   sequential  one keyword at a time, a source at a time, with 编辑框_延时 between the source
//               groups and between keywords, as the original does
//   throughput  many keywords in flight, every service paced on its own (parallel_run.h)
//
// Threads: run() runs on the run's worker and returns when the feed is dry or the run halted; it
// never blocks a stop.

#include "engine/core/controls.h"
#include "engine/run/keyword_feed.h"
#include "engine/run/result_sink.h"
#include "engine/run/source_health.h"
#include "sources/source_api.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace zelkor {

struct ParallelProgress {
    std::uint64_t done = 0;     // keywords committed
    std::uint64_t inFlight = 0; // keywords asked and not yet committed
    std::uint64_t queued = 0;   // keywords waiting, not yet asked
    double requestsPerSecond = 0;
};

// What a scheduler needs of the run it serves.
struct SchedulerParts {
    Controls& controls;
    const SourceSet& sources;
    KeywordFeed& feed;
    ResultSink& sink;
    SourceHealth& health;
    RunGate& gate;
    // Ticks, the stop token, answer limits, and the way a source's request is sent.
    SourceHost& host;
    // Ends the oldest keyword taken and not committed, by the feed's rule; false once the run
    // cannot go on (stopped, halted, or the store failed).
    std::function<bool(const FeedEntry&)> commit;
    // Once, when every seed round is committed: shows how many keywords wait and returns it.
    std::function<std::size_t()> seedPassEnded;
    std::function<void()> autoSave;                        // after each keyword is committed
    std::function<void(const ParallelProgress&)> progress; // now and then, and once at the end
};

class Scheduler {
  public:
    virtual ~Scheduler() = default;
    virtual void run(const SchedulerParts& parts) = 0;
};

// `delayWait` waits 编辑框_延时; false when the run halted before or during the wait.
std::unique_ptr<Scheduler> makeSequentialScheduler(std::function<bool()> delayWait);

} // namespace zelkor
