#include "engine/core/program_dir.h"

#include <cstdlib>
#include <system_error>

namespace zelkor {

std::filesystem::path programDirectoryFor(const std::filesystem::path& executableDir,
                                          const std::function<const char*(const char*)>& variable) {
    auto value = [&](const char* name) -> std::string {
        const char* v = variable(name);
        return v ? v : "";
    };
    if (const std::string home = value("ZELKOR_HOME"); !home.empty()) return home;
    std::error_code error;
    const bool installed = executableDir.filename() == "bin" &&
                           std::filesystem::is_directory(executableDir.parent_path() / "share" / "zelkor", error);
    if (!installed) return executableDir;
    // A relative XDG_DATA_HOME is invalid and ignored, as the base directory rules say.
    const std::filesystem::path data = value("XDG_DATA_HOME");
    if (data.is_absolute()) return data / "zelkor";
    return std::filesystem::path(value("HOME")) / ".local" / "share" / "zelkor";
}

std::filesystem::path programDirectory() {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    const std::filesystem::path executableDir = error ? std::filesystem::current_path(error) : exe.parent_path();
    const std::filesystem::path dir = programDirectoryFor(executableDir, [](const char* name) { return std::getenv(name); });
    // An installed program keeps its state in the user's data directory, made on first use.
    const char* home = std::getenv("ZELKOR_HOME");
    if ((!home || !*home) && dir != executableDir) std::filesystem::create_directories(dir, error);
    return dir;
}

std::filesystem::path gbkToPath(const Text& text) {
    return std::filesystem::path(gbk_to_utf8(text));
}

Text pathToGbk(const std::filesystem::path& path) {
    return utf8_to_gbk(path.string());
}

} // namespace zelkor
