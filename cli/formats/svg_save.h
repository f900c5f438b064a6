// The parsed document written out as libxml2's own printer writes it (xmlSaveDoc in UTF-8,
// unformatted), byte for byte, but on a few threads and with the path data of the dashed shapes
// made as it is written instead of being stored in the tree first. libxml2 prints attribute
// values a byte at a time through its buffer layers: on a large drawing that was as long as
// parsing it.
#pragma once

#include <libxml/tree.h>

#include <cstddef>
#include <deque>
#include <functional>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

namespace korrand::io::detail {

// An element as the printer writes it, edited without the tree being edited: a dashed element
// as it stands, or the dashes drawn beside an original that keeps its fill or its markers,
// written without copying the original's attributes into the tree first. Each attribute is one
// of the element's (`copyOf`, written as the tree holds it) or a new one.
struct PrintedElement {
    const xmlNs* ns = nullptr;
    const xmlChar* name = nullptr;  // the element's own, or a literal
    // Without copyOf: its name, and its value (the caller's path data, or text kept by the
    // caller until the document is written).
    struct Attribute {
        const xmlAttr* copyOf = nullptr;
        const char* name = nullptr;
        const std::string* value = nullptr;
        bool pathData = false;
    };
    std::vector<Attribute> attributes;
};

// An element whose `d` attribute is written by the caller: which shape's path data it is, and
// about how much text that is (points), to share the work out evenly. With a `sibling`, the
// element keeps its own `d` and the path data goes into the sibling written after it (before
// it, with `siblingFirst`). With
// `self`, the element's name and attributes are written from it, not from the tree (its
// children and the namespaces it declares still are).
struct NewPathData {
    std::size_t shape = 0;
    std::size_t weight = 0;
    const PrintedElement* sibling = nullptr;
    const PrintedElement* self = nullptr;
    bool siblingFirst = false;
};
// The elements whose `d` attribute the caller writes. Each is marked on the element itself (its
// `_private`, libxml2's room for an application's data), so that the printer, which asks of
// every element, finds it at no cost; the marks go with this object, which the elements must
// outlive.
class NewPathDataOf {
public:
    NewPathDataOf() = default;
    NewPathDataOf(const NewPathDataOf&) = delete;
    NewPathDataOf& operator=(const NewPathDataOf&) = delete;
    ~NewPathDataOf() {
        for (auto& [node, data] : marked_) node->_private = nullptr;
    }
    void Mark(xmlNode* node, const NewPathData& data) {
        marked_.emplace_back(node, data);
        node->_private = &marked_.back().second;
    }
    const NewPathData* Find(const xmlNode* node) const {
        return marked_.empty() ? nullptr : static_cast<const NewPathData*>(node->_private);
    }
    auto begin() const { return marked_.begin(); }
    auto end() const { return marked_.end(); }

private:
    std::deque<std::pair<xmlNode*, NewPathData>> marked_;  // its elements stay where they are
};
// Appends shape `shape`'s path data, on thread `thread` (below kMaxThreads, parallel.h).
using PathDataWriter = std::function<void(std::size_t shape, unsigned thread, std::string& out)>;

// Writes `doc` as xmlSaveDoc writes it through a UTF-8 save context (with its XML declaration
// when `declaration`, else XML_SAVE_NO_DECL), except that the `d` attribute of each element of
// `paths` is written by `writer`, whatever the tree holds there. False, with nothing written,
// for a document libxml2 prints in a way of its own (an XHTML document type): the caller saves
// it with libxml2.
bool SaveDocument(std::ostream& out, xmlDoc* doc, bool declaration, const NewPathDataOf& paths,
                  const PathDataWriter& writer);

// Whether SaveDocument leaves `doc` to libxml2 (an XHTML document type): what it is to write must
// then be in the tree.
bool SavedByLibxml(const xmlDoc* doc);

// libxml2's own printing of `doc`: xmlSaveDoc through a UTF-8 save context.
void LibxmlSave(std::ostream& out, xmlDoc* doc, bool declaration);

}  // namespace korrand::io::detail
