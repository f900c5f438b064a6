// The command-line host's side of the plug-in: loading its folder, checking settings, dashing.
#include "korrand_host.h"

#include <algorithm>
#include <atomic>

#include <nlohmann/json.hpp>

#include "parallel.h"
#include "sampling.h"

#include <cmath>
#include <filesystem>
#include <sstream>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX  // min and max stay std::min and std::max
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace korrand {

namespace {
// The most points the modifier is asked to make for one document. A period far below the
// drawing's scale (a typo, a stroke-dasharray of 0.0001) or a stored count of billions would
// otherwise take the machine's memory until the system kills korrand. A 20 MB map dashed at
// 0.5 mm with a 0.001 mm tolerance makes 54 million (1.5 GB at its peak).
constexpr int64_t kMaxDashPoints = 200000000;

// Which object crosses the limit depends on the threads' timing, so the message names none: a
// run refused says the same every time.
[[noreturn]] void RefuseTooManyPoints() {
    std::ostringstream why;
    why << "the file's dashes would be more than " << kMaxDashPoints / 1000000
        << " million points, more than korrand makes for one file (a longer period, fewer dashes "
           "or a lower subdivision)";
    throw SettingError(why.str());
}

// At least how many points the modifier would be asked for, from what is known before any
// modifier is made: each object's count (given, else decided from its period) and the given
// subdivision (else none), for objects without stored settings of their own (which may ask for
// fewer) and without relative counts (which scale down). Each object alone stays under the limit
// as it is dashed, so a period far below the drawing's scale would otherwise be refused only
// after objects of millions of points had been made.
double PointsAtLeast(const io::Document& doc, const Settings& settings) {
    const auto given = [&](const char* key) -> std::optional<double> {
        const auto it = settings.find(key);
        return it != settings.end() ? std::optional<double>(it->second) : std::nullopt;
    };
    if (given("relative").value_or(0) != 0) return 0;
    const double perDash = std::max(0.0, given("subdivision").value_or(0)) + 2;
    double points = 0;
    for (const io::LineObject& object : doc.objects) {
        std::optional<double> count = given("count");
        if (!count && object.dashCount) count = static_cast<double>(*object.dashCount);
        if (object.parameters.empty() && count && *count > 0)
            points += static_cast<double>(object.segments.size()) * *count * perDash;
    }
    return points;
}

// Runs work(i, counts) for every i in [0, n): on a few threads for a large document, whose
// objects are dashed by modifiers of their own, as a host evaluates many splines at once. Each
// thread counts into counts of its own, added into `total`. Every object's dashes are the same as
// from one thread.
template <class Work>
void DashEach(std::size_t n, const Work& work, DashStats& total) {
    constexpr std::size_t kChunk = 32;
    const unsigned threads = io::ThreadsFor(n, 4 * kChunk);
    std::vector<DashStats> counts(threads);
    io::ForEachInParallel(n, threads, kChunk,
                          [&](std::size_t i, unsigned t) { work(i, counts[t]); });
    for (const DashStats& c : counts) {
        total.segmentsIn += c.segmentsIn;
        total.dashesOut += c.dashesOut;
        total.pointsOut += c.pointsOut;
        total.lowestSubdivision = std::min(total.lowestSubdivision, c.lowestSubdivision);
        total.highestSubdivision = std::max(total.highestSubdivision, c.highestSubdivision);
    }
}

fs::path ExecutableDir(const char* argv0) {
    std::error_code ec;
#ifdef _WIN32
    // The program's own file: one started through PATH has no folder in argv[0].
    std::wstring buffer(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
    fs::path self = n > 0 && n < buffer.size() ? fs::path(buffer.substr(0, n)) : fs::path();
    if (self.empty() && argv0 != nullptr) self = fs::absolute(fs::u8path(argv0), ec);
#else
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec && argv0 != nullptr) self = fs::absolute(argv0, ec);
#endif
    return self.parent_path();
}
}  // namespace

std::string FindPluginFolder(const std::string& explicitFolder, const char* argv0) {
    if (!explicitFolder.empty()) return explicitFolder;
    const fs::path dir = ExecutableDir(argv0);
    for (const fs::path& candidate :
         {dir / "plugins" / "KorrandModifier", dir.parent_path() / "plugins" / "KorrandModifier"}) {
        if (fs::exists(candidate / hostmodel::PluginLibraryName())) return candidate.u8string();
    }
    return (dir / "plugins" / "KorrandModifier").u8string();
}

KorrandHost::KorrandHost(const std::string& pluginFolder) {
    std::string error;
    modifier_ = hostmodel::ModifierPlugin::Open(pluginFolder, &error);
    if (!modifier_) throw PluginFailure(error);
}

KorrandHost::~KorrandHost() = default;

void KorrandHost::CheckSettings(const Settings& settings) const {
    for (const auto& [key, value] : settings) {
        const hostmodel::Parameter* p = modifier_->ByKey(key);
        const std::string flag = hostmodel::OptionFlag(key);
        if (p == nullptr) throw SettingError(flag + " is not a parameter of this plug-in");
        const std::string why = hostmodel::CheckSetting(*p, value);
        if (!why.empty()) throw SettingError(flag + " " + why);
    }
}

std::optional<int64_t> KorrandHost::ChooseSubdivision(
    const HostContainer* bc, const std::vector<std::vector<io::Point>>& segments, std::size_t first,
    std::size_t last, double tolerance, int64_t lowest) const {
    const hostmodel::Parameter* subdivision = modifier_->ByKey("subdivision");
    const hostmodel::Parameter* count = modifier_->ByKey("count");
    const hostmodel::Parameter* relative = modifier_->ByKey("relative");
    const hostmodel::Parameter* closed = modifier_->ByKey("closed");
    const hostmodel::Parameter* offset = modifier_->ByKey("offset");
    if (subdivision == nullptr || count == nullptr || !subdivision->max) return std::nullopt;
    // What the modifier will read: the dashes' length follows from the count, the closedness
    // and, relative, the longest segment.
    const double dashes = hostmodel::Load(bc, *count);
    if (!(dashes >= 1)) return std::nullopt;
    const bool loop = closed != nullptr && hostmodel::Load(bc, *closed) != 0;
    const bool scaled = relative != nullptr && hostmodel::Load(bc, *relative) != 0;
    std::vector<double> lengths;
    for (std::size_t s = first; s < last; ++s) lengths.push_back(io::PageLength(segments[s], loop));
    const double longest = lengths.empty() ? 0 : *std::max_element(lengths.begin(), lengths.end());
    const auto highest = static_cast<int64_t>(*subdivision->max);
    // An offset that is no whole number moves a dash across the segment's end, where the
    // modifier cuts it in two: the part past the end starts at the dash's first sample beyond
    // it, and the samples must lie within the tolerance of one another for that part to stay.
    const double shift = offset != nullptr ? hostmodel::Load(bc, *offset) : 0;
    const bool wraps = std::isfinite(shift) && shift != std::floor(shift);
    int64_t chosen = lowest;
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        const double dashLength = (scaled ? longest : lengths[i]) / (2 * dashes);
        if (!(dashLength > 0)) continue;
        if (wraps && tolerance > 0)
            chosen = std::max(chosen, static_cast<int64_t>(std::min(
                                          static_cast<double>(highest),
                                          std::max(0.0, std::ceil(dashLength / tolerance) - 1))));
        chosen = std::max(chosen, io::SubdivisionFor(segments[first + i], loop, dashLength,
                                                     tolerance, chosen, highest));
    }
    return chosen;
}

