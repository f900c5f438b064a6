// <switch>: only the first child whose conditions hold is drawn. No extension is supported,
// every feature is, and a language matches the user's (from the locale) or one of its subtags.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "svg_read.h"

namespace korrand::io::detail {
namespace {

// The user's language for systemLanguage, from the locale ("en" where none is set).
std::string UserLanguage() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(name);
        if (v == nullptr || *v == '\0') continue;
        std::string lang(v, std::strcspn(v, "_.@"));
        if (lang == "C" || lang == "POSIX") break;
        for (char& c : lang) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return lang;
    }
    return "en";
}

// "en" matches "en" and "en-GB".
bool ConditionsHold(const xmlNode* el) {
    std::string v;
    if (GetAttribute(el, "requiredExtensions", nullptr)) return false;
    if (GetAttribute(el, "requiredFeatures", &v) &&
        v.find_first_not_of(" \t\r\n") == std::string::npos)
        return false;
    if (!GetAttribute(el, "systemLanguage", &v)) return true;
    static const std::string user = UserLanguage();
    std::size_t i = 0;
    while (i <= v.size()) {
        std::size_t j = v.find(',', i);
        if (j == std::string::npos) j = v.size();
        std::string tag = v.substr(i, j - i);
        tag.erase(0, tag.find_first_not_of(" \t\r\n"));
        tag.erase(tag.find_last_not_of(" \t\r\n") + 1);
        for (char& c : tag) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (tag == user || tag.rfind(user + "-", 0) == 0) return true;
        i = j + 1;
    }
    return false;
}

}  // namespace

void Walker::Switch(xmlNode* sw, const StyleRef& style, const Affine& m) {
    bool chosen = false;
    for (xmlNode* c = sw->children; c != nullptr; c = c->next) {
        if (c->type != XML_ELEMENT_NODE || !IsSvgElement(c) || Is(c, "title") || Is(c, "desc") ||
            Is(c, "metadata"))
            continue;
        if (!chosen && ConditionsHold(c)) {
            chosen = true;
            Element(c, style, m);
        } else {
            gathered.counts.hidden += CountShapes(c);
        }
    }
}

}  // namespace korrand::io::detail
