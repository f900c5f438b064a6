// Dashing a line object, the one way every host does it: a modifier of the plug-in with its
// settings applied in one order, the line object handed to it, the dashes read back, and one set
// of messages for what can go wrong. The rule by which a host groups the segments of one curve
// into line objects is in segment_groups.h.
#ifndef KORRAND_LINE_DASH_H
#define KORRAND_LINE_DASH_H

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host_model.h"
#include "modifier_plugin.h"
#include "parameter_value.h"
#include "segment_groups.h"

namespace hostmodel {

// Settings by parameter key ("count", "closed"), each a number of its parameter's type.
using Settings = std::map<std::string, double>;

// Why a line object could not be dashed, in one line.
class DashError : public std::runtime_error {
public:
    enum class Kind {
        Input,   // the line object's layout: counts that do not add up, too many points
        Value,   // a value the parameter does not take (its type, a name not in the description)
        Plugin,  // the plug-in could not create a modifier, or wrote what a host cannot read
        Memory   // the host cannot hold the line object
    };
    DashError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// A value a scene stored for one object's modifier, named as the scene names it: the
// description's name ("KORRAND_COUNT") or the id as a decimal string ("1000").
struct StoredSetting {
    std::string name;
    Value value;
};

// Layer 5 below: the subdivision a host chooses from what the modifier holds, or none.
using SubdivisionChooser = std::function<std::optional<int64_t>(const HostContainer*)>;

// What one line object's modifier holds when it dashes. The layers are written into its
// container in this order, each over the ones before:
//   1. the plug-in's own defaults, written by its Init when the modifier is created;
//   2. stored: what a scene stored for this object (a JSON object's parameters), typed, not
//      held to the description's limits, since a scene may hold what an earlier version allowed;
//   3. decided: what the host decides for this object from the file (an SVG subpath's
//      closedness, a spline's cyclic flag, a count derived from a dash length), typed, not held
//      to the limits either;
//   4. given: the user's settings for every object (command-line options), held to the limits;
//   5. the subdivision the host chooses from what 1-4 hold (a drawing's tolerance), unless the
//      user gave one.
struct LineSettings {
    std::string object;  // names the object in messages: "'fence'", "object 2"
    std::vector<StoredSetting> stored;
    Settings decided;
    const Settings* given = nullptr;
    SubdivisionChooser chooseSubdivision;
};

// The dashes the modifier wrote into the line object. The points stay in the host's memory:
// valid until the dasher is given its next line object or ends.
struct Dashes {
    const HostVector* points = nullptr;
    int64_t pointCount = 0;
    std::vector<int32_t> counts;  // the point count of each dash, in order
    bool answered = false;        // what the modify operation answered
    // Traced dashing only: where each point lies on the line object handed over (host_model.h,
    // Sample); empty when the plug-in wrote points it did not sample.
    std::vector<Sample> samples;
};

// One modifier of the plug-in and the line object it dashes.
class LineDasher {
public:
    // A new modifier, initialised by the plug-in (layer 1). Throws DashError.
    explicit LineDasher(ModifierPlugin& plugin);
    ~LineDasher();
    LineDasher(const LineDasher&) = delete;
    LineDasher& operator=(const LineDasher&) = delete;

    ModifierPlugin& plugin() { return plugin_; }
    HostContainer* container() { return Container(instance_.node); }
    const HostContainer* container() const { return Container(instance_.node); }
    const Plugin::Instance& instance() const { return instance_; }

    // Writes layers 2 to 5 over what the container holds. Returns the subdivision chosen in
    // layer 5, if any. Throws DashError naming settings.object.
    std::optional<int64_t> Apply(const LineSettings& settings);
    // Layer 5 alone, again: a host that dashes the segments of one object by calls of their own
    // gives each call the subdivision its own segments need. Returns what was written.
    std::optional<int64_t> ChooseSubdivision(const std::string& object,
                                             const SubdivisionChooser& choose);

    // The line object to hand over, resized to segmentCount segments of counts[i] points:
    // returns its points (pointCount of them, the sum of the counts) for the caller to fill.
    // Throws DashError.
    HostVector* Input(const int32_t* counts, int32_t segmentCount, int64_t pointCount);
    // Runs the modifier on the line object given to Input and reads the dashes back; traced, with
    // where each of their points lies on the line object (Dashes::samples). Throws DashError
    // when the modifier leaves something a host cannot read.
    const Dashes& Dash(bool traced = false);
    const Dashes& dashes() const { return dashes_; }
    // The line object handed to the modifier (none before Input).
    HostAtom* line() { return line_; }

private:
    void Write(const std::string& at, const std::string& key, double value, Limits limits);

    ModifierPlugin& plugin_;
    Plugin::Instance instance_{};
    HostAtom* line_ = nullptr;
    Dashes dashes_;
};

// Whether the modifier's settings relate the segments of one line object, so that dashing them
// apart would change their dashes: relative counts (scaled by the longest segment) or jitter
// (one run of random draws through all segments).
bool SettingsRelateSegments(const ModifierPlugin& plugin, const HostContainer* bc);

}  // namespace hostmodel

#endif
