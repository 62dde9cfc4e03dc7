// `report`: the HTML report of one run of a database or shared store.

#include "analysis/html_report.h"
#include "analysis/result_words.h"
#include "analysis/run_facts.h"
#include "cli/command.h"
#include "cli/run_report_html.h"
#include "engine/core/settings.h"
#include "engine/core/control_names.h"
#include "engine/output/export_target.h"
#include "engine/store/store_factory.h"
#include "text/text.h"

#include <cstdio>

namespace zelkor::cli {

int writeHtml(const std::filesystem::path& file, const ReportFacts& facts, const std::vector<ResultRecord>& results,
              const HealthReport* health, const std::vector<std::filesystem::path>& protectedFiles,
              const std::optional<std::filesystem::path>& wordsHome) {
    std::optional<KeywordWords> words;
    if (wordsHome) {
        Expected<IntentTags> tags = loadIntentTags(*wordsHome);
        Expected<KeywordWords> made = tags ? analyseResults(results, *tags) : Expected<KeywordWords>(tags.error());
        if (made)
            words = std::move(*made);
        else
            std::fprintf(stderr, "zelkor-cli: the report goes without root words and tags: %s\n",
                         made.error().message.c_str());
    }
    const HtmlReport report = makeHtmlReport(facts, results, health, {}, words ? &*words : nullptr);
    const Expected<Done> written = writeReportFile(file, report.html, protectedFiles);
    if (!written) {
        std::fprintf(stderr, "zelkor-cli: the report could not be written: %s\n", written.error().message.c_str());
        return kExitFailed;
    }
    std::fprintf(stderr, "zelkor-cli: report of %zu results written to %s\n", results.size(), file.c_str());
    return kExitOk;
}

namespace {

class ReportCommand final : public Command {
  public:
    std::string name() const override { return "report"; }
    std::string description() const override {
        return "Write one run of a database or shared store as an HTML report: summary, charts, demand maps, "
               "services, seeds and every result, in one file that opens offline";
    }
    void define(CLI::App& app) override {
        app.add_option("--store", m_store,
                       "The store: 'sqlite' (<home>/data/runs.sqlite), 'sqlite:PATH' or "
                       "'redis://[[USER]:PASSWORD@]HOST:PORT/DB' (default: the settings file's store when it is "
                       "one of these, else 'sqlite')")
            ->option_text("S");
        app.add_option("--run", m_run,
                       "The run: its id as `runs` lists it (default: the newest run); for a redis:// store its "
                       "name (required)")
            ->option_text("ID");
        app.add_option("-o,--output", m_output, "The HTML file to write")->option_text("FILE")->required();
        app.add_flag("--words", m_words, "Also list the results' root words (词根) and intent tags");
    }
    int execute(const SharedOptions& shared) override {
        removeTempFilesOnSignals();
        std::string storeText = m_store;
        if (storeText.empty()) {
            const auto saved = SettingsStore(SettingsStore::defaultFile(shared.homeDirectory())).editText(ctl::kRunStore);
            storeText = saved && !saved->empty() && *saved != "files" ? gbk_to_utf8(*saved) : "sqlite";
        }
        std::string error;
        const auto spec = parseStoreSpec(storeText, shared.homeDirectory(), &error);
        if (!spec) return fail(error);
        if (spec->kind == StoreSpec::Kind::Files)
            return fail("the files store keeps no history; give --store sqlite, sqlite:PATH or redis://HOST:PORT/DB");
        const std::vector<std::filesystem::path> kept =
            spec->kind == StoreSpec::Kind::Sqlite ? sqliteFiles(spec->path) : std::vector<std::filesystem::path>{};
        if (!resolveExportTarget(m_output, kept, &error)) return fail(error);
        if (spec->kind == StoreSpec::Kind::Sqlite && !std::filesystem::exists(spec->path))
            return fail("no run store at " + spec->path.string());
        auto history = openRunHistory(*spec);
        if (!history) return fail(history.error().message);
        const auto records = (*history)->runResults(m_run);
        if (!records) return fail(records.error().message);
        const auto runs = (*history)->listRuns();
        if (!runs) return fail(runs.error().message);
        const auto options = (*history)->runOptions(m_run);
        if (!options) return fail(options.error().message);

        ReportFacts facts;
        facts.store = (*history)->describe();
        const RunSummary* summary = nullptr;
        for (const RunSummary& run : *runs)
            if (m_run.empty() ? true : run.name.empty() ? std::to_string(run.id) == m_run : run.name == m_run)
                summary = &run; // the newest is listed last
        if (summary) {
            facts.seeds = seedLines(summary->seeds);
            facts.started = summary->started;
            facts.state = std::string(storedRunStateName(summary->state));
        }
        facts.options = reportOptions(*options);
        const int status =
            writeHtml(m_output, facts, *records, nullptr, kept,
                      m_words ? std::optional<std::filesystem::path>(shared.homeDirectory()) : std::nullopt);
        if (status == kExitOk && (*history)->damagedResults() > 0) {
            std::fprintf(stderr, "zelkor-cli: %zu damaged results in the store could not be read and are not in the report\n",
                         (*history)->damagedResults());
            return kExitFailed;
        }
        return status;
    }

  private:
    std::string m_store;
    std::string m_run;
    std::string m_output;
    bool m_words = false;
};

} // namespace

std::unique_ptr<Command> makeReportCommand() {
    return std::make_unique<ReportCommand>();
}

} // namespace zelkor::cli
