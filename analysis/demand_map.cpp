#include "analysis/demand_map.h"

#include "analysis/svg.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <queue>

namespace zelkor {

namespace {

constexpr double kFont = 12, kSeedFont = 15;
constexpr double kLabelHeight = kFont * 1.25, kSeedHeight = kSeedFont * 1.25;
constexpr double kGap = 10;        // from a node to its label
constexpr double kRingSpace = 16;  // from the longest label of a ring to the next ring
constexpr double kMaxLabel = 150;  // a label before the outermost ring
constexpr double kMaxOuter = 200;  // a label on the outermost ring
constexpr double kMinRing = 60;
constexpr double kMinFirstRing = 100;
constexpr double kMargin = 12;
constexpr const char* kPalette[] = {"#3b78c3", "#e07b39", "#3a9a5b", "#c0504d", "#8064a2",
                                    "#4bacc6", "#b8860b", "#d36ba6", "#6b8e23", "#7f7f7f"};

struct Placed {
    int node = -1; // in the tree; -1 for a "+N"
    int parent = -1;
    int level = 0;
    std::uint64_t subtree = 0;
    std::vector<int> kids;
    std::uint64_t leaves = 0;
    double from = 0, to = 0; // its slice, radians
};

std::vector<Placed> choose(const DemandTree& tree, int root, const DemandMapLimits& limits) {
    std::vector<Placed> placed;
    placed.push_back({root, -1, 0, tree.nodes[root].subtree, {}, 0, 0, 0});
    struct Candidate {
        std::uint64_t subtree;
        int node;
        int parent; // in `placed`
    };
    // Largest subtree first, then the one shown first: every node's shown children are its top ones.
    const auto later = [](const Candidate& a, const Candidate& b) {
        return a.subtree != b.subtree ? a.subtree < b.subtree : a.node > b.node;
    };
    std::priority_queue<Candidate, std::vector<Candidate>, decltype(later)> candidates(later);
    const auto offer = [&](int placedIndex) {
        if (placed[placedIndex].level >= limits.levels) return;
        for (const int child : tree.nodes[placed[placedIndex].node].children)
            candidates.push({tree.nodes[child].subtree, child, placedIndex});
    };
    offer(0);
    int shown = 0;
    while (shown < limits.nodes && !candidates.empty()) {
        const Candidate next = candidates.top();
        candidates.pop();
        if (static_cast<int>(placed[next.parent].kids.size()) >= limits.children) continue;
        const int index = static_cast<int>(placed.size());
        placed.push_back({next.node, next.parent, placed[next.parent].level + 1, next.subtree, {}, 0, 0, 0});
        placed[next.parent].kids.push_back(index);
        ++shown;
        offer(index);
    }
    const std::size_t phrasesPlaced = placed.size();
    for (std::size_t i = 0; i < phrasesPlaced; ++i) {
        std::uint64_t hidden = placed[i].subtree - 1;
        for (const int kid : placed[i].kids) hidden -= placed[kid].subtree;
        if (hidden == 0) continue;
        const int index = static_cast<int>(placed.size());
        placed.push_back({-1, static_cast<int>(i), placed[i].level + 1, hidden, {}, 0, 0, 0});
        placed[i].kids.push_back(index);
    }
    return placed;
}

std::string degrees(double radians) {
    return svg::num(radians * 180 / std::numbers::pi);
}

} // namespace

DemandMapLayout layoutDemandMap(const DemandTree& tree, int root, const DemandMapLimits& limits) {
    DemandMapLayout layout;
    if (root < 0 || root >= static_cast<int>(tree.nodes.size())) return layout;
    std::vector<Placed> placed = choose(tree, root, limits);
    layout.phrases = tree.nodes[root].subtree - 1;

    // Leaves from the outside in: children always come after their parents.
    for (std::size_t i = placed.size(); i-- > 0;) {
        if (placed[i].kids.empty()) placed[i].leaves = 1;
        if (placed[i].parent >= 0) placed[placed[i].parent].leaves += placed[i].leaves;
    }
    const double slice = 2 * std::numbers::pi / static_cast<double>(placed[0].leaves);
    placed[0].from = -std::numbers::pi / 2;
    placed[0].to = placed[0].from + 2 * std::numbers::pi;
    for (Placed& p : placed) {
        double cursor = p.from;
        for (const int kid : p.kids) {
            placed[kid].from = cursor;
            cursor += slice * static_cast<double>(placed[kid].leaves);
            placed[kid].to = cursor;
        }
    }

    // Labels and the rings' radii: each ring lies past the longest label of the one inside it.
    int deepest = 0;
    for (const Placed& p : placed) deepest = std::max(deepest, p.level);
    layout.labels.resize(placed.size());
    std::vector<double> longest(static_cast<std::size_t>(deepest) + 1, 0);
    int branches = 0;
    for (std::size_t i = 0; i < placed.size(); ++i) {
        const Placed& p = placed[i];
        DemandMapLabel& label = layout.labels[i];
        label.level = p.level;
        label.subtree = p.subtree;
        label.parent = p.parent;
        if (p.level == 0) {
            label.kind = DemandMapLabel::Kind::Seed;
            label.full = tree.nodes[p.node].label;
            continue;
        }
        label.kind = p.node < 0 ? DemandMapLabel::Kind::More : DemandMapLabel::Kind::Phrase;
        label.full = p.node < 0 ? "+" + std::to_string(p.subtree) : tree.nodes[p.node].label;
        label.text = svg::fitText(label.full, kFont, p.level == deepest ? kMaxOuter : kMaxLabel);
        label.width = svg::textWidth(label.text, kFont);
        label.height = kLabelHeight;
        label.angle = (p.from + p.to) / 2;
        label.branch = p.level == 1 ? branches++ : layout.labels[p.parent].branch;
        longest[p.level] = std::max(longest[p.level], label.width);
    }

    // The first ring: a slice there is a label's height, and the seed's label fits inside it.
    const double sliceAngle = std::min(slice, std::numbers::pi / 2);
    double first = std::max(kMinFirstRing, kLabelHeight / std::sin(sliceAngle) - kGap + 1);
    DemandMapLabel& seed = layout.labels[0];
    seed.text = svg::fitText(seed.full, kSeedFont, 2 * kMaxLabel - 60);
    seed.width = svg::textWidth(seed.text, kSeedFont);
    seed.height = kSeedHeight;
    first = std::max(first, seed.width / 2 + 30);
    seed.inner = -seed.width / 2;

    std::vector<double> radius(static_cast<std::size_t>(deepest) + 1, 0);
    if (deepest >= 1) radius[1] = first;
    for (int level = 2; level <= deepest; ++level)
        radius[level] = radius[level - 1] + std::max(kMinRing, kGap + longest[level - 1] + kRingSpace);
    const double outer =
        deepest == 0 ? seed.width / 2 + kMargin + 20 : radius[deepest] + kGap + longest[deepest] + kMargin;
    layout.size = std::ceil(2 * std::max(outer, 60.0));
    const double centre = layout.size / 2;
    seed.x = centre;
    seed.y = centre;
    for (std::size_t i = 1; i < layout.labels.size(); ++i) {
        DemandMapLabel& label = layout.labels[i];
        const double r = radius[label.level];
        label.x = centre + r * std::cos(label.angle);
        label.y = centre + r * std::sin(label.angle);
        label.inner = r + kGap;
        if (label.kind == DemandMapLabel::Kind::Phrase) ++layout.shown;
    }
    return layout;
}

std::string demandMapSvg(const DemandMapLayout& layout, std::string_view id) {
    using svg::num;
    if (layout.labels.empty()) return {};
    const DemandMapLabel& seed = layout.labels[0];
    std::string out = svg::open(layout.size, layout.size, id, "需求图谱：" + seed.full);
    const auto colour = [](const DemandMapLabel& label) {
        return label.branch < 0 ? "#555555" : kPalette[static_cast<std::size_t>(label.branch) % std::size(kPalette)];
    };
    out += "<g fill=\"none\" stroke-width=\"1\">";
    for (std::size_t i = 1; i < layout.labels.size(); ++i) {
        const DemandMapLabel& label = layout.labels[i];
        const DemandMapLabel& parent = layout.labels[static_cast<std::size_t>(label.parent)];
        out += "<line x1=\"" + num(parent.x) + "\" y1=\"" + num(parent.y) + "\" x2=\"" + num(label.x) + "\" y2=\"" +
               num(label.y) + "\" stroke=\"" + (label.kind == DemandMapLabel::Kind::More ? "#cccccc" : "#b0b0b0") +
               "\"" + (label.kind == DemandMapLabel::Kind::More ? " stroke-dasharray=\"3,3\"" : "") + "/>";
    }
    out += "</g>";
    for (std::size_t i = 1; i < layout.labels.size(); ++i) {
        const DemandMapLabel& label = layout.labels[i];
        const bool more = label.kind == DemandMapLabel::Kind::More;
        const double r = more ? 3 : std::min(9.0, 3 + 1.2 * std::log2(static_cast<double>(label.subtree)));
        // Labels on the left half turn half a turn more, so that none reads upside down.
        const bool left = std::cos(label.angle) < 0;
        const double turn = left ? label.angle + std::numbers::pi : label.angle;
        const double along = left ? -label.inner : label.inner;
        out += std::string("<g class=\"") + (more ? "more" : "node") + "\"><title>";
        svg::appendEscaped(out, label.full);
        if (!more) out += "（其下 " + std::to_string(label.subtree - 1) + " 个词）";
        out += "</title><circle cx=\"" + num(label.x) + "\" cy=\"" + num(label.y) + "\" r=\"" + num(r) + "\" fill=\"" +
               (more ? "#ffffff" : colour(label)) + "\" stroke=\"" + colour(label) + "\" stroke-width=\"1\"/>";
        const std::string place = "transform=\"translate(" + num(seed.x) + "," + num(seed.y) + ") rotate(" +
                                  degrees(turn) + ")\" x=\"" + num(along) + "\" y=\"" + num(kFont * 0.35) +
                                  "\" text-anchor=\"" + (left ? "end" : "start") + "\"";
        // A white outline under the text keeps it legible over the lines it crosses.
        out += "<text " + place + " fill=\"#ffffff\" stroke=\"#ffffff\" stroke-width=\"3\" stroke-linejoin=\"round\">";
        svg::appendEscaped(out, label.text);
        out += "</text><text " + place + " fill=\"" + (more ? "#888888" : "#222222") + "\">";
        svg::appendEscaped(out, label.text);
        out += "</text></g>";
    }
    out += "<g class=\"seed\"><title>";
    svg::appendEscaped(out, seed.full);
    out += "</title><circle cx=\"" + num(seed.x) + "\" cy=\"" + num(seed.y) + "\" r=\"" +
           num(std::max(seed.width / 2 + 8, 14.0)) + "\" fill=\"#fff7e0\" stroke=\"#e0a030\" stroke-width=\"1.5\"/>";
    out += "<text x=\"" + num(seed.x) + "\" y=\"" + num(seed.y + kSeedFont * 0.35) +
           "\" text-anchor=\"middle\" font-size=\"" + num(kSeedFont) + "\" font-weight=\"bold\" fill=\"#222222\">";
    svg::appendEscaped(out, seed.text);
    out += "</text></g>";
    return out + "</svg>";
}

} // namespace zelkor
