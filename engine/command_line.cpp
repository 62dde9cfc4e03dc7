#include "engine/command_line.h"

#include "engine/control_names.h"
#include "engine/program_dir.h"
#include "engine/text_rules.h"

namespace zelkor {

std::vector<std::string> splitCommandLine(std::string_view line) {
    std::vector<std::string> arguments;
    std::size_t i = 0;
    while (i < line.size()) {
        if (static_cast<unsigned char>(line[i]) <= 0x20) {
            ++i;
            continue;
        }
        std::string argument;
        bool quoted = false;
        for (; i < line.size(); ++i) {
            const char c = line[i];
            if (c == '"')
                quoted = !quoted;
            else if (!quoted && static_cast<unsigned char>(c) <= 0x20)
                break;
            else
                argument.push_back(c);
        }
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

bool applyCommandLine(const std::vector<std::string>& arguments, Controls& controls,
                      const std::filesystem::path& home) {
    if (arguments.size() != 1) return false;
    controls.setChecked(ctl::kHangup, true);
    controls.setText(ctl::kHangupDir, pathToGbk(home) + "/" + utf8_to_gbk(arguments.front()));
    controls.setText(ctl::kLimit, "100000");
    return true;
}

} // namespace zelkor
