// The SVG style cascade: selector matching over the parsed sheets, and the computed properties.
#include "svg_style.h"

#include <libxml/xmlmemory.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <string_view>

namespace korrand::io::detail {
namespace {

constexpr const char kSvgNamespace[] = "http://www.w3.org/2000/svg";

std::string Trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return std::string(s.substr(b, e - b));
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string_view TrimView(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

char LowerChar(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// `text` equal to a lower-case keyword, ASCII case aside.
bool IsKeyword(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (LowerChar(text[i]) != lower[i]) return false;
    return true;
}

// An attribute's value: its one text node's content as it stands, else its text put together
// in `storage` (entity references and all).
std::string_view AttributeText(const xmlAttr* a, std::string& storage) {
    const xmlNode* child = a->children;
    if (child == nullptr) return {};
    if (child->next == nullptr && child->type == XML_TEXT_NODE && child->content != nullptr)
        return reinterpret_cast<const char*>(child->content);
    xmlChar* text = xmlNodeListGetString(a->doc, child, 1);
    storage = text != nullptr ? reinterpret_cast<const char*>(text) : "";
    xmlFree(text);
    return storage;
}
using detail::AttributeText;  // the element's, beside the attribute's own

const char* Name(const xmlNode* node) {
    return reinterpret_cast<const char*>(node->name);
}

bool IsNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
}

// The id and classes of an element, looked up once for all the selectors tried on it.
struct ElementFacts {
    explicit ElementFacts(const xmlNode* node) {
        AttributeText(node, "id", idStorage, &id);
        std::string_view text;
        if (!AttributeText(node, "class", classStorage, &text)) return;
        std::size_t i = 0;
        while (i < text.size()) {
            while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
            std::size_t j = i;
            while (j < text.size() && !std::isspace(static_cast<unsigned char>(text[j]))) ++j;
            if (j > i) classes.push_back(text.substr(i, j - i));
            i = j;
        }
    }
    std::string idStorage, classStorage;
    std::string_view id;
    std::vector<std::string_view> classes;
};

bool SameText(std::string_view a, std::string_view b, bool anyCase) {
    if (!anyCase) return a == b;
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerChar(a[i]) != LowerChar(b[i])) return false;
    return true;
}

bool MatchesAttribute(const StyleSheet::AttributeTest& t, const xmlNode* node) {
    std::string storage;
    std::string_view v;
    if (!AttributeText(node, t.name.c_str(), storage, &v)) return false;
    const std::string_view want = t.value;
    const std::size_t n = want.size();
    switch (t.op) {
        case 0:
            return true;
        case '=':
            return SameText(v, want, t.anyCase);
        case '~':  // one of its whitespace-separated words
            for (std::size_t i = 0; i < v.size();) {
                while (i < v.size() && std::isspace(static_cast<unsigned char>(v[i]))) ++i;
                std::size_t j = i;
                while (j < v.size() && !std::isspace(static_cast<unsigned char>(v[j]))) ++j;
                if (j > i && SameText(v.substr(i, j - i), want, t.anyCase)) return true;
                i = j;
            }
            return false;
        case '|':  // the value, or the value then '-'
            return SameText(v, want, t.anyCase) ||
                   (v.size() > n && v[n] == '-' && SameText(v.substr(0, n), want, t.anyCase));
        case '^':
            return n > 0 && v.size() >= n && SameText(v.substr(0, n), want, t.anyCase);
        case '$':
            return n > 0 && v.size() >= n && SameText(v.substr(v.size() - n), want, t.anyCase);
        case '*':
            for (std::size_t i = 0; n > 0 && i + n <= v.size(); ++i)
                if (SameText(v.substr(i, n), want, t.anyCase)) return true;
            return false;
        default:
            return false;
    }
}

bool MatchesCompound(const StyleSheet::Compound& c, const xmlNode* node,
                     const ElementFacts* known = nullptr) {
    if (node == nullptr || node->type != XML_ELEMENT_NODE) return false;
    if (!c.tag.empty() && c.tag != Name(node)) return false;
    for (const StyleSheet::AttributeTest& t : c.attributes)
        if (!MatchesAttribute(t, node)) return false;
    for (const StyleSheet::Compound& n : c.nots)
        if (MatchesCompound(n, node, known)) return false;
    if (c.id.empty() && c.classes.empty()) return true;
    std::optional<ElementFacts> facts;
    if (known == nullptr) known = &facts.emplace(node);
    if (!c.id.empty() && known->id != c.id) return false;
    for (const std::string& want : c.classes)
        if (std::find(known->classes.begin(), known->classes.end(), want) == known->classes.end())
            return false;
    return true;
}

const xmlNode* ParentElement(const xmlNode* node) {
    const xmlNode* p = node->parent;
    return p != nullptr && p->type == XML_ELEMENT_NODE ? p : nullptr;
}

using Memo = std::set<std::pair<std::size_t, const xmlNode*>>;

// Selector compounds [0, last] against node and its ancestors, right to left, with backtracking
// over descendant combinators; `failed` remembers what did not match, so a long selector on a
// deep tree costs compounds x depth, not their combinations.
bool MatchesFrom(const std::vector<StyleSheet::Compound>& sel, std::size_t last,
                 const xmlNode* node, Memo& failed) {
    if (failed.count({last, node}) != 0) return false;
    bool match = MatchesCompound(sel[last], node);
    if (match && last > 0) {
        if (sel[last].childOfNext) {
            match = MatchesFrom(sel, last - 1, ParentElement(node), failed);
        } else {
            match = false;
            for (const xmlNode* a = ParentElement(node); a != nullptr && !match;
                 a = ParentElement(a))
                match = MatchesFrom(sel, last - 1, a, failed);
        }
    }
    if (!match) failed.insert({last, node});
    return match;
}

// The whole selector against an element: its own compound first, from what is known of it; the
// ancestors' only when that matches.
bool Matches(const std::vector<StyleSheet::Compound>& sel, const xmlNode* element,
             const ElementFacts& facts) {
    if (sel.empty() || !MatchesCompound(sel.back(), element, &facts)) return false;
    if (sel.size() == 1) return true;
    Memo failed;
    const std::size_t last = sel.size() - 2;
    if (sel.back().childOfNext) return MatchesFrom(sel, last, ParentElement(element), failed);
    for (const xmlNode* a = ParentElement(element); a != nullptr; a = ParentElement(a))
        if (MatchesFrom(sel, last, a, failed)) return true;
    return false;
}

// Reads CSS selectors: type, universal, class, id and attribute selectors and :not() of those,
// joined by descendant and child combinators.
struct SelectorReader {
    const std::string& text;
    std::size_t i = 0;
    int ids = 0, classes = 0, types = 0;

