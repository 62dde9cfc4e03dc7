// zelkor-cli: one mining run in the terminal, or `probe` to ask sources once.

#include "cli/probe.h"
#include "cli/run_options.h"
#include "cli/sources_command.h"
#include "engine/control_names.h"
#include "engine/mining_run.h"
#include "engine/program_dir.h"
#include "engine/result_filters.h"
#include "engine/run_report.h"
#include "engine/seed_variants.h"
#include "engine/seen_store.h"
#include "engine/settings.h"
#include "engine/text_rules.h"
#include "engine/value_controls.h"
#include "sources/sources.h"

#include <CLI/CLI.hpp>

#include <atomic>
#include <cmath>
#include <csignal>
#include <fstream>
#include <cstdio>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace zelkor::cli {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

int fail(const std::string& message) {
    std::fprintf(stderr, "zelkor-cli: %s\n", message.c_str());
    return kExitUsage;
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

// Ctrl-C and SIGTERM become Stop. The signals are blocked in every thread and taken by one
// thread with sigwait, so nothing runs inside a signal handler.
class StopOnSignal {
  public:
    explicit StopOnSignal(std::function<void()> onStop) : m_onStop(std::move(onStop)) {
        sigemptyset(&m_set);
        sigaddset(&m_set, SIGINT);
        sigaddset(&m_set, SIGTERM);
        sigaddset(&m_set, SIGUSR1);
        pthread_sigmask(SIG_BLOCK, &m_set, nullptr);
        m_thread = std::thread([this] {
            while (true) {
                int signal = 0;
                if (sigwait(&m_set, &signal) != 0 || signal == SIGUSR1) return;
                if (!m_interrupted.exchange(true)) m_onStop();
            }
        });
    }
    ~StopOnSignal() {
        pthread_kill(m_thread.native_handle(), SIGUSR1);
        m_thread.join();
    }
    bool interrupted() const { return m_interrupted; }

  private:
    sigset_t m_set;
    std::function<void()> m_onStop;
    std::atomic<bool> m_interrupted{false};
    std::thread m_thread;
};

std::string settingDefault(const SettingsStore& settings, std::string_view control, std::string fallback) {
    if (const auto saved = settings.editText(control)) return gbk_to_utf8(*saved);
    return fallback;
}

int runMain(int argc, char** argv) {
    const std::filesystem::path presetHome = homeFromArguments(argc, argv);
    const SettingsStore presetSettings(SettingsStore::defaultFile(presetHome));
    const auto shown = [&](std::string_view control, std::string fallback) {
        std::string value = settingDefault(presetSettings, control, std::move(fallback));
        for (std::size_t at; (at = value.find("\r\n")) != std::string::npos;)
            value.replace(at, 2, "\\n");
        if (value.size() > 60) value = value.substr(0, 57) + "...";
        return value;
    };

    CLI::App app{"One mining run of Zelkor长尾词采集工具 in the terminal. Standard output carries what the "
                 "window's output panel would receive; Ctrl-C stops the run.\n"
                 "Defaults come from <home>/data/Zelkorkey.ini, then from the window's defaults.\n"
                 "Also: zelkor-cli probe [--source N ...] [--json] KEYWORD, and zelkor-cli sources "
                 "(the source table as TOML)",
                 "zelkor-cli"};
    app.get_formatter()->column_width(34);

    std::vector<std::string> seeds;
    std::string seedsFile, sourcesList = "0", forbiddenFile, hangupDir, saveDir, home, endpointsFile;
    std::string sourcesFile, variants, includePattern, excludePattern, minChars, maxChars;
    std::string delay, limit;
    bool noMainWord = false, noAutosave = false, quiet = false;

    app.add_option("SEED", seeds,
                   "Seed keywords, one per argument (default: " +
                       shown(ctl::kSeeds, std::string(ctl::kDefaultSeeds)) + ")");
    app.add_option("--seeds-file", seedsFile,
                   "Read the seeds from F, one per line, UTF-8 or GBK (default: none: the SEED arguments)")
        ->option_text("F");
    app.add_option("--sources", sourcesList,
                   "Sources to ask: comma list of indexes 0-24 (and any a sources file adds), 'all', or "
                   "'domestic' (all but 20-22) (default: 0)")
        ->option_text("LIST");
    app.add_option("--delay", delay,
                   "Seconds to wait between query rounds (default: " + shown(ctl::kDelay, "1") + ")")
        ->option_text("S")
        ->check(CLI::NonNegativeNumber & CLI::TypeValidator<int>());
    app.add_option("--limit", limit,
                   "Stop after N accepted keywords; 0 means no limit (default: " + shown(ctl::kLimit, "30") +
                       ")")
        ->option_text("N")
        ->check(CLI::TypeValidator<int>());
    app.add_option("--forbidden-file", forbiddenFile,
                   "Forbidden words from F, one per line (default: " +
                       shown(ctl::kForbidden, std::string(ctl::kDefaultForbidden)) + ")")
        ->option_text("F");
    app.add_flag("--no-main-word", noMainWord,
                 "Show keywords even when they lack their seed (default: off: results must contain it)");
    app.add_option("--hangup", hangupDir,
                   "Also write each keyword as an empty file <keyword>.zr into DIR (default: off)")
        ->option_text("DIR");
    app.add_option(
           "--save-dir", saveDir,
           "Directory of the results file (default: " + shown(ctl::kSaveDir, presetHome.string() + "/") + ")")
        ->option_text("DIR");
    app.add_flag("--no-autosave", noAutosave,
                 "Neither save after each keyword nor export at the end (default: save)");
    app.add_flag("--quiet", quiet,
                 "Nothing on standard output: the panel's \"数据不输出到界面\" (default: off)");
    app.add_option("--home", home,
                   "Program directory: settings, seen store (default: $ZELKOR_HOME, else the executable's "
                   "directory: " +
                       presetHome.string() + ")")
        ->option_text("DIR");
    app.add_option(
           "--endpoints", endpointsFile,
           "Service endpoints file (default: $ZELKOR_ENDPOINTS, else <home>/data/endpoints.ini when present)")
        ->option_text("F");
    app.add_option("--variants", variants,
                   "Also ask each seed's variants right after it, in the order given: az (seed+a...z), "
                   "digits (seed+0...9), questions (question frames), file:F (frames from F, one a line, "
                   "{} for the seed) (default: none)")
        ->option_text("LIST");
    app.add_option("--include", includePattern,
                   "Keep only phrases matching RE, the dialect of the window's patterns (default: all)")
        ->option_text("RE");
    app.add_option("--exclude", excludePattern, "Drop phrases matching RE (default: none)")->option_text("RE");
    app.add_option("--min-chars", minChars, "Drop phrases of fewer than N characters (default: no bound)")
        ->option_text("N")
        ->check(CLI::NonNegativeNumber & CLI::TypeValidator<int>());
    app.add_option("--max-chars", maxChars, "Drop phrases of more than N characters (default: no bound)")
        ->option_text("N")
        ->check(CLI::NonNegativeNumber & CLI::TypeValidator<int>());
    app.add_option("--sources-file", sourcesFile,
                   "Source table changes and additions in TOML, see 'zelkor-cli sources' (default: "
                   "<home>/data/sources.toml when present)")
        ->option_text("F");

    std::string retries, cooldown, reportFile, proxyFile;
    double backoff = 0.5;
    std::vector<std::string> proxies;
    app.add_option("--retries", retries,
                   "Ask a service again up to N times after a failed or blocked answer (default: " +
                       shown(ctl::kRetries, "0") + ")")
        ->option_text("N")
        ->check(CLI::Range(0, 100) & CLI::TypeValidator<int>());
    app.add_option("--backoff", backoff,
                   "Seconds to wait before the first retry, doubled at each next, +-25% jitter (default: 0.5)")
        ->option_text("S")
        ->check(CLI::Range(0.0, 3600.0));
    app.add_option("--cooldown", cooldown,
                   "Leave a service that is still blocked after its retries alone for S seconds; off after "
                   "three cool-downs in a row; 0: never (default: " +
                       shown(ctl::kCooldown, "300 with --retries, else 0") + ")")
        ->option_text("S")
        ->check(CLI::Range(0, 86400) & CLI::TypeValidator<int>());
    app.add_option("--proxy", proxies,
                   "Send requests through URL, in turn with the other proxies: http, https, socks5 or socks5h, "
                   "user:password@ allowed; repeatable (default: " +
                       shown(ctl::kProxyList, "none") + ")")
        ->option_text("URL");
    app.add_option("--proxy-file", proxyFile, "Proxies from F, one per line, # starts a comment")
        ->option_text("F");
    app.add_option("--report", reportFile, "Also write the end-of-run summary per service to F as JSON")
        ->option_text("F");

    // The last of a repeated option wins, as in most GNU tools.
    for (auto* option : app.get_options())
        if (option->get_expected_max() == 1) option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return kExitOk;
    } catch (const CLI::ParseError& error) {
        std::fprintf(stderr, "zelkor-cli: %s\nRun 'zelkor-cli --help' for the options.\n", error.what());
        return kExitUsage;
    }

    // Everything is checked before the run touches any file.
    const std::filesystem::path homeDir = home.empty() ? programDirectory() : std::filesystem::path(home);
    std::error_code fsError;
    if (!std::filesystem::is_directory(homeDir, fsError))
        return fail("program directory " + homeDir.string() + " does not exist");
    if (!seeds.empty() && !seedsFile.empty())
        return fail("give the seeds either as arguments or with --seeds-file, not both");
    std::string error;
    Text variantList, variantFrames;
    if (!variants.empty()) {
        // file:F may hold commas of its own, so it is taken out before the list is read.
        std::string words;
        for (std::size_t start = 0; start <= variants.size();) {
            std::size_t comma = variants.find(',', start);
            std::string item = variants.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            if (item.starts_with("file:")) {
                item = variants.substr(start + 5);
                comma = std::string::npos;
                const auto frames = readFramesFile(item, &error);
                if (!frames) return fail(error);
                variantFrames = *frames;
                item = "frames";
            }
            words += (words.empty() ? "" : ",") + item;
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        if (!parseVariantList(words, &error)) return fail("invalid --variants: " + error);
        variantList = words;
    }
    const Text include = inputToGbk(includePattern), exclude = inputToGbk(excludePattern);
    if (!ResultFilters::make(include, exclude, 0, 0, &error)) return fail(error);
    const std::optional<SourceRows> rows = loadSources(homeDir, sourcesFile, &error);
    if (!rows) return fail(error);
    const int sourceCount = static_cast<int>(rows->size());
    const auto ticks = parseSourceList(sourcesList, sourceCount);
    if (!ticks)
        return fail("invalid --sources '" + sourcesList + "': use 'all', 'domestic' or indexes 0-" +
                    std::to_string(sourceCount - 1) + " separated by commas");

    std::optional<Endpoints> endpoints = endpointsFile.empty()
                                             ? Endpoints::loadDefault(homeDir, &error, sourceCount)
                                             : Endpoints::loadFile(endpointsFile, &error, sourceCount);
    if (!endpoints) return fail(error.empty() ? "cannot read the endpoints file" : error);

    auto controls = std::make_shared<ValueControls>();
    applyWindowDefaults(*controls, homeDir);
    SettingsStore(SettingsStore::defaultFile(homeDir)).restore(*controls);

    if (!seedsFile.empty()) {
        const auto text = readLinesFile(seedsFile, &error);
        if (!text) return fail(error);
        controls->setText(ctl::kSeeds, *text);
    } else if (!seeds.empty()) {
        Text joined;
        for (std::size_t i = 0; i < seeds.size(); ++i)
            joined += (i ? "\r\n" : "") + inputToGbk(seeds[i]);
        controls->setText(ctl::kSeeds, joined);
    }
    if (!forbiddenFile.empty()) {
        const auto text = readLinesFile(forbiddenFile, &error);
        if (!text) return fail(error);
        controls->setText(ctl::kForbidden, *text);
    }
    for (int i = 0; i < sourceCount; ++i)
        controls->setItemChecked(ctl::kSourceList, i, (*ticks)[static_cast<std::size_t>(i)]);
    if (!variantList.empty()) {
        controls->setText(ctl::kVariants, variantList);
        controls->setText(ctl::kVariantFrames, variantFrames);
    }
    if (!include.empty()) controls->setText(ctl::kIncludePattern, include);
    if (!exclude.empty()) controls->setText(ctl::kExcludePattern, exclude);
    if (!minChars.empty()) controls->setText(ctl::kMinChars, minChars);
    if (!maxChars.empty()) controls->setText(ctl::kMaxChars, maxChars);
    if (!delay.empty()) controls->setText(ctl::kDelay, delay);
    if (!limit.empty()) controls->setText(ctl::kLimit, limit);
    if (noMainWord) controls->setChecked(ctl::kMainWordOnly, false);
    if (!hangupDir.empty()) {
        controls->setChecked(ctl::kHangup, true);
        controls->setText(ctl::kHangupDir, inputToGbk(hangupDir));
    }
    if (!saveDir.empty()) controls->setText(ctl::kSaveDir, inputToGbk(saveDir));
    if (noAutosave) controls->setChecked(ctl::kAutoSave, false);
    if (quiet) controls->setChecked(ctl::kNoOutput, true);
    if (!retries.empty()) controls->setText(ctl::kRetries, retries);
    if (!cooldown.empty()) controls->setText(ctl::kCooldown, cooldown);
    if (!proxies.empty() || !proxyFile.empty()) {
        std::string lines;
        for (const std::string& proxy : proxies)
            lines += proxy + "\n";
        if (!proxyFile.empty()) {
            const auto text = readLinesFile(proxyFile, &error);
            if (!text) return fail(error);
            std::string why;
            if (!parseProxyList(gbk_to_utf8(*text), &why)) return fail(proxyFile + ": " + why);
            lines += gbk_to_utf8(*text);
        }
        for (const std::string& proxy : proxies) {
            std::string why;
            if (!parseProxy(proxy, &why)) return fail(why);
        }
        controls->setText(ctl::kProxyList, inputToGbk(lines));
    }
    {
        // Values from the settings file are checked like the options: a run never starts on a
        // value it would have to ignore.
        std::vector<Text> problems;
        readHealthOptions(*controls, std::chrono::milliseconds(0), &problems);
        if (!problems.empty()) return fail("settings file: " + gbk_to_utf8(problems.front()));
    }
    if (!reportFile.empty()) {
        const auto directory = std::filesystem::absolute(reportFile, fsError).parent_path();
        if (!std::filesystem::is_directory(directory, fsError) || ::access(directory.c_str(), W_OK) != 0)
            return fail("cannot write the report into " + directory.string());
    }
    if (!noAutosave) {
        const auto directory = gbkToPath(resultPathText(*controls)).parent_path();
        if (!std::filesystem::is_directory(directory, fsError) || ::access(directory.c_str(), W_OK) != 0)
            return fail("cannot write results into " + directory.string() +
                        ": choose a writable directory with --save-dir, or give --no-autosave");
    }

    controls->setOutputListener([](const Text& text) {
        const std::string out = panelToTerminal(text);
        std::fwrite(out.data(), 1, out.size(), stdout);
        std::fflush(stdout);
    });
    const bool progress = ::isatty(STDERR_FILENO) == 1;
    std::atomic<bool> progressShown{false};
    if (progress) {
        controls->setWriteListener([&progressShown](std::string_view control, const Text& value) {
            if (control != ctl::kCountLabel && control != ctl::kNoticeLabel) return;
            std::string line = gbk_to_utf8(value);
            for (auto& c : line)
                if (c == '\r' || c == '\n') c = ' ';
            std::fprintf(stderr, "\r\033[K%s", line.c_str());
            std::fflush(stderr);
            progressShown = true;
        });
    }

    const Endpoints serviceEndpoints = *endpoints;
    MiningController controller(controls, homeDir, [serviceEndpoints, table = *rows] {
        return make_sources(table, serviceEndpoints);
    });
    controller.setBackoff(std::chrono::milliseconds(std::llround(backoff * 1000.0)));
    StopOnSignal signals([&controller] { controller.stop(); });

    controller.start();
    const auto run = controller.currentRun();
    while (!run->waitUntilDone(std::chrono::milliseconds(200))) {
    }

    int status = signals.interrupted() ? kExitInterrupted : kExitOk;
    if (!noAutosave && !controller.exportResults()) {
        std::fprintf(stderr, "%szelkor-cli: the results file could not be written\n",
                     progressShown ? "\n" : "");
        progressShown = false;
        status = status == kExitOk ? kExitFailed : status;
    }
    waitForSeenStoreEmptying(std::chrono::seconds(60));
    controls->setWriteListener({});
    if (progressShown) std::fputc('\n', stderr);

    const HealthReport report = run->report();
    const std::string table = reportTable(report);
    std::fwrite(table.data(), 1, table.size(), stderr);
    if (const auto line = noAnswerLine(report)) std::fprintf(stderr, "zelkor-cli: %s\n", line->c_str());
    if (!reportFile.empty()) {
        std::ofstream out(reportFile, std::ios::binary | std::ios::trunc);
        out << reportJson(report) << "\n";
        out.close();
        if (!out) {
            std::fprintf(stderr, "zelkor-cli: the report %s could not be written\n", reportFile.c_str());
            status = status == kExitOk ? kExitFailed : status;
        }
    }
    return status;
}

} // namespace
} // namespace zelkor::cli

int main(int argc, char** argv) {
    if (argc > 1 && std::string_view(argv[1]) == "sources") return zelkor::cli::sourcesMain(argc - 1, argv + 1);
    if (argc > 1 && std::string_view(argv[1]) == "probe") {
#ifdef ZELKOR_HAVE_PROBE
        return zelkor::cli::probeMain(argc - 1, argv + 1);
#else
        std::fputs("zelkor-cli: the probe subcommand is not part of this build\n", stderr);
        return 2;
#endif
    }
    return zelkor::cli::runMain(argc, argv);
}
