#pragma once
// Where the program keeps its state, and the bridge between GBK texts and file-system paths.

#include "text/text.h"

#include <filesystem>

namespace zelkor {

// $ZELKOR_HOME when set and not empty, else the directory of the running executable.
std::filesystem::path programDirectory();

// File names are UTF-8 on disk; texts in controls are GBK.
std::filesystem::path gbkToPath(const Text& text);
Text pathToGbk(const std::filesystem::path& path);

} // namespace zelkor
