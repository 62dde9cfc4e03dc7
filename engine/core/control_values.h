#pragma once
// Control values held as plain data: edit box texts, check boxes and list items by name. Any
// thread may read and write; each call sees or makes one whole value. The faces keep their
// mirror of the controls in one of these.

#include "text/text.h"

#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

namespace zelkor {

class ControlValues {
  public:
    Text text(std::string_view control) const; // empty when never set
    bool checked(std::string_view control) const;
    bool item(std::string_view list, int index) const;
    // One past the highest item of `list` ever set: the items a face has.
    int itemCount(std::string_view list) const;
    void setText(std::string_view control, const Text& value);
    void setChecked(std::string_view control, bool value);
    void setItem(std::string_view list, int index, bool value);

  private:
    mutable std::mutex m_mutex;
    std::map<std::string, Text, std::less<>> m_texts;
    std::map<std::string, bool, std::less<>> m_checks;
    std::map<std::pair<std::string, int>, bool, std::less<>> m_items;
};

} // namespace zelkor
