#include "cli/run_command.h"

#include "analysis/result_words.h"
#include "cli/numbers.h"
#include "cli/run_options.h"
#include "analysis/run_facts.h"
#include "cli/run_report_html.h"
#include "engine/output/export_target.h"
#include "engine/run/answer_limits.h"
#include "engine/core/control_names.h"
#include "engine/core/normal_form.h"
#include "engine/run/mining_run.h"
#include "engine/run/parallel_run.h"
#include "engine/core/program_dir.h"
#include "engine/store/redis_run_store.h"
#include "engine/run/result_filters.h"
#include "engine/run/result_sink.h"
#include "engine/output/rich_export.h"
#include "engine/output/run_report.h"
#include "engine/run/seed_variants.h"
#include "engine/store/seen_store.h"
#include "engine/core/settings.h"
#include "engine/run/source_health.h"
#include "engine/core/text_rules.h"
#include "net/proxy.h"
#include "sources/sources.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace zelkor::cli {
namespace {

// Ctrl-C, SIGTERM, SIGHUP and SIGPIPE become Stop, so the final save still happens. The signals are
// blocked in every thread and taken by one thread with sigwait, so nothing runs inside a signal
// handler; a write to a closed pipe then fails with EPIPE instead of ending the program.
class StopOnSignal {
  public:
    explicit StopOnSignal(std::function<void()> onStop) : m_onStop(std::move(onStop)) {
        sigemptyset(&m_set);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGUSR1})
            sigaddset(&m_set, signal);
        pthread_sigmask(SIG_BLOCK, &m_set, nullptr);
        m_thread = std::jthread([this] {
            while (true) {
                int signal = 0;
                if (sigwait(&m_set, &signal) != 0 || signal == SIGUSR1) return;
                int none = 0;
                if (m_signal.compare_exchange_strong(none, signal)) m_onStop();
            }
        });
    }
    ~StopOnSignal() {
        pthread_kill(m_thread.native_handle(), SIGUSR1);
        m_thread.join();
    }
    // The first signal taken, 0 when none.
    int signal() const { return m_signal; }

  private:
    sigset_t m_set;
    std::function<void()> m_onStop;
    std::atomic<int> m_signal{0};
    std::jthread m_thread;
};

std::string settingDefault(const SettingsStore& settings, std::string_view control, std::string fallback) {
    if (const auto saved = settings.editText(control)) return gbk_to_utf8(*saved);
    return fallback;
}

} // namespace

RunCommand::RunCommand(std::filesystem::path presetHome) : m_presetHome(std::move(presetHome)) {}

