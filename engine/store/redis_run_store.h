#pragma once
// One run worked by many processes, on many machines, through one Redis database. Every worker
// started with the same store and run name shares the run's queue, seen set and results:
//
//   zelkor:runs                      sorted set: run name → when it was created (ms)
//   zelkor:run:<name>:meta           hash: started, seeds, done (keywords committed), state
//   zelkor:run:<name>:options        list: name, value, name, value … (the creator's options)
//   zelkor:run:<name>:queue          list of tasks, oldest first
//   zelkor:run:<name>:leases         hash: lease token → the task it holds
//   zelkor:run:<name>:alive:<token>  a lease's life; it expires unless its worker renews it
//   zelkor:run:<name>:done:<token>   a commit just made (so a retried commit is not made twice)
//   zelkor:run:<name>:seen           set of case-folded phrases
//   zelkor:run:<name>:claims         hash: case-folded phrase → the lease that accepted it
//   zelkor:run:<name>:results        list of result records
//   zelkor:run:<name>:held           list of tasks no service answered, to be asked first on joining
//   zelkor:run:<name>:hits           hash: phrase and source (encoded) → times offered again
//   zelkor:run:<name>:damaged        list of queued tasks that could not be read, set aside
//   zelkor:run:<name>:workers        hash: worker → 1; zelkor:run:<name>:worker:<id> its life
//
// A worker leases a task instead of popping it. While it asks, the phrases it accepts are claimed
// for its lease, so no other worker accepts them too; its commit (one script) turns the claims into
// seen marks and adds the results, queued tasks, held keywords and hits and ends the lease, all at
// once. A worker that
// dies loses its lease when it expires: the task goes back to the head of the queue and its claims
// count for nothing. The run ends for every worker when the queue is empty and no lease is held.
//
// A worker in throughput mode looks ahead into the queue (at()): each task it looks at is leased
// on its own, the leases are renewed together and given back together on Stop, and the oldest is
// the one its next commit ends. Its own look-ahead never waits: only a worker that holds nothing
// waits for the others' commits.
//
// Texts are GBK bytes; the scripts build key names from the run's prefix, so the database must be
// a single server, not a cluster.

#include "engine/store/run_history.h"
#include "engine/store/redis.h"
#include "engine/store/memory_store.h"
#include "engine/store/staging.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <unordered_map>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>
#include <utility>

namespace zelkor {

// "redis://HOST:PORT/DB" with a run name.
struct RedisStoreTarget {
    RedisConnection::Options server;
    std::string run;
    std::chrono::milliseconds lease{60000};
    // Told (from the worker's thread) when a queued task could not be read and was set aside.
    std::function<void(const std::string&)> onDamaged;
};

// The longest keyword or phrase a store takes back from the server; anything longer is damage.
inline constexpr std::size_t kMaxStoredPhraseBytes = 4096;

// A run name: 1 to 64 of A-Z a-z 0-9 _ . - (it becomes part of key names).
bool validRunName(std::string_view name);

class RedisRunStore final : public RunStore, public RunHistory {
  public:
    // Connects. nullptr with *error (UTF-8) when the server cannot be reached.
    static std::unique_ptr<RedisRunStore> open(const RedisStoreTarget& target, std::string* error);
    ~RedisRunStore() override;

    // Creates the run from these options with the seed rounds as its first tasks, or joins the run
    // of that name. Joined: the run's own options are in *stored. nullopt (see error()) when the
    // server fails or the run is already finished.
    enum class Entry { Created, Joined };
    std::optional<Entry> enter(const RunOptionValues& options, const std::vector<KeywordTask>& seedRounds,
                               RunOptionValues* stored);

    KeywordQueue& queue() override { return m_queue; }
    SeenSet& seen() override { return m_seen; }
    ResultList& results() override { return m_results; }
    bool commitKeyword(std::size_t seedsDone, int accepted) override;
    bool holdUnanswered(const KeywordTask& task) override;
    // The run ends for all when nothing is queued or leased: incomplete when keywords are held.
    void runFinished() override;
    void runStopping() override;
    void runStopped() override { runStopping(); }
    std::string error() const override;
    bool broken() const override;

    std::string describe() const override;

