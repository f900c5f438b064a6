// The root's units and viewport, and the flattening tolerance in root user units.
#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>

#include "format_detail.h"
#include "portable_math.h"
#include "svg_read.h"

namespace korrand::io::detail {
namespace {

// A plain number or px length, for percentages when there is no viewBox.
bool ParsePlainLength(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || !std::isfinite(value) || value <= 0) return false;
    const std::string rest = end;
    return rest.empty() || rest == "px";
}

}  // namespace

Page ReadPage(xmlNode* root, Document& doc) {
    Page page;
    std::string v;
    if (GetAttribute(root, "width", &v)) doc.svgWidth = v;
    if (GetAttribute(root, "height", &v)) doc.svgHeight = v;
    if (GetAttribute(root, "viewBox", &v)) doc.svgViewBox = v;
    const double(&viewBox)[4] = page.viewBox;
    page.hasViewBox = doc.svgViewBox && detail::ParseViewBox(*doc.svgViewBox, page.viewBox);
    double width = 0, height = 0;
    if (page.hasViewBox) {
        page.viewportWidth = viewBox[2];
        page.viewportHeight = viewBox[3];
    } else if (doc.svgWidth && doc.svgHeight && ParsePlainLength(*doc.svgWidth, width) &&
               ParsePlainLength(*doc.svgHeight, height)) {
        page.viewportWidth = width;
        page.viewportHeight = height;
    }
    // The viewBox is fitted into the viewport as preserveAspectRatio says: by the smaller of the
    // two scales (meet, the default), the larger (slice), or each axis apart (none).
    bool stretched = false, slice = false;
    if (GetAttribute(root, "preserveAspectRatio", &v)) {
        std::istringstream words(v);
        std::string align, fit;
        words >> align;
        if (align == "defer") words >> align;
        words >> fit;
        stretched = align == "none";
        slice = fit == "slice";
    }
    double widthPx = 0, heightPx = 0;
    const bool hasWidth = doc.svgWidth && ParseLength(*doc.svgWidth, &widthPx) && widthPx > 0;
    const bool hasHeight = doc.svgHeight && ParseLength(*doc.svgHeight, &heightPx) && heightPx > 0;
    // Px per unit across and down, where there is a viewBox.
    const double sx = page.hasViewBox ? widthPx / viewBox[2] : 0;
    const double sy = page.hasViewBox ? heightPx / viewBox[3] : 0;
    if (page.hasViewBox && hasWidth && hasHeight && !stretched)
        page.unitsPerPx = 1 / (slice ? std::max(sx, sy) : std::min(sx, sy));
    else if (page.hasViewBox && hasWidth)
        page.unitsPerPx = 1 / sx;
    else if (page.hasViewBox && hasHeight)
        page.unitsPerPx = 1 / sy;
    if (!std::isfinite(page.unitsPerPx) || !(page.unitsPerPx > 0)) page.unitsPerPx = 1;
    if (page.hasViewBox && hasWidth && hasHeight && stretched) {
        // Stretched: x keeps its units, y is scaled to match, so lengths compare as on paper.
        const double stretch = sy / sx;
        if (std::isfinite(stretch) && stretch > 0) page.toPage = Affine::Scale(1, stretch);
    }
    return page;
}

Flattening FlatteningFor(const ReadContext& context, const std::deque<FoundShape>& shapes) {
    const Page& page = context.page;
    Vec2 lo{HUGE_VAL, HUGE_VAL}, hi{-HUGE_VAL, -HUGE_VAL};
    for (const FoundShape& shape : shapes)
        for (const Subpath& subpath : shape.subpaths) GrowBounds(subpath, lo, hi);
    Flattening f;
    f.size = page.hasViewBox ? math::Hypot(page.viewBox[2], page.viewBox[3])
                             : (lo.x <= hi.x ? math::Hypot(hi.x - lo.x, hi.y - lo.y) : 0);
    if (!std::isfinite(f.size)) f.size = std::numeric_limits<double>::max();
    const double asked = context.options.tolerance;
    f.tolerance = asked > 0 && std::isfinite(asked) ? asked * page.unitsPerPx : f.size * 1e-4;
    if (!(f.tolerance > 0) || !std::isfinite(f.tolerance)) f.tolerance = 1e-4;
    return f;
}

}  // namespace korrand::io::detail
