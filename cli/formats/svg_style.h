// Computed style of SVG elements, for the few properties that decide what gets dashed:
// presentation attributes, the style attribute and <style> sheets (type, class, id, universal,
// compound, descendant and child selectors, grouped with commas), ordered by importance,
// specificity and source order; inherited properties flow down from the parent.
#pragma once

#include <libxml/tree.h>

#include <string>
#include <vector>

namespace korrand::io::detail {

struct ComputedStyle {
    // Inherited properties; values are trimmed, keywords in lower case.
    std::string fill = "black";
    std::string stroke = "none";
    std::string dasharray = "none";
    std::string visibility = "visible";
    // Only whether they are zero matters: numbers as written, percentages as their number.
    double strokeWidth = 1, strokeOpacity = 1;
    std::string markerStart = "none", markerMid = "none", markerEnd = "none";
    // Not inherited, but an element under display:none is never drawn: carried down as a flag.
    bool displayNone = false;
};

class StyleSheet {
public:
    // Gathers the rules of every <style> element of the document whose type is CSS.
    explicit StyleSheet(xmlNode* root);
    // The style of `element` whose parent (in the rendering tree: a <use> for an instance) has
    // computed style `parent`.
    ComputedStyle Compute(const xmlNode* element, const ComputedStyle& parent) const;
    // Whether some rule declares the property !important: a value set in a style attribute must
    // be !important too to win over it.
    bool HasImportant(const std::string& property) const;

    struct Compound {
        std::string tag;  // empty: any
        std::string id;
        std::vector<std::string> classes;
        bool childOfNext = false;  // joined to the compound before it by '>', not by a space
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

    // Parses a sheet's text; selectors beyond the subset above drop their rule.
    static std::vector<Rule> Parse(const std::string& css);
    static std::vector<Declaration> ParseDeclarations(const std::string& text);
    static bool Matches(const std::vector<Compound>& selector, const xmlNode* element);

private:
    std::vector<Rule> rules_;
};

// A CSS declaration list ("a: b; c: d !important") edited: the named properties removed, then
// `set` appended in order. Declarations are read with the SVG library's style parser.
std::string EditStyle(const std::string& style, const std::vector<std::string>& remove,
                      const std::vector<std::pair<std::string, std::string>>& set);

// The dash array's period in the shape's user units (an odd list repeats to an even one); 0 when
// it has none.
double DasharrayPeriod(const std::string& text);

// The element's attribute without a namespace, if present.
bool GetAttribute(const xmlNode* node, const char* name, std::string* value);
// True for an element of the SVG namespace, or of none (hand-written files often omit it).
bool IsSvgElement(const xmlNode* node);

}  // namespace korrand::io::detail
