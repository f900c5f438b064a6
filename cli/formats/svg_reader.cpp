// SVG reading. The document is parsed with libxml2 and kept whole for the writer; each drawn
// path, polyline, polygon, line, rect, circle and ellipse that the selection picks becomes line
// objects in the root's user space (the page up to a uniform scale; only a viewBox stretched by
// preserveAspectRatio="none" is evened out, so dash lengths compare as on paper): one object
// for its closed subpaths and one for its open ones, each subpath one segment, each object
// telling the modifier whether to measure it closed. With a period every subpath is an object
// of its own.
//
// SVG++ reads the shapes' geometry, transforms and nested viewports, element by element as our
// walk over the tree reaches them (the walk itself decides what is drawn: <defs>, <symbol>,
// <clipPath>, <mask>, <marker>, <pattern> only through <use>, nothing under display:none).
// Arcs reach us unconverted (SVG++'s own arc conversion misbehaves on zero radii) and all
// flattening is ours (flatten.h).
//
// Safety: libxml2 parses without network access, without loading a DTD and without substituting
// entities (references in text stay references and are written back as such; an entity bomb or
// an external entity in an attribute is refused as libxml2 refuses it); an external entity loader
// that refuses everything stands guard in case any code path still asks for one.
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string_view>
#include <tuple>
#include <type_traits>

#include <svgpp/policy/xml/libxml2.hpp>
#include <svgpp/svgpp.hpp>

#include "flatten.h"
#include "format_detail.h"
#include "segment_groups.h"
#include "svg_scene.h"
#include "svg_style.h"

namespace korrand::io::detail {
namespace {

constexpr int kMaxNesting = 256;                // element depth; the walk recurses per level
constexpr std::size_t kMaxPoints = 20'000'000;  // flattened points in one file
// <use> expansion: real drawings nest a few levels of symbols; a chain deeper than this, or a
// fan-out that makes the walk visit more elements than this, is an expansion bomb.
constexpr int kMaxUseDepth = 32;
constexpr std::size_t kMaxInstanceElements = 1'000'000;
constexpr int kMaxWalkDepth = 2 * kMaxNesting;  // a file's own nesting plus what <use> adds
constexpr const char kXlinkNamespace[] = "http://www.w3.org/1999/xlink";

const char* Name(const xmlNode* node) {
    return reinterpret_cast<const char*>(node->name);
}
bool Is(const xmlNode* node, const char* name) {
    return std::strcmp(Name(node), name) == 0;
}
int LineOf(const xmlNode* node) {
    return static_cast<int>(xmlGetLineNo(node));
}

bool GetNsAttribute(const xmlNode* node, const char* name, const char* ns, std::string* value) {
    xmlChar* v = xmlGetNsProp(node, reinterpret_cast<const xmlChar*>(name),
                              reinterpret_cast<const xmlChar*>(ns));
    if (v == nullptr) return false;
    *value = reinterpret_cast<const char*>(v);
    xmlFree(v);
    return true;
}

struct Found {
    xmlNode* node;
    bool throughUse = false;
    std::string name, tag;
    int line = 0;
    Affine toPage;
    ComputedStyle style;
    std::vector<Subpath> subpaths;  // in the root's user space
};

struct Reader {
    std::string file;
    ReadOptions options;
    std::unique_ptr<StyleSheet> sheet;
    xmlNode* root = nullptr;
    Ids ids;
    std::set<const xmlNode*> decided;  // shapes already counted (a <use> may reach one again)
    std::vector<Found> found;
    ShapeCounts counts;
    std::map<std::string, int, std::less<>> perTag;  // shapes seen per tag, for default names
    // Skipped constructs, one warning per kind: the first place and how many.
    struct Kind {
        std::string first;
        int count = 0;
    };
    std::map<std::string, Kind> skipped;
    std::vector<std::string> kindOrder;
    std::vector<std::string> notes;  // warnings of other kinds, in order
    std::vector<const xmlNode*> useStack;
    std::map<const xmlNode*, std::vector<xmlNode*>> usesOf;  // shape -> <use>s that draw it
    std::size_t instanceElements = 0;
    int depth = 0;
    // Root user space to the page, up to a uniform scale: only a viewBox stretched by
    // preserveAspectRatio="none" makes it more than the identity.
    Affine page;
    svgpp::factory::length::unitless<> lengths;

    // One warning per kind: the first place (with `detail`, such as the bad value) and a count.
    void Skip(const xmlNode* node, const std::string& kind, const std::string& what,
              const std::string& detail = {}) {
        Kind& k = skipped[kind];
        if (k.count++ == 0) {
            kindOrder.push_back(kind);
            std::string text = file.empty() ? std::string("<input>") : file;
            if (node != nullptr && LineOf(node) > 0) text += ":" + std::to_string(LineOf(node));
            k.first = text + ": skipped " + what + ": " + kind + detail;
        }
    }
    [[noreturn]] void Refuse(const xmlNode* node, const std::string& message) const {
        throw ReadError(file, node != nullptr ? LineOf(node) : 0, message);
    }
};

// One element as SVG++ reads its attributes: the transform it adds to `matrix`, and for a shape
// its subpaths in its own user space.
class Context {
public:
    using length_factory_type = const svgpp::factory::length::unitless<>;

    Context(Reader& reader, const xmlNode* node, const Affine& parent, std::string what)
        : reader_(&reader), node_(node), what_(std::move(what)), matrix_(parent) {}

    length_factory_type& length_factory() const { return reader_->lengths; }
    bool failed() const { return failed_; }
    bool disabled() const { return disabled_; }
    const Affine& matrix() const { return matrix_; }
    std::vector<Subpath>& subpaths() { return subpaths_; }

