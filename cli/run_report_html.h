#pragma once
// The HTML report as zelkor-cli writes it, after a run (--report-html) or from a store (`report`).

#include "analysis/html_report.h"
#include "engine/store/run_history.h"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace zelkor::cli {

// Writes the report and says so on standard error; kExitOk, or kExitFailed with the reason printed.
int writeHtml(const std::filesystem::path& file, const ReportFacts& facts, const std::vector<ResultRecord>& results,
              const HealthReport* health, const std::vector<std::filesystem::path>& protectedFiles);

} // namespace zelkor::cli
