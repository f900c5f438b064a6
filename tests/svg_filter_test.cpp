// `korrand dash` as an SVG-in, SVG-out filter, run as a user runs it on a drawing built like an
// editor's: layers (one hidden), text, a filled and stroked shape, a style sheet, <use> of a
// <symbol>, a clip path, an open arrow, a dash array, a non-uniformly scaled ellipse.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <sys/wait.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kExe = KORRAND_EXE;

const char kDrawing[] = R"SVG(<?xml version="1.0" encoding="UTF-8"?>
<!-- Drawn in an editor -->
<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink"
     xmlns:inkscape="http://www.inkscape.org/namespaces/inkscape"
     xmlns:sodipodi="http://sodipodi.sourceforge.net/DTD/sodipodi-0.dtd"
     width="200mm" height="100mm" viewBox="0 0 200 100">
  <sodipodi:namedview id="view" pagecolor="#ffffff" inkscape:zoom="1.5"/>
  <metadata id="meta"><title>plan</title></metadata>
  <style>.outline { stroke: #123456; stroke-width: 0.8 } g.cut path { stroke: red }</style>
  <defs id="defs">
    <clipPath id="clip"><rect id="clip-rect" x="0" y="0" width="100" height="100" stroke="black"/></clipPath>
    <symbol id="pin"><circle id="pin-circle" cx="5" cy="5" r="4"/></symbol>
    <rect id="tag" width="6" height="3" fill="yellow" stroke="black"/>
    <linearGradient id="grad"><stop offset="0" stop-color="#fff"/></linearGradient>
    <marker id="head" markerWidth="4" markerHeight="4"><path id="head-path" d="M0 0 L4 2 L0 4 Z" stroke="black"/></marker>
  </defs>
  <g inkscape:groupmode="layer" inkscape:label="Drawing" id="layer-drawing">
    <text id="title" x="10" y="10" font-size="5">Plan &amp; cut</text>
    <rect id="box" class="outline" x="20" y="20" width="40" height="30" fill="url(#grad)" clip-path="url(#clip)"/>
    <path id="arrow" d="M 70 80 L 120 80 L 120 40" stroke="black" fill="none" marker-end="url(#head)"/>
    <circle id="ring" cx="150" cy="30" r="15" stroke="blue" fill="none" style="stroke-width:1"/>
    <g transform="translate(100 0) scale(3 1)"><ellipse id="oval" cx="10" cy="60" rx="5" ry="10" stroke="green" fill="none"/></g>
    <use id="pin-use" xlink:href="#pin" x="170" y="70" stroke="purple" fill="none"/>
    <circle id="dot" cx="90" cy="20" r="3" fill="black"/>
    <use id="tag-use" href="#tag" x="30" y="60"/>
    <image id="photo" x="0" y="0" width="5" height="5" xlink:href="data:image/png;base64,AAAA"/>
  </g>
  <g inkscape:groupmode="layer" inkscape:label="Cuts" id="layer-cuts" class="cut">
    <path id="score" d="M 10 95 L 190 95" stroke-dasharray="4 2" fill="none"/>
    <path id="edge" d="M 10 90 L 190 90" fill="none"/>
  </g>
  <g inkscape:groupmode="layer" inkscape:label="Notes" id="layer-notes" style="display:none">
    <path id="note" d="M 0 0 L 50 50" stroke="black"/>
  </g>
</svg>
)SVG";

struct Outcome {
    int code = -1;
    std::string err;
};

using Doc = std::unique_ptr<xmlDoc, void (*)(xmlDoc*)>;
using Polyline = std::vector<std::pair<double, double>>;

std::string Attr(const xmlNode* n, const char* name) {
    xmlChar* v = xmlGetProp(n, reinterpret_cast<const xmlChar*>(name));
    if (v == nullptr) return "<none>";
    std::string s = reinterpret_cast<const char*>(v);
    xmlFree(v);
    return s;
}

xmlNode* ById(xmlNode* node, const std::string& id) {
    for (; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) continue;
        if (Attr(node, "id") == id) return node;
        if (xmlNode* found = ById(node->children, id)) return found;
    }
    return nullptr;
}

// The tree as text: names, attributes in order, text, comments; the shapes named in `dashed`
// stand as a placeholder, and what the filter adds (ids ending in "-dashes", the preview
// layer) is left out.
void Canon(const xmlNode* node, const std::set<std::string>& dashed, std::string& out) {
    for (; node != nullptr; node = node->next) {
        if (node->type == XML_TEXT_NODE || node->type == XML_COMMENT_NODE) {
            out += std::to_string(node->type) + ":" + reinterpret_cast<const char*>(node->content);
            continue;
        }
        if (node->type != XML_ELEMENT_NODE) continue;
        const std::string id = Attr(node, "id");
        if (dashed.count(id) != 0) {
            out += "[dashed " + id + "]";
            continue;
        }
        if (id == "korrand-preview" ||
            (id.size() > 7 && id.compare(id.size() - 7, 7, "-dashes") == 0))
            continue;
        out += "<";
        if (node->ns != nullptr && node->ns->prefix != nullptr)
            out += std::string(reinterpret_cast<const char*>(node->ns->prefix)) + ":";
        out += reinterpret_cast<const char*>(node->name);
        for (const xmlNs* ns = node->nsDef; ns != nullptr; ns = ns->next)
            out += std::string(" ns=") + reinterpret_cast<const char*>(ns->href);
        for (const xmlAttr* a = node->properties; a != nullptr; a = a->next)
            out += std::string(" ") + reinterpret_cast<const char*>(a->name) + "=" +
                   Attr(node, reinterpret_cast<const char*>(a->name));
        out += ">";
        Canon(node->children, dashed, out);
        out += "</>";
    }
}

// Path data as korrand writes it: "M x y L x y x y ... M ...".
std::vector<Polyline> Subpaths(const std::string& d) {
    std::vector<Polyline> out;
    std::istringstream in(d);
    std::string token;
    while (in >> token) {
        if (token == "M") {
            out.emplace_back();
            continue;
        }
        if (token == "L") continue;
        if (token[0] == 'M') {
            out.emplace_back();
            token = token.substr(1);
        } else if (token[0] == 'L') {
            token = token.substr(1);
        }
        double y = 0;
        in >> y;
        if (out.empty()) out.emplace_back();
        out.back().push_back({std::stod(token), y});
    }
    return out;
}

double DistanceToSegment(std::pair<double, double> p, std::pair<double, double> a,
                         std::pair<double, double> b) {
    const double dx = b.first - a.first, dy = b.second - a.second;
    double t = ((p.first - a.first) * dx + (p.second - a.second) * dy) / (dx * dx + dy * dy);
    t = std::max(0.0, std::min(1.0, t));
    return std::hypot(p.first - (a.first + t * dx), p.second - (a.second + t * dy));
}

// Curves are flattened to 1/10000 of the viewBox's diagonal by default, and coordinates are
// written to a tenth of that.
const double kTolerance = 1.1e-4 * std::hypot(200, 100);

class SvgFilterTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int n = 0;
        dir_ = fs::temp_directory_path() /
               ("korrand-svg-" + std::to_string(::getpid()) + "-" + std::to_string(++n));
        fs::create_directories(dir_);
        std::ofstream(dir_ / "in.svg", std::ios::binary) << kDrawing;
    }
    void TearDown() override { fs::remove_all(dir_); }

    Outcome Korrand(const std::string& args, const std::string& output = "out.svg",
                    const std::string& env = "") const {
        const std::string cmd = env + " '" + kExe + "' dash '" + (dir_ / "in.svg").string() +
                                "' -o '" + (dir_ / output).string() + "' " + args + " 2>'" +
                                (dir_ / "err").string() + "'";
        const int status = std::system(cmd.c_str());
        Outcome o;
        o.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::ifstream err(dir_ / "err");
        std::getline(err, o.err, '\0');
        return o;
    }
    Doc Load(const std::string& name) const {
        return Doc(xmlReadFile((dir_ / name).string().c_str(), nullptr, XML_PARSE_NONET),
                   xmlFreeDoc);
    }
    Doc Input() const {
        return Doc(xmlReadMemory(kDrawing, sizeof kDrawing - 1, nullptr, nullptr, XML_PARSE_NONET),
                   xmlFreeDoc);
    }
    // Runs, then checks that everything but `dashed` came through unchanged.
    Doc RunAndCompare(const std::string& args, const std::set<std::string>& dashed) {
        const Outcome o = Korrand(args);
        EXPECT_EQ(o.code, 0) << o.err;
        Doc out = Load("out.svg");
        EXPECT_TRUE(out) << "the output does not parse";
        if (!out) return out;
        std::string want, got;
        Canon(xmlDocGetRootElement(Input().get()), dashed, want);
        Canon(xmlDocGetRootElement(out.get()), dashed, got);
        EXPECT_EQ(want, got) << args;
        // A dashed shape is a path now, unless it keeps its fill beside a sibling of dashes.
        for (const std::string& id : dashed) {
            xmlNode* root = xmlDocGetRootElement(out.get());
            xmlNode* n = ById(root, id);
            EXPECT_TRUE(n != nullptr &&
                        (std::strcmp(reinterpret_cast<const char*>(n->name), "path") == 0 ||
                         ById(root, id + "-dashes") != nullptr))
                << id << " has no dashes in the output";
        }
        return out;
    }

    fs::path dir_;
};

// The dashes of an element: its own path data, or its sibling's when it keeps a fill.
std::vector<Polyline> DashesOf(xmlNode* root, const std::string& id) {
    xmlNode* n = ById(root, id + "-dashes");
    if (n == nullptr) n = ById(root, id);
    return n == nullptr ? std::vector<Polyline>{} : Subpaths(Attr(n, "d"));
}

TEST_F(SvgFilterTest, OnlyTheChosenShapesChangeAndTheirDashesLieOnThem) {
    const std::set<std::string> all = {"box",        "arrow", "ring",  "oval",
                                       "pin-circle", "tag",   "score", "edge"};
    Doc out = RunAndCompare("--count 8 --subdivision 6", all);
    ASSERT_TRUE(out);
    xmlNode* root = xmlDocGetRootElement(out.get());

    // Kept: id, class, style, stroke and the rest of the attributes; gone: the dash array. A
    // circle written as a path declares its stroke: the sheet's rules for paths would take it.
    xmlNode* ring = ById(root, "ring");
    EXPECT_EQ(Attr(ring, "stroke"), "blue");
    EXPECT_EQ(Attr(ring, "style"), "fill:none;stroke:blue;stroke-width:1;stroke-opacity:1");
    EXPECT_EQ(Attr(ring, "cx"), "<none>");
    EXPECT_EQ(Attr(ById(root, "score"), "stroke-dasharray"), "<none>");
    EXPECT_EQ(Attr(ById(root, "arrow"), "marker-end"), "url(#head)");

    // The filled box keeps its fill with the stroke off; the dashes follow in a sibling.
    xmlNode* box = ById(root, "box");
    EXPECT_EQ(Attr(box, "fill"), "url(#grad)");
    EXPECT_EQ(Attr(box, "style"), "stroke:none");
    EXPECT_EQ(Attr(box, "x"), "20");
    xmlNode* boxDashes = ById(root, "box-dashes");
    ASSERT_NE(boxDashes, nullptr);
    EXPECT_EQ(boxDashes->prev != nullptr ? boxDashes->prev : nullptr, box);
    EXPECT_EQ(Attr(boxDashes, "class"), "outline");
    EXPECT_EQ(Attr(boxDashes, "clip-path"), "url(#clip)");
    EXPECT_NE(Attr(boxDashes, "style").find("fill:none"), std::string::npos);

    // A <use> of a filled shape itself gets a twin that draws the shape's dashes.
    xmlNode* twin = ById(root, "tag-use-dashes");
    ASSERT_NE(twin, nullptr);
    EXPECT_EQ(Attr(twin, "href"), "#tag-dashes");
    EXPECT_EQ(Attr(twin, "x"), "30");
    EXPECT_NE(ById(root, "tag-dashes"), nullptr);

    const auto onAll = [&](const std::string& id,
                           const std::function<double(double, double)>& off) {
        const auto dashes = DashesOf(root, id);
        EXPECT_FALSE(dashes.empty()) << id;
        for (const auto& dash : dashes)
            for (const auto& [x, y] : dash)
                EXPECT_LT(off(x, y), kTolerance) << id << " " << x << "," << y;
        return dashes;
    };
    onAll("box", [](double x, double y) {
        return std::min(
            {std::fabs(x - 20), std::fabs(x - 60), std::fabs(y - 20), std::fabs(y - 50)});
    });
    // Open: along the two edges only, never the chord from its end back to its start.
    const auto arrow = onAll("arrow", [](double x, double y) {
        return std::min(DistanceToSegment({x, y}, {70, 80}, {120, 80}),
                        DistanceToSegment({x, y}, {120, 80}, {120, 40}));
    });
    EXPECT_EQ(arrow.front().front(), std::make_pair(70.0, 80.0));
    const auto ring8 = onAll(
        "ring", [](double x, double y) { return std::fabs(std::hypot(x - 150, y - 30) - 15); });
    EXPECT_EQ(ring8.size(), 8u);
    // In the symbol's own user space, once, for every instance.
    onAll("pin-circle", [](double x, double y) { return std::fabs(std::hypot(x - 5, y - 5) - 4); });
    // In its own user space, but equal as drawn on the page, scaled 3 x 1.
    const auto oval = onAll("oval", [](double x, double y) {
        return std::fabs(std::hypot((x - 10) / 5, (y - 60) / 10) - 1);
    });
    double shortest = HUGE_VAL, longest = 0;
    for (const auto& dash : oval) {
        double length = 0;
        for (std::size_t i = 1; i < dash.size(); ++i)
            length += std::hypot(3 * (dash[i].first - dash[i - 1].first),
                                 dash[i].second - dash[i - 1].second);
        shortest = std::min(shortest, length);
        longest = std::max(longest, length);
    }
    EXPECT_LT(longest / shortest, 1.02) << shortest << " .. " << longest;
}

