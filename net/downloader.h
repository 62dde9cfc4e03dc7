#pragma once
// Fetches one file over HTTP in 1 MiB byte ranges on parallel connections. Each range is written
// straight to its place in a file created at full length; the caller follows the transfer through
// a callback.

#include "text/text.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <mutex>
#include <vector>

namespace zelkor {

// What a download callback reports; the values are the ones the callback has always carried.
enum class DownloadState {
    Progress = 1,  // after every chunk written, with the running count of received bytes
    Finished = 0,  // once, after every piece arrived whole; total == received
    Failed = -1,   // once, after every worker has ended; total and received are 0
};

// True when a download of `url` arrives only over https with the server's certificate checked:
// such a URL is followed only to other https addresses.
bool comes_verified(const Text& url);

class FileDownloader {
  public:
    // Progress calls come from worker threads with the task's lock held, so calls for one task
    // never overlap; the final call comes last, from the task's manager thread. A callback must
    // not throw, call wait() for its own task, or destroy the downloader.
    using Callback =
        std::function<void(int task, DownloadState state, std::int64_t total, std::int64_t received)>;

    // Every request checks the server's certificate against the system's CA store, or against
    // `caFile` (PEM) when one is named.
    explicit FileDownloader(std::string caFile = {});
    // Cancels the downloads still running and waits for them: each gets its final Failed call
    // before the destructor returns, and no thread of this downloader outlives it.
    ~FileDownloader();
    FileDownloader(const FileDownloader&) = delete;
    FileDownloader& operator=(const FileDownloader&) = delete;

    // Asks the server for the length (blocking), then starts the transfer and returns its task
    // number (1, 2, ... in start order for the whole process). Returns -1, with no callback and the
    // target left untouched, when the server announces no length, the URL cannot be reached, or
    // the file cannot be created.
    //
    // A target without an extension names a directory; the file name is then taken from the
    // server's Content-Location, else from the URL's last segment.
    // The data goes to "<target>.part" (or "<target>.<n>.part" while another download holds that)
    // and is renamed to the target only when every piece has arrived whole, so a failed download
    // removes its partial file and leaves an existing target as it was.
    // At most `connections` (at least 1) ranges are fetched at once.
    int start(const Text& url, const std::filesystem::path& target, int connections, Callback callback);

    // Blocks until the task's final callback has returned; its state (Finished or Failed), or
    // Failed for a task this downloader did not start.
    DownloadState wait(int task);

    // Where a started task writes its file once finished (the target with a derived file name).
    std::filesystem::path target_of(int task) const;

    struct Task;

  private:
    std::shared_ptr<Task> find(int task) const;

    std::string m_caFile;
    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<Task>> m_tasks;
};

} // namespace zelkor
