// zelkor-cli: one mining run in the terminal, or a subcommand (see cli/command.h).

#include "cli/command.h"
#include "cli/first_word.h"
#include "cli/run_command.h"
#include "engine/core/program_dir.h"

#include <CLI/CLI.hpp>
#include <zelkor_version.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace zelkor::cli {
namespace {

// Every subcommand, in the order --help lists them.
std::vector<std::unique_ptr<Command>> commands() {
    std::vector<std::unique_ptr<Command>> all;
    all.push_back(makeProbeCommand());
    all.push_back(makeSourcesCommand());
    all.push_back(makeRunsCommand());
    all.push_back(makeExportCommand());
    all.push_back(makeReportCommand());
    all.push_back(makeGroupsCommand());
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

// CLI11's message in our words where its own would puzzle ("--retries: 1 required N missing").
std::string errorText(const CLI::ParseError& error, const CLI::App& context) {
    const std::string message = error.what();
    const auto colon = message.find(": ");
    if (error.get_name() == "ArgumentMismatch" && colon != std::string::npos && message.ends_with(" missing")) {
        const std::string name = message.substr(0, colon);
        const CLI::Option* option = context.get_option_no_throw(name);
        const std::string shown = option ? option->get_option_text() : std::string();
        return name + " needs a value" + (shown.empty() ? std::string() : ": " + shown);
    }
    return message;
}

// `zelkor-cli help [COMMAND]`.
int printHelp(CLI::App& app, const std::vector<CLI::App*>& commands, const std::vector<std::string>& topics) {
    if (topics.empty()) {
        std::fputs(app.get_formatter()->make_help(&app, "zelkor-cli", CLI::AppFormatMode::Normal).c_str(), stdout);
        return kExitOk;
    }
    std::string known;
    for (CLI::App* command : commands) {
        if (command->get_name() == topics.front()) {
            std::fputs(command->help("zelkor-cli").c_str(), stdout);
            return kExitOk;
        }
        known += (known.empty() ? "" : ", ") + command->get_name();
    }
    return fail("there is no command '" + topics.front() + "'; the commands are " + known);
}

int cliMain(int argc, char** argv) {
    const std::filesystem::path presetHome = homeFromArguments(argc, argv);
    CLI::App app{"One mining run of Zelkor长尾词采集工具 in the terminal. Standard output carries what the "
                 "window's output panel would receive; Ctrl-C stops the run.\n"
                 "A first word that is not a command but close to one (exprot) is refused as a typing error; "
                 "a seed that really is such a word goes after '--': zelkor-cli [OPTIONS] -- exprot. "
                 "'zelkor-cli help COMMAND' shows a command's options.\n"
                 "Defaults come from <home>/data/Zelkorkey.ini, then from the window's defaults.\n"
                 "Exit status: 0 when the run ended by itself or at the limit with every keyword answered, "
                 "1 when the final export of the results or the run's store failed, 2 for bad options or "
                 "unreadable files, 3 when no request got an answer (no network, every proxy down, every "
                 "service blocking), 4 when keywords got no answer from any service (a database store keeps "
                 "them for --resume), 128 + the signal after a stop by SIGINT (Ctrl-C: 130), SIGTERM, SIGHUP "
                 "or SIGPIPE.",
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
    CLI::App* help = app.add_subcommand("help", "Print this help, or with COMMAND that command's, and exit");
    // The words after it are left to it, so that "help export" does not start the export.
    help->prefix_command();

    // One value per occurrence: "--proxy URL SEED" keeps SEED a seed.
    for (CLI::App* each : [&] {
             std::vector<CLI::App*> all{&app};
             all.insert(all.end(), parsers.begin(), parsers.end());
             return all;
         }())
        for (auto* option : each->get_options())
            if (option->nonpositional() && option->get_expected_max() > 1) option->allow_extra_args(false);

    // A command's name counts only as the first word; past a seed, every word is a seed.
    std::vector<std::string> names;
    for (const auto& command : subcommands)
        names.push_back(command->name());
    if (const auto first = firstWord(app, argc, argv)) {
        const std::string word = argv[*first];
        if (word == "help") {
            // "help export" asks about export; it does not start it.
            for (CLI::App* sub : parsers)
                sub->disabled();
        } else if (std::find(names.begin(), names.end(), word) == names.end()) {
            if (const auto meant = meantCommand(word, names))
                return fail("'" + word + "' is not a command; did you mean '" + *meant +
                            "'? A seed spelled like that goes after '--': zelkor-cli [OPTIONS] -- " + word);
            for (CLI::App* sub : parsers)
                sub->disabled();
            help->disabled();
        }
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
        std::string where = "zelkor-cli";
        CLI::App* context = &app;
        for (CLI::App* sub : parsers)
            if (sub->parsed()) {
                where += " " + sub->get_name();
                context = sub;
            }
        std::fprintf(stderr, "zelkor-cli: %s\nRun '%s --help' for the options.\n", errorText(error, *context).c_str(),
                     where.c_str());
        return kExitUsage;
    }

    if (help->parsed()) return printHelp(app, parsers, help->remaining());

    for (std::size_t i = 0; i < parsers.size(); ++i)
        if (parsers[i]->parsed()) return subcommands[i]->execute(shared);
    return run.execute(shared);
}

} // namespace
} // namespace zelkor::cli

int main(int argc, char** argv) {
    return zelkor::cli::cliMain(argc, argv);
}
