// Computed style of SVG elements, for the few properties that decide what gets dashed:
// presentation attributes, the style attribute and <style> sheets (type, class, id, universal,
// compound, descendant and child selectors, grouped with commas), ordered by importance,
// specificity and source order; inherited properties flow down from the parent.
#pragma once

#include <libxml/tree.h>

#include <cmath>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace korrand::io::detail {

// A CSS length as declared; a plain number is a length in user units.
// Computed: a value korrand does not evaluate (var(), calc()), which a viewer may.
enum class LengthUnit : unsigned char { Number, Px, Mm, Cm, In, Pt, Pc, Percent, Em, Ex, Computed };
struct CssLength {
    double value = 0;
    LengthUnit unit = LengthUnit::Number;
};

// What fill and stroke paint with.
struct Paint {
    enum class Kind : unsigned char { None, Color, CurrentColor, Url, ContextFill, ContextStroke };
    Kind kind = Kind::None;
    double alpha = 1;  // a colour's alpha, 0..1
    std::string text;  // as declared, to be written back as a paint
};

enum class Visibility : unsigned char { Visible, Hidden, Collapse };

// The properties that decide what gets dashed and how, computed as SVG computes them.
struct ComputedStyle {
    // Inherited properties.
    Paint fill{Paint::Kind::Color, 1, "black"};
    Paint stroke;
    double colorAlpha = 1;  // the alpha of `color`, which currentColor paints with
    double fillOpacity = 1, strokeOpacity = 1;
    CssLength strokeWidth{1, LengthUnit::Number};
    std::vector<CssLength> dasharray;  // empty: none
    CssLength dashoffset;
    bool buttCaps = true;  // stroke-linecap butt: a dash of no length draws nothing
    Visibility visibility = Visibility::Visible;
    bool markerStart = false, markerMid = false, markerEnd = false;
    // paint-order: where the stroke is painted among the fill and the markers (normal: fill,
    // stroke, markers).
    bool strokeBeforeFill = false, strokeBeforeMarkers = true;
    // Not inherited, but an element under display:none or inside a group of opacity 0 is never
    // drawn: carried down, display as a flag, opacity as the product of the element's own and
    // its ancestors'.
    bool displayNone = false;
    // Whether the element's dash array would not be none without its own declarations (its
    // attribute and style): a style sheet's rule or the parent gives one. Not inherited. (Among
    // the flags: a style is copied for every shape, and its size counts on a large map.)
    bool dashedBesidesOwn = false;
    // vector-effect: non-scaling-stroke: the stroke, its dash array too, is laid out in the
    // outermost viewport's px, whatever the transforms. Not inherited.
    bool nonScalingStroke = false;
    // A transform given in CSS (a style attribute or a rule) on the element or an ancestor, or
    // geometry (r, width, d, ...) on the element itself: SVG 2 features some viewers draw,
    // which the shapes are not measured with.
    bool cssTransform = false, cssGeometry = false;
    // In user units, where the element or an ancestor gives it in absolute units (what em and
    // ex in a dash array are of); NaN where it is the viewer's default, which viewers differ on.
    // A float beside the flags: a style is held for every shape of a large map.
    float fontSize = std::nanf("");
    double opacity = 1;
};

// Whether the element is drawn at all: displayed, visible and not fully transparent.
bool IsDrawn(const ComputedStyle& style);
// The declarations of its stroke's paint, width and opacity as computed, by name.
std::vector<std::pair<std::string, std::string>> StrokeDeclarations(const ComputedStyle& style);
// Declarations of the paints, widths, dashes and opacity an element is drawn with, to draw a copy
// of it out of its groups and the sheet's reach (its own other declarations go with it; what
// only its groups give, such as a fill rule, does not). `percentBase` as for ResolveDashes.
std::vector<std::pair<std::string, std::string>> DrawnDeclarations(const ComputedStyle& style,
                                                                   double percentBase);
// Whether its stroke or fill paints anything where it is drawn.
bool PaintsStroke(const ComputedStyle& style);
bool PaintsFill(const ComputedStyle& style);

// A dash array as a viewer applies it, in the shape's user units.
struct DashPattern {
    enum class Kind {
        None,       // no dash array (none, or none valid: a negative value): drawn solid
        Solid,      // an array without a gap (all gaps zero, or all zero): drawn solid
        Dashed,     // the pattern repeats every `period`, shifted by `offset`
        Blank,      // every dash of no length, with butt caps: draws nothing
        Unresolved  // lengths relative to a font, or percentages of an unknown viewport
    };
    Kind kind = Kind::None;
    double period = 0, offset = 0;
};
// An absolute length in user units (px); NaN for one relative to a font or a viewport.
double UserUnits(const CssLength& length);
// `percentBase`: what a percentage is of (the viewport's diagonal / sqrt 2); `scale`: user
// units per declared unit (pathLength's scaling, else 1).
DashPattern ResolveDashes(const ComputedStyle& style, double percentBase, double scale = 1);

