// The parsed document printed as libxml2 prints it (svg_save.h). The rules are those of
// libxml2's xmlsave.c for an XML document saved unformatted through a UTF-8 context: the same
// escapes in text and attribute values, namespace declarations before attributes, empty elements
// closed with "/>", each top-level node followed by a newline. The document type declaration is
// printed by libxml2 itself. Tests compare the two printers on whole documents.
#include "svg_save.h"

#include <libxml/parserInternals.h>
#include <libxml/xmlsave.h>

#include <cstring>
#include <ostream>
#include <stdexcept>
#include <vector>

#include "parallel.h"

namespace korrand::io::detail {
namespace {

const char* Text(const xmlChar* s) {
    return reinterpret_cast<const char*>(s);
}

// The bytes each kind of content escapes; byte 0 ends the text.
struct EscapeTable {
    bool special[256] = {};
    constexpr explicit EscapeTable(bool attribute) {
        for (const char c : {'\0', '<', '>', '&', '\r'})
            special[static_cast<unsigned char>(c)] = true;
        if (attribute)
            for (const char c : {'"', '\n', '\t'}) special[static_cast<unsigned char>(c)] = true;
    }
};
constexpr EscapeTable kTextEscapes(false), kAttributeEscapes(true);

const char* EscapeOf(unsigned char c) {
    switch (c) {
        case '<':
            return "&lt;";
        case '>':
            return "&gt;";
        case '&':
            return "&amp;";
        case '\r':
            return "&#13;";
        case '"':
            return "&quot;";
        case '\n':
            return "&#10;";
        case '\t':
            return "&#9;";
    }
    return "";
}

void AppendEscaped(std::string& out, const xmlChar* text, const EscapeTable& table) {
    if (text == nullptr) return;
    const char* s = Text(text);
    for (const char* run = s;; ++s) {
        const auto c = static_cast<unsigned char>(*s);
        if (!table.special[c]) continue;
        out.append(run, static_cast<std::size_t>(s - run));
        if (c == 0) return;
        out += EscapeOf(c);
        run = s + 1;
    }
}

// A value in quotes as libxml2 quotes namespace names and the version: double quotes, else
// single ones when it holds a double quote, else double quotes with &quot;.
void AppendQuoted(std::string& out, const xmlChar* value) {
    const char* s = Text(value);
    if (std::strchr(s, '"') == nullptr) {
        ((out += '"') += s) += '"';
    } else if (std::strchr(s, '\'') == nullptr) {
        ((out += '\'') += s) += '\'';
    } else {
        out += '"';
        for (; *s != '\0'; ++s) *s == '"' ? out += "&quot;" : out += *s;
        out += '"';
    }
}

void AppendName(std::string& out, const xmlNs* ns, const xmlChar* name) {
    if (ns != nullptr && ns->prefix != nullptr) (out += Text(ns->prefix)) += ':';
    out += Text(name);
}

// One piece of the document: a whole node, or the start or end tag of an element whose
// content is cut into further pieces.
struct Piece {
    enum class Kind { Node, Open, Close } kind;
    const xmlNode* node;
};

class Printer {
public:
    Printer(const NewPathDataOf& paths, const PathDataWriter& writer)
        : paths_(paths), writer_(writer) {}

    void Node(std::string& out, const xmlNode* node, unsigned thread) const {
        switch (node->type) {
            case XML_ELEMENT_NODE:
                Sibling(out, node, thread, true);
                StartTag(out, node, thread);
                if (node->children == nullptr) {
                    out += "/>";
                } else {
                    out += '>';
                    for (const xmlNode* c = node->children; c != nullptr; c = c->next)
                        Node(out, c, thread);
                    EndTag(out, node);
                }
                Sibling(out, node, thread, false);
                return;
            case XML_TEXT_NODE:
                if (node->content == nullptr) return;
                if (node->name == xmlStringTextNoenc)
                    out += Text(node->content);
                else
                    AppendEscaped(out, node->content, kTextEscapes);
                return;
            case XML_CDATA_SECTION_NODE:
                Cdata(out, node->content);
                return;
            case XML_COMMENT_NODE:
                if (node->content != nullptr) ((out += "<!--") += Text(node->content)) += "-->";
                return;
            case XML_PI_NODE:
                (out += "<?") += Text(node->name);
                if (node->content != nullptr) (out += ' ') += Text(node->content);
                out += "?>";
                return;
            case XML_ENTITY_REF_NODE:
                ((out += '&') += Text(node->name)) += ';';
                return;
            default:
                return;  // nothing else stands in an element's content
        }
    }