    void SkipSpace() {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    }
    std::string Name() {
        const std::size_t b = i;
        while (i < text.size() && IsNameChar(text[i])) ++i;
        return text.substr(b, i - b);
    }
    bool Eat(char c) {
        if (i < text.size() && text[i] == c) {
            ++i;
            return true;
        }
        return false;
    }
    // What follows '[': a name, then an operator and a value (an identifier or a quoted
    // string) and an optional i or s flag, then ']'.
    bool Attribute(StyleSheet::AttributeTest& t) {
        SkipSpace();
        t.name = Name();
        if (t.name.empty()) return false;
        SkipSpace();
        if (Eat(']')) return true;
        if (i < text.size() && std::string_view("~|^$*").find(text[i]) != std::string_view::npos)
            t.op = text[i++];
        if (!Eat('=')) return false;
        if (t.op == 0) t.op = '=';
        SkipSpace();
        if (i < text.size() && (text[i] == '"' || text[i] == '\'')) {
            const char quote = text[i++];
            while (i < text.size() && text[i] != quote) {
                if (text[i] == '\\' && i + 1 < text.size()) ++i;
                t.value += text[i++];
            }
            if (!Eat(quote)) return false;
        } else {
            t.value = Name();
            if (t.value.empty()) return false;
        }
        SkipSpace();
        if (i < text.size() && std::string_view("iIsS").find(text[i]) != std::string_view::npos) {
            t.anyCase = LowerChar(text[i++]) == 'i';
            SkipSpace();
        }
        return Eat(']');
    }
    // One compound; false when it is empty or uses anything beyond the subset.
    bool Compound(StyleSheet::Compound& c, bool inNot) {
        bool any = false;
        if (Eat('*')) {
            any = true;
        } else if (i < text.size() && IsNameChar(text[i])) {
            c.tag = Name();
            ++types;
            any = true;
        }
        while (i < text.size()) {
            const char kind = text[i];
            if (kind == '.' || kind == '#') {
                ++i;
                const std::string n = Name();
                if (n.empty()) return false;
                if (kind == '.') {
                    c.classes.push_back(n);
                    ++classes;
                } else {
                    if (!c.id.empty() && c.id != n) return false;  // can never match
                    c.id = n;
                    ++ids;
                }
            } else if (kind == '[') {
                ++i;
                StyleSheet::AttributeTest t;
                if (!Attribute(t)) return false;
                c.attributes.push_back(std::move(t));
                ++classes;
            } else if (kind == ':' && !inNot &&
                       IsKeyword(std::string_view(text).substr(i, 5), ":not(")) {
                i += 5;
                do {
                    SkipSpace();
                    StyleSheet::Compound n;
                    if (!Compound(n, true)) return false;
                    c.nots.push_back(std::move(n));
                    SkipSpace();
                } while (Eat(','));
                if (!Eat(')')) return false;
            } else {
                break;
            }
            any = true;
        }
        return any;
    }
};

// One selector of a group; false when it uses anything beyond the supported subset (other
// pseudo-classes, pseudo-elements, sibling combinators).
bool ParseSelector(const std::string& text, StyleSheet::Rule& rule) {
    SelectorReader r{text};
    bool child = false;
    r.SkipSpace();
    while (r.i < text.size()) {
        StyleSheet::Compound c;
        c.childOfNext = child;
        if (!r.Compound(c, false)) return false;
        rule.selector.push_back(std::move(c));
        r.SkipSpace();
        child = r.Eat('>');
        if (child) {
            r.SkipSpace();
            if (r.i == text.size()) return false;
        } else if (r.i < text.size() &&
                   !(IsNameChar(text[r.i]) ||
                     std::string_view("*.#[").find(text[r.i]) != std::string_view::npos)) {
            return false;
        }
    }
    if (rule.selector.empty()) return false;
    rule.specificity = r.ids * 10000 + r.classes * 100 + r.types;
    return true;
}

// The selectors of a group, split at its top-level commas (not those inside :not() or an
// attribute selector's quoted value).
std::vector<std::string> SplitGroup(const std::string& prelude) {
    std::vector<std::string> out;
    int depth = 0;
    char quote = 0;
    std::size_t from = 0;
    for (std::size_t i = 0; i < prelude.size(); ++i) {
        const char c = prelude[i];
        if (quote != 0) {
            if (c == '\\')
                ++i;
            else if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '(' || c == '[') {
            ++depth;
        } else if ((c == ')' || c == ']') && depth > 0) {
            --depth;
        } else if (c == ',' && depth == 0) {
            out.push_back(prelude.substr(from, i - from));
            from = i + 1;
        }
    }
    out.push_back(prelude.substr(from));
    return out;
}

enum class MediaFit { Yes, No, Unknown };

// Whether a viewer on a screen applies rules for this media query list ("screen, print"): a
// query of media type all or screen does; one of another type does not; one with conditions
// ("screen and (min-width: 40em)") is not evaluated.
MediaFit FitsScreen(const std::string& queries) {
    MediaFit fit = MediaFit::No;
    std::size_t from = 0;
    std::string list = Lower(queries);
    for (char& c : list)
        if (std::isspace(static_cast<unsigned char>(c))) c = ' ';
    while (from <= list.size()) {
        const std::size_t comma = std::min(list.find(',', from), list.size());
        std::string query = Trim(list.substr(from, comma - from));
        from = comma + 1;
        if (query.empty()) {
            if (list.find_first_not_of(" \t\r\n") == std::string::npos) return MediaFit::Yes;
            continue;
        }
        if (query.rfind("only ", 0) == 0) query = Trim(query.substr(5));
        if (query == "all" || query == "screen") return MediaFit::Yes;
        if (query.find_first_of(" (") != std::string::npos) fit = MediaFit::Unknown;
    }
    return fit;
}

// Index of the '}' closing the block opened just before `i`, or npos; braces in quoted strings
// ("}" in an attribute selector) are text.
std::size_t BlockEnd(const std::string& css, std::size_t i) {
    int depth = 1;
    for (; i < css.size(); ++i) {
        if (css[i] == '"' || css[i] == '\'') {
            const char quote = css[i];
            while (++i < css.size() && css[i] != quote)
                if (css[i] == '\\') ++i;
            if (i >= css.size()) break;
        } else if (css[i] == '{') {
            ++depth;
        } else if (css[i] == '}' && --depth == 0) {
            return i;
        }
    }
    return std::string::npos;
}

// The properties the cascade computes, by their CSS names.
enum class Property {
    Fill,
    Stroke,
    Color,
    StrokeDasharray,
    StrokeDashoffset,
    StrokeLinecap,
    StrokeWidth,
    StrokeOpacity,
    FillOpacity,
    Opacity,
    MarkerStart,
    MarkerMid,
    MarkerEnd,
    Marker,  // the shorthand: only in CSS, never an attribute
    Visibility,
    Display,
    VectorEffect,
    PaintOrder,
    FontSize,
    CssTransform,  // in CSS only: an attribute of the name is read as SVG 1.1 has it
    CssGeometry,
    Other
};

// Names as views: their lengths are known, so most names differ at once (a large drawing looks a
// name up for every declaration of every shape).
constexpr struct {
    std::string_view name;
    Property property;
} kProperties[] = {{"fill", Property::Fill},
                   {"stroke", Property::Stroke},
                   {"color", Property::Color},
                   {"stroke-dasharray", Property::StrokeDasharray},
                   {"stroke-dashoffset", Property::StrokeDashoffset},
                   {"stroke-linecap", Property::StrokeLinecap},
                   {"stroke-width", Property::StrokeWidth},
                   {"stroke-opacity", Property::StrokeOpacity},
                   {"fill-opacity", Property::FillOpacity},
                   {"opacity", Property::Opacity},
                   {"marker-start", Property::MarkerStart},
                   {"marker-mid", Property::MarkerMid},
                   {"marker-end", Property::MarkerEnd},
                   {"marker", Property::Marker},
                   {"visibility", Property::Visibility},
                   {"display", Property::Display},
                   {"vector-effect", Property::VectorEffect},
                   {"paint-order", Property::PaintOrder},
                   {"font-size", Property::FontSize},
                   {"transform", Property::CssTransform},
                   {"d", Property::CssGeometry},
                   {"r", Property::CssGeometry},
                   {"rx", Property::CssGeometry},
                   {"ry", Property::CssGeometry},
                   {"cx", Property::CssGeometry},
                   {"cy", Property::CssGeometry},
                   {"x", Property::CssGeometry},
                   {"y", Property::CssGeometry},
                   {"width", Property::CssGeometry},
                   {"height", Property::CssGeometry}};

// A CSS name, any case (CSS names are ASCII case-insensitive).
Property PropertyNamed(std::string_view name) {
    for (const auto& p : kProperties)
        if (IsKeyword(name, p.name)) return p.property;
    return Property::Other;
}

// A presentation attribute, exactly as named (XML names are case-sensitive).
Property AttributeProperty(std::string_view name) {
    for (const auto& p : kProperties)
        if (p.property != Property::Marker && p.property != Property::CssTransform &&
            p.property != Property::CssGeometry && name == p.name)
            return p.property;
    return Property::Other;
}

// The text with its CSS comments each made one space (a comment may sit anywhere a space may,
// in a style attribute and a presentation attribute as in a sheet; a hand edit comments a
// declaration out). Quoted strings are kept whole. `storage` holds the result when it differs.
std::string_view WithoutComments(std::string_view text, std::string& storage) {
    if (text.find("/*") == std::string_view::npos) return text;
    storage.clear();
    storage.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '"' || c == '\'') {
            const std::size_t close = text.find(c, i + 1);
            const std::size_t end = close == std::string_view::npos ? text.size() : close + 1;
            storage.append(text.substr(i, end - i));
            i = end;
        } else if (text.compare(i, 2, "/*") == 0) {
            const std::size_t close = text.find("*/", i + 2);
            storage += ' ';
            i = close == std::string_view::npos ? text.size() : close + 2;
        } else {
            storage += c;
            ++i;
        }
    }
    return storage;
}

