#pragma once
// What one keyword changed, waiting for its commit in a store that keeps runs beyond the process.

#include "text/text.h"

#include <unordered_set>
#include <vector>

namespace zelkor {

// The case-folded phrases a keyword marked so far, waiting for its commit, in the order marked.
class PendingMarks {
  public:
    bool contains(const Text& key) const { return m_set.contains(key); }
    void add(Text key) {
        if (m_set.insert(key).second) m_keys.push_back(std::move(key));
    }
    const std::vector<Text>& keys() const { return m_keys; }
    void clear() {
        m_set.clear();
        m_keys.clear();
    }

  private:
    std::unordered_set<Text> m_set;
    std::vector<Text> m_keys;
};

} // namespace zelkor
