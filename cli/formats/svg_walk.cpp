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

namespace {

// The shapes within `node` that the layers and ids asked for choose.
int64_t CountChosenShapes(const ReadContext& context, const xmlNode* node,
                          const std::vector<const xmlNode*>& useStack) {
    int64_t n =
        IsSvgElement(node) && IsShapeName(Name(node)) && InSelection(context, node, useStack) ? 1
                                                                                              : 0;
    for (const xmlNode* c = node->children; c != nullptr; c = c->next)
        if (c->type == XML_ELEMENT_NODE) n += CountChosenShapes(context, c, useStack);
    return n;
}

}  // namespace

void Walk(const ReadContext& context, Gathered& gathered) {
    CheckChoices(context, gathered.diagnostics);
    Walker walker{context,
                  gathered,
                  {},
                  {},
                  {},
                  0,
                  0,
                  PercentBase(context.page.viewportWidth, context.page.viewportHeight),
                  {context.page.viewportWidth, context.page.viewportHeight},
                  {}};
    struct Hook {
        Diagnostics& diagnostics;
        ~Hook() { diagnostics.beforeRecording = nullptr; }
    } hook{gathered.diagnostics};
    gathered.diagnostics.beforeRecording = [&walker] { walker.Settle(); };
    try {
        walker.Children(context.root,
                        std::make_shared<const ComputedStyle>(
                            context.sheet.Compute(context.root, ComputedStyle{})),
                        context.page.toPage);
        walker.Settle();
    } catch (const ReadError&) {
        throw;
    } catch (const std::exception& e) {
        throw ReadError(context.file, 0, std::string("cannot read the SVG: ") + e.what());
    }
}

void Walker::Children(xmlNode* node, const StyleRef& style, const Affine& m) {
    for (xmlNode* c = node->children; c != nullptr; c = c->next) {
        if (c->type == XML_ELEMENT_NODE) {
            Element(c, style, m);
        } else if (c->type == XML_ENTITY_REF_NODE && c->children != nullptr) {
            // An entity's elements stay a reference to its text, written back as such: what
            // they draw is not dashed, and the user is told.
            const auto* entity = reinterpret_cast<const xmlEntity*>(c->children);
            for (const xmlNode* e = entity->children; e != nullptr; e = e->next)
                if (e->type == XML_ELEMENT_NODE) {
                    gathered.diagnostics.Warn(c,
                                              "elements in an entity's text are left as they "
                                              "are (a reference is written back as it is)",
                                              "&" + std::string(Name(c)) + ";");
                    break;
                }
        }
    }
}

void Walker::Element(xmlNode* el, const StyleRef& parentStyle, const Affine& m) {
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
    if (name == "text") return Text(el, *parentStyle);
    if (name != "g" && name != "a" && name != "switch" && name != "svg") return;  // not drawn
    const StyleRef style =
        std::make_shared<const ComputedStyle>(context.sheet.Compute(el, *parentStyle));
    // Children may be visible under a hidden group, but nothing is drawn under display:none
    // or opacity 0.
    if (style->displayNone || !(style->opacity > 0)) {
        // Those outside the layers or ids asked for were not chosen, whether drawn or not.
        const int64_t all = CountShapes(el);
        const int64_t chosen = context.options.layers.empty() && context.options.ids.empty()
                                   ? all
                                   : CountChosenShapes(context, el, useStack);
        gathered.counts.hidden += chosen;
        gathered.counts.leftAlone += all - chosen;
        gathered.counts.outsideSelection += all - chosen;
        return;
    }
    const ElementGeometry geometry =
        ReadElement(context, gathered.diagnostics, el, m,
                    "<" + std::string(name) + "> and its contents", viewport);
    if (geometry.failed) {
        gathered.counts.skipped += CountShapes(el);
        return;
    }
    if (geometry.disabled) return;  // a nested viewport of zero size
    if (name == "switch") return Switch(el, style, geometry.matrix);
    const double outer = percentBase;
    const Vec2 outerViewport = viewport;
    if (name == "svg") {
        percentBase = PercentBase(geometry.viewport.x, geometry.viewport.y);
        viewport = geometry.viewport;
    }
    Children(el, style, geometry.matrix);
    percentBase = outer;
    viewport = outerViewport;
}

void Walker::Text(xmlNode* el, const ComputedStyle& parentStyle) {
    const ComputedStyle style = context.sheet.Compute(el, parentStyle);
    if (style.displayNone || !(style.opacity > 0)) return;  // nor is anything in it drawn
    if (IsDrawn(style) && Choose(context, el, style, percentBase, useStack) == Choice::Dash) {
        std::string id;
        GetAttribute(el, "id", &id);
        return gathered.diagnostics.Warn(
            el,
            "text is left as it is: its outline is dashed once it is a path (Inkscape: Path > "
            "Object to Path)",
            "<" + std::string(Name(el)) + (id.empty() ? "" : " " + id) + ">");
    }
    // A <tspan>'s own stroke, which may be visible in hidden text.
    for (xmlNode* c = el->children; c != nullptr; c = c->next)
        if (c->type == XML_ELEMENT_NODE && IsSvgElement(c)) Text(c, style);
}

