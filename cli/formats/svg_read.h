// The parts of the SVG reader and what they share. ReadSvg (svg_reader.cpp) runs them in order:
//
//   svg_parse.cpp    the text parsed by libxml2, safely
//   svg_page.cpp     the root's units and viewport, the flattening tolerance
//   svg_walk.cpp     the walk over what is drawn (svg_use.cpp: <use>, svg_switch.cpp: <switch>)
//   svg_select.cpp   which drawn shapes the options choose (--select, --layer, --id)
//   svg_shapes.cpp   one element's geometry and transform, read by SVG++
//   svg_objects.cpp  the line objects built from the shapes found
//
// What stays fixed while the document is walked (the document, the options, the style sheet,
// the page) is a ReadContext, read only; what the walk gathers is a Gathered.
#pragma once

#include <libxml/tree.h>

#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "document.h"
#include "flatten.h"
#include "svg_scene.h"
#include "svg_style.h"

namespace korrand::io::detail {

// Warnings of a reading: one per kind of skipped construct (its first place and a count), and
// notes of other kinds in order.
class Diagnostics {
public:
    explicit Diagnostics(std::string file) : file_(std::move(file)) {}
    // `kind` says what was wrong, `what` which element; `detail` (such as the bad value) is
    // kept for the first of the kind only.
    void Skip(const xmlNode* node, const std::string& kind, const std::string& what,
              const std::string& detail = {});
    // Like Skip, for what is read but not as the file says.
    void Warn(const xmlNode* node, const std::string& kind, const std::string& what);
    void Note(const std::string& text);
    // What `other` recorded, as if it had been recorded here after what is here.
    void Merge(const Diagnostics& other);
    // Called before anything is recorded (not while it runs): the walk first settles the shapes
    // it read aside, so that what is recorded keeps the document's order.
    std::function<void()> beforeRecording;
    // "<file>" or "<file>:<line>" of a node, for messages.
    std::string Where(const xmlNode* node) const;
    std::vector<std::string> Lines() const;

private:
    struct Kind {
        std::string first;
        int count = 0;
    };
    void Count(const xmlNode* node, const std::string& kind, const std::string& first);
    void BeforeRecording();
    std::string file_;
    std::map<std::string, Kind> kinds_;
    std::vector<std::string> order_;
    std::vector<std::string> notes_;
};

// The root's units and viewport: what percentages resolve against, how a length of the command
// line converts to root user units, and the root user space to the page.
struct Page {
    bool hasViewBox = false;
    double viewBox[4] = {0, 0, 0, 0};
    // What percentages of the root resolve against (0: unknown).
    double viewportWidth = 0, viewportHeight = 0;
    double unitsPerPx = 1;  // root user units per CSS px
    // Root user space to the page, up to a uniform scale: only a viewBox stretched by
    // preserveAspectRatio="none" makes it more than the identity.
    Affine toPage;
};

// The drawing's size (its viewBox, else the box around every control point) and the flattening
// tolerance in root user units.
struct Flattening {
    double size = 0, tolerance = 0;
};

// Fixed for the whole walk.
struct ReadContext {
    std::string file;
    ReadOptions options;
    xmlNode* root = nullptr;
    StyleSheet sheet;
    const Ids& ids;
    Page page;
    // Known before the walk when the root has a viewBox: shapes are then flattened as they are
    // found, and their curves need not all be held at once.
    std::optional<Flattening> flattening;

    // The elements a <use> draws, and those inside them (an Inkscape clone of a group).
    std::unordered_set<const xmlNode*> useTargets;

