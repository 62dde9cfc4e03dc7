#pragma once

#include <filesystem>

namespace zelkor::app::platform {

// The user's documents and desktop folders (XDG user directories).
std::filesystem::path documentsFolder();
std::filesystem::path desktopFolder();

} // namespace zelkor::app::platform
