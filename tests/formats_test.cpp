// The command-line host's file formats: JSON, OBJ and SVG reading and writing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "document.h"
#include "flatten.h"
#include "format_detail.h"
#include "sampling.h"
#include "svg_save.h"

#include <libxml/parser.h>

namespace io = korrand::io;
using io::Document;
using io::Format;
using io::Point;

namespace {

Document ReadText(const std::string& text, Format format, const io::ReadOptions& options = {}) {
    std::istringstream in(text);
    return io::Read(in, format, "test." + std::string(io::FormatName(format)), options);
}

std::string WriteText(const Document& doc, Format format, const io::WriteOptions& options = {}) {
    std::ostringstream out;
    io::Write(out, format, doc, options);
    return out.str();
}

// The ReadError a read throws (fails the test if none).
io::ReadError ReadFailure(const std::string& text, Format format) {
    try {
        ReadText(text, format);
    } catch (const io::ReadError& e) {
        return e;
    }
    ADD_FAILURE() << "no ReadError for:\n" << text;
    return io::ReadError("", 0, "");
}

std::uint64_t Bits(double v) {
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

void ExpectSameBits(const Document& a, const Document& b) {
    ASSERT_EQ(a.objects.size(), b.objects.size());
    for (std::size_t o = 0; o < a.objects.size(); ++o) {
        EXPECT_EQ(a.objects[o].name, b.objects[o].name);
        ASSERT_EQ(a.objects[o].segments.size(), b.objects[o].segments.size());
        for (std::size_t s = 0; s < a.objects[o].segments.size(); ++s) {
            const auto& sa = a.objects[o].segments[s];
            const auto& sb = b.objects[o].segments[s];
            ASSERT_EQ(sa.size(), sb.size());
            for (std::size_t i = 0; i < sa.size(); ++i) {
                EXPECT_EQ(Bits(sa[i].x), Bits(sb[i].x)) << sa[i].x << " vs " << sb[i].x;
                EXPECT_EQ(Bits(sa[i].y), Bits(sb[i].y)) << sa[i].y << " vs " << sb[i].y;
                EXPECT_EQ(Bits(sa[i].z), Bits(sb[i].z)) << sa[i].z << " vs " << sb[i].z;
            }
        }
    }
}

// Awkward doubles: random bit patterns (all exponents, subnormals included) and known hard cases.
Document AwkwardDocument() {
    std::vector<double> values = {0.1,
                                  1e308,
                                  -1e308,
                                  5e-324,
                                  -5e-324,
                                  2.2250738585072014e-308,
                                  2.225073858507201e-308,
                                  std::numeric_limits<double>::max(),
                                  std::numeric_limits<double>::lowest(),
                                  1.0,
                                  -0.0,
                                  0.0,
                                  9007199254740993.0,
                                  1.2345678901234568e+20,
                                  123456789.0,
                                  1e21,
                                  1e-7,
                                  0.30000000000000004};
    std::mt19937_64 rng(42);
    while (values.size() < 3000) {
        std::uint64_t bits = rng();
        if (values.size() % 5 == 0) bits &= 0x800FFFFFFFFFFFFFull;  // a subnormal
        double v;
        std::memcpy(&v, &bits, sizeof v);
        if (std::isfinite(v)) values.push_back(v);
    }
    Document doc;
    doc.objects.resize(2);
    doc.objects[0].name = "first";
    doc.objects[1].name = "second";
    doc.multi = true;
    for (std::size_t i = 0; i + 2 < values.size(); i += 3) {
        auto& segments = doc.objects[(i / 300) % 2].segments;
        if (segments.empty() || i % 90 == 0) segments.emplace_back();
        segments.back().push_back({values[i], values[i + 1], values[i + 2]});
    }
    return doc;
}

double Distance(const Point& p, double x, double y) {
    return std::hypot(p.x - x, p.y - y);
}

const std::string kSvgHead = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 200 100\">\n";

io::ReadOptions Tolerance(double tolerance) {
    io::ReadOptions options;
    options.tolerance = tolerance;
    return options;
}

Document ReadSvgBody(const std::string& body, const io::ReadOptions& options = {}) {
    return ReadText(kSvgHead + body + "\n</svg>\n", Format::Svg, options);
}

// A read SVG written back as korrand writes it: in place, its shapes' dashes those read.
std::string WrittenBack(const Document& doc, bool preview = false) {
    io::WriteOptions options;
    options.original = &doc;
    options.preview = preview;
    std::ostringstream out;
    io::Write(out, Format::Svg, doc, options);
    return out.str();
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

}  // namespace

// --- format names -------------------------------------------------------------------------------

TEST(FormatNames, ByNameAndExtension) {
    EXPECT_EQ(io::FormatFromName("JSON"), Format::Json);
    EXPECT_EQ(io::FormatFromName("obj"), Format::Obj);
    EXPECT_FALSE(io::FormatFromName("png"));
    EXPECT_EQ(io::FormatFromPath("dir.v2/Drawing.SVG"), Format::Svg);
    EXPECT_EQ(io::FormatFromPath("a.b.obj"), Format::Obj);
    EXPECT_FALSE(io::FormatFromPath("dir.json/noext"));
    EXPECT_EQ(io::FormatFromPath("icons/Logo.SVGZ"), Format::Svg);
    EXPECT_TRUE(io::IsCompressedName("svgz") && io::IsCompressedName("a/b.Svgz"));
    EXPECT_FALSE(io::IsCompressedName("b.svg"));
}

// A compressed SVG reads as itself, written compressed reads back, and one cut short or damaged
// is bad input.
TEST(FormatNames, CompressedSvgIsKnownByItsBytes) {
    const std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\"><line x2=\"9\"/></svg>";
    io::WriteOptions compressed;
    compressed.compress = true;
    const std::string svgz = WriteText(ReadText(svg, Format::Svg), Format::Svg, compressed);
    ASSERT_GT(svgz.size(), 2u);
    EXPECT_EQ(svgz.substr(0, 2), "\x1f\x8b");
    std::istringstream sniffed(svgz);
    EXPECT_EQ(io::SniffFormat(sniffed), Format::Svg);
    EXPECT_EQ(sniffed.tellg(), 0);  // nothing taken
    std::istringstream plain(svg);
    EXPECT_FALSE(io::SniffFormat(plain));
    const Document back = ReadText(svgz, Format::Svg);
    ASSERT_EQ(back.objects.size(), 1u);
    EXPECT_EQ(back.objects[0].segments[0].back().x, 9);
    EXPECT_NE(std::string(ReadFailure(svgz.substr(0, svgz.size() / 2), Format::Svg).what())
                  .find("cut short"),
              std::string::npos);
    EXPECT_NE(std::string(ReadFailure("\x1f\x8bnot deflated", Format::Svg).what()).find("damaged"),
              std::string::npos);
}

TEST(ReadErrorText, OneLineWithFileAndLine) {
    EXPECT_STREQ(io::ReadError("a.obj", 7, "bad\nthing").what(), "a.obj:7: bad thing");
    EXPECT_STREQ(io::ReadError("a.obj", 0, "bad").what(), "a.obj: bad");
}

// --- JSON ---------------------------------------------------------------------------------------

TEST(Json, RoundTripIsBitExact) {
    const Document doc = AwkwardDocument();
    const std::string text = WriteText(doc, Format::Json);
    ExpectSameBits(doc, ReadText(text, Format::Json));
    // The general path reads the same file to the same bits as the fast path.
    ExpectSameBits(doc, io::detail::ReadJsonWithNlohmann(text, "x"));
}

TEST(Json, FastAndGeneralPathsAgree) {
    const std::string inputs[] = {
        R"({"segments": [[[1, 2, 3], [4, 5]], []]})",
        " \t\r\n{ \"name\" : \"n\" , \"segments\":[ [ [ -0 , -0.0 , 1E2 ] , "
        "[0.5e+1,-12345678901234567890123] ] ] } \n",
        R"({"segments": [[[1e-400, 2]]]})",
        R"({"objects": [{"segments": [], "name": "a"}, {"name": "b", "segments": [[[18446744073709551615, 9007199254740993]]]}]})",
        R"({"objects": []})",
        // Beyond the fast path: escapes, non-ASCII, unknown keys.
        R"({"name": "caf\u00e9 \"x\"", "version": {"a": [1, {}]}, "segments": [[[1, 2]]]})",
        "{\"name\": \"\xc3\xa9\", \"segments\": [[[1, 2]]]}",
    };
    for (const std::string& text : inputs) {
        SCOPED_TRACE(text);
        const Document general = io::detail::ReadJsonWithNlohmann(text, "x");
        EXPECT_EQ(ReadText(text, Format::Json).multi, general.multi);
        ExpectSameBits(ReadText(text, Format::Json), general);
    }
    Document fast;
    EXPECT_TRUE(io::detail::ReadJsonFast(inputs[0], fast));
    EXPECT_TRUE(io::detail::ReadJsonFast(inputs[1], fast));
    EXPECT_FALSE(io::detail::ReadJsonFast(inputs[5], fast));

    // Stored parameters: both paths keep every key, kind and value in order, before or after the
    // segments; integers beyond 64 bits are the general path's to refuse.
    const std::string stored[] = {
        R"({"parameters": {"KORRAND_COUNT": -3, "1004": true, "KORRAND_START": 2, "KORRAND_END": 0.5e0, "B": false}, "segments": [[[1, 2]]]})",
        R"({"objects": [{"segments": [[[1, 2]]], "parameters": {"KORRAND_OFFSET": -0.0, "X": 9223372036854775807}}, {"segments": []}]})",
    };
    auto summary = [](const Document& d) {
        std::string out;
        for (const auto& o : d.objects)
            for (const auto& p : o.parameters)
                out += p.key + ":" + std::to_string(static_cast<int>(p.value.kind)) + ":" +
                       std::to_string(p.value.integer) + ":" + std::to_string(p.value.boolean) +
                       ":" + std::to_string(p.value.real) +
                       (std::signbit(p.value.real) ? "-" : "") + ";";
        return out;
    };
    for (const std::string& text : stored) {
        SCOPED_TRACE(text);
        Document viaFast;
        ASSERT_TRUE(io::detail::ReadJsonFast(text, viaFast));
        const Document general = io::detail::ReadJsonWithNlohmann(text, "x");
        EXPECT_EQ(summary(viaFast), summary(general));
        EXPECT_EQ(summary(ReadText(WriteText(general, Format::Json), Format::Json)),
                  summary(general));
    }
    EXPECT_EQ(summary(io::detail::ReadJsonWithNlohmann(stored[0], "x")),
              "KORRAND_COUNT:0:-3:0:0.000000;1004:1:0:1:0.000000;KORRAND_START:0:2:0:0.000000;"
              "KORRAND_END:2:0:0:0.500000;B:1:0:0:0.000000;");
    for (const char* bad :
         {R"({"parameters": {"A": 1, "A": 2}, "segments": []})",
          R"({"parameters": {"A": 18446744073709551615}, "segments": []})",
          R"({"parameters": {"A": null}, "segments": []})",
          R"({"parameters": [1], "segments": []})", R"({"parameters": {}, "objects": []})"}) {
        EXPECT_THROW(ReadText(bad, Format::Json), io::ReadError) << bad;
    }
}

TEST(Json, SingleForm) {
    const Document doc =
        ReadText(R"({"segments": [[[1, 2, 3], [4, 5]], [[6, 7, 8], [9, 10, 11]]]})", Format::Json);
    EXPECT_FALSE(doc.multi);
    ASSERT_EQ(doc.objects.size(), 1u);
    ASSERT_EQ(doc.objects[0].segments.size(), 2u);
    const Point p = doc.objects[0].segments[0][1];
    EXPECT_EQ(p.x, 4);
    EXPECT_EQ(p.y, 5);
    EXPECT_EQ(p.z, 0);  // [x, y] points lie at z = 0
    EXPECT_NEAR(doc.drawingSize, std::sqrt(8.0 * 8 + 8 * 8 + 11 * 11), 1e-12);
    EXPECT_EQ(WriteText(doc, Format::Json).rfind("{\"segments\": [", 0), 0u);
}

TEST(Json, MultiForm) {
    const Document doc = ReadText(
        R"({"objects": [{"name": "a", "segments": [[[0, 0, 0], [1, 1, 1]]]}, {"name": "b", "segments": []}]})",
        Format::Json);
    EXPECT_TRUE(doc.multi);
    ASSERT_EQ(doc.objects.size(), 2u);
    EXPECT_EQ(doc.objects[0].name, "a");
    EXPECT_EQ(doc.objects[1].name, "b");
    EXPECT_TRUE(doc.objects[1].segments.empty());
    const std::string text = WriteText(doc, Format::Json);
    EXPECT_EQ(text.rfind("{\"objects\": [", 0), 0u);
    ExpectSameBits(doc, ReadText(text, Format::Json));
    // A single object keeps the multi form when it was read that way.
    Document one = doc;
    one.objects.pop_back();
    EXPECT_EQ(WriteText(one, Format::Json).rfind("{\"objects\": [", 0), 0u);
}

TEST(Json, NamesWithEscapesRoundTrip) {
    Document doc;
    doc.multi = true;
    doc.objects.push_back({"quote \" back\\slash \xc3\xa9 tab\t", {{{1, 2, 3}}}, {}});
    EXPECT_EQ(ReadText(WriteText(doc, Format::Json), Format::Json).objects.at(0).name,
              doc.objects[0].name);
}

