// The document the command-line host reads and writes: line objects (polylines in segments, with
// what a scene stored for their modifiers), the file formats that carry them, and their options.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "parameter_value.h"

namespace korrand::io {

struct Point {
    double x, y, z;
};

// A value for the object's modifier container, as a scene file stores it. The host checks it
// against the parameter's type in the description and stores it with that type's setter.
using StoredValue = hostmodel::Value;

// One stored parameter: `key` is a parameter's name as the description gives it
// ("KORRAND_COUNT") or its id written as a decimal string ("1000").
struct StoredParameter {
    std::string key;
    StoredValue value;
};

// One line object: a set of polylines ("segments").
struct LineObject {
    std::string name;
    std::vector<std::vector<Point>> segments;
    // Written into the object's modifier container after the plug-in's Init defaults and before
    // the command-line options, in this order. Not held to the description's limits: a scene may
    // hold what an earlier version allowed.
    std::vector<StoredParameter> parameters;
    // Read: what the file itself decides for these segments (an SVG subpath closed with Z or
    // not), written after the stored parameters and before the options. Dashed: whether they
    // were measured as closed loops.
    std::optional<bool> closed = std::nullopt;
    // Read: a dash count the reader derived for these segments (an SVG period); handed to the
    // modifier as a stored value is, so the option's limit does not apply.
    std::optional<int64_t> dashCount = std::nullopt;
    // Read: an offset of the dash pattern the reader derived (an SVG's stroke-dashoffset), in
    // whole segments as the modifier's Offset takes it; handed over as dashCount is.
    std::optional<double> offset = std::nullopt;
};

namespace detail {
struct SvgScene;
}

// What an SVG reading decided about its shapes, for the summary line.
struct ShapeCounts {
    int64_t dashed = 0;
    int64_t leftAlone = 0;  // not chosen by --select / --layer / --id, or solid by its own array
    int64_t solidByItsArray = 0;  // of those: their own dash array, which sets the period, is solid
    int64_t outsideSelection = 0;  // of those: outside the --layer / --id asked for
    int64_t noLength = 0;          // of those: chosen, but nothing of length to dash
    int64_t madeByKorrand = 0;     // of those: korrand's own from an earlier run (see svg_scene.h)
    int64_t hidden = 0;            // display:none, visibility hidden, never drawn
    int64_t skipped = 0;           // could not be read or dashed (see the warnings)
};

struct Document {
    std::vector<LineObject> objects;
    bool multi = false;  // JSON: was written/read as {"objects": [...]}
    // SVG only: what's needed to write an SVG back with the same size and viewBox (raw attribute
    // text).
    std::optional<std::string> svgWidth, svgHeight, svgViewBox;
    // Diagonal of the drawing's bounding box (the viewBox for an SVG that has one), for tolerance
    // defaults and stroke widths.
    double drawingSize = 0;
    // Problems that did not stop reading (an SVG element that was skipped), one line each,
    // "<file>:<line>: <message>".
    std::vector<std::string> warnings;
    // SVG only: the parsed document and where each object came from, so the SVG writer can put
    // the dashes back in place. objects[i] of a dashed document answers objects[i] of this one.
    std::shared_ptr<const detail::SvgScene> svgScene;
    std::optional<ShapeCounts> shapeCounts;
    // SVG only: how closely the segments follow the drawing's curves, in their own units; a host
    // samples the dashes as closely (see sampling.h).
    std::optional<double> tolerance;
    // Read: how closely each object's curves were followed, which its dashes keep to, where a
    // small SVG shape has a tolerance of its own: empty (all the document's), or one per object.
    std::vector<double> tolerances;
};

enum class Format { Json, Obj, Svg };

// "json", "obj", "svg", "svgz" (any case).
std::optional<Format> FormatFromName(const std::string& name);
// By the file name's extension, any case.
std::optional<Format> FormatFromPath(const std::string& path);
// "svgz", or a path ending in .svgz: gzip-compressed SVG (any case).
bool IsCompressedName(const std::string& nameOrPath);
// By the first bytes waiting in `in`, without taking them: a gzip stream is a compressed SVG;
// none for anything else.
std::optional<Format> SniffFormat(std::istream& in);
const char* FormatName(Format format);

// SVG: which visible shapes are handed to the modifier.
enum class Select { All, Stroked, Dasharray };

struct ReadOptions {
    // Largest distance allowed between a flattened curve (SVG Béziers and arcs) and the curve, in
    // CSS px (an SVG converts it to its user units through width/height and viewBox).
    // 0 = default: drawingSize * 1e-4, relative to the drawing's size.
    double tolerance = 0;
    // SVG only. The reader's own default dashes every visible shape; korrand's is Stroked.
    Select select = Select::All;
    // SVG only: the shapes inside these layers (editor layer label, or a top-level group's id).
    std::vector<std::string> layers;
    // SVG only: the shapes with these ids, or inside elements with them (a selection: groups,
    // layers, <use>s); empty: every shape.
    std::vector<std::string> ids;
    // SVG only: the closedness the command line forces, if any (a forced open keeps the closing
    // edge of a closed subpath, so the whole outline is measured).
    std::optional<bool> closed = std::nullopt;
    // SVG only: each subpath gets round(length / period) dashes (at least 1), lengths in CSS px;
    // 0 = no period. periodFromDasharray: each shape's own dash array sum, as drawn, where it has
    // one (else `period`).
    double period = 0;
    bool periodFromDasharray = false;
    // SVG only: the output previews the originals (WriteOptions::preview), which keeps how each
    // is drawn.
    bool preview = false;
};

// A CSS length ("2.5mm", "3", "1in"; px when no unit) in CSS px (96 per inch). False for
// anything else, a percentage, or a value that is not finite and positive.
bool ParseLength(const std::string& text, double* px);

// what() is one line: "<file>:<line>: <message>", or "<file>: <message>" when the line is unknown.
struct ReadError : std::runtime_error {
    ReadError(std::string file, int line, std::string message);
    std::string file;
    int line = 0;  // 1-based; 0 = unknown
    std::string message;
};

// Reads a whole document, inflating it first when it is gzip-compressed (by its first bytes).
// Throws ReadError on malformed input, wrong schema or non-finite coordinates. An SVG with
// nothing to dash reads as a document without objects.
Document Read(std::istream& in, Format format, const std::string& fileNameForMessages,
              const ReadOptions& options = {});

// What an SVG written in place holds: a dash cut at a closed subpath's seam is one piece there.
struct WriteStats {
    bool counted = false;  // set by the writer that counts
    int64_t dashes = 0, points = 0;
    int64_t longestPathData = 0;  // SVG: the longest `d` written, in bytes
    int64_t longPathData = 0;     // SVG: bytes in `d`s of kLongPathData bytes or more
};

// A `d` this long leaves libxml2 2.9 (Debian 12's) few chances to drop the text it has parsed:
// past 10,000,000 bytes of such values, its default lookup limit may stop it, as the buffer's
// alignment decides.
constexpr int64_t kLongPathData = 32'768;
// libxml2's default limit on one value, and on what it looks ahead (XML_MAX_LOOKUP_LIMIT).
constexpr int64_t kLibxml2Limit = 10'000'000;

// Whether libxml2 with its default limits stops reading an SVG file's text, as xmllint, lxml and
// rsvg-convert (of libxml2 2.9) do there.
bool RefusedByDefaultLimits(std::istream& in);

// SVG written in place, for a caller that hands over each object as soon as it is dashed: the
// object's path data is made there, on the dashing thread, and its points are freed. A large
// drawing's dashes are then never all held as points at once (their path data is a fraction of
// that), and the write finds their path data made. Given to the write as WriteOptions::ahead.
class PathDataAhead {
public:
    // Takes nothing unless an SVG written from `original` goes into its own tree.
    PathDataAhead(const Document& original, Format out);
    ~PathDataAhead();
    PathDataAhead(const PathDataAhead&) = delete;
    PathDataAhead& operator=(const PathDataAhead&) = delete;

