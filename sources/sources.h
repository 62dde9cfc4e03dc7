#pragma once

#include "sources/endpoints.h"
#include "sources/source_api.h"
#include "sources/source_table.h"
#include "sources/sources_file.h"

namespace zelkor {

// The sources of `rows` in list order, with the endpoints' overrides applied.
SourceSet make_sources(const SourceRows& rows, const Endpoints& endpoints);
// The same over the built-in rows.
SourceSet make_sources(const Endpoints& endpoints);

// Text of item `index` of 选择列表框1 (GBK) for the built-in rows; empty outside them.
Text source_list_label(int index);

} // namespace zelkor
