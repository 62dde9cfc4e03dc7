#include "engine/output/export_target.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelkor {

namespace {

// The temporary files alive, readable from a signal handler: a slot is claimed, filled, then
// published; the handler touches published slots only.
constexpr int kSlots = 16;
enum SlotState : int { Free = 0, Filling = 1, Live = 2 };
struct Slot {
    std::atomic<int> state{Free};
    char path[PATH_MAX] = {};
};
std::array<Slot, kSlots> g_slots;

int publish(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < kSlots; ++i) {
        int expected = Free;
        if (g_slots[i].state.compare_exchange_strong(expected, Filling)) {
            std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
            g_slots[i].state.store(Live);
            return i;
        }
    }
    return -1;
}

void withdraw(int slot) {
    if (slot < 0) return;
    g_slots[slot].state.store(Filling);
    g_slots[slot].path[0] = '\0';
    g_slots[slot].state.store(Free);
}

extern "C" void removeTempFilesAndDie(int signal) {
    const int saved = errno;
    for (Slot& slot : g_slots)
        if (slot.state.load() == Live) ::unlink(slot.path);
    errno = saved;
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

std::string why(const std::filesystem::path& file, const std::string& reason) {
    return "cannot export to " + file.string() + ": " + reason;
}

// The end of a chain of symlinks; nullopt when the chain loops or runs too long.
std::optional<std::filesystem::path> followLinks(std::filesystem::path file) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(file.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return file;
        std::error_code ec;
        const std::filesystem::path link = std::filesystem::read_symlink(file, ec);
        if (ec) return std::nullopt;
        file = link.is_absolute() ? link : file.parent_path() / link;
    }
    return std::nullopt;
}

} // namespace

std::vector<std::filesystem::path> sqliteFiles(const std::filesystem::path& database) {
    std::vector<std::filesystem::path> files{database};
    for (const char* tail : {"-wal", "-shm", "-journal"}) {
        std::filesystem::path side = database;
        side += tail;
        files.push_back(side);
    }
    return files;
}

std::optional<ExportTarget> resolveExportTarget(const std::filesystem::path& named,
                                                const std::vector<std::filesystem::path>& protectedFiles,
                                                std::string* error) {
    auto refuse = [&](const std::string& reason) -> std::optional<ExportTarget> {
        if (error) *error = why(named, reason);
        return std::nullopt;
    };
    if (named.empty()) return refuse("no file named");
    const std::optional<std::filesystem::path> file = followLinks(named);
    if (!file) return refuse("its symbolic links loop or run too deep");
    ExportTarget target;
    target.file = *file;
    struct stat st {};
    if (::stat(file->c_str(), &st) != 0) {
        if (errno != ENOENT) return refuse(std::strerror(errno));
        struct stat dir {};
        const std::filesystem::path parent = file->has_parent_path() ? file->parent_path() : ".";
        if (::stat(parent.c_str(), &dir) != 0 || !S_ISDIR(dir.st_mode))
            return refuse("there is no directory " + parent.string());
        // A -wal or -shm that is not there now would be read as the store's own later.
        std::error_code ec;
        const std::filesystem::path where = std::filesystem::weakly_canonical(*file, ec);
        for (const std::filesystem::path& kept : protectedFiles) {
            std::error_code keptEc;
            if (!ec && where == std::filesystem::weakly_canonical(kept, keptEc) && !keptEc)
                return refuse("it is " + kept.string() + ", part of the run store being read");
        }
        return target;
    }
    if (S_ISDIR(st.st_mode)) return refuse("it is a directory; name a file in it");
    if (!S_ISREG(st.st_mode))
        return refuse("it is not a regular file (a device, a pipe or a socket); name a new file or a regular one");
    for (const std::filesystem::path& kept : protectedFiles) {
        struct stat other {};
        if (::stat(kept.c_str(), &other) == 0 && other.st_dev == st.st_dev && other.st_ino == st.st_ino)
            return refuse("it is " + kept.string() + ", part of the run store being read");
    }
    target.exists = true;
    target.mode = st.st_mode & 07777;
    return target;
}

TempFile::TempFile(const ExportTarget& target) : m_target(target) {
    m_path = target.file;
    m_path += ".tmp" + std::to_string(::getpid());
    // Published before it exists, so a signal from now on cannot leave it behind.
    m_slot = publish(m_path.string());
    ::unlink(m_path.c_str()); // a leftover of an earlier process with this pid
    m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  target.exists ? 0600 : 0666);
    if (m_fd < 0) {
        const int saved = errno;
        withdraw(m_slot);
        m_slot = -1;
        errno = saved;
    }
}

TempFile::~TempFile() {
    closeFd();
    if (!m_committed && m_slot >= 0) ::unlink(m_path.c_str());
    withdraw(m_slot);
}

void TempFile::closeFd() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

bool TempFile::commit() {
    if (m_slot < 0) return false;
    if (m_fd >= 0) {
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0) return false;
    }
    if (m_target.exists && ::chmod(m_path.c_str(), m_target.mode) != 0) return false;
    if (::rename(m_path.c_str(), m_target.file.c_str()) != 0) return false;
    m_committed = true;
    return true;
}

void removeTempFilesOnSignals() {
    struct sigaction action {};
    action.sa_handler = removeTempFilesAndDie;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, signal);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

} // namespace zelkor