    // Object `o` of the dashed document, whose points are freed if taken. Safe on several
    // threads at once for distinct objects.
    void Take(std::size_t o, LineObject& dashed);

    struct Made;
    // What was made for `original`; none for another document.
    Made* MadeFor(const Document* original) {
        return original == &original_ ? made_.get() : nullptr;
    }

private:
    const Document& original_;
    std::unique_ptr<Made> made_;
};

struct WriteOptions {
    // SVG only: draw `original` faintly beneath the dashes.
    bool preview = false;
    // Drawn as they were measured: closed loops where the dashed object's `closed` says so.
    // An SVG read is written back in place, into the very tree the reader parsed: once (a second
    // write of the same original throws std::logic_error).
    const Document* original = nullptr;
    // SVG written in place: what a dashed shape keeps besides its dashes. A filled one keeps its
    // fill, a marked one its markers where the original draws them: the original stays with
    // its stroke off and its dashes follow in a sibling path. Plotter drivers draw every path's
    // outline whatever its style, so for them both are off and a shape becomes its dashes alone.
    bool keepFills = true;
    bool keepMarkers = true;
    // SVG written in place: counts what it writes, when set.
    WriteStats* stats = nullptr;
    // SVG written in place: the path data of the objects it was handed as they were dashed,
    // freed as it is written.
    PathDataAhead* ahead = nullptr;
    // gzip-compressed (.svgz).
    bool compress = false;
};

// Writes a whole document. Points are written in shortest round-trip form: a JSON or OBJ file
// reads back bit for bit. A non-finite coordinate is written as null (JSON) or nan/inf (OBJ),
// which the readers reject; SVG breaks the line there.
void Write(std::ostream& out, Format format, const Document& dashed,
           const WriteOptions& options = {});

// Whether an SVG written from `dashed` with `original` as WriteOptions::original is the original's
// own tree edited in place: then the original's line objects are not read again.
bool WritesIntoOriginal(const Document& original, const Document& dashed);

// Diagonal of the bounding box of all points (0 when there are none).
double DrawingSize(const Document& doc);

// The length of a segment on the page (x and y; z is a scene's, not a drawing's), with the edge
// back to its first point when closed: what the modifier measures it as.
double PageLength(const std::vector<Point>& segment, bool closed);

}  // namespace korrand::io
