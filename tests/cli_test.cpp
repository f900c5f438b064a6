// The korrand executable, run as a user runs it, on real files.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "document.h"
#include "korrand_host.h"

namespace fs = std::filesystem;
using korrand::io::Document;
using korrand::io::Format;

namespace {

const std::string kExe = KORRAND_EXE;
const std::string kExamples = KORRAND_EXAMPLES;

struct Outcome {
    int code = -1;
    std::string out, err;
};

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int n = 0;
        dir_ = fs::temp_directory_path() /
               ("korrand-cli-" + std::to_string(::getpid()) + "-" + std::to_string(++n));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path Path(const std::string& name) const { return dir_ / name; }
    fs::path Write(const std::string& name, const std::string& text) const {
        std::ofstream(Path(name), std::ios::binary) << text;
        return Path(name);
    }
    Outcome Run(const std::string& args, const std::string& stdinText = "") const {
        const fs::path in = Write(".stdin", stdinText);
        const std::string cmd = Quote(kExe) + " " + args + " <" + Quote(in.string()) + " >" +
                                Quote(Path(".stdout").string()) + " 2>" +
                                Quote(Path(".stderr").string());
        const int status = std::system(cmd.c_str());
        Outcome o;
        o.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        o.out = Slurp(Path(".stdout"));
        o.err = Slurp(Path(".stderr"));
        return o;
    }
    Document ReadFile(const fs::path& p, Format f) const {
        std::ifstream in(p, std::ios::binary);
        return korrand::io::Read(in, f, p.string());
    }

    fs::path dir_;
};

std::string JsonOf(const std::vector<std::vector<std::array<double, 3>>>& segments) {
    nlohmann::json j;
    j["segments"] = nlohmann::json::array();
    for (const auto& s : segments) {
        nlohmann::json seg = nlohmann::json::array();
        for (const auto& p : s) seg.push_back({p[0], p[1], p[2]});
        j["segments"].push_back(seg);
    }
    return j.dump();
}

bool SameBits(const Document& a, const Document& b) {
    if (a.objects.size() != b.objects.size()) return false;
    for (size_t i = 0; i < a.objects.size(); ++i) {
        const auto& x = a.objects[i].segments;
        const auto& y = b.objects[i].segments;
        if (x.size() != y.size()) return false;
        for (size_t s = 0; s < x.size(); ++s) {
            if (x[s].size() != y[s].size()) return false;
            if (!x[s].empty() && std::memcmp(x[s].data(), y[s].data(),
                                             x[s].size() * sizeof(korrand::io::Point)) != 0)
                return false;
        }
    }
    return true;
}

}  // namespace

TEST_F(CliTest, JsonAndObjOutputMatchTheInProcessHostBitForBit) {
    std::mt19937_64 rng(99);
    std::uniform_real_distribution<double> d(-1e3, 1e3);
    std::vector<std::vector<std::array<double, 3>>> segs(3);
    for (auto& s : segs)
        for (int i = 0; i < 17; ++i) s.push_back({d(rng), d(rng), d(rng) * 1e-7});
    const fs::path in = Write("in.json", JsonOf(segs));
    const std::string opts = "--count 9 --jitter 0.3 --seed 5 --offset 0.37 --subdivision 3";
    ASSERT_EQ(
        Run(Quote(in.string()) + " -o " + Quote(Path("out.json").string()) + " " + opts, "").code,
        2);  // no subcommand: usage error
    Outcome o =
        Run("dash " + Quote(in.string()) + " -o " + Quote(Path("out.json").string()) + " " + opts);
    ASSERT_EQ(o.code, 0) << o.err;
    EXPECT_NE(o.err.find("read 1 object, 3 segments"), std::string::npos) << o.err;
    o = Run("dash " + Quote(in.string()) + " -o " + Quote(Path("out.obj").string()) + " " + opts);
    ASSERT_EQ(o.code, 0) << o.err;

    // The same evaluation in this process, through the same plug-in folder.
    korrand::KorrandHost host(KORRAND_PLUGIN_FOLDER);
    const Document input = ReadFile(in, Format::Json);
    const Document expect = host.Dash(
        input, {{"count", 9}, {"jitter", 0.3}, {"seed", 5}, {"offset", 0.37}, {"subdivision", 3}},
        nullptr);
    ASSERT_GT(expect.objects.at(0).segments.size(), 10u);
    EXPECT_TRUE(SameBits(ReadFile(Path("out.json"), Format::Json), expect));
    EXPECT_TRUE(SameBits(ReadFile(Path("out.obj"), Format::Obj), expect));

    // Standard input and output, format by name.
    o = Run("dash - --from json --to json -q " + opts, Slurp(in));
    ASSERT_EQ(o.code, 0) << o.err;
    EXPECT_TRUE(o.err.empty());
    std::istringstream s(o.out);
    EXPECT_TRUE(SameBits(korrand::io::Read(s, Format::Json, "stdout"), expect));
}

