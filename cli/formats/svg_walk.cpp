// The walk over what is drawn. It decides what a viewer draws: <defs>, <symbol>, <clipPath>,
// <mask>, <marker> and <pattern> only through <use> (svg_use.cpp), one child of a <switch>
// (svg_switch.cpp), nothing under display:none; the shapes the options choose
// (svg_select.cpp) are read (svg_shapes.cpp) into the root's user space.
#include <cmath>
#include <exception>

#include "parallel.h"
#include "svg_read.h"

namespace korrand::io::detail {
namespace {

// The walk recurses per level of the file's own nesting (checked before parsing) plus what
// <use> adds.
constexpr int kMaxWalkDepth = 2 * 256;
// <use> expansion: a fan-out that makes the walk visit more elements than this is a bomb.
constexpr std::size_t kMaxInstanceElements = 1'000'000;
// Shapes read aside at a time: few enough that what they hold stays small, many enough to share
// out over a few threads.
constexpr std::size_t kSettleBatch = 1024;

}  // namespace

int64_t CountShapes(const xmlNode* node) {
    int64_t n = IsSvgElement(node) && IsShapeName(Name(node)) ? 1 : 0;
    for (const xmlNode* c = node->children; c != nullptr; c = c->next)
        if (c->type == XML_ELEMENT_NODE) n += CountShapes(c);
    return n;
}

void Walk(const ReadContext& context, Gathered& gathered) {
    CheckChoices(context, gathered.diagnostics);
    Walker walker{
        context, gathered, {}, {},
        {},      0,        0,  PercentBase(context.page.viewportWidth, context.page.viewportHeight),
        {}};
    struct Hook {
        Diagnostics& diagnostics;
        ~Hook() { diagnostics.beforeRecording = nullptr; }
    } hook{gathered.diagnostics};
    gathered.diagnostics.beforeRecording = [&walker] { walker.Settle(); };
    try {
        walker.Children(context.root, context.sheet.Compute(context.root, ComputedStyle{}),
                        context.page.toPage);
        walker.Settle();
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
    PendingShape job;
    job.node = el;
    job.parent = useStack.empty() ? m : DefinitionMatrix(context, gathered.diagnostics, el);
    job.throughUse = !useStack.empty();
    job.name = name;
    job.tag = tag;
    job.what = what;
    job.style = style;
    job.percentBase = percentBase;
    pending.push_back(std::move(job));
    if (pending.size() >= kSettleBatch) Settle();
}

namespace {

// A pending shape's geometry: read by SVG++ and taken to the root's user space. What it would
// record and count goes to `diagnostics` and `skipped`; false when it draws nothing.
bool ReadAside(const ReadContext& context, const PendingShape& job, Diagnostics& diagnostics,
               int64_t& skipped, FoundShape& f) {
    xmlNode* el = job.node;
    const ElementGeometry geometry = ReadElement(context, diagnostics, el, job.parent, job.what);
    if (geometry.failed) {
        ++skipped;
        return false;
    }
    const Affine& t = geometry.matrix;
    const double det = t.a * t.d - t.b * t.c;
    if (!(std::isfinite(det) && std::fabs(det) > 0 && std::isfinite(1 / det))) {
        diagnostics.Skip(el, "a singular transform (left unchanged)", job.what);
        ++skipped;
        return false;
    }
    f.node = el;
    f.throughUse = job.throughUse;
    f.name = job.name;
    f.tag = job.tag;
    f.toPage = t;
    f.style = job.style;
    f.percentBase = job.percentBase;
    for (const Subpath& subpath : geometry.subpaths) {
        Subpath page{t(subpath.start), {}, subpath.closed};
        page.primitives.reserve(subpath.primitives.size());
        for (const Primitive& p : subpath.primitives) page.primitives.push_back(Transformed(p, t));
        if (!IsFinite(page)) {
            diagnostics.Skip(el, "a coordinate is not finite (after transforms)", job.what);
            ++skipped;
            return false;
        }
        f.subpaths.push_back(std::move(page));
    }
    return !f.subpaths.empty();
}

}  // namespace

void Walker::Settle() {
    if (pending.empty()) return;
    std::vector<PendingShape> jobs;
    jobs.swap(pending);
    struct Read {
        explicit Read(const std::string& file) : diagnostics(file) {}
        Diagnostics diagnostics;
        int64_t skipped = 0;
        bool drawn = false;
        FoundShape shape;
        std::exception_ptr failure;
    };
    std::vector<Read> read;
    read.reserve(jobs.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) read.emplace_back(context.file);
    ForEachInParallel(jobs.size(), ThreadsFor(jobs.size(), 64), 16, [&](std::size_t i, unsigned) {
        Read& r = read[i];
        try {
            r.drawn = ReadAside(context, jobs[i], r.diagnostics, r.skipped, r.shape);
        } catch (...) {
            r.failure = std::current_exception();
        }
    });
    // In the document's order, as if each had been read as the walk came to it. Flattening
    // comes here, in order, so that the limit on the file's points stops it where it did.
    for (Read& r : read) {
        gathered.diagnostics.Merge(r.diagnostics);
        gathered.counts.skipped += r.skipped;
        if (r.failure) std::rethrow_exception(r.failure);
        if (!r.drawn) continue;
        if (context.flattening)
            FlattenShape(context, *context.flattening, r.shape, gathered.flattenedPoints);
        gathered.shapes.push_back(std::move(r.shape));
    }
}

}  // namespace korrand::io::detail
