#include "app/background_work.h"

namespace zelkor::app {

BackgroundWork::BackgroundWork(QObject* window)
    : m_toWindow((new CallQueue(window))->sender()), // owned by the window
      m_thread([this](std::stop_token stop) { loop(stop); }) {}

BackgroundWork::~BackgroundWork() {
    m_thread.request_stop();
    m_wake.notify_all();
}

void BackgroundWork::post(Job job) {
    ++m_pending;
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void BackgroundWork::loop(std::stop_token stop) {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            if (!m_wake.wait(lock, stop, [this] { return !m_jobs.empty(); })) return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        std::function<void()> outcome = job();
        m_toWindow.post([this, outcome = std::move(outcome)] {
            --m_pending;
            if (outcome) outcome();
        });
    }
}

} // namespace zelkor::app