TEST(Json, SchemaErrorsNameTheProblemAndLine) {
    struct Case {
        std::string text, expected;
        int line;
    };
    const Case cases[] = {
        {"[1, 2]", "top level must be an object", 1},
        {"{\"segments\": 5}", "\"segments\" must be an array", 1},
        {"{\"segments\": [\n[[1, 2, 3],\n [4]]]}",
         "segments[0][1]: a point needs 2 or 3 coordinates, got 1", 3},
        {"{\"segments\": [[[1, 2, 3, 4]]]}", "a point has more than 3 coordinates", 1},
        {"{\"objects\": [{\"segments\": []},\n{\"segments\": [[[1, \"2\"]]]}]}",
         "objects[1].segments[0][0]: a coordinate must be a number, got a string", 2},
        {"{\"segments\": [[[1, null]]]}", "a coordinate must be a number, got null", 1},
        {"{\"objects\": [{\"name\": \"x\"}]}", "objects[0]: missing \"segments\"", 1},
        {"{\"segments\": [], \"objects\": []}", "both \"segments\" and \"objects\"", 1},
        {"{\"shapes\": []}", "expected \"segments\" or \"objects\"", 1},
        {"{\"objects\": [{\"name\": 3, \"segments\": []}]}", "\"name\" must be a string", 1},
        {"{\"segments\": [[1, 2]]}", "a point must be an array", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const io::ReadError e = ReadFailure(c.text, Format::Json);
        EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
        EXPECT_EQ(e.line, c.line) << e.what();
        EXPECT_EQ(e.file, "test.json");
    }
}

TEST(Json, MalformedJsonReportsLine) {
    const io::ReadError e =
        ReadFailure("{\"segments\": [\n[[1, 2, 3],\n[4, 5, 6]]\n,]}", Format::Json);
    EXPECT_EQ(e.line, 4) << e.what();
    EXPECT_EQ(std::string(e.what()).find("[json.exception"), std::string::npos) << e.what();
    EXPECT_EQ(ReadFailure("", Format::Json).line, 1);
    EXPECT_EQ(ReadFailure("{\"segments\": [[[1, 2]]]} trailing", Format::Json).line, 1);
    // UTF-16, as Windows PowerShell's '>' writes a program's output, is named as such.
    const std::string utf16("\xFF\xFE{\0", 4);
    EXPECT_NE(std::string(ReadFailure(utf16, Format::Json).what()).find(": UTF-16 text"),
              std::string::npos);
}

TEST(Json, RejectsNonFiniteNumbers) {
    EXPECT_NE(std::string(ReadFailure("{\"segments\": [[[1e400, 2]]]}", Format::Json).what())
                  .find("overflow"),
              std::string::npos);
    ReadFailure("{\"segments\": [[[NaN, 2]]]}", Format::Json);
    ReadFailure("{\"segments\": [[[1, -Infinity]]]}", Format::Json);
}

TEST(Json, NonFiniteIsWrittenAsNullAndRejectedOnRead) {
    Document doc;
    doc.objects.push_back({"", {{{1, std::numeric_limits<double>::quiet_NaN(), HUGE_VAL}}}, {}});
    const std::string text = WriteText(doc, Format::Json);
    EXPECT_NE(text.find("[1, null, null]"), std::string::npos) << text;
    ReadFailure(text, Format::Json);
}

// --- OBJ ----------------------------------------------------------------------------------------

TEST(Obj, ReadsPolylinesObjectsAndIndices) {
    const std::string text =
        "\xEF\xBB\xBF"  // a byte order mark, as Windows editors write one
        "v 0 0 1.5\n"
        "# comment\n"
        "mtllib x.mtl\n"
        "v 1 0\n"        // z = 0
        "v 1 1 2 1.0\n"  // w ignored
        "vt 0 0\n"
        "vn 0 0 1\n"
        "o empty\n"  // no l: dropped
        "f 1 2 3\n"
        "o first\n"
        "l 1 2/1 3\n"
        "usemtl m\n"
        "s off\n"
        "g second part\n"
        "v +5 -5 -5e0\n"
        "l -1 -4 \\\n"  // continued on the next line
        "  1\n"
        "l 4 1  # trailing comment\n"
        "cstype bspline\n"
        "curv 0 1 1 2 3\n";
    const Document doc = ReadText(text, Format::Obj);
    ASSERT_EQ(doc.objects.size(), 2u);
    EXPECT_EQ(doc.objects[0].name, "first");
    EXPECT_EQ(doc.objects[1].name, "second part");
    ASSERT_EQ(doc.objects[0].segments.size(), 1u);
    const auto& s = doc.objects[0].segments[0];
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0].z, 1.5);
    EXPECT_EQ(s[1].x, 1);
    EXPECT_EQ(s[1].z, 0);
    EXPECT_EQ(s[2].z, 2);
    ASSERT_EQ(doc.objects[1].segments.size(), 2u);
    const auto& t = doc.objects[1].segments[0];
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].x, 5);
    EXPECT_EQ(t[0].z, -5);
    EXPECT_EQ(t[1].z, 1.5);  // -4 from vertex 4: vertex 1
    EXPECT_EQ(t[2].z, 1.5);
    EXPECT_EQ(doc.objects[1].segments[1][0].x, 5);
    // The face and the free-form curve are not in the output: said once each, where they are.
    ASSERT_EQ(doc.warnings.size(), 2u);
    EXPECT_NE(doc.warnings[0].find(":9: skipped 1 face ('f')"), std::string::npos)
        << doc.warnings[0];
    EXPECT_NE(doc.warnings[1].find(":20: skipped 1 free-form curve, surface or point"),
              std::string::npos)
        << doc.warnings[1];
}

// Edges that carry on where the last ended are one polyline (Blender writes a curve edge by
// edge), until it comes back to its start; polylines written whole stay as written.
TEST(Obj, ACurveWrittenEdgeByEdgeIsOnePolyline) {
    const Document doc = ReadText(
        "v 0 0\nv 1 0\nv 1 1\nv 0 1\nl 1 2\nl 2 3\nl 3 1\nl 1 4\nl 2 3 4\nl 4 1\n", Format::Obj);
    ASSERT_EQ(doc.objects.size(), 1u);
    std::vector<std::size_t> sizes;
    for (const auto& s : doc.objects[0].segments) sizes.push_back(s.size());
    EXPECT_EQ(sizes, (std::vector<std::size_t>{4, 2, 3, 2}));
}

TEST(Obj, LaterVerticesMayBeReferenced) {
    const Document doc = ReadText("l 1 2\nv 0 0 0\nv 1 2 3\n", Format::Obj);
    ASSERT_EQ(doc.objects.at(0).segments.at(0).size(), 2u);
    EXPECT_EQ(doc.objects[0].segments[0][1].z, 3);
}

