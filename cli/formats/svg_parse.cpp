// The SVG text parsed by libxml2, safely: without network access, without loading a DTD and
// without substituting entities (references in text stay references and are written back as
// such; an entity bomb or an external entity in an attribute is refused as libxml2 refuses it);
// an external entity loader that refuses everything stands guard in case any code path still
// asks for one. Nesting deeper than the recursive parts of the reader can take is refused first.
// Short texts are kept inside their nodes, as xmllint keeps them: a large drawing's thousands of
// small values then take no allocation each (libxml2 frees and replaces them as any other).
#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <algorithm>
#include <cstring>
#include <istream>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "format_detail.h"
#include "svg_read.h"

namespace korrand::io::detail {
namespace {

// Whether the text opens with an XML declaration: in UTF-8 (after a byte order mark or none) or
// in UTF-16 of either byte order, whose declaration names its encoding too.
bool OpensWithDeclaration(const std::string& text) {
    const auto opens = [&](std::string_view mark, std::size_t zeroBefore, std::size_t zeroAfter) {
        std::string declaration(mark);
        for (const char c : std::string_view("<?xml"))
            declaration += std::string(zeroBefore, '\0') + c + std::string(zeroAfter, '\0');
        return text.compare(0, declaration.size(), declaration) == 0;
    };
    using namespace std::string_view_literals;
    return opens(""sv, 0, 0) || opens("\xEF\xBB\xBF"sv, 0, 0) || opens("\xFF\xFE"sv, 0, 1) ||
           opens(""sv, 0, 1) || opens("\xFE\xFF"sv, 1, 0) || opens(""sv, 1, 0);
}

constexpr int kMaxNesting = 256;  // element depth; the walk recurses per level

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

// The text handed to libxml2 a block at a time.
struct TextSource {
    const char* next;
    std::size_t left;
    static int Read(void* context, char* buffer, int length) {
        auto* self = static_cast<TextSource*>(context);
        const std::size_t n = std::min(self->left, static_cast<std::size_t>(std::max(length, 0)));
        std::memcpy(buffer, self->next, n);
        self->next += n;
        self->left -= n;
        return static_cast<int>(n);
    }
};

struct Noting {
    xmlParserCtxtPtr parser;  // the document's own, not an entity's
    SvgScene* scene;
    bool elementMade = false;   // the document type, which comes first, was read whole
    bool tooLong = false;       // a value past libxml2's default length limit (10,000,000 bytes)
    bool declarations = false;  // the document type declares something (when tooLong)
};

void ErrorRaised(void* context, xmlErrorPtr error) {
    auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
    auto* noting = ctxt != nullptr ? static_cast<Noting*>(ctxt->_private) : nullptr;
    if (noting != nullptr && error != nullptr && error->message != nullptr &&
        (std::strstr(error->message, "length too long") != nullptr ||
         std::strstr(error->message, "Huge input lookup") != nullptr)) {
        noting->tooLong = true;
        const xmlDtd* subset = ctxt->myDoc != nullptr ? ctxt->myDoc->intSubset : nullptr;
        noting->declarations |= subset != nullptr && subset->children != nullptr;
    }
}

// Each element as the parser makes it: its id and whether it is a <style>, noted while the node
// is still in the cache (a walk over a large tree afterwards costs more than the noting).
void StartElement(void* context, const xmlChar* localname, const xmlChar* prefix,
                  const xmlChar* uri, int namespaces, const xmlChar** declared, int attributes,
                  int defaulted, const xmlChar** values) {
    auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
    const int depth = ctxt->nodeNr;
    xmlSAX2StartElementNs(context, localname, prefix, uri, namespaces, declared, attributes,
                          defaulted, values);
    // Only elements of the document itself: an entity's content is parsed apart, by a parser
    // of its own (the tree holds a reference to it, not its elements).
    auto* noting = static_cast<Noting*>(ctxt->_private);
    if (noting == nullptr || ctxt != noting->parser || ctxt->nodeNr != depth + 1) return;
    noting->elementMade = true;
    xmlNode* node = ctxt->node;  // the one just made
    SvgScene* scene = noting->scene;
    if (node->properties != nullptr) {
        std::string id;
        if (GetAttribute(node, "id", &id)) scene->ids.emplace(std::move(id), node);
    }
    const char* name = Name(node);
    if (std::strcmp(name, "style") == 0) scene->styleElements.push_back(node);
    // Text laid along a path, and a clip path's or a mask's <use> of a shape, take that shape's
    // geometry: dashed, it must still be there for them.
    const bool use = std::strcmp(name, "use") == 0;
    bool usesGeometry = std::strcmp(name, "textPath") == 0, inMask = false;
    if (!usesGeometry && use)
        for (const xmlNode* a = node->parent; a != nullptr && !usesGeometry; a = a->parent) {
            inMask = a->type == XML_ELEMENT_NODE && Is(a, "mask");
            usesGeometry = inMask || (a->type == XML_ELEMENT_NODE && Is(a, "clipPath"));
        }
    std::string href;
    if ((usesGeometry || use) &&
        (GetNsAttribute(node, "href", kXlinkNamespace, &href) ||
         GetAttribute(node, "href", &href)) &&
        href.size() > 1 && href[0] == '#') {
        if (usesGeometry) scene->geometryUsers.insert(href.substr(1));
        if (inMask) scene->maskUses[href.substr(1)].push_back(node);
        if (use) scene->useTargets.insert(href.substr(1));
    }
}

std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

}  // namespace

// Mirrors an XML lexer closely enough: comments, CDATA, processing instructions, DOCTYPE (with
// its bracketed subset) and quoted attribute values are skipped.
void CheckNesting(const std::string& text, const std::string& file) {
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
            // Ends at the first '>' outside its bracketed internal subset and outside quoted
            // text (an identifier, an entity's or an attribute default's value).
            const auto skipQuoted = [&] {
                const std::size_t close = text.find(text[i], i + 1);
                i = close == std::string::npos ? n : close;
            };
            for (i += 9; i < n && text[i] != '>'; ++i) {
                if (text[i] == '"' || text[i] == '\'') {
                    skipQuoted();
                    continue;
                }
                if (text[i] != '[') continue;
                for (int brackets = 1; brackets > 0 && ++i < n;) {
                    if (text[i] == '"' || text[i] == '\'')
                        skipQuoted();
                    else
                        brackets += text[i] == '[' ? 1 : text[i] == ']' ? -1 : 0;
                }
            }
        } else if (startsWith("<!")) {
            i = skipPast(">");  // other "<!" markup: skipped to the next ">"
        } else if (startsWith("</")) {
            --depth;
            i = skipPast(">");
        } else {
            const std::size_t start = i;
            for (++i; i < n; ++i) {
                const char c = text[i];
                if (c == '"' || c == '\'') {
                    // A quoted value (path data, a style) skipped whole.
                    const std::size_t close = text.find(c, i + 1);
                    if (close == std::string::npos) {
                        i = n;
                        break;
                    }
                    i = close;
                } else if (c == '>') {
                    break;
                }
            }
            if (i < n && text[i - 1] != '/' && ++depth > kMaxNesting)
                throw ReadError(
                    file, LineAt(text.data(), text.data() + start),
                    "elements nested more than " + std::to_string(kMaxNesting) + " deep");
        }
    }
}