    // The start tag without its closing '>'.
    void StartTag(std::string& out, const xmlNode* node, unsigned thread) const {
        const NewPathData* path = paths_.Find(node);
        const PrintedElement* self = path != nullptr ? path->self : nullptr;
        out += '<';
        if (self != nullptr)
            AppendName(out, self->ns, self->name);
        else
            AppendName(out, node->ns, node->name);
        for (const xmlNs* ns = node->nsDef; ns != nullptr; ns = ns->next) {
            if (ns->type != XML_LOCAL_NAMESPACE || ns->href == nullptr) continue;
            if (ns->prefix != nullptr && std::strcmp(Text(ns->prefix), "xml") == 0) continue;
            out += " xmlns";
            if (ns->prefix != nullptr) (out += ':') += Text(ns->prefix);
            out += '=';
            AppendQuoted(out, ns->href);
        }
        if (self != nullptr) return Attributes(out, *self, path->shape, thread);
        if (path != nullptr && path->sibling != nullptr) path = nullptr;  // its sibling's
        for (const xmlAttr* a = node->properties; a != nullptr; a = a->next) {
            out += ' ';
            AppendName(out, a->ns, a->name);
            out += "=\"";
            if (path != nullptr && a->ns == nullptr && std::strcmp(Text(a->name), "d") == 0)
                writer_(path->shape, thread, out);
            else
                AppendValue(out, a);
            out += '"';
        }
    }

    static void AppendValue(std::string& out, const xmlAttr* a) {
        for (const xmlNode* c = a->children; c != nullptr; c = c->next) {
            if (c->type == XML_TEXT_NODE)
                AppendEscaped(out, c->content, kAttributeEscapes);
            else if (c->type == XML_ENTITY_REF_NODE)
                ((out += '&') += Text(c->name)) += ';';
        }
    }

    // An element's attributes as the printer is told to write them.
    void Attributes(std::string& out, const PrintedElement& element, std::size_t shape,
                    unsigned thread) const {
        for (const PrintedElement::Attribute& a : element.attributes) {
            out += ' ';
            if (a.copyOf != nullptr)
                AppendName(out, a.copyOf->ns, a.copyOf->name);
            else
                out += a.name;
            out += "=\"";
            if (a.pathData)
                writer_(shape, thread, out);
            else if (a.copyOf != nullptr)
                AppendValue(out, a.copyOf);
            else
                AppendEscaped(out, reinterpret_cast<const xmlChar*>(a.value->c_str()),
                              kAttributeEscapes);
            out += '"';
        }
    }

    // The sibling the tree does not hold, if the element has one and it goes `first` (before
    // it) or not.
    void Sibling(std::string& out, const xmlNode* node, unsigned thread, bool first) const {
        const NewPathData* path = paths_.Find(node);
        if (path == nullptr || path->sibling == nullptr || path->siblingFirst != first) return;
        const PrintedElement& sibling = *path->sibling;
        out += '<';
        AppendName(out, sibling.ns, sibling.name);
        Attributes(out, sibling, path->shape, thread);
        out += "/>";
    }

    void EndTag(std::string& out, const xmlNode* node) const {
        const NewPathData* path = paths_.Find(node);
        out += "</";
        if (path != nullptr && path->self != nullptr)
            AppendName(out, path->self->ns, path->self->name);
        else
            AppendName(out, node->ns, node->name);
        out += '>';
    }

    // A CDATA section, cut after each "]]" that a '>' follows.
    static void Cdata(std::string& out, const xmlChar* content) {
        if (content == nullptr || *content == '\0') {
            out += "<![CDATA[]]>";
            return;
        }
        const char* start = Text(content);
        const char* end = start;
        for (; *end != '\0'; ++end) {
            if (end[0] == ']' && end[1] == ']' && end[2] == '>') {
                end += 2;
                ((out += "<![CDATA[").append(start, static_cast<std::size_t>(end - start))) +=
                    "]]>";
                start = end;
            }
        }
        if (start != end) ((out += "<![CDATA[") += start) += "]]>";
    }

    // Cuts the element into pieces of about kPieceWeight: whole when it is that light, else its
    // tags and its children's pieces. Returns its weight.
    std::size_t Cut(const xmlNode* node, std::vector<Piece>& pieces) const {
        const std::size_t mark = pieces.size();
        pieces.push_back({Piece::Kind::Open, node});
        std::size_t weight = 1;
        for (const xmlAttr* a = node->properties; a != nullptr; a = a->next) weight += 2;
        if (const NewPathData* path = paths_.Find(node)) weight += path->weight;
        for (const xmlNode* c = node->children; c != nullptr; c = c->next) {
            if (c->type == XML_ELEMENT_NODE && c->children != nullptr) {
                weight += Cut(c, pieces);
            } else {
                weight += 1;
                pieces.push_back({Piece::Kind::Node, c});
            }
        }
        pieces.push_back({Piece::Kind::Close, node});
        if (weight <= kPieceWeight) {
            pieces.resize(mark);
            pieces.push_back({Piece::Kind::Node, node});
        }
        return weight;
    }

