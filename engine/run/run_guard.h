#pragma once
// The gate of one run: every in-memory effect happens under it and only while the run is not
// stopped, so once stop() has returned nothing more is shown, queued or recorded. Slow work (the
// seen markers, hang-up files, the store's commit) is begun under the gate and carried out outside
// it: stop() only sets flags and wakes waits, and never waits for a file or a database.
//
// Threads: any thread may stop; the worker and the threads it asks from use the rest.

#include "engine/core/pacing.h"
#include "engine/run/result_sink.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stop_token>

namespace zelkor {

class RunGuard final : public RunGate {
  public:
    explicit RunGuard(WaitFunction wait = {}) : m_wait(std::move(wait)) {}

    bool halted() const override { return m_halt.stop_requested(); }
    bool effect(const std::function<void()>& action) override;
    bool outside(const std::function<void()>& work) override;
    bool pause(std::chrono::milliseconds duration) override { return wait(duration); }
    void haltAtLimit() override { m_halt.request_stop(); }
    void haltForStore() override;

    bool wait(std::chrono::milliseconds duration);
    bool storeFailed() const { return m_storeFailed; }
    // Every proxy was dropped and the run may not go on directly: it ends as if stopped, its keyword
    // in progress left where it was.
    void haltForProxies();
    bool proxiesGone() const { return m_proxiesGone; }
    std::stop_token haltToken() const { return m_halt.get_token(); }
    // Set by stop() only: a save that has not touched its file yet is not made.
    std::stop_token saveToken() const { return m_cancelSaves.get_token(); }

    // Ends the run at once; never waits. True the first time, when the run had not ended.
    bool stop();
    bool stopped() const;
    // The run ended by itself: `action` runs under the gate unless the run was stopped first, so
    // that once stop() has returned it cannot come. False when stopped.
    bool end(const std::function<void()>& action);
    // Until slow work begun before the stop is over; false on timeout.
    bool waitForWork(std::chrono::milliseconds timeout);

  private:
    WaitFunction m_wait;
    std::stop_source m_halt;
    std::stop_source m_cancelSaves;
    std::atomic<bool> m_storeFailed{false};
    std::atomic<bool> m_proxiesGone{false};

    mutable std::mutex m_gate;
    std::condition_variable m_idle;
    bool m_stopped = false;
    bool m_ended = false;
    int m_working = 0; // slow work under way outside the gate
};

} // namespace zelkor