void RunCommand::define(CLI::App& app) {
    m_app = &app;
    const SettingsStore presetSettings(SettingsStore::defaultFile(m_presetHome));
    const auto shown = [&](std::string_view control, std::string fallback) {
        std::string value = settingDefault(presetSettings, control, std::move(fallback));
        // Help text goes to terminals and logs: a password in the settings is not shown there.
        if (control == ctl::kRunStore) value = redisUrlShown(value);
        if (control == ctl::kProxyList) {
            std::string shownList;
            for (std::size_t from = 0; from <= value.size();) {
                const std::size_t end = std::min(value.find('\n', from), value.size());
                shownList += proxyShown(std::string_view(value).substr(from, end - from));
                if (end == value.size()) break;
                shownList += '\n';
                from = end + 1;
            }
            value = shownList;
        }
        for (std::size_t at; (at = value.find("\r\n")) != std::string::npos;)
            value.replace(at, 2, "\\n");
        if (value.size() > 60) value = value.substr(0, 57) + "...";
        return value;
    };
    auto& v = m_values;

    app.add_option("SEED", v.seeds,
                   "Seed keywords, one per argument (default: " +
                       shown(ctl::kSeeds, std::string(ctl::kDefaultSeeds)) + ")");
    app.add_option("--seeds-file", v.seedsFile,
                   "Read the seeds from F, one per line, UTF-8 or GBK (default: none: the SEED arguments)")
        ->option_text("F");
    app.add_option("--sources", v.sources,
                   "Sources to ask: comma list of indexes 0-24 (and any a sources file adds), 'all', or "
                   "'domestic' (all but 20-22) (default: 0)")
        ->option_text("LIST");
    numberOption(app.add_option("--delay", v.delay,
                                "Seconds to wait between query rounds (default: " + shown(ctl::kDelay, "1") + ")"),
                 "S", wholeRange(0));
    numberOption(app.add_option("--limit", v.limit,
                                "Stop after N accepted keywords; 0 means no limit (default: " +
                                    shown(ctl::kLimit, "30") + ")"),
                 "N", wholeRange(0));
    app.add_option("--forbidden-file", v.forbiddenFile,
                   "Forbidden words from F, one per line (default: " +
                       shown(ctl::kForbidden, std::string(ctl::kDefaultForbidden)) + ")")
        ->option_text("F");
    app.add_flag("--no-main-word", v.noMainWord,
                 "Show keywords even when they lack their seed (default: off: results must contain it)");
    app.add_option("--hangup", v.hangupDir,
                   "Also write each keyword as an empty file <keyword>.zr into DIR (default: off)")
        ->option_text("DIR");
    app.add_option("--save-dir", v.saveDir,
                   "Directory of the results file (default: " +
                       shown(ctl::kSaveDir, m_presetHome.string() + "/") + ")")
        ->option_text("DIR");
    app.add_flag("--no-autosave", v.noAutosave,
                 "Neither save after each keyword nor export at the end (default: save)");
    app.add_option("--store", v.store,
                   "Where the run keeps its queue, seen set and results: 'files' (marker files and memory), "
                   "'sqlite' (<home>/data/runs.sqlite) or 'sqlite:PATH', durable and resumable, or "
                   "'redis://[[USER]:PASSWORD@]HOST:PORT/DB' with --run, one run shared by workers on several "
                   "machines (default: " +
                       shown(ctl::kRunStore, "files") + ")")
        ->option_text("S");
    app.add_option("--run", v.runName,
                   "With a redis:// store: the shared run to work. The first worker creates it from its seeds "
                   "and options; the others join it with those (letters, digits, '_', '.', '-')")
        ->option_text("NAME");
    numberOption(app.add_option("--lease", v.lease,
                                "With a redis:// store: seconds a worker holds a keyword without renewing it; a "
                                "worker that dies gives its keyword back after this (default: 60)"),
                 "S", wholeRange(1, 86400));
    numberOption(app.add_option("--store-timeout", v.storeTimeout,
                                "With a redis:// store: seconds a worker rides out a lost server (a restart, a "
                                "network outage) before it stops; it says when it lost the server and when it got "
                                "it back (default: " +
                                    shown(ctl::kStoreTimeout, "60") + ")"),
                 "S", wholeRange(1, 86400));
    app.add_option("--resume", v.resumeRun,
                   "Continue run ID of the --store (default: the newest that can go on: killed, stopped or "
                   "incomplete; `runs` says which) with its own seeds, sources, filters, variants and limit; "
                   "keywords no service answered are asked first. This machine's directories, export format, "
                   "report, --parallel and proxies apply")
        ->option_text("[ID]")
        ->expected(0, 1);
    app.add_flag("--quiet", v.quiet,
                 "Nothing on standard output: the panel's \"数据不输出到界面\" (default: off)");
    app.add_option("--variants", v.variants,
                   "Also ask each seed's variants right after it, in the order given: az (seed+a...z), "
                   "digits (seed+0...9), questions (question frames), file:F (frames from F, one a line, "
                   "{} for the seed) (default: none)")
        ->option_text("LIST");
    app.add_option("--include", v.includePattern,
                   "Keep only phrases matching RE, the dialect of the window's patterns (default: all)")
        ->option_text("RE");
    app.add_option("--exclude", v.excludePattern, "Drop phrases matching RE (default: none)")->option_text("RE");
    numberOption(app.add_option("--min-chars", v.minChars,
                                "Drop phrases of fewer than N characters; 0: no bound (default: no bound)"),
                 "N", wholeRange(0));
    numberOption(app.add_option("--max-chars", v.maxChars,
                                "Drop phrases of more than N characters, N not below --min-chars; 0: no bound "
                                "(default: no bound)"),
                 "N", wholeRange(0));
    numberOption(app.add_option("--retries", v.retries,
                                "Ask a service again up to N times after a failed or blocked answer (default: " +
                                    shown(ctl::kRetries, "0") + ")"),
                 "N", wholeRange(0, 100));
    numberOption(app.add_option("--backoff", v.backoff,
                                "Seconds to wait before the first retry, doubled at each next, +-25% jitter "
                                "(default: 0.5)"),
                 "S", decimalRange(0, 3600));
    numberOption(app.add_option("--cooldown", v.cooldown,
                                "Leave a service that is still blocked after its retries alone for S seconds; off "
                                "after three cool-downs in a row; 0: never (default: " +
                                    shown(ctl::kCooldown, "300 with --retries, else 0") + ")"),
                 "S", wholeRange(0, 86400));
    app.add_option("--proxy", v.proxies,
                   "Send requests through URL, in turn with the other proxies: http, https, socks5 or socks5h, "
                   "user:password@ allowed; repeatable (default: " +
                       shown(ctl::kProxyList, "none") + ")")
        ->option_text("URL");
    app.add_option("--proxy-file", v.proxyFile,
                   "Proxies from F, one per line, # starts a comment; a file without a proxy is refused")
        ->option_text("F");
    app.add_option("--proxy-fallback", v.proxyFallback,
                   "When every proxy has been dropped: 'stop' the run (its keywords stay unanswered) or go on "
                   "'direct'ly, showing the services this machine's address (default: stop)")
        ->option_text("M")
        ->check(CLI::IsMember({"stop", "direct"}));
    numberOption(app.add_option("--max-answer-mib", v.maxAnswerMib,
                                "Refuse an answer larger than N MiB (default: " + shown(ctl::kMaxAnswerMib, "8") + ")"),
                 "N", wholeRange(1, kMaxAnswerMib));
    numberOption(app.add_option("--deadline", v.deadline,
                                "Give up on a request after S seconds in all, however the answer trickles in "
                                "(default: " +
                                    shown(ctl::kDeadline, "60") + ")"),
                 "S", wholeRange(1, kMaxDeadlineSeconds));
    app.add_flag("--verify-tls", v.verifyTls,
                 "Check the services' certificates against the system's CA store; a service whose "
                 "certificate does not check out gives no answer (default: " +
                     std::string(settingDefault(presetSettings, ctl::kVerifyTls, "0") == "1" ? "on" : "off") + ")")
        ->disable_flag_override();
    app.add_option("--export-format", v.exportFormat,
                   "Also write the results at the end as csv, jsonl or xlsx, with each keyword's source, seed, "
                   "parent, depth and time, beside the results file; txt: nothing more (default: " +
                       shown(ctl::kExportFormat, "txt") + ")")
        ->option_text("F")
        ->check(CLI::IsMember({"txt", "csv", "jsonl", "xlsx"}));
    app.add_option("--report", v.reportFile, "Also write the end-of-run summary per service to F as JSON")
        ->option_text("F");
    app.add_option("--report-html", v.reportHtml,
                   "Also write the run as an HTML report to F at its end: summary, charts, demand maps and every "
                   "result, one file that opens offline (default: none)")
        ->option_text("F");
    numberOption(app.add_option("--max-depth", v.maxDepth,
                                "Keep phrases at depth N (a seed's own phrases are depth 1) as results but do not "
                                "ask them, so nothing deeper is found; 0: no bound (default: no bound)"),
                 "N", wholeRange(0));
    app.add_option("--filter-mode", v.filterMode,
                   "What --include, --exclude, --min-chars and --max-chars do with a phrase they drop: walk: "
                   "leave it out of the walk and the results; show: walk through it, only leave it out of the "
                   "results (default: walk)")
        ->option_text("walk|show")
        ->check(CLI::IsMember({"walk", "show"}));
    app.add_flag("--normalize", v.normalize,
                 "Merge near-duplicates before the seen check: blanks trimmed and collapsed, full-width letters "
                 "and digits made half-width, traditional Chinese made simplified (default: off: exact)");
    app.add_flag("--hits", v.hits,
                 "Count how often each result was suggested and by how many services (columns hits and services "
                 "of csv, jsonl and xlsx) (default: off)");
    app.add_flag("--words", v.words,
                 "Add each result's root word (词根) and intent tags (columns root and tags) to the csv, jsonl and "
                 "xlsx export (default: off)");
    app.add_flag("--parallel", v.parallel,
                 "Throughput mode: many keywords in flight, each service asked at its own pace; no display "
                 "pauses, and --delay is the least gap between two keywords' first requests (default: " +
                     std::string(settingDefault(presetSettings, ctl::kParallel, "0") == "1" ? "on" : "off") + ")");
    numberOption(app.add_option("--rate", v.rate,
                                "With --parallel: requests per second to each service, decimals allowed (default: " +
                                    shown(ctl::kParallelRate, "2") + ")"),
                 "R", decimalRange(kMinParallelRate, kMaxParallelRate));
}

