#pragma once
// Source health: how a run treats keyword services that fail or refuse it, and the proxies its
// requests go through. One instance per run, shared by every thread that sends for that run.
//
// The seam between the run loops and this policy. Whoever sends a source's request -- the
// sequential worker through sendWithPolicy() below, or a scheduler with many requests in flight --
// asks the same questions in the same order:
//   admit(source)   before a keyword's first request to a service: may it be asked now? Not while
//                   it cools down, nor once it is off; the keyword is then counted as skipped.
//   route()         before every request, retries included: the proxy to go through, in turn;
//                   once every proxy is dropped, still one of them (a request never leaves
//                   directly unless the options allow it).
//   reroute(via)    after a request that could not reach its proxy: the next live one, to send
//                   it once more through (not a retry); nullopt when there is none.
//   answered(...)   after every answer: counts it, keeps track of the proxy, and says whether to
//                   ask again and after how long. Waiting is the caller's, and a stopped run stops
//                   waiting; an answer to a stopped run is not reported at all.
//   offered(...)    once the source has offered the phrases of its last answer.
//   phrasesLost(...) for that answer's phrases left out because GBK cannot hold them.
// report() gives the counts at any time. Notices (a cool-down begins or ends, a service is off, a
// proxy is dropped) go to the callback on the thread that caused them, outside any lock.
//
// With the default options (no retries, no cool-down, no proxy) every request is sent once,
// directly, as the original does; only the counting is new.

#include "engine/core/controls.h"
#include "engine/core/health_report.h"
#include "net/answer_class.h"
#include "net/proxy.h"
#include "sources/source_api.h"
#include "text/text.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <mutex>
#include <stop_token>
#include <vector>

namespace zelkor {

struct HealthOptions {
    int retries = 0;                           // extra attempts after a failed or blocked answer
    std::chrono::milliseconds backoff{500};    // wait before the first retry, doubled at each next
    std::chrono::seconds cooldown{0};          // 0: a blocked service is asked like any other
    std::vector<ProxyRoute> proxies;           // empty: direct
    // Once every proxy is dropped: false, no request goes out directly (see onProxiesGone).
    bool directWhenProxiesGone = false;
};

// The options a run takes from the boxes 编辑框_重试次数, 编辑框_冷却秒数 and 编辑框_代理列表 (one
// proxy per line). An empty cool-down box means 300 s when retries are asked for, else none: with
// every box empty a run sends its requests as the original does. What cannot be used is left out
// and described in `problems` (GBK, for the panel).
HealthOptions readHealthOptions(const Controls& controls, std::chrono::milliseconds backoff,
                                std::vector<Text>* problems = nullptr);
// True when any of those boxes asks for more than the original behaviour.
bool healthOptionsInUse(const HealthOptions& options);

inline constexpr int kDefaultCooldownSeconds = 300;

// Wait before retry `retry` (1 for the first): backoff doubled per retry, times 0.75 to 1.25 as
// `unit` goes from 0 to 1, and never above five minutes.
std::chrono::milliseconds backoffDelay(std::chrono::milliseconds backoff, int retry, double unit);

class SourceHealth {
  public:
    using Clock = std::chrono::steady_clock;
    using Notice = std::function<void(const Text&)>; // GBK
    using Random = std::function<double()>;          // uniform in [0, 1)

    struct RouteChoice {
        ProxyRoute route;      // direct when no proxy is left and going direct is allowed
        int proxy = -1;        // index into the options' proxies; -1 direct
        bool rerouted = false; // sent again after its proxy could not be reached
    };
    struct Next {
        bool again = false;
        std::chrono::milliseconds wait{0};
    };

    explicit SourceHealth(HealthOptions options = {}, Notice notice = {}, Random random = {});

    const HealthOptions& options() const { return m_options; }

    bool admit(int source, const Text& label, Clock::time_point now);
    RouteChoice route();
    std::optional<RouteChoice> reroute(const RouteChoice& failed);
    // Called once, outside any lock, when the last proxy is dropped and requests may not go direct.
    void setOnProxiesGone(std::function<void()> gone) { m_onProxiesGone = std::move(gone); }
    // `attempt` counts from 0; 1 and above are retries.
    Next answered(int source, int attempt, AnswerClass answer, const RouteChoice& via, bool proxyFailed,
                  Clock::time_point now);
    void offered(int source, int offered, int accepted);
    // The answer whose phrases are offered left `phrases` out: GBK cannot hold their characters.
    // Said the first time at each service; the report counts them all.
    void phrasesLost(int source, std::size_t phrases);
    void keywordAsked();

    HealthReport report() const; // seconds left at 0: the run knows its own time

  private:
    struct Service {
        ServiceReport counts;
        bool cooling = false;
        bool off = false;
        Clock::time_point coolUntil{};
        int cooldownsInRow = 0;
        std::uint64_t skippedInCooldown = 0;
    };
    struct Proxy {
        bool dropped = false;
        int failuresInRow = 0;
    };

    void say(std::vector<Text>& notices, const Text& text) const;
    Service& service(int source);

    HealthOptions m_options;
    Notice m_notice;
    Random m_random;
    std::function<void()> m_onProxiesGone;
    mutable std::mutex m_mutex;
    std::map<int, Service> m_services;
    std::vector<Proxy> m_proxies;
    std::size_t m_nextProxy = 0;
    std::uint64_t m_keywords = 0;
};

// The sequential worker's way through the policy: admit, then attempts with the policy's waits in
// between. `wait` returns false when the run was stopped while waiting. False when the service was
// held back and nothing was sent.
bool sendWithPolicy(SourceHealth& health, int source, const Text& label,
                    const SourceHost::SendAttempt& send,
                    const std::function<bool(std::chrono::milliseconds)>& wait, const std::stop_token& stop);

} // namespace zelkor
