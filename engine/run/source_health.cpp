#include "engine/run/source_health.h"

#include "engine/core/control_names.h"
#include "engine/core/text_rules.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <random>
#include <string>

namespace zelkor {

namespace {

constexpr int kCooldownsBeforeOff = 3;
constexpr int kProxyFailuresBeforeDrop = 3;
constexpr std::chrono::milliseconds kLongestBackoff = std::chrono::minutes(5);

} // namespace

HealthOptions readHealthOptions(const Controls& controls, std::chrono::milliseconds backoff,
                                std::vector<Text>* problems) {
    auto problem = [&](const std::string& utf8) {
        if (problems) problems->push_back(gbk(utf8));
    };
    HealthOptions options;
    options.backoff = backoff;
    const Text retries = controls.text(ctl::kRetries);
    if (!retries.empty()) {
        if (const auto n = boxNumber(retries, 0, 100))
            options.retries = *n;
        else
            problem("重试次数应为 0 到 100 的整数，本次不重试");
    }
    const Text cooldown = controls.text(ctl::kCooldown);
    if (!cooldown.empty()) {
        if (const auto n = boxNumber(cooldown, 0, 86400))
            options.cooldown = std::chrono::seconds(*n);
        else
            problem("冷却秒数应为 0 到 86400 的整数，本次不冷却");
    } else if (options.retries > 0) {
        options.cooldown = std::chrono::seconds(kDefaultCooldownSeconds);
    }
    const Text proxies = controls.text(ctl::kProxyList);
    int number = 0;
    for (std::string_view rest = proxies; !rest.empty() || number == 0;) {
        ++number;
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::string utf8 = gbk_to_utf8(line);
        if (utf8.find_first_not_of(" \t") != std::string::npos && utf8.find_first_not_of(" \t") != utf8.find('#')) {
            if (auto route = parseProxy(utf8))
                options.proxies.push_back(std::move(*route));
            else
                problem("代理列表第 " + std::to_string(number) + " 行无法使用，已忽略：" + proxyShown(utf8));
        }
        if (rest.empty()) break;
    }
    options.directWhenProxiesGone = controls.checked(ctl::kProxyFallback);
    return options;
}

bool healthOptionsInUse(const HealthOptions& options) {
    return options.retries > 0 || options.cooldown.count() > 0 || !options.proxies.empty();
}

std::chrono::milliseconds backoffDelay(std::chrono::milliseconds backoff, int retry, double unit) {
    if (backoff.count() <= 0) return std::chrono::milliseconds(0);
    const double doubled = static_cast<double>(backoff.count()) * std::ldexp(1.0, std::clamp(retry, 1, 40) - 1);
    const double jittered = doubled * (0.75 + 0.5 * std::clamp(unit, 0.0, 1.0));
    const double cap = static_cast<double>(kLongestBackoff.count());
    return std::chrono::milliseconds(static_cast<std::int64_t>(std::llround(std::min(jittered, cap))));
}

SourceHealth::SourceHealth(HealthOptions options, Notice notice, Random random)
    : m_options(std::move(options)), m_notice(std::move(notice)), m_random(std::move(random)),
      m_proxies(m_options.proxies.size()) {
    if (!m_random) {
        m_random = [engine = std::make_shared<std::mt19937_64>(std::random_device{}())] {
            return std::uniform_real_distribution<double>(0.0, 1.0)(*engine);
        };
    }
    m_options.retries = std::max(0, m_options.retries);
}

SourceHealth::Service& SourceHealth::service(int source) {
    Service& s = m_services[source];
    s.counts.source = source;
    return s;
}

void SourceHealth::say(std::vector<Text>& notices, const Text& text) const {
    if (m_notice) notices.push_back(text);
}

bool SourceHealth::admit(int source, const Text& label, Clock::time_point now) {
    std::vector<Text> notices;
    bool ask = true;
    {
        std::lock_guard lock(m_mutex);
        Service& s = service(source);
        if (s.counts.label.empty()) s.counts.label = label;
        if (s.off) {
            ++s.counts.skipped;
            ask = false;
        } else if (s.cooling && now < s.coolUntil) {
            ++s.counts.skipped;
            ++s.skippedInCooldown;
            ask = false;
        } else if (s.cooling) {
            s.cooling = false;
            say(notices, gbk("来源 ") + s.counts.label + gbk("：冷却结束，重新请求（冷却期间跳过 ") +
                             std::to_string(s.skippedInCooldown) + gbk(" 个关键词）"));
            s.skippedInCooldown = 0;
        }
    }
    for (const Text& text : notices)
        m_notice(text);
    return ask;
}

SourceHealth::RouteChoice SourceHealth::route() {
    std::lock_guard lock(m_mutex);
    const std::size_t n = m_proxies.size();
    for (std::size_t tried = 0; tried < n; ++tried) {
        const std::size_t i = m_nextProxy++ % n;
        if (!m_proxies[i].dropped) return {m_options.proxies[i], static_cast<int>(i)};
    }
    if (n == 0 || m_options.directWhenProxiesGone) return {};
    // Failing closed: a dropped proxy fails the request, a direct one would show this address.
    const std::size_t i = m_nextProxy++ % n;
    return {m_options.proxies[i], static_cast<int>(i)};
}

std::optional<SourceHealth::RouteChoice> SourceHealth::reroute(const RouteChoice& failed) {
    std::lock_guard lock(m_mutex);
    const std::size_t n = m_proxies.size();
    if (failed.proxy < 0 || failed.rerouted || n < 2) return std::nullopt;
    for (std::size_t step = 1; step < n; ++step) {
        const std::size_t i = (static_cast<std::size_t>(failed.proxy) + step) % n;
        if (!m_proxies[i].dropped) return RouteChoice{m_options.proxies[i], static_cast<int>(i), true};
    }
    return std::nullopt;
}

SourceHealth::Next SourceHealth::answered(int source, int attempt, AnswerClass answer, const RouteChoice& via,
                                          bool proxyFailed, Clock::time_point now) {
    std::vector<Text> notices;
    Next next;
    bool proxiesGone = false;
    {
        std::lock_guard lock(m_mutex);
        Service& s = service(source);
        ++s.counts.requests;
        if (attempt > 0 && !via.rerouted) ++s.counts.retries;
        switch (answer) {
        case AnswerClass::Ok:
            ++s.counts.ok;
            break;
        case AnswerClass::Empty:
            ++s.counts.empty;
            break;
        case AnswerClass::Failed:
            ++s.counts.failed;
            break;
        case AnswerClass::Blocked:
            ++s.counts.blocked;
            break;
        }

        if (via.proxy >= 0 && static_cast<std::size_t>(via.proxy) < m_proxies.size()) {
            Proxy& proxy = m_proxies[static_cast<std::size_t>(via.proxy)];
            proxy.failuresInRow = proxyFailed ? proxy.failuresInRow + 1 : 0;
            if (!proxy.dropped && proxy.failuresInRow >= kProxyFailuresBeforeDrop) {
                proxy.dropped = true;
                say(notices, gbk("代理 ") + via.route.proxy + gbk(" 连续 3 次无法连接，已停用"));
                if (std::all_of(m_proxies.begin(), m_proxies.end(), [](const Proxy& p) { return p.dropped; })) {
                    proxiesGone = !m_options.directWhenProxiesGone;
                    say(notices, proxiesGone ? gbk("所有代理都已停用，采集已停止：不直接连接，以免暴露本机地址")
                                             : gbk("所有代理都已停用，之后的请求直接连接"));
                }
            }
        }

        const bool refused = answer == AnswerClass::Failed || answer == AnswerClass::Blocked;
        if (refused && attempt < m_options.retries) {
            next.again = true;
            next.wait = backoffDelay(m_options.backoff, attempt + 1, m_random());
        } else if (answer != AnswerClass::Blocked) {
            s.cooldownsInRow = 0;
        } else if (m_options.cooldown.count() > 0 && !s.off) {
            if (s.cooldownsInRow >= kCooldownsBeforeOff) {
                s.off = true;
                s.cooling = false;
                say(notices, gbk("来源 ") + s.counts.label + gbk("：连续 3 次冷却后仍被拦截，本次运行不再请求"));
            } else {
                ++s.cooldownsInRow;
                s.cooling = true;
                s.coolUntil = now + m_options.cooldown;
                s.skippedInCooldown = 0;
                say(notices, gbk("来源 ") + s.counts.label + gbk("：请求被拦截，暂停 ") +
                                 std::to_string(m_options.cooldown.count()) + gbk(" 秒（连续第 ") +
                                 std::to_string(s.cooldownsInRow) + gbk(" 次冷却）"));
            }
        }
    }
    for (const Text& text : notices)
        m_notice(text);
    if (proxiesGone && m_onProxiesGone) m_onProxiesGone();
    return next;
}

void SourceHealth::offered(int source, int offered, int accepted) {
    std::lock_guard lock(m_mutex);
    Service& s = service(source);
    s.counts.phrases += static_cast<std::uint64_t>(std::max(0, offered));
    s.counts.accepted += static_cast<std::uint64_t>(std::max(0, accepted));
}

void SourceHealth::phrasesLost(int source, std::size_t phrases) {
    if (phrases == 0) return;
    std::vector<Text> notices;
    {
        std::lock_guard lock(m_mutex);
        Service& s = service(source);
        if (s.counts.lost == 0)
            say(notices, gbk("来源 ") + s.counts.label + gbk("：应答中有 ") + std::to_string(phrases) +
                             gbk(" 个词含有 GBK 无法表示的字符，已舍弃（结束时合计，不再逐次提示）"));
        s.counts.lost += phrases;
    }
    for (const Text& text : notices)
        m_notice(text);
}

void SourceHealth::keywordAsked() {
    std::lock_guard lock(m_mutex);
    ++m_keywords;
}

HealthReport SourceHealth::report() const {
    std::lock_guard lock(m_mutex);
    HealthReport report;
    report.keywords = m_keywords;
    for (const auto& [source, s] : m_services) {
        report.services.push_back(s.counts);
        report.requests += s.counts.requests;
    }
    return report;
}

bool sendWithPolicy(SourceHealth& health, int source, const Text& label, const SourceHost::SendAttempt& send,
                    const std::function<bool(std::chrono::milliseconds)>& wait, const std::stop_token& stop) {
    if (!health.admit(source, label, SourceHealth::Clock::now())) return false;
    std::optional<SourceHealth::RouteChoice> rerouted;
    for (int attempt = 0;; ++attempt) {
        const SourceHealth::RouteChoice via = rerouted ? *rerouted : health.route();
        rerouted.reset();
        const SourceAttempt result = send(via.route);
        if (stop.stop_requested()) return true;
        const SourceHealth::Next next =
            health.answered(source, attempt, result.answer, via, result.proxyFailed, SourceHealth::Clock::now());
        if (result.proxyFailed && !stop.stop_requested() && (rerouted = health.reroute(via))) {
            --attempt; // the same attempt, through another proxy
            continue;
        }
        if (!next.again) {
            health.phrasesLost(source, result.lostPhrases);
            return true;
        }
        if (!wait(next.wait) || stop.stop_requested()) return true;
    }
}

} // namespace zelkor
