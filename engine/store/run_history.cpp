#include "engine/store/run_history.h"

#include "engine/core/control_names.h"
#include "engine/core/program_dir.h"
#include "engine/store/redis.h"
#include "net/proxy.h"

#include <algorithm>
#include <cstdlib>
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
    case StoredRunState::Damaged: return "damaged";
    case StoredRunState::Incomplete: return "incomplete";
    }
    return "running";
}

bool storedRunResumable(StoredRunState state) {
    return state == StoredRunState::Stopped || state == StoredRunState::Interrupted ||
           state == StoredRunState::Incomplete;
}

namespace {

constexpr std::string_view kEditOptions[] = {ctl::kSeeds,   ctl::kForbidden, ctl::kLimit,
                                             ctl::kDelay,   ctl::kSaveDir,   ctl::kHangupDir};
constexpr std::string_view kCheckOptions[] = {ctl::kMainWordOnly, ctl::kAutoSave, ctl::kNoOutput, ctl::kHangup};

// The boxes of the page 高级 go with the run too: variants decide the seed rounds a resumed run
// counts on, and the filters, limits and pace what it keeps.
template <typename F> void forEachEditOption(F&& f) {
    for (const auto name : kEditOptions) f(name);
    for (const auto name : ctl::kAdvancedBoxes) f(name);
}
template <typename F> void forEachCheckOption(F&& f) {
    for (const auto name : kCheckOptions) f(name);
    for (const auto name : ctl::kAdvancedChecks) f(name);
}

} // namespace

// A directory as a store keeps it: absolute, so that a run read from elsewhere means the same place.
static Text absolutePathText(const Text& value) {
    if (value.empty() || value.front() == '/') return value;
    std::error_code error;
    const auto absolute = std::filesystem::absolute(gbkToPath(value), error);
    if (error) return value;
    return pathToGbk(absolute);
}

// The proxy list as a store keeps it: each line without its credentials.
Text proxiesKept(std::string_view list) {
    Text kept;
    for (std::size_t from = 0; from <= list.size();) {
        const std::size_t end = std::min(list.find('\n', from), list.size());
        kept += proxyKept(list.substr(from, end - from));
        if (end == list.size()) break;
        kept += '\n';
        from = end + 1;
    }
    return kept;
}

RunOptionValues captureRunOptions(const Controls& controls) {
    RunOptionValues values;
    forEachEditOption([&](std::string_view name) {
        const Text value = controls.text(name);
        values.emplace_back(std::string(name), name == ctl::kProxyList  ? proxiesKept(value)
                                               : name == ctl::kRunStore ? redisUrlShown(value)
                                               : name == ctl::kSaveDir || name == ctl::kHangupDir
                                                   ? absolutePathText(value)
                                                   : value);
    });
    forEachCheckOption(
        [&](std::string_view name) { values.emplace_back(std::string(name), controls.checked(name) ? "1" : "0"); });
    Text ticked;
    // Every row the list has, those a sources file added included.
    const int rows = controls.itemCount(ctl::kSourceList);
    for (int i = 0; i < rows; ++i) {
        if (!controls.itemChecked(ctl::kSourceList, i)) continue;
        if (!ticked.empty()) ticked += ',';
        ticked += std::to_string(i);
    }
    values.emplace_back(std::string(ctl::kSourceList), ticked);
    return values;
}

SourceTicks applyRunOptions(Controls& controls, const RunOptionValues& options) {
    SourceTicks ticks(static_cast<std::size_t>(controls.itemCount(ctl::kSourceList)));
    for (std::size_t i = 0; i < ticks.size(); ++i) ticks[i] = controls.itemChecked(ctl::kSourceList, static_cast<int>(i));
    for (const auto& [name, value] : options) {
        bool known = false;
        forEachEditOption([&](std::string_view edit) {
            if (name != edit) return;
            known = true;
            // Credentials were never stored: the proxies given now stand.
            if (edit == ctl::kProxyList && proxyNeedsCredentials(value)) return;
            if (edit == ctl::kRunStore && value.find("***@") != Text::npos) return;
            controls.setText(edit, value);
        });
        forEachCheckOption([&](std::string_view check) {
            if (name != check) return;
            controls.setChecked(check, value == "1");
            known = true;
        });
        if (known || name != ctl::kSourceList) continue;
        std::fill(ticks.begin(), ticks.end(), false);
        for (const auto& item : text_split(value, ",")) {
            if (item.empty() || item.size() > 4 || item.find_first_not_of("0123456789") != std::string::npos) continue;
            const auto index = static_cast<std::size_t>(std::atoi(item.c_str()));
            if (index >= ticks.size()) ticks.resize(index + 1, false);
            ticks[index] = true;
        }
    }
    return ticks;
}

bool storedProxiesNeedCredentials(const RunOptionValues& options) {
    return std::any_of(options.begin(), options.end(), [](const auto& option) {
        return option.first == ctl::kProxyList && proxyNeedsCredentials(option.second);
    });
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
    if (text.starts_with("redis://")) {
        if (!parseRedisUrl(text)) {
            if (error) *error = "'" + redisUrlShown(text) + "' is not redis://[[USER]:PASSWORD@]HOST[:PORT][/DB]";
            return std::nullopt;
        }
        spec.kind = StoreSpec::Kind::Redis;
        spec.url = std::string(text);
        return spec;
    }
    if (error) *error = "unknown store '" + std::string(text) + "' (files, sqlite, sqlite:PATH or redis://HOST:PORT/DB)";
    return std::nullopt;
}

} // namespace zelkor