io::Document KorrandHost::Dash(const io::Document& doc, const Settings& settings, DashStats* stats,
                               const Done& done) {
    CheckSettings(settings);
    if (PointsAtLeast(doc, settings) > kMaxDashPoints) RefuseTooManyPoints();
    const hostmodel::Parameter* closedParameter = modifier_->ByKey("closed");
    const hostmodel::Parameter* subdivisionParameter = modifier_->ByKey("subdivision");
    const hostmodel::Parameter* countParameter = modifier_->ByKey("count");
    std::atomic<int64_t> pointsAsked{0};
    DashStats all;

    io::Document out;
    out.multi = doc.multi;
    out.svgWidth = doc.svgWidth;
    out.svgHeight = doc.svgHeight;
    out.svgViewBox = doc.svgViewBox;
    out.drawingSize = doc.drawingSize;
    // A document that says how closely its curves must be followed (an SVG) gets dashes sampled
    // that closely, unless a subdivision was asked for.
    const bool choose = doc.tolerance && settings.count("subdivision") == 0;
    const auto dashObject = [&](std::size_t index, DashStats& local) {
        const io::LineObject& object = doc.objects[index];
        // Each object has its modifier of its own, as each spline of a scene does.
        hostmodel::LineDasher dasher(*modifier_);
        hostmodel::LineSettings layers;
        layers.object =
            object.name.empty() ? "object " + std::to_string(index + 1) : "'" + object.name + "'";
        for (const auto& stored : object.parameters)
            layers.stored.push_back({stored.key, stored.value});
        if (object.closed) layers.decided["closed"] = *object.closed ? 1 : 0;
        if (object.dashCount) layers.decided["count"] = static_cast<double>(*object.dashCount);
        if (object.offset) layers.decided["offset"] = *object.offset;
        layers.given = &settings;
        dasher.Apply(layers);
        // Chosen from the plug-in's own default (or the stored value) up to the description's
        // limit, for each call below.
        const auto lowest =
            static_cast<int64_t>(subdivisionParameter != nullptr
                                     ? hostmodel::Load(dasher.container(), *subdivisionParameter)
                                     : 0);

        io::LineObject dashed;
        dashed.name = object.name;
        dashed.parameters = object.parameters;
        if (closedParameter != nullptr)
            dashed.closed = hostmodel::Load(dasher.container(), *closedParameter) != 0;
        std::vector<int32_t> counts;
        // The segments [first, last) dashed by one call of the modifier.
        const auto dashRange = [&](std::size_t first, std::size_t last) {
            if (choose) {
                const auto chosen =
                    dasher.ChooseSubdivision(layers.object, [&](const HostContainer* bc) {
                        return ChooseSubdivision(
                            bc, object.segments, first, last,
                            doc.tolerances.empty() ? *doc.tolerance : doc.tolerances[index],
                            lowest);
                    });
                if (chosen) {
                    local.lowestSubdivision = std::min(local.lowestSubdivision, *chosen);
                    local.highestSubdivision = std::max(local.highestSubdivision, *chosen);
                }
            }
            if (countParameter != nullptr && subdivisionParameter != nullptr) {
                // Each segment's dashes, subdivision + 2 points each (relative: at most).
                const double asked =
                    static_cast<double>(last - first) *
                    std::fabs(hostmodel::Load(dasher.container(), *countParameter)) *
                    (std::max(0.0, hostmodel::Load(dasher.container(), *subdivisionParameter)) + 2);
                const int64_t add =
                    asked <= kMaxDashPoints ? static_cast<int64_t>(asked) : kMaxDashPoints + 1;
                if (pointsAsked.fetch_add(add) + add > kMaxDashPoints) RefuseTooManyPoints();
            }
            counts.clear();
            int64_t pointsIn = 0;
            for (std::size_t s = first; s < last; ++s) {
                const auto& seg = object.segments[s];
                // A segment too long for a count makes the sum disagree: refused by Input.
                counts.push_back(static_cast<int32_t>(std::min<size_t>(seg.size(), INT32_MAX)));
                pointsIn += static_cast<int64_t>(seg.size());
            }
            HostVector* to =
                dasher.Input(counts.data(), static_cast<int32_t>(counts.size()), pointsIn);
            for (std::size_t s = first; s < last; ++s)
                for (const auto& p : object.segments[s]) *to++ = HostVector{p.x, p.y, p.z};
            const hostmodel::Dashes& dashes = [&]() -> const hostmodel::Dashes& {
                try {
                    return dasher.Dash();
                } catch (const hostmodel::DashError& e) {
                    throw hostmodel::DashError(e.kind(), layers.object + ": " + e.what());
                }
            }();
            if (!dashes.answered)
                throw PluginFailure("the modifier failed on '" + object.name + "'");
            const HostVector* pts = dashes.points;
            dashed.segments.reserve(dashed.segments.size() + dashes.counts.size());
            for (const int32_t c : dashes.counts) {
                std::vector<io::Point> seg;
                seg.reserve(static_cast<size_t>(c));
                for (int32_t k = 0; k < c; ++k, ++pts) seg.push_back({pts->x, pts->y, pts->z});
                dashed.segments.push_back(std::move(seg));
            }
            local.dashesOut += static_cast<int64_t>(dashes.counts.size());
            local.pointsOut += dashes.pointCount;
        };
        local.segmentsIn += static_cast<int64_t>(object.segments.size());
        // Where nothing relates the segments (segment_groups.h), each is dashed by a call of its
        // own, with the subdivision its own curvature needs, so a tight corner in one subpath
        // leaves the others lean. The dashes are the same as from one call.
        if (choose && object.segments.size() > 1 &&
            !hostmodel::SettingsRelateSegments(*modifier_, dasher.container())) {
            for (std::size_t s = 0; s < object.segments.size(); ++s) dashRange(s, s + 1);
        } else {
            dashRange(0, object.segments.size());
        }
        return dashed;
    };
    out.objects.resize(doc.objects.size());
    DashEach(
        doc.objects.size(),
        [&](std::size_t i, DashStats& counts) {
            out.objects[i] = dashObject(i, counts);
            if (done) done(i, out.objects[i]);
        },
        all);
    if (stats != nullptr) *stats = all;
    return out;
}