TEST_F(SvgFilterTest, ADashCutAtTheSeamIsOneSubpathInSvgAndTwoPiecesInJson) {
    // 8 dashes shifted by a tenth of the loop: the last one runs across the circle's start.
    Doc out = RunAndCompare("--count 8 --offset 0.1 --subdivision 6",
                            {"box", "arrow", "ring", "oval", "pin-circle", "tag", "score", "edge"});
    ASSERT_TRUE(out);
    const auto ring = DashesOf(xmlDocGetRootElement(out.get()), "ring");
    EXPECT_EQ(ring.size(), 8u);
    bool across = false;
    for (const auto& dash : ring)
        for (std::size_t i = 1; i + 1 < dash.size(); ++i)
            across = across || (dash[i] == std::make_pair(165.0, 30.0));
    EXPECT_TRUE(across) << "no dash passes through the seam";
    // The summary counts the dashes as written: the joined ones once.
    const Outcome o = Korrand("--count 8 --offset 0.1 --subdivision 6");
    std::size_t written = 0;
    for (const char* id : {"box", "arrow", "ring", "oval", "pin-circle", "tag", "score", "edge"})
        written += DashesOf(xmlDocGetRootElement(out.get()), id).size();
    EXPECT_NE(o.err.find("wrote " + std::to_string(written) + " dashes"), std::string::npos)
        << written << ": " << o.err;
    // Measured open by request, the loop keeps its closing edge and the seam dash still joins.
    Doc open =
        RunAndCompare("--count 8 --offset 0.1 --subdivision 6 --open",
                      {"box", "arrow", "ring", "oval", "pin-circle", "tag", "score", "edge"});
    ASSERT_TRUE(open);
    EXPECT_EQ(DashesOf(xmlDocGetRootElement(open.get()), "ring").size(), 8u);

    ASSERT_EQ(Korrand("--count 8 --offset 0.1 --subdivision 6", "out.json").code, 0);
    std::ifstream json(dir_ / "out.json");
    const nlohmann::json dashes = nlohmann::json::parse(json);
    std::size_t pieces = 0;
    for (const auto& object : dashes["objects"])
        if (object["name"] == "ring") pieces = object["segments"].size();
    EXPECT_EQ(pieces, 9u);
}

