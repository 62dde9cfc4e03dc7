#pragma once
// zelkor-cli's subcommands. Each is a Command: it declares its options on its own CLI11
// subcommand and runs once the command line is parsed. Adding one is writing a Command and
// listing its factory in commands() (cli/main.cpp).

#include "cli/numbers.h"
#include "sources/endpoints.h"
#include "sources/sources_file.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zelkor::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1; // the run's final export or its store failed
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNoAnswers = 3;  // no request got an answer
inline constexpr int kExitIncomplete = 4; // keywords no service answered

// Options valid on the run and on every subcommand, before or after the subcommand's name.
struct SharedOptions {
    std::string home;      // empty: $ZELKOR_HOME, else the executable's directory
    std::string endpoints; // empty: $ZELKOR_ENDPOINTS, else <home>/data/endpoints.ini when present
    std::string sourcesFile; // empty: <home>/data/sources.toml when present

    std::filesystem::path homeDirectory() const;
    // The source table these options give; nullopt with *error set when the file is unusable.
    std::optional<SourceRows> loadSources(std::string* error) const;
    // The endpoints these options name for `sourceCount` sources; nullopt with *error set when the
    // file is unusable.
    std::optional<Endpoints> loadEndpoints(int sourceCount, std::string* error) const;
};

// Declares --home, --endpoints and --sources-file on `app`, bound to `shared`; `presetHome` is shown as the default.
void addSharedOptions(CLI::App& app, SharedOptions& shared, const std::filesystem::path& presetHome);

class Command {
  public:
    virtual ~Command() = default;
    virtual std::string name() const = 0;
    virtual std::string description() const = 0;
    // Declares the subcommand's own options and arguments on `app`.
    virtual void define(CLI::App& app) = 0;
    // Runs it once the command line parsed; returns the exit status.
    virtual int execute(const SharedOptions& shared) = 0;
};

// "zelkor-cli: <message>" on standard error; kExitUsage.
int fail(const std::string& message);

std::unique_ptr<Command> makeProbeCommand();
std::unique_ptr<Command> makeSourcesCommand();
std::unique_ptr<Command> makeRunsCommand();
std::unique_ptr<Command> makeExportCommand();
std::unique_ptr<Command> makeReportCommand();
std::unique_ptr<Command> makeGroupsCommand();

} // namespace zelkor::cli
