// The rule by which every host groups the segments of one curve (an SVG shape's subpaths, a
// Blender curve's splines) into the line objects it hands the modifier. Header-only, so file
// readers can follow it without the model; the Blender bridge serves it as
// korrand_group_segments.
#ifndef KORRAND_SEGMENT_GROUPS_H
#define KORRAND_SEGMENT_GROUPS_H

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

namespace hostmodel {

// One line object of a curve: the indices of the curve's segments it holds, in order, and the
// closedness the host decides for it (none: the modifier's own Closed setting decides).
struct SegmentGroup {
    std::vector<int32_t> segments;
    std::optional<bool> closed;
};

// How the segments of one curve become line objects. closed: each segment's closedness where
// the curve says it (an SVG subpath closed with Z, a cyclic spline), so that each line object is
// measured accordingly; empty where the modifier's own Closed setting decides. ownCounts: each
// segment gets a dash count of its own (derived from a dash length). related: the modifier's
// settings relate the segments of a line object (line_dash.h, SettingsRelateSegments), or the
// host cannot tell yet.
//
// Segments with counts of their own, or that nothing relates, are one line object each: the
// same dashes as together, and each dash's segment known. Related segments stay together: all
// in one line object, or, where the curve says which are closed, one of the closed and one of
// the open ones, the kind of the first segment first.
inline std::vector<SegmentGroup> GroupSegments(int32_t segmentCount,
                                               const std::vector<bool>& closed, bool ownCounts,
                                               bool related) {
    const bool perSegment = !closed.empty();
    if (perSegment && closed.size() != static_cast<size_t>(segmentCount))
        throw std::invalid_argument("GroupSegments: one closedness per segment expected");
    std::vector<SegmentGroup> groups;
    if (segmentCount <= 0) return groups;
    if (ownCounts || !related) {
        for (int32_t i = 0; i < segmentCount; ++i)
            groups.push_back(
                {{i},
                 perSegment ? std::optional<bool>(closed[static_cast<size_t>(i)]) : std::nullopt});
        return groups;
    }
    if (!perSegment) {
        groups.push_back({{}, std::nullopt});
        for (int32_t i = 0; i < segmentCount; ++i) groups[0].segments.push_back(i);
        return groups;
    }
    const bool first = closed[0];
    groups.push_back({{}, first});
    groups.push_back({{}, !first});
    for (int32_t i = 0; i < segmentCount; ++i)
        groups[closed[static_cast<size_t>(i)] == first ? 0 : 1].segments.push_back(i);
    if (groups[1].segments.empty()) groups.pop_back();
    return groups;
}

}  // namespace hostmodel

#endif
