#include "app/run_report.h"

#include "analysis/html_report.h"
#include "analysis/run_facts.h"
#include "engine/core/program_dir.h"
#include "engine/run/mining_run.h"

namespace zelkor::app {

std::filesystem::path runReportPath(const MiningRun& run) {
    std::filesystem::path file = gbkToPath(run.resultsPathText());
    file.replace_extension(".html");
    return file;
}

std::optional<std::filesystem::path> writeRunReport(const MiningRun& run, Controls& controls) {
    const std::filesystem::path file = runReportPath(run);
    const HealthReport health = run.report();
    const HtmlReport report = makeHtmlReport(runFacts(run, controls), run.results(), &health);
    const Expected<Done> written = writeReportFile(file, report.html);
    if (!written) {
        controls.showNotice(utf8_to_gbk("采集报告没能保存：" + written.error().message));
        return std::nullopt;
    }
    controls.showNotice(utf8_to_gbk("采集报告已保存到：") + pathToGbk(file));
    return file;
}

} // namespace zelkor::app