    // Called by the error policy: the element (and what it contains) is skipped with a warning.
    void Fail(const std::string& why, const std::string& detail = {}) const {
        if (failed_) return;
        failed_ = true;
        reader_->Skip(node_, why, what_, detail);
    }

    void transform_matrix(const boost::array<double, 6>& m) {
        matrix_ = matrix_ * Affine{m[0], m[1], m[2], m[3], m[4], m[5]};
    }

    // Nested <svg> viewports (the root's is never read).
    void set_viewport(double x, double y, double, double) {
        matrix_ = matrix_ * Affine::Translate(x, y);
    }
    void set_viewbox_transform(double tx, double ty, double sx, double sy, bool) {
        matrix_ = matrix_ * Affine::Translate(tx, ty) * Affine::Scale(sx, sy);
    }
    void set_viewbox_size(double, double) {}
    void disable_rendering() { disabled_ = true; }

    void path_move_to(double x, double y, svgpp::tag::coordinate::absolute) {
        subpaths_.push_back(Subpath{{x, y}, {}, false});
        open_ = true;
        current_ = {x, y};
    }
    void path_line_to(double x, double y, svgpp::tag::coordinate::absolute) {
        Primitive line;
        line.p[0] = {x, y};
        Add(line);
    }
    void path_quadratic_bezier_to(double x1, double y1, double x, double y,
                                  svgpp::tag::coordinate::absolute) {
        Primitive q;
        q.kind = Primitive::Kind::Quadratic;
        q.p[0] = {x1, y1};
        q.p[1] = {x, y};
        Add(q);
    }
    void path_cubic_bezier_to(double x1, double y1, double x2, double y2, double x, double y,
                              svgpp::tag::coordinate::absolute) {
        Primitive c;
        c.kind = Primitive::Kind::Cubic;
        c.p[0] = {x1, y1};
        c.p[1] = {x2, y2};
        c.p[2] = {x, y};
        Add(c);
    }
    void path_elliptical_arc_to(double rx, double ry, double rotation, bool largeArc, bool sweep,
                                double x, double y, svgpp::tag::coordinate::absolute) {
        Primitive arc;
        bool isLine = false;
        if (ArcToCenter(current_, rx, ry, rotation, largeArc, sweep, {x, y}, arc, &isLine)) {
            Add(arc);
        } else if (isLine) {
            path_line_to(x, y, svgpp::tag::coordinate::absolute());
        }
    }
    void path_close_subpath() {
        if (!open_) return;
        subpaths_.back().closed = true;
        current_ = subpaths_.back().start;  // a following command starts a new subpath here
        open_ = false;
    }
    void path_exit() { open_ = false; }
    // Never reached (children are not traversed), but the default context factory names them.
    template <class Tag>
    void on_enter_element(Tag) {}
    void on_exit_element() {}

private:
    void Add(const Primitive& primitive) {
        if (!open_) subpaths_.push_back(Subpath{current_, {}, false});  // drawing on after a close
        open_ = true;
        subpaths_.back().primitives.push_back(primitive);
        current_ = primitive.End();
    }

