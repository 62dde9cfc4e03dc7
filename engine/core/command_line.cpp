#include "engine/core/command_line.h"

#include "engine/core/control_names.h"
#include "engine/core/program_dir.h"
#include "engine/core/text_rules.h"

namespace zelkor {

bool applyCommandLine(const std::vector<std::string>& arguments, Controls& controls,
                      const std::filesystem::path& home) {
    if (arguments.size() != 1) return false;
    controls.setChecked(ctl::kHangup, true);
    controls.setText(ctl::kHangupDir, pathToGbk(home) + "/" + utf8_to_gbk(arguments.front()));
    controls.setText(ctl::kLimit, "100000");
    return true;
}

} // namespace zelkor
