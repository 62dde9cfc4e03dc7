#include "engine/store/redis_run_store.h"

#include "engine/core/control_names.h"

#include <charconv>
#include <climits>
#include <map>
#include <set>
#include <random>
#include <unistd.h>

namespace zelkor {

namespace {

// Each script first makes a retried call harmless: a call whose answer was lost on the way back is
// sent again after a reconnection, and must not act twice.

// ARGV: prefix, token, lease ms, worker. → {1, task} leased (or already held), {0, leases held}.
const std::string kLeaseScript = R"lua(
local p, token = ARGV[1], ARGV[2]
local held = redis.call('HGET', p..'leases', token)
if held then return {1, held} end
-- A lease whose worker stopped renewing it gives its task back, to the head of the queue. This
-- worker's own are alive whatever their clocks say: they ran out while the server was away.
local own = ARGV[4]..'#'
local leases = redis.call('HGETALL', p..'leases')
for i = 1, #leases, 2 do
  if string.sub(leases[i], 1, #own) ~= own and redis.call('EXISTS', p..'alive:'..leases[i]) == 0 then
    redis.call('LPUSH', p..'queue', leases[i + 1])
    redis.call('HDEL', p..'leases', leases[i])
  end
end
local task = redis.call('LPOP', p..'queue')
if task then
  redis.call('HSET', p..'leases', token, task)
  redis.call('SET', p..'alive:'..token, ARGV[4], 'PX', ARGV[3])
  return {1, task}
end
return {0, redis.call('HLEN', p..'leases')}
)lua";

// ARGV: prefix, token, key. → 1 seen or claimed by a live lease of another, 0 claimed now for token.
const std::string kClaimScript = R"lua(
local p, token, k = ARGV[1], ARGV[2], ARGV[3]
if redis.call('SISMEMBER', p..'seen', k) == 1 then return 1 end
local owner = redis.call('HGET', p..'claims', k)
if owner == token then return 0 end
if owner and redis.call('EXISTS', p..'alive:'..owner) == 1 then return 1 end
redis.call('HSET', p..'claims', k, token)
return 0
)lua";

// ARGV: prefix, token, keys. → for each key, as kClaimScript.
const std::string kClaimAllScript = R"lua(
local p, token = ARGV[1], ARGV[2]
local out = {}
for i = 3, #ARGV do
  local k = ARGV[i]
  local taken = 0
  if redis.call('SISMEMBER', p..'seen', k) == 1 then
    taken = 1
  else
    local owner = redis.call('HGET', p..'claims', k)
    if owner ~= token then
      if owner and redis.call('EXISTS', p..'alive:'..owner) == 1 then
        taken = 1
      else
        redis.call('HSET', p..'claims', k, token)
      end
    end
  end
  out[#out + 1] = taken
end
return out
)lua";

// ARGV: prefix, token, pop, marks, tasks, results, unclaimed, unanswered, hits, then the marks,
// tasks, results, the phrases claimed ahead that were never accepted (their claims go), the
// keywords no service answered (held, when the task leaves the queue) and the hits (each a
// phrase and its source, encoded). → 1 committed, 0 the lease was lost (its task is someone
// else's now).
const std::string kCommitScript = R"lua(
local p, token = ARGV[1], ARGV[2]
if redis.call('EXISTS', p..'done:'..token) == 1 then return 1 end
local task = redis.call('HGET', p..'leases', token)
if not task then return 0 end
local i = 10
if redis.call('EXISTS', p..'alive:'..token) == 0 then
  -- Run out (the server was away) but nobody took the task: the commit stands if nobody took the
  -- phrases claimed for it either.
  for n = 1, tonumber(ARGV[4]) do
    if redis.call('HGET', p..'claims', ARGV[i + n - 1]) ~= token then return 0 end
  end
end
for n = 1, tonumber(ARGV[4]) do
  redis.call('SADD', p..'seen', ARGV[i])
  redis.call('HDEL', p..'claims', ARGV[i])
  i = i + 1
end
for n = 1, tonumber(ARGV[5]) do redis.call('RPUSH', p..'queue', ARGV[i]); i = i + 1 end
for n = 1, tonumber(ARGV[6]) do redis.call('RPUSH', p..'results', ARGV[i]); i = i + 1 end
for n = 1, tonumber(ARGV[7]) do
  if redis.call('HGET', p..'claims', ARGV[i]) == token then redis.call('HDEL', p..'claims', ARGV[i]) end
  i = i + 1
end
-- A task that goes back to the queue is asked again anyway: held as well, it would be asked twice.
for n = 1, tonumber(ARGV[8]) do
  if ARGV[3] == '1' then redis.call('RPUSH', p..'held', ARGV[i]) end
  i = i + 1
end
for n = 1, tonumber(ARGV[9]) do redis.call('HINCRBY', p..'hits', ARGV[i], 1); i = i + 1 end
redis.call('HDEL', p..'leases', token)
redis.call('DEL', p..'alive:'..token)
if ARGV[3] == '1' then
  redis.call('HINCRBY', p..'meta', 'done', 1)
else
  redis.call('LPUSH', p..'queue', task)
end
redis.call('SET', p..'done:'..token, '1', 'EX', 600)
return 1
)lua";

