#include "portable_math.h"

#include <cmath>

extern "C" {
double korrand_musl_sin(double);
double korrand_musl_cos(double);
double korrand_musl_tan(double);
double korrand_musl_asin(double);
double korrand_musl_atan2(double, double);
double korrand_musl_hypot(double, double);
double korrand_musl_log10(double);
}

namespace korrand::math {

double Sin(double x) {
    return korrand_musl_sin(x);
}
double Cos(double x) {
    return korrand_musl_cos(x);
}
double Tan(double x) {
    return korrand_musl_tan(x);
}
double Asin(double x) {
    return korrand_musl_asin(x);
}
double Atan2(double y, double x) {
    return korrand_musl_atan2(y, x);
}
double Hypot(double x, double y) {
    return korrand_musl_hypot(x, y);
}
double Log10(double x) {
    return korrand_musl_log10(x);
}

// Scaled by the largest, as libstdc++'s three-argument std::hypot computes it (the same bits as
// before), but infinite where one is infinite.
double Hypot(double x, double y, double z) {
    x = std::fabs(x);
    y = std::fabs(y);
    z = std::fabs(z);
    if (std::isinf(x) || std::isinf(y) || std::isinf(z)) return HUGE_VAL;
    const double a = x < y ? (y < z ? z : y) : (x < z ? z : x);
    if (!(a != 0)) return a;  // zero, or NaN
    return a * std::sqrt((x / a) * (x / a) + (y / a) * (y / a) + (z / a) * (z / a));
}

}  // namespace korrand::math