TEST(Obj, ErrorsCarryLineNumbers) {
    struct Case {
        std::string text, expected;
        int line;
    };
    const Case cases[] = {
        {"v 0 0 0\nv 1 x 0\nl 1 2\n", "bad number 'x'", 2},
        {"v 0 0 0\nv 1\n", "needs at least x and y", 2},
        {"v 0 0 0\nv 1 1 1\n\nl 1 3\n", "vertex index 3 is out of range (2 vertices)", 4},
        {"v 0 0 0\nl 1 -2\n", "vertex index -2 is out of range", 2},
        {"v 0 0 0\nl 0 1\n", "index 0", 2},
        {"v 0 0 0\nl 1 a/2\n", "bad vertex index 'a/2'", 2},
        {"v 0 0 0\nl\n", "without vertex indices", 2},
        {"v nan 0 0\nl 1 1\n", "non-finite", 1},
        {"v 1e999 0 0\nl 1 1\n", "bad number", 1},
        {"v 0 0 0\nv 1 0 0\n", "no polylines ('l' statements)", 0},
        {"v 0 0 0\nf 1 1 1\nf 1 1 1\n", "only 2 faces ('f'), which are not dashed", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const io::ReadError e = ReadFailure(c.text, Format::Obj);
        EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
        EXPECT_EQ(e.line, c.line) << e.what();
    }
}

TEST(Obj, RoundTripIsBitExact) {
    const Document doc = AwkwardDocument();
    const std::string text = WriteText(doc, Format::Obj);
    ExpectSameBits(doc, ReadText(text, Format::Obj));
}

TEST(Obj, WritesOnePointSegmentsAndSkipsEmptyOnes) {
    Document doc;
    doc.objects.push_back({"", {{{1, 2, 3}}, {}, {{4, 5, 6}, {7, 8, 9}}}, {}});
    doc.objects.push_back({std::string("a\0b\r\nc", 6), {{{0, 0, 0}}}, {}});
    // A name ending in a backslash (before a control character) would continue its line.
    doc.objects.push_back({std::string("d\\\0", 3), {{{1, 1, 1}, {2, 2, 2}}}, {}});
    const std::string text = WriteText(doc, Format::Obj);
    EXPECT_NE(text.find("o object 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("o a b  c\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nl 1\nl 2 3\n"), std::string::npos) << text;
    const Document back = ReadText(text, Format::Obj);
    EXPECT_EQ(back.objects.at(0).segments.size(), 2u);
    EXPECT_EQ(back.objects.at(2).segments.at(0).size(), 2u);
}

// --- SVG reading --------------------------------------------------------------------------------

TEST(Svg, RectIsFourCornersWithoutRepeat) {
    const Document doc = ReadSvgBody(R"(<rect x="10" y="20" width="30" height="40"/>)");
    ASSERT_EQ(doc.objects.size(), 1u);
    EXPECT_EQ(doc.objects[0].name, "rect 1");
    ASSERT_EQ(doc.objects[0].segments.size(), 1u);
    const auto& s = doc.objects[0].segments[0];
    ASSERT_EQ(s.size(), 4u);
    const double expected[4][2] = {{10, 20}, {40, 20}, {40, 60}, {10, 60}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_DOUBLE_EQ(s[i].x, expected[i][0]);
        EXPECT_DOUBLE_EQ(s[i].y, expected[i][1]);
        EXPECT_EQ(s[i].z, 0);
    }
}

TEST(Svg, KeepsSizeAttributesAndMeasuresTheViewBox) {
    const Document doc = ReadText(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"4cm\" height=\"30mm\" viewBox=\"0,0 400 "
        "300\">"
        "<line x1=\"0\" y1=\"0\" x2=\"1\" y2=\"1\"/></svg>",
        Format::Svg);
    EXPECT_EQ(doc.svgWidth, "4cm");
    EXPECT_EQ(doc.svgHeight, "30mm");
    EXPECT_EQ(doc.svgViewBox, "0,0 400 300");
    EXPECT_DOUBLE_EQ(doc.drawingSize, 500);
}

TEST(Svg, CircleStaysWithinTolerance) {
    const double tolerance = 0.01;
    const Document doc =
        ReadSvgBody(R"(<circle id="c" cx="50" cy="40" r="30"/>)", Tolerance(tolerance));
    ASSERT_EQ(doc.objects.size(), 1u);
    EXPECT_EQ(doc.objects[0].name, "c");
    ASSERT_EQ(doc.objects[0].segments.size(), 1u);
    const auto& s = doc.objects[0].segments[0];
    ASSERT_GT(s.size(), 20u);
    EXPECT_LT(s.size(), 200u);
    for (std::size_t i = 0; i < s.size(); ++i) {
        const Point& a = s[i];
        const Point& b = s[(i + 1) % s.size()];
        EXPECT_NEAR(Distance(a, 50, 40), 30, 1e-9);
        // The chord's midpoint is the farthest from the circle.
        const Point mid{(a.x + b.x) / 2, (a.y + b.y) / 2, 0};
        EXPECT_LE(30 - Distance(mid, 50, 40), tolerance * 1.000001);
    }
    EXPECT_GT(Distance(s.front(), s.back().x, s.back().y), 0.1)
        << "the end must not repeat the start";
}

TEST(Svg, DefaultToleranceFollowsTheDrawingSize) {
    // The same circle in a drawing 10x larger gets about sqrt(10) times fewer points.
    const std::string circle = R"(<circle cx="50" cy="50" r="40"/>)";
    const auto count = [&](const std::string& viewBox) {
        const Document doc = ReadText("<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"" +
                                          viewBox + "\">" + circle + "</svg>",
                                      Format::Svg);
        return doc.objects.at(0).segments.at(0).size();
    };
    const std::size_t small = count("0 0 100 100"), large = count("0 0 1000 1000");
    EXPECT_GT(small, large * 2);
    EXPECT_LT(small, large * 4);
}

TEST(Svg, NestedTransformsAreComposed) {
    const Document doc = ReadSvgBody(
        R"svg(<g transform="translate(100 50)"><g transform="scale(2)">
           <path transform="rotate(90)" d="M 1 0 L 2 0"/></g></g>)svg");
    ASSERT_EQ(doc.objects.size(), 1u);
    const auto& s = doc.objects[0].segments.at(0);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_NEAR(s[0].x, 100, 1e-12);
    EXPECT_NEAR(s[0].y, 52, 1e-12);
    EXPECT_NEAR(s[1].x, 100, 1e-12);
    EXPECT_NEAR(s[1].y, 54, 1e-12);
}

// Also numbers that touch, as minifiers write them and viewers read them, and numbers that end
// in their point.
TEST(Svg, TransformAfterPathDataStillApplies) {
    for (const char* body : {R"svg(<polyline points="0,0 1,0" transform="translate(5 6)"/>)svg",
                             R"svg(<polyline points="0.,0. 1..0" transform="translate(5 6)"/>)svg",
                             R"svg(<a transform="translate(1-2)"><polyline points="0,0 1,0"
                                   transform="translate(4 8)scale(.5.5)"/></a>)svg"}) {
        const Document doc = ReadSvgBody(body);
        const auto& s = doc.objects.at(0).segments.at(0);
        EXPECT_DOUBLE_EQ(s.at(0).x, 5) << body;
        EXPECT_DOUBLE_EQ(s.at(1).y, 6) << body;
    }
}

TEST(Svg, ArcPathIsASemicircle) {
    // r=1 is too small for a 100-wide chord: scaled up to 50. Negative radii are taken as
    // viewers take them, by their absolute values.
    for (const char* d :
         {"M 0 0 A 50 50 0 0 1 100 0", "M 0 0 a 1 1 0 0 1 100 0", "M0 0A-50-50 0 01 100 0",
          "M0 0a1-1 0 0,1 100,0", "M0. 0.A5.e1 50. 0 0 1 1.E2 0."}) {
        SCOPED_TRACE(d);
        const Document doc = ReadSvgBody(std::string("<path d=\"") + d + "\"/>");
        const auto& s = doc.objects.at(0).segments.at(0);
        ASSERT_GT(s.size(), 10u);
        double lowest = 0;
        for (const Point& p : s) {
            EXPECT_NEAR(Distance(p, 50, 0), 50, 1e-9);
            lowest = std::min(lowest, p.y);
        }
        EXPECT_NEAR(lowest, -50, 0.05);  // sweep 1 goes the positive-angle way: through y < 0
        EXPECT_EQ(s.back().x, 100);
        EXPECT_EQ(s.back().y, 0);
    }
}

TEST(Svg, ArcFlagsPickCentreAndDirection) {
    // From (0,0) to (50,50) with r=50 the centre is (50,0) or (0,50); the flags choose.
    struct Case {
        const char* flags;
        double cx, cy, leftmost;
    };
    const Case cases[] = {
        {"0 0", 50, 0, 0}, {"1 1", 50, 0, 0}, {"0 1", 0, 50, 0}, {"1 0", 0, 50, -50}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        const Document doc =
            ReadSvgBody(std::string("<path d=\"M 0 0 A 50 50 0 ") + c.flags + " 50 50\"/>");
        double leftmost = HUGE_VAL;
        for (const Point& p : doc.objects.at(0).segments.at(0)) {
            EXPECT_NEAR(Distance(p, c.cx, c.cy), 50, 1e-9);
            leftmost = std::min(leftmost, p.x);
        }
        EXPECT_NEAR(leftmost, c.leftmost, 0.05);
    }
}

TEST(Svg, RotatedEllipticalArcEndsExactly) {
    const Document doc = ReadSvgBody(R"(<path d="M 10 10 A 30 10 30 1 0 60 40"/>)");
    const auto& s = doc.objects.at(0).segments.at(0);
    EXPECT_EQ(s.front().x, 10);
    EXPECT_EQ(s.back().x, 60);
    EXPECT_EQ(s.back().y, 40);
    for (const Point& p : s) EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
}

TEST(Svg, ZeroRadiusArcIsALineAndCoincidentEndsAreOmitted) {
    const Document doc =
        ReadSvgBody(R"(<path d="M 0 0 A 0 10 0 0 1 10 10 A 10 10 0 0 1 10 10 L 20 10"/>)");
    const auto& s = doc.objects.at(0).segments.at(0);
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[1].x, 10);
    EXPECT_EQ(s[1].y, 10);
    EXPECT_EQ(s[2].x, 20);
    // Shapes of no length (an arc back to its start, a lone point, no data, no size) are
    // counted apart.
    const Document none = ReadSvgBody(R"(<path d="M 5 5 A 9 9 0 0 1 5 5"/><path d="M 1 1"/>
      <path d=""/><line x1="3" y1="3" x2="3" y2="3"/><path d="M 0 0 L 1 0"/><rect width="9"/>
      <circle/>)");
    ASSERT_TRUE(none.shapeCounts);
    EXPECT_EQ(none.shapeCounts->dashed, 1);
    EXPECT_EQ(none.shapeCounts->leftAlone, 6);
    EXPECT_EQ(none.shapeCounts->noLength, 6);
    EXPECT_TRUE(none.warnings.empty()) << none.warnings.front();
}

bool StoredClosed(const io::LineObject& object) {
    if (!object.closed) ADD_FAILURE() << object.name << " has no closedness of its own";
    return object.closed.value_or(false);
}

TEST(Svg, SubpathsBecomeSegmentsOfAnOpenAndAClosedObject) {
    const Document doc =
        ReadSvgBody(R"(<path d="M 0 0 L 10 0 M 20 0 L 30 0 L 30 10 Z l 5 5 M 40 40"/>)");
    ASSERT_EQ(doc.objects.size(), 2u);
    // The open subpaths together, measured open; the closed one on its own, measured closed.
    EXPECT_FALSE(StoredClosed(doc.objects[0]));
    EXPECT_TRUE(StoredClosed(doc.objects[1]));
    const auto& open = doc.objects[0].segments;
    ASSERT_EQ(open.size(), 2u);  // the lone "M 40 40" draws nothing
    EXPECT_EQ(open[0].size(), 2u);
    // After Z, drawing goes on from the closed subpath's start.
    ASSERT_EQ(open[1].size(), 2u);
    EXPECT_EQ(open[1][0].x, 20);
    EXPECT_EQ(open[1][1].x, 25);
    EXPECT_EQ(open[1][1].y, 5);
    ASSERT_EQ(doc.objects[1].segments.size(), 1u);
    EXPECT_EQ(doc.objects[1].segments[0].size(), 3u);
}

TEST(Svg, PolygonHasNoDuplicateEndPoint) {
    const Document doc =
        ReadSvgBody(R"(<polygon points="0,0 10,0 10,10"/><polygon points="0,0 10,0 10,10 0,0"/>
                                      <path d="m 0.1 0.1 l 0.2 0 l 0 0.2 l -0.2 -0.2 z"/>)");
    ASSERT_EQ(doc.objects.size(), 3u);
    EXPECT_EQ(doc.objects[0].name, "polygon 1");
    EXPECT_EQ(doc.objects[1].name, "polygon 2");
    for (const auto& object : doc.objects)
        EXPECT_EQ(object.segments.at(0).size(), 3u) << object.name;
}

TEST(Svg, OpenPolylineKeepsItsEndPoint) {
    const Document doc = ReadSvgBody(R"(<polyline points="0,0 10,0 10,10 0,0"/>)");
    EXPECT_EQ(doc.objects.at(0).segments.at(0).size(), 4u);
}

TEST(Svg, RoundedRectAndEllipse) {
    // A negative radius counts as not given, as viewers draw it: ry="-1" is rx, and a rect
    // whose only radius is negative has square corners.
    const Document doc = ReadSvgBody(R"(<rect x="0" y="0" width="100" height="40" rx="80"/>
                                      <ellipse cx="50" cy="50" rx="40" ry="10"/>
                                      <rect x="0" y="0" width="100" height="40" rx="80" ry="-1"/>
                                      <rect x="0" y="0" width="100" height="40" rx="-3"/>)");
    ASSERT_EQ(doc.objects.size(), 4u);
    EXPECT_EQ(doc.objects[3].segments.at(0).size(), 4u);
    // rx is clamped to half the width: the ends are half-ellipses of radii 50 and 20 (ry = rx).
    const auto& rect = doc.objects[0].segments.at(0);
    EXPECT_GT(rect.size(), 20u);
    const auto& autoRy = doc.objects[2].segments.at(0);
    ASSERT_EQ(autoRy.size(), rect.size());
    for (std::size_t i = 0; i < rect.size(); ++i) EXPECT_EQ(autoRy[i].y, rect[i].y) << i;
    for (const Point& p : rect) {
        EXPECT_GE(p.x, -1e-12);
        EXPECT_LE(p.x, 100 + 1e-12);
        const double u = (p.x - 50) / 50, v = (p.y - 20) / 20;
        EXPECT_NEAR(u * u + v * v, 1, 1e-9);
    }
    for (const Point& p : doc.objects[1].segments.at(0)) {
        const double u = (p.x - 50) / 40, v = (p.y - 50) / 10;
        EXPECT_NEAR(u * u + v * v, 1, 1e-9);
    }
}

// By default a shape much smaller than the drawing is followed within a hundredth of its own
// size, but no closer than 0.01 mm: a 2 mm hole on a cutter's bed stays round.
TEST(Svg, SmallShapesStayRoundOnALargePage) {
    const Document doc =
        ReadText(R"(<svg xmlns="http://www.w3.org/2000/svg" width="1300mm" height="900mm" )"
                 R"(viewBox="0 0 1300 900"><circle cx="10" cy="10" r="1" stroke="red"/></svg>)",
                 Format::Svg);
    const double tolerance = 2 * std::sqrt(2) / 100;  // of its 2 by 2 box's diagonal
    const auto& s = doc.objects.at(0).segments.at(0);
    for (std::size_t i = 0; i + 1 < s.size(); ++i)
        EXPECT_GE(Distance({(s[i].x + s[i + 1].x) / 2, (s[i].y + s[i + 1].y) / 2, 0}, 10, 10),
                  1 - tolerance * 1.001);
    ASSERT_EQ(doc.tolerances.size(), 1u);
    EXPECT_NEAR(doc.tolerances[0], tolerance, 1e-12);  // which its dashes keep to
}

TEST(Svg, CubicAndQuadraticStayWithinTolerance) {
    const double tolerance = 0.02;
    const Document doc =
        ReadSvgBody(R"(<path d="M 0 0 C 0 100 100 100 100 0 Q 150 -100 200 0 T 300 0"/>)",
                    Tolerance(tolerance));
    const auto& s = doc.objects.at(0).segments.at(0);
    // The exact curve sampled finely must stay near the polyline.
    const auto distanceToPolyline = [&](double x, double y) {
        double best = HUGE_VAL;
        for (std::size_t i = 0; i + 1 < s.size(); ++i) {
            const double ax = s[i].x, ay = s[i].y, bx = s[i + 1].x, by = s[i + 1].y;
            const double l2 = (bx - ax) * (bx - ax) + (by - ay) * (by - ay);
            const double t =
                l2 > 0 ? std::clamp(((x - ax) * (bx - ax) + (y - ay) * (by - ay)) / l2, 0.0, 1.0)
                       : 0;
            best = std::min(best, std::hypot(x - (ax + t * (bx - ax)), y - (ay + t * (by - ay))));
        }
        return best;
    };
    for (int i = 0; i <= 200; ++i) {
        const double t = i / 200.0, u = 1 - t;
        EXPECT_LE(distanceToPolyline(3 * u * t * t * 100 + t * t * t * 100,
                                     3 * u * u * t * 100 + 3 * u * t * t * 100),
                  tolerance);
        // The smooth quadratic reflects (150, -100) about (200, 0): control (250, 100).
        EXPECT_LE(
            distanceToPolyline(200 + u * u * 0 + 2 * u * t * 50 + t * t * 100, 2 * u * t * 100),
            tolerance);
    }
}

TEST(Svg, WorksWithoutNamespaceAndNamesByIdOrTag) {
    const Document doc = ReadText(
        "<svg><rect width=\"1\" height=\"1\"/><g><rect id=\"r\" width=\"1\" height=\"1\"/></g>"
        "<defs><rect id=\"unused\" width=\"5\" height=\"5\"/></defs>"
        "<rect width=\"1\" height=\"1\"/><other:rect xmlns:other=\"urn:x\" width=\"1\" "
        "height=\"1\"/></svg>",
        Format::Svg);
    ASSERT_EQ(doc.objects.size(), 3u);
    EXPECT_EQ(doc.objects[0].name, "rect 1");
    EXPECT_EQ(doc.objects[1].name, "r");
    EXPECT_EQ(doc.objects[2].name, "rect 3");
}

TEST(Svg, NestedSvgViewportIsApplied) {
    const Document doc = ReadSvgBody(
        R"(<svg x="10" y="20" width="100" height="100" viewBox="0 0 10 10"><line x1="0" y1="0" x2="10" y2="10"/></svg>)");
    const auto& s = doc.objects.at(0).segments.at(0);
    EXPECT_DOUBLE_EQ(s.at(0).x, 10);
    EXPECT_DOUBLE_EQ(s.at(0).y, 20);
    EXPECT_DOUBLE_EQ(s.at(1).x, 110);
    EXPECT_DOUBLE_EQ(s.at(1).y, 120);
    // Percentages of lengths are of the nearest viewport, in its own user units.
    const Document nested = ReadSvgBody(
        R"(<svg x="100" y="50" width="80" height="30"><line x1="0" y1="50%" x2="100%" y2="50%"/></svg>)");
    const auto& line = nested.objects.at(0).segments.at(0);
    EXPECT_DOUBLE_EQ(line.at(0).y, 65);
    EXPECT_DOUBLE_EQ(line.at(1).x, 180);
    // A symbol's are of its viewBox.
    const Document symbol = ReadSvgBody(
        R"(<symbol id="s" viewBox="0 0 10 10"><line x1="0" y1="50%" x2="100%" y2="50%"/></symbol>
        <use href="#s" width="200" height="200"/>)");
    const auto& used = symbol.objects.at(0).segments.at(0);
    EXPECT_DOUBLE_EQ(used.at(0).y, 100);
    EXPECT_DOUBLE_EQ(used.at(1).x, 200);
}

TEST(Svg, WhitespaceAroundAttributeValuesIsAllowed) {
    // As Inkscape's own icons write them, and as every viewer draws them.
    const Document doc = ReadSvgBody(
        "<rect x=\" 1.5\" y=\"2\n\" width=\"\t3 \" height=\"4\"/><circle cx=\"5\" cy=\"5\" r=\" "
        "1\"/>");
    EXPECT_TRUE(doc.warnings.empty()) << doc.warnings.at(0);
    ASSERT_EQ(doc.objects.size(), 2u);
    EXPECT_DOUBLE_EQ(doc.objects[0].segments.at(0).at(0).x, 1.5);
    EXPECT_DOUBLE_EQ(doc.objects[0].segments.at(0).at(2).y, 6);
}

TEST(Svg, BadElementsAreSkippedWithWarnings) {
    const Document doc = ReadSvgBody(
        "<path id=\"bad\" d=\"M 0 0 L 10 x\"/>\n"
        "<rect width=\"-5\" height=\"5\"/>\n"
        "<g transform=\"rotate(\"><line x2=\"5\" y2=\"5\"/></g>\n"
        "<path d=\"M 0 0 L 1e308 0\" transform=\"scale(1e10)\"/>\n"
        "<line id=\"good\" x2=\"5\" y2=\"5\"/>\n"
        "<circle r=\"1.3e308\" transform=\"matrix(1 0 1 1 0 0)\"/>");
    ASSERT_EQ(doc.objects.size(), 1u);
    EXPECT_EQ(doc.objects[0].name, "good");
    ASSERT_EQ(doc.warnings.size(), 5u);
    EXPECT_NE(doc.warnings[4].find(":7: skipped <circle circle 1>: a point is not finite"),
              std::string::npos)
        << doc.warnings[4];
    EXPECT_NE(doc.warnings[0].find("test.svg:2: skipped <path bad>: invalid value of \"d\""),
              std::string::npos)
        << doc.warnings[0];
    EXPECT_NE(doc.warnings[1].find(":3: skipped <rect rect 1>: negative \"width\""),
              std::string::npos)
        << doc.warnings[1];
    EXPECT_NE(doc.warnings[2].find(":4: skipped <g> and its contents"), std::string::npos)
        << doc.warnings[2];
    EXPECT_NE(doc.warnings[3].find("not finite"), std::string::npos) << doc.warnings[3];
}

TEST(Svg, MalformedFilesAreErrorsWithLines) {
    EXPECT_EQ(
        ReadFailure(
            "<svg xmlns=\"http://www.w3.org/2000/svg\">\n<rect width=\"1\" height=\"1\"\n</svg>",
            Format::Svg)
            .line,
        3);
    const io::ReadError notSvg = ReadFailure("<?xml version=\"1.0\"?>\n<html/>", Format::Svg);
    EXPECT_NE(std::string(notSvg.what()).find("<html>, not <svg>"), std::string::npos)
        << notSvg.what();
    EXPECT_EQ(notSvg.line, 2);
    ReadFailure("", Format::Svg);
    ReadFailure("not xml at all", Format::Svg);
    // Well-formed, but nothing left to dash: a drawing without objects, the skip warned about.
    const Document empty = ReadText("<svg><path d=\"M 0 0 Q\"/></svg>", Format::Svg);
    EXPECT_TRUE(empty.objects.empty());
    ASSERT_TRUE(empty.shapeCounts);
    EXPECT_EQ(empty.shapeCounts->skipped, 1);
    EXPECT_EQ(empty.warnings.size(), 1u);
}

// A value past libxml2's default limit (the dashes of a dense drawing in one path can be one)
// is read where no entity is declared; with entities, it is refused, saying why.
TEST(Svg, ValuesPastTenMegabytesAreReadWithoutEntities) {
    const std::string body =
        "<svg xmlns=\"http://www.w3.org/2000/svg\"><path stroke=\"red\" "
        "d=\"M0 0 L1 1\" data-k=\"" +
        std::string(10'000'001, 'k') + "\"/></svg>";
    EXPECT_EQ(ReadText(body, Format::Svg).objects.size(), 1u);
    const io::ReadError e = ReadFailure("<!DOCTYPE svg [<!ENTITY e \"x\">]>" + body, Format::Svg);
    EXPECT_NE(std::string(e.what()).find("declares nothing"), std::string::npos) << e.what();
}

TEST(Svg, DeepNestingIsRefused) {
    std::string deep = "<svg>";
    for (int i = 0; i < 100000; ++i) deep += "<g>";
    const io::ReadError e = ReadFailure(deep, Format::Svg);
    EXPECT_NE(std::string(e.what()).find("nested"), std::string::npos) << e.what();
    // Markup skipped by the XML parser must not hide the depth from the check (a miss here
    // overflows the stack rather than failing).
    for (const std::string prefix :
         {"<!DOCTYPEX [ >", "<!X [ >", "<!DOCTYPE x ] [ >", "<!-- > -->", "<?x [ ?>"}) {
        SCOPED_TRACE(prefix);
        ReadFailure(prefix + deep, Format::Svg);
    }
    // Nor a bracket quoted in the document type.
    const io::ReadError quoted =
        ReadFailure("<!DOCTYPE svg [<!ATTLIST svg x CDATA \"[\">]>" + deep, Format::Svg);
    EXPECT_NE(std::string(quoted.what()).find("nested more than"), std::string::npos)
        << quoted.what();
    // Moderate depth is fine.
    std::string ok = "<svg>";
    for (int i = 0; i < 200; ++i) ok += "<g>";
    ok += "<line x2=\"1\"/>";
    for (int i = 0; i < 200; ++i) ok += "</g>";
    EXPECT_EQ(ReadText(ok + "</svg>", Format::Svg).objects.size(), 1u);
}

TEST(Svg, EntitiesAreNeverExpandedNorFetched) {
    // A "billion laughs" DTD is refused with one line, not expanded.
    std::string text = "<?xml version=\"1.0\"?>\n<!DOCTYPE svg [\n<!ENTITY a \"aaaaaaaaaa\">\n";
    for (char name = 'b'; name <= 'j'; ++name) {
        std::string value;
        for (int i = 0; i < 10; ++i) value += std::string("&") + static_cast<char>(name - 1) + ";";
        text += std::string("<!ENTITY ") + name + " \"" + value + "\">\n";
    }
    text += "]>\n<svg xmlns=\"http://www.w3.org/2000/svg\"><line x2=\"1\"/><text>&j;</text></svg>";
    const io::ReadError laughs = ReadFailure(text, Format::Svg);
    EXPECT_NE(std::string(laughs.what()).find("entity"), std::string::npos) << laughs.what();

    // An external entity stays a reference, in and out: nothing is read from the file system.
    const std::string external =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE svg [\n<!ENTITY ext SYSTEM \"file:///etc/passwd\">\n"
        "<!ENTITY who \"me\">\n]>\n<svg xmlns=\"http://www.w3.org/2000/svg\"><line x2=\"1\"/>"
        "<text>&ext; &who;</text></svg>\n";
    const Document doc = ReadText(external, Format::Svg);
    ASSERT_EQ(doc.objects.size(), 1u);
    io::Document dashed = doc;
    io::WriteOptions wo;
    wo.original = &doc;
    std::ostringstream out;
    io::Write(out, Format::Svg, dashed, wo);
    EXPECT_NE(out.str().find("<text>&ext; &who;</text>"), std::string::npos) << out.str();
    EXPECT_EQ(out.str().find("root:"), std::string::npos);
}

TEST(Svg, HugeCurveCountsAreCapped) {
    EXPECT_EQ(io::detail::CubicPieces({0, 0}, {0, 1e300}, {1e300, 1e300}, {1e300, 0}, 1e-300),
              io::detail::kMaxPiecesPerCurve);
    EXPECT_EQ(io::detail::CubicPieces({0, 0}, {1, 1}, {2, 2}, {3, 3}, 0), 1u);  // straight
    const Document doc =
        ReadSvgBody(R"(<path d="M 0 0 C 0 100 100 100 100 0"/>)", Tolerance(1e-30));
    EXPECT_EQ(doc.objects.at(0).segments.at(0).size(), io::detail::kMaxPiecesPerCurve + 1);
    // Held to the points a file may still flatten to, before they are made: two capped curves
    // are 1 + 2 * kMaxPiecesPerCurve points.
    io::detail::Subpath curves;
    io::detail::Primitive cubic;
    cubic.kind = io::detail::Primitive::Kind::Cubic;
    cubic.p[0] = {0, 100};
    cubic.p[1] = {100, 100};
    cubic.p[2] = {100, 0};
    curves.primitives = {cubic, cubic};
    const std::size_t all = 1 + 2 * io::detail::kMaxPiecesPerCurve;
    std::vector<io::detail::Vec2> points;
    EXPECT_TRUE(io::detail::Flatten(curves, 1e-30, points, all));
    EXPECT_EQ(points.size(), all);
    points.clear();
    EXPECT_FALSE(io::detail::Flatten(curves, 1e-30, points, all - 1));
    EXPECT_LE(points.size(), all - 1);
}

TEST(ArcToCenter, ExtremeRadiiStayFinite) {
    using io::detail::ArcOutcome;
    using io::detail::ArcSize;
    using io::detail::ArcSweep;
    io::detail::Primitive arc;
    // Far too small: scaled up to a semicircle over the chord.
    ASSERT_EQ(io::detail::ArcToCenter({0, 0}, 1e-300, 2e-300, 0, ArcSize::Small, ArcSweep::Positive,
                                      {10, 0}, arc),
              ArcOutcome::Arc);
    EXPECT_NEAR(arc.center.x, 5, 1e-12);
    EXPECT_NEAR(std::fabs(arc.dtheta), 3.14159265358979323846, 1e-12);
    // Enormous: nearly a straight line, but a finite arc.
    ASSERT_EQ(io::detail::ArcToCenter({0, 0}, 1e100, 1e100, 45, ArcSize::Small, ArcSweep::Negative,
                                      {10, 0}, arc),
              ArcOutcome::Arc);
    EXPECT_TRUE(std::isfinite(arc.center.x) && std::isfinite(arc.theta1) &&
                std::isfinite(arc.dtheta));
    EXPECT_LT(std::fabs(arc.dtheta), 1e-90);
    // So large the chord vanishes beside it: taken as the straight line it nearly is.
    EXPECT_EQ(io::detail::ArcToCenter({0, 0}, 1e300, 1e300, 45, ArcSize::Large, ArcSweep::Negative,
                                      {10, 0}, arc),
              ArcOutcome::Line);
    EXPECT_EQ(
        io::detail::ArcToCenter({0, 0}, 0, 5, 0, ArcSize::Small, ArcSweep::Positive, {10, 0}, arc),
        ArcOutcome::Line);
    EXPECT_EQ(
        io::detail::ArcToCenter({1, 1}, 5, 5, 0, ArcSize::Small, ArcSweep::Positive, {1, 1}, arc),
        ArcOutcome::Omitted);
}

// --- SVG writing --------------------------------------------------------------------------------

TEST(SvgWrite, KeepsSizeAndReadsBackTheSameDashes) {
    Document dashed;
    dashed.svgWidth = "400";
    dashed.svgHeight = "300";
    dashed.svgViewBox = "0 0 400 300";
    dashed.objects.push_back(
        {"a<&>\"",
         {{{10.5, 20.25, 7}, {30, 40, 0}}, {{0.1, 0.2, 0}, {0.3, 0.4, 0}, {5, 6, 0}}},
         {}});
    dashed.objects.push_back({"b", {{{100, 100, 0}}}, {}});  // a lone point: drawn as a dot
    const std::string text = WriteText(dashed, Format::Svg);
    EXPECT_NE(text.find("width=\"400\" height=\"300\" viewBox=\"0 0 400 300\""), std::string::npos)
        << text;
    EXPECT_NE(text.find("id=\"a&lt;&amp;&gt;&quot;\""), std::string::npos) << text;
    EXPECT_NE(text.find("stroke-linecap=\"round\""), std::string::npos);
    const Document back = ReadText(text, Format::Svg);
    ASSERT_EQ(back.objects.size(), 1u);  // the dot has no length to dash: not read back
    ASSERT_EQ(back.objects[0].segments.size(), 2u);
    for (std::size_t s = 0; s < 2; ++s) {
        const auto& want = dashed.objects[0].segments[s];
        const auto& got = back.objects[0].segments[s];
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t i = 0; i < want.size(); ++i) {
            EXPECT_EQ(got[i].x, want[i].x);
            EXPECT_EQ(got[i].y, want[i].y);
        }
    }
}

TEST(SvgWrite, PreviewDrawsTheOriginalBeneath) {
    const Document original =
        ReadText(R"({"segments": [[[0, 0], [100, 0], [100, 50]]]})", Format::Json);
    Document dashed;
    dashed.objects.push_back({"", {{{0, 0, 0}, {50, 0, 0}}}, {}});
    io::WriteOptions options;
    options.preview = true;
    options.original = &original;
    const std::string text = WriteText(dashed, Format::Svg, options);
    const std::size_t originalAt = text.find("id=\"original curves\"");
    const std::size_t dashesAt = text.find("id=\"object 1\"");
    ASSERT_NE(originalAt, std::string::npos) << text;
    ASSERT_NE(dashesAt, std::string::npos) << text;
    EXPECT_LT(originalAt, dashesAt);
    EXPECT_NE(text.find("M0 0 L100 0 100 50 Z"), std::string::npos) << text;
    // No size anywhere: a viewBox around the drawing with a margin, and a pixel size.
    EXPECT_NE(text.find("viewBox=\""), std::string::npos);
    EXPECT_NE(text.find("width=\"800\""), std::string::npos) << text;
    const Document back = ReadText(text, Format::Svg);
    EXPECT_EQ(back.objects.size(), 2u);
    EXPECT_FALSE(WriteText(dashed, Format::Svg).find("original curves") != std::string::npos);
}

namespace svg_selection {

std::vector<std::string> Names(const Document& doc) {
    std::vector<std::string> names;
    for (const auto& o : doc.objects) names.push_back(o.name);
    return names;
}

io::ReadOptions Stroked() {
    io::ReadOptions options;
    options.select = io::Select::Stroked;
    return options;
}

TEST(SvgStyle, CascadeOrderAndInheritanceDecideWhatIsStroked) {
    const Document doc = ReadSvgBody(R"SVG(<style>
      #a { stroke: red } .off { stroke: none !important } g.k path { stroke: blue }
      /* a comment */ @media print { path { stroke: none } } rect, circle { stroke: black }
      g > .child { stroke: green } path[foo] { stroke: red }</style>
    <path id="a" class="off" d="M0 0 L1 1" stroke="green"/>
    <g class="k"><path id="descendant" d="M0 0 L1 1"/></g>
    <path id="sheet-beats-style" class="off" style="stroke: red" d="M0 0 L1 1"/>
    <path id="important-style" class="off" style="stroke: red !important" d="M0 0 L1 1"/>
    <path id="id-beats-attribute" stroke="none" d="M0 0 L1 1"/>
    <circle id="grouped" r="1"/>
    <g stroke="teal"><path id="inherited" d="M0 0 L1 1"/><path id="own-none" stroke="none" d="M0 0 L1 1"/></g>
    <g><g><path id="grandchild-not-child" class="child" d="M0 0 L1 1"/></g></g>
    <g visibility="hidden"><path id="shown-again" visibility="visible" stroke="red" d="M0 0 L1 1"/>
      <path id="hidden" stroke="red" d="M0 0 L1 1"/></g>
    <path id="attribute-selector-ignored" d="M0 0 L1 1"/>)SVG",
                                     Stroked());
    EXPECT_EQ(Names(doc),
              (std::vector<std::string>{"descendant", "important-style", "grouped", "inherited",
                                        "grandchild-not-child", "shown-again"}));
    ASSERT_TRUE(doc.shapeCounts);
    EXPECT_EQ(doc.shapeCounts->hidden, 1);
    EXPECT_EQ(doc.shapeCounts->leftAlone, 5);
}

TEST(SvgStyle, AttributeSelectorsAndNotChooseAsViewersDo) {
    const Document doc = ReadSvgBody(R"SVG(<style>
      [data-state="off"] { display: none } path[data-k~=b] { stroke: red }
      path[lang|='en' i] { stroke: red } path:not(.solid, [data-q]) { stroke: blue }
      path:hover, a + b { stroke: red }</style>
    <path id="off" data-state="off" stroke="red" d="M0 0 L1 1"/>
    <path id="word" data-k="a b c" d="M0 0 L1 1"/>
    <path id="lang" lang="EN-gb" class="solid" d="M0 0 L1 1"/>
    <path id="solid" class="solid" d="M0 0 L1 1"/>
    <path id="q" data-q="" d="M0 0 L1 1"/>
    <path id="plain" d="M0 0 L1 1"/>)SVG",
                                     Stroked());
    EXPECT_EQ(Names(doc), (std::vector<std::string>{"word", "lang", "plain"}));
    ASSERT_TRUE(doc.shapeCounts);
    EXPECT_EQ(doc.shapeCounts->hidden, 1);
    // A rule it cannot read is named, not silently dropped.
    ASSERT_FALSE(doc.warnings.empty());
    EXPECT_NE(doc.warnings.front().find("'path:hover'"), std::string::npos) << doc.warnings[0];
    EXPECT_NE(doc.warnings.front().find("1 more"), std::string::npos) << doc.warnings[0];
}

// A viewer on a screen applies @media rules for all media or the screen; what korrand does not
// evaluate (@import, which it does not fetch, media conditions) is named.
TEST(SvgStyle, MediaRulesApplyAsOnAScreen) {
    const Document doc = ReadSvgBody(R"SVG(<style>@import url("more.css");
      @media screen { #screen { stroke: red } } @media only all, print { #all { stroke: red } }
      @media print { #print { stroke: red } } @media (min-width: 9px) { #wide { stroke: red } }
      @font-face { font-family: f } @media; @media only
      screen { path[data-k="}"] { stroke: red } }</style>
    <style media="print">#printed { stroke: red }</style>
    <style media="screen and (color)">#printed { stroke: red }</style>
    <path id="screen" d="M0 0 L1 1"/><path id="all" d="M0 0 L1 1"/><path id="printed" d="M0 0 L1 1"/>
    <path id="print" d="M0 0 L1 1"/><path id="wide" d="M0 0 L1 1"/>
    <path id="quoted" data-k="}" d="M0 0 L1 1"/>)SVG",
                                     Stroked());
    EXPECT_EQ(Names(doc), (std::vector<std::string>{"screen", "all", "quoted"}));
    ASSERT_EQ(doc.warnings.size(), 1u);
    EXPECT_NE(doc.warnings[0].find("'@import url(\"more.css\")'"), std::string::npos)
        << doc.warnings[0];
    EXPECT_NE(doc.warnings[0].find("2 more"), std::string::npos) << doc.warnings[0];
}

// Sheets and ids count wherever they stand in the document, but not inside an entity's text,
// whose elements are named in a warning; an entity in path data is read through.
TEST(SvgStyle, SheetsIdsAndEntitiesWhereverTheyStand) {
    const std::string text =
        "<!DOCTYPE svg [<!ENTITY e \"<path id='in-entity' d='M0 0 L1 1'/>\">"
        "<!ENTITY d \"M0 0 L1 1\">]>\n" +
        kSvgHead +
        "<use href=\"#later\"/><path id=\"p\" d=\"M0 0 L1 1\"/>&e;\n"
        "<defs><path id=\"later\" stroke=\"red\" d=\"M0 0 L1 1\"/></defs>"
        "<path id=\"through\" stroke=\"red\" d=\"&d; L1 0\"/>"
        "<x:style xmlns:x=\"urn:x\">#p { stroke: green }</x:style>"
        "<g><style>#p { stroke: red }</style></g></svg>";
    const Document doc = ReadText(text, Format::Svg, Stroked());
    EXPECT_EQ(Names(doc), (std::vector<std::string>{"later", "p", "through"}));
    ASSERT_EQ(doc.warnings.size(), 1u);  // the entity's path is named, left as it is
    EXPECT_NE(doc.warnings[0].find("&e;: elements in an entity's text"), std::string::npos)
        << doc.warnings[0];
    ASSERT_EQ(doc.objects.size(), 3u);
    EXPECT_EQ(doc.objects[2].segments.at(0).size(), 3u);
    io::ReadOptions entity = Stroked();
    entity.ids = {"in-entity"};
    EXPECT_THROW(ReadText(text, Format::Svg, entity), io::ReadError);
    // Illustrator names the root's namespaces through entities.
    const Document ai = ReadText(
        "<!DOCTYPE svg [<!ENTITY ns_svg \"http://www.w3.org/2000/svg\">"
        "<!ENTITY ns_xlink \"http://www.w3.org/1999/xlink\">]>"
        "<svg xmlns=\"&ns_svg;\" xmlns:xlink=\"&ns_xlink;\"><defs><path id=\"a\" "
        "stroke=\"red\" d=\"M0 0 L1 1\"/></defs><use xlink:href=\"#a\"/></svg>",
        Format::Svg, Stroked());
    EXPECT_EQ(Names(ai), (std::vector<std::string>{"a"}));
}

TEST(SvgStyle, NeverDrawnContentIsNotDashed) {
    const Document doc = ReadSvgBody(R"SVG(<defs><path id="in-defs" d="M0 0 L1 1"/></defs>
    <clipPath><rect id="clip" width="1" height="1"/></clipPath><mask><rect width="1" height="1"/></mask>
    <marker><path d="M0 0 L1 1"/></marker><pattern><path d="M0 0 L1 1"/></pattern>
    <g style="display:none"><path id="gone" d="M0 0 L1 1"/></g>
    <symbol id="s"><path id="in-symbol" d="M0 0 L1 1"/></symbol>
    <path id="drawn" d="M0 0 L1 1"/>)SVG");
    EXPECT_EQ(Names(doc), (std::vector<std::string>{"drawn"}));
}

// Text is not dashed; stroked text the options would dash (a <tspan>'s own stroke too, also in
// hidden text; not hidden text) gets one warning.
TEST(SvgStyle, StrokedTextIsLeftAloneWithAWarning) {
    const Document doc =
        ReadSvgBody(R"SVG(<text stroke="red">a</text><text>b <tspan stroke="blue">c</tspan></text>
    <text stroke="red" visibility="hidden">d <tspan visibility="visible">f</tspan></text><text>e</text>)SVG",
                    Stroked());
    EXPECT_TRUE(doc.objects.empty());
    ASSERT_EQ(doc.warnings.size(), 1u);
    EXPECT_NE(doc.warnings[0].find("Object to Path) (and 2 more like it)"), std::string::npos)
        << doc.warnings[0];
}

// A transform or geometry given in CSS (SVG 2), which some viewers draw, is named in a warning:
// on the shape or, a transform, on a group; not where it is none or an attribute.
TEST(SvgStyle, CssTransformsAndGeometryAreWarnedAbout) {
    const Document doc = ReadSvgBody(R"SVG(<style>.big { r: 9 } * { stroke: red }</style>
    <g style="transform: scale(2)"><path id="a" d="M0 0 L9 0"/></g>
    <circle id="b" class="big" r="3"/><rect id="c" width="4" height="4" style="transform: none"/>
    <g transform="scale(2)"><path id="d" x="1" d="M0 0 L9 0"/></g>)SVG",
                                     Stroked());
    ASSERT_EQ(doc.warnings.size(), 1u);
    EXPECT_NE(doc.warnings[0].find("<path a>: a transform or geometry given in CSS"),
              std::string::npos)
        << doc.warnings[0];
    EXPECT_NE(doc.warnings[0].find("(and 1 more like it)"), std::string::npos) << doc.warnings[0];
}