    Reader* reader_;
    const xmlNode* node_;
    std::string what_;
    Affine matrix_;
    mutable bool failed_ = false;
    bool disabled_ = false;
    std::vector<Subpath> subpaths_;
    bool open_ = false;
    Vec2 current_ = {0, 0};
};

template <class Range>
std::string Excerpt(const Range& range) {
    std::string s(boost::begin(range), boost::end(range));
    if (s.size() > 60) s = s.substr(0, 57) + "...";
    return s;
}

// Bad values skip their element with a warning instead of aborting the file; what we don't read
// (unknown elements and attributes, other namespaces) is ignored quietly.
struct ErrorPolicy {
    using context_type = Context;
    template <class C, class... A>
    static bool unknown_element(const C&, const A&...) {
        return true;
    }
    template <class C, class... A>
    static bool unexpected_element(const C&, const A&...) {
        return true;
    }
    template <class C, class... A>
    static bool unknown_attribute(const C&, const A&...) {
        return true;
    }
    template <class C, class... A>
    static bool unexpected_attribute(const C&, const A&...) {
        return true;
    }
    template <class AttributeTag>
    static bool required_attribute_not_found(const Context& context, AttributeTag) {
        context.Fail(std::string("missing attribute \"") +
                     svgpp::attribute_name<char>::get<AttributeTag>() + "\"");
        return true;
    }
    template <class AttributeTag, class Value>
    static bool parse_failed(const Context& context, AttributeTag, const Value& value) {
        context.Fail(std::string("invalid value of \"") +
                         svgpp::attribute_name<char>::get<AttributeTag>() + "\"",
                     ": \"" + Excerpt(value) + "\"");
        return true;
    }
    template <class AttributeTag>
    static bool negative_value(const Context& context, AttributeTag) {
        context.Fail(std::string("negative \"") + svgpp::attribute_name<char>::get<AttributeTag>() +
                     "\"");
        return true;
    }
    using intercepted_exception_type = svgpp::detail::dummy_exception;
    template <class XMLElement>
    static bool add_element_info(intercepted_exception_type&, const XMLElement&) {
        return true;
    }
};

// Our walk visits the children itself: SVG++ reads one element's attributes at a time.
struct AttributesOnly {
    template <class C>
    static bool proceed_to_element_content(C&) {
        return false;
    }
    template <class C>
    static bool proceed_to_next_child(C&) {
        return false;
    }
};

namespace e = svgpp::tag::element;

// An element SVG++ reads for us, by its tag and its name.
template <class Tag>
struct Element {
    using tag = Tag;
    const char* name;
};
// The shape elements, named once: the walk dashes them, SVG++ reads their geometry.
constexpr std::tuple<Element<e::path>, Element<e::polyline>, Element<e::polygon>, Element<e::line>,
                     Element<e::rect>, Element<e::circle>, Element<e::ellipse>>
    kShapeElements{{"path"}, {"polyline"}, {"polygon"}, {"line"},
                   {"rect"}, {"circle"},   {"ellipse"}};
// The containers SVG++ reads too: their transform, a nested viewport.
constexpr std::tuple<Element<e::svg>, Element<e::g>> kContainerElements{{"svg"}, {"g"}};

template <class Elements>
struct TagSet;
template <class... Tags>
struct TagSet<std::tuple<Element<Tags>...>> {
    using type = typename boost::mpl::set<Tags...>::type;
};
using ProcessedElements =
    TagSet<decltype(std::tuple_cat(kShapeElements, kContainerElements))>::type;

using ProcessedAttributes = boost::mpl::fold<
    boost::mpl::vector<
        svgpp::tag::attribute::transform,
        boost::mpl::pair<svgpp::tag::element::svg, svgpp::tag::attribute::x>,
        boost::mpl::pair<svgpp::tag::element::svg, svgpp::tag::attribute::y>,
        boost::mpl::pair<svgpp::tag::element::svg, svgpp::tag::attribute::width>,
        boost::mpl::pair<svgpp::tag::element::svg, svgpp::tag::attribute::height>,
        boost::mpl::pair<svgpp::tag::element::svg, svgpp::tag::attribute::viewBox>,
        boost::mpl::pair<svgpp::tag::element::svg, svgpp::tag::attribute::preserveAspectRatio>>,
    svgpp::traits::shapes_attributes_by_element,
    boost::mpl::insert<boost::mpl::_1, boost::mpl::_2>>::type;

// Defaults kept: basic shapes become paths, transforms arrive as one matrix. no_shorthands hands
// us absolute coordinates and arcs as arcs (SVG++ converts none of them to Béziers).
using Traversal = svgpp::document_traversal<
    svgpp::processed_elements<ProcessedElements>, svgpp::processed_attributes<ProcessedAttributes>,
    svgpp::path_policy<svgpp::policy::path::no_shorthands>,
    svgpp::viewport_policy<svgpp::policy::viewport::calculate>,
    svgpp::length_policy<svgpp::policy::length::forward_to_method<Context>>,
    svgpp::error_policy<ErrorPolicy>, svgpp::document_traversal_control_policy<AttributesOnly>>;

template <class Elements>
bool IsOneOf(const Elements& elements, std::string_view name) {
    return std::apply([&](const auto&... element) { return ((name == element.name) || ...); },
                      elements);
}

bool IsShapeName(std::string_view name) {
    return IsOneOf(kShapeElements, name);
}

// Reads one element's attributes into `context`; false for an element SVG++ does not read here.
bool LoadElement(xmlNode* node, Context& context) {
    const std::string_view name = Name(node);
    bool loaded = false;
    const auto load = [&](const auto& element) {
        if (loaded || name != element.name) return;
        loaded = true;
        Traversal::load_expected_element(node, context,
                                         typename std::decay_t<decltype(element)>::tag());
    };
    std::apply([&](const auto&... element) { (load(element), ...); },
               std::tuple_cat(kShapeElements, kContainerElements));
    return loaded;
}

// The transform attribute of an element SVG++ is not asked to read (a, switch, use).
bool ApplyTransformAttribute(const xmlNode* node, Context& context) {
    std::string text;
    if (!GetAttribute(node, "transform", &text)) return true;
    return svgpp::value_parser<svgpp::tag::type::transform_list, svgpp::error_policy<ErrorPolicy>>::
        parse(svgpp::tag::attribute::transform(), context, text, svgpp::tag::source::attribute());
}

// Rejects element nesting deeper than the recursive parsers can safely take, before they run.
// Mirrors an XML lexer closely enough: comments, CDATA, processing instructions, DOCTYPE
// (with its bracketed subset) and quoted attribute values are skipped.
void CheckNesting(const std::string& text, const Reader& reader) {
    int depth = 0;
    const std::size_t n = text.size();
    for (std::size_t i = text.find('<'); i < n; i = text.find('<', i)) {
        const auto startsWith = [&](const char* s) {
            return text.compare(i, std::strlen(s), s) == 0;
        };
        const auto skipPast = [&](const char* end) {
            const std::size_t at = text.find(end, i);
            return at == std::string::npos ? n : at + std::strlen(end);
        };
        if (startsWith("<!--")) {
            i = skipPast("-->");
        } else if (startsWith("<![CDATA[")) {
            i = skipPast("]]>");
        } else if (startsWith("<?")) {
            i = skipPast("?>");
        } else if (startsWith("<!DOCTYPE") && i + 9 < n && std::strchr(" \t\r\n", text[i + 9]) &&
                   text[i + 9]) {
            // Ends at the first '>' outside its bracketed internal subset.
            for (i += 9; i < n && text[i] != '>'; ++i) {
                if (text[i] != '[') continue;
                for (int brackets = 1; brackets > 0 && ++i < n;)
                    brackets += text[i] == '[' ? 1 : text[i] == ']' ? -1 : 0;
            }
        } else if (startsWith("<!")) {
            i = skipPast(">");  // other "<!" markup: skipped to the next ">"
        } else if (startsWith("</")) {
            --depth;
            i = skipPast(">");
        } else {
            const std::size_t start = i;
            char quote = 0;
            for (++i; i < n; ++i) {
                const char c = text[i];
                if (quote) {
                    if (c == quote) quote = 0;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '>') {
                    break;
                }
            }
            if (i < n && text[i - 1] != '/' && ++depth > kMaxNesting)
                throw ReadError(
                    reader.file, LineAt(text.data(), text.data() + start),
                    "elements nested more than " + std::to_string(kMaxNesting) + " deep");
        }
    }
}

// Shapes anywhere under `node` (for counting what display:none or a failed group leaves out).
int64_t CountShapes(const xmlNode* node) {
    int64_t n = IsSvgElement(node) && IsShapeName(Name(node)) ? 1 : 0;
    for (const xmlNode* c = node->children; c != nullptr; c = c->next)
        if (c->type == XML_ELEMENT_NODE) n += CountShapes(c);
    return n;
}

// Whether `node` is a layer called `name`: an editor layer by its label, or a top-level group
// by its id.
bool IsLayerNamed(const Reader& r, const xmlNode* node, const std::string& name) {
    std::string value;
    if (GetNsAttribute(node, "groupmode", kInkscapeNamespace, &value) && value == "layer" &&
        GetNsAttribute(node, "label", kInkscapeNamespace, &value) && value == name)
        return true;
    return node->parent == r.root && Is(node, "g") && GetAttribute(node, "id", &value) &&
           value == name;
}

// Inside one of the chosen layers.
bool InLayers(const Reader& r, const xmlNode* node) {
    for (const xmlNode* a = node; a != nullptr && a != r.root; a = a->parent) {
        if (a->type != XML_ELEMENT_NODE) continue;
        for (const std::string& layer : r.options.layers)
            if (IsLayerNamed(r, a, layer)) return true;
    }
    return false;
}

bool HasChosenId(const Reader& r, const xmlNode* node) {
    for (const xmlNode* a = node; a != nullptr; a = a->parent) {
        std::string id;
        if (a->type == XML_ELEMENT_NODE && GetAttribute(a, "id", &id) &&
            std::find(r.options.ids.begin(), r.options.ids.end(), id) != r.options.ids.end())
            return true;
    }
    return false;
}

// One of the chosen elements, or inside one; a shape drawn through <use> also when a <use> that
// draws it is.
bool InChosenIds(const Reader& r, const xmlNode* shape) {
    if (HasChosenId(r, shape)) return true;
    return std::any_of(r.useStack.begin(), r.useStack.end(),
                       [&](const xmlNode* use) { return HasChosenId(r, use); });
}

// The style an element has where it stands in the document.
ComputedStyle StyleWhereItStands(const Reader& r, const xmlNode* node) {
    std::vector<const xmlNode*> chain;
    for (const xmlNode* a = node; a != nullptr && a->type == XML_ELEMENT_NODE; a = a->parent)
        chain.push_back(a);
    ComputedStyle style;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) style = r.sheet->Compute(*it, style);
    return style;
}

// Every layer and id asked for is in the document: a name that matches nothing is a mistake to
// say, not an empty result. A layer that is never drawn is worth a warning.
void CheckChoices(Reader& r) {
    for (const std::string& id : r.options.ids)
        if (r.ids.find(id) == r.ids.end())
            throw ReadError(r.file, 0, "--id " + id + ": no element has this id");
    if (r.options.layers.empty()) return;
    std::vector<const xmlNode*> layers;  // every editor layer and top-level group
    std::vector<const xmlNode*> stack{r.root};
    while (!stack.empty()) {
        const xmlNode* node = stack.back();
        stack.pop_back();
        for (const xmlNode* c = node->children; c != nullptr; c = c->next) {
            if (c->type != XML_ELEMENT_NODE || !IsSvgElement(c)) continue;
            std::string mode;
            if (Is(c, "g") &&
                (node == r.root ||
                 (GetNsAttribute(c, "groupmode", kInkscapeNamespace, &mode) && mode == "layer")))
                layers.push_back(c);
            stack.push_back(c);
        }
    }
    for (const std::string& name : r.options.layers) {
        bool found = false, drawn = false;
        for (const xmlNode* layer : layers) {
            if (!IsLayerNamed(r, layer, name)) continue;
            found = true;
            const ComputedStyle style = StyleWhereItStands(r, layer);
            drawn = drawn || !(style.displayNone || style.visibility == "hidden");
        }
        if (!found) {
            std::string known;
            for (const xmlNode* layer : layers) {
                std::string label;
                if (!GetNsAttribute(layer, "label", kInkscapeNamespace, &label) &&
                    !GetAttribute(layer, "id", &label))
                    continue;
                known += (known.empty() ? "" : ", ") + ("'" + label + "'");
            }
            throw ReadError(r.file, 0,
                            "--layer " + name + ": no layer has this label or id" +
                                (known.empty() ? " (the drawing has no layers)"
                                               : " (the layers: " + known + ")"));
        }
        if (!drawn)
            r.notes.push_back((r.file.empty() ? std::string("<input>") : r.file) + ": layer '" +
                              name + "' is hidden: nothing in it is dashed");
    }
}

// The user space an element's parent establishes where the element is defined (for a shape that
// is drawn through <use>: its own space, the same for every instance).
Affine DefinitionMatrix(Reader& r, xmlNode* node) {
    std::vector<xmlNode*> chain;
    for (xmlNode* a = node->parent; a != nullptr && a != r.root; a = a->parent)
        if (a->type == XML_ELEMENT_NODE) chain.push_back(a);
    Affine m = r.page;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        Context c(r, *it, m, "<" + std::string(Name(*it)) + ">");
        if (!(Is(*it, "g") || Is(*it, "svg")) || !LoadElement(*it, c))
            ApplyTransformAttribute(*it, c);
        m = c.matrix();
    }
    return m;
}

