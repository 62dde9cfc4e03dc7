#pragma once
// The run's HTML report as the window writes it: beside the results file, under the same name
// with ".html". It reads the run's results, which may wait for a database store's commit, so it
// is made off the window thread.

#include "engine/core/controls.h"

#include <filesystem>
#include <optional>

namespace zelkor {
class MiningRun;
}

namespace zelkor::app {

// The file the report of `run` goes to.
std::filesystem::path runReportPath(const MiningRun& run);
// Writes it and says so in a notice; the file, or nullopt when it could not be written (the
// notice says why). With 选择框_词根与意图 checked it lists root words and intent tags too (the
// intent file of `home`).
std::optional<std::filesystem::path> writeRunReport(const MiningRun& run, Controls& controls,
                                                    const std::filesystem::path& home);

} // namespace zelkor::app
