// SVG reading: the document is parsed with libxml2 and kept whole for the writer; each drawn
// path, polyline, polygon, line, rect, circle and ellipse that the options choose becomes line
// objects in the root's user space (the page up to a uniform scale; only a viewBox stretched by
// preserveAspectRatio="none" is evened out, so dash lengths compare as on paper). The parts,
// each in a file of its own, are listed in svg_read.h; this file runs them in order.
#include <cstring>
#include <exception>
#include <thread>

#include <libxml/entities.h>

#include "format_detail.h"
#include "svg_read.h"

namespace korrand::io::detail {
namespace {

// Illustrator declares the root's namespaces through entities of the internal subset
// (xmlns="&ns_svg;"), which the parser leaves unexpanded in a namespace's name; viewers expand
// them. So are they here (and written back expanded, which names the same namespaces).
void ExpandEntityNamespaces(xmlDoc* doc, xmlNode* root) {
    for (xmlNs* ns = root->nsDef; ns != nullptr; ns = ns->next) {
        const char* href = reinterpret_cast<const char*>(ns->href);
        const std::size_t n = href != nullptr ? std::strlen(href) : 0;
        if (n < 3 || href[0] != '&' || href[n - 1] != ';') continue;
        const std::string name(href + 1, n - 2);
        const xmlEntity* entity =
            xmlGetDocEntity(doc, reinterpret_cast<const xmlChar*>(name.c_str()));
        if (entity == nullptr || entity->etype != XML_INTERNAL_GENERAL_ENTITY ||
            entity->content == nullptr)
            continue;
        xmlChar* expanded = xmlStrdup(entity->content);
        if (expanded == nullptr) throw std::bad_alloc();
        xmlFree(const_cast<xmlChar*>(ns->href));
        ns->href = expanded;
    }
}

// Texts from this size on are checked for nesting beside parsing, on a thread of their own.
constexpr std::size_t kCheckAside = 1 << 20;

}  // namespace

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

void ReadContext::Refuse(const xmlNode* node, const std::string& message) const {
    throw ReadError(file, node != nullptr ? LineOf(node) : 0, message);
}

std::string Diagnostics::Where(const xmlNode* node) const {
    std::string text = file_.empty() ? std::string("<input>") : file_;
    if (node != nullptr && LineOf(node) > 0) text += ":" + std::to_string(LineOf(node));
    return text;
}

void Diagnostics::BeforeRecording() {
    if (!beforeRecording) return;
    // Not again while it runs.
    const std::function<void()> hook = std::move(beforeRecording);
    beforeRecording = nullptr;
    try {
        hook();
    } catch (...) {
        beforeRecording = hook;
        throw;
    }
    beforeRecording = hook;
}

void Diagnostics::Merge(const Diagnostics& other) {
    BeforeRecording();
    for (const std::string& kind : other.order_) {
        const Kind& theirs = other.kinds_.at(kind);
        Kind& k = kinds_[kind];
        if (k.count == 0) {
            order_.push_back(kind);
            k.first = theirs.first;
        }
        k.count += theirs.count;
    }
    notes_.insert(notes_.end(), other.notes_.begin(), other.notes_.end());
}

void Diagnostics::Count(const xmlNode* node, const std::string& kind, const std::string& first) {
    BeforeRecording();
    Kind& k = kinds_[kind];
    if (k.count++ == 0) {
        order_.push_back(kind);
        k.first = Where(node) + ": " + first;
    }
}

void Diagnostics::Skip(const xmlNode* node, const std::string& kind, const std::string& what,
                       const std::string& detail) {
    Count(node, kind, "skipped " + what + ": " + kind + detail);
}

void Diagnostics::Warn(const xmlNode* node, const std::string& kind, const std::string& what) {
    Count(node, kind, what + ": " + kind);
}

void Diagnostics::Note(const std::string& text) {
    BeforeRecording();
    notes_.push_back(text);
}

std::vector<std::string> Diagnostics::Lines() const {
    std::vector<std::string> lines = notes_;
    for (const std::string& kind : order_) {
        const Kind& k = kinds_.at(kind);
        std::string line = k.first;
        if (k.count > 1) line += " (and " + std::to_string(k.count - 1) + " more like it)";
        lines.push_back(line);
    }
    // An id, a label or a value quoted from the file may hold a line break (&#10;).
    for (std::string& line : lines)
        for (char& c : line)
            if (c == '\n' || c == '\r') c = ' ';
    return lines;
}

Document ReadSvg(std::string text, const std::string& file, const ReadOptions& options) {
    auto scene = std::make_shared<SvgScene>();
    if (text.size() < kCheckAside) {
        CheckNesting(text, file);
        ParseDocument(text, file, *scene);
    } else {
        // A large text's nesting is checked on a thread of its own while libxml2 parses it (which
        // takes any depth safely); a refusal of the nesting wins, as if it had come first.
        std::exception_ptr nesting;
        std::thread checker([&] {
            try {
                CheckNesting(text, file);
            } catch (...) {
                nesting = std::current_exception();
            }
        });
        std::exception_ptr parsing;
        try {
            ParseDocument(text, file, *scene);
        } catch (...) {
            parsing = std::current_exception();
        }
        checker.join();
        if (nesting) std::rethrow_exception(nesting);
        if (parsing) std::rethrow_exception(parsing);
    }
    std::string().swap(text);  // the document holds it all now

    xmlNode* root = xmlDocGetRootElement(scene->doc);
    if (root == nullptr) throw ReadError(file, 0, "no XML element");
    ExpandEntityNamespaces(scene->doc, root);
    if (!Is(root, "svg") || !IsSvgElement(root))
        throw ReadError(file, LineOf(root),
                        "the root element is <" + std::string(Name(root)) + ">, not <svg>");

    Document doc;
    ReadContext context(file, options, *scene, root, ReadPage(root, doc));
    // With a viewBox the drawing's size is known before its shapes are.
    if (context.page.hasViewBox) context.flattening = FlatteningFor(context, {});
    Gathered gathered(file);
    Walk(context, gathered);
    const Flattening flattening =
        context.flattening ? *context.flattening : FlatteningFor(context, gathered.shapes);
    scene->drawingSize = flattening.size;
    scene->tolerance = flattening.tolerance;
    for (const char* property : {"fill", "stroke", "stroke-opacity", "stroke-dasharray",
                                 "marker-start", "marker-mid", "marker-end"})
        if (context.sheet.HasImportant(property)) scene->importantProperties.insert(property);
    for (const char* property : {"stroke-dasharray", "marker-start", "marker-mid", "marker-end"})
        scene->sheetDashesOrMarks |= context.sheet.Declares(property);
    scene->sheetMatchesByParent = context.sheet.MatchesByParent();
    BuildObjects(context, flattening, gathered, doc, *scene);
    for (const std::string& selector : context.sheet.Ignored())
        gathered.diagnostics.Warn(root,
                                  selector[0] == '@'
                                      ? "a style sheet's @import (not fetched), @supports or "
                                        "@media with conditions is not applied"
                                      : "a style rule with a selector korrand does not read (a "
                                        "pseudo-class other than :not, a pseudo-element, a sibling "
                                        "combinator) is not applied",
                                  "'" + selector + "'");
    // A drawing with nothing to dash is still a drawing: it is written back as it is.
    doc.warnings = gathered.diagnostics.Lines();
    doc.drawingSize = context.page.hasViewBox ? flattening.size : DrawingSize(doc);
    doc.shapeCounts = gathered.counts;
    doc.tolerance = flattening.tolerance;
    doc.svgScene = std::move(scene);
    return doc;
}

}  // namespace korrand::io::detail