TEST_F(CliTest, EveryOptionReachesThePlugin) {
    // Two open polylines of different lengths, so every parameter has something to change.
    const fs::path in = Write(
        "in.json", JsonOf({{{0, 0, 0}, {4, 0, 0}, {4, 3, 0}}, {{0, 5, 0}, {1, 5, 0}, {1, 6, 0}}}));
    auto dash = [&](const std::string& opts) {
        const Outcome o = Run("dash " + Quote(in.string()) + " -q " + opts);
        EXPECT_EQ(o.code, 0) << opts << ": " << o.err;
        return o.out;
    };
    const std::string base = dash("--count 5");
    EXPECT_EQ(dash("--count 5"), base);
    for (const char* opt : {"--count 6", "--count 5 --relative", "--count 5 --subdivision 4",
                            "--count 5 --offset 0.1", "--count 5 --open", "--count 5 --start 0.2",
                            "--count 5 --end 0.8", "--count 5 --jitter 0.5"})
        EXPECT_NE(dash(opt), base) << opt;
    EXPECT_EQ(dash("--count 5 --closed"), base);  // closed is the plug-in's default
    EXPECT_NE(dash("--count 5 --jitter 0.5 --seed 1"), dash("--count 5 --jitter 0.5 --seed 2"));
    EXPECT_EQ(dash("--count 5 --seed 1"), dash("--count 5 --seed 2"));  // seed only with jitter
}

TEST_F(CliTest, SvgShapesAreDashedWhereTheyAreDrawn) {
    // A rectangle moved and scaled by nested groups: every output point lies on its outline.
    const fs::path in = Write(
        "in.svg",
        R"SVG(<svg xmlns="http://www.w3.org/2000/svg" width="200" height="100" viewBox="0 0 200 100">
  <g transform="translate(10 20)"><g transform="scale(2)"><rect id="r" x="5" y="5" width="40" height="20"/></g></g>
  <circle cx="150" cy="50" r="30"/>
</svg>)SVG");
    const Outcome o = Run("dash " + Quote(in.string()) + " -o " + Quote(Path("out.svg").string()) +
                          " --count 10 --preview");
    ASSERT_EQ(o.code, 0) << o.err;
    const std::string svg = Slurp(Path("out.svg"));
    EXPECT_NE(svg.find("viewBox=\"0 0 200 100\""), std::string::npos);
    const Document out = ReadFile(Path("out.svg"), Format::Svg);
    // The preview adds the originals; the dashes are the open paths: check every point lies
    // on the rectangle [20, 100] x [30, 70] or on the circle.
    size_t checked = 0;
    for (const auto& obj : out.objects)
        for (const auto& seg : obj.segments)
            for (const auto& p : seg) {
                const bool onRect = (std::fabs(p.x - 20) < 1e-9 || std::fabs(p.x - 100) < 1e-9 ||
                                     std::fabs(p.y - 30) < 1e-9 || std::fabs(p.y - 70) < 1e-9) &&
                                    p.x > 19 && p.x < 101 && p.y > 29 && p.y < 71;
                const double r = std::hypot(p.x - 150, p.y - 50);
                EXPECT_TRUE(onRect || std::fabs(r - 30) < 0.05) << p.x << "," << p.y;
                ++checked;
            }
    EXPECT_GT(checked, 40u);
}

