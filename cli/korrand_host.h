// The command-line host's side of the plug-in: loading its folder, checking settings against
// its description, and running its modifier over documents.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "geometry.h"
#include "host_model.h"

namespace korrand {

// The plug-in is missing, does not start, or does not register the modifier.
struct PluginFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// An option value the description does not allow.
struct SettingError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Option name (count, relative, subdivision, offset, closed, start, end, seed, jitter) -> value.
using Value = double;
using Settings = std::map<std::string, Value>;

struct DashStats {
    int64_t segmentsIn = 0, dashesOut = 0, pointsOut = 0;
    // Whether the last object was measured closed.
    bool closedMeasuring = true;
};

// An explicit folder, else the plug-in folder built or installed beside the executable.
std::string FindPluginFolder(const std::string& explicitFolder, const char* argv0);

class KorrandHost {
public:
    explicit KorrandHost(const std::string& pluginFolder);
    ~KorrandHost();

    // Throws SettingError naming the option and its range.
    void CheckSettings(const Settings& settings) const;
    // Dashes every object of doc separately, as a host evaluates each spline.
    io::Document Dash(const io::Document& doc, const Settings& settings, DashStats* stats);

    std::string InfoText() const;
    std::string InfoJson() const;

    const hostmodel::DescriptionResource& Description() const { return description_; }

private:
    const hostmodel::Parameter* ParameterFor(const std::string& option) const;
    // By the description's name or the id as a decimal string.
    const hostmodel::Parameter* StoredParameterFor(const std::string& key) const;
    // Throws SettingError for an unknown key or a value of the wrong type.
    // index: the object's place in its document, named when it has no name.
    void WriteStored(HostContainer* bc, const io::LineObject& object, size_t index) const;
    void WriteOptions(HostContainer* bc, const Settings& settings) const;

    std::unique_ptr<hostmodel::Plugin> plugin_;
    const hostmodel::Registration* registration_ = nullptr;
    hostmodel::DescriptionResource description_;
};

}  // namespace korrand