int RunCommand::setUp(const SharedOptions& shared) {
    const auto& v = m_values;
    m_home = shared.homeDirectory();
    std::error_code fsError;
    if (!std::filesystem::is_directory(m_home, fsError))
        return fail("program directory " + m_home.string() + " does not exist");
    if (!v.seeds.empty() && !v.seedsFile.empty())
        return fail("give the seeds either as arguments or with --seeds-file, not both");
    std::string error;
    Text variantList, variantFrames;
    if (!v.variants.empty()) {
        // file:F may hold commas of its own, so it is taken out before the list is read.
        std::string words;
        for (std::size_t start = 0; start <= v.variants.size();) {
            std::size_t comma = v.variants.find(',', start);
            std::string item =
                v.variants.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            if (item.starts_with("file:")) {
                item = v.variants.substr(start + 5);
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
    const Text include = inputToGbk(v.includePattern), exclude = inputToGbk(v.excludePattern);
    if (!ResultFilters::make(include, exclude, 0, 0, &error)) return fail(error);
    m_rows = shared.loadSources(&error);
    if (!m_rows) return fail(error);
    const int sourceCount = static_cast<int>(m_rows->size());
    const auto indexes = parseSourceList(v.sources, sourceCount);
    if (!indexes)
        return fail("invalid --sources '" + v.sources + "': use 'all', 'domestic' or indexes 0-" +
                    std::to_string(sourceCount - 1) + " separated by commas");

    m_endpoints = shared.loadEndpoints(sourceCount, &error);
    if (!m_endpoints) return fail(error);

    auto controls = std::make_shared<ValueControls>();
    applyWindowDefaults(*controls, m_home);
    SettingsStore(SettingsStore::defaultFile(m_home)).restore(*controls);

    const SettingsStore settings(SettingsStore::defaultFile(m_home));
    const auto saved = [&](std::string_view control) {
        const auto value = settings.editText(control);
        return value ? gbk_to_utf8(*value) : std::string();
    };
    const std::string storeText = v.store.empty() ? saved(ctl::kRunStore) : v.store;
    const auto store = parseStoreSpec(storeText, m_home, &error);
    if (!store) return fail("invalid --store: " + error);
    m_store = *store;
    m_values.resume = m_app && m_app->count("--resume") > 0;
    if (v.resume && !v.resumeRun.empty()) {
        const auto id = readNumber(v.resumeRun, wholeRange(1));
        if (!id) return fail("--resume: " + numberProblem(v.resumeRun, wholeRange(1)) + " (a run's id, as `runs` lists it)");
        m_store.resumeRun = static_cast<std::int64_t>(*id);
    }
    if (v.resume) {
        if (const auto given = runOwnOptionsGiven(); !given.empty()) {
            std::string names;
            for (const std::string& name : given) names += (names.empty() ? "" : ", ") + name;
            return fail("--resume goes on with the run's own seeds, sources, filters, variants and limit; leave out " +
                        names);
        }
    }
    if (v.resume && m_store.kind == StoreSpec::Kind::Files)
        return fail("--resume needs a database store: give --store sqlite or --store sqlite:PATH");
    if (m_store.kind == StoreSpec::Kind::Redis) {
        if (v.resume)
            return fail("a shared run goes on whenever a worker starts with its --run name; leave out --resume");
        if (!validRunName(v.runName))
            return fail(v.runName.empty() ? "a redis:// store needs --run NAME, the shared run to work"
                                          : "invalid --run '" + v.runName +
                                                "': 1 to 64 letters, digits, '_', '.' or '-'");
        m_store.run = v.runName;
        if (!v.lease.empty()) m_store.lease = std::chrono::seconds(std::atoi(v.lease.c_str()));
        const std::string timeout = v.storeTimeout.empty() ? saved(ctl::kStoreTimeout) : v.storeTimeout;
        if (!timeout.empty()) {
            const auto seconds = readNumber(timeout, wholeRange(1, 86400));
            if (!seconds) return fail("settings file: the store timeout: " + numberProblem(timeout, wholeRange(1, 86400)));
            m_store.outage = std::chrono::seconds(static_cast<int>(*seconds));
        }
    } else if (!v.runName.empty() || !v.lease.empty() || !v.storeTimeout.empty()) {
        return fail("--run, --lease and --store-timeout belong to a shared store: give --store redis://HOST:PORT/DB");
    }

    std::vector<std::string> lossySeeds;
    if (!v.seedsFile.empty()) {
        const auto text = readLinesFile(v.seedsFile, &error, &lossySeeds);
        if (!text) return fail(error);
        controls->setText(ctl::kSeeds, *text);
    } else if (!v.seeds.empty()) {
        Text joined;
        bool first = true;
        for (const std::string& seed : v.seeds) {
            if (losesCharacters(seed)) {
                lossySeeds.push_back(seed);
                continue;
            }
            joined += (first ? "" : "\r\n") + inputToGbk(seed);
            first = false;
        }
        controls->setText(ctl::kSeeds, joined);
    }
    // A "?" in place of a character the services never see is no keyword of the user's.
    for (const std::string& seed : lossySeeds)
        std::fprintf(stderr, "zelkor-cli: seed '%s' left out: the services are asked in GBK, which cannot hold all "
                     "of its characters\n", seed.c_str());
    if (!lossySeeds.empty() && controls->text(ctl::kSeeds).empty())
        return fail("no seed left to ask: GBK cannot hold the characters of any of them");
    {
        int line = 0;
        for (const Text& seed : text_split(controls->text(ctl::kSeeds), "\r\n")) {
            ++line;
            if (seed.size() > kMaxPhraseBytes)
                return fail((v.seedsFile.empty() ? "seed " : v.seedsFile + ":") + std::to_string(line) +
                            ": longer than " + std::to_string(kMaxPhraseBytes) + " bytes; a seed is a keyword");
        }
    }
    if (!v.forbiddenFile.empty()) {
        const auto text = readLinesFile(v.forbiddenFile, &error);
        if (!text) return fail(error);
        controls->setText(ctl::kForbidden, *text);
    }
    for (int i = 0; i < sourceCount; ++i)
        controls->setItemChecked(ctl::kSourceList, i, false);
    for (const int index : *indexes)
        controls->setItemChecked(ctl::kSourceList, index, true);
    if (!variantList.empty()) {
        controls->setText(ctl::kVariants, variantList);
        controls->setText(ctl::kVariantFrames, variantFrames);
    }
    if (!include.empty()) controls->setText(ctl::kIncludePattern, include);
    if (!exclude.empty()) controls->setText(ctl::kExcludePattern, exclude);
    if (!v.minChars.empty()) controls->setText(ctl::kMinChars, v.minChars);
    if (!v.maxChars.empty()) controls->setText(ctl::kMaxChars, v.maxChars);
    if (!v.delay.empty()) controls->setText(ctl::kDelay, v.delay);
    if (!v.limit.empty()) controls->setText(ctl::kLimit, v.limit);
    if (v.noMainWord) controls->setChecked(ctl::kMainWordOnly, false);
    if (!v.hangupDir.empty()) {
        controls->setChecked(ctl::kHangup, true);
        controls->setText(ctl::kHangupDir, inputToGbk(v.hangupDir));
    }
    if (!v.saveDir.empty()) controls->setText(ctl::kSaveDir, inputToGbk(v.saveDir));
    if (v.noAutosave) controls->setChecked(ctl::kAutoSave, false);
    if (v.quiet) controls->setChecked(ctl::kNoOutput, true);
    if (!v.retries.empty()) controls->setText(ctl::kRetries, v.retries);
    if (!v.maxAnswerMib.empty()) controls->setText(ctl::kMaxAnswerMib, v.maxAnswerMib);
    if (!v.deadline.empty()) controls->setText(ctl::kDeadline, v.deadline);
    if (!v.exportFormat.empty()) controls->setText(ctl::kExportFormat, v.exportFormat);
    if (!v.cooldown.empty()) controls->setText(ctl::kCooldown, v.cooldown);
    if (v.parallel) controls->setChecked(ctl::kParallel, true);
    if (!v.proxyFallback.empty()) controls->setChecked(ctl::kProxyFallback, v.proxyFallback == "direct");
    if (v.verifyTls) controls->setChecked(ctl::kVerifyTls, true);
    if (!v.maxDepth.empty()) controls->setText(ctl::kMaxDepth, v.maxDepth);
    if (!v.filterMode.empty()) controls->setChecked(ctl::kFilterShow, v.filterMode == "show");
    if (v.normalize) {
        if (Expected<Done> available = normalFormsAvailable(); !available)
            return fail("--normalize: " + available.error().message);
        controls->setChecked(ctl::kNormalize, true);
    }
    if (v.hits) controls->setChecked(ctl::kCountHits, true);
    if (v.words) controls->setChecked(ctl::kKeywordWords, true);
    if (!v.rate.empty()) {
        if (!controls->checked(ctl::kParallel)) return fail("--rate applies only with --parallel");
        controls->setText(ctl::kParallelRate, v.rate);
    }
    if (!v.proxies.empty() || !v.proxyFile.empty()) {
        std::string lines;
        for (const std::string& proxy : v.proxies)
            lines += proxy + "\n";
        if (!v.proxyFile.empty()) {
            const auto text = readLinesFile(v.proxyFile, &error);
            if (!text) return fail(error);
            std::string why;
            const auto listed = parseProxyList(gbk_to_utf8(*text), &why);
            if (!listed) return fail(v.proxyFile + ": " + why);
            // An empty list would send every request directly, the very thing a proxy file is for avoiding.
            if (listed->empty()) return fail(v.proxyFile + ": no proxy in the file (only empty lines and comments)");
            lines += gbk_to_utf8(*text);
        }
        for (const std::string& proxy : v.proxies) {
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
        readAnswerLimits(*controls, &problems);
        if (!chosenExportFormat(*controls))
            problems.push_back(utf8_to_gbk("导出格式应为 txt、csv、jsonl 或 xlsx：") + controls->text(ctl::kExportFormat));
        if (!problems.empty()) return fail("settings file: " + gbk_to_utf8(problems.front()));
        if (!ResultFilters::make(controls->text(ctl::kIncludePattern), controls->text(ctl::kExcludePattern), 0, 0,
                                 &error))
            return fail("settings file: " + error);
        Text problem;
        if (controls->checked(ctl::kParallel) && (parallelOptions(*controls, &problem), !problem.empty()))
            return fail("settings file: " + gbk_to_utf8(problem));
    }
    {
        const int minChars = textToInt(controls->text(ctl::kMinChars));
        const int maxChars = textToInt(controls->text(ctl::kMaxChars));
        if (minChars > 0 && maxChars > 0 && maxChars < minChars)
            return fail("--min-chars " + std::to_string(minChars) + (v.minChars.empty() ? " (settings file)" : "") +
                        " is above --max-chars " + std::to_string(maxChars) +
                        (v.maxChars.empty() ? " (settings file)" : "") + ": no phrase could be kept");
    }
    for (const auto& [file, example] : {std::pair{v.reportFile, "report.json"}, {v.reportHtml, "report.html"}})
        if (!file.empty() && std::filesystem::is_directory(file, fsError))
            return fail("the report " + file + " is a directory; name a file in it, such as " +
                        (std::filesystem::path(file) / example).string());
    // Every directory the run writes into is there before it starts, or the run does not start.
    if (!v.noAutosave) {
        const auto directory = gbkToPath(resultPathText(*controls)).parent_path();
        if (!ensureOutputDirectory(directory, &error))
            return fail("cannot write results into " + directory.string() + ": " + error +
                        "; choose a writable directory with --save-dir, or give --no-autosave");
    }
    if (controls->checked(ctl::kHangup) && !controls->text(ctl::kHangupDir).empty()) {
        const auto directory = gbkToPath(controls->text(ctl::kHangupDir));
        if (!ensureOutputDirectory(directory, &error))
            return fail("cannot write hang-up files into " + directory.string() + ": " + error);
    }
    for (const std::string& file : {v.reportFile, v.reportHtml}) {
        if (file.empty()) continue;
        const auto directory = std::filesystem::path(file).parent_path();
        if (!ensureOutputDirectory(directory, &error))
            return fail("cannot write the report into " + (directory.empty() ? "." : directory.string()) + ": " + error);
    }
    m_controls = std::move(controls);
    return kExitOk;
}

RunCommand::Ending RunCommand::run() {
    // A reader that went away (| head) ends the run like SIGPIPE would, but with the final save;
    // nothing more is written to it.
    m_controls->setOutputListener([this](const Text& text) {
        if (m_outputGone) return;
        const std::string out = panelToTerminal(text);
        if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0)
            m_outputGone = true;
    });
    if (::isatty(STDERR_FILENO) == 1) {
        m_controls->setWriteListener([this](std::string_view control, const Text& value) {
            if (control != ctl::kCountLabel && control != ctl::kNoticeLabel) return;
            std::string line = gbk_to_utf8(value);
            for (auto& c : line)
                if (c == '\r' || c == '\n') c = ' ';
            std::fprintf(stderr, "\r\033[K%s", line.c_str());
            std::fflush(stderr);
            m_progressShown = true;
        });
    }

    m_controller = std::make_unique<MiningController>(
        m_controls, m_home, [endpoints = *m_endpoints, table = *m_rows] { return make_sources(table, endpoints); });
    m_controller->setBackoff(std::chrono::milliseconds(std::llround(m_values.backoff * 1000.0)));
    m_controller->setWordColumns([home = m_home](const std::vector<ResultRecord>& records) -> Expected<ExtraColumns> {
        Expected<IntentTags> tags = loadIntentTags(home);
        if (!tags) return tags.error();
        Expected<KeywordWords> words = analyseResults(records, *tags);
        if (!words) return words.error();
        return wordColumns(*words);
    });
    m_controller->setStore(m_store);
    if (m_store.kind == StoreSpec::Kind::Redis) {
        m_controller->setOnJoined([this](const SourceTicks& ticks) {
            applyTicks(ticks);
            const bool seedsGiven = !m_values.seeds.empty() || !m_values.seedsFile.empty();
            std::fprintf(stderr, "zelkor-cli: joined the run %s; it goes on with its own seeds, sources and options%s\n",
                         m_store.run.c_str(), seedsGiven ? " (the seeds given here are ignored)" : "");
        });
        m_controller->setStoreReporter([](const std::string& what) {
            std::fprintf(stderr, "zelkor-cli: %s\n", what.c_str());
        });
    }
    if (::isatty(STDERR_FILENO) == 1 && m_controls->checked(ctl::kParallel)) {
        m_controller->setProgress([this](const ParallelProgress& p) {
            std::fprintf(stderr, "\r\033[K%llu done, %llu in flight, %llu queued, %.1f req/s",
                         static_cast<unsigned long long>(p.done), static_cast<unsigned long long>(p.inFlight),
                         static_cast<unsigned long long>(p.queued), p.requestsPerSecond);
            std::fflush(stderr);
            m_progressShown = true;
        });
    }
    StopOnSignal signals([this] { m_controller->stop(); });
    m_started = isoTimeNow();
    StartResult refusal;
    if (m_values.resume) {
        refusal = m_controller->resume([this](const SourceTicks& ticks) { applyTicks(ticks); });
        if (refusal && (refusal->why == StartRefusal::StoreUnusable || refusal->why == StartRefusal::NoRunToResume)) {
            m_failure = fail(refusal->reason);
            return {};
        }

    } else {
        refusal = m_controller->start();
    }
    if (refusal) {
        switch (*refusal) {
        case StartRefusal::HomeBusy:
            m_refusal = "another run is using the program directory " + m_home.string() +
                        "; wait for it to end or give another --home";
            break;
        case StartRefusal::HomeUnwritable:
            m_refusal = "cannot write into the program directory " + m_home.string();
            break;
        case StartRefusal::HangupUnusable:
            m_refusal = "cannot write hang-up files into " + gbk_to_utf8(m_controls->text(ctl::kHangupDir));
            break;
        case StartRefusal::StoreUnusable:
        case StartRefusal::NoRunToResume:
            // Like any file the options name that cannot be read.
            m_failure = fail(refusal->reason);
            break;
        case StartRefusal::Stopped:
            // Ctrl-C while the store was being opened: nothing ran, nothing is saved.
            m_stoppedBeforeStart = true;
            return {signals.signal(), m_outputGone};
        }
        return {};
    }
    m_run = m_controller->currentRun();
    bool stoppedForOutput = false;
    while (!m_run->waitUntilDone(std::chrono::milliseconds(50))) {
        if (m_outputGone && !stoppedForOutput) {
            stoppedForOutput = true;
            m_controller->stop();
        }
    }
    return {signals.signal(), m_outputGone};
}

std::vector<std::string> RunCommand::runOwnOptionsGiven() const {
    std::vector<std::string> given;
    if (!m_values.seeds.empty()) given.push_back("the seeds");
    for (const char* name : {"--seeds-file", "--sources", "--forbidden-file", "--no-main-word", "--include",
                             "--exclude", "--min-chars", "--max-chars", "--variants", "--limit", "--delay"})
        if (m_app && m_app->count(name) > 0) given.push_back(name);
    return given;
}

void RunCommand::applyTicks(const SourceTicks& ticks) {
    for (std::size_t i = 0; i < ticks.size(); ++i)
        m_controls->setItemChecked(ctl::kSourceList, static_cast<int>(i), ticks[i]);
}

int RunCommand::report(Ending ending) {
    if (m_failure != kExitOk) return m_failure;
    if (m_stoppedBeforeStart) return ending.signal != 0 ? 128 + ending.signal : kExitOk;
    if (!m_refusal.empty()) {
        // A run that could not start although its options were good.
        std::fprintf(stderr, "zelkor-cli: %s\n", m_refusal.c_str());
        return kExitFailed;
    }
    const char* const lead = m_progressShown ? "\n" : "";
    const RunOutcome outcome = m_run->outcome().value_or(RunOutcome::Stopped);
    const AnswerTally answers = m_run->answers();
    int status = kExitOk;
    if (outcome == RunOutcome::StoreFailed) {
        // The reason goes here too: standard output, where the panel's notice went, may be --quiet.
        const std::string why = m_run->storeFailure();
        const std::string reason = why.empty() ? std::string() : ": " + why;
        if (m_store.kind == StoreSpec::Kind::Files)
            std::fprintf(stderr, "%szelkor-cli: the seen store %s could not be written%s; the run was stopped\n", lead,
                         SeenStore::defaultDirectory(m_home).c_str(), reason.c_str());
        else if (m_store.kind == StoreSpec::Kind::Redis)
            std::fprintf(stderr,
                         "%szelkor-cli: the shared run store failed%s; this worker stopped, and its keyword goes back "
                         "to the run once its lease ends\n",
                         lead, reason.c_str());
        else
            std::fprintf(stderr,
                         "%szelkor-cli: the run store failed%s; what it kept can be continued with --resume\n", lead,
                         reason.c_str());
        m_progressShown = false;
        status = kExitFailed;
    } else if (outcome == RunOutcome::NoAnswers || outcome == RunOutcome::Incomplete) {
        const bool kept = m_run->unansweredKept() || m_run->end() == RunEnd::ProxiesGone;
        const bool durable = m_store.kind == StoreSpec::Kind::Sqlite;
        std::string line = outcome == RunOutcome::NoAnswers && answers.answered == 0
                               ? "no request got an answer"
                               : std::to_string(answers.unanswered) +
                                     (answers.unanswered == 1 ? " keyword" : " keywords") + " got no answer";
        if (m_run->end() == RunEnd::ProxiesGone) line = "every proxy was dropped; the run stopped";
        if (kept && durable) line += "; they are kept: --resume asks them first";
        if (kept && m_store.kind == StoreSpec::Kind::Redis)
            line += "; they are kept in the run: the next worker started with its --run asks them first";
        std::fprintf(stderr, "%szelkor-cli: %s (exit status %d)\n", lead, line.c_str(),
                     outcome == RunOutcome::NoAnswers ? kExitNoAnswers : kExitIncomplete);
        m_progressShown = false;
        status = outcome == RunOutcome::NoAnswers ? kExitNoAnswers : kExitIncomplete;
    }
    // 130 after Ctrl-C as a shell reports it; other signals the same way, 128 + their number.
    if (ending.signal != 0)
        status = 128 + ending.signal;
    else if (ending.outputGone)
        status = 128 + SIGPIPE; // the output was cut short, whether or not the run had ended
    // Nothing came back: an empty results file is no data saved, and the panel must not say so.
    const bool nothingToSave = outcome == RunOutcome::NoAnswers && m_run->results().empty();
    std::string saveFailure;
    if (!m_values.noAutosave && !nothingToSave && !m_controller->exportResults(&saveFailure)) {
        std::fprintf(stderr, "%szelkor-cli: %s\n", m_progressShown ? "\n" : "", saveFailure.c_str());
        m_progressShown = false;
        status = status == kExitOk ? kExitFailed : status;
    }
    if (nothingToSave && !m_values.noAutosave)
        m_controls->showNotice(utf8_to_gbk("没有任何请求得到应答，没有数据可保存"));
    // Joins the run's worker and the store's emptiers, whose last notices still reach the terminal.
    m_controller.reset();
    m_controls->setWriteListener({});
    if (m_progressShown) std::fputc('\n', stderr);

    const HealthReport report = m_run->report();
    const std::string table = reportTable(report);
    std::fwrite(table.data(), 1, table.size(), stderr);
    if (const auto line = noAnswerLine(report, m_run->triedRemedies()))
        std::fprintf(stderr, "zelkor-cli: %s\n", line->c_str());
    if (!m_values.reportFile.empty()) {
        RunEnding summary{std::string(runOutcomeName(outcome)), status, answers.unanswered};
        const std::string json = reportJson(report, &summary) + "\n";
        std::FILE* out = std::fopen(m_values.reportFile.c_str(), "wb");
        bool written = out && std::fwrite(json.data(), 1, json.size(), out) == json.size();
        int why = errno;
        if (out && std::fclose(out) != 0 && written) {
            written = false;
            why = errno;
        }
        if (!written) {
            std::fprintf(stderr, "zelkor-cli: the report %s could not be written: %s\n", m_values.reportFile.c_str(),
                         std::strerror(why));
            status = status == kExitOk ? kExitFailed : status;
        }
    }
    if (!m_values.reportHtml.empty()) {
        const int written = writeHtml(m_values.reportHtml, htmlFacts(), m_run->results(), &report,
                                      m_store.kind == StoreSpec::Kind::Sqlite ? sqliteFiles(m_store.path)
                                                                              : std::vector<std::filesystem::path>{},
                                      m_controls->checked(ctl::kKeywordWords) ? std::optional<std::filesystem::path>(m_home)
                                                                              : std::nullopt);
        if (written != kExitOk && status == kExitOk) status = written;
    }
    return status;
}

ReportFacts RunCommand::htmlFacts() const {
    ReportFacts facts = runFacts(*m_run, *m_controls);
    facts.started = m_started;
    facts.ended = isoTimeNow();
    switch (m_store.kind) {
    case StoreSpec::Kind::Files: facts.store = "files"; break;
    case StoreSpec::Kind::Sqlite: facts.store = "sqlite:" + m_store.path.string(); break;
    case StoreSpec::Kind::Redis: facts.store = redisUrlShown(m_store.url) + " (" + m_store.run + ")"; break;
    }
    return facts;
}

} // namespace zelkor::cli
