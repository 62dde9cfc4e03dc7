#include "engine/run/run_guard.h"

namespace zelkor {

bool RunGuard::effect(const std::function<void()>& action) {
    std::lock_guard lock(m_gate);
    if (m_stopped) return false;
    action();
    return true;
}

bool RunGuard::outside(const std::function<void()>& work) {
    {
        std::lock_guard lock(m_gate);
        if (m_stopped) return false;
        ++m_working;
    }
    work();
    std::lock_guard lock(m_gate);
    if (--m_working == 0) m_idle.notify_all();
    return true;
}

void RunGuard::haltForStore() {
    m_storeFailed = true;
    m_halt.request_stop();
}

void RunGuard::haltForProxies() {
    m_proxiesGone = true;
    m_halt.request_stop();
}

bool RunGuard::wait(std::chrono::milliseconds duration) {
    return m_wait ? m_wait(duration, m_halt.get_token()) : waitFor(duration, m_halt.get_token());
}

bool RunGuard::stop() {
    bool first = false;
    {
        std::lock_guard lock(m_gate);
        first = !m_stopped && !m_ended;
        m_stopped = true;
    }
    m_cancelSaves.request_stop();
    m_halt.request_stop();
    return first;
}

bool RunGuard::stopped() const {
    std::lock_guard lock(m_gate);
    return m_stopped;
}

bool RunGuard::end(const std::function<void()>& action) {
    std::lock_guard lock(m_gate);
    if (m_stopped) return false;
    m_ended = true;
    action();
    return true;
}

bool RunGuard::waitForWork(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_gate);
    return m_idle.wait_for(lock, timeout, [&] { return m_working == 0; });
}

} // namespace zelkor
