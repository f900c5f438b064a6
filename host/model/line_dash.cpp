// Dashing a line object (line_dash.h).
#include "line_dash.h"

#include <cfloat>
#include <climits>
#include <cmath>

namespace hostmodel {

namespace {
std::string Prefix(const std::string& object) {
    return object.empty() ? std::string() : object + ": ";
}
// The offset to give the modifier. On a segment measured open, a dash whose end the offset
// moves onto a whole number (or within rounding of one) has its last sample computed a hair past
// it, and that sample wraps to the segment's start: the dash comes out drawn back along the chord
// to the start. An offset that is a multiple of the division step (a dash's length, as a drawing's
// dash offset often is) does that to the last dash of every segment. Such an offset is moved a
// billionth of the segment along, far below any drawing's precision, so that the dash is cut at
// the end instead; an offset that is a whole number is the modifier's own plain case and stays.
double OffsetClearOfTheEnds(const ModifierPlugin& plugin, const HostContainer* bc) {
    const auto load = [&](const char* key, double fallback) {
        const Parameter* p = plugin.ByKey(key);
        return p != nullptr ? Load(bc, *p) : fallback;
    };
    const double offset = load("offset", 0);
    if (!std::isfinite(offset) || offset == std::floor(offset) || load("closed", 1) != 0 ||
        load("jitter", 0) > 0)
        return offset;
    const double count = load("count", 0);
    const double base = count >= 1 && count <= INT32_MAX / 2.0 ? std::floor(2 * count) : 1;
    const double start = load("start", 0), end = load("end", 1);
    const bool relative = load("relative", 0) != 0;
    // A relative segment's division count is any from 1 to the base's; beyond a million only
    // the base's is looked at.
    const double fewest = relative && base <= 1 << 20 ? 1 : base;
    const auto near = [](double x, double within) {
        return std::fabs(x - std::nearbyint(x)) <= within;
    };
    const auto endsOnAWholeNumber = [&](double o) {
        const double within = 64 * DBL_EPSILON * (std::fabs(o) + 2);
        if (near(start + o, within) || near(end + o, within)) return true;
        // j / n + o whole for some j: o * n whole.
        for (double n = fewest; n <= base; ++n)
            if (near(o * n, within * n)) return true;
        return false;
    };
    double moved = offset;
    const double step = std::max(1e-9, 1e4 * 64 * DBL_EPSILON * (std::fabs(offset) + 2));
    for (int tries = 1; tries <= 4 && endsOnAWholeNumber(moved); ++tries)
        moved = offset + tries * step;
    return moved;
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
    const Parameter* offset = plugin_.ByKey("offset");
    const double asked = offset != nullptr ? Load(container(), *offset) : 0;
    const double given = offset != nullptr ? OffsetClearOfTheEnds(plugin_, container()) : asked;
    if (given != asked) Store(container(), *offset, Value::Real(given));
    dashes_.answered = plugin_.plugin().Modify(instance_, line_);
    if (given != asked) Store(container(), *offset, Value::Real(asked));  // as the host set it
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