    void Print(std::string& out, const Piece& piece, unsigned thread) const {
        switch (piece.kind) {
            case Piece::Kind::Node:
                Node(out, piece.node, thread);
                return;
            case Piece::Kind::Open:
                Sibling(out, piece.node, thread, true);
                StartTag(out, piece.node, thread);
                out += '>';
                return;
            case Piece::Kind::Close:
                EndTag(out, piece.node);
                Sibling(out, piece.node, thread, false);
                return;
        }
    }

private:
    // About 16 bytes of output per unit: an element, two per attribute, one per point.
    static constexpr std::size_t kPieceWeight = 4096;
    const NewPathDataOf& paths_;
    const PathDataWriter& writer_;
};

int AppendToString(void* context, const char* buffer, int length) {
    static_cast<std::string*>(context)->append(buffer, static_cast<std::size_t>(length));
    return length;
}

int WriteToStream(void* context, const char* buffer, int length) {
    auto* out = static_cast<std::ostream*>(context);
    out->write(buffer, length);
    return *out ? length : -1;
}

// libxml2's own printing of a node or a document through a UTF-8 save context.
bool LibxmlPrint(xmlOutputWriteCallback write, void* context, xmlDoc* doc, const xmlNode* node,
                 bool declaration) {
    xmlSaveCtxtPtr save =
        xmlSaveToIO(write, nullptr, context, "UTF-8", declaration ? 0 : XML_SAVE_NO_DECL);
    if (save == nullptr) return false;
    const long written =
        node != nullptr ? xmlSaveTree(save, const_cast<xmlNode*>(node)) : xmlSaveDoc(save, doc);
    const int closed = xmlSaveClose(save);
    return written >= 0 && closed >= 0;
}

}  // namespace

void LibxmlSave(std::ostream& out, xmlDoc* doc, bool declaration) {
    if (!LibxmlPrint(WriteToStream, &out, doc, nullptr, declaration) || !out)
        throw std::runtime_error("write failed");
}

bool SavedByLibxml(const xmlDoc* doc) {
    const xmlDtd* dtd = xmlGetIntSubset(doc);
    return dtd != nullptr && xmlIsXHTML(dtd->SystemID, dtd->ExternalID) > 0;
}

bool SaveDocument(std::ostream& out, xmlDoc* doc, bool declaration, const NewPathDataOf& paths,
                  const PathDataWriter& writer) {
    if (SavedByLibxml(doc)) return false;  // printed as XHTML by libxml2
    const Printer printer(paths, writer);
    // The document's own pieces: the declaration, then each top-level node and a newline.
    std::string head;
    if (declaration) {
        head += "<?xml version=";
        if (doc->version != nullptr)
            AppendQuoted(head, doc->version);
        else
            head += "\"1.0\"";
        head += " encoding=\"UTF-8\"";
        if (doc->standalone == 0) head += " standalone=\"no\"";
        if (doc->standalone == 1) head += " standalone=\"yes\"";
        head += "?>\n";
    }
    std::vector<Piece> pieces;
    std::vector<std::size_t> lineAfter;  // pieces followed by a top-level newline
    for (const xmlNode* c = doc->children; c != nullptr; c = c->next) {
        if (c->type == XML_ELEMENT_NODE && c->children != nullptr)
            printer.Cut(c, pieces);
        else
            pieces.push_back({Piece::Kind::Node, c});
        if (c->type != XML_XINCLUDE_START && c->type != XML_XINCLUDE_END)
            lineAfter.push_back(pieces.size() - 1);
    }
    std::vector<char> newline(pieces.size(), 0);
    for (const std::size_t i : lineAfter) newline[i] = 1;
    out.write(head.data(), static_cast<std::streamsize>(head.size()));
    ProduceInOrder(
        pieces.size(), ThreadsFor(pieces.size(), 4),
        [&](std::size_t i, unsigned thread, std::string& text) {
            const Piece& piece = pieces[i];
            if (piece.node->type == XML_DTD_NODE) {
                if (!LibxmlPrint(AppendToString, &text, doc, piece.node, false))
                    throw std::runtime_error("cannot write the document type");
            } else {
                printer.Print(text, piece, thread);
            }
            if (newline[i]) text += '\n';
        },
        [&](std::size_t, const std::string& text) {
            out.write(text.data(), static_cast<std::streamsize>(text.size()));
            if (!out) throw std::runtime_error("write failed");
        });
    if (!out) throw std::runtime_error("write failed");
    return true;
}

}  // namespace korrand::io::detail
