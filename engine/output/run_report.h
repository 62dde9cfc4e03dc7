#pragma once
// The end-of-run summary per service, in the forms the faces give it: a table for the terminal,
// JSON for a file, notices for the window's panel.

#include "engine/core/health_report.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelkor {

// What a run already used of the remedies a hint would suggest.
struct TriedRemedies {
    bool retries = false;
    bool cooldown = false;
    bool proxies = false;
};

// UTF-8 lines, each ending in "\n": a header, one row per service, then the totals.
std::string reportTable(const HealthReport& report);

// How a run ended, for a report that says so: the outcome's name, the exit status, and the
// keywords no service answered.
struct RunEnding {
    std::string outcome;
    int exit = 0;
    std::uint64_t unanswered = 0;
};

// One line of JSON, UTF-8, without a line end:
// {"sources":[{"source":0,"label":"…","requests":1,"ok":1,"empty":0,"failed":0,"blocked":0,
//  "retries":0,"phrases":3,"accepted":2,"index":0}],"keywords":1,"requests":1,"seconds":0.512}
// and with `ending`, before the closing brace: "outcome":"finished","exit":0,"unanswered":0, and
// the totals "ok","empty","failed","blocked" and "lost" (phrases left out: GBK cannot hold them).
std::string reportJson(const HealthReport& report, const RunEnding* ending = nullptr);

// When requests were sent and none of them brought a good answer: one plain sentence (UTF-8, for
// the terminal) saying so and what it usually means.
// The remedies it suggests leave out those already `tried`.
std::optional<std::string> noAnswerLine(const HealthReport& report, const TriedRemedies& tried = {});

// The same for the panel, GBK: one notice per service, when `perService`, then the sentence above
// when it applies.
std::vector<Text> reportNotices(const HealthReport& report, bool perService, const TriedRemedies& tried = {});
// Phrases services sent that GBK cannot hold were left out: how many, and from which services.
std::optional<Text> lostPhrasesNotice(const HealthReport& report);

} // namespace zelkor
