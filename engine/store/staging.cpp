#include "engine/store/staging.h"

namespace zelkor {

void KeywordStaging::mark(Text key) {
    if (m_markSet.insert(key).second) m_marks.push_back(std::move(key));
}

void KeywordStaging::clear() {
    m_markSet.clear();
    m_marks.clear();
    m_pushes.clear();
    m_results.clear();
    m_hits.clear();
}

bool StagedSeen::contains(const Text& keyword) const {
    const Text key = text_lower(keyword);
    std::lock_guard lock(m_mutex);
    if (m_staging.marked(key)) return true;
    return containsStored(key);
}

bool StagedSeen::insert(const Text& keyword) {
    std::lock_guard lock(m_mutex);
    m_staging.mark(text_lower(keyword));
    return true;
}

void StagedResults::append(ResultRecord record) {
    {
        std::lock_guard lock(m_mutex);
        m_staging.addResult(record);
    }
    m_shown.append(std::move(record));
}

void StagedResults::hit(const Text& keyword, const Text& sourceName) {
    {
        std::lock_guard lock(m_mutex);
        m_staging.addHit(keyword, sourceName);
    }
    m_shown.hit(keyword, sourceName);
}

} // namespace zelkor