// One declaration applied to the style; a value the property cannot take is ignored, as CSS
// ignores it, and `inherit` takes the parent's value.
void Apply(ComputedStyle& style, Property property, std::string_view rawValue,
           const ComputedStyle& parent) {
    std::string uncommented;
    const std::string_view value = TrimView(WithoutComments(rawValue, uncommented));
    // The other CSS-wide keywords: `unset` inherits an inherited property and is `initial` for
    // the others (opacity, display), `initial` takes the property's initial value.
    const bool initial = IsKeyword(value, "initial");
    if (initial || IsKeyword(value, "unset")) {
        static const ComputedStyle kInitial;
        return Apply(style, property, "inherit", initial ? kInitial : parent);
    }
    const bool inherit = IsKeyword(value, "inherit");
    switch (property) {
        case Property::Fill:
            if (inherit)
                style.fill = parent.fill;
            else
                ParsePaint(value, &style.fill);
            break;
        case Property::Stroke:
            if (inherit)
                style.stroke = parent.stroke;
            else
                ParsePaint(value, &style.stroke);
            break;
        case Property::Color:
            if (inherit)
                style.colorAlpha = parent.colorAlpha;
            else if (!IsKeyword(value, "currentcolor"))  // on color itself: the parent's
                ParseColorAlpha(value, &style.colorAlpha);
            break;
        case Property::StrokeDasharray:
            if (inherit)
                style.dasharray = parent.dasharray;
            else
                ParseDasharray(value, &style.dasharray);
            break;
        case Property::FontSize:
            if (inherit) {
                style.fontSize = parent.fontSize;
            } else if (CssLength l; ParseCssLength(value, &l)) {
                // em and percentages of the parent's; ex as CSS takes it without the font's
                // x-height, half an em.
                const double em = parent.fontSize;
                style.fontSize =
                    static_cast<float>(l.unit == LengthUnit::Percent ? em * l.value / 100
                                       : l.unit == LengthUnit::Em    ? em * l.value
                                       : l.unit == LengthUnit::Ex    ? em * l.value / 2
                                                                     : UserUnits(l));
            } else {
                style.fontSize = std::nanf("");  // a keyword: the viewer's own sizes
            }
            break;
        case Property::CssTransform:
        case Property::CssGeometry:
            if (!inherit && !IsKeyword(value, "none") && !IsKeyword(value, "auto"))
                (property == Property::CssTransform ? style.cssTransform : style.cssGeometry) =
                    true;
            break;
        case Property::VectorEffect:
            if (inherit)
                style.nonScalingStroke = parent.nonScalingStroke;
            else if (IsKeyword(value, "non-scaling-stroke"))
                style.nonScalingStroke = true;
            else if (IsKeyword(value, "none"))
                style.nonScalingStroke = false;
            break;
        case Property::StrokeLinecap:
            if (inherit)
                style.buttCaps = parent.buttCaps;
            else if (IsKeyword(value, "butt"))
                style.buttCaps = true;
            else if (IsKeyword(value, "round") || IsKeyword(value, "square"))
                style.buttCaps = false;
            break;
        case Property::StrokeDashoffset:
            if (inherit)
                style.dashoffset = parent.dashoffset;
            else
                ParseCssLength(value, &style.dashoffset);
            break;
        case Property::StrokeWidth: {
            CssLength width;
            if (inherit)
                style.strokeWidth = parent.strokeWidth;
            else if (ParseCssLength(value, &width) && width.value >= 0)
                style.strokeWidth = width;
            break;
        }
        case Property::StrokeOpacity:
            if (inherit)
                style.strokeOpacity = parent.strokeOpacity;
            else
                ParseOpacity(value, &style.strokeOpacity);
            break;
        case Property::FillOpacity:
            if (inherit)
                style.fillOpacity = parent.fillOpacity;
            else
                ParseOpacity(value, &style.fillOpacity);
            break;
        case Property::Opacity:
            // Not inherited: `inherit` takes the parent's own, which the product already holds.
            if (inherit)
                style.opacity = 1;
            else
                ParseOpacity(value, &style.opacity);
            break;
        case Property::MarkerStart:
        case Property::MarkerMid:
        case Property::MarkerEnd:
        case Property::Marker: {
            const bool none = IsKeyword(value, "none");
            if (!none && !inherit && !(value.size() >= 4 && IsKeyword(value.substr(0, 4), "url(")))
                return;
            const auto set = [&](Property one, bool& marker, bool inherited) {
                if (property == one || property == Property::Marker)
                    marker = inherit ? inherited : !none;
            };
            set(Property::MarkerStart, style.markerStart, parent.markerStart);
            set(Property::MarkerMid, style.markerMid, parent.markerMid);
            set(Property::MarkerEnd, style.markerEnd, parent.markerEnd);
            break;
        }
        case Property::Visibility:
            if (inherit)
                style.visibility = parent.visibility;
            else if (IsKeyword(value, "visible"))
                style.visibility = Visibility::Visible;
            else if (IsKeyword(value, "hidden"))
                style.visibility = Visibility::Hidden;
            else if (IsKeyword(value, "collapse"))
                style.visibility = Visibility::Collapse;
            break;
        case Property::Display:
            if (IsKeyword(value, "none")) style.displayNone = true;
            break;
        case Property::PaintOrder:
            if (inherit) {
                style.strokeBeforeFill = parent.strokeBeforeFill;
                style.strokeBeforeMarkers = parent.strokeBeforeMarkers;
            } else {
                ParsePaintOrder(value, &style.strokeBeforeFill, &style.strokeBeforeMarkers);
            }
            break;
        case Property::Other:
            break;
    }
}

