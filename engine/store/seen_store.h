#pragma once
// One empty marker file per collected phrase, under <home>/cwls/. Names are the keyword in UTF-8
// with ASCII letters folded to lower case, "%", "/" and NUL escaped as %25, %2F and %00, "." and ".." as
// %2E and %2E%2E, and names too long for the file system shortened to a prefix plus a hash; every
// marker lies directly inside the store directory, and one keyword always gives one name.

#include "engine/core/controls.h"
#include "engine/store/run_store.h"
#include "text/text.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <system_error>

namespace zelkor {

// File name (UTF-8) of `keyword` + ".zr". fold_case: fold ASCII letters (the store does; the
// hang-up output keeps the case).
std::string markerFileName(const Text& keyword, bool fold_case);

// The hang-up file of `keyword`: the keyword as it stands (UTF-8) plus ".zr", so that the companion
// programs read the keyword from the name. nullopt when the keyword cannot be a file name: "/" or
// NUL inside, "." or "..". A name too long for the file system shows when the file is written.
std::optional<std::string> hangupFileName(const Text& keyword);

// Creates the directories of `file`, then creates it empty or truncates it. No error on success,
// else the system error (the file is then removed).
std::error_code writeEmptyFile(const std::filesystem::path& file);

class SeenStore {
  public:
    explicit SeenStore(std::filesystem::path directory) : m_dir(std::move(directory)) {}
    static std::filesystem::path defaultDirectory(const std::filesystem::path& home) { return home / "cwls"; }

    const std::filesystem::path& directory() const { return m_dir; }
    bool contains(const Text& keyword) const { return containsName(markerFileName(keyword, true)); }
    std::error_code mark(const Text& keyword) const { return markName(markerFileName(keyword, true)); }
    // The same by marker file name, for a caller that tests and then marks one keyword.
    bool containsName(const std::string& name) const;
    std::error_code markName(const std::string& name) const; // as writeEmptyFile

  private:
    std::filesystem::path m_dir;
};

// One empty marker file per phrase in a directory (see SeenStore).
class MarkerSeenSet final : public SeenSet {
  public:
    explicit MarkerSeenSet(std::filesystem::path directory) : m_dir(std::move(directory)) {}
    bool contains(const Text& keyword) const override;
    bool insert(const Text& keyword) override;
    std::string failure() const override;
    const std::filesystem::path& directory() const { return m_dir; }

  private:
    std::filesystem::path m_dir;
    std::error_code m_failure;
};

// Empties stores in the background and owns the threads that do it.
class SeenStoreEmptier {
  public:
    SeenStoreEmptier() = default;
    // Waits for the emptyings still running.
    ~SeenStoreEmptier();
    SeenStoreEmptier(const SeenStoreEmptier&) = delete;
    SeenStoreEmptier& operator=(const SeenStoreEmptier&) = delete;

    // Until the markers a stopped run was still writing are written; false on timeout.
    using Settle = std::function<bool(std::chrono::milliseconds)>;

    // Empties the store of `home`: the directory is renamed away at once on the calling thread (so
    // markers written from now on land in a fresh store), then a thread of this emptier shows
    // "开始清理临时数据，建议清理完后再使用本软件", deletes the renamed tree (and leftovers of
    // earlier emptyings) and shows "临时数据清理完毕". With `settle`, when markers are still being
    // written the renaming waits for them on that thread instead (a few seconds at most).
    void start(const std::filesystem::path& home, std::shared_ptr<Controls> controls, Settle settle = {});
    // Until every emptying started so far is done; false on timeout.
    bool waitIdle(std::chrono::milliseconds timeout);

  private:
    std::mutex m_mutex;
    std::condition_variable m_idle;
    int m_running = 0;
    std::vector<std::jthread> m_threads;
};

// The same as SeenStoreEmptier::start, wholly on the calling thread.
void emptySeenStore(const std::filesystem::path& home, Controls& controls);

} // namespace zelkor
