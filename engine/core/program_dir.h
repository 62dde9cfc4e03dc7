#pragma once
// Where the program keeps its state, and the bridge between GBK texts and file-system paths.

#include "text/text.h"

#include <filesystem>
#include <functional>

namespace zelkor {

// $ZELKOR_HOME when set and not empty; else, for an installed program (its executable in a bin/
// with ../share/zelkor beside it), $XDG_DATA_HOME/zelkor (~/.local/share/zelkor by default),
// created on first use; else the directory of the running executable.
std::filesystem::path programDirectory();

// The same decision for an executable in `executableDir`, with environment variables read through
// `variable` (nullptr: not set); creates nothing.
std::filesystem::path programDirectoryFor(const std::filesystem::path& executableDir,
                                          const std::function<const char*(const char*)>& variable);

// File names are UTF-8 on disk; texts in controls are GBK.
std::filesystem::path gbkToPath(const Text& text);
Text pathToGbk(const std::filesystem::path& path);

} // namespace zelkor
