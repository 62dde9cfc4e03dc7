#pragma once
// The HTML report as zelkor-cli writes it, after a run (--report-html) or from a store (`report`).

#include "analysis/html_report.h"
#include "engine/store/run_history.h"

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zelkor::cli {

// Writes the report and says so on standard error; kExitOk, or kExitFailed with the reason printed.
// With `wordsHome`, the report also lists root words and intent tags (with that home's intent file);
// when they cannot be made, the report goes without them and standard error says why.
int writeHtml(const std::filesystem::path& file, const ReportFacts& facts, const std::vector<ResultRecord>& results,
              const HealthReport* health, const std::vector<std::filesystem::path>& protectedFiles,
              const std::optional<std::filesystem::path>& wordsHome = std::nullopt);

} // namespace zelkor::cli
