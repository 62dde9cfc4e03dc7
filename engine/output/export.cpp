#include "engine/output/export.h"

#include "engine/core/control_names.h"
#include "engine/core/program_dir.h"
#include "engine/core/text_rules.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelkor {

namespace {

constexpr std::size_t kChunk = 1 << 16;

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

constexpr std::size_t kRecordsPerCopy = 4096;

// Writes the lines [from, to) in chunks; counts the bytes into *written.
bool writeLines(int fd, const ResultList& results, std::size_t from, std::size_t to, std::uint64_t* written) {
    std::string chunk;
    chunk.reserve(kChunk + 256);
    while (from < to) {
        const auto records = results.copy(from, std::min(to, from + kRecordsPerCopy));
        if (records.empty()) break;
        from += records.size();
        for (const auto& record : records) {
            chunk += record.keyword;
            chunk += "\r\n";
            if (chunk.size() >= kChunk) {
                if (!writeAll(fd, chunk)) return false;
                *written += chunk.size();
                chunk.clear();
            }
        }
    }
    if (!writeAll(fd, chunk)) return false;
    *written += chunk.size();
    return true;
}

// A vector seen as a result list, for save(vector).
class VectorResults final : public ResultList {
  public:
    explicit VectorResults(const std::vector<ResultRecord>& records) : m_records(records) {}
    void append(ResultRecord) override {}
    std::size_t size() const override { return m_records.size(); }
    std::vector<ResultRecord> copy(std::size_t from, std::size_t to) const override {
        to = std::min(to, m_records.size());
        if (from >= to) return {};
        return {m_records.begin() + static_cast<std::ptrdiff_t>(from),
                m_records.begin() + static_cast<std::ptrdiff_t>(to)};
    }

