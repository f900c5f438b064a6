// The SVG, OBJ and JSON readers on arbitrary bytes: each input either reads or throws
// korrand::io::ReadError; any other exception, a crash or a hang is a bug. What is read must
// hold only finite coordinates, JSON's two parsing paths must agree, and a JSON or OBJ document
// written back must read back bit for bit. An SVG is read with each selection (style sheets and
// <use> expansion on the way), written back in place, with and without a preview, and what is
// written must read again.
//
// Input layout: the first byte picks the format (value % 3: JSON, OBJ, SVG) and, for an SVG,
// the selection and the preview (value / 3); the rest is the file.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <sstream>
#include <string>

#include "document.h"
#include "format_detail.h"

namespace {

using namespace korrand::io;

[[noreturn]] void Fail(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "fuzz_readers: %s %s\n", what, detail.c_str());
    std::abort();
}

bool SameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool SamePoints(const LineObject& a, const LineObject& b) {
    if (a.segments.size() != b.segments.size()) return false;
    for (size_t s = 0; s < a.segments.size(); ++s) {
        if (a.segments[s].size() != b.segments[s].size()) return false;
        for (size_t i = 0; i < a.segments[s].size(); ++i) {
            const Point& p = a.segments[s][i];
            const Point& q = b.segments[s][i];
            if (!SameBits(p.x, q.x) || !SameBits(p.y, q.y) || !SameBits(p.z, q.z)) return false;
        }
    }
    return true;
}

bool SameDocument(const Document& a, const Document& b, bool names) {
    if (a.objects.size() != b.objects.size()) return false;
    for (size_t o = 0; o < a.objects.size(); ++o) {
        if (names && a.objects[o].name != b.objects[o].name) return false;
        if (!SamePoints(a.objects[o], b.objects[o])) return false;
    }
    return true;
}

void CheckDocument(const Document& doc, Format format, const std::string& text) {
    for (const LineObject& object : doc.objects)
        for (const auto& segment : object.segments)
            for (const Point& p : segment)
                if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
                    Fail("a non-finite coordinate was read");
    if (std::isnan(doc.drawingSize) || doc.drawingSize < 0) Fail("bad drawing size");

    if (format == Format::Json) {
        // The fast path builds exactly what the general one builds, or gives up.
        Document fast;
        if (detail::ReadJsonFast(text, fast)) {
            Document general;
            try {
                general = detail::ReadJsonWithNlohmann(text, "fuzz");
            } catch (const ReadError& e) {
                Fail("the fast JSON path accepted what the general one rejects:", e.what());
            }
            if (!SameDocument(fast, general, true) || fast.multi != general.multi)
                Fail("the two JSON paths disagree");
        }
    }
    if (format == Format::Json || format == Format::Obj) {
        std::ostringstream out;
        Write(out, format, doc);
        std::istringstream back(out.str());
        Document again;
        try {
            again = Read(back, format, "fuzz-written");
        } catch (const ReadError& e) {
            // OBJ cannot hold a document without lines.
            if (format == Format::Json || !doc.objects.empty())
                Fail("a written document does not read back:", e.what());
            return;
        }
        if (!SameDocument(doc, again, format == Format::Json))
            Fail("a written document reads back different");
        if (format == Format::Json && again.multi != (doc.multi || doc.objects.size() != 1))
            Fail("a written JSON document changes its form");
    }
}

// The SVG written back in place, its dashes being its own flattened curves, reads again.
void CheckSvgWriteBack(const Document& doc, const ReadOptions& read, bool preview) {
    WriteOptions options;
    options.original = &doc;
    options.preview = preview;
    std::ostringstream out;
    Write(out, Format::Svg, doc, options);
    std::istringstream back(out.str());
    try {
        Read(back, Format::Svg, "fuzz-written", read);
    } catch (const ReadError& e) {
        Fail("a written SVG does not read again:", e.what());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const Format format = data[0] % 3 == 0   ? Format::Json
                          : data[0] % 3 == 1 ? Format::Obj
                                             : Format::Svg;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    try {
        std::istringstream in(text);
        ReadOptions options;
        const int choice = data[0] / 3;
        options.select = choice % 3 == 0   ? Select::All
                         : choice % 3 == 1 ? Select::Stroked
                                           : Select::Dasharray;
        const Document doc = Read(in, format, "fuzz", options);
        CheckDocument(doc, format, text);
        if (format == Format::Svg) CheckSvgWriteBack(doc, options, (choice / 3) % 2 == 1);
    } catch (const ReadError& e) {
        if (std::strchr(e.what(), '\n') != nullptr) Fail("a read error spans lines:", e.what());
    } catch (const std::exception& e) {
        Fail("an exception other than ReadError:", e.what());
    } catch (...) {
        Fail("an exception other than ReadError");
    }
    return 0;
}
