// Ranged download of a 64 MB file over two loopback connections against one plain libcurl
// transfer of the same file from the same server, and the peak memory of each, measured in a
// child process so the served file and the benchmark itself do not count.

#include "net/downloader.h"

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

constexpr std::int64_t kFileSize = 64 * 1024 * 1024;

// Serves one in-memory file, honouring "Range: bytes=a-b" with the end clamped to the file.
// Not cpp-httplib: its 0.11 range support answers a range reaching past the end with a
// Content-Range that also does.
class FileServer {
  public:
    explicit FileServer(std::int64_t size) : m_content(size_t(size), '\0') {
        for (size_t i = 0; i < m_content.size(); ++i)
            m_content[i] = char((i * 2654435761u) >> 24);
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(m_listen, 16) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            std::perror("listen");
            std::exit(1);
        }
        m_port = ntohs(address.sin_port);
        m_acceptor = std::thread([this] { acceptLoop(); });
    }
    ~FileServer() {
        m_stopping = true;
        m_acceptor.join();
        std::lock_guard lock(m_mutex);
        for (auto& worker : m_workers)
            worker.join();
        ::close(m_listen);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/big.bin"; }

  private:
    void acceptLoop() {
        while (!m_stopping) {
            pollfd p{m_listen, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            std::lock_guard lock(m_mutex);
            m_workers.emplace_back([this, fd] {
                serve(fd);
                ::close(fd);
            });
        }
    }

    static bool sendAll(int fd, const char* data, size_t size) {
        while (size > 0) {
            ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
            if (n <= 0) return false;
            data += n;
            size -= size_t(n);
        }
        return true;
    }

    void serve(int fd) {
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos) {
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) return;
            head.append(buffer, size_t(n));
        }
        std::int64_t size = std::int64_t(m_content.size());
        std::int64_t first = 0, last = size - 1;
        std::string response;
        if (auto at = head.find("\r\nRange:"); at != std::string::npos) {
            at = head.find("bytes=", at) + 6;
            first = std::strtoll(head.c_str() + at, nullptr, 10);
            last = std::min<std::int64_t>(std::strtoll(head.c_str() + head.find('-', at) + 1, nullptr, 10),
                                          size - 1);
            response = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(first) + "-" +
                       std::to_string(last) + "/" + std::to_string(size) + "\r\n";
        } else {
            response = "HTTP/1.1 200 OK\r\n";
        }
        response += "Content-Length: " + std::to_string(last - first + 1) + "\r\nConnection: close\r\n\r\n";
        if (sendAll(fd, response.data(), response.size()))
            sendAll(fd, m_content.data() + first, size_t(last - first + 1));
    }

    std::string m_content;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::thread m_acceptor;
    std::mutex m_mutex;
    std::vector<std::thread> m_workers;
};

FileServer& server() {
    static FileServer instance(kFileSize);
    return instance;
}

std::string scratchDirectory() {
    static const std::string directory = [] {
        std::string pattern = "/tmp/zelkor-bench-XXXXXX";
        if (!::mkdtemp(pattern.data())) std::exit(1);
        return pattern;
    }();
    return directory;
}

// The two transfers measured; each leaves a complete file at `path` or returns false.
bool rangedDownload(const std::string& url, const std::string& path) {
    zelkor::FileDownloader downloader;
    int task = downloader.start(url, path, 2, [](int, zelkor::DownloadState, std::int64_t, std::int64_t) {});
    return task > 0 && downloader.wait(task) == zelkor::DownloadState::Finished;
}

size_t writeToFile(char* data, size_t size, size_t count, void* user) {
    return size_t(::write(*static_cast<int*>(user), data, size * count));
}

bool plainTransfer(const std::string& url, const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &writeToFile);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &fd);
    // Synced like the downloader's file, which is flushed before it takes its name.
    bool ok = curl_easy_perform(curl) == CURLE_OK && ::fdatasync(fd) == 0;
    curl_easy_cleanup(curl);
    ::close(fd);
    return ok;
}

