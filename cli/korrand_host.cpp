// The command-line host's side of the plug-in: loading its folder, checking settings, dashing.
#include "korrand_host.h"

#include <algorithm>

#include <nlohmann/json.hpp>

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
fs::path ExecutableDir(const char* argv0) {
    std::error_code ec;
#ifdef _WIN32
    // The program's own file: one started through PATH has no folder in argv[0].
    std::wstring buffer(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
    fs::path self = n > 0 && n < buffer.size() ? fs::path(buffer.substr(0, n)) : fs::path();
    if (self.empty() && argv0 != nullptr) self = fs::absolute(argv0, ec);
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
        if (fs::exists(candidate / hostmodel::PluginLibraryName())) return candidate.string();
    }
    return (dir / "plugins" / "KorrandModifier").string();
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

std::optional<int64_t> KorrandHost::ChooseSubdivision(const HostContainer* bc,
                                                      const io::LineObject& object,
                                                      double tolerance) const {
    const hostmodel::Parameter* subdivision = modifier_->ByKey("subdivision");
    const hostmodel::Parameter* count = modifier_->ByKey("count");
    const hostmodel::Parameter* relative = modifier_->ByKey("relative");
    const hostmodel::Parameter* closed = modifier_->ByKey("closed");
    if (subdivision == nullptr || count == nullptr || !subdivision->max) return std::nullopt;
    // What the modifier will read: the dashes' length follows from the count, the closedness
    // and, relative, the longest segment.
    const double dashes = hostmodel::Load(bc, *count);
    if (!(dashes >= 1)) return std::nullopt;
    const bool loop = closed != nullptr && hostmodel::Load(bc, *closed) != 0;
    const bool scaled = relative != nullptr && hostmodel::Load(bc, *relative) != 0;
    std::vector<double> lengths;
    for (const auto& segment : object.segments) lengths.push_back(io::PageLength(segment, loop));
    const double longest = lengths.empty() ? 0 : *std::max_element(lengths.begin(), lengths.end());
    // From the plug-in's own default up to the description's limit.
    const auto lowest = static_cast<int64_t>(hostmodel::Load(bc, *subdivision));
    const auto highest = static_cast<int64_t>(*subdivision->max);
    int64_t chosen = lowest;
    for (std::size_t i = 0; i < object.segments.size(); ++i) {
        const double dashLength = (scaled ? longest : lengths[i]) / (2 * dashes);
        if (dashLength > 0)
            chosen = std::max(chosen, io::SubdivisionFor(object.segments[i], loop, dashLength,
                                                         tolerance, chosen, highest));
    }
    return chosen;
}

io::Document KorrandHost::Dash(const io::Document& doc, const Settings& settings,
                               DashStats* stats) {
    CheckSettings(settings);
    const hostmodel::Parameter* closedParameter = modifier_->ByKey("closed");
    DashStats local;

    io::Document out;
    out.multi = doc.multi;
    out.svgWidth = doc.svgWidth;
    out.svgHeight = doc.svgHeight;
    out.svgViewBox = doc.svgViewBox;
    out.drawingSize = doc.drawingSize;
    std::vector<int32_t> counts;
    for (const auto& object : doc.objects) {
        // Each object has its modifier of its own, as each spline of a scene does.
        hostmodel::LineDasher dasher(*modifier_);
        const size_t index = static_cast<size_t>(&object - doc.objects.data());
        hostmodel::LineSettings layers;
        layers.object =
            object.name.empty() ? "object " + std::to_string(index + 1) : "'" + object.name + "'";
        for (const auto& stored : object.parameters)
            layers.stored.push_back({stored.key, stored.value});
        if (object.closed) layers.decided["closed"] = *object.closed ? 1 : 0;
        if (object.dashCount) layers.decided["count"] = static_cast<double>(*object.dashCount);
        layers.given = &settings;
        // A document that says how closely its curves must be followed (an SVG) gets dashes
        // sampled that closely.
        if (doc.tolerance)
            layers.chooseSubdivision = [&](const HostContainer* bc) {
                return ChooseSubdivision(bc, object, *doc.tolerance);
            };
        if (const auto chosen = dasher.Apply(layers)) {
            local.lowestSubdivision = std::min(local.lowestSubdivision, *chosen);
            local.highestSubdivision = std::max(local.highestSubdivision, *chosen);
        }

        counts.clear();
        int64_t pointsIn = 0;
        for (const auto& seg : object.segments) {
            // A segment too long for a count makes the sum disagree: refused by Input.
            counts.push_back(static_cast<int32_t>(std::min<size_t>(seg.size(), INT32_MAX)));
            pointsIn += static_cast<int64_t>(seg.size());
        }
        local.segmentsIn += static_cast<int64_t>(counts.size());
        HostVector* to = dasher.Input(counts.data(), static_cast<int32_t>(counts.size()), pointsIn);
        for (const auto& seg : object.segments)
            for (const auto& p : seg) *to++ = HostVector{p.x, p.y, p.z};
        const hostmodel::Dashes& dashes = dasher.Dash();
        if (!dashes.answered) throw PluginFailure("the modifier failed on '" + object.name + "'");

        io::LineObject dashed;
        dashed.name = object.name;
        dashed.parameters = object.parameters;
        if (closedParameter != nullptr)
            dashed.closed = hostmodel::Load(dasher.container(), *closedParameter) != 0;
        const HostVector* pts = dashes.points;
        dashed.segments.reserve(dashes.counts.size());
        for (const int32_t c : dashes.counts) {
            std::vector<io::Point> seg;
            seg.reserve(static_cast<size_t>(c));
            for (int32_t k = 0; k < c; ++k, ++pts) seg.push_back({pts->x, pts->y, pts->z});
            dashed.segments.push_back(std::move(seg));
        }
        local.dashesOut += static_cast<int64_t>(dashes.counts.size());
        local.pointsOut += dashes.pointCount;
        out.objects.push_back(std::move(dashed));
    }
    if (stats != nullptr) *stats = local;
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
