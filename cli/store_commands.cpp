// `runs` and `export`: the history of a database or shared run store.

#include "analysis/result_words.h"
#include "cli/command.h"
#include "cli/run_options.h"
#include "engine/output/export_target.h"
#include "engine/output/rich_export.h"
#include "engine/store/store_factory.h"
#include "text/text.h"

#include <cctype>
#include <cstdio>
#include <optional>

namespace zelkor::cli {
namespace {

constexpr const char* kStoreHelp =
    "The store: 'sqlite' (<home>/data/runs.sqlite), 'sqlite:PATH' or 'redis://[[USER]:PASSWORD@]HOST:PORT/DB'";

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

// Stored text as a terminal may show it: whoever can write the store chose these bytes. Control
// characters (C0, DEL, and C1, which also start escape sequences) and bytes that are not UTF-8
// are written as \xHH (\u00HH for a C1 character); a backslash as \\.
std::string printable(std::string_view utf8) {
    static const char* const hex = "0123456789abcdef";
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(utf8[i]); };
    const auto escaped = [&](unsigned char byte) { return std::string("\\x") + hex[byte >> 4] + hex[byte & 15]; };
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char byte = at(i);
        if (byte < 0x80) {
            out += byte < 0x20 || byte == 0x7F ? escaped(byte) : byte == '\\' ? "\\\\" : std::string(1, utf8[i]);
            ++i;
            continue;
        }
        const std::size_t length = byte >= 0xF0 && byte <= 0xF4 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC2 && byte < 0xE0 ? 2 : 0;
        bool valid = length > 0 && i + length <= utf8.size();
        for (std::size_t k = 1; valid && k < length; ++k) valid = (at(i + k) & 0xC0) == 0x80;
        if (!valid) {
            out += escaped(byte);
            ++i;
            continue;
        }
        if (byte == 0xC2 && at(i + 1) <= 0x9F)
            out += std::string("\\u00") + hex[at(i + 1) >> 4] + hex[at(i + 1) & 15];
        else
            out.append(utf8.substr(i, length));
        i += length;
    }
    return out;
}

std::string oneLine(const Text& seeds) {
    std::string out = gbk_to_utf8(seeds);
    for (std::size_t at; (at = out.find("\r\n")) != std::string::npos;) out.replace(at, 2, " | ");
    return printable(out);
}

class RunsCommand final : public Command {
  public:
    std::string name() const override { return "runs"; }
    std::string description() const override {
        return "List the runs of a database or shared store: id (a shared run's name), start, state, keywords "
               "done, results, seeds, whether --resume can take it";
    }
    void define(CLI::App& app) override {
        app.add_option("--store", m_store, kStoreHelp)->option_text("S")->required();
    }
    int execute(const SharedOptions& shared) override {
        auto history = openHistory(m_store, shared);
        if (!history) return fail(history.error().message);
        const auto runs = (*history)->listRuns();
        if (!runs) return fail(runs.error().message);
        std::printf("id\tstarted\tstate\tkeywords\tresults\tseeds\tresumable\n");
        for (const auto& run : *runs)
            std::printf("%s\t%s\t%s\t%lld\t%lld\t%s\t%s\n",
                        run.name.empty() ? std::to_string(run.id).c_str() : printable(run.name).c_str(),
                        printable(run.started).c_str(), std::string(storedRunStateName(run.state)).c_str(),
                        static_cast<long long>(run.keywordsDone), static_cast<long long>(run.results),
                        oneLine(run.seeds).c_str(), run.name.empty() && storedRunResumable(run.state) ? "yes" : "no");
        return kExitOk;
    }

  private:
    std::string m_store;
};

// --format, else the output file's extension in any case; nullopt when neither says.
std::optional<ExportFormat> chosenFormat(const std::string& format, const std::string& output) {
    if (!format.empty()) return parseExportFormat(format);
    std::string extension = std::filesystem::path(output).extension().string();
    if (extension.empty()) return std::nullopt;
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return parseExportFormat(std::string_view(extension).substr(1));
}

