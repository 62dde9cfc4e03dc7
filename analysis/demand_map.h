#pragma once
// The demand map of one seed: a radial tree, the seed at the centre, the phrases it led to on the
// first ring, theirs on the next. Each node shows the children with the largest subtrees, up to a
// bound per node, per level and in all; what is left out of a node is one more mark on its ring,
// "+38", the phrases below it that are not drawn. However large the run, the picture holds at most
// DemandMapLimits::nodes labelled phrases and as many "+N" marks.
//
// Every leaf (a shown phrase without shown children, or a "+N") has an equal slice of the circle
// and every node the middle of its leaves' slices, so nodes of one ring are at least a slice apart;
// the first ring's radius is chosen so that a slice is a label's height there, and a label is cut
// to the room before the next ring. Labels run outwards along their node's ray: none overlaps
// another, nor the seed's.

#include "analysis/run_statistics.h"

#include <string>
#include <vector>

namespace zelkor {

struct DemandMapLimits {
    int nodes = 40;    // phrases drawn, the seed not counted
    int children = 6;  // per node
    int levels = 3;    // rings of phrases
};

struct DemandMapLabel {
    enum class Kind { Seed, Phrase, More } kind = Kind::Phrase;
    std::string text; // as drawn (cut to fit)
    std::string full; // the whole phrase; "+N" for a mark
    double x = 0, y = 0;   // the node, in the picture
    double angle = 0;      // of its ray, radians, clockwise from the positive x axis (y down)
    int level = 0;
    std::uint64_t subtree = 0; // phrases at and below it; a mark: those it stands for
    int parent = -1;       // index into labels; -1 for the seed
    int branch = -1;       // which first-ring node it descends from (for its colour)
    // The box the label's text takes: along the ray from `inner` to `inner + width` from the
    // centre, `height` across it. The seed's box is level, centred on the centre.
    double inner = 0, width = 0, height = 0;
};

struct DemandMapLayout {
    double size = 0; // the picture is size x size, the seed at its centre
    std::vector<DemandMapLabel> labels; // the seed first, then parents before their children
    std::uint64_t phrases = 0;          // in the seed's whole tree, the seed not counted
    int shown = 0;                      // phrases drawn
};

DemandMapLayout layoutDemandMap(const DemandTree& tree, int root, const DemandMapLimits& limits = {});
// `id` becomes the <svg>'s id. Marks: class "seed", "node", "more" on each node's group.
std::string demandMapSvg(const DemandMapLayout& layout, std::string_view id);

} // namespace zelkor
