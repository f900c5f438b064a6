// Which drawn shapes the options choose: --select by their stroke, --layer by the layer they
// stand in, --id by their own id or an enclosing element's (a <use> that draws them counts).
#include <algorithm>
#include <cctype>
#include <cmath>

#include "svg_read.h"

namespace korrand::io::detail {
namespace {

constexpr const char kSerifNamespace[] = "http://www.serif.com/";

// An id as Illustrator and CorelDRAW write a name with characters ids avoid: "Layer_x0020_1"
// for "Layer 1".
std::string DecodedId(const std::string& id) {
    const auto hex = [](char ch) {
        return std::isxdigit(static_cast<unsigned char>(ch))
                   ? (std::isdigit(static_cast<unsigned char>(ch)) ? ch - '0'
                                                                   : (ch | 0x20) - 'a' + 10)
                   : -1;
    };
    std::string out;
    for (std::size_t i = 0; i < id.size(); ++i) {
        int code = 0;
        // Four hex digits (CorelDRAW) or two (Illustrator, for a leading digit: "_x31_").
        std::size_t digits = 0;
        if (id.compare(i, 2, "_x") == 0)
            for (const std::size_t n : {4, 2})
                if (digits == 0 && i + n + 3 <= id.size() && id[i + n + 2] == '_') digits = n;
        bool escaped = digits > 0;
        for (std::size_t k = i + 2; escaped && k < i + 2 + digits; ++k) {
            escaped = hex(id[k]) >= 0;
            code = code * 16 + hex(id[k]);
        }
        if (escaped && code > 0 && code < 0x80) {  // ASCII: a name is compared as UTF-8
            out += static_cast<char>(code);
            i += digits + 2;
        } else {
            out += id[i];
        }
    }
    return out;
}

// A layer as the editors that made the file show it: an Inkscape layer, a top-level group, or
// (Affinity Designer) a named group in a top-level one that is not named itself, its artboard.
bool IsLayer(const ReadContext& c, const xmlNode* node) {
    std::string value;
    if (!Is(node, "g")) return false;
    if (node->parent == c.root) return true;
    if (GetNsAttribute(node, "groupmode", kInkscapeNamespace, &value) && value == "layer")
        return true;
    const xmlNode* artboard = node->parent;
    return artboard != nullptr && artboard->parent == c.root && Is(artboard, "g") &&
           !GetNsAttribute(artboard, "id", kSerifNamespace, &value) &&
           GetNsAttribute(node, "id", kSerifNamespace, &value);
}

// The names a layer goes by, the one its editor shows first: Inkscape's label, Affinity's name,
// Illustrator's data-name, then its id, decoded and as written.
std::vector<std::string> LayerNames(const xmlNode* node) {
    std::vector<std::string> names;
    std::string value;
    if (GetNsAttribute(node, "groupmode", kInkscapeNamespace, &value) && value == "layer" &&
        GetNsAttribute(node, "label", kInkscapeNamespace, &value))
        names.push_back(value);
    if (GetNsAttribute(node, "id", kSerifNamespace, &value)) names.push_back(value);
    if (GetAttribute(node, "data-name", &value)) names.push_back(value);
    if (GetAttribute(node, "id", &value)) {
        if (std::string decoded = DecodedId(value); decoded != value) names.push_back(decoded);
        names.push_back(value);
    }
    return names;
}

// Whether `node` is a layer called `name`.
bool IsLayerNamed(const ReadContext& c, const xmlNode* node, const std::string& name) {
    if (!IsLayer(c, node)) return false;
    const std::vector<std::string> names = LayerNames(node);
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Inside one of the chosen layers.
bool InLayers(const ReadContext& c, const xmlNode* node) {
    for (const xmlNode* a = node; a != nullptr && a != c.root; a = a->parent) {
        if (a->type != XML_ELEMENT_NODE) continue;
        for (const std::string& layer : c.options.layers)
            if (IsLayerNamed(c, a, layer)) return true;
    }
    return false;
}

bool HasChosenId(const ReadContext& c, const xmlNode* node) {
    for (const xmlNode* a = node; a != nullptr; a = a->parent) {
        std::string id;
        if (a->type == XML_ELEMENT_NODE && GetAttribute(a, "id", &id) &&
            std::find(c.options.ids.begin(), c.options.ids.end(), id) != c.options.ids.end())
            return true;
    }
    return false;
}

// One of the chosen elements, or inside one; a shape drawn through <use> also when a <use> that
// draws it is.
bool InChosenIds(const ReadContext& c, const xmlNode* shape,
                 const std::vector<const xmlNode*>& useStack) {
    if (HasChosenId(c, shape)) return true;
    return std::any_of(useStack.begin(), useStack.end(),
                       [&](const xmlNode* use) { return HasChosenId(c, use); });
}

// The style an element has where it stands in the document.
ComputedStyle StyleWhereItStands(const ReadContext& c, const xmlNode* node) {
    std::vector<const xmlNode*> chain;
    for (const xmlNode* a = node; a != nullptr && a->type == XML_ELEMENT_NODE; a = a->parent)
        chain.push_back(a);
    ComputedStyle style;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) style = c.sheet.Compute(*it, style);
    return style;
}

// A stroke a viewer draws: a paint server this document lacks draws its fallback, or nothing
// without one (one in another file is not fetched, and taken as drawn).
bool StrokeShows(const ReadContext& c, const ComputedStyle& style) {
    if (!PaintsStroke(style)) return false;
    if (style.stroke.kind != Paint::Kind::Url) return true;
    const std::string& text = style.stroke.text;  // url(...) [fallback]
    const std::size_t close = text.find(')');
    std::string ref = text.substr(4, close - 4);
    ref.erase(0, ref.find_first_not_of(" \t\r\n\"'"));
    ref.erase(ref.find_last_not_of(" \t\r\n\"'") + 1);
    if (ref.empty() || ref[0] != '#' || c.ids.find(std::string_view(ref).substr(1)) != c.ids.end())
        return true;
    ComputedStyle fallback = style;
    return ParsePaint(std::string_view(text).substr(close + 1), &fallback.stroke) &&
           fallback.stroke.kind != Paint::Kind::Url && PaintsStroke(fallback);
}

// Fills are never dashed unless all is asked for: a leftover dash array under an unseen stroke
// is not a dashed stroke, nor is one that a viewer draws solid; a stroke of dashes without
// length and butt caps is not seen.
bool Selected(const ReadContext& c, const ComputedStyle& style, DashPattern::Kind dashes) {
    switch (c.options.select) {
        case Select::All:
            return true;
        case Select::Stroked:
            return StrokeShows(c, style) && dashes != DashPattern::Kind::Blank;
        case Select::Dasharray:
            return StrokeShows(c, style) && dashes == DashPattern::Kind::Dashed;
    }
    return true;
}

}  // namespace

// A name that matches nothing is a mistake to say, not an empty result. A layer that is never
// drawn is worth a note.
void CheckChoices(const ReadContext& c, Diagnostics& diagnostics) {
    for (const std::string& id : c.options.ids)
        if (c.ids.find(id) == c.ids.end())
            throw ReadError(c.file, 0, "--id " + id + ": no element has this id");
    if (c.options.layers.empty()) return;
    std::vector<const xmlNode*> layers;  // every editor layer and top-level group
    std::vector<const xmlNode*> stack{c.root};
    while (!stack.empty()) {
        const xmlNode* node = stack.back();
        stack.pop_back();
        for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
            if (child->type != XML_ELEMENT_NODE || !IsSvgElement(child)) continue;
            if (IsLayer(c, child)) layers.push_back(child);
            stack.push_back(child);
        }
    }
    for (const std::string& name : c.options.layers) {
        bool found = false, drawn = false;
        for (const xmlNode* layer : layers) {
            if (!IsLayerNamed(c, layer, name)) continue;
            found = true;
            const ComputedStyle style = StyleWhereItStands(c, layer);
            drawn = drawn || IsDrawn(style);
        }
        if (!found) {
            std::string known;
            for (const xmlNode* layer : layers)
                if (const std::vector<std::string> names = LayerNames(layer); !names.empty())
                    known += (known.empty() ? "" : ", ") + ("'" + names.front() + "'");
            throw ReadError(c.file, 0,
                            "--layer " + name + ": no layer has this name or id" +
                                (known.empty() ? " (the drawing has no layers)"
                                               : " (the layers: " + known + ")"));
        }
        if (!drawn)
            diagnostics.Note((c.file.empty() ? std::string("<input>") : c.file) + ": layer '" +
                             name + "' is hidden: nothing in it is dashed");
    }
}