// The parameter options are the description's: a folder whose description narrows a limit,
// hides a parameter and names a boolean's false state gets exactly those options.
TEST_F(CliTest, ParameterOptionsComeFromTheDescription) {
    const fs::path folder = Path("plugin");
    fs::copy(KORRAND_PLUGIN_FOLDER, folder, fs::copy_options::recursive);
    const fs::path file = folder / "res/description/okorrand.json";
    nlohmann::json d = nlohmann::json::parse(Slurp(file));
    for (auto& p : d["parameters"]) {
        if (p["name"] == "KORRAND_COUNT") {
            p["max"] = 50;
            p["default"] = 20;
            p["help"] = "Marker help text";
        }
        if (p["name"] == "KORRAND_JITTER") p["hidden"] = true;
        if (p["name"] == "KORRAND_RELATIVE") p["off"] = "absolute";
    }
    std::ofstream(file) << d.dump();
    const std::string plugin = " --plugin " + Quote(folder.string());
    const fs::path in = Write("in.json", JsonOf({{{0, 0, 0}, {4, 0, 0}, {4, 3, 0}}}));

    const Outcome help = Run("dash --help" + plugin);
    EXPECT_EQ(help.code, 0);
    // Each switch says which of its two states is the default; exclusions are listed by name
    // (not in memory order, which differs between builds); help ends with an example.
    for (const char* shown :
         {"--count", "Marker help text", "(0..50, default 20)", "--absolute", "--open", "--seed",
          "(default --closed)", "(default --absolute)", "--relative Excludes: --absolute --period"})
        EXPECT_NE(help.out.find(shown), std::string::npos) << shown << "\n" << help.out;
    EXPECT_GT(help.out.rfind("Example: korrand dash "), help.out.rfind("--seed")) << help.out;
    for (const char* absent : {"--jitter", "--reserved", "--no-relative", "--weblink"})
        EXPECT_EQ(help.out.find(absent), std::string::npos) << absent;

    // A description the host refuses: help still answers and says why the options are missing.
    fs::copy_file(file, Path("good.json.bak"));
    std::ofstream(file) << "{";
    const Outcome broken = Run("dash --help" + plugin);
    EXPECT_EQ(broken.code, 0);
    EXPECT_NE(broken.out.find("parameter options are not listed"), std::string::npos) << broken.out;
    fs::copy_file(Path("good.json.bak"), file, fs::copy_options::overwrite_existing);

    const Outcome over = Run("dash " + Quote(in.string()) + plugin + " --count 60");
    EXPECT_EQ(over.code, 2);
    EXPECT_NE(over.err.find("--count must be between 0 and 50 (got 60)"), std::string::npos)
        << over.err;
    EXPECT_EQ(Run("dash " + Quote(in.string()) + plugin + " --jitter 1").code, 2);
    EXPECT_EQ(Run("dash " + Quote(in.string()) + plugin + " --relative --absolute").code, 2);
    const Outcome absolute = Run("dash " + Quote(in.string()) + plugin + " -q --absolute");
    EXPECT_EQ(absolute.code, 0) << absolute.err;
    EXPECT_EQ(absolute.out, Run("dash " + Quote(in.string()) + plugin + " -q").out);
    EXPECT_EQ(Run("dash " + Quote(in.string()) + plugin + " --count 2.5").code, 2);
}

TEST_F(CliTest, InfoShowsTheRegistration) {
    const Outcome o = Run("info --json");
    ASSERT_EQ(o.code, 0) << o.err;
    const auto j = nlohmann::json::parse(o.out);
    EXPECT_EQ(j["id"], 1027780);
    EXPECT_EQ(j["name"], "Wendrix Korrand Modifier");
    EXPECT_EQ(j["info"], 129);
    EXPECT_EQ(j["description"], "okorrand");
    EXPECT_EQ(j["icon"]["width"], 64);
    ASSERT_EQ(j["parameters"].size(), 11u);
    EXPECT_EQ(j["parameters"][0]["name"], "KORRAND_COUNT");
    EXPECT_EQ(j["parameters"][0]["max"], 10000);
    const Outcome text = Run("info");
    EXPECT_EQ(text.code, 0);
    EXPECT_NE(text.out.find("Wendrix Korrand Modifier"), std::string::npos);

    EXPECT_EQ(Run("--version").code, 0);
    EXPECT_EQ(Run("dash --help").code, 0);
    // A folder without the plug-in: it cannot be loaded.
    const Outcome missing = Run("info --plugin " + Quote(dir_.string()));
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("cannot load the plug-in"), std::string::npos);
    // So is it with options of the plug-in's parameters, which are then unknown.
    const Outcome withOptions =
        Run("dash x.svg --count 3 --seed 4 --plugin " + Quote(dir_.string()));
    EXPECT_EQ(withOptions.code, 1);
    EXPECT_NE(withOptions.err.find("cannot load the plug-in"), std::string::npos)
        << withOptions.err;
}

