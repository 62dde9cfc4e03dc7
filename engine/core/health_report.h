#pragma once
// What each service answered during a run, as counted by the run's source health and printed by
// the end-of-run summary.

#include "text/text.h"

#include <cstdint>
#include <vector>

namespace zelkor {

struct ServiceReport {
    int source = -1;
    Text label; // GBK
    std::uint64_t requests = 0;
    std::uint64_t ok = 0;
    std::uint64_t empty = 0;
    std::uint64_t failed = 0;
    std::uint64_t blocked = 0;
    std::uint64_t retries = 0;
    std::uint64_t phrases = 0;  // offered to the sink
    std::uint64_t accepted = 0; // taken by the sink
    std::uint64_t skipped = 0;  // keywords not asked while cooling down or off
    std::uint64_t lost = 0;     // phrases left out: GBK cannot hold their characters
};

struct HealthReport {
    std::vector<ServiceReport> services; // every service the run reached, in list order
    std::uint64_t keywords = 0;
    std::uint64_t requests = 0;
    double seconds = 0;
};

} // namespace zelkor