std::string unknownFormat(const std::string& output) {
    return "cannot tell the format of " + output +
           " from its name: give --format txt, csv, jsonl or xlsx, or name the file .txt, .csv, .jsonl or .xlsx";
}

// The output file checked before the store is read, so a wrong name costs nothing; its directory
// made when missing.
std::optional<std::string> outputProblem(const std::string& output, const std::vector<std::filesystem::path>& kept) {
    std::string error;
    const auto directory = std::filesystem::path(output).parent_path();
    if (!ensureOutputDirectory(directory, &error)) return "cannot write into " + directory.string() + ": " + error;
    if (!resolveExportTarget(output, kept, &error)) return error;
    return std::nullopt;
}

// Root words and tags of stored results, with the run's own words set aside.
Expected<KeywordWords> wordsOf(const std::vector<ResultRecord>& records, const SharedOptions& shared) {
    Expected<IntentTags> tags = loadIntentTags(shared.homeDirectory());
    if (!tags) return tags.error();
    return analyseResults(records, *tags);
}

// Each service's index by its name, for the exports' source_index column.
SourceIndexes sourceIndexes(const SharedOptions& shared) {
    std::vector<std::pair<int, Text>> names;
    std::string ignored; // a sources file that cannot be read leaves the column empty
    if (const auto rows = shared.loadSources(&ignored))
        for (const SourceRow& row : *rows) names.emplace_back(row.index, utf8_to_gbk(row.outputName));
    return sourceIndexesOf(names);
}

int reportDamaged(RunHistory& history) {
    const std::size_t damaged = history.damagedResults();
    if (damaged == 0) return kExitOk;
    std::fprintf(stderr, "zelkor-cli: %zu damaged results in the store could not be read and are not in the file\n",
                 damaged);
    return kExitFailed;
}

// What `export` and `groups` share: a stored run's results bound for a file of a chosen format.
class StoredResultsCommand : public Command {
  protected:
    struct Loaded {
        std::unique_ptr<RunHistory> history;
        std::vector<std::filesystem::path> kept; // the store's own files, never written
        ExportFormat format = ExportFormat::Txt;
        std::vector<ResultRecord> records;
    };

    void defineStoredResults(CLI::App& app, const std::string& storeHelp, const std::string& formatHelp) {
        auto* store = app.add_option("--store", m_store, storeHelp)->option_text("S");
        if (m_store.empty()) store->required();
        app.add_option("--run", m_run,
                       "The run: its id as `runs` lists it (default: the newest run); for a redis:// store its "
                       "name (required)")
            ->option_text("ID");
        app.add_option("--format", m_format, formatHelp)
            ->option_text("F")
            ->check(CLI::IsMember({"txt", "csv", "jsonl", "xlsx"}));
        app.add_option("-o,--output", m_output, "The file to write")->option_text("FILE")->required();
    }

    // The output checked before the store is read, so a wrong name costs nothing; then the results.
    Expected<Loaded> load(const SharedOptions& shared) {
        // Nothing else takes these signals here; a stopped export leaves no half file behind.
        removeTempFilesOnSignals();
        auto history = openHistory(m_store, shared);
        if (!history) return history.error();
        Loaded loaded;
        loaded.history = std::move(*history);
        loaded.kept = storeFiles(m_store, shared);
        if (auto problem = outputProblem(m_output, loaded.kept)) return Error{*problem};
        const std::optional<ExportFormat> format = chosenFormat(m_format, m_output);
        if (!format) return Error{unknownFormat(m_output)};
        loaded.format = *format;
        auto records = loaded.history->runResults(m_run);
        if (!records) return records.error();
        loaded.records = std::move(*records);
        return loaded;
    }