TEST_F(CliTest, BadInputIsRefusedWithoutAnOutputFile) {
    const fs::path good = Write("good.json", JsonOf({{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}}));
    const std::string text = Slurp(good);
    struct Case {
        std::string args, mentions;
    };
    const fs::path bad = Write("bad.json", "{\"segments\": [[[0, 0, 0], [1, 0");
    const fs::path schema = Write("schema.json", "{\"segments\": [[[0, \"x\", 0]]]}");
    const fs::path svg = Write(
        "broken.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\">\n<path d=\"M0 0 L1 1\"\n</svg>");
    const fs::path obj = Write("bad.obj", "v 0 0 0\nv 1 1 1\nl 1 7\n");
    fs::create_directories(Path("d.svg"));
    const std::vector<Case> cases = {
        {"dash " + Quote(Path("missing.json").string()), "missing.json"},
        {"dash " + Quote(bad.string()), "bad.json"},
        {"dash " + Quote(schema.string()), "schema.json"},
        {"dash " + Quote(svg.string()), "broken.svg"},
        {"dash " + Quote(obj.string()), "bad.obj:3"},
        {"dash " + Quote(good.string()) + " --from xyz", "xyz"},
        {"dash " + Quote(Write("a.txt", text).string()), "a.txt"},
        {"dash " + Quote(good.string()) + " --count 20000", "--count"},
        {"dash " + Quote(good.string()) + " --offset nan", "--offset"},
        {"dash " + Quote(good.string()) + " --start 1.5", "--start"},
        {"dash " + Quote(good.string()) + " --count abc", "count"},
        {"dash " + Quote(good.string()) + " --open --closed", "closed"},
        {"dash - ", "--from"},
        // A mistyped option or command is named.
        {"dash --perod 3mm " + Quote(good.string()), "no option --perod"},
        {"dash " + Quote(good.string()) + " --hlep", "no option --hlep"},
        {"dahs " + Quote(good.string()), "no command 'dahs'"},
        {"dash " + Quote(Write("cut.svgz", std::string("\x1f\x8b\x08\0\0\0", 6)).string()),
         "cut.svgz: the compressed file is cut short"},
        // A directory, with or without a format, even one named like a file.
        {"dash " + Quote(dir_.string()) + " --from svg", "is a directory"},
        {"dash " + Quote(Path("d.svg").string()), "is a directory"},
        // Stored values of the wrong type or name.
        {"dash " + Quote(Write("type.json",
                               "{\"parameters\": {\"KORRAND_COUNT\": 2.5}, "
                               "\"segments\": [[[0, 0], [1, 0]]]}")
                             .string()),
         "type.json: object 1: stored parameter 'KORRAND_COUNT' must be an integer"},
        {"dash " + Quote(Write("name.json",
                               "{\"objects\": [{\"parameters\": {\"COUNT\": 2}, "
                               "\"segments\": [[[0, 0], [1, 0]]]}]}")
                             .string()),
         "'COUNT' is not a parameter"},
        {"dash " + Quote(Write("value.json",
                               "{\"parameters\": {\"1000\": \"12\"}, "
                               "\"segments\": [[[0, 0], [1, 0]]]}")
                             .string()),
         "must be a number or a boolean"},
        // A dash array far below the drawing's scale: billions of points, refused before
        // they take the machine's memory.
        {"dash " + Quote(Write("fine.svg",
                               "<svg xmlns=\"http://www.w3.org/2000/svg\"><path d=\"M0 0 "
                               "H1000000\" stroke=\"red\" stroke-dasharray=\"0.0001\"/></svg>")
                             .string()),
         "more than 200 million points"},
    };
    for (const auto& c : cases) {
        const Outcome o = Run(c.args + " -o " + Quote(Path("out.json").string()));
        EXPECT_EQ(o.code, 2) << c.args << ": " << o.err;
        EXPECT_NE(o.err.find(c.mentions), std::string::npos) << c.args << ": " << o.err;
        EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
        EXPECT_FALSE(fs::exists(Path("out.json"))) << c.args;
    }
    // A folder that is not there: the system's reason is given.
    const Outcome missing =
        Run("dash " + Quote(good.string()) + " -o " + Quote(Path("no/such/out.json").string()));
    EXPECT_EQ(missing.code, 2);
    EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos) << missing.err;

    // The input as the output, by its name or through a link: refused, the drawing kept.
    fs::create_symlink(good, Path("link.json"));
    for (const char* output : {"good.json", "link.json"}) {
        const Outcome same =
            Run("dash " + Quote(good.string()) + " -o " + Quote(Path(output).string()));
        EXPECT_EQ(same.code, 2) << output;
        EXPECT_NE(same.err.find("it is the input"), std::string::npos) << same.err;
    }
    EXPECT_EQ(Slurp(good), text);

    // An existing output is left as it was, and no temporary file stays behind.
    Write("out.json", "keep");
    EXPECT_EQ(Run("dash " + Quote(bad.string()) + " -o " + Quote(Path("out.json").string())).code,
              2);
    EXPECT_EQ(Slurp(Path("out.json")), "keep");
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(dir_))
        files += e.path().filename().string().find(".korrand-") != std::string::npos;
    EXPECT_EQ(files, 0u);
}

