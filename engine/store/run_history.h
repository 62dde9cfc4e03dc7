#pragma once
// What stores that outlive the process keep of each run: the options it was started with, its
// progress and its history.
//   files        the cwls marker files and memory (the default; nothing here)
//   sqlite:PATH  one database file; a run killed at any instant resumes without a loss or a
//                duplicate, because each keyword's effects commit together
//   redis://…    one run shared by workers on several machines (see RedisRunStore)

#include "engine/core/controls.h"
#include "engine/core/expected.h"
#include "engine/core/records.h"
#include "text/text.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zelkor {

// The values a run was started with: control name (UTF-8) → value (GBK). Check boxes "1"/"0",
// the source list as a comma list of ticked indexes.
using RunOptionValues = std::vector<std::pair<std::string, Text>>;

// The ticks of the source list's rows, rows a sources file added included.
using SourceTicks = std::vector<bool>;

// Damaged: the store holds entries of the run that cannot be read (see RedisRunStore).
// Incomplete: ended by itself with keywords no service answered, kept to be asked again.
enum class StoredRunState { Running, Finished, Stopped, Interrupted, Damaged, Incomplete };
// Whether `resume` may take a run in that state (not running, not finished, not damaged).
bool storedRunResumable(StoredRunState state);
std::string_view storedRunStateName(StoredRunState state);

// One run of a store, as `runs` lists it.
struct RunSummary {
    std::int64_t id = 0;
    std::string started; // ISO 8601
    Text seeds;          // the seed box's text, GBK
    StoredRunState state = StoredRunState::Running;
    std::int64_t keywordsDone = 0; // seeds and queued keywords whose answers were committed
    std::int64_t results = 0;
    std::string name; // a shared run's name; empty for the others
};

// What a resumed run starts from; its results are back in the store's results().
struct RunProgress {
    std::int64_t id = 0;
    RunOptionValues options;
    std::size_t seedsDone = 0;
    int accepted = 0;
};

// A store's runs as `runs`, `export` and the window's history see them.
class RunHistory {
  public:
    virtual ~RunHistory() = default;
    virtual std::string describe() const = 0; // "sqlite:<path>", "redis://host:port/db"
    virtual Expected<std::vector<RunSummary>> listRuns() = 0;
    // The results of one run, in order: `run` as listRuns names it (a database store's id, a shared
    // run's name); empty: the newest run.
    virtual Expected<std::vector<ResultRecord>> runResults(std::string_view run) = 0;
    // Results the last runResults call could not read and left out.
    virtual std::size_t damagedResults() const { return 0; }
    // The options one run (as for runResults) was started with; empty when the store keeps none.
    virtual Expected<RunOptionValues> runOptions(std::string_view run) {
        (void)run;
        return RunOptionValues{};
    }
};

// The values of the controls a run reads: its seeds, forbidden words, limit, delay, directories,
// check boxes and ticked sources. Proxies are kept without their credentials ("***"), the store's
// URL without its password.
RunOptionValues captureRunOptions(const Controls& controls);
// Puts them back; the ticked sources are returned for the face to set (Controls has no item
// write), one per row, rows a sources file added included. Values the list does not hold leave
// their control as it is.
SourceTicks applyRunOptions(Controls& controls, const RunOptionValues& options);
// True when the run went through proxies whose credentials the store does not hold: the proxy
// list given now stands (applyRunOptions leaves it), and a run given none must not go on.
bool storedProxiesNeedCredentials(const RunOptionValues& options);

inline constexpr std::chrono::seconds kDefaultStoreTimeout{60};

// "files" (or empty) | "sqlite" (= <home>/data/runs.sqlite) | "sqlite:PATH" | "redis://HOST:PORT/DB".
struct StoreSpec {
    enum class Kind { Files, Sqlite, Redis } kind = Kind::Files;
    std::filesystem::path path;
    // Redis: the server, and the run (set apart from the text: --run, --lease).
    std::string url;
    std::string run;
    std::chrono::milliseconds lease{60000};
    // A database store's run to resume; 0: the newest that can go on.
    std::int64_t resumeRun = 0;
    // How long a worker rides out a lost server before it gives up (--store-timeout).
    std::chrono::milliseconds outage{kDefaultStoreTimeout};
};
std::optional<StoreSpec> parseStoreSpec(std::string_view text, const std::filesystem::path& home,
                                        std::string* error);

} // namespace zelkor
