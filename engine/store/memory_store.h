#pragma once
// The memory store: queue and results packed in memory, the seen set as the cwls marker files, as
// every run has always kept them. Nothing of it outlives the process but the markers.

#include "engine/core/packed_texts.h"
#include "engine/store/run_store.h"
#include "engine/store/seen_store.h"

#include <deque>
#include <filesystem>
#include <mutex>
#include <unordered_map>

namespace zelkor {

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
    void countHits() override;
    void hit(const Text& keyword, const Text& sourceName) override;

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

    // Hits, only once counted: every result's index by its phrase, and the results met again.
    struct Hits {
        std::uint32_t again = 0;
        std::uint32_t ownSource = 0;
        std::vector<std::uint32_t> otherSources;
    };
    bool m_countingHits = false;
    std::unordered_map<Text, std::uint32_t> m_indexOf;
    std::unordered_map<std::uint32_t, Hits> m_hits;
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
