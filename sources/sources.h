#pragma once

#include "sources/endpoints.h"
#include "sources/source_api.h"
#include "sources/source_table.h"

namespace zelkor {

// The 25 keyword sources in list order, with the endpoints' overrides applied.
SourceSet make_sources(const Endpoints& endpoints);

// Text of item `index` (0..24) of 选择列表框1, GBK.
Text source_list_label(int index);

} // namespace zelkor
