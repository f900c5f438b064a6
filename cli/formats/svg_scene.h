// What the SVG reader keeps for the writer: the parsed document itself and, for every shape it
// handed to the modifier, where the shape is and how its dashes go back. Internal to the formats.
#pragma once

#include <libxml/tree.h>

#include <cstddef>
#include <string>
#include <vector>

#include "flatten.h"

namespace korrand::io::detail {

struct SvgShape {
    xmlNode* node = nullptr;  // in SvgScene::doc, which the writer copies before editing
    // The shape's own user space (where its geometry is written) to the root's user space.
    Affine toPage;
    // The fill is drawn: the original stays for it and the dashes go into a sibling path.
    bool keepFill = false;
    // A fill-only shape dashed by --select all: the sibling's stroke paint (its fill's colour).
    std::string outlinePaint;
    // Reached only through <use>: drawn where its instances are, not where it stands.
    bool throughUse = false;
    // Its dash array comes from a style sheet or an ancestor: removing its own declarations is
    // not enough, the dashes must say stroke-dasharray:none.
    bool inheritsDasharray = false;
    // <use> elements that draw this very shape: with the fill kept, each gets a twin drawing the
    // dashes sibling.
    std::vector<xmlNode*> uses;
};

// One line object of the read document.
struct SvgObject {
    std::size_t shape = 0;
    // Starts of the closed subpaths, in the root's user space: where a dash measured around the
    // loop is cut in two.
    std::vector<Vec2> seams;
};

struct SvgScene {
    SvgScene() = default;
    SvgScene(const SvgScene&) = delete;
    SvgScene& operator=(const SvgScene&) = delete;
    ~SvgScene() {
        if (doc != nullptr) xmlFreeDoc(doc);
    }

    xmlDoc* doc = nullptr;
    bool hasDeclaration = false;  // the input began with <?xml ...?>
    double drawingSize = 0;       // root user units, for comparing points
    std::vector<SvgShape> shapes;
    std::vector<SvgObject> objects;  // parallel to Document::objects
};

// A CSS declaration list ("a: b; c: d !important") edited: the named properties removed, then
// `set` appended in order. Declarations are read with the SVG library's style parser.
std::string EditStyle(const std::string& style, const std::vector<std::string>& remove,
                      const std::vector<std::pair<std::string, std::string>>& set);

}  // namespace korrand::io::detail
