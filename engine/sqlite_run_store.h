#pragma once
// The run store in one SQLite database (WAL, synchronous=NORMAL, one writer per run). Tables:
// runs (one row per run: seeds, state, owner process, progress counters), run_options, seen
// (case-folded keys), queue (by position) and results (by position). Texts are GBK blobs.
//
// While a keyword is asked, its marks, queued tasks and results wait in memory (contains() sees
// them); commitKeyword writes them in one transaction together with the keyword leaving the queue.

#include "engine/durable_store.h"
#include "engine/sqlite.h"

#include <mutex>
#include <unordered_set>

namespace zelkor {

class SqliteRunStore final : public DurableStore {
  public:
    // Opens (creating with its schema, parent directories included) the database. nullptr with
    // *error (UTF-8) when the file is not a database of ours, is damaged, or stays locked longer
    // than busyTimeoutMs.
    static std::unique_ptr<SqliteRunStore> open(const std::filesystem::path& file, std::string* error,
                                                int busyTimeoutMs = 5000);

    std::string describe() const override { return "sqlite:" + m_file.string(); }
    bool beginRun(const RunOptionValues& options) override;
    std::optional<RunProgress> resumeNewest() override;
    bool commitKeyword(bool seedPass, std::size_t seedsDone, int accepted) override;
    void finish() override { setState("finished"); }
    void stop() override { setState("stopped"); }
    std::string error() const override;
    std::vector<RunSummary> listRuns() override;
    std::optional<std::vector<ResultRecord>> runResults(std::int64_t id) override;

    // The current run's data, as the sink and the run loop use it (worker thread).
    bool contains(const Text& keyword);
    void mark(const Text& keyword);
    void push(const KeywordTask& task);
    void addResult(const ResultRecord& record);
    std::optional<KeywordTask> front();
    std::size_t queueSize() const; // committed plus pending

    SqliteRunStore(std::filesystem::path file, SqliteDb db) : m_file(std::move(file)), m_db(std::move(db)) {}

  private:
    bool prepare();
    bool failed(const std::string& what);
    void broken(const std::string& what);
    void setState(const char* state);
    void resetProgress(std::int64_t id);
    void clearPending();

    std::filesystem::path m_file;
    mutable std::mutex m_mutex;
    SqliteDb m_db;
    SqliteStatement m_containsSeen, m_insertSeen, m_insertQueue, m_insertResult, m_front, m_deleteQueue,
        m_updateRun, m_setState;

    std::int64_t m_run = 0;
    std::int64_t m_tail = 0;
    std::int64_t m_resultCount = 0;
    std::size_t m_committedQueue = 0;
    std::optional<std::int64_t> m_frontPos;
    std::unordered_set<Text> m_pendingSeen;
    std::vector<Text> m_pendingMarks;
    std::vector<KeywordTask> m_pendingPush;
    std::vector<ResultRecord> m_pendingResults;
    std::string m_error;
    std::string m_brokenText;
};

} // namespace zelkor
