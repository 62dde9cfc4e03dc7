#pragma once
// The root word and intent tags of each row of a results table, and the groups they make: the
// words the exports and `groups` give for the same records (analyseResults, groupKeywords), kept as
// a few ids per row over the run's distinct values, so that a cell costs no conversion and a sort
// compares bytes.
//
// Threads: made on any thread (it segments every phrase: never on the window thread for a large
// run), then read-only.

#include "analysis/keyword_groups.h"
#include "engine/core/expected.h"
#include "engine/core/records.h"

#include <QString>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zelkor::app {

class RowWords {
  public:
    // The user's intent table of `home` (data/intent.toml) over the built-in one.
    static Expected<RowWords> analyse(const std::vector<ResultRecord>& records,
                                      const std::filesystem::path& home);

    struct Value {
        std::string utf8; // as exported
        Text gbk;         // as the table sorts and filters it
        QString shown;
    };

    // The first rows() rows of the records given.
    std::size_t rows() const { return m_root.size(); }
    const Value& root(std::size_t row) const { return m_values[m_root[row]]; }
    const Value& tags(std::size_t row) const { return m_values[m_tags[row]]; } // "疑问;价格"
    const std::vector<ResultGroup>& groups(GroupBy by) const {
        return by == GroupBy::Root ? m_byRoot : m_byTag;
    }

  private:
    std::vector<Value> m_values; // [0] is ""
    std::vector<std::uint32_t> m_root;
    std::vector<std::uint32_t> m_tags;
    std::vector<ResultGroup> m_byRoot;
    std::vector<ResultGroup> m_byTag;
};

} // namespace zelkor::app