TEST_F(SvgFilterTest, SelectLayerAndPeriodChooseAndSize) {
    // A fill-only dot joins with --select all; its outline gets its fill's colour.
    {
        Doc out = RunAndCompare(
            "--count 4 --select all",
            {"box", "arrow", "ring", "oval", "pin-circle", "tag", "dot", "score", "edge"});
        ASSERT_TRUE(out);
        xmlNode* root = xmlDocGetRootElement(out.get());
        EXPECT_EQ(Attr(ById(root, "dot"), "fill"), "black");
        EXPECT_NE(Attr(ById(root, "dot-dashes"), "style").find("stroke:black"), std::string::npos);
    }
    // What the drawing shows dashed becomes real cuts; the solid cut stays solid.
    RunAndCompare("--count 4 --select dasharray", {"score"});
    // Only the Cuts layer, one dash per 10 mm (the page is 200 mm over 200 units).
    {
        Doc out = RunAndCompare("--layer Cuts --period 1cm", {"score", "edge"});
        ASSERT_TRUE(out);
        EXPECT_EQ(DashesOf(xmlDocGetRootElement(out.get()), "edge").size(), 18u);
    }
    {
        Doc out = RunAndCompare("--select dasharray --period dasharray", {"score"});
        ASSERT_TRUE(out);
        EXPECT_EQ(DashesOf(xmlDocGetRootElement(out.get()), "score").size(), 30u);  // 180 / 6
    }
    // A top-level group's id names a layer as well.
    RunAndCompare("--layer layer-cuts --select dasharray", {"score"});
    // Each shape's own dash array, else a period: the default's rule, with a length of one's own.
    {
        Doc out = RunAndCompare("--layer Cuts --period dasharray,1cm", {"score", "edge"});
        ASSERT_TRUE(out);
        EXPECT_EQ(DashesOf(xmlDocGetRootElement(out.get()), "score").size(), 30u);
        EXPECT_EQ(DashesOf(xmlDocGetRootElement(out.get()), "edge").size(), 18u);
    }
    ASSERT_EQ(Korrand("--period dasharray", "own.svg").code, 0);
    ASSERT_EQ(Korrand("", "default.svg").code, 0);
    const auto text = [&](const char* name) {
        std::ifstream f(dir_ / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    };
    EXPECT_EQ(text("own.svg"), text("default.svg"));
    EXPECT_EQ(Korrand("--period 5mm --count 3").code, 2);
    for (const char* bad : {"5furlongs", "dasharray,", "dasharrays", "dasharray,dasharray"})
        EXPECT_EQ(Korrand(std::string("--period ") + bad).code, 2) << bad;
    // More dashes on one subpath than the count option allows: a count the period derives is
    // the drawing's, handed over as a stored value is, so nothing is refused.
    Doc fine = RunAndCompare("--layer Cuts --period 0.01mm", {"score", "edge"});
    ASSERT_TRUE(fine);
    EXPECT_GT(DashesOf(xmlDocGetRootElement(fine.get()), "edge").size(), 10000u);
}

TEST_F(SvgFilterTest, SummaryAndPreview) {
    const Outcome o = Korrand("--count 4 --preview");
    ASSERT_EQ(o.code, 0) << o.err;
    // The shapes add up: 8 + 1 + 1 + 0; the dashed ones as the line objects handed over.
    EXPECT_NE(o.err.find("read 10 shapes: 8 dashed (as 8 line objects of 8 subpaths), 1 left "
                         "alone by --select stroked, 1 hidden, 0 skipped"),
              std::string::npos)
        << o.err;
    Doc out = Load("out.svg");
    ASSERT_TRUE(out);
    // The layer's title text comes before its first dashed shape, and may hide what is put
    // beneath: the preview goes on top, multiplied, which looks as from beneath.
    xmlNode* first = ById(xmlDocGetRootElement(out.get()), "korrand-preview");
    ASSERT_NE(first, nullptr);
    xmlNode* next = first->next;
    while (next != nullptr && next->type != XML_ELEMENT_NODE) next = next->next;
    EXPECT_EQ(next, nullptr);
    EXPECT_EQ(Attr(first, "style"), "mix-blend-mode:multiply");
    xmlChar* label = xmlGetNsProp(
        first, reinterpret_cast<const xmlChar*>("label"),
        reinterpret_cast<const xmlChar*>("http://www.inkscape.org/namespaces/inkscape"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label[0], '%');
    xmlFree(label);
    int copies = 0;
    for (xmlNode* c = first->children; c != nullptr; c = c->next)
        if (c->type == XML_ELEMENT_NODE) {
            ++copies;
            EXPECT_EQ(Attr(c, "id"), "<none>");
        }
    EXPECT_EQ(copies, 8);  // each dashed shape, those drawn only through <use> too
    EXPECT_NE(
        Korrand("--count 4 --layer Drawing --id ring").err.find("by --select stroked/--layer/--id"),
        std::string::npos);
}

TEST_F(SvgFilterTest, IdsChooseShapesAndGroupsAndNamesThatMatchNothingAreErrors) {
    // A selection: one shape, a layer (its shapes), a <use> (the shape it draws).
    RunAndCompare("--count 4 --id ring --id layer-cuts --id pin-use",
                  {"ring", "score", "edge", "pin-circle"});
    RunAndCompare("--count 4 --id layer-cuts --layer Drawing", {});
    for (const char* args : {"--id nowhere", "--layer Nowhere"}) {
        const Outcome o = Korrand(std::string("--count 4 ") + args);
        EXPECT_EQ(o.code, 2) << args;
        EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    }
    EXPECT_NE(Korrand("--layer Nowhere").err.find("'Drawing', 'Cuts', 'Notes'"), std::string::npos);
    const Outcome hidden = Korrand("--count 4 --layer Notes");
    EXPECT_EQ(hidden.code, 0);
    EXPECT_NE(hidden.err.find("layer 'Notes' is hidden"), std::string::npos) << hidden.err;
}

TEST_F(SvgFilterTest, ADrawingIsDashedByItsOwnDashArraysElseByAPeriod) {
    // No --count, no --period: the score's "4 2" (6 mm a dash and a gap), 2 mm for the rest.
    Doc out =
        RunAndCompare("", {"box", "arrow", "ring", "oval", "pin-circle", "tag", "score", "edge"});
    ASSERT_TRUE(out);
    EXPECT_EQ(DashesOf(xmlDocGetRootElement(out.get()), "score").size(), 30u);  // 180 / 6
    EXPECT_EQ(DashesOf(xmlDocGetRootElement(out.get()), "edge").size(), 90u);   // 180 / 2
    // A count asked for is a count: 4 on each subpath.
    Doc counted = RunAndCompare(
        "--count 4", {"box", "arrow", "ring", "oval", "pin-circle", "tag", "score", "edge"});
    ASSERT_TRUE(counted);
    EXPECT_EQ(DashesOf(xmlDocGetRootElement(counted.get()), "edge").size(), 4u);
}

// The sharp five-pointed star the issue measured: at the plug-in's default subdivision a dash
// across a tip is a chord far inside it; chosen by the tolerance, every dash follows the outline.
TEST_F(SvgFilterTest, DashesFollowCornersWithinTheTolerance) {
    std::vector<std::pair<double, double>> star;
    std::string d;
    for (int i = 0; i < 10; ++i) {
        const double r = i % 2 == 0 ? 50 : 20, a = -M_PI / 2 + i * M_PI / 5;
        star.push_back({105 + r * std::cos(a), 148 + r * std::sin(a)});
        d += (i == 0 ? "M " : " L ") + std::to_string(star.back().first) + " " +
             std::to_string(star.back().second);
    }
    std::ofstream(dir_ / "in.svg", std::ios::binary | std::ios::trunc)
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"210mm\" height=\"297mm\" "
           "viewBox=\"0 0 210 297\"><path id=\"star\" d=\""
        << d << " Z\" fill=\"none\" stroke=\"black\"/></svg>";
    // Arc position along the outline of a point on it.
    std::vector<double> at{0};
    for (std::size_t i = 0; i < star.size(); ++i) {
        const auto& a = star[i];
        const auto& b = star[(i + 1) % star.size()];
        at.push_back(at.back() + std::hypot(b.first - a.first, b.second - a.second));
    }
    const auto arc = [&](std::pair<double, double> p) {
        double best = HUGE_VAL, where = 0;
        for (std::size_t i = 0; i < star.size(); ++i) {
            const auto& a = star[i];
            const auto& b = star[(i + 1) % star.size()];
            const double off = DistanceToSegment(p, a, b);
            if (off < best) {
                best = off;
                where = at[i] + std::hypot(p.first - a.first, p.second - a.second);
            }
        }
        return where;
    };
    // How far the dashes' straight pieces pass from the tips and notches they cut across.
    const auto deviation = [&](const std::string& args, std::string* err) {
        const Outcome o = Korrand(args);
        EXPECT_EQ(o.code, 0) << o.err;
        *err = o.err;
        Doc out = Load("out.svg");
        double worst = 0;
        for (const auto& dash : DashesOf(xmlDocGetRootElement(out.get()), "star"))
            for (std::size_t k = 1; k < dash.size(); ++k) {
                double s0 = arc(dash[k - 1]), s1 = arc(dash[k]);
                if (s1 < s0 - at.back() / 2) s1 += at.back();
                for (std::size_t v = 0; v < star.size(); ++v)
                    for (const double c : {at[v], at[v] + at.back()})
                        if (s0 < c && c < s1)
                            worst =
                                std::max(worst, DistanceToSegment(star[v], dash[k - 1], dash[k]));
            }
        return worst;
    };
    const double tolerance = 1e-4 * std::hypot(210, 297);
    std::string err;
    const double forced = deviation("--period 5mm --subdivision 1", &err);
    EXPECT_GT(forced, 20 * tolerance);
    EXPECT_EQ(err.find("for the tolerance"), std::string::npos) << err;
    const double chosen = deviation("--period 5mm", &err);
    EXPECT_LT(chosen, 1.1 * tolerance) << "forced " << forced;
    EXPECT_NE(err.find("(subdivision "), std::string::npos) << err;
}

// What editors put in a file: a star and a live path effect Inkscape would rebuild from their
// parameters, markers, a style sheet's !important, leftover dash arrays under invisible
// strokes, a <switch>.
const char kEditorDrawing[] = R"SVG(<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" xmlns:inkscape="http://www.inkscape.org/namespaces/inkscape"
     xmlns:sodipodi="http://sodipodi.sourceforge.net/DTD/sodipodi-0.dtd"
     width="100mm" height="100mm" viewBox="0 0 100 100">
  <style>.hot { stroke: red !important; fill: yellow !important }</style>
  <defs>
    <marker id="dot" orient="auto" style="overflow:visible"><circle r="1" style="fill:context-stroke"/></marker>
    <inkscape:path-effect id="effect1" effect="spiro" is_visible="true"/>
  </defs>
  <path id="star" inkscape:label="Star" sodipodi:type="star" sodipodi:sides="3" sodipodi:cx="20" sodipodi:cy="20"
        sodipodi:r1="15" sodipodi:r2="5" sodipodi:arg1="0" sodipodi:arg2="1.05" inkscape:flatsided="false"
        inkscape:rounded="0" inkscape:randomized="0" d="M 35 20 L 22.5 24.3 L 12.5 33 L 15 20 L 12.5 7 L 22.5 15.7 Z"
        style="fill:none;stroke:black;stroke-width:0.5"/>
  <path id="lpe" inkscape:path-effect="#effect1" inkscape:original-d="M 50 10 L 90 10" sodipodi:nodetypes="cc"
        d="M 50 10 C 60 20 80 20 90 10" style="fill:none;stroke:blue"/>
  <path id="arrow" d="M 10 60 L 40 60 L 40 90"
        style="fill:none;stroke:green;marker-start:url(#dot);marker-mid:url(#dot);marker-end:url(#dot)"/>
  <rect id="hot" class="hot" x="60" y="60" width="30" height="30" style="stroke:black;fill:blue"/>
  <rect id="engraving" x="5" y="40" width="5" height="5" style="fill:black;stroke:none;stroke-dasharray:1,1"/>
  <path id="hairline" d="M 0 99 L 100 99" style="fill:none;stroke:black;stroke-width:0;stroke-dasharray:2 1"/>
  <path id="ghost" d="M 0 97 L 100 97" fill="none" stroke="black" stroke-opacity="0" stroke-dasharray="2"/>
  <path id="solid" d="M 0 93 L 100 93" fill="none" stroke="black" stroke-dasharray="0 0"/>
  <path id="cut" d="M 0 95 L 100 95" fill="none" stroke="black" stroke-dasharray="2 1"/>
  <switch>
    <path id="german" systemLanguage="de" d="M 50 40 L 90 40" fill="none" stroke="black"/>
    <path id="fallback" d="M 50 45 L 90 45" fill="none" stroke="black"/>
  </switch>
</svg>
)SVG";

class EditorFileTest : public SvgFilterTest {
protected:
    void SetUp() override {
        SvgFilterTest::SetUp();
        std::ofstream(dir_ / "in.svg", std::ios::binary | std::ios::trunc) << kEditorDrawing;
    }
    std::string Style(const Doc& doc, const std::string& id) const {
        return Attr(ById(xmlDocGetRootElement(doc.get()), id), "style");
    }
};

bool HasNsAttr(const xmlNode* n, const char* name, const char* ns) {
    xmlChar* v = xmlGetNsProp(n, reinterpret_cast<const xmlChar*>(name),
                              reinterpret_cast<const xmlChar*>(ns));
    xmlFree(v);
    return v != nullptr;
}

TEST_F(EditorFileTest, InkscapeFindsNothingToRebuildAndMarkersStayWhereTheyWere) {
    ASSERT_EQ(Korrand("--count 10 --select stroked").code, 0);
    Doc out = Load("out.svg");
    ASSERT_TRUE(out);
    xmlNode* root = xmlDocGetRootElement(out.get());
    const char* sodipodi = "http://sodipodi.sourceforge.net/DTD/sodipodi-0.dtd";
    const char* inkscape = "http://www.inkscape.org/namespaces/inkscape";
    // The star and the effect's output are dashes now, with nothing to rebuild them from; the
    // rest (id, label, style) stays, and so does the effect's definition.
    xmlNode* star = ById(root, "star");
    ASSERT_NE(star, nullptr);
    for (const char* a : {"type", "sides", "cx", "cy", "r1", "r2", "arg1", "arg2"})
        EXPECT_FALSE(HasNsAttr(star, a, sodipodi)) << a;
    for (const char* a : {"flatsided", "rounded", "randomized"})
        EXPECT_FALSE(HasNsAttr(star, a, inkscape)) << a;
    EXPECT_TRUE(HasNsAttr(star, "label", inkscape));
    EXPECT_EQ(Subpaths(Attr(star, "d")).size(), 10u);
    xmlNode* lpe = ById(root, "lpe");
    EXPECT_FALSE(HasNsAttr(lpe, "path-effect", inkscape));
    EXPECT_FALSE(HasNsAttr(lpe, "original-d", inkscape));
    EXPECT_FALSE(HasNsAttr(lpe, "nodetypes", sodipodi));
    // The effect's output (the curve through y = 17.5), not its original (the line y = 10).
    double lowest = 0;
    for (const auto& dash : Subpaths(Attr(lpe, "d")))
        for (const auto& p : dash) lowest = std::max(lowest, p.second);
    EXPECT_GT(lowest, 17);
    EXPECT_NE(ById(root, "effect1"), nullptr);

    // The original keeps its path and its three markers, its stroke hidden by its opacity (the
    // markers paint with it); the dashes carry no marker.
    xmlNode* arrow = ById(root, "arrow");
    EXPECT_EQ(Attr(arrow, "d"), "M 10 60 L 40 60 L 40 90");
    const std::string kept = Style(out, "arrow");
    for (const char* m : {"marker-start:url(#dot)", "marker-mid:url(#dot)", "marker-end:url(#dot)",
                          "stroke:green", "stroke-opacity:0"})
        EXPECT_NE(kept.find(m), std::string::npos) << m << " in " << kept;
    const std::string dashes = Style(out, "arrow-dashes");
    for (const char* m : {"marker-start:none", "marker-mid:none", "marker-end:none"})
        EXPECT_NE(dashes.find(m), std::string::npos) << m << " in " << dashes;
    EXPECT_EQ(Subpaths(Attr(ById(root, "arrow-dashes"), "d")).size(), 10u);

    // What is set on the kept original and its dashes wins over the sheet's !important.
    EXPECT_NE(Style(out, "hot").find("stroke:none !important"), std::string::npos)
        << Style(out, "hot");
    EXPECT_NE(Style(out, "hot-dashes").find("fill:none !important"), std::string::npos)
        << Style(out, "hot-dashes");
}

TEST_F(EditorFileTest, OnlyVisibleStrokesAreDashedAndOnlyTheSwitchChildDrawn) {
    const auto dashed = [&](const std::string& args, const std::string& env = "LC_ALL=C") {
        EXPECT_EQ(Korrand(args, "out.svg", env).code, 0) << args;
        Doc out = Load("out.svg");
        std::set<std::string> ids;
        for (const char* id : {"star", "lpe", "arrow", "hot", "engraving", "hairline", "ghost",
                               "solid", "cut", "german", "fallback"}) {
            xmlNode* n = ById(xmlDocGetRootElement(out.get()), id);
            if (n != nullptr &&
                (ById(xmlDocGetRootElement(out.get()), std::string(id) + "-dashes") ||
                 Attr(n, "d").find(" M") != std::string::npos))
                ids.insert(id);
        }
        return ids;
    };
    // A filled rectangle under stroke:none, a zero-width or transparent stroke, a dash array a
    // viewer draws solid: nothing to cut.
    EXPECT_EQ(dashed("--count 4 --select dasharray"), std::set<std::string>{"cut"});
    EXPECT_EQ(dashed("--count 4 --select stroked"),
              (std::set<std::string>{"star", "lpe", "arrow", "hot", "solid", "cut", "fallback"}));
    EXPECT_EQ(dashed("--count 4 --select stroked", "LC_ALL=de_AT.UTF-8").count("german"), 1u);
    EXPECT_EQ(dashed("--count 4 --select stroked", "LC_ALL=de_AT.UTF-8").count("fallback"), 0u);
    // --select all still dashes every outline, fill-only ones too.
    EXPECT_EQ(dashed("--count 4 --select all").count("engraving"), 1u);
}

TEST_F(EditorFileTest, ForPlottersADashedShapeIsItsDashesAlone) {
    // Drop fills: the filled box is its dashes, unfilled; the arrow still carries its markers.
    ASSERT_EQ(Korrand("--count 10 --fills drop").code, 0);
    Doc drop = Load("out.svg");
    ASSERT_TRUE(drop);
    xmlNode* root = xmlDocGetRootElement(drop.get());
    EXPECT_EQ(ById(root, "hot-dashes"), nullptr);
    EXPECT_NE(Style(drop, "hot").find("fill:none !important"), std::string::npos);
    EXPECT_EQ(Subpaths(Attr(ById(root, "hot"), "d")).size(), 10u);
    EXPECT_NE(ById(root, "arrow-dashes"), nullptr);
    // A plotter draws every outline: no kept original at all, neither for fills nor markers.
    ASSERT_EQ(Korrand("--count 10 --plotter").code, 0);
    Doc plot = Load("out.svg");
    ASSERT_TRUE(plot);
    root = xmlDocGetRootElement(plot.get());
    for (const char* id : {"hot-dashes", "arrow-dashes", "star-dashes", "lpe-dashes"})
        EXPECT_EQ(ById(root, id), nullptr) << id;
    EXPECT_EQ(Subpaths(Attr(ById(root, "arrow"), "d")).size(), 10u);
    EXPECT_NE(Style(plot, "arrow").find("marker-mid:none"), std::string::npos);
    EXPECT_EQ(Korrand("--plotter --fills keep").code, 2);
}

// Small files as the tools of the field write them, one for each fault plotter users met: a
// graphviz page frame stroked "transparent", xfig's solid "10 0" arrays, percentage arrays, a
// Fritzing part with one tight corner. In the default and the plotter modes every one is
// written, reads again, leaves the unseen stroke alone, and is lean.
const char kGraphviz[] = R"SVG(<?xml version="1.0" encoding="UTF-8" standalone="no"?>
<!DOCTYPE svg PUBLIC "-//W3C//DTD SVG 1.1//EN" "http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd">
<svg width="89pt" height="116pt" viewBox="0.00 0.00 89.00 116.00" xmlns="http://www.w3.org/2000/svg">
<g id="graph0" class="graph" transform="scale(1 1) rotate(0) translate(4 112)">
<polygon id="frame" fill="white" stroke="transparent" points="-4,4 -4,-112 85,-112 85,4 -4,4"/>
<g id="node1" class="node"><ellipse id="a" fill="none" stroke="black" cx="40.5" cy="-90" rx="27" ry="18"/></g>
<g id="node2" class="node"><ellipse id="b" fill="none" stroke="black" stroke-dasharray="5,2" cx="40.5" cy="-18" rx="27" ry="18"/></g>
<g id="edge1" class="edge"><path id="e" fill="none" stroke="black" d="M40.5,-71.7C40.5,-63.98 40.5,-54.71 40.5,-46.11"/>
<polygon id="head" fill="black" stroke="black" points="44,-46.1 40.5,-36.1 37,-46.1 44,-46.1"/></g>
</g></svg>)SVG";
const char kXfig[] = R"SVG(<?xml version="1.0" standalone="no"?>
<svg xmlns="http://www.w3.org/2000/svg" width="100mm" height="50mm" viewBox="0 0 4000 2000">
<g style="stroke-width:8">
<polyline id="solid" points="200,200 3800,200 3800,1800" style="stroke:#000000;stroke-dasharray:60 0;fill:none"/>
<polyline id="solids" points="200,600 3800,600" style="stroke:#000000;stroke-dasharray:60,0,60,0;fill:none"/>
<polyline id="dashed" points="200,1000 3800,1000" style="stroke:#000000;stroke-dasharray:120 60;fill:none"/>
</g></svg>)SVG";
const char kPercent[] =
    R"SVG(<svg xmlns="http://www.w3.org/2000/svg" width="200mm" height="100mm" viewBox="0 0 200 100">