// What a viewer does not draw is not stroked: zero alpha in every notation, zero opacity on the
// shape or an ancestor, currentColor of a transparent colour, visibility:collapse, dashes of no
// length with butt caps (round caps draw them as dots), a paint server the file lacks.
TEST(SvgStyle, StrokesAViewerDoesNotDrawAreNotDashed) {
    const Document doc = ReadSvgBody(R"SVG(<g fill="none">
    <path id="black" d="M0 0 L9 0" stroke="black"/>
    <path id="half" d="M0 0 L9 0" stroke="rgba(0,0,0,0.5)"/>
    <path id="transparent" d="M0 0 L9 0" stroke="transparent"/>
    <path id="rgba" d="M0 0 L9 0" stroke="rgba(0, 0, 0, 0)"/>
    <path id="rgb-slash" d="M0 0 L9 0" stroke="rgb(0 0 0 / 0%)"/>
    <path id="hsla" d="M0 0 L9 0" style="stroke: HSLA(120, 50%, 50%, 0)"/>
    <path id="hex8" d="M0 0 L9 0" stroke="#ff000000"/>
    <path id="hex4" d="M0 0 L9 0" stroke="#f000"/>
    <path id="stroke-opacity" d="M0 0 L9 0" stroke="black" stroke-opacity="0%"/>
    <g color="transparent"><path id="current" d="M0 0 L9 0" stroke="currentColor"/></g>
    <path id="opacity" d="M0 0 L9 0" stroke="black" opacity="0"/>
    <g style="opacity:0"><path id="in-clear-group" d="M0 0 L9 0" stroke="black"/></g>
    <path id="collapse" d="M0 0 L9 0" stroke="black" visibility="collapse"/>
    <path id="bad-colour-ignored" d="M0 0 L9 0" stroke="black" style="stroke: rgba(0,0,0"/>
    <path id="no-dash-length" d="M0 0 L9 0" stroke="black" stroke-dasharray="0 2"/>
    <g stroke-linecap="round"><path id="dots" d="M0 0 L9 0" stroke="black" stroke-dasharray="0 2"/></g>
    <path id="no-server" d="M0 0 L9 0" stroke="url(#nowhere)"/>
    <path id="server-fallback" d="M0 0 L9 0" stroke="url(#nowhere) red"/>
    </g>)SVG",
                                     Stroked());
    EXPECT_EQ(Names(doc), (std::vector<std::string>{"black", "half", "bad-colour-ignored", "dots",
                                                    "server-fallback"}));
    EXPECT_EQ(doc.shapeCounts->leftAlone, 10);
    EXPECT_EQ(doc.shapeCounts->hidden, 3);
}

