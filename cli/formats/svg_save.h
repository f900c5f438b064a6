// The parsed document written out as libxml2's own printer writes it (xmlSaveDoc in UTF-8,
// unformatted), byte for byte, but on a few threads and with the path data of the dashed shapes
// made as it is written instead of being stored in the tree first. libxml2 prints attribute
// values a byte at a time through its buffer layers: on a large drawing that was as long as
// parsing it.
#pragma once

#include <libxml/tree.h>

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <unordered_map>

namespace korrand::io::detail {

// An element whose `d` attribute is written by the caller: which shape's path data it is, and
// about how much text that is (points), to share the work out evenly.
struct NewPathData {
    std::size_t shape = 0;
    std::size_t weight = 0;
};
using NewPathDataOf = std::unordered_map<const xmlNode*, NewPathData>;
// Appends shape `shape`'s path data, on thread `thread` (below kMaxThreads, parallel.h).
using PathDataWriter = std::function<void(std::size_t shape, unsigned thread, std::string& out)>;

// Writes `doc` as xmlSaveDoc writes it through a UTF-8 save context (with its XML declaration
// when `declaration`, else XML_SAVE_NO_DECL), except that the `d` attribute of each element of
// `paths` is written by `writer`, whatever the tree holds there. False, with nothing written,
// for a document libxml2 prints in a way of its own (an XHTML document type): the caller saves
// it with libxml2.
bool SaveDocument(std::ostream& out, xmlDoc* doc, bool declaration, const NewPathDataOf& paths,
                  const PathDataWriter& writer);

// libxml2's own printing of `doc`: xmlSaveDoc through a UTF-8 save context.
void LibxmlSave(std::ostream& out, xmlDoc* doc, bool declaration);

}  // namespace korrand::io::detail
