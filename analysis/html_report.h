#pragma once
// The report of a run as one HTML file that opens offline in any browser: a summary, the charts,
// the demand map of each seed, a table per service and per seed, and every result in a table a
// small script of our own sorts and filters. Nothing is fetched: styles and pictures are inline,
// and the page's content security policy allows no script but that one (by its hash), so even a
// phrase that escaped escaping could not run. Everything a service or a store gave is escaped.

#include "analysis/demand_map.h"
#include "analysis/root_words.h"
#include "analysis/run_statistics.h"
#include "engine/core/expected.h"
#include "engine/core/health_report.h"
#include "engine/core/records.h"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace zelkor {

// What is known of the run beyond its results; UTF-8, empty when unknown.
struct ReportFacts {
    std::vector<std::string> seeds;
    std::vector<std::pair<std::string, std::string>> options; // control name, value
    std::string started, ended;
    double seconds = -1;  // the run's own time, when it was watched
    std::string state;    // how the run ended, or where it stands ("finished", "stopped", …)
    std::string store;    // where the results were read from
};

inline constexpr int kMaxSeedMaps = 20; // seeds past these are listed, without a map

struct HtmlReport {
    std::string html;
    int maps = 0;
    int labelledNodes = 0; // phrases and "+N" marks over every map
};

// `words`, when given, are the results' root words and tags (analyseResults): the report then lists
// the most frequent roots and the phrases under each intent tag.
HtmlReport makeHtmlReport(const ReportFacts& facts, const std::vector<ResultRecord>& results,
                          const HealthReport* health = nullptr, const DemandMapLimits& limits = {},
                          const KeywordWords* words = nullptr);

inline constexpr std::size_t kReportRoots = 50; // root words the report lists

// Writes `html` to `file` through a temporary file renamed over it; refuses, as every export
// does, a directory, a device and the files in `protectedFiles` (a run store).
Expected<Done> writeReportFile(const std::filesystem::path& file, const std::string& html,
                               const std::vector<std::filesystem::path>& protectedFiles = {});

} // namespace zelkor
