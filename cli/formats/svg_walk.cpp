// The walk over what is drawn. It decides what a viewer draws: <defs>, <symbol>, <clipPath>,
// <mask>, <marker> and <pattern> only through <use> (svg_use.cpp), one child of a <switch>
// (svg_switch.cpp), nothing under display:none; the shapes the options choose
// (svg_select.cpp) are read (svg_shapes.cpp) into the root's user space.
#include <cmath>

#include "svg_read.h"

namespace korrand::io::detail {
namespace {

// The walk recurses per level of the file's own nesting (checked before parsing) plus what
// <use> adds.
constexpr int kMaxWalkDepth = 2 * 256;
// <use> expansion: a fan-out that makes the walk visit more elements than this is a bomb.
constexpr std::size_t kMaxInstanceElements = 1'000'000;

}  // namespace

int64_t CountShapes(const xmlNode* node) {
    int64_t n = IsSvgElement(node) && IsShapeName(Name(node)) ? 1 : 0;
    for (const xmlNode* c = node->children; c != nullptr; c = c->next)
        if (c->type == XML_ELEMENT_NODE) n += CountShapes(c);
    return n;
}

void Walk(const ReadContext& context, Gathered& gathered) {
    CheckChoices(context, gathered.diagnostics);
    Walker walker{context, gathered,
                  {},      {},
                  {},      0,
                  0,       PercentBase(context.page.viewportWidth, context.page.viewportHeight)};
    try {
        walker.Children(context.root, context.sheet.Compute(context.root, ComputedStyle{}),
                        context.page.toPage);
    } catch (const ReadError&) {
        throw;
    } catch (const std::exception& e) {
        throw ReadError(context.file, 0, std::string("cannot read the SVG: ") + e.what());
    }
}

void Walker::Children(xmlNode* node, const ComputedStyle& style, const Affine& m) {
    for (xmlNode* c = node->children; c != nullptr; c = c->next)
        if (c->type == XML_ELEMENT_NODE) Element(c, style, m);
}

void Walker::Element(xmlNode* el, const ComputedStyle& parentStyle, const Affine& m) {
    if (!IsSvgElement(el)) return;  // other namespaces (editor data) draw nothing
    struct Depth {
        int& depth;
        ~Depth() { --depth; }
    } level{++depth};
    if (depth > kMaxWalkDepth)
        context.Refuse(el, "elements nested more than " + std::to_string(kMaxWalkDepth) +
                               " deep through <use>");
    if (!useStack.empty() && ++instanceElements > kMaxInstanceElements)
        context.Refuse(
            el, "<use> expands to more than " + std::to_string(kMaxInstanceElements) + " elements");
    const std::string_view name = Name(el);
    if (IsShapeName(name)) return Shape(el, parentStyle, m);
    if (name == "use") return Use(el, parentStyle, m);
    if (name != "g" && name != "a" && name != "switch" && name != "svg") return;  // not drawn
    const ComputedStyle style = context.sheet.Compute(el, parentStyle);
    // Children may be visible under a hidden group, but nothing is drawn under display:none
    // or opacity 0.
    if (style.displayNone || !(style.opacity > 0)) {
        gathered.counts.hidden += CountShapes(el);
        return;
    }
    const ElementGeometry geometry = ReadElement(context, gathered.diagnostics, el, m,
                                                 "<" + std::string(name) + "> and its contents");
    if (geometry.failed) {
        gathered.counts.skipped += CountShapes(el);
        return;
    }
    if (geometry.disabled) return;  // a nested viewport of zero size
    if (name == "switch") return Switch(el, style, geometry.matrix);
    const double outer = percentBase;
    if (name == "svg") percentBase = PercentBase(geometry.viewport.x, geometry.viewport.y);
    Children(el, style, geometry.matrix);
    percentBase = outer;
}

void Walker::Shape(xmlNode* el, const ComputedStyle& parentStyle, const Affine& m) {
    if (!decided.insert(el).second) return;
    const std::string tag = Name(el);
    std::string name;
    const int index = ++perTag[tag];
    if (!GetAttribute(el, "id", &name) || name.empty()) name = tag + " " + std::to_string(index);
    const ComputedStyle style = context.sheet.Compute(el, parentStyle);
    if (!IsDrawn(style)) {
        ++gathered.counts.hidden;
        return;
    }
    const std::string what = "<" + tag + " " + name + ">";
    if (PaintsStroke(style) && !style.dasharray.empty() &&
        ResolveDashes(style, percentBase).kind == DashPattern::Kind::Unresolved)
        gathered.diagnostics.Warn(el,
                                  "a dash array in font units (em, ex) or in percentages of an "
                                  "unknown viewport, taken as solid",
                                  what);
    if (const Choice choice = Choose(context, el, style, percentBase, useStack);
        choice != Choice::Dash) {
        ++gathered.counts.leftAlone;
        if (choice == Choice::SolidByItsArray) ++gathered.counts.solidByItsArray;
        return;
    }
    const ElementGeometry geometry = ReadElement(
        context, gathered.diagnostics, el,
        useStack.empty() ? m : DefinitionMatrix(context, gathered.diagnostics, el), what);
    if (geometry.failed) {
        ++gathered.counts.skipped;
        return;
    }
    const Affine& t = geometry.matrix;
    const double det = t.a * t.d - t.b * t.c;
    if (!(std::isfinite(det) && std::fabs(det) > 0 && std::isfinite(1 / det))) {
        gathered.diagnostics.Skip(el, "a singular transform (left unchanged)", what);
        ++gathered.counts.skipped;
        return;
    }
    FoundShape f;
    f.node = el;
    f.throughUse = !useStack.empty();
    f.name = name;
    f.tag = tag;
    f.toPage = t;
    f.style = style;
    f.percentBase = percentBase;
    for (const Subpath& subpath : geometry.subpaths) {
        Subpath page{t(subpath.start), {}, subpath.closed};
        page.primitives.reserve(subpath.primitives.size());
        for (const Primitive& p : subpath.primitives) page.primitives.push_back(Transformed(p, t));
        if (!IsFinite(page)) {
            gathered.diagnostics.Skip(el, "a coordinate is not finite (after transforms)", what);
            ++gathered.counts.skipped;
            return;
        }
        f.subpaths.push_back(std::move(page));
    }
    if (f.subpaths.empty()) return;
    if (context.flattening) FlattenShape(context, *context.flattening, f, gathered.flattenedPoints);
    gathered.shapes.push_back(std::move(f));
}

}  // namespace korrand::io::detail
