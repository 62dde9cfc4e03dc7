#include "engine/durable_store.h"

#include "engine/control_names.h"

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
    }
    return "running";
}

namespace {

constexpr std::string_view kEditOptions[] = {ctl::kSeeds,   ctl::kForbidden, ctl::kLimit,
                                             ctl::kDelay,   ctl::kSaveDir,   ctl::kHangupDir};
constexpr std::string_view kCheckOptions[] = {ctl::kMainWordOnly, ctl::kAutoSave, ctl::kNoOutput, ctl::kHangup};

} // namespace

RunOptionValues captureRunOptions(const Controls& controls) {
    RunOptionValues values;
    for (const auto name : kEditOptions) values.emplace_back(std::string(name), controls.text(name));
    for (const auto name : kCheckOptions) values.emplace_back(std::string(name), controls.checked(name) ? "1" : "0");
    Text ticked;
    for (int i = 0; i < 25; ++i) {
        if (!controls.itemChecked(ctl::kSourceList, i)) continue;
        if (!ticked.empty()) ticked += ',';
        ticked += std::to_string(i);
    }
    values.emplace_back(std::string(ctl::kSourceList), ticked);
    return values;
}

std::array<bool, 25> applyRunOptions(Controls& controls, const RunOptionValues& options) {
    std::array<bool, 25> ticks{};
    for (int i = 0; i < 25; ++i) ticks[i] = controls.itemChecked(ctl::kSourceList, i);
    for (const auto& [name, value] : options) {
        bool known = false;
        for (const auto edit : kEditOptions)
            if (name == edit) {
                controls.setText(edit, value);
                known = true;
            }
        for (const auto check : kCheckOptions)
            if (name == check) {
                controls.setChecked(check, value == "1");
                known = true;
            }
        if (known || name != ctl::kSourceList) continue;
        ticks.fill(false);
        for (const auto& item : text_split(value, ",")) {
            const int index = std::atoi(item.c_str());
            if (!item.empty() && index >= 0 && index < 25) ticks[index] = true;
        }
    }
    return ticks;
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
