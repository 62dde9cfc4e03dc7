#pragma once
// Where an export may land, and the temporary file it is written to first. The name a user gives
// is checked before a byte is written: a symlink is followed to its target, which keeps its mode;
// a directory, a device, a pipe or a socket is refused, and so is any file the caller protects (a
// run store and its -wal/-shm), known by device and inode whatever name reaches it.
//
// A temporary file is removed when its owner goes away without keeping it, and, once
// removeTempFilesOnSignals() has run, when SIGINT, SIGTERM or SIGHUP ends the process.

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zelkor {

struct ExportTarget {
    std::filesystem::path file; // where the bytes land: the name, or the end of its symlinks
    bool exists = false;
    mode_t mode = 0;            // an existing target's permission bits, kept by the new file
};

// nullopt with *error (UTF-8) naming the path and why.
std::optional<ExportTarget> resolveExportTarget(const std::filesystem::path& named,
                                                const std::vector<std::filesystem::path>& protectedFiles,
                                                std::string* error);

// The files a SQLite database lives in: the file, its -wal, -shm and -journal.
std::vector<std::filesystem::path> sqliteFiles(const std::filesystem::path& database);

class TempFile {
  public:
    // Creates "<target>.tmp<pid>" beside the target, new (never through a name someone planted),
    // with the target's mode when it exists, else 0666 less the umask. fd() is -1 when it could not
    // be made; errno then says why.
    explicit TempFile(const ExportTarget& target);
    ~TempFile(); // removes the file unless it was renamed onto the target
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    int fd() const { return m_fd; }
    const std::filesystem::path& path() const { return m_path; }
    // Closes the file (when still open), gives it the target's mode and renames it onto the
    // target; false (errno set) when any step failed, the target then as before.
    bool commit();
    // Closes the descriptor, leaving the file for another writer to fill by name.
    void closeFd();

  private:
    ExportTarget m_target;
    std::filesystem::path m_path;
    int m_fd = -1;
    int m_slot = -1;
    bool m_committed = false;
};

// Handlers for SIGINT, SIGTERM and SIGHUP that remove the temporary files alive, then end the
// process by the same signal. For a process that takes those signals no other way.
void removeTempFilesOnSignals();

} // namespace zelkor