<path id="percent" d="M 10 40 L 190 40" fill="none" stroke="black" stroke-dasharray="5% 5%"/>
<rect id="box" x="20" y="60" width="60" height="30" fill="none" stroke="black" stroke-dasharray="2.5%"/>
</svg>)SVG";
const char kPart[] =
    R"SVG(<svg xmlns="http://www.w3.org/2000/svg" width="0.8in" height="0.5in" viewBox="0 0 800 500">
<g id="breadboard">
<path id="body" fill="#1f7bd1" stroke="#0a3a6a" stroke-width="4" d="M 20 20 L 780 20 L 780 480 L 20 480 Z M 100 100 L 700 100 L 700 400 L 100 400 Z"/>
<path id="tab" fill="none" stroke="#000" stroke-width="3" d="M 380 20 L 400 2 L 420 20 M 150 300 L 650 300 M 150 340 L 640 340 L 650 320"/>
<circle id="hole" cx="400" cy="250" r="40" fill="none" stroke="#222" stroke-width="2"/>
</g></svg>)SVG";

// Points of the path data korrand wrote ("M x y L x y ...") that lie on the straight line between
// their neighbours (within a billionth of the drawing's size), and all its points.
std::pair<std::size_t, std::size_t> StraightPoints(xmlNode* node, double size) {
    std::pair<std::size_t, std::size_t> n{0, 0};
    for (; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) continue;
        const std::string d = Attr(node, "d");
        if (d.find_first_not_of("ML0123456789.-e ") == std::string::npos)
            for (const Polyline& line : Subpaths(d)) {
                n.second += line.size();
                for (std::size_t i = 1; i + 1 < line.size(); ++i)
                    if (DistanceToSegment(line[i], line[i - 1], line[i + 1]) < 1e-9 * size)
                        ++n.first;
            }
        const auto inner = StraightPoints(node->children, size);
        n.first += inner.first;
        n.second += inner.second;
    }
    return n;
}

