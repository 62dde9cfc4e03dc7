#pragma once
// Statistics of one run, from its results (in memory or read back from a store) and, when the run
// was watched in this process, its per-service counts. Texts are UTF-8 here: everything in this
// layer ends up in SVG or HTML.
//
// The demand tree links every result to the result (or seed) whose answer offered it: a result of
// depth 1 to its seed, a deeper one to the result its parent names. A result is only linked to a
// parent shown before it, as every run shows a parent before the phrases it led to; one whose
// parent cannot be found hangs from its seed, so the tree is a tree whatever a store holds. Pure
// functions, no threads.

#include "engine/core/health_report.h"
#include "engine/core/records.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelkor {

struct ServiceStats {
    std::string label;
    int source = -1;       // -1: known only by its label (a stored run)
    bool counted = false;  // the request counts below were taken while the run went on
    std::uint64_t requests = 0, ok = 0, empty = 0, failed = 0, blocked = 0, phrases = 0, accepted = 0;
    std::uint64_t results = 0; // results this service gave
    double share = 0;          // of all results, 0..1
};

struct DepthCount {
    int depth = 0;
    std::uint64_t count = 0;
};

struct SeedStats {
    std::string seed;
    std::uint64_t results = 0;
    int deepest = 0;
};

struct DemandNode {
    std::string label;
    int parent = -1; // -1: a seed, the root of its tree
    int depth = 0;
    std::uint64_t subtree = 1; // the node and everything below it
    std::vector<int> children; // in the order they were shown
};

struct DemandTree {
    std::vector<DemandNode> nodes;
    std::vector<int> roots; // one per seed, in the order the seeds first appear
};

struct RunStatistics {
    std::uint64_t results = 0;
    std::vector<ServiceStats> services; // most results first
    std::vector<DepthCount> depths;     // each depth a result has, lowest first
    // Results accepted in each span of `bucketMinutes` minutes from the first result's minute on;
    // empty when no result carries a time this can read. A span is one minute unless the run's
    // times lie so far apart that there would be more than kMaxBuckets.
    std::vector<std::uint64_t> perMinute;
    int bucketMinutes = 1;
    static constexpr std::size_t kMaxBuckets = 2000;
    std::string firstTime, lastTime; // as the results give them
    std::vector<SeedStats> seeds;    // in the order the seeds first appear
    DemandTree tree;
};

// `seeds`: the run's seeds, so a seed that brought nothing still has its (empty) tree.
RunStatistics computeStatistics(const std::vector<ResultRecord>& results, const HealthReport* health = nullptr,
                                const std::vector<std::string>& seeds = {});

// Seconds since the epoch of "2026-12-10T13:45:00+08:00" (a "Z" or no offset read as UTC);
// nullopt when it is not that form.
std::optional<std::int64_t> parseIsoTime(std::string_view text);

} // namespace zelkor
