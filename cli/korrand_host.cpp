// The command-line host's side of the plug-in: loading its folder, checking settings, dashing.
#include "korrand_host.h"

#include <nlohmann/json.hpp>

#include "okorrand.h"

#include <cmath>
#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;

namespace korrand {

namespace {
constexpr int32_t kPluginId = ID_KORRAND;  // the plug-in's own id, from its header
constexpr int32_t kLineObject = HOST_OBJECT_LINE;
const char kPrefix[] = "KORRAND_";

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Number(double v) {
    std::ostringstream s;
    s.precision(17);
    s << v;
    return s.str();
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
    plugin_ = hostmodel::Plugin::Load(pluginFolder, &error);
    if (!plugin_)
        throw PluginFailure("cannot load the plug-in from '" + pluginFolder + "': " + error);
    if (!plugin_->Start(&error)) throw PluginFailure("the plug-in did not start: " + error);
    registration_ = plugin_->Find(kPluginId);
    if (registration_ == nullptr)
        throw PluginFailure("the plug-in in '" + pluginFolder + "' registered no modifier");
    auto description = hostmodel::ReadDescription(pluginFolder, registration_->description, &error);
    if (!description) throw PluginFailure("the plug-in's description cannot be read: " + error);
    description_ = *description;
}

KorrandHost::~KorrandHost() = default;

const hostmodel::Parameter* KorrandHost::ParameterFor(const std::string& option) const {
    for (const auto& p : description_.parameters)
        if (p.name.rfind(kPrefix, 0) == 0 && Lower(p.name.substr(sizeof(kPrefix) - 1)) == option)
            return &p;
    return nullptr;
}

void KorrandHost::CheckSettings(const Settings& settings) const {
    for (const auto& [option, value] : settings) {
        const hostmodel::Parameter* p = ParameterFor(option);
        if (p == nullptr) throw SettingError("--" + option + " is not a parameter of this plug-in");
        if (!std::isfinite(value)) throw SettingError("--" + option + " must be a finite number");
        if ((p->min && value < *p->min) || (p->max && value > *p->max))
            throw SettingError("--" + option + " must be between " +
                               (p->min ? Number(*p->min) : "-inf") + " and " +
                               (p->max ? Number(*p->max) : "inf") + " (got " + Number(value) + ")");
    }
}

const hostmodel::Parameter* KorrandHost::StoredParameterFor(const std::string& key) const {
    for (const auto& p : description_.parameters)
        if (p.name == key || std::to_string(p.id) == key) return &p;
    return nullptr;
}

void KorrandHost::WriteStored(HostContainer* bc, const io::LineObject& object, size_t index) const {
    const HostFunctionTable* t = hostmodel::Table();
    for (const auto& stored : object.parameters) {
        const hostmodel::Parameter* p = StoredParameterFor(stored.key);
        const std::string where = (object.name.empty() ? "object " + std::to_string(index + 1)
                                                       : "'" + object.name + "'") +
                                  ": stored parameter '" + stored.key + "'";
        if (p == nullptr) throw SettingError(where + " is not a parameter of this plug-in");
        const io::StoredValue& v = stored.value;
        using Kind = io::StoredValue::Kind;
        if (p->type == "LONG") {
            if (v.kind != Kind::Integer) throw SettingError(where + " must be an integer");
            if (v.integer < INT32_MIN || v.integer > INT32_MAX)
                throw SettingError(where + " does not fit in 32 bits");
            t->container.SetLong(bc, p->id, static_cast<int32_t>(v.integer));
        } else if (p->type == "BOOL") {
            if (v.kind != Kind::Boolean) throw SettingError(where + " must be true or false");
            t->container.SetBool(bc, p->id, v.boolean ? 1 : 0);
        } else if (p->type == "REAL") {
            if (v.kind == Kind::Boolean) throw SettingError(where + " must be a number");
            t->container.SetReal(bc, p->id,
                                 v.kind == Kind::Integer ? static_cast<double>(v.integer) : v.real);
        } else {
            throw SettingError(where + " is not a value parameter");
        }
    }
}

void KorrandHost::WriteOptions(HostContainer* bc, const Settings& settings) const {
    const HostFunctionTable* t = hostmodel::Table();
    for (const auto& [option, value] : settings) {
        const hostmodel::Parameter* p = ParameterFor(option);
        if (p->type == "LONG")
            t->container.SetLong(bc, p->id, static_cast<int32_t>(value));
        else if (p->type == "BOOL")
            t->container.SetBool(bc, p->id, value != 0 ? 1 : 0);
        else if (p->type == "REAL")
            t->container.SetReal(bc, p->id, value);
    }
}

io::Document KorrandHost::Dash(const io::Document& doc, const Settings& settings,
                               DashStats* stats) {
    CheckSettings(settings);
    const HostFunctionTable* t = hostmodel::Table();
    DashStats local;

    io::Document out;
    out.multi = doc.multi;
    out.svgWidth = doc.svgWidth;
    out.svgHeight = doc.svgHeight;
    out.svgViewBox = doc.svgViewBox;
    out.drawingSize = doc.drawingSize;
    for (const auto& object : doc.objects) {
        // Each object has its modifier of its own, as each spline of a scene does: Init's
        // defaults, then what the scene stored for it, then the command line's options.
        auto instance = plugin_->Create(kPluginId);
        if (!instance) throw PluginFailure("the plug-in could not create a modifier object");
        struct Release {
            hostmodel::Plugin* p;
            hostmodel::Plugin::Instance* i;
            ~Release() { p->Destroy(*i); }
        } release{plugin_.get(), &*instance};
        HostContainer* bc = hostmodel::Container(instance->node);
        WriteStored(bc, object, static_cast<size_t>(&object - doc.objects.data()));
        WriteOptions(bc, settings);
        if (const hostmodel::Parameter* closed = ParameterFor("closed"))
            local.closedMeasuring = t->container.GetBool(bc, closed->id, 1) != 0;

        std::vector<HostVector> points;
        std::vector<int32_t> counts;
        size_t pointsIn = 0;
        for (const auto& seg : object.segments) pointsIn += seg.size();
        points.reserve(pointsIn);
        counts.reserve(object.segments.size());
        for (const auto& seg : object.segments) {
            if (seg.size() > static_cast<size_t>(INT32_MAX) - points.size())
                throw io::ReadError(object.name, 0, "too many points for one line object");
            counts.push_back(static_cast<int32_t>(seg.size()));
            for (const auto& p : seg) points.push_back({p.x, p.y, p.z});
        }
        local.segmentsIn += static_cast<int64_t>(counts.size());
        HostAtom* line = hostmodel::NewLineObject(points, counts);
        struct Free {
            HostAtom* a;
            ~Free() { hostmodel::FreeObject(a); }
        } freeLine{line};
        if (!plugin_->Modify(*instance, line))
            throw PluginFailure("the modifier failed on '" + object.name + "'");
        if (t->object.GetType(line) != kLineObject)
            throw PluginFailure("the modifier changed the object's type");

        io::LineObject dashed;
        dashed.name = object.name;
        dashed.parameters = object.parameters;
        std::vector<int32_t> written;
        int64_t total = 0;
        if (!hostmodel::SegmentCounts(line, &written, &total))
            throw PluginFailure("the modifier wrote inconsistent segments");
        const HostVector* pts = t->object.GetPointR(line);
        int64_t at = 0;
        dashed.segments.reserve(written.size());
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
        out.objects.push_back(std::move(dashed));
    }
    if (stats != nullptr) *stats = local;
    return out;
}

namespace {
nlohmann::json ParameterJson(const hostmodel::Parameter& p) {
    nlohmann::json j = {{"id", p.id}, {"name", p.name}, {"type", p.type}, {"label", p.label}};
    if (p.def) j["default"] = *p.def;
    if (p.min) j["min"] = *p.min;
    if (p.max) j["max"] = *p.max;
    return j;
}
}  // namespace

std::string KorrandHost::InfoJson() const {
    nlohmann::json j = {
        {"id", registration_->id},
        {"name", registration_->name},
        {"info", registration_->record.node.info},
        {"description", registration_->description},
        {"icon", registration_->hasIcon ? nlohmann::json{{"width", registration_->iconWidth},
                                                         {"height", registration_->iconHeight}}
                                        : nlohmann::json(nullptr)},
        {"folder", plugin_->Folder()}};
    for (const auto& p : description_.parameters) j["parameters"].push_back(ParameterJson(p));
    return j.dump(2) + "\n";
}

std::string KorrandHost::InfoText() const {
    std::ostringstream s;
    s << "plug-in      " << registration_->id << "  \"" << registration_->name << "\"\n"
      << "folder       " << plugin_->Folder() << "\n"
      << "info flags   " << registration_->record.node.info << "\n"
      << "description  " << registration_->description << "\n"
      << "icon         "
      << (registration_->hasIcon ? std::to_string(registration_->iconWidth) + "x" +
                                       std::to_string(registration_->iconHeight)
                                 : std::string("none"))
      << "\n\nparameters\n";
    for (const auto& p : description_.parameters) {
        s << "  " << p.id << "  " << p.name << "  " << p.type;
        if (p.def) s << "  default " << Number(*p.def);
        if (p.min && p.max) s << "  range " << Number(*p.min) << " .. " << Number(*p.max);
        s << "  (" << p.label << ")\n";
    }
    return s.str();
}

}  // namespace korrand
