#pragma once
// The day-stamped diary of start-up and update activity: <home>/data/运行日志<date>.txt, GBK,
// newest line first. Write-only; every failure drops the line silently.

#include "text/text.h"

#include <filesystem>
#include <functional>
#include <mutex>

namespace zelkor::app {

struct LocalTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

using LocalClock = std::function<LocalTime()>;
LocalTime systemLocalTime();

// "2021年2月7日", then the time down to its last non-zero field: "10时0分5秒", "10时5分", "10时" or nothing.
Text runLogDateTimeText(const LocalTime& t);

class RunLog {
  public:
    explicit RunLog(std::filesystem::path home, LocalClock clock = systemLocalTime);

    void write(const Text& message) const;
    std::filesystem::path pathFor(const LocalTime& t) const;

    // Held by the close sequence so the process never ends in the middle of a line's insertion.
    static std::mutex& writeLock();

  private:
    std::filesystem::path m_home;
    LocalClock m_clock;
};

} // namespace zelkor::app