// What korrand wrote (dashes in place and beside a kept fill, that original, a preview's
// copies) is left as it is when read again: a second run on its own output would cut every dash
// into pieces. What else the drawing gained since is dashed.
TEST_F(CliTest, ItsOwnDashesAreNotDashedAgain) {
    const std::string svg =
        "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 100 50\">"
        "<path id=\"p\" d=\"M10 10 H90\" stroke=\"black\" stroke-dasharray=\"4 2\"/>"
        "<rect id=\"r\" x=\"10\" y=\"20\" width=\"40\" height=\"20\" stroke=\"black\" "
        "fill=\"yellow\"/></svg>";
    const Outcome first = Run("dash - --from svg --preview", svg);
    ASSERT_EQ(first.code, 0) << first.err;
    const Outcome again = Run("dash - --from svg --select all", first.out);
    ASSERT_EQ(again.code, 0) << again.err;
    EXPECT_EQ(again.out, first.out);
    EXPECT_NE(again.err.find("5 shapes left alone by --select all (5 made by korrand)"),
              std::string::npos)
        << again.err;
    std::string added = first.out;
    added.insert(added.rfind("</svg>"), "<path id=\"new\" d=\"M0 45 H100\" stroke=\"red\"/>");
    const Outcome more = Run("dash - --from svg", added);
    ASSERT_EQ(more.code, 0) << more.err;
    EXPECT_NE(more.err.find("warning: 5 shapes are korrand's own from an earlier run"),
              std::string::npos)
        << more.err;
    EXPECT_NE(more.err.find("1 dashed"), std::string::npos) << more.err;
}

// Curves of no length make no dashes: said so, not blamed on the settings.
TEST_F(CliTest, CurvesOfNoLengthAreSaidToBeSo) {
    for (const std::string& json : {JsonOf({{{5, 5, 0}, {5, 5, 0}}, {{9, 9, 0}, {9, 9, 0}}}),
                                    JsonOf({{{0, 0, 0}, {1e200, 0, 0}}})}) {
        const Outcome o = Run("dash - --from json --to json -q", json);
        EXPECT_EQ(o.code, 0) << o.err;
        EXPECT_NE(o.err.find("the curves have no length"), std::string::npos) << o.err;
    }
}

// The SVG reader's options given for another format did nothing without a word.
TEST_F(CliTest, SvgOnlyOptionsAreSaidToBeIgnoredElsewhere) {
    const std::string json = JsonOf({{{0, 0, 0}, {4, 0, 0}}});
    const Outcome o = Run("dash - --from json --to json -q --period 3mm --id a --preview", json);
    EXPECT_EQ(o.code, 0) << o.err;
    EXPECT_NE(o.err.find("warning: --period, --id act on an SVG's shapes only: ignored for JSON "
                         "input\nkorrand: warning: --preview draws in an SVG only: ignored for "
                         "JSON output"),
              std::string::npos)
        << o.err;
    EXPECT_NE(Run("dash - --from json --to json -q --plotter", json)
                  .err.find("warning: --plotter acts on an SVG's shapes only"),
              std::string::npos);
    EXPECT_EQ(Run("dash - --from json --to json -q", json).err, "");
}