double DasharrayPeriod(const std::string& text);

bool StrokeVisible(const ComputedStyle& style) {
    return style.stroke != "none" && style.strokeWidth > 0 && style.strokeOpacity > 0;
}

// Fills are never dashed unless all is asked for: a leftover dash array under stroke:none is
// not a dashed stroke, nor is one that a viewer draws solid.
bool Selected(const Reader& r, const ComputedStyle& style) {
    switch (r.options.select) {
        case Select::All:
            return true;
        case Select::Stroked:
            return StrokeVisible(style);
        case Select::Dasharray:
            return StrokeVisible(style) && DasharrayPeriod(style.dasharray) > 0;
    }
    return true;
}

void VisitChildren(Reader& r, xmlNode* node, const ComputedStyle& style, const Affine& m);
void VisitElement(Reader& r, xmlNode* el, const ComputedStyle& parentStyle, const Affine& m);

// The user's language for systemLanguage, from the locale ("en" where none is set).
std::string UserLanguage() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(name);
        if (v == nullptr || *v == '\0') continue;
        std::string lang(v, std::strcspn(v, "_.@"));
        if (lang == "C" || lang == "POSIX") break;
        for (char& c : lang) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return lang;
    }
    return "en";
}

// The conditional attributes of a <switch> child: no extension is supported, every feature is,
// and a language matches the user's or one of its subtags ("en" matches "en-GB").
bool ConditionsHold(const xmlNode* el) {
    std::string v;
    if (GetAttribute(el, "requiredExtensions", nullptr)) return false;
    if (GetAttribute(el, "requiredFeatures", &v) &&
        v.find_first_not_of(" \t\r\n") == std::string::npos)
        return false;
    if (!GetAttribute(el, "systemLanguage", &v)) return true;
    static const std::string user = UserLanguage();
    std::size_t i = 0;
    while (i <= v.size()) {
        std::size_t j = v.find(',', i);
        if (j == std::string::npos) j = v.size();
        std::string tag = v.substr(i, j - i);
        tag.erase(0, tag.find_first_not_of(" \t\r\n"));
        tag.erase(tag.find_last_not_of(" \t\r\n") + 1);
        for (char& c : tag) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (tag == user || tag.rfind(user + "-", 0) == 0) return true;
        i = j + 1;
    }
    return false;
}

