#include "app/run_log.h"

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

bool preadAll(int fd, char* data, size_t size, off_t at) {
    while (size > 0) {
        const ssize_t n = ::pread(fd, data, size, at);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
        at += n;
    }
    return true;
}

bool pwriteAll(int fd, const char* data, size_t size, off_t at) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, at);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
        at += n;
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

Text runLogDateText(const LocalTime& t) {
    return utf8_to_gbk(dateUtf8(t));
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
    // O_CREAT without creating directories: a missing data/ means no log at all.
    Fd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!fd.ok()) return;

    // The time is taken again once the file is open, so a line written across midnight may carry
    // the next day's date in the previous day's file.
    const Text line = runLogDateTimeText(m_clock()) + "   " + message + "\r\n";
    const off_t n = static_cast<off_t>(line.size());

    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return;
    off_t length = st.st_size;
    char block[4096];
    while (length > 0) {
        const off_t size = std::min<off_t>(length, sizeof block);
        if (!preadAll(fd.get(), block, static_cast<size_t>(size), length - size)) return;
        if (!pwriteAll(fd.get(), block, static_cast<size_t>(size), length - size + n)) return;
        length -= size;
    }
    pwriteAll(fd.get(), line.data(), line.size(), 0);
}

} // namespace zelkor::app