// Dense dashes in long attributes add up past what libxml2 2.9 reads by default, as its buffer's
// alignment decides (matplotlib's spirals at a 1 mm period): a written file is tried as xmllint
// reads it and the warning given where it is refused; on standard output it may be.
TEST_F(CliTest, LongPathDataIsWarnedAboutWhereLibxml2RefusesIt) {
    const auto lines = [](int n) {
        std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 80000 20\">";
        for (int i = 0; i < n; ++i)
            svg += "<g><path d=\"M0 " + std::to_string(i) + " H70000\" stroke=\"black\"/></g>";
        return svg + "</svg>";
    };
    const std::string refused = Write("refused.svg", lines(12)).string();
    const Outcome o =
        Run("dash " + Quote(refused) + " --period 1 -q -o " + Quote(Path("out.svg").string()));
    ASSERT_EQ(o.code, 0) << o.err;
    EXPECT_NE(o.err.find("MB of path data in long attributes, which tools built on libxml2 "
                         "2.9 (rsvg-convert, xmllint, lxml) refuse by default"),
              std::string::npos)
        << o.err;
    const std::string read = Write("read.svg", lines(8)).string();
    EXPECT_EQ(
        Run("dash " + Quote(read) + " --period 1 -q -o " + Quote(Path("out.svg").string())).err,
        "");
    EXPECT_NE(Run("dash - --from svg --period 1 -q", lines(8)).err.find("may refuse"),
              std::string::npos);
}

// A compressed SVG is read by its name or its first bytes, from a file or standard input, and
// .svgz or --to svgz writes one.
TEST_F(CliTest, CompressedSvgInAndOut) {
    const std::string svg =
        "<svg xmlns=\"http://www.w3.org/2000/svg\"><line id=\"l\" x2=\"9\" stroke=\"red\"/></svg>";
    const auto isGzip = [](const std::string& s) { return s.rfind("\x1f\x8b", 0) == 0; };
    // Compressed as it is: nothing in it has a dash array.
    const Outcome made = Run("dash - --from svg --to svgz --select dasharray", svg);
    ASSERT_TRUE(isGzip(made.out)) << made.err;
    const std::string& svgz = made.out;
    for (const std::string& args :
         {"dash " + Quote(Write("in.svgz", svgz).string()) + " -o " +
              Quote(Path("out.svgz").string()),
          "dash " + Quote(Write("in.gz", svgz).string()) + " -o " +
              Quote(Path("out.svgz").string()),
          std::string("dash - --to svgz"), std::string("dash - --from svg --to svgz")}) {
        fs::remove(Path("out.svgz"));
        const Outcome o = Run(args + " --count 3", svgz);
        ASSERT_EQ(o.code, 0) << args << ": " << o.err;
        const std::string out = o.out.empty() ? Slurp(Path("out.svgz")) : o.out;
        ASSERT_TRUE(isGzip(out)) << args;
        std::istringstream back(out);
        EXPECT_EQ(korrand::io::Read(back, Format::Svg, "back.svgz").shapeCounts->madeByKorrand, 1)
            << args;
    }
    // A plain SVG comes out of a compressed one unless asked otherwise.
    const Outcome o = Run("dash - --count 3", svgz);
    EXPECT_EQ(o.code, 0) << o.err;
    EXPECT_FALSE(isGzip(o.out));
    EXPECT_NE(o.out.find("<svg"), std::string::npos) << o.out.substr(0, 40);
}

