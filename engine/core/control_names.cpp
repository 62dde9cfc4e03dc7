#include "engine/core/control_names.h"

#include "engine/core/program_dir.h"
#include "engine/core/text_rules.h"

namespace zelkor {

void applyWindowDefaults(Controls& controls, const std::filesystem::path& home) {
    controls.setText(ctl::kSeeds, gbk(ctl::kDefaultSeeds));
    controls.setText(ctl::kForbidden, gbk(ctl::kDefaultForbidden));
    controls.setText(ctl::kLimit, gbk(ctl::kDefaultLimit));
    controls.setText(ctl::kDelay, gbk(ctl::kDefaultDelay));
    controls.setText(ctl::kSaveDir, pathToGbk(home) + "/");
    controls.setText(ctl::kHangupDir, Text());
    controls.setText(ctl::kPanel, Text());
    controls.setText(ctl::kCountLabel, gbk(ctl::kDefaultCountCaption));
    controls.setText(ctl::kNoticeLabel, Text());
    controls.setText(ctl::kStartButton, gbk(ctl::kCaptionStart));
    controls.setChecked(ctl::kMainWordOnly, true);
    controls.setChecked(ctl::kAutoSave, true);
    controls.setChecked(ctl::kNoOutput, false);
    controls.setChecked(ctl::kHangup, false);
}

} // namespace zelkor
