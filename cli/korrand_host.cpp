// The command-line host's side of the plug-in: loading its folder, checking settings, dashing.
#include "korrand_host.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>

#include <nlohmann/json.hpp>

#include "sampling.h"

#include <cmath>
#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;

namespace korrand {

namespace {
constexpr int32_t kLineObject = HOST_OBJECT_LINE;

// Runs work(i, counts) for every i in [0, n): on a few threads for a large document, whose
// objects are dashed by modifiers of their own, as a host evaluates many splines at once. Each
// thread counts into counts of its own, added into `total`; the failure of the lowest object
// is the one rethrown. Every object's dashes are the same as from one thread.
template <class Work>
void DashEach(std::size_t n, const Work& work, DashStats& total) {
    constexpr std::size_t kChunk = 32;
    const unsigned threads =
        n < 8 * kChunk ? 1u : std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::vector<DashStats> counts(threads);
    std::vector<std::pair<std::size_t, std::exception_ptr>> failures(threads,
                                                                     {n, std::exception_ptr()});
    const auto run = [&](unsigned w) {
        // Chunks are taken in order and finished once taken, so every object before a failing
        // one is dashed too and the lowest failure is found whatever the timing.
        while (!failed.load(std::memory_order_relaxed)) {
            const std::size_t first = next.fetch_add(kChunk);
            if (first >= n) return;
            for (std::size_t i = first; i < std::min(n, first + kChunk); ++i) {
                try {
                    work(i, counts[w]);
                } catch (...) {
                    failures[w] = {i, std::current_exception()};
                    failed = true;
                    return;
                }
            }
        }
    };
    std::vector<std::thread> pool;
    for (unsigned w = 1; w < threads; ++w) pool.emplace_back(run, w);
    run(0);
    for (std::thread& t : pool) t.join();
    const auto first =
        std::min_element(failures.begin(), failures.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
    if (first->second) std::rethrow_exception(first->second);
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
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec && argv0 != nullptr) self = fs::absolute(argv0, ec);
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

void KorrandHost::WriteStored(HostContainer* bc, const io::LineObject& object, size_t index) const {
    for (const auto& stored : object.parameters) {
        const hostmodel::Parameter* p = modifier_->ByStoredName(stored.key);
        const std::string where = (object.name.empty() ? "object " + std::to_string(index + 1)
                                                       : "'" + object.name + "'") +
                                  ": stored parameter '" + stored.key + "'";
        if (p == nullptr) throw SettingError(where + " is not a parameter of this plug-in");
        const std::string why = hostmodel::Store(bc, *p, stored.value);
        if (!why.empty()) throw SettingError(where + " " + why);
    }
}

std::optional<int64_t> KorrandHost::ChooseSubdivision(
    const HostContainer* bc, const std::vector<std::vector<io::Point>>& segments, std::size_t first,
    std::size_t last, double tolerance, int64_t lowest) const {
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
    for (std::size_t s = first; s < last; ++s) lengths.push_back(io::PageLength(segments[s], loop));
    const double longest = lengths.empty() ? 0 : *std::max_element(lengths.begin(), lengths.end());
    const auto highest = static_cast<int64_t>(*subdivision->max);
    int64_t chosen = lowest;
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        const double dashLength = (scaled ? longest : lengths[i]) / (2 * dashes);
        if (dashLength > 0)
            chosen = std::max(chosen, io::SubdivisionFor(segments[first + i], loop, dashLength,
                                                         tolerance, chosen, highest));
    }
    return chosen;
}

bool KorrandHost::SegmentsApart(const HostContainer* bc) const {
    const hostmodel::Parameter* relative = modifier_->ByKey("relative");
    const hostmodel::Parameter* jitter = modifier_->ByKey("jitter");
    return relative != nullptr && jitter != nullptr && hostmodel::Load(bc, *relative) == 0 &&
           !(hostmodel::Load(bc, *jitter) > 0);
}

io::Document KorrandHost::Dash(const io::Document& doc, const Settings& settings,
                               DashStats* stats) {
    CheckSettings(settings);
    const HostFunctionTable* t = hostmodel::Table();
    const hostmodel::Parameter* closedParameter = modifier_->ByKey("closed");
    const hostmodel::Parameter* countParameter = modifier_->ByKey("count");
    const hostmodel::Parameter* offsetParameter = modifier_->ByKey("offset");
    DashStats all;

    io::Document out;
    out.multi = doc.multi;
    out.svgWidth = doc.svgWidth;
    out.svgHeight = doc.svgHeight;
    out.svgViewBox = doc.svgViewBox;
    out.drawingSize = doc.drawingSize;
    const auto dashObject = [&](std::size_t index, DashStats& local) {
        const io::LineObject& object = doc.objects[index];
        // Each object has its modifier of its own, as each spline of a scene does: Init's
        // defaults, then what the scene stored for it, then what the file itself decides for
        // it, then the command line's options.
        auto instance = modifier_->Create();
        if (!instance) throw PluginFailure("the plug-in could not create a modifier object");
        struct Release {
            hostmodel::Plugin* p;
            hostmodel::Plugin::Instance* i;
            ~Release() { p->Destroy(*i); }
        } release{&modifier_->plugin(), &*instance};
        HostContainer* bc = hostmodel::Container(instance->node);
        WriteStored(bc, object, index);
        const auto decide = [&](const hostmodel::Parameter* p, const char* key,
                                const hostmodel::Value& v) {
            const std::string why = p == nullptr ? "is missing" : hostmodel::Store(bc, *p, v);
            if (!why.empty())
                throw PluginFailure(std::string("the plug-in's parameter '") + key + "' " + why);
        };
        if (object.closed)
            decide(closedParameter, "closed", hostmodel::Value::Bool(*object.closed));
        if (object.dashCount)
            decide(countParameter, "count", hostmodel::Value::Int(*object.dashCount));
        if (object.offset)
            decide(offsetParameter, "offset", hostmodel::Value::Real(*object.offset));
        for (const auto& [key, value] : settings) {
            const hostmodel::Parameter* p = modifier_->ByKey(key);
            hostmodel::Store(bc, *p, hostmodel::SettingValue(*p, value));  // checked above
        }
        io::LineObject dashed;
        dashed.name = object.name;
        dashed.parameters = object.parameters;
        if (closedParameter != nullptr) dashed.closed = hostmodel::Load(bc, *closedParameter) != 0;
        // The segments [first, last) dashed by one call of the modifier. A document that says
        // how closely its curves must be followed (an SVG) gets dashes sampled that closely,
        // unless a subdivision was asked for.
        const bool choose = doc.tolerance && settings.count("subdivision") == 0;
        // Chosen from the plug-in's own default (or the stored value) up to the description's
        // limit.
        const hostmodel::Parameter* subdivisionParameter = modifier_->ByKey("subdivision");
        const auto lowest = static_cast<int64_t>(
            subdivisionParameter != nullptr ? hostmodel::Load(bc, *subdivisionParameter) : 0);
        const auto dashRange = [&](std::size_t first, std::size_t last) {
            if (choose) {
                if (const auto chosen = ChooseSubdivision(bc, object.segments, first, last,
                                                          *doc.tolerance, lowest)) {
                    decide(subdivisionParameter, "subdivision", hostmodel::Value::Int(*chosen));
                    local.lowestSubdivision = std::min(local.lowestSubdivision, *chosen);
                    local.highestSubdivision = std::max(local.highestSubdivision, *chosen);
                }
            }
            std::vector<HostVector> points;
            std::vector<int32_t> counts;
            size_t pointsIn = 0;
            for (std::size_t s = first; s < last; ++s) pointsIn += object.segments[s].size();
            points.reserve(pointsIn);
            counts.reserve(last - first);
            for (std::size_t s = first; s < last; ++s) {
                const auto& seg = object.segments[s];
                if (seg.size() > static_cast<size_t>(INT32_MAX) - points.size())
                    throw io::ReadError(object.name, 0, "too many points for one line object");
                counts.push_back(static_cast<int32_t>(seg.size()));
                for (const auto& p : seg) points.push_back({p.x, p.y, p.z});
            }
            HostAtom* line = hostmodel::NewLineObject(points, counts);
            struct Free {
                HostAtom* a;
                ~Free() { hostmodel::FreeObject(a); }
            } freeLine{line};
            if (!modifier_->plugin().Modify(*instance, line))
                throw PluginFailure("the modifier failed on '" + object.name + "'");
            if (t->object.GetType(line) != kLineObject)
                throw PluginFailure("the modifier changed the object's type");
            std::vector<int32_t> written;
            int64_t total = 0;
            if (!hostmodel::SegmentCounts(line, &written, &total))
                throw PluginFailure("the modifier wrote inconsistent segments");
            const HostVector* pts = t->object.GetPointR(line);
            int64_t at = 0;
            dashed.segments.reserve(dashed.segments.size() + written.size());
            for (const int32_t c : written) {
                std::vector<io::Point> seg;
                seg.reserve(static_cast<size_t>(c));
                for (int64_t k = 0; k < c; ++k)
                    seg.push_back({pts[at + k].x, pts[at + k].y, pts[at + k].z});
                at += c;
                dashed.segments.push_back(std::move(seg));
            }
            local.dashesOut += static_cast<int64_t>(written.size());
            local.pointsOut += total;
        };
        local.segmentsIn += static_cast<int64_t>(object.segments.size());
        // Without relative or jitter no segment's dashes depend on another's: each is dashed by
        // a call of its own, with the subdivision its own curvature needs, so a tight corner in
        // one subpath leaves the others lean. The dashes are the same as from one call.
        if (choose && object.segments.size() > 1 && SegmentsApart(bc)) {
            for (std::size_t s = 0; s < object.segments.size(); ++s) dashRange(s, s + 1);
        } else {
            dashRange(0, object.segments.size());
        }
        return dashed;
    };
    out.objects.resize(doc.objects.size());
    DashEach(
        doc.objects.size(),
        [&](std::size_t i, DashStats& counts) { out.objects[i] = dashObject(i, counts); }, all);
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