TEST_F(CliTest, StoredParametersAreDashedAsStoredAndWrittenBack) {
    // Values outside the description's limits, as an older version may have stored them, by
    // name and by id; the second object keeps Init's defaults.
    const std::string scene =
        "{\"objects\": [\n"
        "{\"name\": \"a\", \"parameters\": {\"KORRAND_COUNT\": 12000, \"KORRAND_START\": -0.5, "
        "\"1004\": false, \"KORRAND_OFFSET\": 2.0}, \"segments\": [[[0, 0, 0], [4, 0, 0], [4, 3, "
        "0]]]},\n"
        "{\"name\": \"b\", \"segments\": [[[0, 0, 0], [4, 0, 0], [4, 3, 0]]]}\n]}\n";
    const fs::path in = Write("scene.json", scene);
    Outcome o = Run("dash " + Quote(in.string()) + " -o " + Quote(Path("out.json").string()));
    ASSERT_EQ(o.code, 0) << o.err;

    // The same containers in this process: Init's defaults, then the stored values as stored.
    korrand::KorrandHost host(KORRAND_PLUGIN_FOLDER);
    const Document input = ReadFile(in, Format::Json);
    ASSERT_EQ(input.objects.at(0).parameters.size(), 4u);
    const Document expect = host.Dash(input, {}, nullptr);
    const Document got = ReadFile(Path("out.json"), Format::Json);
    EXPECT_TRUE(SameBits(got, expect));
    EXPECT_EQ(got.objects.at(0).segments.size(), 12000u);  // open: every dash, none wrapped
    EXPECT_EQ(got.objects.at(1).segments.size(), 100u);

    // Written back unchanged: the same keys, kinds and values, in order.
    const auto written = nlohmann::json::parse(Slurp(Path("out.json")));
    EXPECT_EQ(written["objects"][0]["parameters"],
              nlohmann::json::parse(scene)["objects"][0]["parameters"]);
    EXPECT_TRUE(written["objects"][0]["parameters"]["KORRAND_OFFSET"].is_number_float());
    EXPECT_FALSE(written["objects"][1].contains("parameters"));

    // Options override the stored values for every object, and are still held to the limits.
    o = Run("dash " + Quote(in.string()) + " -q --count 3 --closed");
    ASSERT_EQ(o.code, 0) << o.err;
    std::istringstream out(o.out);
    const Document overridden = korrand::io::Read(out, Format::Json, "stdout");
    EXPECT_TRUE(SameBits(overridden, host.Dash(input, {{"count", 3}, {"closed", 1}}, nullptr)));
    EXPECT_EQ(overridden.objects.at(0).segments.size(), overridden.objects.at(1).segments.size());
    EXPECT_EQ(Run("dash " + Quote(in.string()) + " --count 12000").code, 2);
}

// Path data made as each object is dashed is the writer's own to the byte: shapes of several
// objects, a closed subpath's seam, round caps' dots, objects handed over and not.
TEST_F(CliTest, PathDataMadeAsObjectsAreDashedIsWrittenAsTheWriterMakesIt) {
    const fs::path in = Write(
        "in.svg",
        R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 100 100">)"
        R"(<path d="M10,10 L90,10 M10,20 h80 v10 h-80 z M20,40 l0,0 M30,50 q20,20 40,0" )"
        R"(fill="none" stroke="black" stroke-linecap="round"/><circle cx="50" cy="70" r="9" )"
        R"(fill="red" stroke="blue"/><path d="M5,90 L95,95 M5,95 L95,90" stroke="green"/></svg>)");
    korrand::KorrandHost host(KORRAND_PLUGIN_FOLDER);
    korrand::io::ReadOptions ro;
    ro.period = 6;
    const auto written = [&](bool ahead) {
        std::ifstream file(in, std::ios::binary);
        const Document input = korrand::io::Read(file, Format::Svg, in.string(), ro);
        korrand::io::PathDataAhead made(input, Format::Svg);
        const auto take = [&](std::size_t i, korrand::io::LineObject& object) {
            if (i % 2 == 0) made.Take(i, object);
        };
        Document dashed =
            host.Dash(input, {}, nullptr, ahead ? take : korrand::KorrandHost::Done());
        korrand::io::WriteStats stats;
        korrand::io::WriteOptions wo;
        wo.original = &input;
        wo.stats = &stats;
        wo.ahead = ahead ? &made : nullptr;
        std::ostringstream out;
        korrand::io::Write(out, Format::Svg, dashed, wo);
        return std::make_tuple(out.str(), stats.dashes, stats.points, stats.longestPathData,
                               input.objects.size());
    };
    const auto plain = written(false);
    EXPECT_EQ(written(true), plain);
    EXPECT_EQ(std::get<4>(plain), 6u);  // a line object per subpath but the dot
    EXPECT_NE(std::get<0>(plain).find("M20 40 L20 40"), std::string::npos);
}

TEST_F(CliTest, BundledExamplesRun) {
    for (const char* name : {"wave.svg", "garden.svg", "square.json", "zigzag.obj"}) {
        const fs::path in = fs::path(kExamples) / name;
        const std::string out =
            Path(std::string("out.") + in.extension().string().substr(1)).string();
        const Outcome o = Run("dash " + Quote(in.string()) + " -o " + Quote(out));
        EXPECT_EQ(o.code, 0) << name << ": " << o.err;
        EXPECT_GT(fs::file_size(out), 100u) << name;
    }
}

