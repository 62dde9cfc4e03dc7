#include "engine/value_controls.h"

#include "engine/control_names.h"

namespace zelkor {

Text ValueControls::text(std::string_view control) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_texts.find(control);
    return it == m_texts.end() ? Text() : it->second;
}

bool ValueControls::checked(std::string_view control) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_checks.find(control);
    return it != m_checks.end() && it->second;
}

bool ValueControls::itemChecked(std::string_view list, int index) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_items.find({std::string(list), index});
    return it != m_items.end() && it->second;
}

void ValueControls::setText(std::string_view control, const Text& value) {
    std::lock_guard lock(m_mutex);
    m_texts.insert_or_assign(std::string(control), value);
    if (m_write) m_write(control, value);
}

void ValueControls::setChecked(std::string_view control, bool value) {
    std::lock_guard lock(m_mutex);
    m_checks.insert_or_assign(std::string(control), value);
}

void ValueControls::setItemChecked(std::string_view list, int index, bool value) {
    std::lock_guard lock(m_mutex);
    m_items.insert_or_assign({std::string(list), index}, value);
}

void ValueControls::appendOutput(const Text& text) {
    std::lock_guard lock(m_mutex);
    if (const auto it = m_checks.find(ctl::kNoOutput); it != m_checks.end() && it->second) return;
    auto& panel = m_texts[std::string(ctl::kPanel)];
    panel += text;
    if (panel.size() > static_cast<std::size_t>(ctl::kPanelLimit)) panel.clear();
    if (m_output) m_output(text);
}

void ValueControls::showNotice(const Text& text) {
    appendOutput("\r\n\r\n" + text + "\r\n");
    std::lock_guard lock(m_mutex);
    m_notices.push_back(text);
    m_texts.insert_or_assign(std::string(ctl::kNoticeLabel), text);
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
    return m_notices;
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
