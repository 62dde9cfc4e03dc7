#include "engine/store/sqlite_run_store.h"

#include "engine/core/control_names.h"
#include "engine/core/file_lock.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <set>
#include <cstring>
#include <unistd.h>

namespace zelkor {

namespace {

// 2: keywords no service answered are held apart (held), to be asked first when the run goes on.
constexpr int kSchemaVersion = 2;
// "ZLKR": the mark of a run store in the database header, so another program's file is never
// taken for ours. Stores made before the mark are known by their tables and given it.
constexpr std::int64_t kApplicationId = 0x5A4C4B52;

const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS runs(
  id INTEGER PRIMARY KEY,
  started TEXT NOT NULL,
  seeds BLOB NOT NULL,
  state TEXT NOT NULL,
  pid INTEGER NOT NULL,
  host TEXT NOT NULL,
  seeds_done INTEGER NOT NULL DEFAULT 0,
  keywords_done INTEGER NOT NULL DEFAULT 0,
  accepted INTEGER NOT NULL DEFAULT 0,
  queue_tail INTEGER NOT NULL DEFAULT 0,
  result_count INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS run_options(
  run INTEGER NOT NULL, seq INTEGER NOT NULL, name TEXT NOT NULL, value BLOB NOT NULL,
  PRIMARY KEY(run, seq)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS seen(
  run INTEGER NOT NULL, key BLOB NOT NULL,
  PRIMARY KEY(run, key)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS queue(
  run INTEGER NOT NULL, pos INTEGER NOT NULL,
  keyword BLOB NOT NULL, main_word BLOB NOT NULL, depth INTEGER NOT NULL,
  PRIMARY KEY(run, pos)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS results(
  run INTEGER NOT NULL, pos INTEGER NOT NULL,
  keyword BLOB NOT NULL, source BLOB NOT NULL, main_word BLOB NOT NULL, parent BLOB NOT NULL,
  depth INTEGER NOT NULL, time TEXT NOT NULL,
  PRIMARY KEY(run, pos)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS held(
  run INTEGER NOT NULL, pos INTEGER NOT NULL,
  keyword BLOB NOT NULL, main_word BLOB NOT NULL, depth INTEGER NOT NULL,
  PRIMARY KEY(run, pos)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS hits(
  run INTEGER NOT NULL, keyword BLOB NOT NULL, source BLOB NOT NULL);
CREATE INDEX IF NOT EXISTS hits_of_result ON hits(run, keyword);
)sql";

// A result's hits and distinct services, when its run counted them: one for being found, one more
// for every later offer.
const char* const kResultsWithHits =
    "SELECT keyword, source, main_word, parent, depth, time, "
    "1 + (SELECT COUNT(*) FROM hits h WHERE h.run = r.run AND h.keyword = r.keyword), "
    "(SELECT COUNT(*) FROM (SELECT r.source UNION SELECT h.source FROM hits h "
    "WHERE h.run = r.run AND h.keyword = r.keyword)) "
    "FROM results r WHERE run=?1 ORDER BY pos";

bool countsHits(const RunOptionValues& options) {
    for (const auto& [name, value] : options)
        if (name == ctl::kCountHits) return value == "1";
    return false;
}

std::string hostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

enum class Liveness { Alive, Gone, Unknown };

// A run is alive while some process holds its lock; a pid or a host name says nothing once the
// process is a zombie, the pid is reused after a reboot or the container is made anew.
Liveness runLiveness(const std::filesystem::path& lockFile) {
    int error = 0;
    if (auto probe = FileLock::tryAcquire(lockFile, &error)) return Liveness::Gone;
    return error == EWOULDBLOCK ? Liveness::Alive : Liveness::Unknown;
}

StoredRunState stateFrom(const std::string& text, const std::filesystem::path& lockFile) {
    if (text == "finished") return StoredRunState::Finished;
    if (text == "stopped") return StoredRunState::Stopped;
    if (text == "incomplete") return StoredRunState::Incomplete;
    // A lock that cannot even be tried (a directory not ours to write) leaves the run as it says.
    return runLiveness(lockFile) == Liveness::Gone ? StoredRunState::Interrupted : StoredRunState::Running;
}

// The tables, indexes and views a database holds, by name, SQLite's own left out.
std::optional<std::set<std::string>> schemaNames(SqliteDb& db) {
    SqliteStatement names;
    if (!names.prepare(db, "SELECT name FROM sqlite_master WHERE name NOT LIKE 'sqlite\\_%' ESCAPE '\\'"))
        return std::nullopt;
    std::set<std::string> out;
    while (names.step()) out.insert(names.bytes(0));
    if (names.failed()) return std::nullopt;
    return out;
}

const std::set<std::string>& ourSchemaNames() {
    static const std::set<std::string> names = [] {
        SqliteDb scratch;
        std::set<std::string> out;
        if (scratch.open(":memory:", true, 0) && scratch.exec(kSchema))
            if (auto found = schemaNames(scratch)) out = std::move(*found);
        return out;
    }();
    return names;
}

std::optional<std::int64_t> pragmaNumber(SqliteDb& db, const char* sql) {
    SqliteStatement pragma;
    if (!pragma.prepare(db, sql) || !pragma.step()) return std::nullopt;
    return pragma.integer(0);
}

} // namespace

bool SqliteRunStore::prepare() {
    return m_containsSeen.prepare(m_db, "SELECT 1 FROM seen WHERE run=?1 AND key=?2") &&
           m_insertSeen.prepare(m_db, "INSERT OR IGNORE INTO seen(run, key) VALUES(?1, ?2)") &&
           m_insertQueue.prepare(
               m_db, "INSERT INTO queue(run, pos, keyword, main_word, depth) VALUES(?1, ?2, ?3, ?4, ?5)") &&
           m_insertResult.prepare(m_db, "INSERT INTO results(run, pos, keyword, source, main_word, parent, "
                                         "depth, time) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)") &&
           m_insertHit.prepare(m_db, "INSERT INTO hits(run, keyword, source) VALUES(?1, ?2, ?3)") &&
           m_front.prepare(m_db, "SELECT pos, keyword, main_word, depth FROM queue WHERE run=?1 "
                                 "ORDER BY pos LIMIT 1") &&
           m_at.prepare(m_db, "SELECT keyword, main_word, depth FROM queue WHERE run=?1 "
                              "ORDER BY pos LIMIT 1 OFFSET ?2") &&
           m_deleteQueue.prepare(m_db, "DELETE FROM queue WHERE run=?1 AND pos=?2") &&
           m_updateRun.prepare(m_db, "UPDATE runs SET seeds_done=?2, keywords_done=keywords_done+1, "
                                     "accepted=?3, queue_tail=?4, result_count=?5 WHERE id=?1") &&
           m_setState.prepare(m_db, "UPDATE runs SET state=?2 WHERE id=?1") &&
           m_insertHeld.prepare(
               m_db, "INSERT INTO held(run, pos, keyword, main_word, depth) VALUES(?1, ?2, ?3, ?4, ?5)");
}

bool SqliteRunStore::beginRun(const RunOptionValues& options) {
    std::lock_guard lock(m_mutex);
    Text seeds;
    for (const auto& [name, value] : options)
        if (name == ctl::kSeeds) seeds = value;
    SqliteTransaction transaction(m_db);
    SqliteStatement insertRun, insertOption;
    if (!transaction.active() ||
        !insertRun.prepare(m_db, "INSERT INTO runs(started, seeds, state, pid, host) "
                                 "VALUES(?1, ?2, 'running', ?3, ?4)") ||
        !insertOption.prepare(m_db, "INSERT INTO run_options(run, seq, name, value) VALUES(?1, ?2, ?3, ?4)"))
        return failed("cannot start a run");
    insertRun.bindText(1, isoTimeNow()).bindBlob(2, seeds).bind(3, getpid()).bindText(4, hostName());
    if (!insertRun.run()) return failed("cannot start a run");
    const std::int64_t id = m_db.lastInsertRowid();
    std::int64_t seq = 0;
    for (const auto& [name, value] : options) {
        insertOption.bind(1, id).bind(2, seq++).bindText(3, name).bindBlob(4, value);
        if (!insertOption.run()) return failed("cannot start a run");
    }
    if (!transaction.commit()) return failed("cannot start a run");
    resetProgress(id);
    int error = 0;
    m_runLock = FileLock::tryAcquire(runLockFile(id), &error);
    if (!m_runLock) {
        m_fault.fail("cannot lock the run beside " + m_file.string() + ": " + std::strerror(error));
        return false;
    }
    return true;
}

std::filesystem::path SqliteRunStore::runLockFile(std::int64_t id) const {
    return std::filesystem::path(m_file.string() + ".run" + std::to_string(id) + ".lock");
}

std::optional<RunProgress> SqliteRunStore::resumeNewest() {
    return resume(0, {});
}

std::optional<RunProgress> SqliteRunStore::resume(std::int64_t id, std::stop_token stop) {
    std::lock_guard lock(m_mutex);
    m_fault.clearError();
    const auto refuse = [&](std::string why) -> std::optional<RunProgress> {
        m_fault.fail(std::move(why));
        return std::nullopt;
    };
    SqliteStatement runs;
    if (!runs.prepare(m_db, id == 0 ? "SELECT id, state, seeds_done, accepted, queue_tail, result_count "
                                      "FROM runs WHERE state<>'finished' ORDER BY id DESC"
                                    : "SELECT id, state, seeds_done, accepted, queue_tail, result_count "
                                      "FROM runs WHERE id=?1")) {
        failed("cannot read the runs");
        return std::nullopt;
    }
    if (id != 0) runs.bind(1, id);
    RunProgress progress;
    std::int64_t tail = 0, resultCount = 0;
    std::optional<FileLock> claimed;
    while (runs.step()) {
        const std::int64_t candidate = runs.integer(0);
        if (runs.bytes(1) == "finished") {
            runs.reset();
            return refuse("run " + std::to_string(candidate) + " in " + m_file.string() + " is finished");
        }
        int error = 0;
        claimed = FileLock::tryAcquire(runLockFile(candidate), &error);
        if (!claimed) {
            if (id == 0 && error == EWOULDBLOCK) continue; // alive in another process
            runs.reset();
            return refuse(error == EWOULDBLOCK ? "run " + std::to_string(candidate) + " in " + m_file.string() +
                                                     " is running in another process"
                                               : "cannot lock run " + std::to_string(candidate) + " beside " +
                                                     m_file.string() + ": " + std::strerror(error));
        }
        progress.id = candidate;
        progress.seedsDone = static_cast<std::size_t>(runs.integer(2));
        progress.accepted = static_cast<int>(runs.integer(3));
        tail = runs.integer(4);
        resultCount = runs.integer(5);
        break;
    }
    if (runs.failed()) {
        failed("cannot read the runs");
        return std::nullopt;
    }
    runs.reset();
    if (!claimed) {
        if (id != 0) return refuse("no run " + std::to_string(id) + " in " + m_file.string());
        return std::nullopt;
    }

    SqliteStatement options, results, claim, queued, hits;
    if (!options.prepare(m_db, "SELECT name, value FROM run_options WHERE run=?1 ORDER BY seq") ||
        !results.prepare(m_db, "SELECT keyword, source, main_word, parent, depth, time FROM results "
                               "WHERE run=?1 ORDER BY pos") ||
        !queued.prepare(m_db, "SELECT COUNT(*) FROM queue WHERE run=?1") ||
        !hits.prepare(m_db, "SELECT keyword, source FROM hits WHERE run=?1 ORDER BY rowid") ||
        !claim.prepare(m_db, "UPDATE runs SET state='running', pid=?2, host=?3 WHERE id=?1")) {
        failed("cannot read the run");
        return std::nullopt;
    }
    options.bind(1, progress.id);
    while (options.step()) progress.options.emplace_back(options.bytes(0), options.bytes(1));
    results.bind(1, progress.id);
    std::vector<ResultRecord> restored;
    restored.reserve(static_cast<std::size_t>(std::max<std::int64_t>(0, resultCount)));
    while (results.step()) {
        // A large run takes a while to read back: a stop ends it here, the run left as it was.
        if ((restored.size() & 1023) == 0 && stop.stop_requested()) {
            results.reset();
            return refuse("stopped while the run was being read");
        }
        restored.push_back({results.bytes(0), results.bytes(1), results.bytes(2), results.bytes(3),
                            static_cast<int>(results.integer(4)), results.bytes(5)});
    }
    hits.bind(1, progress.id);
    std::vector<std::pair<Text, Text>> restoredHits;
    while (hits.step()) restoredHits.emplace_back(hits.bytes(0), hits.bytes(1));
    if (options.failed() || results.failed() || hits.failed() || !requeueHeld(progress.id)) {
        failed("cannot read the run");
        return std::nullopt;
    }
    queued.bind(1, progress.id);
    const std::int64_t queueCount = queued.step() ? queued.integer(0) : 0;
    claim.bind(1, progress.id).bind(2, getpid()).bindText(3, hostName());
    if (queued.failed() || !claim.run()) {
        failed("cannot read the run");
        return std::nullopt;
    }
    resetProgress(progress.id);
    m_runLock = std::move(claimed);
    for (auto& record : restored) m_results.restore(std::move(record));
    for (const auto& [keyword, source] : restoredHits) m_results.restoreHit(keyword, source);
    m_tail = tail;
    m_resultCount = resultCount;
    m_committedQueue = static_cast<std::size_t>(queueCount);
    return progress;
}

bool SqliteRunStore::requeueHeld(std::int64_t run) {
    // The held keywords go to the head of the queue, in the order they were held: asked first.
    SqliteTransaction transaction(m_db);
    SqliteStatement head, held, drop;
    if (!transaction.active() || !head.prepare(m_db, "SELECT MIN(pos) FROM queue WHERE run=?1") ||
        !held.prepare(m_db, "SELECT keyword, main_word, depth FROM held WHERE run=?1 ORDER BY pos") ||
        !drop.prepare(m_db, "DELETE FROM held WHERE run=?1"))
        return false;
    head.bind(1, run);
    std::int64_t first = 0;
    if (head.step() && !head.isNull(0)) first = head.integer(0);
    if (head.failed()) return false;
    held.bind(1, run);
    std::vector<KeywordTask> tasks;
    while (held.step())
        tasks.push_back({held.bytes(0), held.bytes(1), static_cast<int>(held.integer(2))});
    if (held.failed()) return false;
    if (tasks.empty()) return true;
    std::int64_t pos = first - static_cast<std::int64_t>(tasks.size());
    for (const KeywordTask& task : tasks) {
        m_insertQueue.bind(1, run).bind(2, pos++).bindBlob(3, task.keyword).bindBlob(4, task.mainWord);
        m_insertQueue.bind(5, task.depth);
        if (!m_insertQueue.run()) return false;
    }
    drop.bind(1, run);
    return drop.run() && transaction.commit();
}

SqliteRunStore::SqliteRunStore(std::filesystem::path file, SqliteDb db)
    : m_file(std::move(file)), m_db(std::move(db)) {}

bool SqliteRunStore::Seen::containsStored(const Text& key) const {
    SqliteRunStore& s = m_store;
    s.m_containsSeen.bind(1, s.m_run).bindBlob(2, key);
    const bool found = s.m_containsSeen.step();
    if (s.m_containsSeen.failed()) s.broken("cannot read the seen set");
    s.m_containsSeen.reset();
    return found;
}

void SqliteRunStore::Queue::push(KeywordTask task) {
    std::lock_guard lock(m_store.m_mutex);
    m_store.m_staging.push(std::move(task));
}

std::optional<KeywordTask> SqliteRunStore::Queue::front() const {
    SqliteRunStore& s = m_store;
    std::lock_guard lock(s.m_mutex);
    s.m_front.bind(1, s.m_run);
    std::optional<KeywordTask> task;
    if (s.m_front.step()) {
        s.m_frontPos = s.m_front.integer(0);
        task = KeywordTask{s.m_front.bytes(1), s.m_front.bytes(2), static_cast<int>(s.m_front.integer(3))};
    } else if (s.m_front.failed()) {
        s.broken("cannot read the queue");
    }
    s.m_front.reset();
    return task;
}

std::optional<KeywordTask> SqliteRunStore::Queue::at(std::size_t position) const {
    SqliteRunStore& s = m_store;
    std::lock_guard lock(s.m_mutex);
    // Kept tasks first (less the one popped since the last commit), then those pushed since.
    const std::size_t skip = s.m_popped ? 1 : 0;
    const std::size_t kept = s.m_committedQueue - skip;
    if (position >= kept) {
        const std::size_t pushed = position - kept;
        if (pushed >= s.m_staging.pushes().size()) return std::nullopt;
        return s.m_staging.pushes()[pushed];
    }
    s.m_at.bind(1, s.m_run).bind(2, static_cast<std::int64_t>(position + skip));
    std::optional<KeywordTask> task;
    if (s.m_at.step())
        task = KeywordTask{s.m_at.bytes(0), s.m_at.bytes(1), static_cast<int>(s.m_at.integer(2))};
    else if (s.m_at.failed())
        s.broken("cannot read the queue");
    s.m_at.reset();
    return task;
}

void SqliteRunStore::Queue::pop() {
    bool known = false;
    {
        std::lock_guard lock(m_store.m_mutex);
        known = m_store.m_frontPos.has_value();
    }
    // A run that looked ahead with at() never asked front(): the oldest task's place is read now.
    if (!known) front();
    std::lock_guard lock(m_store.m_mutex);
    if (m_store.m_frontPos) m_store.m_popped = true;
}

std::size_t SqliteRunStore::Queue::size() const {
    std::lock_guard lock(m_store.m_mutex);
    return m_store.m_committedQueue + m_store.m_staging.pushes().size() - (m_store.m_popped ? 1 : 0);
}

bool SqliteRunStore::commitKeyword(std::size_t seedsDone, int accepted) {
    std::lock_guard lock(m_mutex);
    if (m_fault.broken()) {
        m_fault.fail(m_fault.brokenText());
        return false;
    }
    std::int64_t tail = m_tail, resultCount = m_resultCount;
    std::size_t committedQueue = m_committedQueue;
    {
        SqliteTransaction transaction(m_db);
        if (!transaction.active()) return failed("cannot save the keyword's results");
        for (const auto& key : m_staging.marks()) {
            m_insertSeen.bind(1, m_run).bindBlob(2, key);
            if (!m_insertSeen.run()) return failed("cannot save the keyword's results");
        }
        for (const auto& task : m_staging.pushes()) {
            m_insertQueue.bind(1, m_run).bind(2, tail++).bindBlob(3, task.keyword).bindBlob(4, task.mainWord);
            m_insertQueue.bind(5, task.depth);
            if (!m_insertQueue.run()) return failed("cannot save the keyword's results");
            ++committedQueue;
        }
        for (const auto& record : m_staging.results()) {
            m_insertResult.bind(1, m_run).bind(2, resultCount++).bindBlob(3, record.keyword);
            m_insertResult.bindBlob(4, record.sourceName).bindBlob(5, record.mainWord).bindBlob(6, record.parent);
            m_insertResult.bind(7, record.depth).bindText(8, record.time);
            if (!m_insertResult.run()) return failed("cannot save the keyword's results");
        }
        for (const auto& [keyword, source] : m_staging.hits()) {
            m_insertHit.bind(1, m_run).bindBlob(2, keyword).bindBlob(3, source);
            if (!m_insertHit.run()) return failed("cannot save the keyword's results");
        }
        std::int64_t heldPos = m_heldNext;
        for (const auto& task : m_held) {
            m_insertHeld.bind(1, m_run).bind(2, heldPos++).bindBlob(3, task.keyword).bindBlob(4, task.mainWord);
            m_insertHeld.bind(5, task.depth);
            if (!m_insertHeld.run()) return failed("cannot save the keyword's results");
        }
        if (m_popped && m_frontPos) {
            m_deleteQueue.bind(1, m_run).bind(2, *m_frontPos);
            if (!m_deleteQueue.run()) return failed("cannot save the keyword's results");
            --committedQueue;
        }
        m_updateRun.bind(1, m_run).bind(2, static_cast<std::int64_t>(seedsDone)).bind(3, accepted);
        m_updateRun.bind(4, tail).bind(5, resultCount);
        if (!m_updateRun.run() || !transaction.commit()) return failed("cannot save the keyword's results");
    }
    m_tail = tail;
    m_resultCount = resultCount;
    m_committedQueue = committedQueue;
    m_heldNext += static_cast<std::int64_t>(m_held.size());
    m_held.clear();
    if (m_popped) m_frontPos.reset();
    m_popped = false;
    m_staging.clear();
    return true;
}

bool SqliteRunStore::holdUnanswered(const KeywordTask& task) {
    std::lock_guard lock(m_mutex);
    m_held.push_back(task);
    return true;
}

std::string SqliteRunStore::error() const {
    std::lock_guard lock(m_mutex);
    return m_fault.text();
}

Expected<std::vector<RunSummary>> SqliteRunStore::listRuns() {
    std::lock_guard lock(m_mutex);
    std::vector<RunSummary> list;
    SqliteStatement runs;
    if (!runs.prepare(m_db, "SELECT id, started, seeds, state, pid, host, keywords_done, result_count "
                            "FROM runs ORDER BY id"))
        return Error{problem("cannot read the runs")};
    while (runs.step()) {
        const std::int64_t id = runs.integer(0);
        // This store's own run is alive by its lock, which a second try here would not see.
        const StoredRunState state = id == m_run && m_runLock && runs.bytes(3) == "running"
                                         ? StoredRunState::Running
                                         : stateFrom(runs.bytes(3), runLockFile(id));
        list.push_back({id, runs.bytes(1), runs.bytes(2), state, runs.integer(6), runs.integer(7), {}});
    }
    if (runs.failed()) return Error{problem("cannot read the runs")};
    return list;
}

Expected<std::int64_t> SqliteRunStore::findRun(std::string_view run) {
    std::int64_t id = 0;
    if (!run.empty()) {
        const std::string text(run);
        if (text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos ||
            std::atoll(text.c_str()) < 1)
            return Error{"invalid --run '" + text + "': a run's id, as `runs` lists it"};
        id = std::atoll(text.c_str());
    }
    SqliteStatement find;
    if (!find.prepare(m_db, id == 0 ? "SELECT id FROM runs ORDER BY id DESC LIMIT 1"
                                    : "SELECT id FROM runs WHERE id=?1"))
        return Error{problem("cannot read the runs")};
    if (id != 0) find.bind(1, id);
    if (!find.step()) {
        if (find.failed()) return Error{problem("cannot read the runs")};
        return Error{id == 0 ? "the store holds no run" : "no run " + std::to_string(id) + " in the store"};
    }
    return find.integer(0);
}

Expected<std::vector<ResultRecord>> SqliteRunStore::runResults(std::string_view run) {
    std::lock_guard lock(m_mutex);
    const Expected<std::int64_t> found = findRun(run);
    if (!found) return found.error();
    const Expected<RunOptionValues> values = readOptions(*found);
    if (!values) return values.error();
    const bool withHits = countsHits(*values);
    SqliteStatement results;
    if (!results.prepare(m_db, withHits ? kResultsWithHits
                                        : "SELECT keyword, source, main_word, parent, depth, time FROM results "
                                          "WHERE run=?1 ORDER BY pos"))
        return Error{problem("cannot read the results")};
    results.bind(1, *found);
    std::vector<ResultRecord> records;
    while (results.step()) {
        records.push_back({results.bytes(0), results.bytes(1), results.bytes(2), results.bytes(3),
                           static_cast<int>(results.integer(4)), results.bytes(5)});
        if (withHits) {
            records.back().hits = static_cast<int>(results.integer(6));
            records.back().services = static_cast<int>(results.integer(7));
        }
    }
    if (results.failed()) return Error{problem("cannot read the results")};
    return records;
}

Expected<std::vector<ResultRecord>> SqliteRunStore::runResults(std::int64_t id) {
    return runResults(id == 0 ? std::string() : std::to_string(id));
}

Expected<RunOptionValues> SqliteRunStore::runOptions(std::string_view run) {
    std::lock_guard lock(m_mutex);
    const Expected<std::int64_t> found = findRun(run);
    if (!found) return found.error();
    return readOptions(*found);
}

Expected<RunOptionValues> SqliteRunStore::readOptions(std::int64_t run) {
    SqliteStatement options;
    if (!options.prepare(m_db, "SELECT name, value FROM run_options WHERE run=?1 ORDER BY seq"))
        return Error{problem("cannot read the run's options")};
    options.bind(1, run);
    RunOptionValues values;
    while (options.step()) values.emplace_back(options.bytes(0), options.bytes(1));
    if (options.failed()) return Error{problem("cannot read the run's options")};
    return values;
}

std::string SqliteRunStore::problem(const std::string& what) const {
    return what + " in " + m_file.string() + ": " + m_db.error();
}

bool SqliteRunStore::failed(const std::string& what) {
    m_fault.fail(problem(what));
    return false;
}

void SqliteRunStore::broken(const std::string& what) {
    m_fault.breakWith(problem(what));
}

void SqliteRunStore::setState(const char* state) {
    std::lock_guard lock(m_mutex);
    if (m_run == 0) return;
    m_setState.bind(1, m_run).bindText(2, state);
    if (!m_setState.run()) failed("cannot record the run's end");
    // The run is over: this process no longer holds it, so it can be resumed, from here too.
    m_runLock.reset();
}

void SqliteRunStore::resetProgress(std::int64_t id) {
    m_run = id;
    m_tail = 0;
    m_resultCount = 0;
    m_committedQueue = 0;
    m_frontPos.reset();
    m_popped = false;
    m_fault.reset();
    m_staging.clear();
    m_held.clear();
    m_heldNext = 0;
}

std::unique_ptr<SqliteRunStore> SqliteRunStore::open(const std::filesystem::path& file, std::string* error,
                                                     int busyTimeoutMs) {
    const auto fail = [&](const std::string& why) -> std::unique_ptr<SqliteRunStore> {
        if (error) *error = "cannot use the run store " + file.string() + ": " + why;
        return nullptr;
    };
    std::error_code ec;
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ec);
    SqliteDb db;
    if (!db.open(file, true, busyTimeoutMs)) return fail(db.error());
    // Everything up to the first write only reads: a file that is not a database, is damaged or is
    // another program's is refused as it was, byte for byte.
    const std::optional<std::int64_t> found = pragmaNumber(db, "PRAGMA user_version");
    const std::optional<std::int64_t> applicationId = pragmaNumber(db, "PRAGMA application_id");
    const std::optional<std::set<std::string>> names = schemaNames(db);
    if (!found || !applicationId || !names) return fail(db.error());
    const bool empty = names->empty() && *found == 0 && *applicationId == 0;
    const bool ours = *applicationId == kApplicationId;
    const bool oursUnmarked = *applicationId == 0 && *found >= 1 && names->contains("runs") &&
                              std::includes(ourSchemaNames().begin(), ourSchemaNames().end(), names->begin(),
                                            names->end());
    if (!empty && !ours && !oursUnmarked)
        return fail(*applicationId != 0 ? "another program's database (application_id " +
                                              std::to_string(*applicationId) + "); name a file of its own"
                                        : "a database that is not a run store of this program; name a file of "
                                          "its own");
    if (*found > kSchemaVersion) return fail("made by a newer version of this program");
    if (!db.exec("PRAGMA journal_mode=WAL") || !db.exec("PRAGMA synchronous=NORMAL")) return fail(db.error());
    if (*found < kSchemaVersion || !ours) {
        const std::string mark = "PRAGMA application_id=" + std::to_string(kApplicationId);
        SqliteTransaction transaction(db);
        if (!transaction.active() || !db.exec(kSchema) || !db.exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str()) ||
            !db.exec(mark.c_str()) || !transaction.commit())
            return fail(db.error());
    }
    auto store = std::make_unique<SqliteRunStore>(file, std::move(db));
    if (!store->prepare()) return fail(store->m_db.error());
    return store;
}

} // namespace zelkor
