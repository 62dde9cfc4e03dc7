#pragma once
// The contract between a keyword source and the run it serves. The engine implements
// SourceHost; sources never include an engine header.

#include "text/text.h"

#include <memory>
#include <stop_token>
#include <vector>

namespace zelkor {

class SourceHost {
public:
    virtual ~SourceHost() = default;
    // Tick of item `index` of 选择列表框1 now; an index outside the list counts as not ticked.
    virtual bool isSourceTicked(int index) = 0;
    // The result sink. Sources ignore the answer and go on with their next phrase.
    virtual bool offerCandidate(const Text& candidate, const Text& outputName, int displayPauseMs) = 0;
    // Set when the run is stopped: requests in flight abort and nothing more is offered.
    virtual std::stop_token stopToken() const = 0;
};

class SourceAdapter {
public:
    virtual ~SourceAdapter() = default;
    virtual int listIndex() const = 0;
    // At most one request, then zero or more offers. Every failure is quiet.
    virtual void run(const Text& keyword, SourceHost& host) = 0;
};

using SourceSet = std::vector<std::unique_ptr<SourceAdapter>>;

} // namespace zelkor
