#pragma once
// Controls held as plain values, for zelkor-cli and tests. Thread-safe: any thread may read and
// write. The panel follows the window's rules (nothing while 选择框_数据不输出 is checked, emptied
// past 20 000 bytes); every text the panel receives is also handed to the listener.

#include "engine/core/control_values.h"
#include "engine/core/controls.h"

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace zelkor {

class ValueControls : public Controls {
  public:
    // Called with every text appended to the panel (GBK), and with every caption or text write.
    using OutputListener = std::function<void(const Text& appended)>;
    using WriteListener = std::function<void(std::string_view control, const Text& value)>;

    ValueControls() = default;

    Text text(std::string_view control) const override;
    bool checked(std::string_view control) const override;
    bool itemChecked(std::string_view list, int index) const override;
    int itemCount(std::string_view list) const override { return m_values.itemCount(list); }
    void setText(std::string_view control, const Text& value) override;
    void setChecked(std::string_view control, bool value) override;
    void setItemChecked(std::string_view list, int index, bool value);

    void appendOutput(const Text& text) override;
    void showNotice(const Text& text) override;
    void closeWindow() override;

    bool closeRequested() const;
    // The texts given to showNotice, in order (GBK): the latest kKeptNotices of them, so that a
    // long run does not hold every notice it ever gave.
    static constexpr std::size_t kKeptNotices = 4096;
    std::vector<Text> notices() const;

    void setOutputListener(OutputListener listener);
    void setWriteListener(WriteListener listener);
    void setCloseListener(std::function<void()> listener);

  private:
    ControlValues m_values;
    mutable std::mutex m_mutex; // the panel, the notices and the listeners
    std::deque<Text> m_notices;
    bool m_closed = false;
    OutputListener m_output;
    WriteListener m_write;
    std::function<void()> m_close;
};

} // namespace zelkor
