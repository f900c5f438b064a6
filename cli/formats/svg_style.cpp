// The SVG style cascade: selector matching over the parsed sheets, and the computed properties.
#include "svg_style.h"

#include <libxml/xmlmemory.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string_view>

#include <svgpp/parser/css_style_iterator.hpp>

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

const char* Name(const xmlNode* node) {
    return reinterpret_cast<const char*>(node->name);
}

bool IsNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
}

// The class attribute's tokens.
std::vector<std::string> Classes(const xmlNode* node) {
    std::string text;
    std::vector<std::string> out;
    if (!GetAttribute(node, "class", &text)) return out;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
        std::size_t j = i;
        while (j < text.size() && !std::isspace(static_cast<unsigned char>(text[j]))) ++j;
        if (j > i) out.push_back(text.substr(i, j - i));
        i = j;
    }
    return out;
}

bool MatchesCompound(const StyleSheet::Compound& c, const xmlNode* node) {
    if (node == nullptr || node->type != XML_ELEMENT_NODE) return false;
    if (!c.tag.empty() && c.tag != Name(node)) return false;
    std::string id;
    if (!c.id.empty() && !(GetAttribute(node, "id", &id) && id == c.id)) return false;
    if (!c.classes.empty()) {
        const std::vector<std::string> have = Classes(node);
        for (const std::string& want : c.classes)
            if (std::find(have.begin(), have.end(), want) == have.end()) return false;
    }
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

// One selector of a group; false when it uses anything beyond the supported subset.
bool ParseSelector(const std::string& text, StyleSheet::Rule& rule) {
    std::size_t i = 0;
    int ids = 0, classes = 0, types = 0;
    bool child = false;
    const auto skipSpace = [&] {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    };
    const auto name = [&] {
        const std::size_t b = i;
        while (i < text.size() && IsNameChar(text[i])) ++i;
        return text.substr(b, i - b);
    };
    skipSpace();
    while (i < text.size()) {
        StyleSheet::Compound c;
        c.childOfNext = child;
        bool any = false;
        if (text[i] == '*') {
            ++i;
            any = true;
        } else if (IsNameChar(text[i])) {
            c.tag = name();
            ++types;
            any = true;
        }
        while (i < text.size() && (text[i] == '.' || text[i] == '#')) {
            const char kind = text[i++];
            const std::string n = name();
            if (n.empty()) return false;
            if (kind == '.') {
                c.classes.push_back(n);
                ++classes;
            } else {
                if (!c.id.empty() && c.id != n) return false;  // can never match
                c.id = n;
                ++ids;
            }
            any = true;
        }
        if (!any) return false;
        rule.selector.push_back(std::move(c));
        skipSpace();
        child = false;
        if (i < text.size() && text[i] == '>') {
            ++i;
            child = true;
            skipSpace();
            if (i == text.size()) return false;
        } else if (i < text.size() &&
                   !(IsNameChar(text[i]) || text[i] == '*' || text[i] == '.' || text[i] == '#')) {
            return false;  // attribute selectors, pseudo-classes, sibling combinators
        }
    }
    if (rule.selector.empty()) return false;
    rule.specificity = ids * 10000 + classes * 100 + types;
    return true;
}

// Index of the '}' closing the block opened just before `i`, or npos.
std::size_t BlockEnd(const std::string& css, std::size_t i) {
    int depth = 1;
    for (; i < css.size(); ++i) {
        if (css[i] == '{') ++depth;
        if (css[i] == '}' && --depth == 0) return i;
    }
    return std::string::npos;
}

// One declaration applied to the style; a value the property cannot take is ignored, as CSS
// ignores it, and `inherit` takes the parent's value.
void Apply(ComputedStyle& style, const std::string& name, const std::string& rawValue,
           const ComputedStyle& parent) {
    const std::string value = Trim(rawValue);
    const bool inherit = Lower(value) == "inherit";
    if (name == "fill" || name == "stroke") {
        Paint& paint = name == "fill" ? style.fill : style.stroke;
        if (inherit)
            paint = name == "fill" ? parent.fill : parent.stroke;
        else
            ParsePaint(value, &paint);
    } else if (name == "color") {
        if (inherit)
            style.colorAlpha = parent.colorAlpha;
        else if (Lower(value) != "currentcolor")  // currentColor on color itself: the parent's
            ParseColorAlpha(value, &style.colorAlpha);
    } else if (name == "stroke-dasharray") {
        if (inherit)
            style.dasharray = parent.dasharray;
        else
            ParseDasharray(value, &style.dasharray);
    } else if (name == "stroke-dashoffset") {
        if (inherit)
            style.dashoffset = parent.dashoffset;
        else
            ParseCssLength(value, &style.dashoffset);
    } else if (name == "stroke-width") {
        CssLength width;
        if (inherit)
            style.strokeWidth = parent.strokeWidth;
        else if (ParseCssLength(value, &width) && width.value >= 0)
            style.strokeWidth = width;
    } else if (name == "stroke-opacity" || name == "fill-opacity" || name == "opacity") {
        double& number = name == "stroke-opacity" ? style.strokeOpacity
                         : name == "fill-opacity" ? style.fillOpacity
                                                  : style.opacity;
        // opacity is not inherited: `inherit` takes the parent's own, which the product
        // already holds.
        if (inherit)
            number = name == "stroke-opacity" ? parent.strokeOpacity
                     : name == "fill-opacity" ? parent.fillOpacity
                                              : 1;
        else
            ParseOpacity(value, &number);
    } else if (name == "marker-start" || name == "marker-mid" || name == "marker-end" ||
               name == "marker") {
        const bool none = Lower(value) == "none";
        if (!none && Lower(value).rfind("url(", 0) != 0 && !inherit) return;
        const auto set = [&](bool& marker, bool inherited) {
            marker = inherit ? inherited : !none;
        };
        if (name != "marker-mid" && name != "marker-end")
            set(style.markerStart, parent.markerStart);
        if (name != "marker-start" && name != "marker-end") set(style.markerMid, parent.markerMid);
        if (name != "marker-start" && name != "marker-mid") set(style.markerEnd, parent.markerEnd);
    } else if (name == "visibility") {
        const std::string lower = Lower(value);
        if (inherit)
            style.visibility = parent.visibility;
        else if (lower == "visible")
            style.visibility = Visibility::Visible;
        else if (lower == "hidden")
            style.visibility = Visibility::Hidden;
        else if (lower == "collapse")
            style.visibility = Visibility::Collapse;
    } else if (name == "display") {
        if (Lower(value) == "none") style.displayNone = true;
    }
}

}  // namespace

