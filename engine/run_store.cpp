#include "engine/run_store.h"

#include "engine/seen_store.h"

#include <algorithm>

namespace zelkor {

void MemoryKeywordQueue::push(KeywordTask task) {
    std::lock_guard lock(m_mutex);
    m_tasks.push_back(std::move(task));
}

std::optional<KeywordTask> MemoryKeywordQueue::front() const {
    std::lock_guard lock(m_mutex);
    if (m_tasks.empty()) return std::nullopt;
    return m_tasks.front();
}

std::optional<KeywordTask> MemoryKeywordQueue::at(std::size_t position) const {
    std::lock_guard lock(m_mutex);
    if (position >= m_tasks.size()) return std::nullopt;
    return m_tasks[position];
}

void MemoryKeywordQueue::pop() {
    std::lock_guard lock(m_mutex);
    if (!m_tasks.empty()) m_tasks.pop_front();
}

std::size_t MemoryKeywordQueue::size() const {
    std::lock_guard lock(m_mutex);
    return m_tasks.size();
}

void MemoryResultList::append(ResultRecord record) {
    std::lock_guard lock(m_mutex);
    m_records.push_back(std::move(record));
}

std::size_t MemoryResultList::size() const {
    std::lock_guard lock(m_mutex);
    return m_records.size();
}

std::vector<ResultRecord> MemoryResultList::copy(std::size_t from, std::size_t to) const {
    std::lock_guard lock(m_mutex);
    to = std::min(to, m_records.size());
    if (from >= to) return {};
    return {m_records.begin() + static_cast<std::ptrdiff_t>(from), m_records.begin() + static_cast<std::ptrdiff_t>(to)};
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

DefaultRunStore::DefaultRunStore(const std::filesystem::path& home)
    : m_seen(SeenStore::defaultDirectory(home)) {}

} // namespace zelkor
