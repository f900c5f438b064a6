// A parameter value as a host holds it before it goes into a modifier's container: what a scene
// file stored, an option, or a count derived from a dash length. Header-only, so file readers
// can carry and derive values without the model.
#ifndef KORRAND_PARAMETER_VALUE_H
#define KORRAND_PARAMETER_VALUE_H

#include <cmath>
#include <cstdint>

namespace hostmodel {

// The kind must suit the parameter's type when it is stored (modifier_plugin.h, Store).
struct Value {
    enum class Kind { Integer, Boolean, Real };
    Kind kind = Kind::Real;
    int64_t integer = 0;
    bool boolean = false;
    double real = 0;
    static Value Int(int64_t v) { return {Kind::Integer, v, false, 0.0}; }
    static Value Bool(bool v) { return {Kind::Boolean, 0, v, 0.0}; }
    static Value Real(double v) { return {Kind::Real, 0, false, v}; }
};

// The dash count a host derives from a dash length (a drawing's period, a scene length in
// Blender): one dash and its gap per period of the spline's length, rounded, at least one, and
// no more than a stored count holds. It is the drawing's count, not a user's option, so the
// option's limit does not apply; the plug-in normalises it as it does any stored value.
inline int64_t PeriodCount(double length, double period) {
    if (!(period > 0.0)) return 1;  // no period to measure by
    const double dashes = length / period;
    if (!(dashes >= 1.0)) return 1;  // also a NaN length
    if (dashes >= 2147483647.0) return 2147483647;
    return static_cast<int64_t>(std::round(dashes));
}

}  // namespace hostmodel

#endif