// A <switch> draws only its first child whose conditions hold; the others are never drawn.
void VisitSwitch(Reader& r, xmlNode* sw, const ComputedStyle& style, const Affine& m) {
    bool chosen = false;
    for (xmlNode* c = sw->children; c != nullptr; c = c->next) {
        if (c->type != XML_ELEMENT_NODE || !IsSvgElement(c) || Is(c, "title") || Is(c, "desc") ||
            Is(c, "metadata"))
            continue;
        if (!chosen && ConditionsHold(c)) {
            chosen = true;
            VisitElement(r, c, style, m);
        } else {
            r.counts.hidden += CountShapes(c);
        }
    }
}

void VisitShape(Reader& r, xmlNode* el, const ComputedStyle& parentStyle, const Affine& m) {
    if (!r.decided.insert(el).second) return;
    const std::string tag = Name(el);
    std::string name;
    const int index = ++r.perTag[tag];
    if (!GetAttribute(el, "id", &name) || name.empty()) name = tag + " " + std::to_string(index);
    const ComputedStyle style = r.sheet->Compute(el, parentStyle);
    if (style.displayNone || style.visibility == "hidden" || style.visibility == "collapse") {
        ++r.counts.hidden;
        return;
    }
    const xmlNode* anchor = r.useStack.empty() ? el : r.useStack.front();
    if (!Selected(r, style) || (!r.options.layers.empty() && !InLayers(r, anchor)) ||
        (!r.options.ids.empty() && !InChosenIds(r, el))) {
        ++r.counts.leftAlone;
        return;
    }
    const std::string what = "<" + tag + " " + name + ">";
    Context c(r, el, r.useStack.empty() ? m : DefinitionMatrix(r, el), what);
    LoadElement(el, c);
    if (c.failed()) {
        ++r.counts.skipped;
        return;
    }
    const Affine& t = c.matrix();
    const double det = t.a * t.d - t.b * t.c;
    if (!(std::isfinite(det) && std::fabs(det) > 0 && std::isfinite(1 / det))) {
        r.Skip(el, "a singular transform (left unchanged)", what);
        ++r.counts.skipped;
        return;
    }
    Found f{el, !r.useStack.empty(), name, tag, LineOf(el), t, style, {}};
    for (const Subpath& subpath : c.subpaths()) {
        Subpath page{t(subpath.start), {}, subpath.closed};
        page.primitives.reserve(subpath.primitives.size());
        for (const Primitive& p : subpath.primitives) page.primitives.push_back(Transformed(p, t));
        if (!IsFinite(page)) {
            r.Skip(el, "a coordinate is not finite (after transforms)", what);
            ++r.counts.skipped;
            return;
        }
        f.subpaths.push_back(std::move(page));
    }
    if (!f.subpaths.empty()) r.found.push_back(std::move(f));
}

