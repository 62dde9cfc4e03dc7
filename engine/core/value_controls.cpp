#include "engine/core/value_controls.h"

#include "engine/core/control_names.h"

namespace zelkor {

Text ValueControls::text(std::string_view control) const {
    return m_values.text(control);
}

bool ValueControls::checked(std::string_view control) const {
    return m_values.checked(control);
}

bool ValueControls::itemChecked(std::string_view list, int index) const {
    return m_values.item(list, index);
}

void ValueControls::setText(std::string_view control, const Text& value) {
    std::lock_guard lock(m_mutex);
    m_values.setText(control, value);
    if (m_write) m_write(control, value);
}

void ValueControls::setChecked(std::string_view control, bool value) {
    m_values.setChecked(control, value);
}

void ValueControls::setItemChecked(std::string_view list, int index, bool value) {
    m_values.setItem(list, index, value);
}

void ValueControls::appendOutput(const Text& text) {
    std::lock_guard lock(m_mutex);
    if (m_values.checked(ctl::kNoOutput)) return;
    Text panel = m_values.text(ctl::kPanel) + text;
    if (panel.size() > static_cast<std::size_t>(ctl::kPanelLimit)) panel.clear();
    m_values.setText(ctl::kPanel, panel);
    if (m_output) m_output(text);
}

void ValueControls::showNotice(const Text& text) {
    appendOutput("\r\n\r\n" + text + "\r\n");
    std::lock_guard lock(m_mutex);
    m_notices.push_back(text);
    if (m_notices.size() > kKeptNotices) m_notices.pop_front();
    m_values.setText(ctl::kNoticeLabel, text);
    if (m_write) m_write(ctl::kNoticeLabel, text);
}

void ValueControls::closeWindow() {
    std::function<void()> listener;
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        listener = m_close;
    }
    if (listener) listener();
}

bool ValueControls::closeRequested() const {
    std::lock_guard lock(m_mutex);
    return m_closed;
}

std::vector<Text> ValueControls::notices() const {
    std::lock_guard lock(m_mutex);
    return {m_notices.begin(), m_notices.end()};
}

void ValueControls::setOutputListener(OutputListener listener) {
    std::lock_guard lock(m_mutex);
    m_output = std::move(listener);
}

void ValueControls::setWriteListener(WriteListener listener) {
    std::lock_guard lock(m_mutex);
    m_write = std::move(listener);
}

void ValueControls::setCloseListener(std::function<void()> listener) {
    std::lock_guard lock(m_mutex);
    m_close = std::move(listener);
}

} // namespace zelkor
