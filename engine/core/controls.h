#pragma once
// The face the engine talks to: the window, or zelkor-cli's terminal. Controls are addressed by
// their real names (UTF-8 in code, e.g. "编辑框_关键词"); values are GBK. Reads give the value at the
// moment of the call; writes never make the calling thread wait for the face's own thread.

#include "text/text.h"

#include <string_view>

namespace zelkor {

class Controls {
public:
    virtual ~Controls() = default;

    virtual Text text(std::string_view control) const = 0;      // edit box text, label or button caption
    virtual bool checked(std::string_view control) const = 0;    // check box
    virtual bool itemChecked(std::string_view list, int index) const = 0; // item of 选择列表框1
    virtual int itemCount(std::string_view list) const = 0;                // items of that list
    virtual void setText(std::string_view control, const Text& value) = 0;
    virtual void setChecked(std::string_view control, bool value) = 0;

    // Appended without a separator of its own; nothing when 选择框_数据不输出 is checked.
    virtual void appendOutput(const Text& text) = 0;
    // appendOutput("\r\n\r\n" + text + "\r\n"), then 标签_tishi shows text (even with output off).
    virtual void showNotice(const Text& text) = 0;
    // Closes the main window, which ends the program.
    virtual void closeWindow() = 0;
};

} // namespace zelkor
