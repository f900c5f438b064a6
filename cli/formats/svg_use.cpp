// <use>: what it draws is walked where it stands, but a shape drawn through <use> is dashed once,
// in its own user space where it is defined, so all its instances show the same dashes. Its
// dashes are measured as the first instance that has it dashed draws it on the page (a symbol
// placed at a fifth of its size gets dashes of the length asked for there), unless its
// definition is drawn itself.
// Reference cycles and chains deeper than kMaxUseDepth are refused.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <optional>

#include "format_detail.h"
#include "svg_read.h"

namespace korrand::io::detail {
namespace {

// Real drawings nest a few levels of symbols; a chain deeper than this is an expansion bomb.
constexpr int kMaxUseDepth = 32;

double LengthOr(const xmlNode* node, const char* name, double fallback) {
    std::string text;
    double value = 0;
    return GetAttribute(node, name, &text) && ParseLength(text, &value) && std::isfinite(value)
               ? value
               : fallback;
}

// A viewport's width or height as given: in user units, a percentage of `reference`, or
// `fallback` where it is not given (or in units of a font).
double ViewportSize(const xmlNode* node, const char* name, double reference, double fallback) {
    std::string text;
    CssLength l;
    if (!GetAttribute(node, name, &text) || !ParseCssLength(text, &l)) return fallback;
    const double size = l.unit == LengthUnit::Percent ? reference * l.value / 100 : UserUnits(l);
    return std::isfinite(size) && size >= 0 ? size : fallback;
}

// A <use>'s x or y: of either sign (ParseLength takes sizes, which are positive), 0 if none.
double CoordinateOf(const xmlNode* node, const char* name) {
    std::string text;
    if (!GetAttribute(node, name, &text)) return 0;
    const std::size_t start = text.find_first_not_of(" \t\r\n");
    const bool negative = start != std::string::npos && text[start] == '-';
    if (negative) {
        text.erase(start, 1);
        // A sign stands right before its number.
        if (start == text.size() ||
            !(std::isdigit(static_cast<unsigned char>(text[start])) || text[start] == '.'))
            return 0;
    }
    double value = 0;
    return ParseLength(text, &value) && std::isfinite(value) ? (negative ? -value : value) : 0;
}

// Two transforms that draw every length alike: the same lengths in every direction.
bool SameSize(const Affine& x, const Affine& y) {
    const auto near = [](double p, double q) {
        return std::fabs(p - q) <= 1e-9 * (std::fabs(p) + std::fabs(q));
    };
    return near(std::fabs(x.Det()), std::fabs(y.Det())) &&
           near(x.a * x.a + x.b * x.b + x.c * x.c + x.d * x.d,
                y.a * y.a + y.b * y.b + y.c * y.c + y.d * y.d);
}

bool SameDashes(const ComputedStyle& x, const ComputedStyle& y) {
    const auto same = [](const CssLength& p, const CssLength& q) {
        return p.value == q.value && p.unit == q.unit;
    };
    return x.dasharray.size() == y.dasharray.size() &&
           std::equal(x.dasharray.begin(), x.dasharray.end(), y.dasharray.begin(), same) &&
           same(x.dashoffset, y.dashoffset);
}

}  // namespace

bool DrawnWhereDefined(const xmlNode* node) {
    for (const xmlNode* a = node->parent; a != nullptr; a = a->parent)
        if (a->type == XML_ELEMENT_NODE && (Is(a, "defs") || Is(a, "symbol"))) return false;
    return true;
}

void Walker::Instance(const xmlNode* shape, const StyleRef& parentStyle, const Affine& m) {
    const auto [it, isFirst] =
        instances.try_emplace(shape, Sized{m, parentStyle, false, false, false, {}, {}});
    if (isFirst) return;
    Sized& first = it->second;
    // Each warning once per shape, however many instances differ.
    if (!first.warnedSize && !SameSize(first.m, m)) {
        first.warnedSize = true;
        gathered.diagnostics.Warn(shape,
                                  "drawn at different sizes by <use> (its dashes are measured "
                                  "once, so some instances show them scaled)",
                                  "<" + std::string(Name(shape)) + ">");
    }
    // The shape's style in this instance and in the first, computed only where what they
    // inherit differs, each at most once.
    std::optional<ComputedStyle> own;
    const auto mine = [&]() -> const ComputedStyle& {
        if (!own) own = context.sheet.Compute(shape, *parentStyle);
        return *own;
    };
    const auto firsts = [&]() -> const ComputedStyle& {
        if (!first.style)
            first.style = std::make_shared<const ComputedStyle>(
                context.sheet.Compute(shape, *first.parentStyle));
        return *first.style;
    };
    // Whether what an instance inherits can decide if the shape paints its fill or its stroke
    // (not when its own declarations or the sheet's rules for it do): asked once per shape.
    if (!first.paintInherited) {
        ComputedStyle painted, bare;
        painted.stroke = Paint{Paint::Kind::Color, 1, "black"};
        bare.fill = Paint{};
        const ComputedStyle a = context.sheet.Compute(shape, painted);
        const ComputedStyle b = context.sheet.Compute(shape, bare);
        first.paintInherited = PaintsFill(a) != PaintsFill(b) || PaintsStroke(a) != PaintsStroke(b);
    }
    // An instance that paints the shape otherwise (its fill, or no stroke, where another paints
    // a stroke).
    if (!first.paintsApart && *first.paintInherited && parentStyle != first.parentStyle &&
        (PaintsFill(*parentStyle) != PaintsFill(*first.parentStyle) ||
         PaintsStroke(*parentStyle) != PaintsStroke(*first.parentStyle)) &&
        (PaintsFill(mine()) != PaintsFill(firsts()) ||
         PaintsStroke(mine()) != PaintsStroke(firsts()))) {
        first.paintsApart = true;
        gathered.paintedApart.insert(shape);
    }
    // An instance's dash array and offset come from what it inherits, unless the shape says its
    // own. One that draws no stroke shows no dashes.
    if (!first.warnedDashes && parentStyle != first.parentStyle &&
        !SameDashes(*parentStyle, *first.parentStyle) && PaintsStroke(mine()) &&
        PaintsStroke(firsts()) && !SameDashes(mine(), firsts())) {
        first.warnedDashes = true;
        gathered.diagnostics.Warn(shape,
                                  "given other dash arrays or offsets by its <use>s (it is "
                                  "dashed once, as the first draws it)",
                                  "<" + std::string(Name(shape)) + ">");
    }
}

void Walker::Use(xmlNode* el, const StyleRef& parentStyle, const Affine& m) {
    const StyleRef style =
        std::make_shared<const ComputedStyle>(context.sheet.Compute(el, *parentStyle));
    if (style->displayNone || !(style->opacity > 0)) return;
    std::string href;
    if (!GetNsAttribute(el, "href", kXlinkNamespace, &href)) GetAttribute(el, "href", &href);
    if (href.size() < 2 || href[0] != '#') {
        gathered.diagnostics.Skip(
            el, "a <use> of anything but an element of this document (nothing is fetched)",
            "<use>");
        return;
    }
    const auto it = context.ids.find(std::string_view(href).substr(1));
    if (it == context.ids.end()) {
        gathered.diagnostics.Skip(el, "a <use> of an id that is not in the document", "<use>");
        return;
    }
    xmlNode* target = it->second;
    if (IsShapeName(Name(target))) gathered.usesOf[target].push_back(el);
    for (const xmlNode* a = el; a != nullptr; a = a->parent)
        if (a == target)
            context.Refuse(el, "<use> of " + href + " refers to itself (a reference cycle)");
    if (std::find(useStack.begin(), useStack.end(), el) != useStack.end())
        context.Refuse(el, "<use> of " + href + " is part of a reference cycle");
    if (useStack.size() >= static_cast<std::size_t>(kMaxUseDepth))
        context.Refuse(el,
                       "<use> references nest more than " + std::to_string(kMaxUseDepth) + " deep");
    // Where this instance draws: the <use>'s transform, then its x and y, then for a <symbol>
    // its viewBox in the viewport the <use>'s width and height give (the page's by default).
    // An <svg> is such a viewport too where the <use> gives a size, which overrides its own.
    const ElementGeometry placed = ReadElement(context, gathered.diagnostics, el, m, "<use>");
    if (placed.failed) {
        gathered.counts.skipped += CountShapes(target);
        return;
    }
    Affine at = placed.matrix * Affine::Translate(CoordinateOf(el, "x"), CoordinateOf(el, "y"));
    useStack.push_back(el);
    const bool svg = Is(target, "svg");
    if (Is(target, "symbol") ||
        (svg && (OwnAttribute(el, "width") != nullptr || OwnAttribute(el, "height") != nullptr))) {
        double width = LengthOr(el, "width", context.page.viewportWidth);
        double height = LengthOr(el, "height", context.page.viewportHeight);
        if (svg) {
            // The <use>'s size, else the <svg>'s own, else the viewport's; percentages of the
            // viewport it is drawn in. A size of zero draws nothing.
            const Vec2 outer = viewport.x > 0 && viewport.y > 0
                                   ? viewport
                                   : Vec2{context.page.viewportWidth, context.page.viewportHeight};
            width =
                ViewportSize(el, "width", outer.x, ViewportSize(target, "width", outer.x, outer.x));
            height = ViewportSize(el, "height", outer.y,
                                  ViewportSize(target, "height", outer.y, outer.y));
            if (!(width > 0 && height > 0)) {
                useStack.pop_back();
                return;
            }
            at = at * Affine::Translate(CoordinateOf(target, "x"), CoordinateOf(target, "y"));
        }
        at = at * SymbolViewport(target, width, height);
        const StyleRef symbolStyle =
            std::make_shared<const ComputedStyle>(context.sheet.Compute(target, *style));
        // A symbol is a viewport: its content's percentages are of its viewBox, else of the
        // size the <use> gives it.
        const double outer = percentBase;
        const Vec2 outerViewport = viewport;
        std::string text;
        double box[4];
        if (GetAttribute(target, "viewBox", &text) && ParseViewBox(text, box) && box[2] > 0 &&
            box[3] > 0)
            viewport = {box[2], box[3]};
        else if (width > 0 && height > 0)
            viewport = {width, height};
        percentBase = PercentBase(viewport.x, viewport.y);
        if (!symbolStyle->displayNone && symbolStyle->opacity > 0)
            Children(target, symbolStyle, at);
        percentBase = outer;
        viewport = outerViewport;
    } else {
        Element(target, style, at);
    }
    useStack.pop_back();
}

Affine DefinitionMatrix(const ReadContext& context, Diagnostics& diagnostics, xmlNode* node) {
    std::vector<xmlNode*> chain;
    for (xmlNode* a = node->parent; a != nullptr && a != context.root; a = a->parent)
        if (a->type == XML_ELEMENT_NODE) chain.push_back(a);
    Affine m = context.page.toPage;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        m = ReadElement(context, diagnostics, *it, m, "<" + std::string(Name(*it)) + ">").matrix;
    return m;
}

}  // namespace korrand::io::detail
