#include "app/run_log.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace zelkor::app {
namespace {

class Fd {
  public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    bool ok() const { return m_fd >= 0; }

  private:
    int m_fd;
};

bool readAll(int fd, std::string& out) {
    char block[16384];
    for (;;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0) return false;
        if (n == 0) return true;
        out.append(block, static_cast<size_t>(n));
    }
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::string dateUtf8(const LocalTime& t) {
    return std::to_string(t.year) + "年" + std::to_string(t.month) + "月" + std::to_string(t.day) + "日";
}

} // namespace

LocalTime systemLocalTime() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

Text runLogDateTimeText(const LocalTime& t) {
    std::string s = dateUtf8(t);
    const std::string h = std::to_string(t.hour), m = std::to_string(t.minute),
                      sec = std::to_string(t.second);
    if (t.second != 0)
        s += h + "时" + m + "分" + sec + "秒";
    else if (t.minute != 0)
        s += h + "时" + m + "分";
    else if (t.hour != 0)
        s += h + "时";
    return utf8_to_gbk(s);
}

RunLog::RunLog(std::filesystem::path home, LocalClock clock)
    : m_home(std::move(home)), m_clock(std::move(clock)) {}

std::filesystem::path RunLog::pathFor(const LocalTime& t) const {
    return m_home / "data" / ("运行日志" + dateUtf8(t) + ".txt");
}

std::mutex& RunLog::writeLock() {
    static std::mutex lock;
    return lock;
}

void RunLog::write(const Text& message) const {
    std::lock_guard guard(writeLock());
    const std::filesystem::path path = pathFor(m_clock());
    std::string earlier;
    {
        Fd old(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!old.ok() && errno != ENOENT) return;
        if (old.ok() && !readAll(old.get(), earlier)) return;
    }

    // The time is taken again once the file is read, so a line written across midnight may carry
    // the next day's date in the previous day's file.
    const Text line = runLogDateTimeText(m_clock()) + "   " + message + "\r\n";

    // Newest first means rewriting the file: a new one is written beside it and renamed over it,
    // so a crash or a full disk leaves the day's log as it was. No data/ means no log at all.
    std::string temp = path.string() + ".XXXXXX";
    Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.ok()) return;
    const bool written = ::fchmod(fd.get(), 0644) == 0 && writeAll(fd.get(), line.data(), line.size()) &&
                         writeAll(fd.get(), earlier.data(), earlier.size());
    if (!written || ::rename(temp.c_str(), path.c_str()) != 0) ::unlink(temp.c_str());
}

} // namespace zelkor::app
