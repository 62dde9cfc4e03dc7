// `runs` and `export`: the history of a database run store.

#include "cli/command.h"
#include "engine/rich_export.h"
#include "engine/sqlite_run_store.h"
#include "text/text.h"

#include <cstdio>

namespace zelkor::cli {
namespace {

std::unique_ptr<SqliteRunStore> openHistory(const std::string& storeText, const SharedOptions& shared,
                                            std::string* error) {
    const auto spec = parseStoreSpec(storeText, shared.homeDirectory(), error);
    if (!spec) return nullptr;
    if (spec->kind == StoreSpec::Kind::Files) {
        *error = "the files store keeps no history; give --store sqlite or --store sqlite:PATH "
                 "(a run with --format exports its own results)";
        return nullptr;
    }
    std::error_code ignored;
    if (!std::filesystem::exists(spec->path, ignored)) {
        *error = "no run store at " + spec->path.string();
        return nullptr;
    }
    return SqliteRunStore::open(spec->path, error);
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
        return "List the runs of a database store: id, start, state, keywords done, results, seeds";
    }
    void define(CLI::App& app) override {
        app.add_option("--store", m_store, "The store: 'sqlite' (<home>/data/runs.sqlite) or 'sqlite:PATH'")
            ->option_text("S")
            ->required();
    }
    int execute(const SharedOptions& shared) override {
        std::string error;
        const auto store = openHistory(m_store, shared, &error);
        if (!store) return fail(error);
        const auto runs = store->listRuns();
        if (!store->error().empty()) return fail(store->error());
        std::printf("id\tstarted\tstate\tkeywords\tresults\tseeds\n");
        for (const auto& run : runs)
            std::printf("%lld\t%s\t%s\t%lld\t%lld\t%s\n", static_cast<long long>(run.id), run.started.c_str(),
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
        return "Write the results of one run of a database store to a file";
    }
    void define(CLI::App& app) override {
        app.add_option("--store", m_store, "The store: 'sqlite' (<home>/data/runs.sqlite) or 'sqlite:PATH'")
            ->option_text("S")
            ->required();
        app.add_option("--run", m_run, "The run's id, as `runs` lists it (default: the newest run)")
            ->option_text("ID")
            ->check(CLI::PositiveNumber);
        app.add_option("--format", m_format,
                       "txt (the results file: GBK, CR LF, keywords only), csv (UTF-8 with BOM), jsonl or xlsx "
                       "(default: txt)")
            ->option_text("F")
            ->check(CLI::IsMember({"txt", "csv", "jsonl", "xlsx"}));
        app.add_option("-o,--output", m_output, "The file to write")->option_text("FILE")->required();
    }
    int execute(const SharedOptions& shared) override {
        std::string error;
        const auto store = openHistory(m_store, shared, &error);
        if (!store) return fail(error);
        const auto records = store->runResults(m_run);
        if (!records) return fail(store->error());
        if (!writeResultsFile(m_output, *records, *parseExportFormat(m_format), &error)) return fail(error);
        std::fprintf(stderr, "zelkor-cli: %zu results written to %s\n", records->size(), m_output.c_str());
        return kExitOk;
    }

  private:
    std::string m_store;
    std::int64_t m_run = 0;
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