void VisitUse(Reader& r, xmlNode* el, const ComputedStyle& parentStyle, const Affine& m) {
    const ComputedStyle style = r.sheet->Compute(el, parentStyle);
    if (style.displayNone) return;
    std::string href;
    if (!GetNsAttribute(el, "href", kXlinkNamespace, &href)) GetAttribute(el, "href", &href);
    if (href.size() < 2 || href[0] != '#') {
        r.Skip(el, "a <use> of anything but an element of this document (nothing is fetched)",
               "<use>");
        return;
    }
    const auto it = r.ids.find(std::string_view(href).substr(1));
    if (it == r.ids.end()) {
        r.Skip(el, "a <use> of an id that is not in the document", "<use>");
        return;
    }
    xmlNode* target = it->second;
    if (IsShapeName(Name(target))) r.usesOf[target].push_back(el);
    for (const xmlNode* a = el; a != nullptr; a = a->parent)
        if (a == target) r.Refuse(el, "<use> of " + href + " refers to itself (a reference cycle)");
    if (std::find(r.useStack.begin(), r.useStack.end(), el) != r.useStack.end())
        r.Refuse(el, "<use> of " + href + " is part of a reference cycle");
    if (r.useStack.size() >= static_cast<std::size_t>(kMaxUseDepth))
        r.Refuse(el, "<use> references nest more than " + std::to_string(kMaxUseDepth) + " deep");
    r.useStack.push_back(el);
    if (Is(target, "symbol")) {
        const ComputedStyle symbolStyle = r.sheet->Compute(target, style);
        if (!symbolStyle.displayNone) VisitChildren(r, target, symbolStyle, m);
    } else {
        VisitElement(r, target, style, m);
    }
    r.useStack.pop_back();
}

void VisitElement(Reader& r, xmlNode* el, const ComputedStyle& parentStyle, const Affine& m) {
    if (!IsSvgElement(el)) return;  // other namespaces (editor data) draw nothing
    // The walk recurses per level, through <use> too: bounded like the file's own nesting.
    struct Depth {
        int& depth;
        ~Depth() { --depth; }
    } depth{++r.depth};
    if (r.depth > kMaxWalkDepth)
        r.Refuse(el, "elements nested more than " + std::to_string(kMaxWalkDepth) +
                         " deep through <use>");
    if (!r.useStack.empty() && ++r.instanceElements > kMaxInstanceElements)
        r.Refuse(
            el, "<use> expands to more than " + std::to_string(kMaxInstanceElements) + " elements");
    const std::string_view name = Name(el);
    if (IsShapeName(name)) return VisitShape(r, el, parentStyle, m);
    if (name == "use") return VisitUse(r, el, parentStyle, m);
    if (name != "g" && name != "a" && name != "switch" && name != "svg") return;  // not drawn
    const ComputedStyle style = r.sheet->Compute(el, parentStyle);
    if (style.displayNone) {
        r.counts.hidden += CountShapes(el);
        return;
    }
    Context c(r, el, m, "<" + std::string(name) + "> and its contents");
    if (!LoadElement(el, c)) ApplyTransformAttribute(el, c);
    if (c.failed()) {
        r.counts.skipped += CountShapes(el);
        return;
    }
    if (c.disabled()) return;  // a nested viewport of zero size
    if (name == "switch") return VisitSwitch(r, el, style, c.matrix());
    VisitChildren(r, el, style, c.matrix());
}

void VisitChildren(Reader& r, xmlNode* node, const ComputedStyle& style, const Affine& m) {
    for (xmlNode* c = node->children; c != nullptr; c = c->next)
        if (c->type == XML_ELEMENT_NODE) VisitElement(r, c, style, m);
}

// A plain number or px length, for percentages when there is no viewBox.
bool ParsePlainLength(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || !std::isfinite(value) || value <= 0) return false;
    const std::string rest = end;
    return rest.empty() || rest == "px";
}

// The dash array's period in the shape's user units (an odd list repeats to an even one); 0 when
// it has none.
double DasharrayPeriod(const std::string& text) {
    double sum = 0;
    int n = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() &&
               (text[i] == ',' || std::isspace(static_cast<unsigned char>(text[i]))))
            ++i;
        std::size_t j = i;
        while (j < text.size() && text[j] != ',' &&
               !std::isspace(static_cast<unsigned char>(text[j])))
            ++j;
        if (j == i) break;
        const std::string token = text.substr(i, j - i);
        double px = 0;
        if (!ParseLength(token, &px)) {
            char* end = nullptr;
            const double v = std::strtod(token.c_str(), &end);
            if (end == token.c_str() || *end != '\0' || v != 0) return 0;  // percentages, junk
        }
        sum += px;
        ++n;
        i = j;
    }
    if (n % 2 == 1) sum *= 2;
    return std::isfinite(sum) ? sum : 0;
}

xmlParserInputPtr RefuseExternalEntity(const char*, const char*, xmlParserCtxtPtr) {
    return nullptr;
}

void InitLibxml() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(RefuseExternalEntity);
    });
}

std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

// The document parsed by libxml2 into scene.doc; malformed XML is a ReadError.
void Parse(const std::string& text, const std::string& file, SvgScene& scene) {
    InitLibxml();
    std::unique_ptr<xmlParserCtxt, void (*)(xmlParserCtxtPtr)> ctxt(xmlNewParserCtxt(),
                                                                    xmlFreeParserCtxt);
    if (!ctxt) throw std::bad_alloc();
    scene.doc = xmlCtxtReadMemory(
        ctxt.get(), text.data(), static_cast<int>(text.size()), nullptr, nullptr,
        XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_BIG_LINES);
    if (scene.doc == nullptr || !ctxt->wellFormed) {
        const xmlError* e = xmlCtxtGetLastError(ctxt.get());
        const std::string why = e != nullptr && e->message != nullptr
                                    ? Trimmed(e->message)
                                    : std::string("not well-formed");
        throw ReadError(file, e != nullptr ? e->line : 0, "malformed XML: " + why);
    }
    const std::size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    scene.hasDeclaration = text.compare(at, 5, "<?xml") == 0;
}