// Each declaration of a declaration list ("a: b; c: d !important"): f(name, value, important),
// name and value trimmed. Split as SVG++'s css_style_iterator splits (a declaration without a
// name or value, or with a second colon, is dropped), without its iterator's per-character cost,
// which was a tenth of reading a large map.
template <class F>
void ForEachDeclaration(std::string_view commented, F f) {
    std::string storage;
    const std::string_view text = WithoutComments(commented, storage);
    const auto space = [](char c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t'; };
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const std::size_t end = std::min(text.find(';', i), n);
        const std::string_view item = text.substr(i, end - i);
        i = end + 1;
        const std::size_t colon = item.find(':');
        if (colon == std::string_view::npos) continue;
        std::string_view name = item.substr(0, colon), value = item.substr(colon + 1);
        if (value.find(':') != std::string_view::npos) continue;
        while (!name.empty() && space(name.front())) name.remove_prefix(1);
        while (!name.empty() && space(name.back())) name.remove_suffix(1);
        while (!value.empty() && space(value.front())) value.remove_prefix(1);
        while (!value.empty() && space(value.back())) value.remove_suffix(1);
        if (name.empty() || value.empty()) continue;
        bool important = false;
        const std::size_t bang = value.rfind('!');
        if (bang != std::string_view::npos &&
            IsKeyword(TrimView(value.substr(bang + 1)), "important")) {
            important = true;
            value = TrimView(value.substr(0, bang));
        }
        f(name, value, important);
    }
}

}  // namespace

