#include "analysis/run_facts.h"

#include "engine/core/control_names.h"
#include "text/text.h"

namespace zelkor {

std::vector<std::string> seedLines(const Text& seedsBox) {
    std::vector<std::string> seeds;
    for (const Text& line : text_split(seedsBox, "\r\n"))
        if (!line.empty()) seeds.push_back(gbk_to_utf8(line));
    return seeds;
}

std::vector<std::pair<std::string, std::string>> reportOptions(const RunOptionValues& options) {
    std::vector<std::pair<std::string, std::string>> shown;
    for (const auto& [name, value] : options) {
        if (name == ctl::kSeeds || name == ctl::kPanel) continue;
        std::string text = gbk_to_utf8(value);
        for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, " | ");
        shown.emplace_back(name, std::move(text));
    }
    return shown;
}

std::string runEndName(std::optional<RunEnd> end) {
    if (!end) return "running";
    switch (*end) {
    case RunEnd::NoSeeds: return "no seeds";
    case RunEnd::QueueDry: return "finished";
    case RunEnd::LimitReached: return "limit";
    case RunEnd::Stopped: return "stopped";
    case RunEnd::StoreFailed: return "store failed";
    case RunEnd::ProxiesGone: return "proxies gone";
    }
    return "running";
}

ReportFacts runFacts(const MiningRun& run, const Controls& controls) {
    ReportFacts facts;
    for (const Text& seed : run.seeds()) facts.seeds.push_back(gbk_to_utf8(seed));
    facts.options = reportOptions(captureRunOptions(controls));
    facts.seconds = run.report().seconds;
    facts.state = runEndName(run.end());
    return facts;
}

} // namespace zelkor
