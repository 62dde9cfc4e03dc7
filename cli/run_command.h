#pragma once
// zelkor-cli without a subcommand: one mining run in the terminal, in four steps: define (the
// options, with the defaults of the home's settings file), set up (check everything and fill the
// controls before any file is touched), run (until the run ends or Ctrl-C), report (the final
// export and the exit status).

#include "analysis/html_report.h"
#include "cli/command.h"
#include "engine/run/mining_run.h"
#include "engine/core/value_controls.h"

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zelkor::cli {

class RunCommand {
  public:
    // `presetHome`: the --home of the command line, read before parsing, for the defaults --help shows.
    explicit RunCommand(std::filesystem::path presetHome);

    void define(CLI::App& app);
    // kExitOk when ready to run, else the exit status (a message was printed).
    int setUp(const SharedOptions& shared);
    // How the run came to its end: the signal that stopped it (0: none), and whether standard
    // output was closed under it.
    struct Ending {
        int signal = 0;
        bool outputGone = false;
    };
    // The run, to its end.
    Ending run();
    // The final export; the exit status.
    int report(Ending ending);

    int execute(const SharedOptions& shared) {
        if (const int status = setUp(shared); status != kExitOk) return status;
        return report(run());
    }

  private:
    struct Values {
        std::vector<std::string> seeds;
        std::string seedsFile, sources = "0", forbiddenFile, hangupDir, saveDir, delay, limit;
        bool noMainWord = false, noAutosave = false, quiet = false, resume = false, parallel = false,
             verifyTls = false;
        std::string store, rate, runName, lease, storeTimeout;
        std::string retries, cooldown, reportFile, reportHtml, proxyFile;
        std::string variants, includePattern, excludePattern, minChars, maxChars;
        std::string maxAnswerMib, deadline, exportFormat, resumeRun, proxyFallback;
        std::string maxDepth, filterMode;
        bool normalize = false, hits = false, words = false;
        double backoff = 0.5;
        std::vector<std::string> proxies;
    };

    // Options of the run itself given with --resume, by name; refused, as the run keeps its own.
    std::vector<std::string> runOwnOptionsGiven() const;

    std::filesystem::path m_presetHome;
    Values m_values;
    CLI::App* m_app = nullptr;
    std::filesystem::path m_home;
    std::optional<SourceRows> m_rows;
    std::optional<Endpoints> m_endpoints;
    std::shared_ptr<ValueControls> m_controls;
    StoreSpec m_store;
    int m_failure = kExitOk; // set when the run could not start or its store failed
    std::unique_ptr<MiningController> m_controller;
    std::shared_ptr<MiningRun> m_run;
    std::atomic<bool> m_progressShown{false};
    std::atomic<bool> m_outputGone{false};
    std::string m_refusal; // UTF-8; set when Start was refused
    bool m_stoppedBeforeStart = false; // stopped while the store was being opened
    std::string m_started;             // when the run was started, for the HTML report

    // What the HTML report says of the run beside its results.
    ReportFacts htmlFacts() const;
    // Sets the source list's rows as a resumed or joined run ticked them.
    void applyTicks(const SourceTicks& ticks);
};

} // namespace zelkor::cli
