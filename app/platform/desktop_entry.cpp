#include "app/platform/desktop_entry.h"

#include <fstream>
#include <system_error>
#include <unistd.h>

namespace zelkor::app::platform {
namespace {

// Exec= quoting of the desktop entry format: the argument in double quotes, with the double quote,
// backquote, dollar and backslash escaped, and "%" doubled (a lone one starts a field code); then
// the string-value escaping doubles backslashes again.
std::string quoteExec(const std::string& arg) {
    std::string quoted = "\"";
    for (char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    quoted += '"';
    std::string escaped;
    for (char c : quoted) {
        if (c == '\\') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

// Newlines would end the key; nothing else in a plain string value needs care.
std::string plainValue(const std::string& value) {
    std::string out;
    for (char c : value) {
        if (c == '\n' || c == '\r')
            out += ' ';
        else
            out += c;
    }
    return out;
}

} // namespace

bool writeDesktopEntry(const std::filesystem::path& desktop, const std::string& name,
                       const std::filesystem::path& target) {
    std::string base = name;
    if (const auto slash = base.find_last_of('/'); slash != std::string::npos) {
        base = std::filesystem::path(base).stem().string();
    }
    if (base.empty()) return false;
    const std::filesystem::path entry = desktop / (base + ".desktop");

    std::error_code ec;
    std::filesystem::remove(entry, ec);
    if (!target.has_parent_path() || target.parent_path().empty()) return false;

    const std::filesystem::path temp = desktop / ("." + base + ".desktop.tmp");
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out << "[Desktop Entry]\n"
            << "Type=Application\n"
            << "Version=1.0\n"
            << "Name=" << plainValue(base) << "\n"
            << "Exec=" << quoteExec(target.string()) << "\n"
            << "Path=" << plainValue(target.parent_path().string()) << "\n"
            << "Icon=" << kIconName << "\n"
            << "Terminal=false\n"
            << "Categories=Utility;\n";
        out.flush();
        if (!out) {
            out.close();
            std::filesystem::remove(temp, ec);
            return false;
        }
    }
    // Launchers on the desktop are only offered to run when marked executable.
    std::filesystem::permissions(temp,
                                 std::filesystem::perms::owner_exec | std::filesystem::perms::group_exec |
                                     std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::rename(temp, entry, ec);
    if (ec) {
        std::filesystem::remove(temp, ec);
        return false;
    }
    return true;
}

} // namespace zelkor::app::platform
