// <use>: what it draws is walked where it stands, but a shape drawn through <use> is dashed once,
// in its own user space where it is defined, so all its instances show the same dashes.
// Reference cycles and chains deeper than kMaxUseDepth are refused.
#include <algorithm>

#include "svg_read.h"

namespace korrand::io::detail {
namespace {

// Real drawings nest a few levels of symbols; a chain deeper than this is an expansion bomb.
constexpr int kMaxUseDepth = 32;

}  // namespace

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
    useStack.push_back(el);
    if (Is(target, "symbol")) {
        const StyleRef symbolStyle =
            std::make_shared<const ComputedStyle>(context.sheet.Compute(target, *style));
        if (!symbolStyle->displayNone && symbolStyle->opacity > 0) Children(target, symbolStyle, m);
    } else {
        Element(target, style, m);
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