void Walker::Shape(xmlNode* el, const StyleRef& parentStyle, const Affine& m) {
    if (!useStack.empty()) Instance(el, parentStyle, m);
    PendingShape job;
    if (!decided.insert(el).second) {
        const auto reached = throughUse.find(el);
        // Met again, through a <use> or where it stands (a <use> of it came first): chosen
        // there, it is dashed, unless an earlier meeting had it dashed.
        if (reached == throughUse.end() || reached->second.taken) return;
        job.again = true;
        job.index = reached->second.index;
    } else {
        job.index = ++perTag[Name(el)];
        // A shape drawn itself and again by a <use> (an Inkscape clone) is dashed when either
        // chooses it: its first reading is noted as an instance's would be.
        if (!useStack.empty() ||
            (!context.useTargets.empty() && context.useTargets.count(el) != 0)) {
            ThroughUse& u = throughUse[el];
            u.index = job.index;
            u.drawnItself = useStack.empty();
        }
    }
    job.node = el;
    job.parent = m;
    job.parentStyle = parentStyle;
    job.useStack = useStack;
    job.percentBase = percentBase;
    job.viewport = viewport;
    pending.push_back(std::move(job));
    if (pending.size() >= kSettleBatch) Settle();
}

namespace {

// What reading a pending shape aside gives, settled in the document's order.
struct ReadShape {
    explicit ReadShape(const std::string& file) : diagnostics(file) {}
    Diagnostics diagnostics;
    int64_t skipped = 0, hidden = 0, leftAlone = 0, solidByItsArray = 0, outsideSelection = 0,
            noLength = 0, madeByKorrand = 0;
    bool drawn = false;   // chosen, and its geometry draws something
    bool chosen = false;  // another instance's: chosen, its geometry not read yet
    FoundShape shape;
    std::exception_ptr failure;
};

void ReadGeometry(const ReadContext& context, const PendingShape& job, ReadShape& r);

// A pending shape's style and whether the options choose it, then its geometry, read by SVG++
// and taken to the root's user space. What it would record and count goes to `r`. Another
// instance of a shape is only chosen here: its geometry is read if it takes the shape.
void ReadAside(const ReadContext& context, const PendingShape& job, ReadShape& r) {
    xmlNode* el = job.node;
    FoundShape& f = r.shape;
    f.tag = Name(el);
    if (!GetAttribute(el, "id", &f.name) || f.name.empty())
        f.name = f.tag + " " + std::to_string(job.index);
    f.style = context.sheet.Compute(el, *job.parentStyle);
    if (!IsDrawn(f.style)) {
        // Outside the layers or ids asked for, it was not chosen, whether drawn or not.
        if (InSelection(context, el, job.useStack)) {
            ++r.hidden;
        } else {
            ++r.leftAlone;
            ++r.outsideSelection;
        }
        return;
    }
    const std::string what = "<" + f.tag + " " + f.name + ">";
    if (PaintsStroke(f.style) && !f.style.dasharray.empty() &&
        ResolveDashes(f.style, job.percentBase).kind == DashPattern::Kind::Unresolved)
        r.diagnostics.Warn(el,
                           "a dash array in font units (em, ex) without a font-size in "
                           "absolute units, in percentages of an unknown viewport, or with var() "
                           "or calc(), taken as solid",
                           what);
    if (const Choice choice = Choose(context, el, f.style, job.percentBase, job.useStack);
        choice != Choice::Dash) {
        ++r.leftAlone;
        if (choice == Choice::SolidByItsArray) ++r.solidByItsArray;
        if (choice == Choice::NotInSelection) ++r.outsideSelection;
        if (choice == Choice::MadeByKorrand) ++r.madeByKorrand;
        return;
    }
    if (f.style.cssTransform || f.style.cssGeometry)
        r.diagnostics.Warn(el,
                           "a transform or geometry given in CSS (SVG 2: a style attribute or "
                           "a rule), which korrand does not read: dashed as the attributes draw it",
                           what);
    if (job.again) {
        r.chosen = true;
        return;
    }
    ReadGeometry(context, job, r);
}

void ReadGeometry(const ReadContext& context, const PendingShape& job, ReadShape& r) {
    xmlNode* el = job.node;
    FoundShape& f = r.shape;
    const std::string what = "<" + f.tag + " " + f.name + ">";
    f.throughUse = !job.useStack.empty();
    // Drawn only through <use>: measured as this instance draws it, where that draws it
    // at another size than its definition would (and draws it at all).
    Affine parent = job.parent;
    bool whereDefined = false;
    if (f.throughUse) {
        const Affine defined = DefinitionMatrix(context, r.diagnostics, el);
        const double det = parent.Det();
        whereDefined = DrawnWhereDefined(el) ||
                       !(std::isfinite(det) && det != 0 && std::isfinite(1 / det)) ||
                       (defined.a == parent.a && defined.b == parent.b && defined.c == parent.c &&
                        defined.d == parent.d);
        if (whereDefined) parent = defined;
    }
    const ElementGeometry geometry =
        ReadElement(context, r.diagnostics, el, parent, what, job.viewport);
    if (geometry.failed) {
        ++r.skipped;
        return;
    }
    const Affine& t = geometry.matrix;
    if (context.options.preview && whereDefined && !DrawnWhereDefined(el))
        f.previewAt = std::make_unique<Affine>(job.parent * parent.Inverse() * t);
    const double det = t.a * t.d - t.b * t.c;
    if (!(std::isfinite(det) && std::fabs(det) > 0 && std::isfinite(1 / det))) {
        r.diagnostics.Skip(el, "a singular transform (left unchanged)", what);
        ++r.skipped;
        return;
    }
    f.node = el;
    f.toPage = t;
    f.percentBase = job.percentBase;
    for (const Subpath& subpath : geometry.subpaths) {
        Subpath page{t(subpath.start), {}, subpath.closed};
        page.primitives.reserve(subpath.primitives.size());
        for (const Primitive& p : subpath.primitives) page.primitives.push_back(Transformed(p, t));
        if (!IsFinite(page)) {
            r.diagnostics.Skip(el, "a coordinate is not finite (after transforms)", what);
            ++r.skipped;
            return;
        }
        f.subpaths.push_back(std::move(page));
    }
    r.drawn = !f.subpaths.empty();
    if (!r.drawn) {  // an empty path, a lone point: chosen, with nothing to dash
        ++r.leftAlone;
        ++r.noLength;
    }
}

}  // namespace

