#pragma once
// The contract between a keyword source and the run it serves. The engine implements
// SourceHost; sources never include an engine header.

#include "net/answer_class.h"
#include "net/proxy.h"
#include "net/http.h"
#include "text/text.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <stop_token>
#include <vector>

namespace zelkor {

// What one attempt at a source's request came to.
struct SourceAttempt {
    AnswerClass answer = AnswerClass::Empty;
    bool proxyFailed = false; // the proxy of the route could not be reached
    std::size_t lostPhrases = 0; // left out: GBK cannot hold all their characters
};

class SourceHost {
public:
    virtual ~SourceHost() = default;
    // Tick of item `index` of 选择列表框1 now; an index outside the list counts as not ticked.
    virtual bool isSourceTicked(int index) = 0;
    // The result sink. Sources ignore the answer and go on with their next phrase.
    virtual bool offerCandidate(const Text& candidate, const Text& outputName, int displayPauseMs) = 0;
    // Set when the run is stopped: requests in flight abort and nothing more is offered.
    virtual std::stop_token stopToken() const = 0;

    // The run's say over a source's request for one keyword; `send` makes one attempt through the
    // route given. The run may hold the request back (a service cooling down: false, nothing was
    // sent), route it through a proxy, or send it again after a failed or blocked answer; the
    // source then offers what the last attempt brought. By default: once, directly.
    using SendAttempt = std::function<SourceAttempt(const ProxyRoute&)>;
    virtual bool sendRequest(int listIndex, const Text& label, const SendAttempt& send) {
        (void)listIndex;
        (void)label;
        send(ProxyRoute{});
        return true;
    }
    // How many phrases a source offered from its answer and how many of them the sink took.
    virtual void countOffers(int listIndex, int offered, int accepted) {
        (void)listIndex;
        (void)offered;
        (void)accepted;
    }
    // Bounds on every answer a source reads for this host.
    virtual AnswerLimits answerLimits() const { return {}; }
};

class PendingRequest;

// A source whose request an event loop can carry (many keywords in flight on one thread): the
// request is made ready here, sent by the loop, and read back here, exactly as run() would.
class FetchingSource {
public:
    virtual ~FetchingSource() = default;
    // The request run() sends for `keyword`, through `route`.
    virtual std::unique_ptr<PendingRequest> prepare(const Text& keyword, const ProxyRoute& route,
                                                    const AnswerLimits& limits) const = 0;
    // What run() would offer from that request's answer, in order, and how the answer classes.
    virtual std::vector<Text> read(PendingRequest& answered, SourceAttempt& attempt) const = 0;
    virtual Text label() const = 0;      // GBK, as the source list shows it
    virtual Text outputName() const = 0; // GBK, as the panel, the exports, notices and the report name it
    virtual int displayPauseMs() const = 0;
};

class SourceAdapter {
public:
    virtual ~SourceAdapter() = default;
    virtual int listIndex() const = 0;
    // At most one request, then zero or more offers. Every failure is quiet.
    virtual void run(const Text& keyword, SourceHost& host) = 0;
    // Non-null when an event loop can carry this source's request.
    virtual const FetchingSource* fetching() const { return nullptr; }
};

using SourceSet = std::vector<std::unique_ptr<SourceAdapter>>;

} // namespace zelkor
