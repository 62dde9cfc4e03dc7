#pragma once
// The pictures of the window 分析: the report's charts and demand maps, the same SVG bytes, drawn
// from the rows the table holds. Drawing reads every row, so it is done off the window thread;
// the window only shows what comes back.

#include "analysis/demand_map.h"
#include "analysis/run_statistics.h"
#include "engine/core/health_report.h"
#include "engine/core/records.h"

#include <optional>
#include <string>
#include <vector>

namespace zelkor::app {

struct SeedPicture {
    std::string seed; // UTF-8
    int root = -1;    // in the tree
    DemandMapLayout layout;
    std::string svg;
};

struct RunPictures {
    std::size_t rows = 0; // of the table they were drawn from
    std::string services, depths, growth;
    std::vector<SeedPicture> seeds; // at most kMaxSeedMaps, in the order the seeds first appear
    std::size_t seedsLeftOut = 0;
    DemandTree tree;
};

// `seeds` (UTF-8): the run's own, so a seed that brought nothing has its map too.
RunPictures drawRunPictures(const std::vector<ResultRecord>& rows, const HealthReport* health,
                            const std::vector<std::string>& seeds);

// The label of `layout` at (x, y) in the picture's own units: its text's box, or near its node;
// nullopt where there is none.
std::optional<int> labelAt(const DemandMapLayout& layout, double x, double y);

// The rows (of the table the tree was drawn from) at and below `label`: a phrase's own subtree, a
// "+N" mark's parent's, the seed's whole tree. One flag per row.
std::vector<bool> subtreeRows(const RunPictures& pictures, const SeedPicture& seed, int label);

} // namespace zelkor::app
