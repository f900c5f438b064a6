// What the SVG reader keeps for the writer: the parsed document itself and, for every shape it
// handed to the modifier, where the shape is and how its dashes go back. Internal to the formats.
#pragma once

#include <libxml/tree.h>

#include <cmath>
#include <cstddef>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "flatten.h"

namespace korrand::io::detail {

struct SvgShape {
    xmlNode* node = nullptr;  // in SvgScene::doc
    // The shape's own user space (where its geometry is written) to the root's user space.
    Affine toPage;
    // How closely it is followed on the page: the drawing's tolerance, or less for a small shape.
    double tolerance = 0;
    // The fill is drawn: the original stays for it and the dashes go into a sibling path.
    bool keepFill = false;
    // A shape whose stroke paints nothing, dashed by --select all: whether the dashes must be
    // made opaque (its stroke-opacity is 0); their paint is in `extra`.
    bool outlineOpaque = false;
    // Markers drawn on its vertices: they stay where the original draws them.
    bool markers = false;
    // Reached only through <use>: drawn where its instances are, not where it stands.
    bool throughUse = false;
    // A style sheet or an ancestor gives it a dash array besides its own declarations: removing
    // those is not enough, the dashes must say stroke-dasharray:none.
    bool dashedBesidesOwn = false;
    // <use> elements that draw this very shape: with the fill kept, each gets a twin drawing the
    // dashes sibling.
    std::vector<xmlNode*> uses;
    // Dots it draws (zero-length subpaths with round or square caps), in the root's user space:
    // written back beside its dashes.
    std::vector<Point> dots;
    // What few shapes need, apart: null for most (a map's shapes are tens of thousands).
    struct Extra {
        // A shape whose stroke paints nothing, dashed by --select all: the dashes' stroke paint
        // (its fill's colour).
        std::string outlinePaint;
        // With a style sheet: its stroke as computed, which the dashes declare. Written as a
        // path (a rect's, a circle's) or beside the original (another id), they may match none
        // of the rules that gave it.
        std::vector<std::pair<std::string, std::string>> stroke;
        // With a preview: the declarations that draw the original where the preview copies it
        // (out of its groups and the reach of selectors through them), and where: for a shape
        // drawn through <use>, its instance.
        std::vector<std::pair<std::string, std::string>> previewStyle;
        Affine previewAt;
    };
    std::unique_ptr<Extra> extra;
    // Its <use>s paint it apart (one fills it, another strokes it): the original stays for the
    // fills, unless fills are dropped.
    bool paintedApart = false;
    // Its geometry is used elsewhere (text laid along it, a clip path, a mask): the original
    // stays, its stroke hidden, and the dashes go into a sibling path.
    bool geometryUsed = false;
    // Its paint-order: the dashes beside a kept original go before it where the stroke is
    // painted before what the original keeps.
    bool strokeBeforeFill = false, strokeBeforeMarkers = true;
};

// One line object of the read document.
struct SvgObject {
    std::size_t shape = 0;
    // Starts of the closed subpaths, in the root's user space: where a dash measured around the
    // loop is cut in two.
    std::vector<Vec2> seams;
};

// Ids of a document's elements and the element of each (the first of a repeated id wins).
using Ids = std::map<std::string, xmlNode*, std::less<>>;

struct SvgScene {
    SvgScene() = default;
    SvgScene(const SvgScene&) = delete;
    SvgScene& operator=(const SvgScene&) = delete;
    ~SvgScene() {
        if (doc != nullptr) xmlFreeDoc(doc);
    }

    // Parsed by the reader, edited and written by the writer: an SVG is written back once.
    xmlDoc* doc = nullptr;
    mutable bool writtenBack = false;
    bool hasDeclaration = false;  // the input began with <?xml ...?>
    // Noted as the parser made the elements, so that no walk over a large tree is needed for
    // them: every id, and every <style> element in document order.
    Ids ids;
    std::vector<const xmlNode*> styleElements;
    // Ids whose element's geometry something else uses: <textPath>s' paths, the shapes a
    // <clipPath> draws through <use>.
    std::set<std::string, std::less<>> geometryUsers;
    // The <use>s inside a <mask>, by the id they use.
    std::map<std::string, std::vector<xmlNode*>, std::less<>> maskUses;
    // Ids a <use> draws (a shape drawn itself may be drawn again, in a selected layer, by one).
    std::set<std::string, std::less<>> useTargets;
    double drawingSize = 0;  // root user units, for comparing points
    double tolerance = 0;    // the flattening tolerance, root user units
    // Properties some style rule declares !important.
    std::set<std::string> importantProperties;
    // Some style rule declares a dash array or markers: a path the dashes are written as may
    // match it where the original did not.
    bool sheetDashesOrMarks = false;
    // Some style rule matches by an element's parent: an element moved into a <defs> may match
    // it otherwise.
    bool sheetMatchesByParent = false;
    std::vector<SvgShape> shapes;
    std::vector<SvgObject> objects;  // parallel to Document::objects
};

constexpr const char kInkscapeNamespace[] = "http://www.inkscape.org/namespaces/inkscape";

// The attribute korrand marks what it writes with ("dashes"; "original" on an original kept
// beside its dashes, "preview" on a preview's copy of one): read again, such an element is left
// as it is, not dashed into pieces of dashes.
constexpr const char kMadeByKorrand[] = "data-korrand";

// How far two points of a drawing of size `size` may lie apart and still be the same point:
// rounding (relative moves, transforms) leaves a repeated point a hair off the one it repeats.
inline double SamePointTolerance(Vec2 p, double size) {
    return 1e-9 * (std::fabs(p.x) + std::fabs(p.y) + size);
}
inline bool Near(Vec2 a, Vec2 b, double eps) {
    return std::fabs(a.x - b.x) <= eps && std::fabs(a.y - b.y) <= eps;
}

}  // namespace korrand::io::detail
