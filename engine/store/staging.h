#pragma once
// What one keyword changed, waiting for its commit in a store that keeps runs beyond the process
// (SQLite, Redis): the phrases it marked seen, the tasks it queued and the results it showed. A
// store writes them all together when the keyword commits, or forgets them, so a run killed at
// any instant asks about the same keyword again when it goes on.
//
// Threads: each piece is guarded by the mutex of the store that owns it, passed in.

#include "engine/core/records.h"
#include "engine/store/memory_store.h"
#include "engine/store/run_store.h"
#include "text/text.h"

#include <mutex>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace zelkor {

class KeywordStaging {
  public:
    // Marks are case-folded keys, kept in the order marked.
    bool marked(const Text& key) const { return m_markSet.contains(key); }
    void mark(Text key);
    void push(KeywordTask task) { m_pushes.push_back(std::move(task)); }
    void addResult(ResultRecord record) { m_results.push_back(std::move(record)); }
    // A result offered again: its phrase and the source that offered it.
    void addHit(Text keyword, Text sourceName) { m_hits.emplace_back(std::move(keyword), std::move(sourceName)); }

    const std::vector<Text>& marks() const { return m_marks; }
    const std::vector<KeywordTask>& pushes() const { return m_pushes; }
    const std::vector<ResultRecord>& results() const { return m_results; }
    const std::vector<std::pair<Text, Text>>& hits() const { return m_hits; }

    void clear();

  private:
    std::unordered_set<Text> m_markSet;
    std::vector<Text> m_marks;
    std::vector<KeywordTask> m_pushes;
    std::vector<ResultRecord> m_results;
    std::vector<std::pair<Text, Text>> m_hits;
};

// A database store's failures: the latest (error) and, once the store can no longer tell what the
// run holds, why it broke (kept: a broken store stays broken).
class StoreFault {
  public:
    void fail(std::string why) { m_error = std::move(why); }
    void breakWith(std::string why) {
        if (m_broken.empty()) m_broken = std::move(why);
    }
    bool broken() const { return !m_broken.empty(); }
    const std::string& brokenText() const { return m_broken; }
    // The latest failure, else why the store broke.
    std::string text() const { return m_error.empty() ? m_broken : m_error; }
    void clearError() { m_error.clear(); }
    void reset() { m_error.clear(), m_broken.clear(); }

  private:
    std::string m_error;
    std::string m_broken;
};

// The seen set of a staged store: a phrase marked by the keyword being asked counts as seen; the
// rest is the store's to tell. A mark waits for the keyword's commit.
class StagedSeen : public SeenSet {
  public:
    StagedSeen(std::mutex& mutex, KeywordStaging& staging) : m_mutex(mutex), m_staging(staging) {}
    bool contains(const Text& keyword) const final;
    bool insert(const Text& keyword) final;

  protected:
    // With the store's mutex held, for a key not marked by the keyword being asked. May mark it
    // (a store that claims a phrase for this worker as it answers).
    virtual bool containsStored(const Text& key) const = 0;
    KeywordStaging& staging() const { return m_staging; }

  private:
    std::mutex& m_mutex;
    KeywordStaging& m_staging;
};

// The results of a staged store: the shown ones in memory too (the panel's export, the results
// file), new ones staged until their keyword commits.
class StagedResults final : public ResultList {
  public:
    StagedResults(std::mutex& mutex, KeywordStaging& staging) : m_mutex(mutex), m_staging(staging) {}
    void append(ResultRecord record) override;
    std::size_t size() const override { return m_shown.size(); }
    std::vector<ResultRecord> copy(std::size_t from, std::size_t to) const override {
        return m_shown.copy(from, to);
    }
    void countHits() override { m_shown.countHits(); }
    void hit(const Text& keyword, const Text& sourceName) override;
    // A resumed run's results, already kept: shown again, not staged.
    void restore(ResultRecord record) { m_shown.append(std::move(record)); }
    // A resumed run's hits, already kept, after its results.
    void restoreHit(const Text& keyword, const Text& sourceName) {
        m_shown.countHits();
        m_shown.hit(keyword, sourceName);
    }

  private:
    std::mutex& m_mutex;
    KeywordStaging& m_staging;
    MemoryResultList m_shown;
};

} // namespace zelkor
