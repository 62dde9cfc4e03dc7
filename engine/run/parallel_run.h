#pragma once
// The throughput mode of a run: many keywords in flight, every service asked as soon as its own
// pace allows, and the answers committed to the result sink exactly as the sequential worker
// would commit them.
//
// Pace: per service (list index) at most one request in flight, and request starts at least
// 1/rate apart, counted from when each request actually left (its connection made); two keywords' first requests at least `keywordGap` apart. Requests go out on one
// event loop thread (MultiFetch); a source that cannot hand its request to the loop is asked on
// the run's own thread instead.
//
// Order: keyword k's phrases go to the sink only when every keyword before it has been committed,
// in the sequential run's source order, so the sink sees the same phrases in the same order as in
// a sequential run given the same answers. What a keyword that is never committed (the run halted
// first) brought is dropped.
//
// Threads: as every scheduler's.

#include "engine/core/controls.h"
#include "engine/run/scheduler.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>

namespace zelkor {

inline constexpr double kDefaultParallelRate = 2.0;

// How fast each service is asked. Past these bounds a rate is refused.
inline constexpr double kMinParallelRate = 0.01;
inline constexpr double kMaxParallelRate = 1000.0;
// A rate as typed ("2", "0.5", " 1.5 "), or nullopt when it is not a number within the bounds.
std::optional<double> parseParallelRate(std::string_view text);

// Keywords asked ahead from a queue other workers share (see KeywordQueue::shared).
inline constexpr std::size_t kSharedWindow = 8;

struct ParallelOptions {
    double rate = kDefaultParallelRate;           // requests per second per service
    std::chrono::milliseconds keywordGap{0};     // between two keywords' first requests; 0 none
    std::size_t window = 64;                     // keywords asked ahead of the oldest uncommitted one
};

// The options the boxes 编辑框_并发速率 (empty: the default rate) and 编辑框_延时 (seconds between
// two keywords' first requests) ask for. A rate that cannot be used is described in `problem`
// (GBK, for the panel) and the default taken.
ParallelOptions parallelOptions(const Controls& controls, Text* problem = nullptr);

// The throughput scheduler (see scheduler.h), with these options checked against the bounds.
std::unique_ptr<Scheduler> makeThroughputScheduler(const ParallelOptions& options);

} // namespace zelkor
