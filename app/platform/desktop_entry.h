#pragma once

#include <filesystem>
#include <string>

namespace zelkor::app::platform {

// The program's icon in the icon theme (share/icons/hicolor/scalable/apps/zelkor.svg when installed).
inline constexpr const char* kIconName = "zelkor";

// Writes <desktop>/<name>.desktop, a freedesktop launcher for `target` started in its own
// directory, replacing any earlier file of that name. `name` is UTF-8; a path in it counts by its
// file-name part without extension. False when nothing was written (target without a directory,
// unwritable desktop folder).
bool writeDesktopEntry(const std::filesystem::path& desktop, const std::string& name,
                       const std::filesystem::path& target);

} // namespace zelkor::app::platform
