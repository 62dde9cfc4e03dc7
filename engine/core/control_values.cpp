#include "engine/core/control_values.h"

#include <algorithm>

namespace zelkor {

Text ControlValues::text(std::string_view control) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_texts.find(control);
    return it == m_texts.end() ? Text() : it->second;
}

bool ControlValues::checked(std::string_view control) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_checks.find(control);
    return it != m_checks.end() && it->second;
}

int ControlValues::itemCount(std::string_view list) const {
    std::lock_guard lock(m_mutex);
    int count = 0;
    for (const auto& [key, value] : m_items)
        if (key.first == list) count = std::max(count, key.second + 1);
    return count;
}

bool ControlValues::item(std::string_view list, int index) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_items.find(std::pair<std::string, int>(list, index));
    return it != m_items.end() && it->second;
}

void ControlValues::setText(std::string_view control, const Text& value) {
    std::lock_guard lock(m_mutex);
    m_texts.insert_or_assign(std::string(control), value);
}

void ControlValues::setChecked(std::string_view control, bool value) {
    std::lock_guard lock(m_mutex);
    m_checks.insert_or_assign(std::string(control), value);
}

void ControlValues::setItem(std::string_view list, int index, bool value) {
    std::lock_guard lock(m_mutex);
    m_items.insert_or_assign({std::string(list), index}, value);
}

} // namespace zelkor
