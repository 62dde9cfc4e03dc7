#pragma once
// An exclusive advisory lock (flock) on a lock file, held while the object lives. Another process,
// or another lock object in this one, cannot take the same file meanwhile. The file is removed on
// release; a taker that finds its file removed under it tries again, so no two holders coexist.

#include <filesystem>
#include <optional>

namespace zelkor {

class FileLock {
  public:
    // The lock, or nullopt with *error set: EWOULDBLOCK when it is held, else why the file could not
    // be made.
    static std::optional<FileLock> tryAcquire(const std::filesystem::path& file, int* error);

    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

    const std::filesystem::path& file() const { return m_file; }
    void release();

  private:
    FileLock(std::filesystem::path file, int fd) : m_file(std::move(file)), m_fd(fd) {}
    std::filesystem::path m_file;
    int m_fd = -1;
};

// The lock file that marks a home as in use by a run.
std::filesystem::path homeLockFile(const std::filesystem::path& home);

} // namespace zelkor
