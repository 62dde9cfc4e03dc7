#include "app/run_pictures.h"

#include "analysis/charts.h"
#include "analysis/html_report.h"

#include <cmath>

namespace zelkor::app {

RunPictures drawRunPictures(const std::vector<ResultRecord>& rows, const HealthReport* health,
                            const std::vector<std::string>& seeds) {
    RunPictures pictures;
    pictures.rows = rows.size();
    RunStatistics stats = computeStatistics(rows, health, seeds);
    pictures.services = serviceBarChart(stats);
    pictures.depths = depthHistogram(stats);
    pictures.growth = growthLine(stats);
    const std::size_t maps = std::min(stats.tree.roots.size(), static_cast<std::size_t>(kMaxSeedMaps));
    pictures.seedsLeftOut = stats.tree.roots.size() - maps;
    for (std::size_t i = 0; i < maps; ++i) {
        SeedPicture seed;
        seed.root = stats.tree.roots[i];
        seed.seed = stats.tree.nodes[static_cast<std::size_t>(seed.root)].label;
        seed.layout = layoutDemandMap(stats.tree, seed.root);
        seed.svg = demandMapSvg(seed.layout, "map-" + std::to_string(i + 1));
        pictures.seeds.push_back(std::move(seed));
    }
    pictures.tree = std::move(stats.tree);
    return pictures;
}

std::optional<int> labelAt(const DemandMapLayout& layout, double x, double y) {
    const double centre = layout.size / 2;
    constexpr double kNearNode = 6;
    for (int i = static_cast<int>(layout.labels.size()); i-- > 0;) {
        const DemandMapLabel& label = layout.labels[static_cast<std::size_t>(i)];
        if (std::hypot(x - label.x, y - label.y) <= kNearNode) return i;
        if (label.kind == DemandMapLabel::Kind::Seed) {
            if (std::abs(x - centre) <= label.width / 2 && std::abs(y - centre) <= label.height / 2) return i;
            continue;
        }
        // Along the label's ray and across it.
        const double dx = x - centre, dy = y - centre;
        const double along = dx * std::cos(label.angle) + dy * std::sin(label.angle);
        const double across = -dx * std::sin(label.angle) + dy * std::cos(label.angle);
        if (along >= label.inner && along <= label.inner + label.width && std::abs(across) <= label.height / 2)
            return i;
    }
    return std::nullopt;
}

namespace {

// The tree node a label stands for, found from its seed down by the labels' own texts.
int nodeOf(const DemandTree& tree, const DemandMapLayout& layout, int root, int label) {
    const DemandMapLabel& l = layout.labels[static_cast<std::size_t>(label)];
    if (l.parent < 0) return root;
    const int parent = nodeOf(tree, layout, root, l.parent);
    if (parent < 0 || l.kind == DemandMapLabel::Kind::More) return parent;
    for (const int child : tree.nodes[static_cast<std::size_t>(parent)].children)
        if (tree.nodes[static_cast<std::size_t>(child)].label == l.full) return child;
    return -1;
}

} // namespace

std::vector<bool> subtreeRows(const RunPictures& pictures, const SeedPicture& seed, int label) {
    const DemandTree& tree = pictures.tree;
    std::vector<bool> rows(pictures.rows, false);
    if (label < 0 || label >= static_cast<int>(seed.layout.labels.size())) return rows;
    const int top = nodeOf(tree, seed.layout, seed.root, label);
    if (top < 0) return rows;
    // Every row is one node past the seeds, in the rows' order: a node's row is its place among them.
    std::vector<int> rowOf(tree.nodes.size(), -1);
    int row = 0;
    for (std::size_t n = 0; n < tree.nodes.size(); ++n)
        if (tree.nodes[n].parent >= 0) rowOf[n] = row++;
    std::vector<int> pending{top};
    while (!pending.empty()) {
        const int node = pending.back();
        pending.pop_back();
        if (const int r = rowOf[static_cast<std::size_t>(node)]; r >= 0 && static_cast<std::size_t>(r) < rows.size())
            rows[static_cast<std::size_t>(r)] = true;
        for (const int child : tree.nodes[static_cast<std::size_t>(node)].children) pending.push_back(child);
    }
    return rows;
}

} // namespace zelkor::app
