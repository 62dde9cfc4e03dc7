#pragma once

#include "text/text.h"

#include <string>

namespace zelkor {

// One queued keyword.
struct KeywordTask {
    Text keyword;
    Text mainWord; // the seed it descends from, never its direct parent
    int depth = 1; // a seed's answers are at depth 1, their answers at 2, ...
};

// One shown keyword, as exported.
struct ResultRecord {
    Text keyword;
    Text sourceName;
    Text mainWord;
    Text parent;      // the keyword whose answer offered it (a seed or a queued keyword)
    int depth = 1;    // parent's depth + 1; seeds are at 0
    std::string time; // when it was accepted, ISO 8601 with the local offset
    // With hits counted: how many times the run was offered it, and by how many services; else 0.
    int hits = 0;
    int services = 0;
};

// Now as "2026-12-10T13:45:00+08:00".
std::string isoTimeNow();

} // namespace zelkor
