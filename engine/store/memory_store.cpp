#include "engine/store/memory_store.h"

#include <algorithm>

namespace zelkor {

namespace {

std::uint64_t zigzag(std::int64_t value) {
    return (static_cast<std::uint64_t>(value) << 1) ^ static_cast<std::uint64_t>(value >> 63);
}

std::int64_t unzigzag(std::uint64_t value) {
    return static_cast<std::int64_t>(value >> 1) ^ -static_cast<std::int64_t>(value & 1);
}

std::size_t commonPrefix(std::string_view a, std::string_view b) {
    return static_cast<std::size_t>(std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin());
}

// A text as a change from the one before it: how many leading bytes it shares with `before`,
// plus one, then the rest; a lone 0 when it is the same text.
void putChange(std::string& out, std::string_view text, std::string_view before) {
    if (text == before) {
        PackedBytes::appendVarint(out, 0);
        return;
    }
    const std::size_t shared = commonPrefix(text, before);
    PackedBytes::appendVarint(out, shared + 1);
    PackedBytes::appendVarint(out, text.size() - shared);
    out.append(text.substr(shared));
}

void readChange(const PackedBytes& bytes, PackedBytes::Position* at, Text* text) {
    const std::uint64_t shared = bytes.varint(at);
    if (shared == 0) return;
    text->resize(shared - 1);
    text->append(bytes.text(at));
}

} // namespace

void MemoryKeywordQueue::push(KeywordTask task) {
    std::lock_guard lock(m_mutex);
    if (m_tail % kTasksPerMark == 0) m_last = KeywordTask{};
    m_scratch.clear();
    PackedBytes::appendVarint(m_scratch, zigzag(task.depth));
    putChange(m_scratch, task.mainWord, m_last.mainWord);
    putChange(m_scratch, task.keyword, m_last.keyword);
    const auto at = m_bytes.append(m_scratch);
    if (m_tail % kTasksPerMark == 0) m_marks.push_back(at);
    ++m_tail;
    m_last = std::move(task);
}

std::optional<KeywordTask> MemoryKeywordQueue::taskAt(std::size_t position) const {
    const std::uint64_t index = m_head + position;
    if (position >= m_tail - m_head) return std::nullopt;
    auto at = m_marks[index / kTasksPerMark - m_head / kTasksPerMark];
    KeywordTask task;
    for (std::uint64_t i = index - index % kTasksPerMark; i <= index; ++i) {
        m_bytes.settle(&at);
        task.depth = static_cast<int>(unzigzag(m_bytes.varint(&at)));
        readChange(m_bytes, &at, &task.mainWord);
        readChange(m_bytes, &at, &task.keyword);
    }
    return task;
}

std::optional<KeywordTask> MemoryKeywordQueue::front() const {
    std::lock_guard lock(m_mutex);
    return taskAt(0);
}

std::optional<KeywordTask> MemoryKeywordQueue::at(std::size_t position) const {
    std::lock_guard lock(m_mutex);
    return taskAt(position);
}

void MemoryKeywordQueue::pop() {
    std::lock_guard lock(m_mutex);
    if (m_head == m_tail) return;
    if (++m_head == m_tail) {
        m_bytes.clear();
        m_marks.clear();
        m_head = m_tail = 0;
        m_last = KeywordTask{};
    } else if (m_head % kTasksPerMark == 0) {
        m_marks.pop_front();
        m_bytes.dropBefore(PackedBytes::blockOf(m_marks.front()));
    }
}

std::size_t MemoryKeywordQueue::size() const {
    std::lock_guard lock(m_mutex);
    return static_cast<std::size_t>(m_tail - m_head);
}

std::uint32_t MemoryResultList::sourceIndex(const Text& name) {
    const auto [found, added] = m_sourceIndex.try_emplace(name, static_cast<std::uint32_t>(m_sources.size()));
    if (added) m_sources.push_back(name);
    return found->second;
}

void MemoryResultList::append(ResultRecord record) {
    std::lock_guard lock(m_mutex);
    // Each mark begins afresh, so a copy can start there.
    if (m_size % kRecordsPerMark == 0) m_last = ResultRecord{};
    m_scratch.clear();
    PackedBytes::appendVarint(m_scratch, zigzag(record.depth));
    PackedBytes::appendVarint(m_scratch, sourceIndex(record.sourceName));
    putChange(m_scratch, record.mainWord, m_last.mainWord);
    putChange(m_scratch, record.parent, m_last.parent);
    putChange(m_scratch, record.time, m_last.time);
    // A phrase most often grows its parent; otherwise it shares the start of the phrase before it.
    const bool fromParent = commonPrefix(record.keyword, record.parent) > commonPrefix(record.keyword, m_last.keyword);
    m_scratch.push_back(fromParent ? '\1' : '\0');
    putChange(m_scratch, record.keyword, fromParent ? record.parent : m_last.keyword);

    const auto at = m_records.append(m_scratch);
    if (m_size % kRecordsPerMark == 0) m_marks.push_back(at);
    if (m_countingHits) m_indexOf.try_emplace(record.keyword, static_cast<std::uint32_t>(m_size));
    ++m_size;
    m_last = std::move(record);
}

void MemoryResultList::countHits() {
    std::lock_guard lock(m_mutex);
    if (m_countingHits) return;
    m_countingHits = true;
    std::size_t index = 0;
    ResultRecord record;
    for (PackedBytes::Position at = m_marks.empty() ? 0 : m_marks.front(); index < m_size; ++index) {
        if (index % kRecordsPerMark == 0) {
            record = ResultRecord{};
            at = m_marks[index / kRecordsPerMark];
        }
        read(&at, &record);
        m_indexOf.try_emplace(record.keyword, static_cast<std::uint32_t>(index));
    }
}

void MemoryResultList::hit(const Text& keyword, const Text& sourceName) {
    std::lock_guard lock(m_mutex);
    if (!m_countingHits) return;
    const auto found = m_indexOf.find(keyword);
    if (found == m_indexOf.end()) return;
    const std::uint32_t index = found->second;
    auto [entry, first] = m_hits.try_emplace(index);
    Hits& hits = entry->second;
    if (first) { // the result's own source, read once
        std::size_t at = index - index % kRecordsPerMark;
        auto position = m_marks[at / kRecordsPerMark];
        ResultRecord record;
        for (; at <= index; ++at) read(&position, &record);
        hits.ownSource = sourceIndex(record.sourceName);
    }
    ++hits.again;
    const std::uint32_t source = sourceIndex(sourceName);
    if (source != hits.ownSource &&
        std::find(hits.otherSources.begin(), hits.otherSources.end(), source) == hits.otherSources.end())
        hits.otherSources.push_back(source);
}

void MemoryResultList::read(PackedBytes::Position* at, ResultRecord* record) const {
    m_records.settle(at);
    record->depth = static_cast<int>(unzigzag(m_records.varint(at)));
    record->sourceName = m_sources[m_records.varint(at)];
    readChange(m_records, at, &record->mainWord);
    readChange(m_records, at, &record->parent);
    readChange(m_records, at, &record->time);
    const bool fromParent = m_records.byte(at) != 0;
    if (fromParent) record->keyword = record->parent;
    readChange(m_records, at, &record->keyword);
}

std::size_t MemoryResultList::size() const {
    std::lock_guard lock(m_mutex);
    return m_size;
}

std::vector<ResultRecord> MemoryResultList::copy(std::size_t from, std::size_t to) const {
    std::lock_guard lock(m_mutex);
    to = std::min(to, m_size);
    if (from >= to) return {};
    std::vector<ResultRecord> records;
    records.reserve(to - from);
    std::size_t index = from - from % kRecordsPerMark;
    auto at = m_marks[index / kRecordsPerMark];
    ResultRecord record;
    for (; index < to; ++index) {
        if (index % kRecordsPerMark == 0) record = ResultRecord{};
        read(&at, &record);
        if (index < from) continue;
        records.push_back(record);
        if (!m_countingHits) continue;
        const auto hits = m_hits.find(static_cast<std::uint32_t>(index));
        records.back().hits = 1 + (hits == m_hits.end() ? 0 : static_cast<int>(hits->second.again));
        records.back().services = 1 + (hits == m_hits.end() ? 0 : static_cast<int>(hits->second.otherSources.size()));
    }
    return records;
}

DefaultRunStore::DefaultRunStore(const std::filesystem::path& home)
    : m_seen(SeenStore::defaultDirectory(home)) {}

} // namespace zelkor