// Values as CSS and SVG declare them; false for text that is not one (the declaration is then
// ignored, as CSS ignores it).
bool ParsePaint(std::string_view text, Paint* paint);
bool ParseColorAlpha(std::string_view text, double* alpha);
bool ParseOpacity(std::string_view text, double* opacity);
bool ParseCssLength(std::string_view text, CssLength* length);
// A list of non-negative lengths, or none (an empty list).
bool ParseDasharray(std::string_view text, std::vector<CssLength>* values);
// normal, or fill, stroke and markers each at most once (those left out follow in that order).
bool ParsePaintOrder(std::string_view text, bool* strokeBeforeFill, bool* strokeBeforeMarkers);

class StyleSheet {
public:
    // Gathers the rules of the <style> elements (in document order) whose type is CSS.
    explicit StyleSheet(const std::vector<const xmlNode*>& styleElements);
    // The style of `element` whose parent (in the rendering tree: a <use> for an instance) has
    // computed style `parent`.
    ComputedStyle Compute(const xmlNode* element, const ComputedStyle& parent) const;
    // Whether some rule declares the property !important: a value set in a style attribute must
    // be !important too to win over it.
    bool HasImportant(const std::string& property) const { return Declares(property, true); }
    // Whether some rule declares the property (a marker-* property also by `marker`).
    bool Declares(const std::string& property, bool importantOnly = false) const;
    bool Empty() const { return rules_.empty(); }
    // Whether a rule could match an element put into a <defs> where it stood otherwise than
    // before: a rule with a child combinator, or one that names <defs>.
    bool MatchesByParent() const;

    // [name], [name=value], [name~=value] and the other operators of CSS's attribute selectors.
    struct AttributeTest {
        std::string name;
        char op = 0;  // 0: present; '=', '~', '|', '^', '$', '*'
        std::string value;
        bool anyCase = false;  // the i flag
    };
    struct Compound {
        std::string tag;  // empty: any
        std::string id;
        std::vector<std::string> classes;
        std::vector<AttributeTest> attributes;
        std::vector<Compound> nots;  // :not(...): matches none of these
        bool childOfNext = false;    // joined to the compound before it by '>', not by a space
    };
    struct Declaration {
        std::string name, value;
        bool important = false;
    };
    struct Rule {
        std::vector<Compound> selector;  // left to right
        int specificity = 0;             // ids * 10000 + classes * 100 + types
        std::vector<Declaration> declarations;
    };

    // Parses a sheet's text; selectors beyond the subset above drop their rule, and are added
    // to `ignored` when given, as are the at-rules not applied that could set what a stroke
    // shows (their prelude, "@import ...").
    static std::vector<Rule> Parse(const std::string& css,
                                   std::vector<std::string>* ignored = nullptr, int depth = 0);
    static std::vector<Declaration> ParseDeclarations(const std::string& text);
    static bool Matches(const std::vector<Compound>& selector, const xmlNode* element);
    // The selectors whose rules were dropped, and such at-rules, as written.
    const std::vector<std::string>& Ignored() const { return ignored_; }
    // The colour the element's own declarations give it (its rules' included), as declared;
    // empty where it inherits. Another element in its place may match none of its rules.
    std::string OwnColor(const xmlNode* element) const;
    // The declarations the sheet's rules give the element that its own style attribute does
    // not override, one per property, as the cascade leaves them. Another element in its place
    // may match none of its rules.
    std::vector<Declaration> RuleDeclarations(const xmlNode* element) const;

private:
    std::vector<const Rule*> Matched(const xmlNode* element) const;
    template <class Declare>
    static void Cascade(const xmlNode* element, const std::vector<const Rule*>& matched,
                        const Declare& declare);
    std::vector<Rule> rules_;
    std::vector<std::string> ignored_;
};

// A CSS declaration list ("a: b; c: d !important") edited: the named properties removed, then
// `set` appended in order.
// keptAny: whether a declaration other than the removed ones was there.
std::string EditStyle(std::string_view style, std::initializer_list<std::string_view> remove,
                      const std::vector<std::pair<std::string, std::string>>& set,
                      bool* keptAny = nullptr);

// The element's attribute without a namespace, if present.
bool GetAttribute(const xmlNode* node, const char* name, std::string* value);
// The same as the tree holds it: the text node itself where it is one (no copy), else put
// together in `storage`.
bool AttributeText(const xmlNode* node, const char* name, std::string& storage,
                   std::string_view* value);
// The element's own attribute `name` without a namespace, or null. (xmlHasNsProp answers a
// default of the document type with its declaration, which is no attribute of the element.)
xmlAttr* OwnAttribute(const xmlNode* node, const char* name);
// True for an element of the SVG namespace, or of none (hand-written files often omit it).
bool IsSvgElement(const xmlNode* node);

}  // namespace korrand::io::detail