void BM_RangedDownloadTwoConnections(benchmark::State& state) {
    const std::string path = scratchDirectory() + "/ranged.bin";
    for (auto _ : state) {
        if (!rangedDownload(server().url(), path)) state.SkipWithError("download failed");
        ::unlink(path.c_str());
    }
    state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_RangedDownloadTwoConnections)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

void BM_PlainLibcurlTransfer(benchmark::State& state) {
    const std::string path = scratchDirectory() + "/plain.bin";
    for (auto _ : state) {
        if (!plainTransfer(server().url(), path)) state.SkipWithError("transfer failed");
        ::unlink(path.c_str());
    }
    state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_PlainLibcurlTransfer)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

std::string g_self;

// Peak resident set (VmHWM) of a child that runs one transfer, or none, in KiB. The child
// reports it itself: ru_maxrss of a spawned child would carry the parent's size from before exec.
long childPeakKiB(const std::string& what) {
    const std::string path = scratchDirectory() + "/child.bin";
    std::vector<std::string> args = {g_self, "--child=" + what, server().url(), path};
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    pid_t pid;
    int spawned = ::posix_spawn(&pid, g_self.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string report;
    char buffer[256];
    for (ssize_t n; spawned == 0 && (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, size_t(n));
    ::close(out[0]);
    if (spawned != 0) return -1;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    ::unlink(path.c_str());
    return std::strtol(report.c_str(), nullptr, 10);
}

long ownPeakKiB() {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return -1;
    long peak = -1;
    char line[256];
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, "VmHWM:", 6) == 0) peak = std::strtol(line + 6, nullptr, 10);
    std::fclose(status);
    return peak;
}

void BM_PeakMemory(benchmark::State& state) {
    long idle = 0, ranged = 0, plain = 0;
    for (auto _ : state) {
        idle = childPeakKiB("idle");
        ranged = childPeakKiB("ranged");
        plain = childPeakKiB("plain");
        if (idle < 0 || ranged < 0 || plain < 0) state.SkipWithError("child failed");
    }
    state.counters["idle_KiB"] = double(idle);
    state.counters["ranged_KiB"] = double(ranged);
    state.counters["plain_KiB"] = double(plain);
    // What the transfer adds over a process that loaded everything and did nothing.
    state.counters["ranged_extra_KiB"] = double(ranged - idle);
    state.counters["plain_extra_KiB"] = double(plain - idle);
}
BENCHMARK(BM_PeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Prints the throughput ratio of the two transfers after the usual table.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            auto rate = run.counters.find("bytes_per_second");
            if (rate != run.counters.end() && run.run_type == Run::RT_Iteration)
                m_rates[run.benchmark_name()] = rate->second;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        double ranged = 0, plain = 0;
        for (const auto& [name, rate] : m_rates) {
            if (name.starts_with("BM_RangedDownloadTwoConnections")) ranged = rate;
            if (name.starts_with("BM_PlainLibcurlTransfer")) plain = rate;
        }
        if (ranged > 0 && plain > 0)
            std::printf("ranged/plain throughput ratio: %.2f (%.0f MB/s vs %.0f MB/s)\n", ranged / plain,
                        ranged / 1e6, plain / 1e6);
    }

  private:
    std::map<std::string, double> m_rates;
};

int runChild(const std::string& what, const std::string& url, const std::string& path) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    zelkor::FileDownloader loaded; // the idle child carries the same libraries and start-up
    (void)loaded;
    bool ok = what == "idle" || (what == "ranged" && rangedDownload(url, path)) ||
              (what == "plain" && plainTransfer(url, path));
    std::printf("%ld\n", ownPeakKiB());
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strncmp(argv[1], "--child=", 8) == 0)
        return runChild(argv[1] + 8, argv[2], argv[3]);
    g_self = "/proc/self/exe";
    char resolved[4096];
    if (ssize_t n = ::readlink("/proc/self/exe", resolved, sizeof resolved - 1); n > 0)
        g_self.assign(resolved, size_t(n));

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::string cleanup = scratchDirectory();
    ::rmdir(cleanup.c_str());
    return 0;
}
