// How densely a dash must be sampled to follow its curve. The plug-in samples a dash with about
// subdivision + 2 points evenly along it, and the straight pieces between them cut the corners
// and bends of the curve beneath; a host that knows how closely the drawing must be followed
// (an SVG's flattening tolerance) can choose the subdivision for it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "document.h"

namespace korrand::io {

// The largest distance between the polyline `segment` (closed: with its edge back to the start)
// and a chord joining two of its points `spacing` apart along it, for a chord centred on each
// vertex (where a lone corner is cut most).
double ChordDeviation(const std::vector<Point>& segment, bool closed, double spacing);

// The smallest subdivision in [lowest, highest] at which dashes `dashLength` long stay within
// `tolerance` of the segment; highest when none does. A full dash gets at least subdivision + 1
// pieces.
int64_t SubdivisionFor(const std::vector<Point>& segment, bool closed, double dashLength,
                       double tolerance, int64_t lowest, int64_t highest);

// The subdivision SubdivisionFor picks in [lowest, highest] where lowest <= highest, asking
// fits(subdivision): up from the lowest in growing steps (most outlines need few samples), then
// halving the gap between the last subdivision that does not fit and the first that does.
template <class Fits>
int64_t SearchSubdivision(int64_t lowest, int64_t highest, const Fits& fits) {
    if (fits(lowest)) return lowest;
    int64_t lo = lowest, hi = lowest;
    for (int64_t step = 1;; step *= 2) {
        hi = std::min(highest, lowest + step);
        if (fits(hi)) break;
        if (hi == highest) return highest;
        lo = hi;
    }
    while (hi - lo > 1) {
        const int64_t mid = lo + (hi - lo) / 2;
        (fits(mid) ? hi : lo) = mid;
    }
    return hi;
}

}  // namespace korrand::io
