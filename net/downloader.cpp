#include "net/downloader.h"

#include "net/curl_handle.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <ctime>
#include <string_view>
#include <system_error>
#include <stop_token>
#include <thread>
#include <utility>

namespace zelkor {

namespace {

constexpr std::int64_t kPieceSize = 1048576;
constexpr long kReadSize = 20480;
constexpr long kConnectTimeoutSeconds = 30;
// A connection that moves no byte for this long counts as broken; without it a silent server
// would hold a download (and the destructor) forever.
constexpr long kStallSeconds = 30;

const char* const kHeaderBlock[] = {
    "Accept: */*",
    "Accept-Language: zh-cn",
    "Accept-Encoding: gzip, deflate",
    "User-Agent: Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)",
};
constexpr const char* kNoCache = "Pragma: no-cache";

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;

struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

class HeaderList {
  public:
    bool add(const std::string& line) {
        curl_slist* grown = curl_slist_append(m_list.get(), line.c_str());
        if (!grown) return false;
        m_list.release();
        m_list.reset(grown);
        return true;
    }
    curl_slist* get() const { return m_list.get(); }

  private:
    std::unique_ptr<curl_slist, SlistDeleter> m_list;
};

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    void reset() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

  private:
    int m_fd = -1;
};

void ensure_curl_initialised() {
    static const CURLcode init = curl_global_init(CURL_GLOBAL_DEFAULT);
    (void)init;
}

bool iequals(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

// A non-negative decimal number and nothing else.
std::optional<std::int64_t> parse_count(std::string_view s) {
    s = trim(s);
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || error != std::errc() || end != s.data() + s.size() || value < 0) return std::nullopt;
    return value;
}

// Status and header lines of the last response received; a redirect or an interim response
// starts a new one.
struct ResponseHead {
    long status = 0;
    std::vector<std::pair<std::string, std::string>> fields;

    const std::string* find(std::string_view name) const {
        for (const auto& [field, value] : fields)
            if (iequals(field, name)) return &value;
        return nullptr;
    }

    static size_t collect(char* data, size_t size, size_t count, void* user) {
        auto* head = static_cast<ResponseHead*>(user);
        std::string_view line(data, size * count);
        if (line.starts_with("HTTP/")) {
            head->fields.clear();
            head->status = 0;
            auto space = line.find(' ');
            if (space != std::string_view::npos) {
                auto code = trim(line.substr(space + 1, 3));
                std::from_chars(code.data(), code.data() + code.size(), head->status);
            }
        } else if (auto colon = line.find(':'); colon != std::string_view::npos) {
            head->fields.emplace_back(std::string(trim(line.substr(0, colon))),
                                      std::string(trim(line.substr(colon + 1))));
        }
        return size * count;
    }
};

size_t stop_at_body(char*, size_t, size_t, void*) {
    return 0;
}

} // namespace

bool comes_verified(const Text& url) {
    return url.size() > 8 && iequals(std::string_view(url).substr(0, 8), "https://");
}

namespace {

// Options every request of a download shares.
CurlHandle open_request(const Text& url, const std::string& caFile, const HeaderList& headers,
                        ResponseHead& head) {
    ensure_curl_initialised();
    CurlHandle curl(curl_easy_init());
    if (!curl) return curl;
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    // What came over https stays on https: a redirect to http would lose what was checked.
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, comes_verified(url) ? "https" : "http,https");
    if (!detail::applyTlsCheck(c, verifiedTls(caFile))) return {};
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &ResponseHead::collect);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &head);
    curl_easy_setopt(c, CURLOPT_FORBID_REUSE, 1L);
    return curl;
}

HeaderList download_headers(const std::string& range = {}) {
    HeaderList headers;
    for (const char* line : kHeaderBlock)
        headers.add(line);
    if (!range.empty()) headers.add(range);
    headers.add(kNoCache);
    return headers;
}

