#include "app/window_controls.h"

#include "engine/core/control_names.h"

#include <QObject>
#include <QThread>

namespace zelkor::app {

WindowControls::WindowControls(QObject* window, Face face)
    : m_window(window), m_windowThread(window->thread()), m_toWindow((new CallQueue(window))->sender()),
      m_face(std::move(face)) {}

void WindowControls::detach() {
    std::lock_guard guard(m_windowMutex);
    m_window = nullptr;
}

bool WindowControls::attached() const {
    std::lock_guard guard(m_windowMutex);
    return m_window != nullptr;
}

bool WindowControls::onWindowThread() const {
    std::lock_guard guard(m_windowMutex);
    return m_window && QThread::currentThread() == m_windowThread;
}

void WindowControls::post(std::function<void()> call) {
    std::lock_guard guard(m_windowMutex);
    if (!m_window) return;
    // The queue goes with the window: a call still queued then is dropped, not run.
    m_toWindow.post(std::move(call));
}

Text WindowControls::text(std::string_view control) const {
    return m_values.text(control);
}

bool WindowControls::checked(std::string_view control) const {
    return m_values.checked(control);
}

bool WindowControls::itemChecked(std::string_view list, int index) const {
    if (list != ctl::kSourceList || index < 0) return false;
    return m_values.item(list, index);
}

void WindowControls::recordText(std::string_view control, const Text& value) {
    m_values.setText(control, value);
}

void WindowControls::recordChecked(std::string_view control, bool value) {
    m_values.setChecked(control, value);
}

void WindowControls::recordItem(int index, bool value) {
    if (index < 0) return;
    m_values.setItem(ctl::kSourceList, index, value);
}

void WindowControls::setText(std::string_view control, const Text& value) {
    std::string name(control);
    if (onWindowThread()) {
        m_face.setText(name, value);
        return;
    }
    // The writer reads its own write back at once; the widget follows when the window gets to it.
    recordText(name, value);
    post([this, name = std::move(name), value] { m_face.setText(name, value); });
}

void WindowControls::setChecked(std::string_view control, bool value) {
    std::string name(control);
    if (onWindowThread()) {
        m_face.setChecked(name, value);
        return;
    }
    recordChecked(name, value);
    post([this, name = std::move(name), value] { m_face.setChecked(name, value); });
}

void WindowControls::appendOutput(const Text& text) {
    if (onWindowThread()) {
        deliverPanel(); // what other threads wrote before comes first
        m_face.appendOutput(text);
    } else {
        queuePanel({false, text});
    }
}

void WindowControls::showNotice(const Text& text) {
    if (onWindowThread()) {
        deliverPanel();
        m_face.showNotice(text);
    } else {
        queuePanel({true, text});
    }
}

void WindowControls::queuePanel(PanelWrite write) {
    bool first = false;
    {
        std::lock_guard guard(m_panelMutex);
        first = m_panel.empty();
        m_panel.push_back(std::move(write));
    }
    // One delivery per batch: the writes that come before it runs ride along.
    if (first) post([this] { deliverPanel(); });
}

void WindowControls::deliverPanel() {
    std::vector<PanelWrite> writes;
    {
        std::lock_guard guard(m_panelMutex);
        writes.swap(m_panel);
    }
    std::vector<Text> appends;
    const auto flush = [&] {
        if (appends.empty()) return;
        if (m_face.appendOutputs)
            m_face.appendOutputs(appends);
        else
            for (const Text& text : appends)
                m_face.appendOutput(text);
        appends.clear();
    };
    for (PanelWrite& write : writes) {
        if (!write.notice) {
            appends.push_back(std::move(write.text));
            continue;
        }
        flush();
        m_face.showNotice(write.text);
    }
    flush();
}

void WindowControls::closeWindow() {
    if (onWindowThread())
        m_face.closeWindow();
    else
        post([this] { m_face.closeWindow(); });
}

} // namespace zelkor::app