namespace {
nlohmann::json ParameterJson(const hostmodel::Parameter& p) {
    nlohmann::json j = {{"id", p.id},
                        {"name", p.name},
                        {"key", p.key},
                        {"type", hostmodel::ParameterTypeName(p.type)},
                        {"label", p.label}};
    if (!p.help.empty()) j["help"] = p.help;
    if (p.def) j["default"] = *p.def;
    if (p.min) j["min"] = *p.min;
    if (p.max) j["max"] = *p.max;
    if (p.hidden) j["hidden"] = true;
    return j;
}
}  // namespace

std::string KorrandHost::InfoJson() const {
    const hostmodel::Registration& r = modifier_->registration();
    nlohmann::json j = {
        {"id", r.id},
        {"name", r.name},
        {"info", r.record.node.info},
        {"description", r.description},
        {"icon", r.hasIcon ? nlohmann::json{{"width", r.iconWidth}, {"height", r.iconHeight}}
                           : nlohmann::json(nullptr)},
        {"folder", modifier_->plugin().Folder()}};
    for (const auto& p : modifier_->parameters()) j["parameters"].push_back(ParameterJson(p));
    return j.dump(2) + "\n";
}

std::string KorrandHost::InfoText() const {
    const hostmodel::Registration& r = modifier_->registration();
    std::ostringstream s;
    s << "plug-in      " << r.id << "  \"" << r.name << "\"\n"
      << "folder       " << modifier_->plugin().Folder() << "\n"
      << "info flags   " << r.record.node.info << "\n"
      << "description  " << r.description << "\n"
      << "icon         "
      << (r.hasIcon ? std::to_string(r.iconWidth) + "x" + std::to_string(r.iconHeight)
                    : std::string("none"))
      << "\n\nparameters\n";
    for (const auto& p : modifier_->parameters()) {
        s << "  " << p.id << "  " << p.name << "  " << hostmodel::ParameterTypeName(p.type);
        if (p.def) s << "  default " << hostmodel::FormatNumber(*p.def);
        if (p.min && p.max)
            s << "  range " << hostmodel::FormatNumber(*p.min) << " .. "
              << hostmodel::FormatNumber(*p.max);
        s << "  (" << p.label << ")\n";
    }
    return s.str();
}

}  // namespace korrand