void ParseDocument(const std::string& text, const std::string& file, SvgScene& scene) {
    InitLibxml();
    if (text.size() > static_cast<std::size_t>(INT32_MAX))
        throw ReadError(file, 0, "the file is larger than 2 GiB");
    for (const bool huge : {false, true}) {
        std::unique_ptr<xmlParserCtxt, void (*)(xmlParserCtxtPtr)> ctxt(xmlNewParserCtxt(),
                                                                        xmlFreeParserCtxt);
        if (!ctxt) throw std::bad_alloc();
        ctxt->sax->startElementNs = StartElement;
        ctxt->sax->serror = ErrorRaised;
        Noting noting{ctxt.get(), &scene};
        ctxt->_private = &noting;
        // Handed over as it is read, not as one block: libxml2 copies a block whole into memory
        // of its own (20 MB more on a large map, every page of it touched), while what it reads
        // it keeps in a small window.
        TextSource source{text.data(), text.size()};
        scene.doc = xmlCtxtReadIO(ctxt.get(), TextSource::Read, nullptr, &source, nullptr, nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                                      XML_PARSE_BIG_LINES | XML_PARSE_COMPACT |
                                      (huge ? XML_PARSE_HUGE : 0));
        if (scene.doc != nullptr && ctxt->wellFormed) break;
        // A value longer than libxml2 reads by default (the dashes of a dense drawing in one
        // path can be): read again without its limits where the document type, read whole
        // before the first element, declares nothing, as those limits also hold back an
        // entity's expansion and the nesting (which CheckNesting bounds before).
        if (scene.doc != nullptr) {
            xmlFreeDoc(scene.doc);
            scene.doc = nullptr;
        }
        if (!huge && noting.tooLong && noting.elementMade && !noting.declarations) {
            scene.ids.clear();
            scene.styleElements.clear();
            scene.geometryUsers.clear();
            scene.useTargets.clear();
            continue;
        }
        const xmlError* e = xmlCtxtGetLastError(ctxt.get());
        const int line = e != nullptr ? e->line : 0;
        if (noting.tooLong)
            throw ReadError(file, line,
                            "a value longer than 10,000,000 bytes is read only in a document "
                            "whose document type declares nothing (no entities, no attributes)");
        throw ReadError(file, line,
                        "malformed XML: " + (e != nullptr && e->message != nullptr
                                                 ? Trimmed(e->message)
                                                 : std::string("not well-formed")));
    }
    scene.hasDeclaration = OpensWithDeclaration(text);
}

}  // namespace korrand::io::detail

namespace korrand::io {

// Whether libxml2 with its default limits stops at `in`'s size, as xmllint, lxml and
// rsvg-convert do: handed the text in the blocks it asks for, as from a file, building nothing.
bool RefusedByDefaultLimits(std::istream& in) {
    detail::InitLibxml();
    xmlSAXHandler nothing{};
    nothing.initialized = XML_SAX2_MAGIC;
    bool refused = false;
    nothing.serror = [](void* refusedFlag, xmlErrorPtr error) {
        if (error != nullptr && error->message != nullptr &&
            (std::strstr(error->message, "length too long") != nullptr ||
             std::strstr(error->message, "Huge input lookup") != nullptr))
            *static_cast<bool*>(refusedFlag) = true;
    };
    const xmlInputReadCallback read = [](void* stream, char* buffer, int length) {
        auto& from = *static_cast<std::istream*>(stream);
        from.read(buffer, std::max(length, 0));
        return static_cast<int>(from.gcount());
    };
    std::unique_ptr<xmlParserCtxt, void (*)(xmlParserCtxtPtr)> ctxt(
        xmlCreateIOParserCtxt(&nothing, &refused, read, nullptr, &in, XML_CHAR_ENCODING_NONE),
        xmlFreeParserCtxt);
    if (!ctxt) return false;
    xmlCtxtUseOptions(ctxt.get(), XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    xmlParseDocument(ctxt.get());
    return refused;
}

}  // namespace korrand::io
