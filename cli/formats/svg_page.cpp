// The root's units and viewport, and the flattening tolerance in root user units.
#include <cmath>
#include <limits>

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
    double px = 0;
    if (page.hasViewBox && doc.svgWidth && ParseLength(*doc.svgWidth, &px))
        page.unitsPerPx = viewBox[2] / px;
    else if (page.hasViewBox && doc.svgHeight && ParseLength(*doc.svgHeight, &px))
        page.unitsPerPx = viewBox[3] / px;
    if (!std::isfinite(page.unitsPerPx) || !(page.unitsPerPx > 0)) page.unitsPerPx = 1;
    double heightPx = 0;
    if (page.hasViewBox && px > 0 && doc.svgWidth && doc.svgHeight &&
        ParseLength(*doc.svgWidth, &px) && ParseLength(*doc.svgHeight, &heightPx) &&
        GetAttribute(root, "preserveAspectRatio", &v) && v.find("none") != std::string::npos) {
        // Stretched: x keeps its units, y is scaled to match, so lengths compare as on paper.
        const double stretch = (heightPx / viewBox[3]) / (px / viewBox[2]);
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