// Which dash arrays a viewer dashes with, and their period as the shapes' dash counts show it
// (each subpath 180 long; the viewport's diagonal / sqrt 2 is 158.1 for 200 x 100).
TEST(SvgStyle, DashArraysDashAsAViewerDashes) {
    io::ReadOptions options;
    options.select = io::Select::Dasharray;
    options.periodFromDasharray = true;
    const Document doc = ReadSvgBody(R"SVG(<g stroke="black" fill="none">
    <path id="no-gap" d="M10 10 L190 10" stroke-dasharray="10 0"/>
    <path id="no-gaps" d="M10 10 L190 10" stroke-dasharray="10,0,10,0"/>
    <path id="all-zero" d="M10 10 L190 10" stroke-dasharray="0 0"/>
    <path id="negative" d="M10 10 L190 10" stroke-dasharray="4 -2"/>
    <path id="percent" d="M10 10 L190 10" stroke-dasharray="5% 5%"/>
    <path id="odd" d="M10 10 L190 10" stroke-dasharray="4 2 3"/>
    <path id="units" d="M10 10 L190 10" stroke-dasharray="2mm,1mm"/>
    <path id="path-length" d="M10 10 L190 10" stroke-dasharray="5 5" pathLength="100"/>
    <svg x="0" y="0" width="20" height="10"><path id="nested-percent" d="M10 10 L190 10" stroke-dasharray="10%"/></svg>
    <path id="stretched" d="M10 10 L190 10" stroke-dasharray="9" transform="scale(2 1)"/>
    <path id="skewed" d="M10 10 L10 190" stroke-dasharray="9" transform="skewX(45)"/>
    <path id="stretched-length" d="M10 10 L190 10" stroke-dasharray="5 5" pathLength="100"
      transform="scale(4 1)"/>
    <g transform="scale(2)" vector-effect="non-scaling-stroke"><path id="screen" d="M5 5 L95 5"
      stroke-dasharray="9" style="vector-effect: non-scaling-stroke"/></g>
    <path id="commented" d="M10 10 L190 10" style="/*;*/stroke-dasharray: 5 /* ; */ 5"/>
    <path id="commented-out" d="M10 10 L190 10" stroke-dasharray="6 /*x*/ 6"
      style="/*stroke-dasharray: 9 0;*/"/>
    <path id="computed" d="M10 10 L190 10" style="stroke-dasharray: calc(2px * 4) var(--gap)"/>
    <path id="largest" d="M10 10 L190 10" stroke-dasharray="max(2px, 1mm) 4"/>
    <g font-size="10"><path id="em" d="M10 10 L190 10" stroke-dasharray="1em" style="font-size: 150%"/>
    <path id="ex" d="M10 10 L190 10" stroke-dasharray="2ex"/></g>
    </g>)SVG",
                                     options);
    std::vector<std::pair<std::string, int64_t>> counts;
    for (const auto& o : doc.objects) counts.push_back({o.name, o.dashCount.value_or(0)});
    EXPECT_EQ(counts, (std::vector<std::pair<std::string, int64_t>>{
                          {"percent", 11},  // 180 / 15.81
                          {"odd", 10},      // 180 / 18
                          {"units", 16},    // 180 / 11.34
                          {"path-length", 10},
                          {"nested-percent", 57},  // 180 / (2 x 1.581)
                          {"stretched", 10},       // measured where the array is: 180 / 18
                          {"skewed", 10},
                          {"stretched-length", 10},
                          {"screen", 10},     // its array in px whatever the transforms
                          {"commented", 18},  // a comment stands where a space may
                          {"commented-out", 15},
                          {"em", 6},           // of the font-size given: 180 / 30
                          {"ex", 9}}));        // half an em: 180 / 20
    EXPECT_EQ(doc.shapeCounts->leftAlone, 6);  // the computed ones taken as solid, and said so
    ASSERT_EQ(doc.warnings.size(), 1u);
    EXPECT_NE(doc.warnings[0].find("calc()"), std::string::npos) << doc.warnings[0];
    EXPECT_NE(doc.warnings[0].find("1 more"), std::string::npos) << doc.warnings[0];
}