bool AttributeText(const xmlNode* node, const char* name, std::string& storage,
                   std::string_view* value) {
    const xmlAttr* a = OwnAttribute(node, name);
    if (a == nullptr) return false;
    *value = AttributeText(a, storage);
    return true;
}

xmlAttr* OwnAttribute(const xmlNode* node, const char* name) {
    for (xmlAttr* a = node->properties; a != nullptr; a = a->next)
        if (a->ns == nullptr && std::strcmp(reinterpret_cast<const char*>(a->name), name) == 0)
            return a;
    return nullptr;
}

bool GetAttribute(const xmlNode* node, const char* name, std::string* value) {
    std::string storage;
    std::string_view text;
    if (!AttributeText(node, name, storage, &text)) return false;
    if (value != nullptr) value->assign(text);
    return true;
}

bool IsSvgElement(const xmlNode* node) {
    if (node == nullptr || node->type != XML_ELEMENT_NODE) return false;
    return node->ns == nullptr ||
           (node->ns->href != nullptr &&
            std::strcmp(reinterpret_cast<const char*>(node->ns->href), kSvgNamespace) == 0);
}

std::vector<StyleSheet::Declaration> StyleSheet::ParseDeclarations(const std::string& text) {
    std::vector<Declaration> out;
    ForEachDeclaration(text, [&](std::string_view name, std::string_view value, bool important) {
        out.push_back({Lower(std::string(name)), std::string(value), important});
    });
    return out;
}