bool GetAttribute(const xmlNode* node, const char* name, std::string* value) {
    xmlChar* v = xmlGetNoNsProp(node, reinterpret_cast<const xmlChar*>(name));
    if (v == nullptr) return false;
    if (value != nullptr) *value = reinterpret_cast<const char*>(v);
    xmlFree(v);
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
    for (svgpp::css_style_iterator<const char*> it(text.data(), text.data() + text.size());
         !it.eof(); ++it) {
        Declaration d;
        d.name = Lower(Trim(std::string_view(it->first.begin(), it->first.size())));
        d.value = Trim(std::string_view(it->second.begin(), it->second.size()));
        const std::size_t bang = d.value.rfind('!');
        if (bang != std::string::npos && Lower(Trim(d.value.substr(bang + 1))) == "important") {
            d.important = true;
            d.value = Trim(d.value.substr(0, bang));
        }
        out.push_back(std::move(d));
    }
    return out;
}

std::vector<StyleSheet::Rule> StyleSheet::Parse(const std::string& input) {
    // Comments go first; they may sit anywhere.
    std::string css;
    css.reserve(input.size());
    for (std::size_t i = 0; i < input.size();) {
        if (input.compare(i, 2, "/*") == 0) {
            const std::size_t end = input.find("*/", i + 2);
            if (end == std::string::npos) break;
            i = end + 2;
            css += ' ';
        } else {
            css += input[i++];
        }
    }
    std::vector<Rule> rules;
    std::size_t i = 0;
    while (i < css.size()) {
        while (i < css.size() && std::isspace(static_cast<unsigned char>(css[i]))) ++i;
        if (i >= css.size()) break;
        const std::size_t open = css.find_first_of(css[i] == '@' ? ";{" : "{", i);
        if (open == std::string::npos) break;
        if (css[i] == '@') {
            // At-rules (@media, @import, @font-face, ...) are not applied, and nothing is fetched.
            if (css[open] == ';') {
                i = open + 1;
                continue;
            }
            const std::size_t end = BlockEnd(css, open + 1);
            if (end == std::string::npos) break;
            i = end + 1;
            continue;
        }
        const std::size_t close = BlockEnd(css, open + 1);
        if (close == std::string::npos) break;
        const std::vector<Declaration> declarations =
            ParseDeclarations(css.substr(open + 1, close - open - 1));
        const std::string prelude = css.substr(i, open - i);
        std::size_t from = 0;
        while (from <= prelude.size()) {
            std::size_t comma = prelude.find(',', from);
            if (comma == std::string::npos) comma = prelude.size();
            Rule rule;
            if (ParseSelector(prelude.substr(from, comma - from), rule)) {
                rule.declarations = declarations;
                rules.push_back(std::move(rule));
            }
            from = comma + 1;
        }
        i = close + 1;
    }
    return rules;
}