std::string tick_count() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    auto ms = std::uint64_t(now.tv_sec) * 1000 + std::uint64_t(now.tv_nsec) / 1000000;
    return std::to_string(std::uint32_t(ms));
}

// The last path segment of a URL or a Content-Location value, without query or fragment.
std::string file_name_from(std::string_view location) {
    std::string s(location);
    std::replace(s.begin(), s.end(), '\\', '/');
    s = s.substr(0, s.find_first_of("?#"));
    s = s.substr(s.find_last_of('/') + 1);
    if (s.empty() || s == "." || s == "..") return "download";
    return s;
}

// The name the server gives the file: a request with the downloader's own agent name, no
// redirects, read up to the end of the response head.
std::string server_file_name(const Text& url, const std::string& caFile) {
    static const std::string agent = "User-Agent: " + utf8_to_gbk("我的下载");
    HeaderList headers;
    headers.add(agent + tick_count());
    headers.add("Accept:"); // none of libcurl's own
    headers.add(kNoCache);
    ResponseHead head;
    CurlHandle curl = open_request(url, caFile, headers, head);
    if (curl) {
        curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &stop_at_body);
        curl_easy_perform(curl.get());
        if (head.status != 0)
            if (const std::string* location = head.find("Content-Location"); location && !location->empty())
                return file_name_from(*location);
    }
    return file_name_from(url);
}

// The announced length of the file, 0 when there is none (or the URL does not answer 200: an
// error page is not the file).
std::int64_t announced_length(const Text& url, const std::string& caFile) {
    HeaderList headers = download_headers();
    ResponseHead head;
    CurlHandle curl = open_request(url, caFile, headers, head);
    if (!curl) return 0;
    curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &stop_at_body);
    CURLcode result = curl_easy_perform(curl.get());
    if ((result != CURLE_OK && result != CURLE_WRITE_ERROR) || head.status != 200) return 0;
    const std::string* length = head.find("Content-Length");
    return length ? parse_count(*length).value_or(0) : 0;
}

// Creates the partial file at full length. Its lock keeps two downloads to one target apart;
// a stale partial file left by a crash is reused.
std::pair<UniqueFd, std::filesystem::path> create_part_file(const std::filesystem::path& target,
                                                            std::int64_t length) {
    for (int n = 0, retries = 0; n < 100; ++n) {
        std::filesystem::path part = target;
        part += n == 0 ? std::string(".part") : "." + std::to_string(n) + ".part";
        UniqueFd fd(::open(part.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
        if (!fd) return {};
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK) return {};
            continue;
        }
        // The holder may have renamed or removed the file between our open and our lock.
        struct stat opened = {};
        struct stat named = {};
        if (::fstat(fd.get(), &opened) != 0 || ::stat(part.c_str(), &named) != 0 ||
            opened.st_ino != named.st_ino || opened.st_dev != named.st_dev) {
            if (++retries < 10) --n;
            continue;
        }
        if (::ftruncate(fd.get(), 0) != 0) return {};
        int reserved = ::posix_fallocate(fd.get(), 0, length);
        if (reserved == ENOSPC || reserved == EFBIG ||
            (reserved != 0 && ::ftruncate(fd.get(), length) != 0)) {
            ::unlink(part.c_str());
            return {};
        }
        return {std::move(fd), part};
    }
    return {};
}

std::atomic<int> g_next_task{1};
std::mutex g_numbering;

} // namespace

struct FileDownloader::Task {
    int number = 0;
    Text url;
    std::string ca_file;
    Callback callback;
    std::filesystem::path target;
    std::filesystem::path part;
    UniqueFd file;
    std::int64_t total = 0;
    std::int64_t piece_count = 0;
    int max_connections = 1;

    // Read without the lock by transfers deciding whether to go on; written under it.
    std::atomic<bool> failed{false};
    std::stop_source cancel; // the downloader is going away

    std::mutex lock;
    std::int64_t next_piece = 0; // 0-based
    std::int64_t received = 0;
    bool ended = false;
    DownloadState final_state = DownloadState::Failed;
    std::condition_variable ended_changed;

