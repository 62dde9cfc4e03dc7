#pragma once
// The run store in one SQLite database (WAL, synchronous=NORMAL, one writer per run). Tables:
// runs (one row per run: seeds, state, owner process, progress counters), run_options, seen
// (case-folded keys), queue (by position), results (by position) and held (keywords no service
// answered, by position). Texts are GBK blobs. A running run holds a lock file beside the database.
//
// While a keyword is asked, its marks, queued tasks and results wait in memory (contains() sees
// them); commitKeyword writes them in one transaction together with the keyword leaving the queue.

#include "engine/core/file_lock.h"
#include "engine/store/run_history.h"
#include "engine/store/memory_store.h"
#include "engine/store/staging.h"
#include "engine/store/sqlite.h"

#include <mutex>
#include <optional>
#include <stop_token>

namespace zelkor {

class SqliteRunStore final : public RunStore, public RunHistory {
  public:
    // Opens (creating with its schema, parent directories included) the database. nullptr with
    // *error (UTF-8) when the file is not a database of ours, is damaged, or stays locked longer
    // than busyTimeoutMs.
    static std::unique_ptr<SqliteRunStore> open(const std::filesystem::path& file, std::string* error,
                                                int busyTimeoutMs = 5000);

    KeywordQueue& queue() override { return m_queue; }
    SeenSet& seen() override { return m_seen; }
    ResultList& results() override { return m_results; }
    bool commitKeyword(std::size_t seedsDone, int accepted) override;
    bool holdUnanswered(const KeywordTask& task) override;
    void runFinished() override { setState("finished"); }
    void runStopped() override { setState("stopped"); }
    void runIncomplete() override { setState("incomplete"); }
    std::string error() const override;

    std::string describe() const override { return "sqlite:" + m_file.string(); }
    Expected<std::vector<RunSummary>> listRuns() override;
    Expected<std::vector<ResultRecord>> runResults(std::string_view run) override;
    // Run `id` (0: the newest).
    Expected<std::vector<ResultRecord>> runResults(std::int64_t id);
    Expected<RunOptionValues> runOptions(std::string_view run) override;

    // A new run with these options. False (see error()) when the store cannot take it.
    bool beginRun(const RunOptionValues& options);
    // Continues run `id` (0: the newest unfinished run not alive in another process), its held
    // keywords put at the head of its queue. nullopt with error() empty when there is none; with
    // error() set when run `id` cannot go on (finished, alive elsewhere, missing) or `stop` came
    // while it was being read.
    std::optional<RunProgress> resume(std::int64_t id, std::stop_token stop);
    std::optional<RunProgress> resumeNewest();

    SqliteRunStore(std::filesystem::path file, SqliteDb db);

  private:
    class Queue final : public KeywordQueue {
      public:
        explicit Queue(SqliteRunStore& store) : m_store(store) {}
        void push(KeywordTask task) override;
        std::optional<KeywordTask> front() const override;
        void pop() override;
        std::size_t size() const override;
        std::optional<KeywordTask> at(std::size_t position) const override;

      private:
        SqliteRunStore& m_store;
    };
    class Seen final : public StagedSeen {
      public:
        explicit Seen(SqliteRunStore& store) : StagedSeen(store.m_mutex, store.m_staging), m_store(store) {}

      private:
        bool containsStored(const Text& key) const override;
        SqliteRunStore& m_store;
    };

    bool prepare();
    // The id of run `run` as the history names it (empty: the newest).
    Expected<std::int64_t> findRun(std::string_view run);
    // Beside the database: held by the process that runs the run, so the run is alive exactly as long.
    std::filesystem::path runLockFile(std::int64_t id) const;
    bool requeueHeld(std::int64_t run);
    Expected<RunOptionValues> readOptions(std::int64_t run); // with the mutex held
    std::string problem(const std::string& what) const; // what failed, where and why
    bool failed(const std::string& what);
    void broken(const std::string& what);
    void setState(const char* state);
    void resetProgress(std::int64_t id);

    std::filesystem::path m_file;
    mutable std::mutex m_mutex;
    SqliteDb m_db;
    SqliteStatement m_containsSeen, m_insertSeen, m_insertQueue, m_insertResult, m_insertHit, m_front, m_at,
        m_deleteQueue, m_updateRun, m_setState, m_insertHeld;
    KeywordStaging m_staging;
    StoreFault m_fault;
    Queue m_queue{*this};
    Seen m_seen{*this};
    StagedResults m_results{m_mutex, m_staging};

    std::int64_t m_run = 0;
    std::int64_t m_tail = 0;
    std::int64_t m_resultCount = 0;
    std::size_t m_committedQueue = 0;
    std::optional<std::int64_t> m_frontPos; // of the task front() gave
    bool m_popped = false;                  // that task leaves with the next commit
    std::vector<KeywordTask> m_held;        // unanswered, to be held with the next commit
    std::int64_t m_heldNext = 0;
    std::optional<FileLock> m_runLock;
};

} // namespace zelkor
