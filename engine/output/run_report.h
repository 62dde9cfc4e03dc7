#pragma once
// The end-of-run summary per service, in the forms the faces give it: a table for the terminal,
// JSON for a file, notices for the window's panel.

#include "engine/core/health_report.h"

#include <optional>
#include <string>
#include <vector>

namespace zelkor {

// UTF-8 lines, each ending in "\n": a header, one row per service, then the totals.
std::string reportTable(const HealthReport& report);

// One line of JSON, UTF-8, without a line end:
// {"sources":[{"source":0,"label":"…","requests":1,"ok":1,"empty":0,"failed":0,"blocked":0,
//  "retries":0,"phrases":3,"accepted":2}],"keywords":1,"requests":1,"seconds":0.512}
std::string reportJson(const HealthReport& report);

// When requests were sent and none of them brought a good answer: one plain sentence (UTF-8, for
// the terminal) saying so and what it usually means.
std::optional<std::string> noAnswerLine(const HealthReport& report);

// The same for the panel, GBK: one notice per service, when `perService`, then the sentence above
// when it applies.
std::vector<Text> reportNotices(const HealthReport& report, bool perService);

} // namespace zelkor
