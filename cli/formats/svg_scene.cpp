// What the SVG reader and writer share about the document they both work on.
#include "svg_scene.h"

#include "svg_style.h"

namespace korrand::io::detail {

namespace {
void AddIds(xmlNode* node, Ids& ids) {
    for (; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) continue;
        std::string id;
        if (GetAttribute(node, "id", &id)) ids.emplace(id, node);
        AddIds(node->children, ids);
    }
}
}  // namespace

Ids CollectIds(xmlNode* root) {
    Ids ids;
    AddIds(root, ids);
    return ids;
}

}  // namespace korrand::io::detail
