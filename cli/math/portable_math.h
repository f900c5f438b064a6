// The transcendental functions of korrand's formats, with the same bits on every platform.
//
// The C library's sin, cos, atan2, hypot, ... are not exactly rounded, and glibc's and
// MinGW-w64's round some results differently in the last bit, so the same drawing came out of
// korrand and korrand.exe with different last digits. These are musl's implementations
// (third_party/musl, FreeBSD's msun for the trigonometry), compiled from the same source into
// every build with plain IEEE double operations, so every platform computes the same bits.
// sqrt, floor, ceil, fmod, round and the basic operations are exact in IEEE arithmetic and stay
// the C library's.
#pragma once

namespace korrand::math {

double Sin(double x);
double Cos(double x);
double Tan(double x);
double Asin(double x);
double Atan2(double y, double x);
double Hypot(double x, double y);
double Hypot(double x, double y, double z);
double Log10(double x);

}  // namespace korrand::math