// ARGV: prefix, tokens oldest first. Gives the leases' tasks back at once, in their order, at the
// head of the queue.
const std::string kReleaseScript = R"lua(
local p = ARGV[1]
for i = #ARGV, 2, -1 do
  local task = redis.call('HGET', p..'leases', ARGV[i])
  if task then
    redis.call('LPUSH', p..'queue', task)
    redis.call('HDEL', p..'leases', ARGV[i])
    redis.call('DEL', p..'alive:'..ARGV[i])
  end
end
return 1
)lua";

// ARGV: prefix, token. Moves a lease's task that cannot be read to the damaged list, so it is
// neither asked about nor handed out again.
const std::string kSetAsideScript = R"lua(
local p, token = ARGV[1], ARGV[2]
local task = redis.call('HGET', p..'leases', token)
if task then
  redis.call('RPUSH', p..'damaged', task)
  redis.call('HDEL', p..'leases', token)
  redis.call('DEL', p..'alive:'..token)
end
return 1
)lua";

// ARGV: prefix, worker, ms, tokens. → how many of the leases named are gone.
const std::string kRenewScript = R"lua(
local p = ARGV[1]
redis.call('SET', p..'worker:'..ARGV[2], '1', 'PX', ARGV[3])
local gone = 0
for i = 4, #ARGV do
  if redis.call('PEXPIRE', p..'alive:'..ARGV[i], ARGV[3]) == 0 then
    -- Run out while the server was away: the lease lives again while nobody has taken its task.
    if redis.call('HEXISTS', p..'leases', ARGV[i]) == 1 then
      redis.call('SET', p..'alive:'..ARGV[i], ARGV[2], 'PX', ARGV[3])
    else
      gone = gone + 1
    end
  end
end
return gone
)lua";

// ARGV: prefix, runs key, name, created ms, started, seeds, worker, ms, option count, tasks count,
// options (name, value …), tasks. → {1} created, {0, state} joined.
const std::string kEnterScript = R"lua(
local p = ARGV[1]
redis.call('HSET', p..'workers', ARGV[7], '1')
redis.call('SET', p..'worker:'..ARGV[7], '1', 'PX', ARGV[8])
if redis.call('EXISTS', p..'meta') == 1 then
  -- Workers that died are forgotten once someone works the run again.
  local workers = redis.call('HKEYS', p..'workers')
  for _, w in ipairs(workers) do
    if redis.call('EXISTS', p..'worker:'..w) == 0 then redis.call('HDEL', p..'workers', w) end
  end
  local state = redis.call('HGET', p..'meta', 'state') or 'running'
  if state ~= 'finished' then
    -- The keywords no service answered go first, in the order they were held, and only for the
    -- first worker to come: they leave the held list as they are queued.
    local held = redis.call('LRANGE', p..'held', 0, -1)
    for n = #held, 1, -1 do redis.call('LPUSH', p..'queue', held[n]) end
    redis.call('DEL', p..'held')
    if state == 'incomplete' then redis.call('HSET', p..'meta', 'state', 'running') end
  end
  return {0, state}
end
redis.call('HSET', p..'meta', 'started', ARGV[5], 'seeds', ARGV[6], 'done', 0, 'state', 'running')
local i = 11
for n = 1, tonumber(ARGV[9]) do redis.call('RPUSH', p..'options', ARGV[i], ARGV[i + 1]); i = i + 2 end
for n = 1, tonumber(ARGV[10]) do redis.call('RPUSH', p..'queue', ARGV[i]); i = i + 1 end
redis.call('ZADD', ARGV[2], 'NX', ARGV[4], ARGV[3])
return {1}
)lua";