TEST_F(SvgFilterTest, ProbesOfEachFaultAreWrittenLeanAndReadAgain) {
    struct Probe {
        const char* text;
        double size;  // the viewBox's diagonal
        std::function<void(xmlNode*, const std::string& mode)> check;
    };
    const auto untouched = [](xmlNode* root, const char* id, const char* tag) {
        xmlNode* n = ById(root, id);
        ASSERT_NE(n, nullptr) << id;
        EXPECT_STREQ(reinterpret_cast<const char*>(n->name), tag) << id << " was dashed";
    };
    const auto dashes = [](xmlNode* root, const char* id) { return DashesOf(root, id).size(); };
    const std::vector<Probe> probes = {
        {kGraphviz, std::hypot(89, 116),
         [&](xmlNode* root, const std::string&) {
             untouched(root, "frame", "polygon");  // stroke="transparent"
             EXPECT_EQ(dashes(root, "b"), 20u);    // its own 5,2 around 141.8 units
         }},
        {kXfig, std::hypot(4000, 2000),
         [&](xmlNode* root, const std::string&) {
             // Each mode dashes by the shapes' own arrays: arrays without a gap stay solid.
             untouched(root, "solid", "polyline");
             untouched(root, "solids", "polyline");
             EXPECT_EQ(dashes(root, "dashed"), 20u);  // 3600 / 180
         }},
        {kPercent, std::hypot(200, 100),
         [&](xmlNode* root, const std::string&) {
             // 5% + 5% of 158.1: 15.8 units, 11 dashes along 180.
             EXPECT_EQ(dashes(root, "percent"), 11u);
             EXPECT_GT(dashes(root, "box"), 20u);
         }},
        {kPart, std::hypot(800, 500), [&](xmlNode* root, const std::string& mode) {
             if (mode.find("dasharray") != std::string::npos) return;  // nothing dashed
             // The body's straight dashes are two points each, whatever its tight corners need.
             for (const auto& dash : DashesOf(root, "tab")) EXPECT_LE(dash.size(), 4u);
         }}};
    for (const Probe& probe : probes) {
        for (const std::string mode :
             {"", "--plotter", "--select dasharray --period dasharray --plotter"}) {
            std::ofstream(dir_ / "in.svg", std::ios::binary | std::ios::trunc) << probe.text;
            const Outcome o = Korrand(mode);
            ASSERT_EQ(o.code, 0) << mode << ": " << o.err;
            Doc out = Load("out.svg");
            ASSERT_TRUE(out) << mode;
            xmlNode* root = xmlDocGetRootElement(out.get());
            probe.check(root, mode);
            // Read again by korrand itself.
            fs::copy_file(dir_ / "out.svg", dir_ / "in.svg", fs::copy_options::overwrite_existing);
            EXPECT_EQ(Korrand("--select dasharray --period dasharray", "again.svg").code, 0);
            const auto [straight, all] = StraightPoints(root, probe.size);
            EXPECT_LT(straight, all / 5 + 1) << mode << ": " << straight << " of " << all;
        }
    }
}