void Walker::Settle() {
    if (pending.empty()) return;
    std::vector<PendingShape> jobs;
    jobs.swap(pending);
    std::vector<ReadShape> read;
    read.reserve(jobs.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) read.emplace_back(context.file);
    ForEachInParallel(jobs.size(), ThreadsFor(jobs.size(), 64), 16, [&](std::size_t i, unsigned) {
        ReadShape& r = read[i];
        try {
            ReadAside(context, jobs[i], r);
            // With the drawing's size known, the shape is flattened and its line objects built
            // here too, while the points flattened aside stay within the file's limit.
            if (!r.drawn || !context.flattening || flattenedAside.load() > kMaxFlattenedPoints)
                return;
            std::size_t points = 0;
            if (FlattenShape(context, *context.flattening, r.shape, points))
                BuildShape(context, r.shape);
            flattenedAside += points;
        } catch (...) {
            r.failure = std::current_exception();
        }
    });
    // In the document's order, as if each had been read as the walk came to it; the file's
    // limit on flattened points stops it where it did.
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        ReadShape& r = read[i];
        const PendingShape& job = jobs[i];
        if (const auto reached = throughUse.find(job.node); reached != throughUse.end()) {
            ThroughUse& u = reached->second;
            if (job.again && !r.failure) {
                // Another instance: it counts only where it takes what none before it did.
                if (u.taken || !r.chosen) continue;
                ReadGeometry(context, job, r);
                if (!r.drawn) continue;
                if (u.drawnItself)
                    r.diagnostics.Warn(job.node,
                                       "a shape chosen through a <use> (a clone) is dashed "
                                       "where it is drawn itself too, though not chosen there",
                                       "<" + r.shape.tag + " " + r.shape.name + ">");
                gathered.counts.skipped -= u.counted.skipped;
                gathered.counts.hidden -= u.counted.hidden;
                gathered.counts.leftAlone -= u.counted.leftAlone;
                gathered.counts.solidByItsArray -= u.counted.solidByItsArray;
                gathered.counts.outsideSelection -= u.counted.outsideSelection;
                gathered.counts.noLength -= u.counted.noLength;
                gathered.counts.madeByKorrand -= u.counted.madeByKorrand;
            }
            u.taken = r.drawn;
            u.counted.skipped = r.skipped;
            u.counted.hidden = r.hidden;
            u.counted.leftAlone = r.leftAlone;
            u.counted.solidByItsArray = r.solidByItsArray;
            u.counted.outsideSelection = r.outsideSelection;
            u.counted.noLength = r.noLength;
            u.counted.madeByKorrand = r.madeByKorrand;
        }
        gathered.diagnostics.Merge(r.diagnostics);
        gathered.counts.skipped += r.skipped;
        gathered.counts.hidden += r.hidden;
        gathered.counts.leftAlone += r.leftAlone;
        gathered.counts.solidByItsArray += r.solidByItsArray;
        gathered.counts.outsideSelection += r.outsideSelection;
        gathered.counts.noLength += r.noLength;
        gathered.counts.madeByKorrand += r.madeByKorrand;
        if (r.failure) std::rethrow_exception(r.failure);
        if (!r.drawn) continue;
        if (r.shape.flattened)
            CountFlattened(context, gathered.flattenedPoints, r.shape.points);
        else if (context.flattening)
            FlattenShape(context, *context.flattening, r.shape, gathered.flattenedPoints);
        gathered.shapes.push_back(std::move(r.shape));
    }
}

}  // namespace korrand::io::detail