// ARGV: prefix, worker. → 1 when the run is over (nothing queued, no lease) and now says so:
// finished, or incomplete while keywords are held.
const std::string kFinishScript = R"lua(
local p = ARGV[1]
redis.call('HDEL', p..'workers', ARGV[2])
redis.call('DEL', p..'worker:'..ARGV[2])
if redis.call('LLEN', p..'queue') == 0 and redis.call('HLEN', p..'leases') == 0 then
  -- Whichever worker ends the run: keywords held by any of them leave it not done.
  local state = redis.call('LLEN', p..'held') > 0 and 'incomplete' or 'finished'
  redis.call('HSET', p..'meta', 'state', state)
  return 1
end
return 0
)lua";

// ARGV: prefix, worker.
const std::string kLeaveScript = R"lua(
redis.call('HDEL', ARGV[1]..'workers', ARGV[2])
redis.call('DEL', ARGV[1]..'worker:'..ARGV[2])
return 1
)lua";

// ARGV: prefix. → queued tasks plus leases held.
const std::string kSizeScript = R"lua(
return redis.call('LLEN', ARGV[1]..'queue') + redis.call('HLEN', ARGV[1]..'leases')
)lua";

// ARGV: prefix. → {meta fields …, results, live workers, dead workers}.
const std::string kSummaryScript = R"lua(
local p = ARGV[1]
local meta = redis.call('HMGET', p..'meta', 'started', 'seeds', 'done', 'state')
local live, dead = 0, 0
for _, w in ipairs(redis.call('HKEYS', p..'workers')) do
  if redis.call('EXISTS', p..'worker:'..w) == 1 then live = live + 1 else dead = dead + 1 end
end
return {meta[1] or '', meta[2] or '', meta[3] or '0', meta[4] or '', redis.call('LLEN', p..'results'), live, dead,
        redis.call('LLEN', p..'damaged')}
)lua";

constexpr std::string_view kRunsKey = "zelkor:runs";

std::string prefixOf(const std::string& run) {
    return "zelkor:run:" + run + ":";
}

std::string workerId() {
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    std::random_device random;
    const std::uint64_t nonce = (static_cast<std::uint64_t>(random()) << 32) ^ random();
    char text[32];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(nonce));
    return std::string(host) + "/" + std::to_string(::getpid()) + "/" + text;
}

void appendField(std::string& out, std::string_view field) {
    out += std::to_string(field.size());
    out += ':';
    out += field;
}

// The next field of `text`, advancing it; nullopt when malformed.
std::optional<std::string_view> takeField(std::string_view& text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::size_t length = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + colon, length);
    if (ec != std::errc() || end != text.data() + colon || length > text.size() - colon - 1) return std::nullopt;
    const std::string_view field = text.substr(colon + 1, length);
    text.remove_prefix(colon + 1 + length);
    return field;
}

std::optional<int> takeNumber(std::string_view& text) {
    const auto field = takeField(text);
    if (!field) return std::nullopt;
    int value = 0;
    const auto [end, ec] = std::from_chars(field->data(), field->data() + field->size(), value);
    if (ec != std::errc() || end != field->data() + field->size()) return std::nullopt;
    return value;
}

std::int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

std::string encodeTask(const KeywordTask& task) {
    std::string out;
    appendField(out, task.keyword);
    appendField(out, task.mainWord);
    appendField(out, std::to_string(task.depth));
    return out;
}

std::optional<KeywordTask> decodeTask(std::string_view text) {
    KeywordTask task;
    const auto keyword = takeField(text);
    const auto mainWord = takeField(text);
    const auto depth = takeNumber(text);
    if (!keyword || !mainWord || !depth || !text.empty()) return std::nullopt;
    if (keyword->size() > kMaxStoredPhraseBytes || mainWord->size() > kMaxStoredPhraseBytes ||
        *depth < 0)
        return std::nullopt;
    task.keyword = std::string(*keyword);
    task.mainWord = std::string(*mainWord);
    task.depth = *depth;
    return task;
}

std::string encodeResult(const ResultRecord& record) {
    std::string out;
    appendField(out, record.keyword);
    appendField(out, record.sourceName);
    appendField(out, record.mainWord);
    appendField(out, record.parent);
    appendField(out, std::to_string(record.depth));
    appendField(out, record.time);
    return out;
}

std::optional<ResultRecord> decodeResult(std::string_view text) {
    const auto keyword = takeField(text);
    const auto source = takeField(text);
    const auto mainWord = takeField(text);
    const auto parent = takeField(text);
    const auto depth = takeNumber(text);
    const auto time = takeField(text);
    if (!keyword || !source || !mainWord || !parent || !depth || !time || !text.empty()) return std::nullopt;
    if (keyword->size() > kMaxStoredPhraseBytes || mainWord->size() > kMaxStoredPhraseBytes ||
        parent->size() > kMaxStoredPhraseBytes || source->size() > kMaxStoredPhraseBytes || time->size() > 64)
        return std::nullopt;
    return ResultRecord{std::string(*keyword), std::string(*source), std::string(*mainWord),
                        std::string(*parent),  *depth,               std::string(*time)};
}