std::vector<StyleSheet::Rule> StyleSheet::Parse(const std::string& input,
                                                std::vector<std::string>* ignored, int depth) {
    // Comments go first; they may sit anywhere.
    std::string storage;
    const std::string css(WithoutComments(input, storage));
    std::vector<Rule> rules;
    std::size_t i = 0;
    while (i < css.size()) {
        while (i < css.size() && std::isspace(static_cast<unsigned char>(css[i]))) ++i;
        if (i >= css.size()) break;
        const std::size_t open = css.find_first_of(css[i] == '@' ? ";{" : "{", i);
        if (open == std::string::npos) break;
        if (css[i] == '@') {
            // A viewer applies @media rules for all media or the screen; other at-rules set
            // nothing a stroke shows, but @import, @supports and media conditions, which korrand
            // does not evaluate (and nothing is fetched), are named.
            const std::string prelude = Trim(css.substr(i, open - i));
            const std::string name = Lower(prelude.substr(0, prelude.find_first_of(" \t\r\n(\"'")));
            const bool block = css[open] == '{';
            const std::size_t end = block ? BlockEnd(css, open + 1) : open;
            if (end == std::string::npos) break;
            // Real sheets nest @media a level or two; deeper is not applied (nor recursed into).
            const MediaFit fit = !block || name != "@media" ? MediaFit::No
                                 : depth >= 8               ? MediaFit::Unknown
                                                            : FitsScreen(prelude.substr(6));
            if (fit == MediaFit::Yes) {
                for (Rule& rule : Parse(css.substr(open + 1, end - open - 1), ignored, depth + 1))
                    rules.push_back(std::move(rule));
            } else if (ignored != nullptr &&
                       (fit == MediaFit::Unknown || name == "@import" || name == "@supports")) {
                ignored->push_back(prelude);
            }
            i = end + 1;
            continue;
        }
        const std::size_t close = BlockEnd(css, open + 1);
        if (close == std::string::npos) break;
        const std::vector<Declaration> declarations =
            ParseDeclarations(css.substr(open + 1, close - open - 1));
        for (const std::string& selector : SplitGroup(css.substr(i, open - i))) {
            Rule rule;
            if (ParseSelector(selector, rule)) {
                rule.declarations = declarations;
                rules.push_back(std::move(rule));
            } else if (ignored != nullptr && !declarations.empty() && !Trim(selector).empty()) {
                ignored->push_back(Trim(selector));
            }
        }
        i = close + 1;
    }
    return rules;
}

