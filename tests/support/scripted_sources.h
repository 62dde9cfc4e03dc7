#pragma once
// Scripted keyword sources for engine and CLI tests: each answers from a fixed table and logs what
// the run asked it, so a test sees the order of queries and waits without any network.

#include "engine/core/control_names.h"
#include "engine/run/mining_run.h"
#include "engine/core/text_rules.h"
#include "engine/core/value_controls.h"
#include "sources/source_api.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zelkor::test {

// The run's log of queries ("q<index>:<keyword>") and waits ("w<ms>"), keywords in UTF-8.
class EventLog {
  public:
    void add(std::string event) {
        std::lock_guard lock(m_mutex);
        m_events.push_back(std::move(event));
    }
    std::vector<std::string> events() const {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    // Only the events starting with `prefix`.
    std::vector<std::string> only(char prefix) const {
        std::vector<std::string> out;
        for (auto& e : events())
            if (!e.empty() && e[0] == prefix) out.push_back(e);
        return out;
    }

  private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_events;
};

inline std::string u8(const Text& gbkText) {
    return gbk_to_utf8(gbkText);
}

class ScriptedSource : public SourceAdapter {
  public:
    // Keyword (UTF-8) -> phrases (UTF-8) offered for it.
    using Script = std::map<std::string, std::vector<std::string>>;

    ScriptedSource(int index, std::string outputName, int pauseMs, Script script,
                   std::shared_ptr<EventLog> log,
                   std::function<void(const std::string&, SourceHost&)> hook = {})
        : m_index(index), m_name(gbk(outputName)), m_pause(pauseMs), m_script(std::move(script)),
          m_log(std::move(log)), m_hook(std::move(hook)) {}

    int listIndex() const override { return m_index; }

    void run(const Text& keyword, SourceHost& host) override {
        if (!host.isSourceTicked(m_index)) return;
        const std::string key = u8(keyword);
        m_log->add("q" + std::to_string(m_index) + ":" + key);
        if (m_hook) m_hook(key, host);
        const auto it = m_script.find(key);
        if (it == m_script.end()) return;
        for (const auto& phrase : it->second) {
            if (host.stopToken().stop_requested()) return;
            host.offerCandidate(gbk(phrase), m_name, m_pause);
        }
    }

  private:
    int m_index;
    Text m_name;
    int m_pause;
    Script m_script;
    std::shared_ptr<EventLog> m_log;
    std::function<void(const std::string&, SourceHost&)> m_hook;
};

// A wait that only logs, so tests run at full speed; it still ends at once when stopped.
inline WaitFunction recordingWait(std::shared_ptr<EventLog> log) {
    return [log](std::chrono::milliseconds duration, std::stop_token stop) {
        log->add("w" + std::to_string(duration.count()));
        return !stop.stop_requested();
    };
}

// Window defaults, item 0 ticked; `ticked` replaces the ticks when given.
inline std::shared_ptr<ValueControls> makeControls(const std::filesystem::path& home,
                                                   std::vector<int> ticked = {0}) {
    auto controls = std::make_shared<ValueControls>();
    applyWindowDefaults(*controls, home);
    for (int i : ticked)
        controls->setItemChecked(ctl::kSourceList, i, true);
    return controls;
}

} // namespace zelkor::test