std::string encodeHit(const Text& keyword, const Text& sourceName) {
    std::string out;
    appendField(out, keyword);
    appendField(out, sourceName);
    return out;
}

std::optional<std::pair<Text, Text>> decodeHit(std::string_view text) {
    const auto keyword = takeField(text);
    const auto source = takeField(text);
    if (!keyword || !source || !text.empty()) return std::nullopt;
    if (keyword->size() > kMaxStoredPhraseBytes || source->size() > kMaxStoredPhraseBytes) return std::nullopt;
    return std::pair<Text, Text>{std::string(*keyword), std::string(*source)};
}

bool validRunName(std::string_view name) {
    if (name.empty() || name.size() > 64) return false;
    for (const char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                        c == '.' || c == '-';
        if (!ok) return false;
    }
    return true;
}

std::unique_ptr<RedisRunStore> RedisRunStore::open(const RedisStoreTarget& target, std::string* error) {
    RedisConnection main, renewer;
    if (!main.connect(target.server) || !renewer.connect(target.server)) {
        if (error) *error = main.error().empty() ? renewer.error() : main.error();
        return nullptr;
    }
    return std::make_unique<RedisRunStore>(target, std::move(main), std::move(renewer));
}

RedisRunStore::RedisRunStore(RedisStoreTarget target, RedisConnection main, RedisConnection renewer)
    : m_target(std::move(target)), m_prefix(prefixOf(m_target.run)), m_worker(workerId()), m_main(std::move(main)),
      m_renewerConnection(std::move(renewer)) {
    // A Stop during an outage is not held up by it: the leases run out by themselves.
    m_main.setCancel([this] { return m_stopping.load(); });
    m_renewerConnection.setCancel([this] { return m_stopping.load(); });
}

RedisRunStore::~RedisRunStore() {
    if (m_renewer.joinable()) {
        m_renewer.request_stop();
        m_wake.notify_all();
        m_renewer.join();
    }
    // A run dropped without an end (a face that went away) gives its leases back at once; a server
    // that is gone is not waited for again (the leases run out by themselves).
    std::lock_guard lock(m_mutex);
    if (m_fault.broken()) return;
    if (!m_held.empty()) {
        std::vector<std::string> tokens;
        for (const Lease& held : m_held) tokens.push_back(held.token);
        release(m_main, tokens);
    }
    if (m_entered) leave(m_main);
}

std::string RedisRunStore::describe() const {
    return "redis://" + m_target.server.host + ":" + std::to_string(m_target.server.port) + "/" +
           std::to_string(m_target.server.database);
}

std::string RedisRunStore::runWhere() const {
    return "the run " + m_target.run + " in " + describe();
}

RedisReply RedisRunStore::call(const std::string& script, std::vector<std::string_view> arguments) {
    // Once the server is lost for good, nothing waits for it again.
    if (m_fault.broken()) {
        RedisReply failed;
        failed.kind = RedisReply::Kind::Failed;
        failed.text = m_fault.brokenText();
        return failed;
    }
    arguments.insert(arguments.begin(), m_prefix);
    return m_main.script(script, {}, arguments);
}

void RedisRunStore::breakWith(const std::string& what, const RedisReply& reply) {
    m_fault.breakWith(what + " (" + runWhere() + "): " + (reply.text.empty() ? "an unexpected answer" : reply.text));
}

