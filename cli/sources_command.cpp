#include "cli/command.h"

#include <iostream>
#include <optional>
#include <string>

namespace zelkor::cli {

namespace {

class SourcesCommand final : public Command {
  public:
    std::string name() const override { return "sources"; }
    std::string description() const override {
        return "Print the source table as TOML, one [[source]] table per row. Copy a row into "
               "<home>/data/sources.toml (or a file given with --sources-file), keep its index and change "
               "the keys that need it; rows with the indexes that follow the last add sources. With "
               "--sources-file, the table with that file applied, after checking it.";
    }
    void define(CLI::App&) override {}
    int execute(const SharedOptions& shared) override {
        SourceRows rows = builtInSourceRows();
        if (!shared.sourcesFile.empty()) {
            std::string error;
            std::optional<SourceRows> applied = loadSourcesFile(shared.sourcesFile, &error);
            if (!applied) return fail(error);
            rows = std::move(*applied);
        }
        std::cout << sourcesToml(rows);
        std::cout.flush();
        return std::cout ? kExitOk : kExitFailed;
    }
};

} // namespace

std::unique_ptr<Command> makeSourcesCommand() {
    return std::make_unique<SourcesCommand>();
}

} // namespace zelkor::cli