bool StyleSheet::Matches(const std::vector<Compound>& selector, const xmlNode* element) {
    return korrand::io::detail::Matches(selector, element, ElementFacts(element));
}

StyleSheet::StyleSheet(const std::vector<const xmlNode*>& styleElements) {
    for (const xmlNode* style : styleElements) {
        if (!IsSvgElement(style)) continue;
        std::string type;
        if (GetAttribute(style, "type", &type) && !type.empty() && Lower(Trim(type)) != "text/css")
            continue;
        // A sheet for other media (media="print") is not applied on a screen, as an @media rule.
        std::string media;
        if (GetAttribute(style, "media", &media) && !Trim(media).empty()) {
            const MediaFit fit = FitsScreen(media);
            if (fit == MediaFit::Unknown) ignored_.push_back("@media " + Trim(media));
            if (fit != MediaFit::Yes) continue;
        }
        // Text and CDATA only: an entity reference inside is not expanded.
        std::string text;
        for (const xmlNode* c = style->children; c != nullptr; c = c->next)
            if ((c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) &&
                c->content != nullptr)
                text += reinterpret_cast<const char*>(c->content);
        for (Rule& rule : Parse(text, &ignored_)) rules_.push_back(std::move(rule));
    }
}

std::vector<const StyleSheet::Rule*> StyleSheet::Matched(const xmlNode* element) const {
    std::vector<const Rule*> matched;
    if (!rules_.empty()) {
        const ElementFacts facts(element);
        for (const Rule& rule : rules_)
            if (korrand::io::detail::Matches(rule.selector, element, facts))
                matched.push_back(&rule);
        std::stable_sort(matched.begin(), matched.end(), [](const Rule* a, const Rule* b) {
            return a->specificity < b->specificity;
        });
    }
    return matched;
}

// Lowest precedence first: presentation attributes, sheet rules by specificity then order, the
// style attribute, then the important sheet declarations and important style attribute.
template <class Declare>
void StyleSheet::Cascade(const xmlNode* element, const std::vector<const Rule*>& matched,
                         const Declare& declare) {
    std::string storage;
    std::string_view inlineStyle;
    bool hasStyle = false;
    for (const xmlAttr* a = element->properties; a != nullptr; a = a->next) {
        if (a->ns != nullptr) continue;
        const char* name = reinterpret_cast<const char*>(a->name);
        if (std::strcmp(name, "style") == 0) {
            hasStyle = true;
            continue;
        }
        const Property property = AttributeProperty(name);
        if (property != Property::Other) declare(property, AttributeText(a, storage));
    }
    std::string styleStorage;
    if (hasStyle) AttributeText(element, "style", styleStorage, &inlineStyle);
    bool inlineImportant = false;  // read again for the second pass only if so
    for (const bool important : {false, true}) {
        for (const Rule* rule : matched)
            for (const Declaration& d : rule->declarations)
                if (d.important == important) declare(PropertyNamed(d.name), d.value);
        if (hasStyle && (!important || inlineImportant))
            ForEachDeclaration(
                inlineStyle, [&](std::string_view name, std::string_view value, bool isImportant) {
                    inlineImportant |= isImportant;
                    if (isImportant == important) declare(PropertyNamed(name), value);
                });
    }
}

