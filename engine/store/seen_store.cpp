#include "engine/store/seen_store.h"

#include "engine/core/text_rules.h"

#include <atomic>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace zelkor {

namespace {

constexpr std::size_t kNameMax = 255; // bytes, ext4 and most others
constexpr std::size_t kHashedPrefix = 200;
const std::string kSuffix = ".zr";
const std::string kTrashPrefix = "cwls.old-";

std::uint64_t fnv1a(std::string_view bytes, std::uint64_t basis) {
    std::uint64_t hash = basis;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

std::string hex(std::uint64_t value) {
    static const char digits[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 15; i >= 0; --i, value >>= 4)
        out[i] = digits[value & 0xF];
    return out;
}

// Moves the store out of the way; markers written from now on go to a fresh directory.
std::filesystem::path detachStore(const std::filesystem::path& home) {
    static std::atomic<std::uint64_t> counter{0};
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    const auto trash = home / (kTrashPrefix + std::to_string(::getpid()) + "-" + std::to_string(counter++) +
                               "-" + std::to_string(ticks));
    std::error_code error;
    std::filesystem::rename(SeenStore::defaultDirectory(home), trash, error);
    return error ? std::filesystem::path() : trash;
}

void deleteDetached(const std::filesystem::path& home, const std::filesystem::path& trash) {
    std::error_code error;
    if (!trash.empty()) std::filesystem::remove_all(trash, error);
    // Trees an earlier emptying could not finish (the program ended meanwhile).
    for (std::filesystem::directory_iterator it(home, error), end; !error && it != end; it.increment(error)) {
        const auto name = it->path().filename().string();
        if (name.rfind(kTrashPrefix, 0) == 0) {
            std::error_code ignored;
            std::filesystem::remove_all(it->path(), ignored);
        }
    }
}

const Text& noticeBegin() {
    static const Text text = gbk("开始清理临时数据，建议清理完后再使用本软件");
    return text;
}

const Text& noticeEnd() {
    static const Text text = gbk("临时数据清理完毕");
    return text;
}

} // namespace

std::string markerFileName(const Text& keyword, bool fold_case) {
    const std::string utf8 = gbk_to_utf8(keyword);
    std::string name;
    name.reserve(utf8.size() + 8);
    for (const char c : utf8) {
        if (c == '%')
            name += "%25";
        else if (c == '\0') // would end the name at the system call
            name += "%00";
        else if (c == '/')
            name += "%2F";
        else if (fold_case && c >= 'A' && c <= 'Z')
            name += static_cast<char>(c - 'A' + 'a');
        else
            name += c;
    }
    if (name == ".")
        name = "%2E";
    else if (name == "..")
        name = "%2E%2E";
    if (name.size() + kSuffix.size() > kNameMax) {
        // Cut at a character boundary and outside an escape; "%H" never comes out of the escaping
        // above, so a shortened name cannot equal a plain one.
        std::size_t cut = kHashedPrefix;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
        for (std::size_t back = 1; back <= 2 && cut >= back; ++back) {
            if (name[cut - back] == '%') {
                cut -= back;
                break;
            }
        }
        name = name.substr(0, cut) + "%H" + hex(fnv1a(name, 0xcbf29ce484222325ULL)) +
               hex(fnv1a(name, 0x84222325cbf29ce4ULL));
    }
    return name + kSuffix;
}

std::optional<std::string> hangupFileName(const Text& keyword) {
    std::string name = gbk_to_utf8(keyword);
    if (name == "." || name == ".." || name.find_first_of(std::string_view("/\0", 2)) != std::string::npos)
        return std::nullopt;
    return name + kSuffix;
}

std::error_code writeEmptyFile(const std::filesystem::path& file) {
    std::error_code error;
    if (!std::filesystem::is_directory(file, error) && file.has_parent_path())
        std::filesystem::create_directories(file.parent_path(), error);
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return {errno, std::generic_category()};
    std::error_code result;
    if (::ftruncate(fd, 0) != 0) result.assign(errno, std::generic_category());
    ::close(fd);
    if (result) ::unlink(file.c_str());
    return result;
}

bool SeenStore::containsName(const std::string& name) const {
    struct stat info;
    return ::lstat((m_dir / name).c_str(), &info) == 0;
}

std::error_code SeenStore::markName(const std::string& name) const {
    const auto file = m_dir / name;
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd >= 0) { // the usual case: the store exists; markers are created empty
        ::close(fd);
        return {};
    }
    return writeEmptyFile(file);
}

void emptySeenStore(const std::filesystem::path& home, Controls& controls) {
    const auto trash = detachStore(home);
    controls.showNotice(noticeBegin());
    deleteDetached(home, trash);
    controls.showNotice(noticeEnd());
}

SeenStoreEmptier::~SeenStoreEmptier() {
    std::vector<std::jthread> threads;
    {
        std::lock_guard lock(m_mutex);
        threads.swap(m_threads);
    }
    // joined here, outside the lock their last step takes
}

void SeenStoreEmptier::start(const std::filesystem::path& home, std::shared_ptr<Controls> controls,
                             Settle settle) {
    // Markers still being written would land in the fresh store: then the store moves once they are.
    const bool settled = !settle || settle(std::chrono::milliseconds(0));
    std::filesystem::path trash = settled ? detachStore(home) : std::filesystem::path();
    std::lock_guard lock(m_mutex);
    if (m_running == 0) m_threads.clear(); // all finished: joined at once
    ++m_running;
    m_threads.emplace_back([this, home, trash, settled, settle = std::move(settle), controls = std::move(controls)] {
        std::filesystem::path detached = trash;
        if (!settled) {
            settle(std::chrono::seconds(5));
            detached = detachStore(home);
        }
        controls->showNotice(noticeBegin());
        deleteDetached(home, detached);
        controls->showNotice(noticeEnd());
        std::lock_guard lock(m_mutex);
        if (--m_running == 0) m_idle.notify_all();
    });
}

bool SeenStoreEmptier::waitIdle(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_idle.wait_for(lock, timeout, [&] { return m_running == 0; });
}

bool MarkerSeenSet::contains(const Text& keyword) const {
    return SeenStore(m_dir).contains(keyword);
}

bool MarkerSeenSet::insert(const Text& keyword) {
    m_failure = SeenStore(m_dir).mark(keyword);
    return !m_failure;
}

std::string MarkerSeenSet::failure() const {
    return m_dir.string() + " (" + m_failure.message() + ")";
}

} // namespace zelkor