// A 40 x 30 rectangle at 4 mm: 35 dashes of two points, each on the outline, and the summary
// counts the points written.
TEST_F(SvgFilterTest, DashesOnStraightEdgesAreTwoPoints) {
    std::ofstream(dir_ / "in.svg", std::ios::binary | std::ios::trunc)
        << R"(<svg xmlns="http://www.w3.org/2000/svg" width="100mm" height="100mm" )"
           R"(viewBox="0 0 100 100"><rect id="r" x="10" y="10" width="40" height="30" )"
           R"(fill="none" stroke="black"/></svg>)";
    const Outcome o = Korrand("--period 4mm");
    ASSERT_EQ(o.code, 0) << o.err;
    EXPECT_NE(o.err.find("wrote 35 dashes, 70 points"), std::string::npos) << o.err;
    Doc out = Load("out.svg");
    ASSERT_TRUE(out);
    // An open straight path's default fill paints no area: nothing of the original stays.
    std::ofstream(dir_ / "in.svg", std::ios::binary | std::ios::trunc)
        << R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 100 100">)"
           R"(<path id="s" d="M5,20 H95" stroke="black"/></svg>)";
    ASSERT_EQ(Korrand("--count 4").code, 0);
    Doc straight = Load("out.svg");
    ASSERT_TRUE(straight);
    EXPECT_EQ(ById(xmlDocGetRootElement(straight.get()), "s-dashes"), nullptr);
    EXPECT_EQ(DashesOf(xmlDocGetRootElement(straight.get()), "s").size(), 4u);
    for (const auto& dash : DashesOf(xmlDocGetRootElement(out.get()), "r")) {
        EXPECT_EQ(dash.size(), 2u);
        for (const auto& [x, y] : dash)
            EXPECT_LT(std::min({std::fabs(x - 10), std::fabs(x - 50), std::fabs(y - 10),
                                std::fabs(y - 40)}),
                      1e-9);
    }
}

// Text laid along a path and a clip path drawn through <use> take a shape's geometry: the
// shape stays for them, its stroke hidden, and its dashes go beside it, for plotters too.
TEST_F(SvgFilterTest, TextAndClipPathsKeepTheShapesTheyUse) {
    std::ofstream(dir_ / "in.svg", std::ios::binary | std::ios::trunc)
        << R"x(<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" )x"
           R"x(viewBox="0 0 100 100"><defs><clipPath id="c"><use xlink:href="#frame"/></clipPath>)x"
           R"x(</defs><rect width="100" height="100" fill="orange" clip-path="url(#c)"/>)x"
           R"x(<circle id="frame" cx="50" cy="50" r="40" fill="none" stroke="black"/>)x"
           R"x(<path id="curve" d="M5,35 Q50,0 95,35" fill="none" stroke="black"/>)x"
           R"x(<text><textPath href="#curve">along</textPath></text><use id="again" href="#frame"/>)x"
           R"x(</svg>)x";
    for (const char* mode : {"--count 9", "--count 9 --plotter"}) {
        ASSERT_EQ(Korrand(mode).code, 0) << mode;
        Doc out = Load("out.svg");
        ASSERT_TRUE(out);
        xmlNode* root = xmlDocGetRootElement(out.get());
        EXPECT_EQ(Attr(ById(root, "curve"), "d"), "M5,35 Q50,0 95,35") << mode;
        EXPECT_EQ(Attr(ById(root, "frame"), "r"), "40") << mode;
        for (const char* id : {"curve", "frame"}) {
            EXPECT_NE(Attr(ById(root, id), "style").find("stroke:none"), std::string::npos);
            EXPECT_EQ(DashesOf(root, std::string(id) + "-dashes").size(), 9u) << id << mode;
            // Drawing nothing, it is kept out of sight, where plotting tools do not draw it.
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(ById(root, id)->parent->name)),
                      "defs")
                << id << mode;
        }
        // With fills dropped a <use> of it draws the dashes; else a twin does (the <use> may
        // give it a fill).
        const bool plotter = std::string(mode).find("plotter") != std::string::npos;
        EXPECT_EQ(Attr(ById(root, "again"), "href"), plotter ? "#frame-dashes" : "#frame") << mode;
    }
}

// Zero-length subpaths are dots where round or square caps draw them (stipples): they stay
// beside the dashes; with butt caps they draw nothing.
// Coordinates are written finely enough for the dashes, whatever the tolerance asked for.
TEST_F(SvgFilterTest, DashesKeepTheirLengthUnderACoarseTolerance) {
    std::ofstream(dir_ / "in.svg", std::ios::binary | std::ios::trunc)
        << R"(<svg xmlns="http://www.w3.org/2000/svg" width="100mm" height="100mm" )"
           R"(viewBox="0 0 100 100"><path id="fold" d="M10 50 H90 M10 60 H10.9" )"
           R"(stroke="black"/></svg>)";
    // Dashes of 0.15 mm, then of 2 mm on the long line and 0.0225 mm on the short one.
    for (const char* options : {"--period 0.3mm --tolerance 1mm", "--count 20 --tolerance 1mm"}) {
        ASSERT_EQ(Korrand(options).code, 0);
        Doc out = Load("out.svg");
        const auto dashes = DashesOf(xmlDocGetRootElement(out.get()), "fold");
        ASSERT_GT(dashes.size(), 39u);
        for (const auto& dash : dashes) {
            const double length = dash.back().first - dash.front().first;
            const double want = options[2] == 'p' ? 0.15 : dash[0].second < 55 ? 2 : 0.0225;
            EXPECT_NEAR(length, want, want / 100) << options;
        }
    }
}

TEST_F(SvgFilterTest, DotsOfRoundCapsStayBesideTheDashes) {
    for (const std::string cap : {"round", "butt"}) {
        std::ofstream(dir_ / "in.svg", std::ios::binary | std::ios::trunc)
            << R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 100 100"><path id="p" )"
               R"(d="M10,10 L90,10 M20,30 l0,0 M60,30 z M70,30" fill="none" stroke="black" )"
               R"(stroke-linecap=")"
            << cap << R"("/></svg>)";
        ASSERT_EQ(Korrand("--count 4").code, 0);
        Doc out = Load("out.svg");
        ASSERT_TRUE(out);
        const std::string d = Attr(ById(xmlDocGetRootElement(out.get()), "p"), "d");
        const bool round = cap == "round";
        EXPECT_EQ(d.find(" M20 30 L20 30 M60 30 L60 30") != std::string::npos, round) << d;
        EXPECT_EQ(d.find("70 30"), std::string::npos) << d;  // a lone move-to: nothing
    }
}