ComputedStyle StyleSheet::Compute(const xmlNode* element, const ComputedStyle& parent) const {
    ComputedStyle style = parent;
    style.opacity = 1;               // the element's own, multiplied in below
    style.nonScalingStroke = false;  // not inherited
    style.cssGeometry = false;       // the element's own
    const std::vector<const Rule*> matched = Matched(element);
    // Without the element's own declarations, its dash array is the sheet's, else the parent's.
    style.dashedBesidesOwn = !parent.dasharray.empty();
    for (const bool important : {false, true})
        for (const Rule* rule : matched)
            for (const Declaration& d : rule->declarations)
                if (d.important == important &&
                    PropertyNamed(d.name) == Property::StrokeDasharray) {
                    ComputedStyle besides;
                    besides.dasharray = parent.dasharray;
                    Apply(besides, Property::StrokeDasharray, d.value, parent);
                    style.dashedBesidesOwn = !besides.dasharray.empty();
                }
    Cascade(element, matched, [&](Property property, std::string_view value) {
        Apply(style, property, value, parent);
    });
    style.opacity *= parent.opacity;
    return style;
}

bool StyleSheet::MatchesByParent() const {
    for (const Rule& rule : rules_)
        for (const Compound& compound : rule.selector)
            if (compound.childOfNext || compound.tag == "defs") return true;
    return false;
}

std::string StyleSheet::OwnColor(const xmlNode* element) const {
    std::string color;
    Cascade(element, Matched(element), [&](Property property, std::string_view value) {
        if (property != Property::Color) return;
        std::string uncommented;
        value = TrimView(WithoutComments(value, uncommented));
        if (IsKeyword(value, "inherit") || IsKeyword(value, "unset") ||
            IsKeyword(value, "currentcolor"))
            color.clear();
        else if (double alpha = 1; IsKeyword(value, "initial") || ParseColorAlpha(value, &alpha))
            color = std::string(value);
    });
    // "initial" is black, which the element's place may not give.
    if (IsKeyword(color, "initial")) color = "black";
    return color;
}

std::vector<StyleSheet::Declaration> StyleSheet::RuleDeclarations(const xmlNode* element) const {
    std::vector<Declaration> out;
    const std::vector<const Rule*> matched = Matched(element);
    if (matched.empty()) return out;
    // What the style attribute declares, and which of those are !important: it wins over a
    // rule's declaration of the same property unless only the rule's is !important.
    std::vector<std::pair<std::string, bool>> own;
    std::string storage;
    std::string_view inlineStyle;
    if (AttributeText(element, "style", storage, &inlineStyle))
        ForEachDeclaration(inlineStyle,
                           [&](std::string_view name, std::string_view, bool important) {
                               own.emplace_back(std::string(name), important);
                           });
    const auto overridden = [&](const Declaration& d) {
        for (const auto& [name, important] : own)
            if (name == d.name && (important || !d.important)) return true;
        return false;
    };
    for (const bool important : {false, true})
        for (const Rule* rule : matched)
            for (const Declaration& d : rule->declarations) {
                if (d.important != important || overridden(d)) continue;
                const auto same = std::find_if(
                    out.begin(), out.end(), [&](const Declaration& o) { return o.name == d.name; });
                if (same != out.end())
                    *same = d;
                else
                    out.push_back(d);
            }
    return out;
}

bool StyleSheet::Declares(const std::string& property, bool importantOnly) const {
    for (const Rule& rule : rules_)
        for (const Declaration& d : rule.declarations)
            if ((d.important || !importantOnly) &&
                (d.name == property || (d.name == "marker" && property.rfind("marker-", 0) == 0)))
                return true;
    return false;
}

std::string EditStyle(std::string_view style, std::initializer_list<std::string_view> remove,
                      const std::vector<std::pair<std::string, std::string>>& set, bool* keptAny) {
    if (keptAny != nullptr) *keptAny = false;
    std::string out;
    out.reserve(style.size() + 64);
    const auto add = [&](std::string_view name, std::string_view value, bool important) {
        if (!out.empty()) out += ';';
        // Appended whole, then lowered in place: a character at a time cost a size check each.
        const std::size_t at = out.size();
        out += name;
        for (std::size_t i = at; i < out.size(); ++i) out[i] = LowerChar(out[i]);
        out += ':';
        out += value;
        if (important) out += " !important";
    };
    const auto named = [](std::string_view name, std::string_view lower) {
        return IsKeyword(name, lower);
    };
    ForEachDeclaration(style, [&](std::string_view name, std::string_view value, bool important) {
        for (const std::string_view r : remove)
            if (named(name, r)) return;
        if (keptAny != nullptr) *keptAny = true;
        for (const auto& s : set)
            if (named(name, s.first)) return;
        add(name, value, important);
    });
    for (const auto& [name, value] : set) add(name, value, false);
    return out;
}

}  // namespace korrand::io::detail