// stroke-dashoffset moves the plug-in's pattern as it moves a viewer's: by the fraction of the
// rhythm it is, backwards, in whole segments of count rhythms; a font-relative array is reported.
TEST(SvgStyle, DashOffsetBecomesTheModifiersOffset) {
    io::ReadOptions options;
    options.select = io::Select::Dasharray;
    options.periodFromDasharray = true;
    const Document doc = ReadSvgBody(R"SVG(<g stroke="black" fill="none" stroke-dasharray="6 6">
    <path id="quarter" d="M10 10 L190 10" stroke-dashoffset="3"/>
    <path id="back" d="M10 10 L190 10" stroke-dashoffset="-3"/>
    <path id="whole" d="M10 10 L190 10" stroke-dashoffset="24"/>
    <path id="font" d="M10 10 L190 10" stroke-dasharray="1em"/>
    </g>)SVG",
                                     options);
    ASSERT_EQ(doc.objects.size(), 3u);
    EXPECT_DOUBLE_EQ(doc.objects[0].offset.value_or(0), -0.25 / 15);
    EXPECT_DOUBLE_EQ(doc.objects[1].offset.value_or(0), -0.75 / 15);
    EXPECT_FALSE(doc.objects[2].offset);
    ASSERT_EQ(doc.warnings.size(), 1u);
    EXPECT_NE(doc.warnings[0].find("font units"), std::string::npos) << doc.warnings[0];
}

// A layer goes by the name its editor shows: Illustrator's data-name, CorelDRAW's escaped id,
// an Affinity Designer layer inside its artboard.
TEST(SvgSelect, LayersGoByTheNamesTheirEditorsShow) {
    io::ReadOptions options;
    options.layers = {"Fold Lines", "Layer 1", "Layer 2", "1st"};
    const Document doc =
        ReadSvgBody(R"SVG(<g id="Fold_Lines" data-name="Fold Lines"><path id="a" d="M0 0 L1 1"/></g>
    <g id="Layer_x0020_1"><path id="b" d="M0 0 L1 1"/></g><g id="_x31_st"><path id="e" d="M0 0 L1 1"/></g><g id="Cut"><path id="c" d="M0 0 L1 1"/></g>
    <g id="Artboard1"><g id="Layer-2" serif:id="Layer 2" xmlns:serif="http://www.serif.com/"><path id="d" d="M0 0 L1 1"/></g></g>)SVG",
                    options);
    EXPECT_EQ(Names(doc), (std::vector<std::string>{"a", "b", "e", "d"}));
}

TEST(SvgUse, ReferencedShapesAreDashedOnceWhereDefined) {
    const Document doc = ReadSvgBody(R"SVG(<defs><g id="pair" transform="translate(10 0)">
      <path id="p" d="M0 0 L10 0"/></g></defs>
    <use href="#pair" x="50"/><use xlink:href="#pair" y="20" xmlns:xlink="http://www.w3.org/1999/xlink"/>)SVG");
    ASSERT_EQ(Names(doc), (std::vector<std::string>{"p"}));
    // In the definition's own space: the group's transform, not the instances' offsets.
    EXPECT_EQ(doc.objects[0].segments[0][0].x, 10);
    EXPECT_EQ(doc.objects[0].segments[0][0].y, 0);
}

// An Inkscape clone: a shape drawn itself in one layer and through a <use> in another is dashed
// when the <use> is chosen, counted once, with a warning that it is dashed where it stands too.
// Hidden shapes outside the selection count as not chosen, not as hidden.
// A shape its <use>s paint apart (one its fill, one its dashed stroke, a mask its area) stays for
// them, stroke hidden: the dashes beside it, drawn by a twin of each <use> (the mask's and a
// pattern's too, not a clip path's), and of each <use> of such a <use> (not of another element
// of its id).
TEST(SvgUse, AShapeUsedForItsFillAndInAMaskStays) {
    const Document doc = ReadSvgBody(R"SVG(<defs><rect id="r" width="90" height="90"/></defs>
    <mask id="m" fill="white"><use href="#r"/></mask><use href="#r" fill="#ddd"/>
    <use id="s" href="#r" fill="none" stroke="gray" stroke-dasharray="6 4" mask="url(#m)"/>
    <use href="#s" x="100"/><pattern id="p" width="9" height="9"><use href="#r"/></pattern>
    <clipPath id="c"><use href="#r"/></clipPath><g id="t"/>
    <use id="t" href="#r" stroke="red"/><use href="#t" x="200"/>)SVG");
    const std::string svg = WrittenBack(doc);
    EXPECT_NE(svg.find(R"(<rect id="r" width="90" height="90" data-korrand="original" )"
                       R"(style="stroke:none"/>)"),
              std::string::npos)
        << svg;
    EXPECT_EQ(Occurrences(svg, "href=\"#r-dashes\""), 5u) << svg;
    EXPECT_EQ(Occurrences(svg, "href=\"#s-dashes\" x=\"100\""), 1u) << svg;
    EXPECT_EQ(Occurrences(svg, "x=\"200\""), 1u) << svg;
    EXPECT_TRUE(doc.warnings.empty()) << doc.warnings.front();
}

TEST(SvgUse, AChosenCloneDashesItsOriginal) {
    io::ReadOptions options = Stroked();
    options.ids = {"clone", "group-clone", "layer"};
    const Document doc = ReadSvgBody(R"SVG(<g><path id="orig" stroke="red" d="M0 0 L10 0"/></g>
    <g><use id="clone" href="#orig" y="5"/></g><path visibility="hidden" d="M0 0 L1 0"/>
    <g id="group"><path id="inner" stroke="red" d="M0 0 L10 0"/></g>
    <use id="group-clone" href="#group" y="5"/>
    <use href="#later" y="5"/><g id="layer"><path id="later" stroke="red" d="M0 0 L10 0"/></g>
    <g display="none"><path stroke="red" d="M0 0 L1 0"/></g>)SVG",
                                     options);
    EXPECT_EQ(Names(doc), (std::vector<std::string>{"orig", "inner", "later"}));
    EXPECT_EQ(doc.shapeCounts->leftAlone, 2);
    EXPECT_EQ(doc.shapeCounts->outsideSelection, 2);
    EXPECT_EQ(doc.shapeCounts->hidden, 0);
    ASSERT_EQ(doc.warnings.size(), 1u);  // the two clones, not the shape chosen where it is
    EXPECT_NE(doc.warnings[0].find("(a clone)"), std::string::npos) << doc.warnings[0];
    EXPECT_NE(doc.warnings[0].find("1 more"), std::string::npos) << doc.warnings[0];
}

// A symbol placed smaller or larger than it is defined gets dashes of the period on the page, as
// the first instance that has it dashed draws it; one drawn at several sizes, or given several
// dash arrays, is warned about.
// Any instance may choose it (a selection, a stroke only that instance gives), once.
TEST(SvgUse, SymbolsAreMeasuredAsTheirDashedInstanceDrawsThem) {
    const std::string body = R"SVG(<defs><symbol id="s" viewBox="0 0 100 100">
      <path id="p" d="M0 50 L100 50"/></symbol><path id="t" d="M0 0 L40 0"/></defs>
    <use href="#s" width="20" height="20"/><use href="#t" transform="scale(0.5)"/>
    <path id="q" d="M0 80 L20 80"/>)SVG";
    io::ReadOptions options;
    options.period = 4;
    const Document once = ReadSvgBody(body, options);
    ASSERT_EQ(Names(once), (std::vector<std::string>{"p", "t", "q"}));
    for (const auto& object : once.objects) EXPECT_EQ(object.dashCount, 5) << object.name;
    EXPECT_TRUE(once.warnings.empty());
    const std::string larger = body + R"SVG(<use id="large" href="#s" width="40" height="40"/>)SVG";
    const Document twice = ReadSvgBody(larger, options);
    EXPECT_EQ(twice.objects[0].dashCount, 5);
    ASSERT_EQ(twice.warnings.size(), 1u);
    EXPECT_NE(twice.warnings[0].find("different sizes"), std::string::npos) << twice.warnings[0];
    // An <svg> the <use> gives a size is drawn at that size, not its own (a percentage of the
    // viewport's); at a size of zero, not at all.
    for (const char* size :
         {R"(width="40" height="40")", R"(width="20%" height="40%")", R"(width="0" height="40")"}) {
        const Document resized = ReadSvgBody(
            std::string(R"(<defs><svg id="v" width="10" height="10" viewBox="0 0 10 10">)"
                        R"(<path d="M0 5 L10 5"/></svg></defs><use href="#v" )") +
                size + "/>",
            options);
        if (std::string(size).find("\"0\"") != std::string::npos) {
            EXPECT_TRUE(resized.objects.empty());
        } else {
            ASSERT_EQ(resized.objects.size(), 1u) << size;
            EXPECT_EQ(resized.objects[0].dashCount, 10) << size;
        }
    }
    options.ids = {"large"};
    const Document chosen = ReadSvgBody(larger, options);
    ASSERT_EQ(Names(chosen), (std::vector<std::string>{"p"}));
    EXPECT_EQ(chosen.objects[0].dashCount, 10);
    const Document stroked = ReadSvgBody(R"SVG(<defs><path id="b" d="M0 0 L8 0"/></defs>
      <use href="#b"/><use href="#b" stroke="red"/><use href="#b" stroke="blue"/>)SVG",
                                         Stroked());
    EXPECT_EQ(Names(stroked), (std::vector<std::string>{"b"}));
    ASSERT_TRUE(stroked.shapeCounts);
    EXPECT_EQ(stroked.shapeCounts->leftAlone, 0);
    EXPECT_TRUE(stroked.warnings.empty());  // other paints, the same dashes
    const Document dashes = ReadSvgBody(R"SVG(<defs><path id="b" d="M0 0 L8 0"/></defs>
      <use href="#b" stroke="red" stroke-dasharray="2"/>
      <use href="#b" stroke="red" stroke-dasharray="1"/>)SVG",
                                        Stroked());
    ASSERT_EQ(dashes.warnings.size(), 1u);
    EXPECT_NE(dashes.warnings[0].find("other dash arrays"), std::string::npos)
        << dashes.warnings[0];
}

TEST(SvgUse, CyclesAndExpansionBombsAreRefused) {
    const io::ReadError cycle =
        ReadFailure(kSvgHead + R"SVG(<g id="a"><path d="M0 0 L1 1"/><use href="#a"/></g></svg>)SVG",
                    Format::Svg);
    EXPECT_NE(std::string(cycle.what()).find("cycle"), std::string::npos) << cycle.what();
    const io::ReadError mutual = ReadFailure(
        kSvgHead + R"SVG(<defs><g id="a"><use href="#b"/></g><g id="b"><use href="#a"/></g></defs>
      <path d="M0 0 L1 1"/><use href="#a"/></svg>)SVG",
        Format::Svg);
    EXPECT_NE(std::string(mutual.what()).find("cycle"), std::string::npos) << mutual.what();

    // Ten uses of ten uses of ... : 10^7 instances from a few hundred bytes.
    std::string bomb = kSvgHead + "<defs><path id=\"l0\" d=\"M0 0 L1 1\"/>";
    for (int level = 1; level <= 7; ++level) {
        bomb += "<g id=\"l" + std::to_string(level) + "\">";
        for (int i = 0; i < 10; ++i) bomb += "<use href=\"#l" + std::to_string(level - 1) + "\"/>";
        bomb += "</g>";
    }
    bomb += "</defs><use href=\"#l7\"/></svg>";
    const io::ReadError fanOut = ReadFailure(bomb, Format::Svg);
    EXPECT_NE(std::string(fanOut.what()).find("expands to more than"), std::string::npos)
        << fanOut.what();

    std::string chain = kSvgHead + "<defs><path id=\"c0\" d=\"M0 0 L1 1\"/>";
    for (int level = 1; level <= 40; ++level)
        chain += "<g id=\"c" + std::to_string(level) + "\"><use href=\"#c" +
                 std::to_string(level - 1) + "\"/></g>";
    chain += "</defs><use href=\"#c40\"/></svg>";
    const io::ReadError deep = ReadFailure(chain, Format::Svg);
    EXPECT_NE(std::string(deep.what()).find("nest more than"), std::string::npos) << deep.what();
}

