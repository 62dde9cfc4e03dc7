#include "sources/sources.h"

#include "sources/table_source.h"

namespace zelkor {

SourceSet make_sources(const SourceRows& rows, const Endpoints& endpoints) {
    SourceSet set;
    set.reserve(rows.size());
    for (const SourceRow& row : rows)
        set.push_back(make_table_source(row, endpoints));
    return set;
}

SourceSet make_sources(const Endpoints& endpoints) {
    return make_sources(builtInSourceRows(), endpoints);
}

Text source_list_label(int index) {
    if (index < 0 || index >= kSourceCount) return {};
    static const std::vector<Text> labels = [] {
        std::vector<Text> gbkLabels;
        for (const SourceRow& row : source_rows())
            gbkLabels.push_back(utf8_to_gbk(row.label));
        return gbkLabels;
    }();
    return labels[static_cast<std::size_t>(index)];
}

} // namespace zelkor