// The root's units and viewport: what percentages resolve against, how a length of the command
// line converts to root user units, and the root user space to the page.
struct Page {
    bool hasViewBox = false;
    double viewBox[4] = {0, 0, 0, 0};
    double unitsPerPx = 1;  // root user units per CSS px
};

Page ReadPage(Reader& reader, xmlNode* root, Document& doc) {
    Page page;
    std::string v;
    if (GetAttribute(root, "width", &v)) doc.svgWidth = v;
    if (GetAttribute(root, "height", &v)) doc.svgHeight = v;
    if (GetAttribute(root, "viewBox", &v)) doc.svgViewBox = v;
    const double(&viewBox)[4] = page.viewBox;
    page.hasViewBox = doc.svgViewBox && detail::ParseViewBox(*doc.svgViewBox, page.viewBox);
    double width = 0, height = 0;
    if (page.hasViewBox) {
        reader.lengths.set_viewport_size(viewBox[2], viewBox[3]);
    } else if (doc.svgWidth && doc.svgHeight && ParsePlainLength(*doc.svgWidth, width) &&
               ParsePlainLength(*doc.svgHeight, height)) {
        reader.lengths.set_viewport_size(width, height);
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
        if (std::isfinite(stretch) && stretch > 0) reader.page = Affine::Scale(1, stretch);
    }
    return page;
}

// The walk over what is drawn: the shapes the selection picks land in reader.found.
void Walk(Reader& reader, xmlNode* root) {
    reader.sheet = std::make_unique<StyleSheet>(root);
    reader.ids = CollectIds(root);
    CheckChoices(reader);
    try {
        VisitChildren(reader, root, reader.sheet->Compute(root, ComputedStyle{}), reader.page);
    } catch (const ReadError&) {
        throw;
    } catch (const std::exception& e) {
        throw ReadError(reader.file, 0, std::string("cannot read the SVG: ") + e.what());
    }
}

// The drawing's size (its viewBox, else the box around every control point) and the flattening
// tolerance in root user units: the one asked for, else relative to that size.
struct Flattening {
    double size = 0, tolerance = 0;
};

Flattening FlatteningFor(const Reader& reader, const Page& page) {
    Vec2 lo{HUGE_VAL, HUGE_VAL}, hi{-HUGE_VAL, -HUGE_VAL};
    for (const Found& shape : reader.found)
        for (const Subpath& subpath : shape.subpaths) GrowBounds(subpath, lo, hi);
    Flattening f;
    f.size = page.hasViewBox ? std::hypot(page.viewBox[2], page.viewBox[3])
                             : (lo.x <= hi.x ? std::hypot(hi.x - lo.x, hi.y - lo.y) : 0);
    if (!std::isfinite(f.size)) f.size = std::numeric_limits<double>::max();
    const double asked = reader.options.tolerance;
    f.tolerance = asked > 0 && std::isfinite(asked) ? asked * page.unitsPerPx : f.size * 1e-4;
    if (!(f.tolerance > 0) || !std::isfinite(f.tolerance)) f.tolerance = 1e-4;
    return f;
}

// One subpath flattened into a segment, in the root's user space: repeated points dropped, a
// closed loop ending on its last distinct point, or, measured open by request, on its start
// again. False for a point that is not finite once flattened.
bool SegmentOf(const Subpath& subpath, const Flattening& flattening,
               std::optional<bool> forcedClosed, std::vector<Vec2>& points,
               std::vector<Point>& segment) {
    points.clear();
    segment.clear();
    Flatten(subpath, flattening.tolerance, points);
    // An ellipse can reach past the largest double even when its centre and axes do not.
    if (!std::all_of(points.begin(), points.end(),
                     [](Vec2 p) { return std::isfinite(p.x) && std::isfinite(p.y); }))
        return false;
    const double eps = SamePointTolerance(subpath.start, flattening.size);
    segment.reserve(points.size() + 1);
    for (const Vec2& p : points)
        if (segment.empty() || !Near({segment.back().x, segment.back().y}, p, eps))
            segment.push_back({p.x, p.y, 0});
    const auto endsAtStart = [&] {
        return segment.size() > 1 && Near({segment.back().x, segment.back().y},
                                          {segment.front().x, segment.front().y}, eps);
    };
    if (subpath.closed && forcedClosed == std::optional<bool>(false)) {
        // Measured open by request: the closing edge must be there to be dashed.
        if (segment.size() > 1 && !endsAtStart()) segment.push_back(segment.front());
    } else if (subpath.closed && endsAtStart()) {
        segment.pop_back();  // a closed loop ends on its last distinct point
    }
    return true;
}

// Dashes a period asks for on a segment: one per period of its length, at least one.
int64_t PeriodCount(const std::vector<Point>& segment, bool closed, double period) {
    return hostmodel::PeriodCount(PageLength(segment, closed), period);
}

// The period of a shape's subpaths in root user units (0: none): its own dash array's when that
// is asked for and it has one, else the one given.
double PeriodFor(const Reader& reader, const Page& page, const Found& shape) {
    if (reader.options.periodFromDasharray) {
        const double own =
            DasharrayPeriod(shape.style.dasharray) * std::sqrt(std::fabs(shape.toPage.Det()));
        if (std::isfinite(own) && own > 0) return own;
    }
    const double period = reader.options.period * page.unitsPerPx;
    return std::isfinite(period) && period > 0 ? period : 0;
}

