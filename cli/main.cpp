// korrand: a command-line host for the dash modifier. It loads the plug-in folder as the host
// application does (c4d_main, registration, objects created through the record) and dashes the
// curves of SVG, OBJ and JSON files.
#include <CLI/CLI.hpp>

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>

#include "document.h"
#include "host_model.h"
#include "korrand_host.h"

namespace fs = std::filesystem;
using korrand::io::Format;

namespace {

constexpr const char* kVersion = KORRAND_VERSION;
// An SVG's period when neither a count nor a period is given (and a shape has no dash array).
constexpr const char* kDefaultPeriod = "2mm";

// Exit codes users and scripts rely on.
enum Exit { kOk = 0, kPluginFailed = 1, kBadInput = 2 };

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// "1 object", "2 objects"; "1 dash", "2 dashes".
std::string Count(long long n, const std::string& one, const std::string& many = "") {
    return std::to_string(n) + " " + (n == 1 ? one : many.empty() ? one + "s" : many);
}

// A directory named as the input is bad input, whatever its name says.
void RefuseDirectory(const std::string& path) {
    std::error_code ec;
    if (path != "-" && fs::is_directory(path, ec))
        throw UsageError("'" + path + "' is a directory, not a file to dash");
}

// The options of `dash`. The modifier's parameters are not listed here: each value parameter
// of the plug-in's description becomes an option of its own (ParameterOptions), and unset ones
// keep the defaults the plug-in's own Init wrote.
struct DashOptions {
    std::string input, output = "-", from, to;
    korrand::Settings settings;  // by parameter key, as given on the command line
    bool preview = false, quiet = false, plotter = false;
    // SVG: what gets dashed, what a dashed shape keeps, and lengths with CSS units.
    std::string select = "stroked", fills = "keep", tolerance, period;
    std::vector<std::string> layers, ids;
};

std::optional<Format> ResolveFormat(const std::string& name, const std::string& path,
                                    const char* what) {
    if (!name.empty()) {
        auto f = korrand::io::FormatFromName(name);
        if (!f)
            throw UsageError(std::string("unknown format '") + name + "' for " + what +
                             " (use svg, svgz, obj or json)");
        return f;
    }
    const bool input = std::string(what) == "input";
    // An input's first bytes tell a compressed SVG, on standard input too.
    if (path == "-") return input ? korrand::io::SniffFormat(std::cin) : std::nullopt;
    auto f = korrand::io::FormatFromPath(path);
    if (!f && input) {
        std::ifstream file(path, std::ios::binary);
        f = korrand::io::SniffFormat(file);
    }
    if (!f)
        throw UsageError("cannot tell the format of '" + path + "' from its extension; use --" +
                         (std::string(what) == "input" ? "from" : "to"));
    return f;
}

// The temporary file being written, for the signal handler: an interrupted run removes it.
char gTemporary[4096];

extern "C" void RemoveTemporaryAndDie(int signal) {
    if (gTemporary[0] != '\0') ::unlink(gTemporary);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

struct TemporaryGuard {
    explicit TemporaryGuard(const fs::path& tmp) {
        const std::string text = tmp.string();
        if (text.size() >= sizeof gTemporary) return;  // too long to remember: not removed
        std::memcpy(gTemporary, text.c_str(), text.size() + 1);
        for (const int s : {SIGTERM, SIGINT, SIGHUP}) std::signal(s, RemoveTemporaryAndDie);
    }
    ~TemporaryGuard() { gTemporary[0] = '\0'; }
};

// Writes through a temporary file beside the target and renames it into place, so a failed or
// interrupted run never leaves a half-written output, nor the temporary file.
void WriteAtomically(const std::string& path, const std::function<void(std::ostream&)>& write) {
    if (path == "-") {
        write(std::cout);
        std::cout.flush();
        if (!std::cout) throw std::runtime_error("cannot write to standard output");
        return;
    }
    const fs::path target(path);
    const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
    const fs::path tmp = dir / ("." + target.filename().string() + ".korrand-tmp");
    const TemporaryGuard guard(tmp);
    {
        errno = 0;
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out)
            throw UsageError("cannot write '" + path + "': " +
                             (errno != 0 ? std::strerror(errno) : "cannot create a file there"));
        try {
            write(out);
            out.flush();
        } catch (...) {
            out.close();
            fs::remove(tmp);
            throw;
        }
        if (!out) {
            const int error = errno;
            out.close();
            fs::remove(tmp);
            throw UsageError("cannot write '" + path +
                             "': " + (error != 0 ? std::strerror(error) : "the write failed"));
        }
    }
    std::error_code ec;
    fs::rename(tmp, target, ec);
    if (ec) {
        fs::remove(tmp);
        throw UsageError("cannot write '" + path + "': " + ec.message());
    }
}

korrand::io::Document ReadInput(const DashOptions& o, Format format) {
    // Lengths were checked in Dash.
    korrand::io::ReadOptions ro;
    if (!o.tolerance.empty()) korrand::io::ParseLength(o.tolerance, &ro.tolerance);
    ro.select = o.select == "all"         ? korrand::io::Select::All
                : o.select == "dasharray" ? korrand::io::Select::Dasharray
                                          : korrand::io::Select::Stroked;
    ro.layers = o.layers;
    ro.ids = o.ids;
    if (auto closed = o.settings.find("closed"); closed != o.settings.end())
        ro.closed = closed->second != 0;
    ro.periodFromDasharray = o.period == "dasharray";
    if (!o.period.empty() && !ro.periodFromDasharray)
        korrand::io::ParseLength(o.period, &ro.period);
    // A drawing's own default: a hundred dashes on every subpath, whatever its length, suits a
    // spline of a scene, not a page. Each shape's dash array where it has one, else a period.
    const bool countGiven = o.settings.count("count") != 0 || o.settings.count("relative") != 0;
    if (format == Format::Svg && o.period.empty() && !countGiven) {
        ro.periodFromDasharray = true;
        korrand::io::ParseLength(kDefaultPeriod, &ro.period);
    }
    if (o.input == "-") return korrand::io::Read(std::cin, format, "<stdin>", ro);
    std::ifstream in(o.input, std::ios::binary);
    if (!in) throw UsageError("cannot open '" + o.input + "': " + std::strerror(errno));
    return korrand::io::Read(in, format, o.input, ro);
}

using Clock = std::chrono::steady_clock;
double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

int Dash(const DashOptions& o, korrand::KorrandHost& host) {
    RefuseDirectory(o.input);
    const auto inFormat = ResolveFormat(o.from, o.input, "input");
    if (!inFormat) throw UsageError("cannot tell the format of standard input; use --from");
    auto outFormat = ResolveFormat(o.to, o.output, "output");
    if (!outFormat) outFormat = inFormat;
    double length = 0;
    if (!o.tolerance.empty() && !korrand::io::ParseLength(o.tolerance, &length))
        throw UsageError("--tolerance must be a positive length (px, mm, cm, in, pt or pc)");
    if (!o.period.empty() && o.period != "dasharray" &&
        !korrand::io::ParseLength(o.period, &length))
        throw UsageError(
            "--period must be a positive length (px, mm, cm, in, pt or pc) or dasharray");
    if (o.period == "dasharray" && o.select != "dasharray")
        throw UsageError("--period dasharray needs --select dasharray");

    // Options are checked before any input is read, against the description's limits.
    host.CheckSettings(o.settings);

    const auto t0 = Clock::now();
    const korrand::io::Document input = ReadInput(o, *inFormat);
    for (const auto& w : input.warnings) std::cerr << "korrand: warning: " << w << "\n";
    // A drawing without a shape to dash passes through, so a batch or a pipeline goes on.
    if (input.shapeCounts && input.objects.empty() && !o.quiet)
        std::cerr << "korrand: note: " << (o.input == "-" ? "<stdin>" : o.input)
                  << " has nothing to dash; written unchanged\n";
    const auto t1 = Clock::now();
    korrand::DashStats stats;
    const korrand::io::Document dashed = host.Dash(input, o.settings, &stats);
    const auto t2 = Clock::now();
    korrand::io::WriteOptions wo;
    wo.preview = o.preview;
    wo.keepFills = o.fills == "keep" && !o.plotter;
    wo.keepMarkers = !o.plotter;
    korrand::io::WriteStats written;
    wo.stats = &written;
    wo.original = &input;
    wo.compress = korrand::io::IsCompressedName(o.to.empty() ? o.output : o.to);
    WriteAtomically(o.output,
                    [&](std::ostream& out) { korrand::io::Write(out, *outFormat, dashed, wo); });
    const auto t3 = Clock::now();
    if (!o.quiet) {
        // What chose the shapes left alone: the selection always, layers and ids when given.
        std::string chosenBy = "--select " + o.select;
        if (!o.layers.empty()) chosenBy += "/--layer";
        if (!o.ids.empty()) chosenBy += "/--id";
        // As written: an SVG joins the two pieces of a dash cut at a closed subpath's seam.
        const int64_t dashes = written.counted ? written.dashes : stats.dashesOut;
        const int64_t points = written.counted ? written.points : stats.pointsOut;
        std::string subdivision;
        if (stats.lowestSubdivision <= stats.highestSubdivision)
            subdivision = " (subdivision " + std::to_string(stats.lowestSubdivision) +
                          (stats.lowestSubdivision < stats.highestSubdivision
                               ? ".." + std::to_string(stats.highestSubdivision)
                               : std::string()) +
                          " for the tolerance)";
        const auto objects = static_cast<long long>(input.objects.size());
        // An SVG's shapes, each counted once where it is decided: the four counts add up to the
        // first; the dashed ones became the line objects handed to the modifier.
        std::string read =
            "read " + Count(objects, "object") + ", " + Count(stats.segmentsIn, "segment");
        if (const auto& c = input.shapeCounts)
            read = "read " + Count(c->dashed + c->leftAlone + c->hidden + c->skipped, "shape") +
                   ": " + std::to_string(c->dashed) + " dashed (as " +
                   Count(objects, "line object") + " of " + Count(stats.segmentsIn, "subpath") +
                   "), " + std::to_string(c->leftAlone) + " left alone by " + chosenBy + ", " +
                   std::to_string(c->hidden) + " hidden, " + std::to_string(c->skipped) +
                   " skipped";
        const std::string counts = read + "; wrote " + Count(dashes, "dash", "dashes") + ", " +
                                   Count(points, "point") + subdivision;
        std::fprintf(stderr, "korrand: %s in %.1f ms (read %.1f, dash %.1f, write %.1f)\n",
                     counts.c_str(), Ms(t3 - t0), Ms(t1 - t0), Ms(t2 - t1), Ms(t3 - t2));
    }
    return kOk;
}

int Info(const korrand::KorrandHost& host, bool json) {
    std::cout << (json ? host.InfoJson() : host.InfoText());
    return kOk;
}

// "--plugin DIR" wherever it stands, read before the options are declared: the plug-in's
// description decides which parameter options exist.
std::string PluginArgument(int argc, char** argv) {
    CLI::App pre;
    pre.set_help_flag();
    pre.allow_extras();
    std::string plugin;
    pre.add_option("--plugin", plugin);
    try {
        pre.parse(argc, argv);
    } catch (const CLI::ParseError&) {
        // Reported by the full parse.
    }
    return plugin;
}

// One option per value parameter of the description, in its order: --KEY VALUE for numbers,
// --KEY and its negation (the description's name for the false state, else --no-KEY) for
// booleans. Returns the options by key.
std::map<std::string, CLI::Option*> ParameterOptions(CLI::App* dash,
                                                     const hostmodel::ModifierPlugin& modifier,
                                                     korrand::Settings& settings) {
    const std::string group = "Parameters of the modifier (from its description)";
    std::map<std::string, CLI::Option*> options;
    for (const hostmodel::Parameter& p : modifier.parameters()) {
        if (p.type == hostmodel::ParameterType::Button || p.hidden) continue;
        std::string help = p.help.empty() ? p.label : p.help;
        const std::string key = p.key;
        if (p.type == hostmodel::ParameterType::Bool) {
            const std::string off = hostmodel::OptionFlag(p.off.empty() ? "no_" + key : p.off);
            const bool on = p.def.value_or(0) != 0;
            CLI::Option* yes = dash->add_flag_callback(
                hostmodel::OptionFlag(key), [&settings, key] { settings[key] = 1; },
                help + (on ? " (default)" : ""));
            CLI::Option* no = dash->add_flag_callback(
                off, [&settings, key] { settings[key] = 0; },
                "The opposite of " + hostmodel::OptionFlag(key) + (on ? "" : " (default)"));
            yes->excludes(no);
            yes->group(group);
            no->group(group);
            options[key] = yes;
            options[p.off.empty() ? "no_" + key : p.off] = no;
            continue;
        }
        std::string range;
        if (p.min && p.max)
            range = hostmodel::FormatNumber(*p.min) + ".." + hostmodel::FormatNumber(*p.max);
        if (p.def)
            range += (range.empty() ? "default " : ", default ") + hostmodel::FormatNumber(*p.def);
        if (!range.empty()) help += " (" + range + ")";
        CLI::Option* option = dash->add_option_function<double>(
            hostmodel::OptionFlag(key), [&settings, key](double v) { settings[key] = v; }, help);
        option->type_name(p.type == hostmodel::ParameterType::Long ? "INT" : "NUMBER");
        option->group(group);
        options[key] = option;
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "korrand: dashes the curves of SVG, OBJ and JSON files with the Korrand "
        "modifier plug-in"};
    app.set_version_flag("--version", std::string("korrand ") + kVersion);
    app.require_subcommand(1);
    app.footer(
        "Run 'korrand dash --help' for the options of dash, one per parameter of the "
        "modifier.");
    // Declared once; the subcommands pass it through, so it may stand before or after them.
    std::string plugin;
    app.add_option("--plugin", plugin, "Plug-in folder (default: the one beside korrand)");

    // The plug-in is opened first: its description gives the parameter options. When it cannot
    // be opened, help and version still answer, and any command reports why.
    std::unique_ptr<korrand::KorrandHost> host;
    std::string loadError;
    try {
        host = std::make_unique<korrand::KorrandHost>(
            korrand::FindPluginFolder(PluginArgument(argc, argv), argv[0]));
    } catch (const std::exception& e) {
        loadError = e.what();
    }

    DashOptions o;
    CLI::App* dash = app.add_subcommand("dash", "Replace every curve of a file with dashes");
    dash->fallthrough();
    dash->add_option("INPUT", o.input, "Input file, or - for standard input")->required();
    dash->add_option("-o,--output", o.output, "Output file, or - for standard output (default)");
    dash->add_option("--from", o.from,
                     "Input format: svg, svgz, obj or json (default: extension; a compressed SVG "
                     "is also known by its first bytes)");
    dash->add_option("--to", o.to,
                     "Output format: svg, svgz (compressed), obj or json (default: extension, "
                     "else the input's)");
    std::map<std::string, CLI::Option*> parameterOptions;
    if (host)
        parameterOptions = ParameterOptions(dash, host->Modifier(), o.settings);
    else {
        // The parameter options are unknown; the command reports why. Extras of a subcommand
        // fall through to the app, which must take them too.
        dash->allow_extras();
        app.allow_extras();
        dash->footer("The plug-in could not be opened, so its parameter options are not listed: " +
                     loadError);
    }
    dash->add_option("--tolerance", o.tolerance,
                     "SVG: flattening tolerance for curves, a length such as 0.05mm (default: "
                     "relative to drawing size)");
    dash->add_option("--select", o.select,
                     "SVG: shapes to dash: stroked (default), all, or dasharray")
        ->check(CLI::IsMember({"stroked", "all", "dasharray"}));
    dash->add_option("--layer", o.layers,
                     "SVG: only shapes in this layer (label or top-level group id); repeatable")
        ->allow_extra_args(false);
    dash->add_option("--id", o.ids,
                     "SVG: only this element, or the shapes inside it (a group, a layer, a <use>); "
                     "repeatable")
        ->allow_extra_args(false);
    auto* period = dash->add_option(
        "--period", o.period,
        std::string("SVG: one dash per LENGTH of each subpath (px, mm, cm, in, pt, pc), or "
                    "dasharray (each shape's own). Default without --count: each shape's dash "
                    "array where it has one, else ") +
            kDefaultPeriod);
    // A period decides each subpath's count itself.
    for (const char* key : {"count", "relative", "no_relative"})
        if (auto it = parameterOptions.find(key); it != parameterOptions.end())
            period->excludes(it->second);
    auto* fills =
        dash->add_option("--fills", o.fills,
                         "SVG: a filled shape keeps its fill beside its dashes (keep, default) "
                         "or is its dashes alone (drop)")
            ->check(CLI::IsMember({"keep", "drop"}));
    dash->add_flag("--plotter", o.plotter,
                   "SVG: for plotters and cutters, which draw every path's outline: a dashed "
                   "shape is its dashes alone, without its fill or markers")
        ->excludes(fills);
    dash->add_flag("--preview", o.preview, "SVG: the original shapes, faint, in a layer beneath");
    dash->add_flag("-q,--quiet", o.quiet, "No summary line on standard error");

    bool json = false;
    CLI::App* info = app.add_subcommand("info", "Show what the plug-in registered with the host");
    info->fallthrough();
    info->add_flag("--json", json, "Machine-readable output");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "korrand: " << e.what() << " (see korrand --help)\n";
        return kBadInput;
    }

    try {
        if (!host) throw korrand::PluginFailure(loadError);
        if (dash->parsed()) return Dash(o, *host);
        return Info(*host, json);
    } catch (const korrand::io::ReadError& e) {
        std::cerr << "korrand: " << e.what() << "\n";
        return kBadInput;
    } catch (const korrand::SettingError& e) {
        std::cerr << "korrand: " << e.what() << "\n";
        return kBadInput;
    } catch (const UsageError& e) {
        std::cerr << "korrand: " << e.what() << "\n";
        return kBadInput;
    } catch (const korrand::PluginFailure& e) {
        std::cerr << "korrand: " << e.what() << "\n";
        return kPluginFailed;
    } catch (const std::exception& e) {
        std::cerr << "korrand: " << e.what() << "\n";
        return kPluginFailed;
    }
}