std::optional<RedisRunStore::Entry> RedisRunStore::enter(const RunOptionValues& options,
                                                         const std::vector<KeywordTask>& seedRounds,
                                                         RunOptionValues* stored) {
    std::lock_guard lock(m_mutex);
    Text seeds;
    for (const auto& [name, value] : options)
        if (name == "编辑框_关键词") seeds = value;
    const std::string created = std::to_string(nowMs());
    const std::string started = isoTimeNow();
    const std::string ms = std::to_string(m_target.lease.count());
    const std::string optionCount = std::to_string(options.size());
    const std::string taskCount = std::to_string(seedRounds.size());
    std::vector<std::string> tasks;
    for (const auto& round : seedRounds) tasks.push_back(encodeTask({round.keyword, round.mainWord, 0}));
    std::vector<std::string_view> arguments = {kRunsKey, m_target.run, created, started,   seeds,
                                               m_worker,  ms,           optionCount, taskCount};
    for (const auto& [name, value] : options) {
        arguments.push_back(name);
        arguments.push_back(value);
    }
    for (const auto& task : tasks) arguments.push_back(task);
    const RedisReply reply = call(kEnterScript, arguments);
    if (reply.kind != RedisReply::Kind::Array || reply.items.empty()) {
        m_fault.fail("could not start or join " + runWhere() + ": " + reply.text);
        return std::nullopt;
    }
    m_entered = true;
    m_renewer = std::jthread([this](std::stop_token stop) { renewLoop(stop); });
    if (reply.items[0].integer == 1) return Entry::Created;

    if (reply.items.size() > 1 && reply.items[1].text == "finished") {
        m_fault.fail(runWhere() + " is finished; export its results, or give another --run name");
        return std::nullopt;
    }
    const RedisReply list = m_main.command({"LRANGE", key("options"), "0", "-1"});
    if (list.kind != RedisReply::Kind::Array) {
        m_fault.fail("could not read the options of " + runWhere() + ": " + list.text);
        return std::nullopt;
    }
    if (stored) {
        stored->clear();
        for (std::size_t i = 0; i + 1 < list.items.size(); i += 2)
            stored->emplace_back(list.items[i].text, list.items[i + 1].text);
    }
    return Entry::Joined;
}

std::optional<KeywordTask> RedisRunStore::lease(std::size_t position) {
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_fault.broken()) return std::nullopt;
            if (position < m_held.size()) {
                if (auto task = decodeTask(m_held[position].task)) return task;
                if (!setAside(position)) return std::nullopt;
                continue;
            }
            if (m_stopping) return std::nullopt;
            const std::string token = m_worker + "#" + std::to_string(++m_leases);
            const std::string ms = std::to_string(m_target.lease.count());
            const RedisReply reply = call(kLeaseScript, {token, ms, m_worker});
            if (reply.kind != RedisReply::Kind::Array || reply.items.size() != 2) {
                breakWith("could not take a keyword from the queue", reply);
                return std::nullopt;
            }
            if (reply.items[0].integer == 1) {
                m_held.push_back({token, reply.items[1].text});
                heldChanged();
                // Stop may have come while the lease was taken: nobody will ask about it.
                if (m_stopping) {
                    release(m_main, {token});
                    m_held.pop_back();
                    heldChanged();
                    return std::nullopt;
                }
                continue;
            }
            // This worker's own commits will queue more: its look-ahead does not wait for them.
            if (!m_held.empty()) return std::nullopt;
            if (reply.items[1].integer == 0) return std::nullopt; // nothing queued, nobody asking: the end
        }
        // Others are asking: what they find may be queued yet.
        std::unique_lock wait(m_wakeMutex);
        m_wake.wait_for(wait, std::chrono::milliseconds(20), [&] { return m_stopping.load(); });
    }
}

bool RedisRunStore::setAside(std::size_t position) {
    const RedisReply reply = call(kSetAsideScript, {m_held[position].token});
    if (!reply.ok()) {
        breakWith("could not set a damaged keyword aside", reply);
        return false;
    }
    m_held.erase(m_held.begin() + static_cast<std::ptrdiff_t>(position));
    heldChanged();
    // One undecodable entry must not hold up the run: it is kept for a person to look at.
    if (m_target.onDamaged)
        m_target.onDamaged("a queued task of " + runWhere() +
                           " could not be read; it was set aside in " + key("damaged") + " and the run goes on");
    return true;
}

std::string RedisRunStore::headToken() const {
    return m_held.empty() ? std::string() : m_held.front().token;
}

void RedisRunStore::heldChanged() {
    std::vector<std::string> tokens;
    tokens.reserve(m_held.size());
    for (const Lease& held : m_held) tokens.push_back(held.token);
    std::lock_guard lock(m_wakeMutex);
    m_renewing = std::move(tokens);
}

std::optional<KeywordTask> RedisRunStore::Queue::front() const {
    return m_store.lease(0);
}

std::optional<KeywordTask> RedisRunStore::Queue::at(std::size_t position) const {
    return m_store.lease(position);
}

void RedisRunStore::Queue::pop() {
    std::lock_guard lock(m_store.m_mutex);
    if (!m_store.m_held.empty()) m_store.m_popped = true;
}

void RedisRunStore::Queue::push(KeywordTask task) {
    std::lock_guard lock(m_store.m_mutex);
    m_store.m_staging.push(std::move(task));
}