    // The manager starts the workers and joins them; the downloader joins the manager.
    std::vector<std::jthread> workers;
    std::jthread manager;

    void fail() {
        std::lock_guard guard(lock);
        failed = true;
    }
    bool going_on() const { return !failed && !cancel.stop_requested(); }

    void run_manager();
    void run_worker();
    bool fetch_piece(std::int64_t index);
};

namespace {

// One piece on its own connection. Nothing is written before the response has shown it is the
// piece asked for, and nothing beyond the piece's end is ever written.
struct PieceTransfer {
    FileDownloader::Task& task;
    std::int64_t first = 0;
    std::int64_t length = 0;
    std::int64_t done = 0;
    bool accepted = false;
    ResponseHead head;

    bool answers_range() const {
        if (head.status != 206) return false;
        if (const std::string* encoding = head.find("Content-Encoding");
            encoding && !encoding->empty() && !iequals(*encoding, "identity"))
            return false;
        const std::string* range = head.find("Content-Range");
        if (!range) return false;
        std::string_view value = trim(*range);
        if (value.size() < 6 || !iequals(value.substr(0, 5), "bytes")) return false;
        value = trim(value.substr(5));
        auto dash = value.find('-');
        auto slash = value.find('/');
        if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) return false;
        auto from = parse_count(value.substr(0, dash));
        auto to = parse_count(value.substr(dash + 1, slash - dash - 1));
        auto complete = trim(value.substr(slash + 1));
        return from == first && to == first + length - 1 &&
               (complete == "*" || parse_count(complete) == task.total);
    }

    static size_t write(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<PieceTransfer*>(user);
        FileDownloader::Task& task = self->task;
        std::int64_t bytes = std::int64_t(size * count);
        if (!self->accepted) {
            if (!self->answers_range()) return 0;
            self->accepted = true;
        }
        if (!task.going_on() || bytes > self->length - self->done) return 0;
        for (std::int64_t written = 0; written < bytes;) {
            ssize_t n = ::pwrite(task.file.get(), data + written, size_t(bytes - written),
                                 off_t(self->first + self->done + written));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return 0;
            written += n;
        }
        self->done += bytes;
        std::lock_guard guard(task.lock);
        task.received += bytes;
        task.callback(task.number, DownloadState::Progress, task.total, task.received);
        return size * count;
    }

    static int progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        return static_cast<PieceTransfer*>(user)->task.going_on() ? 0 : 1;
    }
};

} // namespace

bool FileDownloader::Task::fetch_piece(std::int64_t index) {
    PieceTransfer transfer{*this, 0, 0, 0, false, {}};
    transfer.first = index * kPieceSize;
    transfer.length = std::min(kPieceSize, total - transfer.first);
    // The last range asks one byte past the end; servers answer up to the end of the file.
    std::int64_t last = index + 1 == piece_count ? total : transfer.first + kPieceSize - 1;
    HeaderList headers =
        download_headers("Range:bytes=" + std::to_string(transfer.first) + "-" + std::to_string(last));
    CurlHandle curl = open_request(url, ca_file, headers, transfer.head);
    if (!curl) return false;
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(c, CURLOPT_BUFFERSIZE, kReadSize);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &PieceTransfer::write);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &PieceTransfer::progress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &transfer);
    CURLcode result = curl_easy_perform(c);
    return result == CURLE_OK && transfer.accepted && transfer.done == transfer.length;
}

void FileDownloader::Task::run_worker() {
    while (going_on()) {
        std::int64_t index;
        {
            std::lock_guard guard(lock);
            if (next_piece >= piece_count) return;
            index = next_piece++;
        }
        if (!fetch_piece(index)) {
            fail();
            return;
        }
    }
}

