#pragma once

#include "text/text.h"

namespace zelkor {

// One queued keyword.
struct KeywordTask {
    Text keyword;
    Text mainWord; // the seed it descends from, never its direct parent
};

// One shown keyword, as exported.
struct ResultRecord {
    Text keyword;
    Text sourceName;
    Text mainWord;
};

} // namespace zelkor