// What the writer needs to know of a dashed shape.
SvgShape KeptShape(const Reader& reader, const Found& shape) {
    SvgShape kept;
    kept.node = shape.node;
    kept.toPage = shape.toPage;
    kept.keepFill = shape.style.fill != "none" && shape.tag != "line";  // a line has no area
    kept.throughUse = shape.throughUse;
    // Markers are drawn on paths, lines, polylines and polygons only.
    kept.markers = shape.tag != "rect" && shape.tag != "circle" && shape.tag != "ellipse" &&
                   (shape.style.markerStart != "none" || shape.style.markerMid != "none" ||
                    shape.style.markerEnd != "none");
    if (shape.style.dasharray != "none") {
        std::string own;
        kept.inheritsDasharray = !GetAttribute(shape.node, "stroke-dasharray", nullptr) &&
                                 !(GetAttribute(shape.node, "style", &own) &&
                                   own.find("stroke-dasharray") != std::string::npos);
    }
    if (const auto uses = reader.usesOf.find(shape.node); uses != reader.usesOf.end())
        kept.uses = uses->second;
    if (shape.style.stroke == "none")
        kept.outlinePaint = kept.keepFill && shape.style.fill.rfind("url(", 0) != 0
                                ? shape.style.fill
                                : std::string("black");
    return kept;
}

// The line objects of every shape found, grouped by the rule every host follows
// (segment_groups.h): with a period each subpath has a count of its own and is an object of its
// own. Without one the modifier's settings are not known while reading, so the subpaths are
// taken as related: one object for a shape's closed subpaths and one for its open ones.
void BuildObjects(Reader& reader, const Page& page, const Flattening& flattening, Document& doc,
                  SvgScene& scene) {
    std::size_t total = 0;
    std::vector<Vec2> points;
    std::vector<Point> segment;
    std::vector<std::vector<Point>> kept;
    std::vector<bool> closed;
    for (const Found& shape : reader.found) {
        const double period = PeriodFor(reader, page, shape);
        kept.clear();
        closed.clear();
        bool finite = true;
        for (const Subpath& subpath : shape.subpaths) {
            finite = SegmentOf(subpath, flattening, reader.options.closed, points, segment);
            if (!finite) break;
            if (segment.size() < 2) continue;  // a lone move-to draws nothing
            total += segment.size();
            if (total > kMaxPoints)
                throw ReadError(reader.file, 0,
                                "the curves flatten to more than " + std::to_string(kMaxPoints) +
                                    " points; use a larger tolerance");
            kept.push_back(segment);
            closed.push_back(subpath.closed);
        }
        if (!finite) {
            reader.Skip(shape.node, "a point is not finite once flattened",
                        "<" + shape.tag + " " + shape.name + ">");
            ++reader.counts.skipped;
            continue;
        }
        if (kept.empty()) continue;
        const std::size_t shapeIndex = scene.shapes.size();
        for (const hostmodel::SegmentGroup& group : hostmodel::GroupSegments(
                 static_cast<int32_t>(kept.size()), closed, period > 0, true)) {
            LineObject object;
            object.name = shape.name;
            object.closed = group.closed;
            SvgObject placed{shapeIndex, {}};
            for (const int32_t i : group.segments) {
                std::vector<Point>& own = kept[static_cast<std::size_t>(i)];
                if (period > 0) object.dashCount = PeriodCount(own, *group.closed, period);
                if (closed[static_cast<std::size_t>(i)])
                    placed.seams.push_back(Vec2{own.front().x, own.front().y});
                object.segments.push_back(std::move(own));
            }
            doc.objects.push_back(std::move(object));
            scene.objects.push_back(std::move(placed));
        }
        scene.shapes.push_back(KeptShape(reader, shape));
        ++reader.counts.dashed;
    }
}

// One line per kind of skipped construct: its first place and how many more.
std::vector<std::string> Warnings(const Reader& reader) {
    std::vector<std::string> lines = reader.notes;
    for (const std::string& kind : reader.kindOrder) {
        const Reader::Kind& k = reader.skipped.at(kind);
        std::string line = k.first;
        if (k.count > 1) line += " (and " + std::to_string(k.count - 1) + " more like it)";
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

Document ReadSvg(std::string text, const std::string& file, const ReadOptions& options) {
    Reader reader;
    reader.file = file;
    reader.options = options;
    CheckNesting(text, reader);
    if (text.size() > static_cast<std::size_t>(INT32_MAX))
        throw ReadError(file, 0, "the file is larger than 2 GiB");
    auto scene = std::make_shared<SvgScene>();
    Parse(text, file, *scene);

    xmlNode* root = xmlDocGetRootElement(scene->doc);
    if (root == nullptr) throw ReadError(file, 0, "no XML element");
    if (!Is(root, "svg") || !IsSvgElement(root))
        throw ReadError(file, LineOf(root),
                        "the root element is <" + std::string(Name(root)) + ">, not <svg>");
    reader.root = root;

    Document doc;
    const Page page = ReadPage(reader, root, doc);
    Walk(reader, root);
    const Flattening flattening = FlatteningFor(reader, page);
    scene->drawingSize = flattening.size;
    scene->tolerance = flattening.tolerance;
    for (const char* property : {"fill", "stroke", "stroke-opacity", "stroke-dasharray",
                                 "marker-start", "marker-mid", "marker-end"})
        if (reader.sheet->HasImportant(property)) scene->importantProperties.insert(property);
    BuildObjects(reader, page, flattening, doc, *scene);
    // A drawing with nothing to dash is still a drawing: it is written back as it is.
    doc.warnings = Warnings(reader);
    doc.drawingSize = page.hasViewBox ? flattening.size : DrawingSize(doc);
    doc.shapeCounts = reader.counts;
    doc.tolerance = flattening.tolerance;
    doc.svgScene = std::move(scene);
    return doc;
}

}  // namespace korrand::io::detail
