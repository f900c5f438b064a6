// The command-line host's side of the plug-in: its folder opened through the host model's
// parameter contract, settings checked against its description, and documents dashed.
#pragma once

#include <climits>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "document.h"
#include "line_dash.h"
#include "modifier_plugin.h"

namespace korrand {

// The plug-in is missing, does not start, or does not register the modifier.
struct PluginFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// An option value the description does not allow.
struct SettingError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Parameter key (hostmodel::ParameterKey: count, relative, closed, ...) -> value.
using Settings = hostmodel::Settings;

struct DashStats {
    int64_t segmentsIn = 0, dashesOut = 0, pointsOut = 0;
    // The subdivisions chosen by the document's tolerance (none chosen: lowest > highest).
    int64_t lowestSubdivision = INT64_MAX, highestSubdivision = INT64_MIN;
};

// An explicit folder, else the plug-in folder built or installed beside the executable.
std::string FindPluginFolder(const std::string& explicitFolder, const char* argv0);

class KorrandHost {
public:
    explicit KorrandHost(const std::string& pluginFolder);
    ~KorrandHost();

    // Throws SettingError naming the option and its range.
    void CheckSettings(const Settings& settings) const;
    // Dashes every object of doc separately, as a host evaluates each spline. Throws
    // hostmodel::DashError for a stored value the description does not take, PluginFailure when
    // the modifier fails. Each object, once dashed, is handed to `done` (on the thread that
    // dashed it), which may take its points.
    using Done = std::function<void(std::size_t, io::LineObject&)>;
    io::Document Dash(const io::Document& doc, const Settings& settings, DashStats* stats,
                      const Done& done = nullptr);

    std::string InfoText() const;
    std::string InfoJson() const;

    const hostmodel::ModifierPlugin& Modifier() const { return *modifier_; }

private:
    // The smallest subdivision, from `lowest` up to the description's limit, that keeps the
    // dashes of segments [first, last) within `tolerance` of them; none without count or
    // subdivision.
    std::optional<int64_t> ChooseSubdivision(const HostContainer* bc,
                                             const std::vector<std::vector<io::Point>>& segments,
                                             std::size_t first, std::size_t last, double tolerance,
                                             int64_t lowest) const;

    std::unique_ptr<hostmodel::ModifierPlugin> modifier_;
};

}  // namespace korrand