bool InSelection(const ReadContext& c, const xmlNode* shape,
                 const std::vector<const xmlNode*>& useStack) {
    const xmlNode* anchor = useStack.empty() ? shape : useStack.front();
    return (c.options.layers.empty() || InLayers(c, anchor)) &&
           (c.options.ids.empty() || InChosenIds(c, shape, useStack));
}

Choice Choose(const ReadContext& c, const xmlNode* shape, const ComputedStyle& style,
              double percentBase, const std::vector<const xmlNode*>& useStack) {
    const DashPattern::Kind dashes =
        style.dasharray.empty() ? DashPattern::Kind::None : ResolveDashes(style, percentBase).kind;
    if (!InSelection(c, shape, useStack)) return Choice::NotInSelection;
    // Its dashes, or an original kept beside them (its stroke hidden), whatever --select takes.
    if (std::string made; GetAttribute(shape, kMadeByKorrand, &made)) return Choice::MadeByKorrand;
    if (!Selected(c, style, dashes)) return Choice::NotChosen;
    // Dashed by its own array, a shape whose array draws solid (xfig's "10 0") stays solid; a
    // period or a count for every shape dashes it like any stroke.
    if (c.options.periodFromDasharray && dashes == DashPattern::Kind::Solid)
        return Choice::SolidByItsArray;
    return Choice::Dash;
}

double PercentBase(double width, double height) {
    const double base = std::sqrt((width * width + height * height) / 2);
    return std::isfinite(base) && base > 0 ? base : 0;
}

}  // namespace korrand::io::detail
