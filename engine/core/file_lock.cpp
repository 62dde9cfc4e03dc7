#include "engine/core/file_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelkor {

std::optional<FileLock> FileLock::tryAcquire(const std::filesystem::path& file, int* error) {
    for (;;) {
        const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) {
            *error = errno;
            return std::nullopt;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            *error = errno == EINTR ? EWOULDBLOCK : errno;
            ::close(fd);
            return std::nullopt;
        }
        // The holder before us may have removed the file between our open and our lock.
        struct stat held {}, named {};
        if (::fstat(fd, &held) == 0 && ::stat(file.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev)
            return FileLock(file, fd);
        ::close(fd);
    }
}

FileLock::FileLock(FileLock&& other) noexcept : m_file(std::move(other.m_file)), m_fd(other.m_fd) {
    other.m_fd = -1;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        release();
        m_file = std::move(other.m_file);
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

FileLock::~FileLock() {
    release();
}

void FileLock::release() {
    if (m_fd < 0) return;
    // Removed while still held, so nobody can lock the old file after we let go of it.
    ::unlink(m_file.c_str());
    ::close(m_fd);
    m_fd = -1;
}

std::filesystem::path homeLockFile(const std::filesystem::path& home) {
    return home / "cwls.lock";
}

} // namespace zelkor