  private:
    const std::vector<ResultRecord>& m_records;
};

std::int64_t mtimeNs(const struct stat& info) {
    return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

} // namespace

Text resultPathText(const Controls& controls) {
    static const Text name = gbk("Zelkor长尾词_");
    Text directory = controls.text(ctl::kSaveDir);
    if (directory.empty() || directory.back() != '/') directory += '/';
    // The seeds name the file, never a directory: "/" (never a GBK trail byte) cannot lead out.
    Text seeds = gbkPrefix(controls.text(ctl::kSeeds), 100);
    std::replace(seeds.begin(), seeds.end(), '/', '_');
    std::replace(seeds.begin(), seeds.end(), '\0', '_');
    Text path = directory + name + seeds + ".txt";
    // One pass, left to right: "\r\r\n\n" leaves "\r\n". CR LF never occurs inside a GBK character
    // (trail bytes are 0x40 and above).
    Text out;
    out.reserve(path.size());
    for (std::size_t from = 0, at;; from = at + 2) {
        at = path.find("\r\n", from);
        out.append(path, from, at == Text::npos ? Text::npos : at - from);
        if (at == Text::npos) break;
    }
    return out;
}

Text numberedPathText(const Text& pathText, int n) {
    if (n <= 1) return pathText;
    const bool txt = pathText.ends_with(".txt");
    return pathText.substr(0, pathText.size() - (txt ? 4 : 0)) + " (" + std::to_string(n) + ")" + (txt ? ".txt" : "");
}

Text ResultWriter::pathText(const Controls& controls) {
    const Text base = resultPathText(controls);
    std::lock_guard lock(m_mutex);
    return claim(base);
}

Text ResultWriter::claim(const Text& pathText) {
    if (m_claim && pathText == m_claimedFor) return m_claimedPath;
    m_claim.reset();
    m_claimedFor.clear();
    m_claimedPath.clear();
    for (int n = 1; n <= 100; ++n) {
        const Text candidate = numberedPathText(pathText, n);
        const std::filesystem::path file = gbkToPath(candidate);
        int error = 0;
        auto held = FileLock::tryAcquire(file.parent_path() / ("." + file.filename().string() + ".lock"), &error);
        if (held) {
            m_claim = std::move(held);
            m_claimedFor = pathText;
            m_claimedPath = candidate;
            return candidate;
        }
        // A directory that takes no lock takes no results either: the save says so.
        if (error != EWOULDBLOCK) break;
    }
    return pathText;
}

bool ResultWriter::save(Controls& controls, const std::vector<ResultRecord>& results, bool forced) {
    return save(controls, VectorResults(results), forced);
}

bool ResultWriter::save(Controls& controls, const ResultList& results, bool forced) {
    const Saved saved = write(controls, results, forced);
    if (const Text text = notice(saved); !text.empty()) controls.showNotice(text);
    return saved.outcome == Outcome::Written;
}

ResultWriter::Saved ResultWriter::write(const Controls& controls, const ResultList& results, bool forced,
                                        std::stop_token cancel) {
    Saved saved;
    if (!forced && !controls.checked(ctl::kAutoSave)) return saved;
    const Text base = resultPathText(controls);
    const std::size_t count = results.size();
    std::lock_guard lock(m_mutex);
    saved.pathText = claim(base);
    if (cancel.stop_requested()) {
        saved.outcome = Outcome::Cancelled;
        return saved;
    }
    saved.outcome = write(gbkToPath(saved.pathText), results, count) ? Outcome::Written : Outcome::Failed;
    return saved;
}

Text ResultWriter::notice(const Saved& saved) {
    static const Text written = gbk("已帮您自动保存数据，保存路径为：");
    static const Text failed = gbk("数据保存失败，保存路径为：");
    switch (saved.outcome) {
    case Outcome::Written:
        return written + saved.pathText;
    case Outcome::Failed:
        return failed + saved.pathText;
    default:
        return {};
    }
}

std::uint64_t ResultWriter::bytesWritten() const {
    std::lock_guard lock(m_mutex);
    return m_bytesWritten;
}

bool ResultWriter::write(const std::filesystem::path& file, const ResultList& results, std::size_t count) {
    struct stat info;
    const bool ours = !m_lastFile.empty() && file == m_lastFile && ::stat(file.c_str(), &info) == 0 &&
                      static_cast<std::uint64_t>(info.st_size) == m_size && info.st_ino == m_inode &&
                      info.st_dev == m_device && mtimeNs(info) == m_mtimeNs;
    // An export's copy can be older than the worker's last auto-save; the file already holds those
    // lines and the newer ones, and rewriting it from the copy would drop the newer ones.
    if (ours && count <= m_linesWritten) return true;
    if (ours && append(file, results, count)) return true;
    m_lastFile.clear();
    return rewrite(file, results, count);
}

bool ResultWriter::append(const std::filesystem::path& file, const ResultList& results, std::size_t count) {
    if (count == m_linesWritten) return true;
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return false;
    if (!writeLines(fd, results, m_linesWritten, count, &m_bytesWritten)) {
        // Back to what it was, so the file never holds a partial line.
        if (::ftruncate(fd, static_cast<off_t>(m_size)) != 0) {
            ::close(fd);
            return false;
        }
        ::close(fd);
        return false;
    }
    remember(file, fd, count);
    ::close(fd);
    return true;
}

bool ResultWriter::rewrite(const std::filesystem::path& file, const ResultList& results, std::size_t count) {
    static std::atomic<unsigned> counter{0};
    const auto temp = file.parent_path() / ("." + file.filename().string() + ".tmp-" +
                                            std::to_string(::getpid()) + "-" + std::to_string(counter++));
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    if (!writeLines(fd, results, 0, count, &m_bytesWritten) || ::fsync(fd) != 0 ||
        ::rename(temp.c_str(), file.c_str()) != 0) {
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    }
    remember(file, fd, count);
    ::close(fd);
    return true;
}

void ResultWriter::remember(const std::filesystem::path& file, int fd, std::size_t lines) {
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        m_lastFile.clear();
        return;
    }
    m_lastFile = file;
    m_linesWritten = lines;
    m_size = static_cast<std::uint64_t>(info.st_size);
    m_inode = info.st_ino;
    m_device = info.st_dev;
    m_mtimeNs = mtimeNs(info);
}

} // namespace zelkor
