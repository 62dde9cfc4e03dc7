#include "app/call_queue.h"

#include <QMetaObject>

#include <mutex>
#include <vector>

namespace zelkor::app {

struct CallQueue::State {
    std::mutex mutex;
    CallQueue* queue; // null once the queue is gone
    std::vector<std::function<void()>> posted;
    bool wakePending = false;
};

CallQueue::CallQueue(QObject* parent) : QObject(parent), m_state(std::make_shared<State>()) {
    m_state->queue = this;
}

CallQueue::~CallQueue() {
    std::vector<std::function<void()>> dropped;
    std::lock_guard lock(m_state->mutex);
    m_state->queue = nullptr;
    dropped.swap(m_state->posted);
}

CallQueue::Sender CallQueue::sender() const {
    Sender sender;
    sender.m_state = m_state;
    return sender;
}

bool CallQueue::Sender::post(std::function<void()> call) const {
    std::lock_guard lock(m_state->mutex);
    if (!m_state->queue) return false;
    m_state->posted.push_back(std::move(call));
    // Under the lock, so the queue cannot go meanwhile; by name, so the event Qt queues is its
    // own and carries nothing of ours.
    if (!m_state->wakePending)
        QMetaObject::invokeMethod(m_state->queue, "runPosted", Qt::QueuedConnection);
    m_state->wakePending = true;
    return true;
}

void CallQueue::runPosted() {
    std::vector<std::function<void()>> calls;
    {
        std::lock_guard lock(m_state->mutex);
        calls.swap(m_state->posted);
        m_state->wakePending = false;
    }
    for (auto& call : calls)
        call();
}

} // namespace zelkor::app
