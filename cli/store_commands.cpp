// `runs` and `export`: the history of a database or shared run store.

#include "cli/command.h"
#include "cli/run_options.h"
#include "engine/store/redis_run_store.h"
#include "engine/output/rich_export.h"
#include "engine/store/sqlite_run_store.h"
#include "text/text.h"

#include <cstdio>

namespace zelkor::cli {
namespace {

constexpr const char* kStoreHelp =
    "The store: 'sqlite' (<home>/data/runs.sqlite), 'sqlite:PATH' or 'redis://HOST:PORT/DB'";

// One store's history, whichever kind keeps it.
struct History {
    std::unique_ptr<SqliteRunStore> sqlite;
    std::unique_ptr<RedisRunStore> redis;

    std::vector<RunSummary> listRuns(std::string* error) {
        auto runs = sqlite ? sqlite->listRuns() : redis->listRuns();
        *error = sqlite ? sqlite->error() : redis->error();
        return runs;
    }
};

std::optional<History> openHistory(const std::string& storeText, const SharedOptions& shared, std::string* error) {
    const auto spec = parseStoreSpec(storeText, shared.homeDirectory(), error);
    if (!spec) return std::nullopt;
    History history;
    switch (spec->kind) {
    case StoreSpec::Kind::Files:
        *error = "the files store keeps no history; give --store sqlite, --store sqlite:PATH or --store redis://… "
                 "(a run with --export-format exports its own results)";
        return std::nullopt;
    case StoreSpec::Kind::Sqlite: {
        std::error_code ignored;
        if (!std::filesystem::exists(spec->path, ignored)) {
            *error = "no run store at " + spec->path.string();
            return std::nullopt;
        }
        history.sqlite = SqliteRunStore::open(spec->path, error);
        if (!history.sqlite) return std::nullopt;
        return history;
    }
    case StoreSpec::Kind::Redis: {
        RedisStoreTarget target;
        target.server = *parseRedisUrl(spec->url);
        history.redis = RedisRunStore::open(target, error);
        if (!history.redis) return std::nullopt;
        return history;
    }
    }
    return std::nullopt;
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
        std::string error;
        auto history = openHistory(m_store, shared, &error);
        if (!history) return fail(error);
        const auto runs = history->listRuns(&error);
        if (!error.empty()) return fail(error);
        std::printf("id\tstarted\tstate\tkeywords\tresults\tseeds\n");
        for (const auto& run : runs)
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
        std::string error;
        auto history = openHistory(m_store, shared, &error);
        if (!history) return fail(error);
        std::optional<std::vector<ResultRecord>> records;
        if (history->sqlite) {
            if (!m_run.empty() && (!isDecimalInt(m_run, false) || std::atoll(m_run.c_str()) < 1))
                return fail("invalid --run '" + m_run + "': a run's id, as `runs` lists it");
            records = history->sqlite->runResults(m_run.empty() ? 0 : std::atoll(m_run.c_str()));
            if (!records) return fail(history->sqlite->error());
        } else {
            if (!validRunName(m_run))
                return fail(m_run.empty() ? "a redis:// store needs --run NAME" : "invalid --run '" + m_run + "'");
            records = history->redis->runResults(m_run);
            if (!records) return fail(history->redis->error());
        }
        if (!writeResultsFile(m_output, *records, *parseExportFormat(m_format), &error)) return fail(error);
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