std::size_t RedisRunStore::Queue::size() const {
    RedisRunStore& s = m_store;
    std::lock_guard lock(s.m_mutex);
    const RedisReply reply = s.call(kSizeScript, {});
    if (reply.kind != RedisReply::Kind::Integer) {
        s.breakWith("could not read the queue", reply);
        return 0;
    }
    const auto shared = static_cast<std::size_t>(reply.integer);
    // This worker's own, not yet committed: its new tasks are to come, its leased one is done.
    const std::size_t own = s.m_popped ? 1 : 0;
    return shared + s.m_staging.pushes().size() - std::min(shared, own);
}

void RedisRunStore::Seen::expect(const std::vector<Text>& keywords) {
    RedisRunStore& s = m_store;
    std::lock_guard lock(s.m_mutex);
    const std::string token = s.headToken();
    if (token.empty() || s.m_fault.broken()) return;
    std::vector<Text> keys;
    for (const Text& keyword : keywords) {
        Text key = text_lower(keyword);
        if (!staging().marked(key) && !s.m_expected.contains(key)) keys.push_back(std::move(key));
    }
    if (keys.empty()) return;
    std::vector<std::string_view> arguments = {token};
    arguments.insert(arguments.end(), keys.begin(), keys.end());
    const RedisReply reply = s.call(kClaimAllScript, arguments);
    if (reply.kind != RedisReply::Kind::Array || reply.items.size() != keys.size()) {
        s.breakWith("could not read the seen set", reply);
        return;
    }
    for (std::size_t i = 0; i < keys.size(); ++i) s.m_expected.emplace(std::move(keys[i]), reply.items[i].integer == 0);
}

bool RedisRunStore::Seen::containsStored(const Text& key) const {
    RedisRunStore& s = m_store;
    if (const auto known = s.m_expected.find(key); known != s.m_expected.end()) {
        const bool mine = known->second;
        s.m_expected.erase(known);
        if (!mine) return true;
        staging().mark(key);
        return false;
    }
    const std::string token = s.headToken();
    const RedisReply reply = s.call(kClaimScript, {token.empty() ? s.m_worker : token, key});
    if (reply.kind != RedisReply::Kind::Integer) {
        s.breakWith("could not read the seen set", reply);
        return true; // not known to be new: not taken
    }
    if (reply.integer == 1) return true;
    // Claimed for this lease: the claim becomes a mark with the commit.
    staging().mark(key);
    return false;
}

bool RedisRunStore::commitKeyword(std::size_t, int) {
    std::lock_guard lock(m_mutex);
    if (m_fault.broken()) {
        m_fault.fail(m_fault.brokenText());
        return false;
    }
    if (m_held.empty()) {
        // Nothing leased, so nothing asked: there is nothing to keep.
        m_staging.clear();
        m_expected.clear();
        m_unanswered.clear();
        return true;
    }
    const std::string marks = std::to_string(m_staging.marks().size());
    const std::string tasks = std::to_string(m_staging.pushes().size());
    const std::string results = std::to_string(m_staging.results().size());
    const std::string unanswered = std::to_string(m_unanswered.size());
    const std::string hits = std::to_string(m_staging.hits().size());
    std::vector<std::string> encoded;
    encoded.reserve(m_staging.pushes().size() + m_staging.results().size());
    for (const auto& task : m_staging.pushes()) encoded.push_back(encodeTask(task));
    for (const auto& result : m_staging.results()) encoded.push_back(encodeResult(result));
    std::vector<std::string> encodedHits;
    encodedHits.reserve(m_staging.hits().size());
    for (const auto& [keyword, source] : m_staging.hits()) encodedHits.push_back(encodeHit(keyword, source));
    std::vector<std::string_view> unclaimed;
    for (const auto& [key, mine] : m_expected)
        if (mine) unclaimed.push_back(key);
    const std::string unclaimedCount = std::to_string(unclaimed.size());
    std::vector<std::string_view> arguments = {m_held.front().token, m_popped ? "1" : "0", marks, tasks, results,
                                               unclaimedCount, unanswered, hits};
    for (const auto& mark : m_staging.marks()) arguments.push_back(mark);
    for (const auto& item : encoded) arguments.push_back(item);
    arguments.insert(arguments.end(), unclaimed.begin(), unclaimed.end());
    arguments.insert(arguments.end(), m_unanswered.begin(), m_unanswered.end());
    arguments.insert(arguments.end(), encodedHits.begin(), encodedHits.end());
    const RedisReply reply = call(kCommitScript, arguments);
    if (reply.kind != RedisReply::Kind::Integer) {
        breakWith("could not save a keyword's results", reply);
        m_fault.fail(m_fault.brokenText());
        return false;
    }
    if (reply.integer == 0) {
        const std::string lost =
            "the lease on a keyword of " + runWhere() + " ran out before its answers were saved; give a longer --lease";
        m_fault.breakWith(lost);
        m_fault.fail(lost);
        return false;
    }
    m_held.pop_front();
    heldChanged();
    m_popped = false;
    m_staging.clear();
    m_expected.clear();
    m_unanswered.clear();
    return true;
}