void FileDownloader::Task::run_manager() {
    for (int i = 0; i < max_connections; ++i) {
        try {
            workers.emplace_back([this] { run_worker(); });
        } catch (const std::system_error&) {
            fail();
            break;
        }
    }
    workers.clear(); // joins them

    bool finished = going_on() && received == total;
    if (finished) {
        // On disk before it takes the target's name, so a crash leaves the old file or the new
        // one, never a hole-filled one; closed first, so the caller may run it at once.
        finished = ::fdatasync(file.get()) == 0;
        file.reset();
        std::error_code error;
        if (finished) std::filesystem::rename(part, target, error);
        finished = finished && !error;
    }
    file.reset();
    if (!finished) {
        std::error_code ignored;
        std::filesystem::remove(part, ignored);
    }
    const DownloadState state_now = finished ? DownloadState::Finished : DownloadState::Failed;
    if (finished)
        callback(number, DownloadState::Finished, total, received);
    else
        callback(number, DownloadState::Failed, 0, 0);

    std::lock_guard guard(lock);
    final_state = state_now;
    ended = true;
    ended_changed.notify_all();
}

FileDownloader::FileDownloader(std::string caFile) : m_caFile(std::move(caFile)) {
    ensure_curl_initialised();
}

FileDownloader::~FileDownloader() {
    std::vector<std::shared_ptr<Task>> tasks;
    {
        std::lock_guard guard(m_mutex);
        tasks.swap(m_tasks);
    }
    for (auto& task : tasks)
        task->cancel.request_stop();
    for (auto& task : tasks)
        if (task->manager.joinable()) task->manager.join();
}

int FileDownloader::start(const Text& url, const std::filesystem::path& target, int connections,
                          Callback callback) {
    if (url.empty() || target.empty() || !callback) return -1;
    std::filesystem::path file = target;
    if (!file.has_extension()) file /= server_file_name(url, m_caFile);
    std::error_code error;
    if (std::filesystem::is_directory(file, error)) return -1;

    std::int64_t total = announced_length(url, m_caFile);
    if (total <= 0) return -1;

    auto task = std::make_shared<Task>();
    task->url = url;
    task->ca_file = m_caFile;
    task->callback = std::move(callback);
    task->target = file;
    task->total = total;
    task->piece_count = (total + kPieceSize - 1) / kPieceSize;
    task->max_connections = int(std::clamp<std::int64_t>(connections, 1, task->piece_count));
    std::tie(task->file, task->part) = create_part_file(file, total);
    if (!task->file) return -1;

    {
        std::lock_guard numbering(g_numbering);
        task->number = g_next_task;
        try {
            task->manager = std::jthread([task] { task->run_manager(); });
        } catch (const std::system_error&) {
            task->file.reset();
            std::filesystem::remove(task->part, error);
            return -1;
        }
        ++g_next_task;
    }

    std::lock_guard guard(m_mutex);
    // Managers that have ended are joined here, so a long-lived downloader holds no dead threads.
    for (auto& earlier : m_tasks) {
        bool ended;
        {
            std::lock_guard task_guard(earlier->lock);
            ended = earlier->ended;
        }
        if (ended && earlier->manager.joinable() && earlier->manager.get_id() != std::this_thread::get_id())
            earlier->manager.join();
    }
    m_tasks.push_back(task);
    return task->number;
}

std::shared_ptr<FileDownloader::Task> FileDownloader::find(int task) const {
    std::lock_guard guard(m_mutex);
    for (const auto& candidate : m_tasks)
        if (candidate->number == task) return candidate;
    return nullptr;
}

DownloadState FileDownloader::wait(int task) {
    std::shared_ptr<Task> found = find(task);
    if (!found) return DownloadState::Failed;
    std::unique_lock guard(found->lock);
    found->ended_changed.wait(guard, [&] { return found->ended; });
    return found->final_state;
}

std::filesystem::path FileDownloader::target_of(int task) const {
    std::shared_ptr<Task> found = find(task);
    return found ? found->target : std::filesystem::path();
}

} // namespace zelkor
