// Dashing a line object (line_dash.h).
#include "line_dash.h"

#include <climits>

namespace hostmodel {

namespace {
std::string Prefix(const std::string& object) {
    return object.empty() ? std::string() : object + ": ";
}
}  // namespace

LineDasher::LineDasher(ModifierPlugin& plugin) : plugin_(plugin) {
    auto created = plugin_.Create();
    if (!created)
        throw DashError(DashError::Kind::Plugin, "the plug-in could not create a modifier object");
    instance_ = *created;
}

LineDasher::~LineDasher() {
    FreeObject(line_);
    plugin_.plugin().Destroy(instance_);
}

void LineDasher::Write(const std::string& at, const std::string& key, double value, Limits limits) {
    const Parameter* p = plugin_.ByKey(key);
    if (p == nullptr)
        throw DashError(
            limits == Limits::Checked ? DashError::Kind::Value : DashError::Kind::Plugin,
            at + "the plug-in has no parameter '" + key + "'");
    std::string why = CheckSetting(*p, value, limits);
    if (why.empty()) why = Store(container(), *p, SettingValue(*p, value));
    if (!why.empty()) throw DashError(DashError::Kind::Value, at + key + " " + why);
}

std::optional<int64_t> LineDasher::Apply(const LineSettings& s) {
    HostContainer* bc = container();
    const std::string at = Prefix(s.object);
    for (const StoredSetting& stored : s.stored) {
        const Parameter* p = plugin_.ByStoredName(stored.name);
        const std::string where = at + "stored parameter '" + stored.name + "'";
        if (p == nullptr)
            throw DashError(DashError::Kind::Value, where + " is not a parameter of this plug-in");
        const std::string why = Store(bc, *p, stored.value);
        if (!why.empty()) throw DashError(DashError::Kind::Value, where + " " + why);
    }
    for (const auto& [key, value] : s.decided) Write(at, key, value, Limits::NotChecked);
    if (s.given != nullptr)
        for (const auto& [key, value] : *s.given) Write(at, key, value, Limits::Checked);
    if (s.chooseSubdivision && (s.given == nullptr || s.given->count("subdivision") == 0))
        return ChooseSubdivision(s.object, s.chooseSubdivision);
    return std::nullopt;
}

std::optional<int64_t> LineDasher::ChooseSubdivision(const std::string& object,
                                                     const SubdivisionChooser& choose) {
    const std::optional<int64_t> chosen = choose(container());
    if (chosen)
        Write(Prefix(object), "subdivision", static_cast<double>(*chosen), Limits::NotChecked);
    return chosen;
}

HostVector* LineDasher::Input(const int32_t* counts, int32_t segmentCount, int64_t pointCount) {
    dashes_ = Dashes{};
    if (segmentCount < 0 || pointCount < 0)
        throw DashError(DashError::Kind::Input, "point or segment count out of range");
    if (segmentCount > 0 && counts == nullptr)
        throw DashError(DashError::Kind::Input, "null segment counts");
    int64_t sum = 0;
    for (int32_t i = 0; i < segmentCount; ++i) {
        if (counts[i] < 0) throw DashError(DashError::Kind::Input, "negative segment count");
        sum += counts[i];
    }
    if (sum != pointCount)
        throw DashError(DashError::Kind::Input, "segment counts add up to " + std::to_string(sum) +
                                                    " points, not " + std::to_string(pointCount));
    if (pointCount > INT32_MAX)
        throw DashError(DashError::Kind::Input, "too many points for one line object (" +
                                                    std::to_string(pointCount) + ", at most " +
                                                    std::to_string(INT32_MAX) + ")");
    const HostFunctionTable* t = Table();
    if (line_ == nullptr) line_ = NewObject(Oline);
    if (t->object.ResizeObject(line_, static_cast<int32_t>(pointCount), segmentCount) != 1)
        throw DashError(DashError::Kind::Memory, "the host cannot hold a line object of " +
                                                     std::to_string(pointCount) + " points");
    HostSegment* segments = t->object.GetSegmentW(line_);
    for (int32_t i = 0; i < segmentCount; ++i) segments[i] = HostSegment{counts[i], 0};
    return t->object.GetPointW(line_);
}

const Dashes& LineDasher::Dash(bool traced) {
    const HostFunctionTable* t = Table();
    dashes_ = Dashes{};
    if (line_ == nullptr) Input(nullptr, 0, 0);
    std::optional<SampleTrace> trace;
    if (traced) trace.emplace(line_);
    const int64_t refused = ResizesRefused(line_);
    dashes_.answered = plugin_.plugin().Modify(instance_, line_);
    if (trace) dashes_.samples = trace->Take(line_);
    // The modifier leaves the line as it was when the host has no room for its dashes: that
    // line is not its dashes.
    if (ResizesRefused(line_) != refused) {
        dashes_ = Dashes{};
        throw DashError(DashError::Kind::Memory,
                        "the dashes are more than the host holds in one line object");
    }
    if (t->object.GetType(line_) != Oline)
        throw DashError(DashError::Kind::Plugin, "the modifier changed the object's type");
    if (!SegmentCounts(line_, &dashes_.counts, &dashes_.pointCount)) {
        dashes_ = Dashes{};  // no partial result for a reader
        throw DashError(DashError::Kind::Plugin, "the modifier wrote inconsistent segments");
    }
    dashes_.points = t->object.GetPointR(line_);
    return dashes_;
}

bool SettingsRelateSegments(const ModifierPlugin& plugin, const HostContainer* bc) {
    const Parameter* relative = plugin.ByKey("relative");
    const Parameter* jitter = plugin.ByKey("jitter");
    return (relative != nullptr && Load(bc, *relative) != 0) ||
           (jitter != nullptr && Load(bc, *jitter) > 0);
}

}  // namespace hostmodel