bool RedisRunStore::holdUnanswered(const KeywordTask& task) {
    std::lock_guard lock(m_mutex);
    // Nothing leased, nothing to commit it with.
    if (m_held.empty() || m_fault.broken()) return false;
    m_unanswered.push_back(encodeTask(task));
    return true;
}

void RedisRunStore::runFinished() {
    std::lock_guard lock(m_mutex);
    if (!m_entered || m_fault.broken()) return;
    // At the count limit the keywords looked ahead at were never asked: they go back first.
    if (!m_held.empty()) {
        std::vector<std::string> tokens;
        for (const Lease& held : m_held) tokens.push_back(held.token);
        release(m_main, tokens);
        m_held.clear();
        heldChanged();
    }
    const RedisReply reply = call(kFinishScript, {m_worker});
    if (!reply.ok()) m_fault.fail("could not record the end of " + runWhere() + ": " + reply.text);
    m_entered = false;
}

void RedisRunStore::runStopping() {
    // From any thread, while the worker may be waiting in front() or asking: the renewer gives the
    // lease back and leaves, on its own connection.
    m_stopping = true;
    std::lock_guard lock(m_wakeMutex);
    m_wake.notify_all();
}

void RedisRunStore::renewLoop(std::stop_token stop) {
    const auto every = std::max(std::chrono::milliseconds(50), m_target.lease / 3);
    const std::string ms = std::to_string(m_target.lease.count());
    for (;;) {
        std::vector<std::string> tokens;
        {
            std::unique_lock lock(m_wakeMutex);
            m_wake.wait_for(lock, stop, every, [&] { return m_stopping.load(); });
            tokens = m_renewing;
        }
        if (stop.stop_requested()) return;
        if (m_stopping) {
            if (!tokens.empty()) release(m_renewerConnection, tokens);
            leave(m_renewerConnection);
            return;
        }
        std::vector<std::string_view> arguments = {m_prefix, m_worker, ms};
        arguments.insert(arguments.end(), tokens.begin(), tokens.end());
        m_renewerConnection.script(kRenewScript, {}, arguments);
    }
}

void RedisRunStore::release(RedisConnection& connection, const std::vector<std::string>& tokens) {
    std::vector<std::string_view> arguments = {m_prefix};
    arguments.insert(arguments.end(), tokens.begin(), tokens.end());
    connection.script(kReleaseScript, {}, arguments);
}

void RedisRunStore::leave(RedisConnection& connection) {
    connection.script(kLeaveScript, {}, {m_prefix, m_worker});
}

std::string RedisRunStore::error() const {
    std::lock_guard lock(m_mutex);
    return m_fault.text();
}

bool RedisRunStore::broken() const {
    std::lock_guard lock(m_mutex);
    return m_fault.broken();
}

Expected<std::vector<RunSummary>> RedisRunStore::listRuns() {
    std::lock_guard lock(m_mutex);
    std::vector<RunSummary> list;
    const RedisReply names = m_main.command({"ZRANGE", kRunsKey, "0", "-1"});
    if (names.kind != RedisReply::Kind::Array) return Error{"cannot read the runs in " + describe() + ": " + names.text};
    std::int64_t id = 0;
    for (const auto& name : names.items) {
        if (!name.ok()) return Error{"cannot read the runs in " + describe() + ": " + name.text};
        const RedisReply summary = m_main.script(kSummaryScript, {}, {prefixOf(name.text)});
        RunSummary run;
        run.id = ++id;
        run.name = name.text;
        // A run whose own keys cannot be read is one line of the list, not the end of it.
        if (summary.kind != RedisReply::Kind::Array || summary.items.size() != 8) {
            if (summary.kind == RedisReply::Kind::Failed)
                return Error{"cannot read the run " + name.text + " in " + describe() + ": " + summary.text};
            run.state = StoredRunState::Damaged;
            list.push_back(std::move(run));
            continue;
        }
        run.started = summary.items[0].text;
        run.seeds = summary.items[1].text;
        run.keywordsDone = std::atoll(summary.items[2].text.c_str());
        run.results = summary.items[4].integer;
        if (summary.items[3].text == "finished") run.state = StoredRunState::Finished;
        else if (summary.items[3].text == "incomplete") run.state = StoredRunState::Incomplete;
        else if (summary.items[5].integer > 0) run.state = StoredRunState::Running;
        else if (summary.items[6].integer > 0) run.state = StoredRunState::Interrupted;
        else run.state = StoredRunState::Stopped;
        if (summary.items[7].integer > 0) run.state = StoredRunState::Damaged;
        list.push_back(std::move(run));
    }
    return list;
}

