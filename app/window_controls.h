#pragma once
// The window's side of the engine's Controls: a mirror of the control values that any thread
// reads without waiting, kept current by the window thread at every change; writes from other
// threads land in the mirror at once and reach the widgets as queued calls.

#include "app/call_queue.h"
#include "engine/core/control_values.h"
#include "engine/core/controls.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

class QObject;
class QThread;

namespace zelkor::app {

class WindowControls final : public Controls {
  public:
    // The window's half: what a write does to the widgets, run on the window thread.
    struct Face {
        std::function<void(const std::string& control, const Text& value)> setText;
        std::function<void(const std::string& control, bool value)> setChecked;
        std::function<void(const Text& text)> appendOutput;
        // Several appends at once, as appendOutput one by one would leave the panel; empty: one by one.
        std::function<void(const std::vector<Text>& texts)> appendOutputs;
        std::function<void(const Text& text)> showNotice;
        std::function<void()> closeWindow;
    };

    // `window` decides the thread writes are delivered to; once it is gone, writes are dropped.
    WindowControls(QObject* window, Face face);
    // Called by the window as it is destroyed, on its thread: from then on every write is dropped.
    // Other threads never look at the window itself, so one going away under them is harmless.
    void detach();
    bool attached() const;

    Text text(std::string_view control) const override;
    bool checked(std::string_view control) const override;
    bool itemChecked(std::string_view list, int index) const override;
    int itemCount(std::string_view list) const override { return m_values.itemCount(list); }
    void setText(std::string_view control, const Text& value) override;
    void setChecked(std::string_view control, bool value) override;
    void appendOutput(const Text& text) override;
    void showNotice(const Text& text) override;
    void closeWindow() override;

    // Window thread only: a control changed, record its new value.
    void recordText(std::string_view control, const Text& value);
    void recordChecked(std::string_view control, bool value);
    // Item `index` of 选择列表框1; the list may be longer than the built-in rows when a sources
    // file adds some.
    void recordItem(int index, bool value);

  private:
    bool onWindowThread() const;
    void post(std::function<void()> call);
    // Panel writes from other threads wait here, in order, and reach the window together in one
    // queued call: hundreds of lines a second stay one repaint each time the window gets to them.
    struct PanelWrite {
        bool notice = false;
        Text text;
    };
    void queuePanel(PanelWrite write);
    void deliverPanel(); // window thread

    std::mutex m_panelMutex;
    std::vector<PanelWrite> m_panel;

    mutable std::mutex m_windowMutex; // held while a write is queued, so the window outlives it
    QObject* m_window;
    QThread* m_windowThread;
    CallQueue::Sender m_toWindow; // a queue that goes with the window
    Face m_face;
    ControlValues m_values;
};

} // namespace zelkor::app
