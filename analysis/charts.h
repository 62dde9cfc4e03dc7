#pragma once
// The charts of a run, each one complete <svg> element (see analysis/svg.h): a bar per service,
// the results per depth, and the results as they grew. Marks carry a class a reader can count:
// "bar" for a bar, "point" for a point of the growth line, "axis-label" for a tick's text.

#include "analysis/run_statistics.h"

#include <string>

namespace zelkor {

inline constexpr int kMaxServiceBars = 30; // more services share the last bar, "其他"
inline constexpr int kMaxDepthBars = 40;   // deeper levels share the last bar, "≥N"

std::string serviceBarChart(const RunStatistics& stats);
std::string depthHistogram(const RunStatistics& stats);
std::string growthLine(const RunStatistics& stats);

} // namespace zelkor
