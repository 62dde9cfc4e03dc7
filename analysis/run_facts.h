#pragma once
// What the HTML report says of a run beside its results, as either face gathers it: from a run
// of this process, or from what a store kept. UTF-8.

#include "analysis/html_report.h"
#include "engine/core/controls.h"
#include "engine/run/mining_run.h"
#include "engine/store/run_history.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zelkor {

// The seed box's lines (GBK, CR LF) as seeds, empty lines left out.
std::vector<std::string> seedLines(const Text& seedsBox);
// A run's options as the report lists them: the seeds (they have a row of their own) and the
// panel left out, lines joined by " | ".
std::vector<std::pair<std::string, std::string>> reportOptions(const RunOptionValues& options);
// "finished", "limit", "stopped", "no seeds", "store failed"; "running" while it goes on.
std::string runEndName(std::optional<RunEnd> end);
// A run of this process: its seeds, options (as captureRunOptions keeps them: no credentials),
// time and how it ended. Where it started and was kept is the face's to add.
ReportFacts runFacts(const MiningRun& run, const Controls& controls);

} // namespace zelkor
