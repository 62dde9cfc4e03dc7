#include "engine/store/store_factory.h"

#include "engine/core/control_names.h"
#include "engine/store/memory_store.h"
#include "engine/store/redis_run_store.h"
#include "engine/store/sqlite_run_store.h"

#include <atomic>
#include <cstdio>

namespace zelkor {

namespace {

Error badRedisUrl(std::string_view url) {
    return Error{"'" + redisUrlShown(url) + "' is not redis://[[USER]:PASSWORD@]HOST[:PORT][/DB]"};
}

Expected<std::unique_ptr<RedisRunStore>> openRedis(const StoreSpec& spec,
                                                  const std::function<void(const std::string&)>& onRetry,
                                                  const std::function<void(const std::string&)>& onDamaged = {}) {
    const auto server = parseRedisUrl(spec.url);
    if (!server) return badRedisUrl(spec.url);
    RedisStoreTarget target{*server, spec.run, spec.lease, {}};
    // A server that restarts is waited for; a worker gives up only after the whole outage allowed.
    target.server.outage = spec.outage;
    target.server.firstPause = std::chrono::milliseconds(250);
    target.onDamaged = onDamaged;
    if (onRetry) {
        // Both of a worker's connections notice an outage: it is told once, and its end once.
        auto lost = std::make_shared<std::atomic<bool>>(false);
        const std::string where = server->host + ":" + std::to_string(server->port);
        const auto seconds = std::to_string(std::chrono::duration_cast<std::chrono::seconds>(spec.outage).count());
        target.server.onRetry = [onRetry, lost, seconds](const std::string& what, std::chrono::milliseconds) {
            if (!lost->exchange(true)) onRetry(what + "; trying again for up to " + seconds + " s");
        };
        target.server.onReconnected = [onRetry, lost, where](std::chrono::milliseconds after) {
            if (!lost->exchange(false)) return;
            char text[32];
            std::snprintf(text, sizeof text, "%.1f", static_cast<double>(after.count()) / 1000.0);
            onRetry("reconnected to Redis at " + where + " after " + text + " s; the run goes on");
        };
    }
    std::string error;
    auto store = RedisRunStore::open(target, &error);
    if (!store) return Error{error};
    return store;
}

Expected<StoreForRun> enterSharedRun(const RunStoreRequest& request) {
    if (!validRunName(request.spec.run))
        return Error{"a shared run needs a name of 1 to 64 letters, digits, '_', '.' or '-'"};
    auto store = openRedis(request.spec, request.onRetry, request.onDamaged);
    if (!store) return store.error();
    RunOptionValues stored;
    const auto entry = (*store)->enter(request.options, request.seedRounds, &stored);
    if (!entry) return Error{(*store)->error()};
    StoreForRun opened;
    opened.seedsQueued = true;
    if (*entry == RedisRunStore::Entry::Joined) {
        // Paths, proxies and the store's own URL are the machine's: a joining worker goes its own
        // way, through its own proxies or none, whatever the run's options say.
        std::erase_if(stored, [](const auto& option) {
            return option.first == ctl::kSaveDir || option.first == ctl::kHangupDir ||
                   option.first == ctl::kProxyList || option.first == ctl::kRunStore ||
                   option.first == ctl::kStoreTimeout;
        });
        opened.runOptions = std::move(stored);
    }
    opened.store = std::move(*store);
    return opened;
}

} // namespace

Expected<StoreForRun> openRunStore(const RunStoreRequest& request) {
    switch (request.spec.kind) {
    case StoreSpec::Kind::Files: {
        StoreForRun opened;
        opened.store = std::make_shared<DefaultRunStore>(request.home);
        return opened;
    }
    case StoreSpec::Kind::Sqlite: {
        std::string error;
        auto store = SqliteRunStore::open(request.spec.path, &error);
        if (!store) return Error{error};
        if (!store->beginRun(request.options)) return Error{store->error()};
        StoreForRun opened;
        opened.store = std::move(store);
        return opened;
    }
    case StoreSpec::Kind::Redis:
        return enterSharedRun(request);
    }
    return Error{"unknown store"};
}

Expected<std::optional<StoreForRun>> resumeRunStore(const StoreSpec& spec, std::stop_token stop) {
    if (spec.kind == StoreSpec::Kind::Files)
        return Error{"the files store keeps no run to resume; choose a database store"};
    if (spec.kind == StoreSpec::Kind::Redis)
        return Error{"a shared run goes on whenever a worker starts with its --run name; --resume is not needed"};
    std::string error;
    auto store = SqliteRunStore::open(spec.path, &error);
    if (!store) return Error{error};
    auto progress = store->resume(spec.resumeRun, std::move(stop));
    if (!progress) {
        if (const std::string why = store->error(); !why.empty()) return Error{why};
        return std::optional<StoreForRun>();
    }
    StoreForRun opened;
    opened.seedsDone = progress->seedsDone;
    opened.accepted = progress->accepted;
    opened.runOptions = std::move(progress->options);
    opened.store = std::move(store);
    return std::optional<StoreForRun>(std::move(opened));
}

Expected<std::unique_ptr<RunHistory>> openRunHistory(const StoreSpec& spec, int busyTimeoutMs) {
    switch (spec.kind) {
    case StoreSpec::Kind::Files:
        return Error{"the files store keeps no history; give --store sqlite, --store sqlite:PATH or --store redis://… "
                     "(a run with --export-format exports its own results)"};
    case StoreSpec::Kind::Sqlite: {
        std::error_code ignored;
        if (!std::filesystem::exists(spec.path, ignored)) return Error{"no run store at " + spec.path.string()};
        std::string error;
        auto store = SqliteRunStore::open(spec.path, &error, busyTimeoutMs);
        if (!store) return Error{error};
        return std::unique_ptr<RunHistory>(std::move(store));
    }
    case StoreSpec::Kind::Redis: {
        const auto server = parseRedisUrl(spec.url);
        if (!server) return badRedisUrl(spec.url);
        std::string error;
        auto store = RedisRunStore::open({*server, {}, spec.lease, {}}, &error);
        if (!store) return Error{error};
        return std::unique_ptr<RunHistory>(std::move(store));
    }
    }
    return Error{"unknown store"};
}

} // namespace zelkor
