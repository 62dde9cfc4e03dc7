#pragma once
// Calls from any thread, run in order on the thread the queue lives in. The calls cross under
// the queue's own lock; Qt is only asked to wake that thread, so nothing of ours is handed over
// by Qt's event queue, whose locks and reference counts ThreadSanitizer cannot see into.

#include <QObject>

#include <functional>
#include <memory>

namespace zelkor::app {

class CallQueue final : public QObject {
    Q_OBJECT
    struct State;

  public:
    // What other threads keep to post with; it may outlive the queue, whose calls are then dropped.
    class Sender {
      public:
        // False when the queue is gone and the call was dropped.
        bool post(std::function<void()> call) const;

      private:
        friend class CallQueue;
        std::shared_ptr<State> m_state;
    };

    // Lives in the thread of `parent` and goes with it; calls still queued then are dropped.
    explicit CallQueue(QObject* parent);
    ~CallQueue() override;

    Sender sender() const;

  private slots:
    void runPosted();

  private:
    std::shared_ptr<State> m_state;
};

} // namespace zelkor::app
