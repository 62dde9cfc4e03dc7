#pragma once
// Work the window thread must not wait for -- files that are written and synced, databases that
// are opened and read -- done in order on one thread of its own. A job returns what is to happen
// on the window thread with its outcome; that runs as a queued call, and is dropped once the
// window is gone.
//
// Threads: post() from the window thread; jobs on the worker. The destructor lets the job in hand
// finish, drops the jobs not begun and joins.

#include "app/call_queue.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class QObject;

namespace zelkor::app {

class BackgroundWork {
  public:
    using Job = std::function<std::function<void()>()>;

    // Outcomes reach the thread `window` lives in.
    explicit BackgroundWork(QObject* window);
    ~BackgroundWork();
    BackgroundWork(const BackgroundWork&) = delete;
    BackgroundWork& operator=(const BackgroundWork&) = delete;

    void post(Job job);
    // Jobs posted and not yet back on the window thread.
    int pending() const { return m_pending; } // window thread

  private:
    void loop(std::stop_token stop);

    CallQueue::Sender m_toWindow;
    int m_pending = 0;
    std::mutex m_mutex;
    std::condition_variable_any m_wake;
    std::deque<Job> m_jobs;
    std::jthread m_thread; // last: joined first
};

} // namespace zelkor::app