    ReadContext(std::string file_, const ReadOptions& options_, const SvgScene& scene,
                xmlNode* root_, const Page& page_)
        : file(std::move(file_)),
          options(options_),
          root(root_),
          sheet(scene.styleElements),
          ids(scene.ids),
          page(page_) {
        std::vector<const xmlNode*> open;
        for (const std::string& id : scene.useTargets)
            if (const auto it = scene.ids.find(id); it != scene.ids.end())
                open.push_back(it->second);
        while (!open.empty()) {
            const xmlNode* node = open.back();
            open.pop_back();
            if (!useTargets.insert(node).second) continue;
            for (const xmlNode* c = node->children; c != nullptr; c = c->next)
                if (c->type == XML_ELEMENT_NODE) open.push_back(c);
        }
    }
    [[noreturn]] void Refuse(const xmlNode* node, const std::string& message) const;
};

// A shape the walk found drawn and chosen, with its subpaths in the root's user space.
struct FoundShape {
    xmlNode* node = nullptr;
    bool throughUse = false;
    std::string name, tag;
    Affine toPage;
    ComputedStyle style;
    double percentBase = 0;  // what its percentages are of, in its own user units
    double tolerance = 0;    // how closely it is followed, on the page, once flattened
    // Drawn through <use> but measured where it is defined: where its instance draws it.
    std::unique_ptr<Affine> previewAt;
    std::vector<Subpath> subpaths;
    // Once flattened (FlattenShape): its segments with their closedness, its length on the page,
    // and whether every point stayed finite; the subpaths are then given up.
    bool flattened = false, finite = true;
    std::vector<std::pair<std::vector<Point>, bool>> segments;
    double length = 0;
    std::size_t points = 0;  // flattened
    // Zero-length subpaths its round or square caps draw as dots, in the root's user space:
    // nothing to dash, they are written back as they are.
    std::vector<Point> dots;
    // Whether a subpath encloses an area, which a fill paints: a straight open path has none.
    bool enclosesArea = false;
    // Once built (BuildShape): its line objects, each with the starts of its closed subpaths,
    // and what the writer keeps of it (but the <use>s that draw it, known after the walk).
    bool built = false;
    std::vector<LineObject> objects;
    std::vector<std::vector<Vec2>> seams;
    SvgShape kept;
};

// What the walk gathers.
struct Gathered {
    explicit Gathered(const std::string& file) : diagnostics(file) {}
    std::deque<FoundShape> shapes;  // a shape is large: added without moving the others
    ShapeCounts counts;
    std::size_t flattenedPoints = 0;                         // held to a limit
    std::map<const xmlNode*, std::vector<xmlNode*>> usesOf;  // shape -> <use>s that draw it
    // Shapes whose <use>s paint them differently (one its fill, another its stroke): the
    // original stays for those its dashes do not stand for.
    std::set<const xmlNode*> paintedApart;
    Diagnostics diagnostics;
};

// A style computed once for an element that has children, shared by the shapes read aside.
using StyleRef = std::shared_ptr<const ComputedStyle>;

// A shape the walk came to, whose style, choice and geometry are read aside (svg_walk.cpp):
// what the walk knew of it.
struct PendingShape {
    xmlNode* node = nullptr;
    Affine parent;  // the user space it is drawn in
    StyleRef parentStyle;
    std::vector<const xmlNode*> useStack;
    int index = 0;  // among the shapes of its tag, for a name where it has no id
    double percentBase = 0;
    Vec2 viewport = {0, 0};  // the nearest viewport's size, which its percentages are of
    // Reached again through another <use> while no instance before it had it dashed.
    bool again = false;
};

// The walk's position and its bounds; svg_walk.cpp, svg_use.cpp and svg_switch.cpp share it.
struct Walker {
    const ReadContext& context;
    Gathered& gathered;
    // Shapes already counted (a <use> may reach one again).
    std::unordered_set<const xmlNode*> decided;
    std::map<std::string_view, int> perTag;  // shapes seen per tag, for default names
    std::vector<const xmlNode*> useStack;    // the <use>s the walk is inside
    std::size_t instanceElements = 0;
    int depth = 0;
    // What percentages are of in the nearest viewport: its diagonal / sqrt 2 (0: unknown), and
    // its width and height (0: the root's).
    double percentBase = 0;
    Vec2 viewport = {0, 0};

    void Element(xmlNode* el, const StyleRef& parentStyle, const Affine& m);
    void Children(xmlNode* node, const StyleRef& style, const Affine& m);
    void Shape(xmlNode* el, const StyleRef& parentStyle, const Affine& m);
    void Use(xmlNode* el, const StyleRef& parentStyle, const Affine& m);
    // Text is not dashed: where the options would dash its stroke, the user is told.
    void Text(xmlNode* el, const ComputedStyle& parentStyle);
    void Switch(xmlNode* sw, const StyleRef& style, const Affine& m);

