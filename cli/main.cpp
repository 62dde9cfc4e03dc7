// zelkor-cli: one mining run in the terminal, or a subcommand (see cli/command.h).

#include "cli/command.h"
#include "cli/run_command.h"
#include "engine/core/program_dir.h"

#include <CLI/CLI.hpp>
#include <zelkor_version.h>

#include <cstdio>

namespace zelkor::cli {
namespace {

// Every subcommand, in the order --help lists them.
std::vector<std::unique_ptr<Command>> commands() {
    std::vector<std::unique_ptr<Command>> all;
    all.push_back(makeProbeCommand());
    all.push_back(makeSourcesCommand());
    all.push_back(makeRunsCommand());
    all.push_back(makeExportCommand());
    return all;
}

// --home given on the command line, looked up before parsing so that --help can show the
// defaults of that home's settings file.
std::filesystem::path homeFromArguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--home" && i + 1 < argc) return argv[i + 1];
        if (arg.rfind("--home=", 0) == 0) return std::string(arg.substr(7));
    }
    return programDirectory();
}

int cliMain(int argc, char** argv) {
    const std::filesystem::path presetHome = homeFromArguments(argc, argv);
    CLI::App app{"One mining run of Zelkor长尾词采集工具 in the terminal. Standard output carries what the "
                 "window's output panel would receive; Ctrl-C stops the run.\n"
                 "Defaults come from <home>/data/Zelkorkey.ini, then from the window's defaults.\n"
                 "Exit status: 0 when the run ended by itself or at the limit, 1 when the final export "
                 "of the results failed, 2 for bad options or unreadable files, 128 + the signal after a stop by "
                 "SIGINT (Ctrl-C: 130), SIGTERM, SIGHUP or SIGPIPE.",
                 "zelkor-cli"};
    app.get_formatter()->column_width(34);
    app.set_version_flag("--version", kVersion, "Print the version and exit");

    SharedOptions shared;
    addSharedOptions(app, shared, presetHome);
    RunCommand run(presetHome);
    run.define(app);

    auto subcommands = commands();
    std::vector<CLI::App*> parsers;
    for (const auto& command : subcommands) {
        CLI::App* sub = app.add_subcommand(command->name(), command->description());
        addSharedOptions(*sub, shared, presetHome);
        command->define(*sub);
        parsers.push_back(sub);
    }

    // The last of a repeated option wins, as in most GNU tools.
    for (CLI::App* each : [&] {
             std::vector<CLI::App*> all{&app};
             all.insert(all.end(), parsers.begin(), parsers.end());
             return all;
         }())
        for (auto* option : each->get_options())
            if (option->get_expected_max() == 1) option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return kExitOk;
    } catch (const CLI::CallForVersion& version) {
        std::printf("zelkor-cli %s\n", version.what());
        return kExitOk;
    } catch (const CLI::ParseError& error) {
        std::fprintf(stderr, "zelkor-cli: %s\nRun 'zelkor-cli --help' for the options.\n", error.what());
        return kExitUsage;
    }

    for (std::size_t i = 0; i < parsers.size(); ++i)
        if (parsers[i]->parsed()) return subcommands[i]->execute(shared);
    return run.execute(shared);
}

} // namespace
} // namespace zelkor::cli

int main(int argc, char** argv) {
    return zelkor::cli::cliMain(argc, argv);
}
