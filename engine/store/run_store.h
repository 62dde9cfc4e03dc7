#pragma once
// What a run remembers: the breadth-first queue, the seen set and the shown results. The result
// sink and the run loop reach them only through these interfaces, so a store kept elsewhere (a
// database file, a server) takes the place of the in-memory one without touching either.
//
// Threads: the run's worker calls every member; the face may read sizes and copy results at any
// time, so implementations are safe to read from another thread while the worker writes.

#include "engine/core/records.h"
#include "text/text.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
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
    // Other workers ask from this queue too: a task one takes ahead is one the others cannot ask.
    virtual bool shared() const { return false; }
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
    // The phrases about to be asked about, in order: a set kept on a server may ask about them all
    // at once instead of one round trip each.
    virtual void expect(const std::vector<Text>& keywords) { (void)keywords; }
};

// The shown results in the order they were shown. They only ever grow.
class ResultList {
  public:
    virtual ~ResultList() = default;
    virtual void append(ResultRecord record) = 0;
    virtual std::size_t size() const = 0;
    // Records [from, to), clamped to the list.
    virtual std::vector<ResultRecord> copy(std::size_t from, std::size_t to) const = 0;
    // From now on, count how often each result is offered (copies then carry hits and services).
    virtual void countHits() {}
    // `keyword` was offered again, by `sourceName`: one more hit when it is a result of this run.
    virtual void hit(const Text& keyword, const Text& sourceName) {
        (void)keyword;
        (void)sourceName;
    }
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
    // The keyword about to be committed got no answer from any service it was put to. A store that
    // keeps the run beyond the process keeps it with that commit, to be asked first when the run is
    // resumed; true when it does.
    virtual bool holdUnanswered(const KeywordTask& task) {
        (void)task;
        return false;
    }
    // The run is being stopped (from any thread): whatever the store waits for ends now. Never slow.
    virtual void runStopping() {}
    // The run ended by itself / was stopped: from the run's worker, outside its gate (may be slow).
    virtual void runFinished() {}
    virtual void runStopped() {}
    // The run ended by itself with keywords no service answered: it is not done.
    virtual void runIncomplete() { runFinished(); }
    // The latest failure, in words (UTF-8).
    virtual std::string error() const { return {}; }
    // The store can no longer tell what the run holds (a lost server): the run stops, and error() says why.
    virtual bool broken() const { return false; }
};

} // namespace zelkor
