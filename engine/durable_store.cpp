#include "engine/durable_store.h"

#include <ctime>

namespace zelkor {

std::string isoTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S%z", &local);
    // strftime gives +0800; ISO 8601's extended form wants +08:00.
    std::string text = stamp;
    if (text.size() >= 5) text.insert(text.size() - 2, ":");
    return text;
}

std::string_view storedRunStateName(StoredRunState state) {
    switch (state) {
    case StoredRunState::Running: return "running";
    case StoredRunState::Finished: return "finished";
    case StoredRunState::Stopped: return "stopped";
    case StoredRunState::Interrupted: return "interrupted";
    }
    return "running";
}

std::optional<StoreSpec> parseStoreSpec(std::string_view text, const std::filesystem::path& home,
                                        std::string* error) {
    StoreSpec spec;
    if (text.empty() || text == "files") return spec;
    if (text == "sqlite") {
        spec.kind = StoreSpec::Kind::Sqlite;
        spec.path = home / "data" / "runs.sqlite";
        return spec;
    }
    if (text.starts_with("sqlite:") && text.size() > 7) {
        spec.kind = StoreSpec::Kind::Sqlite;
        spec.path = std::string(text.substr(7));
        return spec;
    }
    if (error) *error = "unknown store '" + std::string(text) + "' (files, sqlite or sqlite:PATH)";
    return std::nullopt;
}

} // namespace zelkor
