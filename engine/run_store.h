#pragma once
// What a run remembers: the breadth-first queue, the seen set and the shown results. The result
// sink and the run loop reach them only through these interfaces, so a store kept elsewhere (a
// database file, a server) takes the place of the in-memory one without touching either.
//
// Threads: the run's worker calls every member; the face may read sizes and copy results at any
// time, so implementations are safe to read from another thread while the worker writes.

#include "engine/packed_texts.h"
#include "engine/records.h"
#include "text/text.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace zelkor {

// Keywords waiting to be asked, oldest first.
class KeywordQueue {
  public:
    virtual ~KeywordQueue() = default;
    virtual void push(KeywordTask task) = 0;
    // The oldest task, still queued; nullopt when empty.
    virtual std::optional<KeywordTask> front() const = 0;
    virtual void pop() = 0; // drops the oldest task, once it has been asked
    virtual std::size_t size() const = 0;
    // The task `position` places behind the oldest (0: the oldest), still queued; nullopt past the
    // end. A queue that can only show its oldest task shows no more, and a run asks no further ahead.
    virtual std::optional<KeywordTask> at(std::size_t position) const {
        return position == 0 ? front() : std::nullopt;
    }
};

// Every phrase ever accepted, across runs until it is emptied.
class SeenSet {
  public:
    virtual ~SeenSet() = default;
    virtual bool contains(const Text& keyword) const = 0;
    // Records `keyword`; false when it could not be recorded.
    virtual bool insert(const Text& keyword) = 0;
    // Where and why the last insert failed (UTF-8), for the notice that ends the run.
    virtual std::string failure() const { return {}; }
};

// The shown results in the order they were shown. They only ever grow.
class ResultList {
  public:
    virtual ~ResultList() = default;
    virtual void append(ResultRecord record) = 0;
    virtual std::size_t size() const = 0;
    // Records [from, to), clamped to the list.
    virtual std::vector<ResultRecord> copy(std::size_t from, std::size_t to) const = 0;
    std::vector<ResultRecord> all() const { return copy(0, size()); }
};

// The three together, as one run uses them.
class RunStore {
  public:
    virtual ~RunStore() = default;
    virtual KeywordQueue& queue() = 0;
    virtual SeenSet& seen() = 0;
    virtual ResultList& results() = 0;

    // Ends one keyword: a seed of the seed pass (`seedsDone` seeds are then done) or the queue's
    // front task, popped just before. A store that keeps the run beyond the process writes the
    // keyword's effects now, all together; false (see error()) when it could not: the run stops.
    virtual bool commitKeyword(std::size_t seedsDone, int accepted) {
        (void)seedsDone;
        (void)accepted;
        return true;
    }
    // The run ended by itself / was stopped (from any thread).
    virtual void runFinished() {}
    virtual void runStopped() {}
    // The latest failure, in words (UTF-8).
    virtual std::string error() const { return {}; }
    // The store can no longer tell what the run holds (a lost server): the run stops, and error() says why.
    virtual bool broken() const { return false; }
};

// The case-folded phrases a keyword marked so far, waiting for its commit, in the order marked.
class PendingMarks {
  public:
    bool contains(const Text& key) const { return m_set.contains(key); }
    void add(Text key) {
        if (m_set.insert(key).second) m_keys.push_back(std::move(key));
    }
    const std::vector<Text>& keys() const { return m_keys; }
    void clear() {
        m_set.clear();
        m_keys.clear();
    }

  private:
    std::unordered_set<Text> m_set;
    std::vector<Text> m_keys;
};

class MemoryKeywordQueue final : public KeywordQueue {
  public:
    void push(KeywordTask task) override;
    std::optional<KeywordTask> front() const override;
    void pop() override;
    std::size_t size() const override;
    std::optional<KeywordTask> at(std::size_t position) const override;

  private:
    // Tasks are packed like the results (see MemoryResultList): depth, then main word and keyword
    // each as a change from the task before, afresh every kTasksPerMark-th task. Blocks go as the
    // tasks in them are popped.
    std::optional<KeywordTask> taskAt(std::size_t position) const;

    static constexpr std::size_t kTasksPerMark = 32;

    mutable std::mutex m_mutex;
    PackedBytes m_bytes;
    std::deque<PackedBytes::Position> m_marks; // where task (m_head rounded down) + i * kTasksPerMark starts
    std::uint64_t m_head = 0, m_tail = 0;      // tasks popped and pushed since the queue was last empty
    KeywordTask m_last;                        // the task pushed last, or empty at a mark
    std::string m_scratch;
};

class MemoryResultList final : public ResultList {
  public:
    void append(ResultRecord record) override;
    std::size_t size() const override;
    std::vector<ResultRecord> copy(std::size_t from, std::size_t to) const override;

  private:
    // Each record is packed as its depth, its source's index, then its main word, parent, time and
    // phrase each as a change from the record before: those repeat or share their start from record
    // to record, so most records take a few bytes beyond what is new in the phrase. Every
    // kRecordsPerMark-th record starts afresh, and a copy starts at the mark before it.
    std::uint32_t sourceIndex(const Text& name);
    void read(PackedBytes::Position* at, ResultRecord* record) const; // from the record before it

    static constexpr std::size_t kRecordsPerMark = 32;

    mutable std::mutex m_mutex;
    PackedBytes m_records;
    std::vector<PackedBytes::Position> m_marks; // where record i * kRecordsPerMark starts
    std::size_t m_size = 0;
    std::vector<Text> m_sources; // a run's few sources, by first appearance
    std::unordered_map<Text, std::uint32_t> m_sourceIndex;
    ResultRecord m_last;   // the record appended last, or empty at a mark
    std::string m_scratch; // one record as it is packed
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

// Queue and results in memory, the seen set as marker files under home/cwls: the store every run
// has always used.
class DefaultRunStore final : public RunStore {
  public:
    explicit DefaultRunStore(const std::filesystem::path& home);
    KeywordQueue& queue() override { return m_queue; }
    SeenSet& seen() override { return m_seen; }
    ResultList& results() override { return m_results; }

  private:
    MemoryKeywordQueue m_queue;
    MarkerSeenSet m_seen;
    MemoryResultList m_results;
};

} // namespace zelkor