// Relative and jitter relate a shape's subpaths: they stay in one call of the modifier. Without
// them each subpath is dashed alone, with the same dashes.
TEST_F(SvgFilterTest, RelativeDashesCountAgainstTheShapesLongestSubpath) {
    std::ofstream(dir_ / "in.svg", std::ios::binary | std::ios::trunc)
        << R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 100 100">)"
           R"(<path id="p" d="M 10 10 L 20 10 M 10 30 L 30 30 L 30 31" fill="none" stroke="red"/>)"
           R"(</svg>)";
    const auto pieces = [&](const std::string& args) {
        EXPECT_EQ(Korrand(args, "out.json").code, 0) << args;
        std::ifstream in(dir_ / "out.json");
        const nlohmann::json json = nlohmann::json::parse(in);
        std::vector<std::size_t> sizes;
        for (const auto& segment : json["segments"]) sizes.push_back(segment.size());
        return sizes;
    };
    EXPECT_EQ(pieces("--count 4 --relative").size(), 1u + 4u);  // 8 x 10/21 divisions: 3
    EXPECT_EQ(pieces("--count 4").size(), 4u + 4u);
    EXPECT_EQ(pieces("--count 4 --jitter 0.5").size(), 4u + 4u);
    // The bend needs more samples than the straight subpath gets.
    const std::vector<std::size_t> apart = pieces("--count 4 --tolerance 0.001");
    EXPECT_EQ(*std::max_element(apart.begin(), apart.begin() + 4), 3u);
    EXPECT_GT(*std::max_element(apart.begin() + 4, apart.end()), 3u);
}

// stroke-dashoffset through the modifier's Offset: the dashes stand where a viewer draws them.
TEST_F(SvgFilterTest, ADashOffsetMovesTheDashesAsAViewerDoes) {
    std::ofstream(dir_ / "in.svg", std::ios::binary | std::ios::trunc)
        << R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 200 100">)"
           R"(<path id="p" d="M 10 70 L 190 70" fill="none" stroke="black" )"
           R"(stroke-dasharray="6 6" stroke-dashoffset="3"/></svg>)";
    ASSERT_EQ(Korrand("--select dasharray --period dasharray").code, 0);
    Doc out = Load("out.svg");
    ASSERT_TRUE(out);
    // The dash over the start shows as its end at 10..13 and its beginning at 187..190.
    std::set<std::pair<double, double>> spans;
    for (const auto& dash : DashesOf(xmlDocGetRootElement(out.get()), "p"))
        spans.insert({dash.front().first, dash.back().first});
    EXPECT_EQ(spans.count({10, 13}), 1u);
    EXPECT_EQ(spans.count({19, 25}), 1u);
    EXPECT_EQ(spans.count({187, 190}), 1u);
    EXPECT_EQ(spans.size(), 16u);

    // Around a circle, the dash moved across its start keeps both its parts: the dashes cover
    // half the circle, whatever subdivision its curve alone would need.
    std::ofstream(dir_ / "in.svg", std::ios::binary | std::ios::trunc)
        << R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 100 100"><circle id="c" )"
           R"(cx="50" cy="50" r="40" fill="none" stroke="black" stroke-dasharray="1 1" )"
           R"(stroke-dashoffset="0.7"/></svg>)";
    ASSERT_EQ(Korrand("").code, 0);
    Doc circle = Load("out.svg");
    ASSERT_TRUE(circle);
    double inked = 0;
    for (const auto& dash : DashesOf(xmlDocGetRootElement(circle.get()), "c"))
        for (std::size_t i = 1; i < dash.size(); ++i)
            inked +=
                std::hypot(dash[i].first - dash[i - 1].first, dash[i].second - dash[i - 1].second);
    EXPECT_NEAR(inked, 40 * M_PI, 0.05);
}

// Defaults the document type declares are not the elements' own attributes: removing the id of
// the preview's copy of a path whose id is such a default took the declaration for an attribute
// (korrand crashed), and the dashed rect's path data is its dashes, not the default.
TEST_F(SvgFilterTest, AttributeDefaultsOfTheDocumentTypeAreLeftAlone) {
    std::ofstream(dir_ / "in.svg", std::ios::binary | std::ios::trunc)
        << R"SVG(<?xml version="1.0"?>
<!DOCTYPE svg [<!ATTLIST path id CDATA "dflt"><!ATTLIST rect d CDATA "M 0 0 L 5 5">]>
<svg xmlns="http://www.w3.org/2000/svg" width="100" height="100"><path d="M 1 1 L 50 50"
stroke="black" stroke-dasharray="3"/><rect x="10" y="10" width="50" height="30" stroke="black"
stroke-dasharray="4 2" fill="none"/></svg>
)SVG";
    for (const char* mode : {"", "--preview"}) {
        const Outcome o = Korrand(mode);
        ASSERT_EQ(o.code, 0) << mode << o.err;
        std::ifstream f(dir_ / "out.svg", std::ios::binary);
        const std::string out(std::istreambuf_iterator<char>(f), {});
        EXPECT_NE(out.find(R"(<!ATTLIST rect d CDATA "M 0 0 L 5 5">)"), std::string::npos) << out;
        // The rect is dashed as a path; the preview keeps a faint copy of it as it was.
        EXPECT_EQ(out.find("<rect") == std::string::npos, *mode == '\0') << out;
        EXPECT_EQ(out.find("d=\"M 0 0 L 5 5\""), std::string::npos) << out;
    }
}

TEST_F(SvgFilterTest, ADrawingWithNothingToDashPassesThrough) {
    const char text[] = R"SVG(<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 10 10"><text x="1" y="5">only text</text></svg>
)SVG";
    std::ofstream(dir_ / "in.svg", std::ios::binary | std::ios::trunc) << text;
    const Outcome o = Korrand("--count 4");
    EXPECT_EQ(o.code, 0) << o.err;
    EXPECT_NE(o.err.find("nothing to dash"), std::string::npos) << o.err;
    Doc in(xmlReadMemory(text, sizeof text - 1, nullptr, nullptr, XML_PARSE_NONET), xmlFreeDoc);
    Doc out = Load("out.svg");
    ASSERT_TRUE(out);
    std::string want, got;
    Canon(xmlDocGetRootElement(in.get()), {}, want);
    Canon(xmlDocGetRootElement(out.get()), {}, got);
    EXPECT_EQ(want, got);
    // Settings that make no dashes empty every shape chosen: said, not silent.
    std::ofstream(dir_ / "in.svg", std::ios::binary | std::ios::trunc)
        << R"(<svg xmlns="http://www.w3.org/2000/svg"><path d="M0 0 L9 0" stroke="red"/></svg>)";
    EXPECT_NE(Korrand("--count 0 -q").err.find("make no dashes"), std::string::npos);
    EXPECT_EQ(Korrand("--count 1 -q").err, "");
    // Not an SVG at all is still bad input.
    std::ofstream(dir_ / "in.svg", std::ios::binary | std::ios::trunc) << "<html/>";
    EXPECT_EQ(Korrand("--count 4").code, 2);
}

}  // namespace
