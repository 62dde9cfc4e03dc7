#pragma once

#include <filesystem>

namespace zelkor::app::platform {

// Shows `file` selected in the file manager (org.freedesktop.FileManager1.ShowItems); where no
// file manager answers on the session bus, opens its folder instead. Returns at once.
void showInFolder(const std::filesystem::path& file);

} // namespace zelkor::app::platform
