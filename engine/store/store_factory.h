#pragma once
// The one way either face opens a run's store: for a new run (or a shared run to join), to
// resume one, or to read the history. The concrete stores stay behind it.
//
// Threads: each call may take seconds (a locked database, a server that restarts); call it where
// waiting is allowed, never on the window thread.

#include "engine/core/expected.h"
#include "engine/core/records.h"
#include "engine/store/run_history.h"
#include "engine/store/run_store.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace zelkor {

// A store ready for a run, and where the run starts in it.
struct StoreForRun {
    std::shared_ptr<RunStore> store;
    std::size_t seedsDone = 0; // seed rounds a resumed run had done
    int accepted = 0;          // the count it had reached
    bool seedsQueued = false;  // a shared run: the seed rounds are in the shared queue
    // A resumed or joined run's own options, to be put back into the controls. A joined run's
    // directories, proxies and store URL are left out: they are the machine's that created it.
    std::optional<RunOptionValues> runOptions;
};

struct RunStoreRequest {
    StoreSpec spec;
    std::filesystem::path home;          // the files store keeps its seen markers under it
    RunOptionValues options;             // the new run's
    std::vector<KeywordTask> seedRounds; // a shared run's first tasks
    // A shared store's server was lost for a moment and the call is tried again (UTF-8).
    std::function<void(const std::string&)> onRetry;
    // A shared run's queued task could not be read and was set aside; the run goes on (UTF-8).
    std::function<void(const std::string&)> onDamaged;
};

Expected<StoreForRun> openRunStore(const RunStoreRequest& request);
// The unfinished run spec.resumeRun of a database store (0: the newest that can go on), taken over
// by this process; nullopt when there is none. `stop` ends the reading of a large run at once.
Expected<std::optional<StoreForRun>> resumeRunStore(const StoreSpec& spec, std::stop_token stop = {});
Expected<std::unique_ptr<RunHistory>> openRunHistory(const StoreSpec& spec, int busyTimeoutMs = 5000);

} // namespace zelkor
