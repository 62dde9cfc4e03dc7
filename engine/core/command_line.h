#pragma once
// The unattended start: exactly one argument names a keyword folder beside the program.

#include "engine/core/controls.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zelkor {

// With exactly one argument: ticks 选择框_挂机模式, sets 编辑框_挂机keyword to home + "/" + the
// argument and 编辑框_挖掘数量 to "100000", and returns true: the face then minimises its window and
// performs Start. Otherwise changes nothing and returns false. Arguments are UTF-8.
bool applyCommandLine(const std::vector<std::string>& arguments, Controls& controls,
                      const std::filesystem::path& home);

} // namespace zelkor
