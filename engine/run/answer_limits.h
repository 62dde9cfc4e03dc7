#pragma once
// The bounds on every answer a run reads, from the boxes of the page 高级: the largest answer in
// MiB (编辑框_应答上限) and the whole exchange's deadline in seconds (编辑框_总时限). Empty boxes keep
// the defaults of the net layer (8 MiB, 60 s), so a run sends its requests as before.

#include "engine/core/controls.h"
#include "net/http.h"
#include "text/text.h"

#include <vector>

namespace zelkor {

inline constexpr int kMaxAnswerMib = 1024;
inline constexpr int kMaxDeadlineSeconds = 3600;

// A value that cannot be used keeps its default and is described in `problems` (GBK, for the panel).
AnswerLimits readAnswerLimits(const Controls& controls, std::vector<Text>* problems = nullptr);

} // namespace zelkor
