#include "engine/program_dir.h"

#include <cstdlib>
#include <system_error>

namespace zelkor {

std::filesystem::path programDirectory() {
    if (const char* home = std::getenv("ZELKOR_HOME"); home && *home) return std::filesystem::path(home);
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) return exe.parent_path();
    return std::filesystem::current_path(error);
}

std::filesystem::path gbkToPath(const Text& text) {
    return std::filesystem::path(gbk_to_utf8(text));
}

Text pathToGbk(const std::filesystem::path& path) {
    return utf8_to_gbk(path.string());
}

} // namespace zelkor