Expected<std::vector<ResultRecord>> RedisRunStore::runResults(std::string_view name) {
    if (!validRunName(name))
        return Error{name.empty() ? "a redis:// store needs --run NAME" : "invalid --run '" + std::string(name) + "'"};
    const std::string run(name);
    std::lock_guard lock(m_mutex);
    m_damagedResults = 0;
    const std::string prefix = prefixOf(run);
    const RedisReply exists = m_main.command({"EXISTS", prefix + "meta"});
    if (exists.kind != RedisReply::Kind::Integer)
        return Error{"cannot read the runs in " + describe() + ": " + exists.text};
    if (exists.integer == 0) return Error{"there is no run " + run + " in " + describe()};
    std::vector<ResultRecord> records;
    // In slices, so that a long run's results do not come as one huge answer.
    constexpr std::int64_t kSlice = 10000;
    for (std::int64_t from = 0;; from += kSlice) {
        const RedisReply slice = m_main.command(
            {"LRANGE", prefix + "results", std::to_string(from), std::to_string(from + kSlice - 1)});
        if (slice.kind != RedisReply::Kind::Array)
            return Error{"cannot read the results of " + run + " in " + describe() + ": " + slice.text};
        for (const auto& item : slice.items) {
            auto record = decodeResult(item.text);
            // What can be read is written; the rest is counted for the user.
            if (!record) {
                ++m_damagedResults;
                continue;
            }
            records.push_back(std::move(*record));
        }
        if (static_cast<std::int64_t>(slice.items.size()) < kSlice) break;
    }
    const RedisReply options = m_main.command({"LRANGE", prefix + "options", "0", "-1"});
    if (options.kind != RedisReply::Kind::Array)
        return Error{"cannot read the options of " + run + " in " + describe() + ": " + options.text};
    bool countedHits = false;
    for (std::size_t i = 0; i + 1 < options.items.size(); i += 2)
        if (options.items[i].text == ctl::kCountHits) countedHits = options.items[i + 1].text == "1";
    if (!countedHits) return records;

    // Each phrase and source once, however often a scan of a changing hash gives it.
    std::map<std::string, std::int64_t> entries;
    std::string cursor = "0";
    do {
        const RedisReply page = m_main.command({"HSCAN", prefix + "hits", cursor, "COUNT", "10000"});
        if (page.kind != RedisReply::Kind::Array || page.items.size() != 2 ||
            page.items[1].kind != RedisReply::Kind::Array)
            return Error{"cannot read the hits of " + run + " in " + describe() + ": " + page.text};
        cursor = page.items[0].text;
        const auto& items = page.items[1].items;
        for (std::size_t i = 0; i + 1 < items.size(); i += 2) {
            std::int64_t times = 0;
            const std::string& value = items[i + 1].text;
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), times);
            // A count that cannot be read adds nothing: a result's own find still counts.
            if (ec != std::errc() || end != value.data() + value.size() || times < 1) continue;
            entries[items[i].text] = times;
        }
    } while (cursor != "0");
    struct Offers {
        std::int64_t again = 0;
        std::set<Text> sources;
    };
    std::unordered_map<Text, Offers> offers;
    for (const auto& [entry, times] : entries) {
        auto hit = decodeHit(entry);
        if (!hit) continue;
        Offers& offer = offers[hit->first];
        offer.again = std::min<std::int64_t>(INT_MAX, offer.again + std::min<std::int64_t>(INT_MAX, times));
        offer.sources.insert(std::move(hit->second));
    }
    // One for being found, one more for every later offer; services: the result's own and every
    // other that offered it.
    for (ResultRecord& record : records) {
        record.hits = 1;
        record.services = 1;
        const auto found = offers.find(record.keyword);
        if (found == offers.end()) continue;
        const Offers& offer = found->second;
        record.hits = static_cast<int>(std::min<std::int64_t>(INT_MAX, 1 + offer.again));
        record.services = static_cast<int>(offer.sources.size() + (offer.sources.contains(record.sourceName) ? 0 : 1));
    }
    return records;
}

std::size_t RedisRunStore::damagedResults() const {
    std::lock_guard lock(m_mutex);
    return m_damagedResults;
}

} // namespace zelkor
