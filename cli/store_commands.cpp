// `runs` and `export`: the history of a database or shared run store.

#include "cli/command.h"
#include "cli/run_options.h"
#include "engine/output/export_target.h"
#include "engine/output/rich_export.h"
#include "engine/store/store_factory.h"
#include "text/text.h"

#include <cstdio>

namespace zelkor::cli {
namespace {

constexpr const char* kStoreHelp =
    "The store: 'sqlite' (<home>/data/runs.sqlite), 'sqlite:PATH' or 'redis://HOST:PORT/DB'";

Expected<std::unique_ptr<RunHistory>> openHistory(const std::string& storeText, const SharedOptions& shared) {
    std::string error;
    const auto spec = parseStoreSpec(storeText, shared.homeDirectory(), &error);
    if (!spec) return Error{error};
    return openRunHistory(*spec);
}

// Where a database store lives: files no export may replace.
std::vector<std::filesystem::path> storeFiles(const std::string& storeText, const SharedOptions& shared) {
    std::string ignored;
    const auto spec = parseStoreSpec(storeText, shared.homeDirectory(), &ignored);
    if (!spec || spec->kind != StoreSpec::Kind::Sqlite) return {};
    return sqliteFiles(spec->path);
}

std::string oneLine(const Text& seeds) {
    std::string out = gbk_to_utf8(seeds);
    for (std::size_t at; (at = out.find("\r\n")) != std::string::npos;) out.replace(at, 2, " | ");
    return out;
}

class RunsCommand final : public Command {
  public:
    std::string name() const override { return "runs"; }
    std::string description() const override {
        return "List the runs of a database or shared store: id (a shared run's name), start, state, keywords "
               "done, results, seeds";
    }
    void define(CLI::App& app) override {
        app.add_option("--store", m_store, kStoreHelp)->option_text("S")->required();
    }
    int execute(const SharedOptions& shared) override {
        auto history = openHistory(m_store, shared);
        if (!history) return fail(history.error().message);
        const auto runs = (*history)->listRuns();
        if (!runs) return fail(runs.error().message);
        std::printf("id\tstarted\tstate\tkeywords\tresults\tseeds\n");
        for (const auto& run : *runs)
            std::printf("%s\t%s\t%s\t%lld\t%lld\t%s\n",
                        run.name.empty() ? std::to_string(run.id).c_str() : run.name.c_str(), run.started.c_str(),
                        std::string(storedRunStateName(run.state)).c_str(), static_cast<long long>(run.keywordsDone),
                        static_cast<long long>(run.results), oneLine(run.seeds).c_str());
        return kExitOk;
    }

  private:
    std::string m_store;
};

class ExportCommand final : public Command {
  public:
    std::string name() const override { return "export"; }
    std::string description() const override {
        return "Write the results of one run of a database or shared store to a file";
    }
    void define(CLI::App& app) override {
        app.add_option("--store", m_store, kStoreHelp)->option_text("S")->required();
        app.add_option("--run", m_run,
                       "The run: its id as `runs` lists it (default: the newest run); for a redis:// store its "
                       "name (required)")
            ->option_text("ID");
        app.add_option("--format", m_format,
                       "txt (the results file: GBK, CR LF, keywords only), csv (UTF-8 with BOM), jsonl or xlsx "
                       "(default: txt)")
            ->option_text("F")
            ->check(CLI::IsMember({"txt", "csv", "jsonl", "xlsx"}));
        app.add_option("-o,--output", m_output, "The file to write")->option_text("FILE")->required();
    }
    int execute(const SharedOptions& shared) override {
        // Nothing else takes these signals here; a stopped export leaves no half file behind.
        removeTempFilesOnSignals();
        auto history = openHistory(m_store, shared);
        if (!history) return fail(history.error().message);
        // Refused before the store is read, so a wrong name costs nothing.
        const std::vector<std::filesystem::path> kept = storeFiles(m_store, shared);
        std::string error;
        if (!resolveExportTarget(m_output, kept, &error)) return fail(error);
        const auto records = (*history)->runResults(m_run);
        if (!records) return fail(records.error().message);
        if (!writeResultsFile(m_output, *records, *parseExportFormat(m_format), &error, kept)) return fail(error);
        std::fprintf(stderr, "zelkor-cli: %zu results written to %s\n", records->size(), m_output.c_str());
        return kExitOk;
    }

  private:
    std::string m_store;
    std::string m_run;
    std::string m_format = "txt";
    std::string m_output;
};

} // namespace

std::unique_ptr<Command> makeRunsCommand() {
    return std::make_unique<RunsCommand>();
}
std::unique_ptr<Command> makeExportCommand() {
    return std::make_unique<ExportCommand>();
}

} // namespace zelkor::cli
