// A parameter value as a host holds it before it goes into a modifier's container: what a scene
// file stored, or an option. Header-only, so file readers can carry values without the model.
#ifndef KORRAND_PARAMETER_VALUE_H
#define KORRAND_PARAMETER_VALUE_H

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

}  // namespace hostmodel

#endif