// As viewers draw them: path data and points up to their first error (an odd coordinate).
TEST(Svg, PathDataIsReadUpToItsFirstError) {
    const Document doc = ReadSvgBody(
        "<path id=\"partial\" d=\"M 0 0 L 10 0 L 10 x 5\"/>"
        "<polyline id=\"odd\" points=\"0 0 5 0 5 5 9\"/>");
    ASSERT_EQ(doc.objects.size(), 2u);
    EXPECT_EQ(doc.objects[0].segments.at(0).size(), 2u);
    EXPECT_EQ(doc.objects[1].segments.at(0).size(), 3u);
    ASSERT_EQ(doc.warnings.size(), 1u);
    EXPECT_NE(doc.warnings[0].find("read up to it as viewers draw it (and 1 more like it)"),
              std::string::npos)
        << doc.warnings[0];
    EXPECT_EQ(doc.shapeCounts->skipped, 0);
}

TEST(SvgWarnings, OneLinePerKindWithACount) {
    const Document doc = ReadSvgBody(R"SVG(<path transform="scale(0 1)" d="M0 0 L1 1"/>
    <rect transform="matrix(1 2 2 4 0 0)" width="1" height="1"/><path d="M0 0 L1 1"/>
    <use href="#missing"/><path d="M0 0 L"/><path d="M0 0 Q1"/>)SVG");
    ASSERT_EQ(doc.warnings.size(), 3u);
    EXPECT_NE(doc.warnings[0].find("singular transform"), std::string::npos) << doc.warnings[0];
    EXPECT_NE(doc.warnings[0].find("(and 1 more like it)"), std::string::npos) << doc.warnings[0];
    EXPECT_NE(doc.warnings[1].find("not in the document"), std::string::npos) << doc.warnings[1];
    // Two different bad values of "d" are one kind: the first value is shown.
    EXPECT_NE(doc.warnings[2].find("invalid value of \"d\": \"M0 0 L\" (and 1 more like it)"),
              std::string::npos)
        << doc.warnings[2];
    EXPECT_EQ(doc.shapeCounts->skipped, 4);
}

TEST(SvgWarnings, AreOneLineWhateverTheFileQuotes) {
    const Document doc = ReadSvgBody(R"(<path id="a&#10;b" d="M0 0 L"/><circle r="1&#13;2"/>)");
    ASSERT_EQ(doc.warnings.size(), 2u);
    for (const std::string& warning : doc.warnings)
        EXPECT_EQ(warning.find_first_of("\r\n"), std::string::npos) << warning;
}

TEST(SvgStyle, LongDescendantSelectorsOnDeepTreesStayCheap) {
    // No <text> above: without remembering failed matches, finding that out would try every
    // choice of 11 ancestors out of 200 first.
    std::string body =
        "<style>text g g g g g g g g g g g path.x { stroke: red } g g path.x { stroke: blue }"
        "</style>";
    for (int i = 0; i < 200; ++i) body += "<g>";
    body += R"SVG(<path id="deep" class="x" d="M0 0 L1 1"/><path id="other" d="M0 0 L1 1"/>)SVG";
    for (int i = 0; i < 200; ++i) body += "</g>";
    EXPECT_EQ(Names(ReadSvgBody(body, Stroked())), (std::vector<std::string>{"deep"}));
}

TEST(SvgUse, NestingThroughUseIsBounded) {
    // Each level 100 groups deep, six levels of <use>: deeper than any file may nest.
    std::string text = kSvgHead + "<defs><path id=\"u0\" d=\"M0 0 L1 1\"/>";
    for (int level = 1; level <= 6; ++level) {
        text += "<g id=\"u" + std::to_string(level) + "\">";
        for (int i = 0; i < 100; ++i) text += "<g>";
        text += "<use href=\"#u" + std::to_string(level - 1) + "\"/>";
        for (int i = 0; i < 100; ++i) text += "</g>";
        text += "</g>";
    }
    text += "</defs><use href=\"#u6\"/></svg>";
    const io::ReadError e = ReadFailure(text, Format::Svg);
    EXPECT_NE(std::string(e.what()).find("deep through <use>"), std::string::npos) << e.what();
}

TEST(SvgPage, AStretchedViewBoxIsMeasuredAsOnPaper) {
    // 100 x 100 units on 200 mm x 100 mm: a unit is 2 mm across and 1 mm down.
    const Document doc = ReadText(
        R"SVG(<svg xmlns="http://www.w3.org/2000/svg" width="200mm" height="100mm"
        viewBox="0 0 100 100" preserveAspectRatio="none"><line x1="0" y1="0" x2="0" y2="40"/>
        <line x1="0" y1="0" x2="20" y2="0"/></svg>)SVG",
        Format::Svg);
    ASSERT_EQ(doc.objects.size(), 2u);
    // Both 40 mm long, so in the x units the modifier sees, both 20.
    EXPECT_DOUBLE_EQ(doc.objects[0].segments[0][1].y, 20);
    EXPECT_DOUBLE_EQ(doc.objects[1].segments[0][1].x, 20);
}

// The viewBox fills the page by the smaller scale (meet) or the larger (slice): a unit is 1 mm
// and 2 mm here, so a 40-unit line holds 20 and 40 periods of 2 mm.
TEST(SvgPage, PeriodsAreMeasuredInTheFittedViewBox) {
    io::ReadOptions options;
    options.period = 2 * 96 / 25.4;
    for (const auto& [fit, count] : {std::pair<const char*, int64_t>{"0 0 50 100", 20},
                                     {"0 0 100 50\" preserveAspectRatio=\"xMinYMin slice", 40}}) {
        const Document doc = ReadText(std::string(R"(<svg xmlns="http://www.w3.org/2000/svg" )") +
                                          R"(width="100mm" height="100mm" viewBox=")" + fit +
                                          R"("><line x2="40" stroke="red"/></svg>)",
                                      Format::Svg, options);
        ASSERT_EQ(doc.objects.size(), 1u);
        EXPECT_EQ(doc.objects[0].dashCount.value_or(0), count) << fit;
    }
}

TEST(SvgWriteBack, AReadDocumentIsWrittenBackOnce) {
    const Document doc = ReadSvgBody(R"SVG(<line x2="5" stroke="red"/>)SVG");
    io::WriteOptions options;
    options.original = &doc;
    WriteText(doc, Format::Svg, options);
    EXPECT_THROW(WriteText(doc, Format::Svg, options), std::logic_error);
}

// Written in UTF-8, declared as such where the input declared its own encoding, UTF-16 too.
TEST(SvgWriteBack, AUtf16DocumentIsWrittenAsDeclaredUtf8) {
    std::string text = "\xFF\xFE";
    for (const char c : R"(<?xml version="1.0" encoding="UTF-16"?>
<svg xmlns="http://www.w3.org/2000/svg"><line x2="5" stroke="red"/></svg>)")
        text += std::string{c, '\0'};
    const Document doc = ReadText(text, Format::Svg);
    io::WriteOptions options;
    options.original = &doc;
    EXPECT_EQ(WriteText(doc, Format::Svg, options)
                  .rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg", 0),
              0u);
}

TEST(SvgWriteBack, DashesAreNotDashedAgainByASheetOrAnAncestor) {
    const Document doc = ReadSvgBody(R"SVG(<style>.d { stroke-dasharray: 3 1 }</style>
    <path id="own" stroke="black" fill="none" stroke-dasharray="4" style="stroke-dashoffset:1" d="M0 0 L10 0"/>
    <path id="sheet" class="d" stroke="black" fill="none" d="M0 0 L10 0"/>
    <g stroke-dasharray="2"><line id="ancestor" x2="5" stroke="red"/></g>
    <g stroke-dasharray="2"><line id="both" x2="5" stroke="red" stroke-dasharray="5"/></g>
    <path id="initial" class="d" stroke="black" style="stroke-dasharray:initial" d="M0 0 L9 0"/>)SVG",
                                     Stroked());
    const std::string svg = WrittenBack(doc);
    // In place (a line has no fill to keep), the own declarations gone.
    EXPECT_EQ(svg.find("-dashes"), std::string::npos) << svg;
    EXPECT_NE(svg.find(R"(<path id="own" stroke="black" fill="none" d="M0 0 L)"), std::string::npos)
        << svg;
    EXPECT_NE(svg.find(R"(<path id="sheet" class="d" stroke="black" fill="none" d="M0 0 L)"),
              std::string::npos)
        << svg;
    EXPECT_NE(svg.find(R"(<path id="ancestor" stroke="red" d="M0 0 L)"), std::string::npos) << svg;
    // The sheet's and the ancestor's, also under a shape's own, but not the shape's own alone.
    EXPECT_EQ(Occurrences(svg, "stroke-dasharray:none"), 4u) << svg;
}

// A shape written as a path, or its dashes beside its kept fill, may match none of the rules
// that gave it its stroke (and how it is drawn: caps, a hairline, opacity), and rules it did
// not match: they declare it, and no dash array. What its own style overrides is not carried.
TEST(SvgWriteBack, DashesKeepTheStrokeTheSheetGaveThem) {
    const Document doc = ReadSvgBody(R"SVG(<style>rect { stroke: red; stroke-width: 2;
    stroke-linecap: round; vector-effect: non-scaling-stroke; opacity: 0.5; r: 9;
    animation: a 1s; all: initial; visibility: visible }
    #disc { stroke: blue } #ring { stroke: currentColor; color: teal }
    path { stroke-dasharray: 1 }</style>
    <rect width="10" height="5" fill="none" style="opacity: 1"/><circle id="disc" r="5" fill="gray"/>
    <circle id="ring" r="4" fill="gray"/><path stroke="green" d="M0 0 L9 0"/>
    <defs><circle id="used" r="3" stroke-dasharray="2"/></defs><use href="#used" stroke="red"/>
    <use href="#used" stroke="blue"/><g id="row"><use href="#used"/></g><use href="#row"/>)SVG",
                                     Stroked());
    const std::string svg = WrittenBack(doc);
    // Nor does a rule for paths dash them again.
    EXPECT_NE(svg.find("stroke:red;stroke-width:2;stroke-opacity:1;stroke-linecap:round;"
                       "vector-effect:non-scaling-stroke;visibility:visible;"
                       "stroke-dasharray:none"),
              std::string::npos)
        << svg;
    EXPECT_NE(svg.find("stroke:blue;stroke-width:1;stroke-opacity:1;stroke-dasharray:none"),
              std::string::npos)
        << svg;
    EXPECT_NE(svg.find("stroke:currentColor;stroke-width:1;stroke-opacity:1;color:teal"),
              std::string::npos)
        << svg;
    EXPECT_EQ(svg.find("stroke:green"), std::string::npos) << svg;  // a path stays as it was
    // Drawn by <use>s of strokes of their own, the dashes take each one's; a <use> met through
    // two instances of its group has one twin.
    EXPECT_EQ(Occurrences(svg, "href=\"#used-dashes\""), 3u) << svg;
    const std::size_t used = svg.find("id=\"used-dashes\"");
    ASSERT_NE(used, std::string::npos) << svg;
    EXPECT_EQ(svg.substr(used, svg.find('>', used) - used).find("stroke:"), std::string::npos)
        << svg;
}

// Dashes beside a kept original are painted where its stroke would be: under its fill with
// paint-order stroke first (a <use>'s twin too), under its markers unless they come first.
TEST(SvgWriteBack, DashesBesideTheOriginalKeepItsPaintOrder) {
    const Document doc =
        ReadSvgBody(R"SVG(<defs><marker id="m"><path d="M0 0 L1 1"/></marker></defs>
    <rect id="under" width="9" height="9" stroke="blue" paint-order="stroke"/><use id="u" href="#under"/>
    <rect id="over" width="9" height="9" stroke="blue" style="paint-order: normal"/>
    <path id="marked" d="M0 0 L9 0" stroke="red" marker-end="url(#m)"/>
    <g paint-order="markers fill"><path id="markfirst" d="M0 0 L9 0" stroke="red" marker-end="url(#m)"/></g>)SVG",
                    Stroked());
    const std::string svg = WrittenBack(doc);
    const auto before = [&](const char* a, const char* b) {
        const std::size_t first = svg.find(std::string("id=\"") + a + '"');
        const std::size_t second = svg.find(std::string("id=\"") + b + '"');
        return first != std::string::npos && second != std::string::npos && first < second;
    };
    EXPECT_TRUE(before("under-dashes", "under")) << svg;
    EXPECT_TRUE(before("u-dashes", "u")) << svg;
    EXPECT_TRUE(before("over", "over-dashes")) << svg;
    EXPECT_TRUE(before("marked-dashes", "marked")) << svg;
    EXPECT_TRUE(before("markfirst", "markfirst-dashes")) << svg;
}