bool StyleSheet::Matches(const std::vector<Compound>& selector, const xmlNode* element) {
    Memo failed;
    return !selector.empty() && MatchesFrom(selector, selector.size() - 1, element, failed);
}

StyleSheet::StyleSheet(xmlNode* root) {
    // Every <style> of the document, in document order, wherever it is (usually in <defs>).
    std::vector<const xmlNode*> stack{root};
    std::vector<const xmlNode*> styles;
    while (!stack.empty()) {
        const xmlNode* node = stack.back();
        stack.pop_back();
        if (IsSvgElement(node) && std::strcmp(Name(node), "style") == 0) styles.push_back(node);
        std::vector<const xmlNode*> children;
        for (const xmlNode* c = node->children; c != nullptr; c = c->next)
            if (c->type == XML_ELEMENT_NODE) children.push_back(c);
        stack.insert(stack.end(), children.rbegin(), children.rend());
    }
    for (const xmlNode* style : styles) {
        std::string type;
        if (GetAttribute(style, "type", &type) && !type.empty() && Lower(Trim(type)) != "text/css")
            continue;
        // Text and CDATA only: an entity reference inside is not expanded.
        std::string text;
        for (const xmlNode* c = style->children; c != nullptr; c = c->next)
            if ((c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) &&
                c->content != nullptr)
                text += reinterpret_cast<const char*>(c->content);
        for (Rule& rule : Parse(text)) rules_.push_back(std::move(rule));
    }
}

ComputedStyle StyleSheet::Compute(const xmlNode* element, const ComputedStyle& parent) const {
    ComputedStyle style = parent;
    style.opacity = 1;  // the element's own, multiplied in below
    // Lowest precedence first: presentation attributes, sheet rules by specificity then order,
    // the style attribute, then the important sheet declarations and important style attribute.
    static const char* const kProperties[] = {
        "fill",         "stroke",         "color",        "stroke-dasharray", "stroke-dashoffset",
        "stroke-width", "stroke-opacity", "fill-opacity", "opacity",          "marker-start",
        "marker-mid",   "marker-end",     "visibility",   "display"};
    for (const char* p : kProperties) {
        std::string v;
        if (GetAttribute(element, p, &v)) Apply(style, p, v, parent);
    }
    std::vector<const Rule*> matched;
    for (const Rule& rule : rules_)
        if (Matches(rule.selector, element)) matched.push_back(&rule);
    std::stable_sort(matched.begin(), matched.end(),
                     [](const Rule* a, const Rule* b) { return a->specificity < b->specificity; });
    std::vector<Declaration> inline_;
    std::string text;
    if (GetAttribute(element, "style", &text)) inline_ = ParseDeclarations(text);
    for (const bool important : {false, true}) {
        for (const Rule* rule : matched)
            for (const Declaration& d : rule->declarations)
                if (d.important == important) Apply(style, d.name, d.value, parent);
        for (const Declaration& d : inline_)
            if (d.important == important) Apply(style, d.name, d.value, parent);
    }
    style.opacity *= parent.opacity;
    return style;
}

bool StyleSheet::HasImportant(const std::string& property) const {
    for (const Rule& rule : rules_)
        for (const Declaration& d : rule.declarations)
            if (d.important &&
                (d.name == property || (d.name == "marker" && property.rfind("marker-", 0) == 0)))
                return true;
    return false;
}

std::string EditStyle(const std::string& style, const std::vector<std::string>& remove,
                      const std::vector<std::pair<std::string, std::string>>& set) {
    std::string out;
    const auto add = [&](const std::string& name, const std::string& value, bool important) {
        if (!out.empty()) out += ";";
        out += name + ":" + value + (important ? " !important" : "");
    };
    for (const StyleSheet::Declaration& d : StyleSheet::ParseDeclarations(style)) {
        if (std::find(remove.begin(), remove.end(), d.name) != remove.end()) continue;
        bool replaced = false;
        for (const auto& s : set) replaced = replaced || s.first == d.name;
        if (!replaced) add(d.name, d.value, d.important);
    }
    for (const auto& [name, value] : set) add(name, value, false);
    return out;
}

}  // namespace korrand::io::detail