    std::string m_store; // set before defineStoredResults: the default; else --store is required
    std::string m_run;
    std::string m_format; // empty: from the output file's extension
    std::string m_output;
};

class ExportCommand final : public StoredResultsCommand {
  public:
    std::string name() const override { return "export"; }
    std::string description() const override {
        return "Write the results of one run of a database or shared store to a file";
    }
    void define(CLI::App& app) override {
        defineStoredResults(app, kStoreHelp,
                            "txt (the results file: GBK, CR LF, keywords only), csv (UTF-8 with BOM), jsonl or xlsx "
                            "(default: from FILE's extension: .txt, .csv, .jsonl or .xlsx)");
        app.add_flag("--words", m_words,
                     "Add each result's root word and intent tags (columns root and tags) to csv, jsonl and xlsx");
    }
    int execute(const SharedOptions& shared) override {
        Expected<Loaded> loaded = load(shared);
        if (!loaded) return fail(loaded.error().message);
        ExtraColumns extra = hitColumns(loaded->records);
        if (m_words) {
            Expected<KeywordWords> words = wordsOf(loaded->records, shared);
            if (!words) return fail(words.error().message);
            for (ExtraColumn& column : wordColumns(*words)) extra.push_back(std::move(column));
        }
        std::string error;
        if (!writeResultsFile(m_output, loaded->records, loaded->format, &error, loaded->kept, sourceIndexes(shared),
                              extra))
            return fail(error);
        std::fprintf(stderr, "zelkor-cli: %zu results written to %s\n", loaded->records.size(), m_output.c_str());
        return reportDamaged(*loaded->history);
    }

  private:
    bool m_words = false;
};

class GroupsCommand final : public StoredResultsCommand {
  public:
    std::string name() const override { return "groups"; }
    std::string description() const override {
        return "Write the results of one stored run grouped by root word (词根) or by intent tag";
    }
    void define(CLI::App& app) override {
        m_store = "sqlite";
        defineStoredResults(app, std::string(kStoreHelp) + " (default: sqlite)",
                            "txt (a block per group, GBK, CR LF), csv (UTF-8 with BOM, a last column group), jsonl "
                            "or xlsx (a sheet per group) (default: from FILE's extension)");
        app.add_option("--by", m_by,
                       "root: each phrase under its most frequent word beyond its seed; tag: under each intent "
                       "tag it has (疑问, 价格, 比较, 评价, 时间, 地域 and those of <home>/data/intent.toml) "
                       "(default: root)")
            ->option_text("root|tag")
            ->check(CLI::IsMember({"root", "tag"}));
    }
    int execute(const SharedOptions& shared) override {
        Expected<Loaded> loaded = load(shared);
        if (!loaded) return fail(loaded.error().message);
        Expected<KeywordWords> words = wordsOf(loaded->records, shared);
        if (!words) return fail(words.error().message);
        const std::vector<ResultGroup> groups = groupKeywords(*words, m_by == "tag" ? GroupBy::Tag : GroupBy::Root);
        ExtraColumns extra = hitColumns(loaded->records);
        for (ExtraColumn& column : wordColumns(*words)) extra.push_back(std::move(column));
        std::string error;
        if (!writeGroupedResults(m_output, loaded->records, groups, loaded->format, &error, loaded->kept,
                                 sourceIndexes(shared), extra))
            return fail(error);
        std::fprintf(stderr, "zelkor-cli: %zu results in %zu groups written to %s\n", loaded->records.size(),
                     groups.size(), m_output.c_str());
        return reportDamaged(*loaded->history);
    }

  private:
    std::string m_by = "root";
};

} // namespace

std::unique_ptr<Command> makeRunsCommand() {
    return std::make_unique<RunsCommand>();
}
std::unique_ptr<Command> makeExportCommand() {
    return std::make_unique<ExportCommand>();
}
std::unique_ptr<Command> makeGroupsCommand() {
    return std::make_unique<GroupsCommand>();
}

} // namespace zelkor::cli