// A <switch> draws one child: a kept original and its dashes go into one group there. A shape
// kept for a clip path stays where it is when a sheet's rule matches it by its parent, and keeps
// the fill a <use> gives it.
TEST(SvgWriteBack, KeptOriginalsStayDrawnWhereTheyStand) {
    const Document doc = ReadSvgBody(R"SVG(<style>#g > path { clip-rule: evenodd }</style>
    <switch><rect id="s" width="9" height="9" fill="red" stroke="blue"/><text>no</text></switch>
    <clipPath id="c"><use href="#p"/></clipPath><use href="#p" fill="yellow"/>
    <g id="g" fill="none"><path id="p" d="M0 0 H9 V9 Z" stroke="blue"/></g>)SVG",
                                     Stroked());
    const std::string svg = WrittenBack(doc);
    EXPECT_NE(svg.find(R"(<switch><g><rect id="s")"), std::string::npos) << svg;
    EXPECT_NE(svg.find(R"(<g id="g" fill="none"><path id="p")"), std::string::npos) << svg;
    EXPECT_NE(svg.find(R"(<use href="#p" fill="yellow"/><use href="#p-dashes")"), std::string::npos)
        << svg;
}

// The preview draws each original as it is drawn where it stands, however it gets its style,
// also a shape drawn only through <use>, where its instance draws it.
TEST(SvgWriteBack, PreviewCopiesDrawAsTheOriginals) {
    io::ReadOptions read = Stroked();
    read.preview = true;
    Document doc = ReadSvgBody(R"SVG(<style>#layer ellipse { stroke-width: 3 }</style>
    <g id="layer" style="stroke:blue;fill:none"><ellipse id="e" rx="5" ry="3"/></g>
    <defs><symbol id="s" viewBox="0 0 10 10"><circle id="c" cx="5" cy="5" r="4" stroke="red"/>
    </symbol><rect id="r" width="5" height="5" stroke="red" style="stroke-linejoin:bevel"/></defs>
    <use href="#s" x="20" width="40" height="40"/><use href="#r" x="-7" y="9"/>)SVG",
                               read);
    const std::string svg = WrittenBack(doc, true);
    const std::size_t layer = svg.find("korrand-preview");
    ASSERT_NE(layer, std::string::npos) << svg;
    EXPECT_NE(svg.find("<ellipse", layer), std::string::npos) << svg;
    EXPECT_NE(
        svg.find("fill:none;fill-opacity:1;stroke:blue;stroke-opacity:1;stroke-width:3;", layer),
        std::string::npos)
        << svg;
    EXPECT_NE(svg.find("<circle", layer), std::string::npos) << svg;
    EXPECT_NE(svg.find("transform=\"matrix(4 0 0 4 20 0)\"", layer), std::string::npos) << svg;
    EXPECT_NE(svg.find("transform=\"matrix(1 0 0 1 -7 9)\"", layer), std::string::npos) << svg;
    EXPECT_NE(svg.find("stroke-linejoin:bevel;fill:", layer), std::string::npos) << svg;
}

// A page background in the figure's own group (matplotlib, graphviz), or a scan traced over,
// hid a layer put before the group: there it goes on top and multiplies; with nothing painted
// before, it stays beneath.
TEST(SvgWriteBack, PreviewIsNotHiddenByABackground) {
    io::ReadOptions read = Stroked();
    read.preview = true;
    const auto written = [&](const char* background) {
        Document doc = ReadSvgBody(std::string("<g id=\"figure\">") + background +
                                       "<path id=\"p\" d=\"M0 5 H9\" stroke=\"red\"/></g>",
                                   read);
        return WrittenBack(doc, true);
    };
    for (const char* background : {"<rect width=\"10\" height=\"10\" fill=\"white\"/>",
                                   "<image width=\"10\" height=\"10\" href=\"scan.png\"/>"}) {
        const std::string covered = written(background);
        const std::size_t layer = covered.find("<g id=\"korrand-preview\"");
        ASSERT_NE(layer, std::string::npos) << covered;
        EXPECT_GT(layer, covered.find("id=\"figure\"")) << covered;
        EXPECT_NE(covered.find("mix-blend-mode:multiply", layer), std::string::npos) << covered;
    }
    const std::string clear = written("<defs><rect id=\"d\" width=\"1\" height=\"1\"/></defs>");
    EXPECT_LT(clear.find("korrand-preview"), clear.find("id=\"figure\"")) << clear;
    EXPECT_EQ(clear.find("mix-blend-mode"), std::string::npos) << clear;
    // A shape drawn through <use> is drawn where the <use> stands, which may come after anything.
    Document used = ReadSvgBody(
        "<defs><path id=\"s\" d=\"M0 5 H9\" stroke=\"red\"/></defs>"
        "<rect width=\"10\" height=\"10\" fill=\"white\"/><use href=\"#s\"/>",
        read);
    EXPECT_NE(WrittenBack(used, true).find("mix-blend-mode:multiply"), std::string::npos);
}

}  // namespace svg_selection

// --- Dash sampling ------------------------------------------------------------------------------

TEST(DashSampling, CornersNeedDenserSamplesThanStraightRuns) {
    const std::vector<io::Point> square = {{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}};
    // A chord s long centred on a right angle passes s * sqrt(2) / 4 from its corner.
    EXPECT_NEAR(io::ChordDeviation(square, true, 2), std::sqrt(2) / 2, 1e-12);
    EXPECT_NEAR(io::ChordDeviation(square, false, 2), std::sqrt(2) / 2, 1e-12);
    // Open, the edge back to the start is not there: its two corners are ends, not corners.
    const std::vector<io::Point> bend = {{0, 0, 0}, {10, 0, 0}};
    EXPECT_EQ(io::ChordDeviation(bend, false, 3), 0);
    EXPECT_EQ(io::SubdivisionFor(bend, false, 2.5, 0.01, 1, 98), 1);
    // 2.5 long dashes within 0.01 of the corners: 2.5 / N * 0.3536 <= 0.01, N = 89.
    EXPECT_EQ(io::SubdivisionFor(square, true, 2.5, 0.01, 1, 98), 89);
    EXPECT_EQ(io::SubdivisionFor(square, true, 2.5, 0.0001, 1, 98), 98);  // as far as allowed
    // Drawn with thousands of points a side, as CAD exports draw lines: the same square, its
    // straight runs measured within 15/20 of the tolerance (89 / 0.925 rounds up to 97).
    std::vector<io::Point> dense;
    for (std::size_t side = 0; side < square.size(); ++side)
        for (int k = 0; k < 5000; ++k) {
            const io::Point& a = square[side];
            const io::Point& b = square[(side + 1) % square.size()];
            dense.push_back({a.x + (b.x - a.x) * k / 5000, a.y + (b.y - a.y) * k / 5000, 0});
        }
    const int64_t dense89 = io::SubdivisionFor(dense, true, 2.5, 0.01, 1, 98);
    EXPECT_GE(dense89, 89);
    EXPECT_LE(dense89, 97);
    // A needle out and back before thousands of points: its tip is not dropped.
    std::vector<io::Point> needle = {{0, 0, 0}, {10, 0, 0}};
    for (int k = 0; k <= 5000; ++k) needle.push_back({0, -k * 0.01, 0});
    EXPECT_EQ(io::SubdivisionFor(needle, false, 4, 0.01, 1, 98), 98);
    // A fine circle: the bends, not the flattening's own corners, decide.
    std::vector<io::Point> circle;
    for (int i = 0; i < 2000; ++i)
        circle.push_back({10 * std::cos(i * M_PI / 1000), 10 * std::sin(i * M_PI / 1000), 0});
    const int64_t n = io::SubdivisionFor(circle, true, 1.0, 0.001, 1, 98);
    // A chord of length s on a circle of radius 10 is s^2 / 80 off it.
    const double s = 1.0 / static_cast<double>(n);
    EXPECT_LE(s * s / 80, 0.001 * 1.01);
    EXPECT_GT(4 * s * s / 80, 0.001);  // and not much denser than needed
}

// The search answers from each corner's slope where it holds: its subdivisions are those the
// exact deviations give, on polygons of every shape and scale (sharp, reflex, nearly straight,
// tiny edges, far from the origin), open and closed.
TEST(DashSampling, SubdivisionsAreThoseOfTheExactDeviations) {
    const auto exactSearch = [](const std::vector<io::Point>& segment, bool closed, double dash,
                                double tolerance, int64_t lowest, int64_t highest) {
        return io::SearchSubdivision(lowest, highest, [&](int64_t n) {
            return io::ChordDeviation(segment, closed, dash / static_cast<double>(n)) <= tolerance;
        });
    };
    std::mt19937 random(11);
    std::uniform_real_distribution<double> unit(0, 1);
    int differ = 0, cases = 0;
    for (const double offset : {0.0, 1e4}) {
        for (int k = 0; k < 3000; ++k, ++cases) {
            const int vertices = 3 + static_cast<int>(unit(random) * 14);
            const double radius = std::pow(10, unit(random) * 4 - 2);
            std::vector<io::Point> polygon;
            for (int i = 0; i < vertices; ++i) {
                const double a = 2 * M_PI * (i + 0.8 * unit(random)) / vertices;
                const double r = radius * (k % 3 == 0 ? 0.2 + unit(random) : 1);
                polygon.push_back({offset + r * std::cos(a), offset + r * std::sin(a), 0});
                if (k % 7 == 0)  // a tiny edge
                    polygon.push_back({polygon.back().x + radius * 1e-7, polygon.back().y, 0});
            }
            const bool closed = k % 2 == 0;
            const double dash = radius * std::pow(10, unit(random) * 2 - 1);
            const double tolerance = radius * std::pow(10, -1 - unit(random) * 3);
            differ += io::SubdivisionFor(polygon, closed, dash, tolerance, 1, 98) !=
                      exactSearch(polygon, closed, dash, tolerance, 1, 98);
        }
    }
    EXPECT_EQ(differ, 0) << "of " << cases;
}

// --- Writing the parsed SVG document -------------------------------------------------------------

// korrand's own printer against libxml2's (xmlSaveDoc), on documents with what each prints its own
// way, large enough to be printed in pieces on several threads, with the path data of some
// elements made while printing.
TEST(SvgSave, PrintsWhatLibxml2Prints) {
    const std::string body =
        "<!-- c --><?pi  data ?><?empty?>\n"
        "<style><![CDATA[a > b]]]]><![CDATA[>]]><![CDATA[]]></style>\n"
        "<text "
        "x:a=\"tab&#9;nl&#10;cr&#13;q&quot;'lt&lt;gt>amp&amp;&name;\xC3\xA9\xF0\x9F\x99\x82\">"
        "caf\xC3\xA9 &lt;&gt;&amp;&#13;\t&name;&mark;</text>\n"
        "<path d=\"M 9 9\" style=\"a:b\"/><path x:d=\"1\" d=\"2\"></path><g/><x:y "
        "xmlns:x='u\"v'/>\n";
    const std::string doctype =
        "<!DOCTYPE svg [<!ENTITY name \"n&#233;\"><!ENTITY mark \"<g id='m'/>\">"
        "<!ATTLIST path q CDATA \"a&quot;b\">]>\n";
    const auto document = [&](const std::string& head, int groups) {
        std::string text = head +
                           "<!-- top -->\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
                           "xmlns:x=\"urn:x\" xml:space=\"default\">";
        for (int g = 0; g < groups; ++g) text += "<g>" + body + (g % 50 == 0 ? "" : body) + "</g>";
        return text + "</svg><?after?>\n";
    };
    const std::vector<std::string> texts = {
        document("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>" + doctype, 3),
        document("<?xml version='1.1' encoding='ISO-8859-1'?>\n" + doctype, 2000),
        document(doctype, 1500),  // no declaration: none is written
        "<svg xmlns='http://www.w3.org/2000/svg'/>"};
    for (const std::string& text : texts) {
        const auto parse = [&] {
            return xmlReadMemory(text.data(), static_cast<int>(text.size()), "t.svg", nullptr,
                                 XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
        };
        xmlDoc* ours = parse();
        xmlDoc* theirs = parse();
        ASSERT_NE(ours, nullptr);
        const bool declared = text.rfind("<?xml", 0) == 0;
        // Every other <path>'s path data comes from the caller: "M n" for the n-th.
        auto paths = std::make_unique<io::detail::NewPathDataOf>();
        std::size_t n = 0;
        const auto isPath = [](const xmlNode* c) {
            return c->type == XML_ELEMENT_NODE &&
                   std::strcmp(reinterpret_cast<const char*>(c->name), "path") == 0;
        };
        for (xmlNode *g = xmlDocGetRootElement(ours)->children,
                     *h = xmlDocGetRootElement(theirs)->children;
             g != nullptr; g = g->next, h = h->next)
            for (xmlNode *c = g->children, *d = h->children; c != nullptr; c = c->next, d = d->next)
                if (isPath(c) && ++n % 2 == 0) {
                    paths->Mark(c, {n, 10000});
                    const std::string data = "M " + std::to_string(n);
                    xmlSetProp(d, BAD_CAST "d", BAD_CAST data.c_str());
                }
        std::ostringstream mine, libxml2;
        ASSERT_TRUE(io::detail::SaveDocument(mine, ours, declared, *paths,
                                             [](std::size_t shape, unsigned, std::string& out) {
                                                 out += "M " + std::to_string(shape);
                                             }));
        io::detail::LibxmlSave(libxml2, theirs, declared);
        EXPECT_EQ(mine.str(), libxml2.str()) << text.substr(0, 200);
        EXPECT_EQ(n > 0, text.size() > 100);
        paths.reset();  // its marks are on the document's elements
        xmlFreeDoc(ours);
        xmlFreeDoc(theirs);
    }
}