    // The history, for `runs` and `export`; a run is named by its name. A run whose entries cannot
    // be read is listed as damaged; results that cannot be read are left out and counted. A run
    // that counted hits gives each result its hits and services, every worker's offers together.
    Expected<std::vector<RunSummary>> listRuns() override;
    Expected<std::vector<ResultRecord>> runResults(std::string_view run) override;
    std::size_t damagedResults() const override;

    RedisRunStore(RedisStoreTarget target, RedisConnection main, RedisConnection renewer);

  private:
    class Queue final : public KeywordQueue {
      public:
        explicit Queue(RedisRunStore& store) : m_store(store) {}
        void push(KeywordTask task) override;
        // Leases a task (or gives the one leased); waits while the queue is empty but other
        // workers hold leases, since their answers may queue more.
        std::optional<KeywordTask> front() const override;
        // Leases the tasks up to `position` places behind the oldest leased one; nullopt, without
        // waiting, when the queue has no more now.
        std::optional<KeywordTask> at(std::size_t position) const override;
        void pop() override;
        std::size_t size() const override;
        bool shared() const override { return true; }

      private:
        RedisRunStore& m_store;
    };
    class Seen final : public StagedSeen {
      public:
        explicit Seen(RedisRunStore& store) : StagedSeen(store.m_mutex, store.m_staging), m_store(store) {}

        // Claims them all for the oldest lease in one round trip; contains() then answers from that.
        void expect(const std::vector<Text>& keywords) override;

      private:
        // False only when the phrase is now claimed for this worker's lease.
        bool containsStored(const Text& key) const override;
        RedisRunStore& m_store;
    };

    std::string runWhere() const; // "the run NAME in redis://HOST:PORT/DB"
    std::string key(std::string_view part) const { return m_prefix + std::string(part); }
    RedisReply call(const std::string& script, std::vector<std::string_view> arguments);
    void breakWith(const std::string& what, const RedisReply& reply);
    std::optional<KeywordTask> lease(std::size_t position);
    void renewLoop(std::stop_token stop);
    void release(RedisConnection& connection, const std::vector<std::string>& tokens);
    void leave(RedisConnection& connection);
    void heldChanged();                  // with m_mutex held: tells the renewer
    std::string headToken() const;       // with m_mutex held: the lease the next commit ends
    bool setAside(std::size_t position); // with m_mutex held: that leased task cannot be read

    RedisStoreTarget m_target;
    std::string m_prefix;
    std::string m_worker;

    mutable std::mutex m_mutex; // the main connection and everything below
    RedisConnection m_main;
    KeywordStaging m_staging;
    StoreFault m_fault;
    Queue m_queue{*this};
    Seen m_seen{*this};
    StagedResults m_results{m_mutex, m_staging}; // this worker's own, for its results file
    struct Lease {
        std::string token;
        std::string task; // encoded
    };
    std::deque<Lease> m_held; // oldest first
    // Phrases the oldest lease asked about ahead: true claimed for it, false another's or seen.
    std::unordered_map<Text, bool> m_expected;
    std::vector<std::string> m_unanswered; // encoded, held with the next commit
    std::size_t m_damagedResults = 0; // left out by the last runResults
    std::uint64_t m_leases = 0;
    bool m_popped = false;
    bool m_entered = false;

    std::atomic<bool> m_stopping{false};
    std::mutex m_wakeMutex;
    std::condition_variable_any m_wake;
    std::vector<std::string> m_renewing; // the tokens of m_held, under m_wakeMutex
    RedisConnection m_renewerConnection; // the renewer's own: a connection serves one thread
    std::jthread m_renewer;              // last: stopped and joined first
};

// A task or a record as one string: each field as its length, ':' and its bytes.
std::string encodeTask(const KeywordTask& task);
std::optional<KeywordTask> decodeTask(std::string_view text);
std::string encodeResult(const ResultRecord& record);
std::optional<ResultRecord> decodeResult(std::string_view text);
// A hit: the phrase offered again and the source that offered it.
std::string encodeHit(const Text& keyword, const Text& sourceName);
std::optional<std::pair<Text, Text>> decodeHit(std::string_view text);

} // namespace zelkor