    // Shapes whose style, choice and geometry (path data, transform, flattening, line objects)
    // are read aside, a batch at a time on a few threads, then settled in the document's order
    // (Settle): their warnings, counts and places among the shapes are those of a walk that
    // read each as it came.
    std::vector<PendingShape> pending;
    void Settle();
    // Points flattened aside: past the file's limit, shapes are left for Settle to flatten in
    // order, so what the threads hold stays bounded.
    std::atomic<std::size_t> flattenedAside{0};
    // Shapes drawn through <use>, where the first instance drew each and the style it drew it
    // in: a later instance at another size, or with another dash array or offset, is worth a
    // warning.
    struct Sized {
        Affine m;
        StyleRef parentStyle;
        bool warnedSize = false, warnedDashes = false, paintsApart = false;
        std::shared_ptr<const ComputedStyle> style;  // the shape's in the first, once needed
        std::optional<bool> paintInherited;
    };
    std::unordered_map<const xmlNode*, Sized> instances{};
    void Instance(const xmlNode* shape, const StyleRef& parentStyle, const Affine& m);
    // Shapes first reached through <use>: one is dashed if any of its instances chooses it (a
    // selection of its second instance, a stroke only that instance gives it), and counted once.
    struct ThroughUse {
        int index = 0;
        bool taken = false;        // an instance had it drawn: later ones are not read
        bool drawnItself = false;  // first read where it stands, not through a <use>
        ShapeCounts counted;       // what its first reading counted, until one takes it
    };
    std::unordered_map<const xmlNode*, ThroughUse> throughUse{};
};

// ---- svg_parse.cpp

// Refuses element nesting deeper than the recursive parts of the reader can safely take.
void CheckNesting(const std::string& text, const std::string& file);
// The document parsed by libxml2 into scene.doc; malformed XML is a ReadError.
void ParseDocument(const std::string& text, const std::string& file, SvgScene& scene);

// ---- svg_page.cpp

Page ReadPage(xmlNode* root, Document& doc);
// The tolerance asked for (CSS px), else relative to the drawing's size.
Flattening FlatteningFor(const ReadContext& context, const std::deque<FoundShape>& shapes);

// ---- svg_walk.cpp

// The shapes of the drawing that the options choose land in `gathered`.
void Walk(const ReadContext& context, Gathered& gathered);
// Shapes anywhere under `node` (what display:none or a failed group leaves out).
int64_t CountShapes(const xmlNode* node);

// ---- svg_use.cpp

// No <defs> or <symbol> holds it: its definition is drawn where it stands.
bool DrawnWhereDefined(const xmlNode* node);

// The user space an element's parent establishes where the element is defined (for a shape that
// is drawn through <use>: its own space, the same for every instance).
Affine DefinitionMatrix(const ReadContext& context, Diagnostics& diagnostics, xmlNode* node);

// ---- svg_select.cpp

// Every layer and id asked for is in the document; a hidden layer gets a note.
void CheckChoices(const ReadContext& context, Diagnostics& diagnostics);
// What the options do with a drawn shape of this style, reached through `useStack`: dash it,
// leave it alone as --select, --layer or --id choose, or leave it solid as its own dash array
// draws it, where shapes are dashed by their own arrays (--period dasharray, the default).
enum class Choice { Dash, NotChosen, NotInSelection, SolidByItsArray, MadeByKorrand };
// Whether the shape lies in the layers and among the ids asked for (all, where none are).
bool InSelection(const ReadContext& context, const xmlNode* shape,
                 const std::vector<const xmlNode*>& useStack);
Choice Choose(const ReadContext& context, const xmlNode* shape, const ComputedStyle& style,
              double percentBase, const std::vector<const xmlNode*>& useStack);
// What SVG says percentages of a viewport this size are of: its diagonal / sqrt 2.
double PercentBase(double width, double height);

// ---- svg_shapes.cpp

bool IsShapeName(std::string_view name);
// What SVG++ reads of one element: the transform it adds to `parent` and, for a shape, its
// subpaths in its own user space.
struct ElementGeometry {
    bool failed = false;    // skipped, with a warning
    bool disabled = false;  // a nested viewport of zero size draws nothing
    Affine matrix;
    Vec2 viewport = {0, 0};  // a nested <svg>'s, in its own user units; zero for others
    std::vector<Subpath> subpaths;
};
// A <symbol>'s viewBox in the viewport (width x height) a <use> gives it, as its
// preserveAspectRatio asks; the identity without a viewBox or a viewport.
Affine SymbolViewport(const xmlNode* symbol, double width, double height);
// `viewport`: the size percentages of the element's lengths are of (zero: the root's).
ElementGeometry ReadElement(const ReadContext& context, Diagnostics& diagnostics, xmlNode* node,
                            const Affine& parent, const std::string& what, Vec2 viewport = {0, 0});

// ---- svg_objects.cpp

// Flattened points in one file: past this a file is refused (a larger tolerance is asked for).
constexpr std::size_t kMaxFlattenedPoints = 20'000'000;

// A shape's subpaths flattened into its segments (the subpaths given up); false for a point that
// is not finite once flattened. `total`: points flattened so far in the file, held to a limit.
bool FlattenShape(const ReadContext& context, const Flattening& flattening, FoundShape& shape,
                  std::size_t& total);
// `points` more flattened points on top of `total`; refused past the file's limit.
void CountFlattened(const ReadContext& context, std::size_t& total, std::size_t points);
// The line objects of a flattened, finite shape, and what the writer keeps of it (built).
void BuildShape(const ReadContext& context, FoundShape& shape);

// The line objects of every shape found, and what the writer needs to put their dashes back.
void BuildObjects(const ReadContext& context, const Flattening& flattening, Gathered& gathered,
                  Document& doc, SvgScene& scene);

// ---- shared helpers

const char* Name(const xmlNode* node);
bool Is(const xmlNode* node, const char* name);
int LineOf(const xmlNode* node);
bool GetNsAttribute(const xmlNode* node, const char* name, const char* ns, std::string* value);
constexpr const char kXlinkNamespace[] = "http://www.w3.org/1999/xlink";

}  // namespace korrand::io::detail