TEST_F(CliTest, AnOutputIsWrittenThroughItsLinkWithItsPermissions) {
    const fs::path in = Write("in.json", JsonOf({{{0, 0, 0}, {1, 0, 0}}}));
    const fs::path file = Write("private.json", "old");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink("private.json", Path("link.json"));
    ASSERT_EQ(Run("dash " + Quote(in.string()) + " -o " + Quote(Path("link.json").string())).code,
              0);
    EXPECT_TRUE(fs::is_symlink(Path("link.json")));
    EXPECT_NE(Slurp(file).find("segments"), std::string::npos);
    EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    // A read-only output is refused and left as it was, whoever runs korrand.
    const std::string written = Slurp(file);
    fs::permissions(file, fs::perms::owner_read);
    const Outcome refused =
        Run("dash " + Quote(in.string()) + " --count 3 -o " + Quote(file.string()));
    EXPECT_EQ(refused.code, 2);
    EXPECT_NE(refused.err.find("private.json': Permission denied"), std::string::npos)
        << refused.err;
    EXPECT_EQ(Slurp(file), written);
    // A new output gets the permissions the shell's '>' gives one. Its temporary file is made
    // anew: a link left under the name one had is not written through, and two runs writing
    // one output each write their own.
    const fs::path victim = Write("victim.txt", "precious");
    fs::create_symlink("victim.txt", Path(".new.json.korrand-tmp"));
    const std::string run = Quote(kExe) + " dash " + Quote(in.string()) + " --count 500 -q -o " +
                            Quote(Path("new.json").string());
    EXPECT_EQ(std::system(
                  (run + " & a=$!; " + run + " & b=$!; " + run + " && wait $a && wait $b").c_str()),
              0);
    EXPECT_EQ(Slurp(victim), "precious");
    EXPECT_EQ(Slurp(Path("new.json")), Run("dash " + Quote(in.string()) + " --count 500").out);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(fs::status(Path("new.json")).permissions(), static_cast<fs::perms>(0666 & ~mask));
}

TEST_F(CliTest, APipeOrDeviceIsWrittenIntoNotReplaced) {
    // As /dev/null or /dev/stdout would be: a file renamed over it replaced the node itself.
    const fs::path in = Write("in.json", JsonOf({{{0, 0, 0}, {1, 0, 0}}}));
    const fs::path fifo = Path("pipe.json"), copy = Path("copy.json");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string cmd = "timeout 20 cat " + Quote(fifo.string()) + " >" + Quote(copy.string()) +
                            " & " + Quote(kExe) + " dash " + Quote(in.string()) + " -o " +
                            Quote(fifo.string()) + " -q; wait";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_NE(Slurp(copy).find("segments"), std::string::npos);
    // Without an extension to go by, it takes the input's format, as standard output does.
    EXPECT_EQ(Run("dash " + Quote(in.string()) + " -o /dev/null").code, 0);
    // A device that takes nothing: the output and the system's reason are named.
    const Outcome full = Run("dash " + Quote(in.string()) + " -o /dev/full");
    EXPECT_EQ(full.code, 2);
    EXPECT_NE(full.err.find("cannot write '/dev/full': No space left on device"), std::string::npos)
        << full.err;
}

TEST_F(CliTest, AnInterruptedRunLeavesNeitherOutputNorTemporaryFile) {
    // Large enough that writing takes a while: 40 curves of 2000 points, 10000 dashes each.
    std::vector<std::vector<std::array<double, 3>>> segs(40);
    for (std::size_t s = 0; s < segs.size(); ++s)
        for (int i = 0; i < 2000; ++i)
            segs[s].push_back({i * 0.01, std::sin(i * 0.01 + static_cast<double>(s)), 0});
    const fs::path in = Write("big.json", JsonOf(segs));
    const fs::path out = Path("out.json");
    const auto temporary = [&] {
        for (const auto& e : fs::directory_iterator(dir_))
            if (e.path().filename().string().rfind(".out.json.korrand-", 0) == 0) return true;
        return false;
    };
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::freopen("/dev/null", "w", stderr);
        ::execl(kExe.c_str(), kExe.c_str(), "dash", in.c_str(), "-o", out.c_str(), "--count",
                "10000", "-q", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    bool seen = false;
    for (int i = 0; i < 2000 && !seen; ++i) {
        seen = temporary();
        if (!seen) ::usleep(5000);
    }
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(seen) << "no temporary file appeared";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_FALSE(temporary());
    EXPECT_FALSE(fs::exists(out));
}
