#include "app/run_report.h"

#include "analysis/html_report.h"
#include "analysis/result_words.h"
#include "analysis/run_facts.h"
#include "engine/core/control_names.h"
#include "engine/core/program_dir.h"
#include "engine/run/mining_run.h"

namespace zelkor::app {

std::filesystem::path runReportPath(const MiningRun& run) {
    std::filesystem::path file = gbkToPath(run.resultsPathText());
    file.replace_extension(".html");
    return file;
}

std::optional<std::filesystem::path> writeRunReport(const MiningRun& run, Controls& controls,
                                                    const std::filesystem::path& home) {
    const std::filesystem::path file = runReportPath(run);
    const HealthReport health = run.report();
    const std::vector<ResultRecord> results = run.results();
    std::optional<KeywordWords> words;
    if (controls.checked(ctl::kKeywordWords)) {
        Expected<IntentTags> tags = loadIntentTags(home);
        Expected<KeywordWords> made = tags ? analyseResults(results, *tags) : Expected<KeywordWords>(tags.error());
        if (made)
            words = std::move(*made);
        else
            controls.showNotice(utf8_to_gbk("采集报告不含词根与意图：" + made.error().message));
    }
    const HtmlReport report = makeHtmlReport(runFacts(run, controls), results, &health, {}, words ? &*words : nullptr);
    const Expected<Done> written = writeReportFile(file, report.html);
    if (!written) {
        controls.showNotice(utf8_to_gbk("采集报告没能保存：" + written.error().message));
        return std::nullopt;
    }
    controls.showNotice(utf8_to_gbk("采集报告已保存到：") + pathToGbk(file));
    return file;
}

} // namespace zelkor::app
