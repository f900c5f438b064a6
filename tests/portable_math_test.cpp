// korrand::math computes the same bits in every build: the results of a few hundred fixed
// arguments per function are pinned as a digest of their bits, computed once; the Windows build
// runs this test under Wine, so a build whose results differ in one bit of one result fails.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

#include "portable_math.h"

namespace {

namespace m = korrand::math;
constexpr double kPi = 3.141592653589793;

uint64_t Bits(double x) {
    uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

#ifdef __GLIBC__
// The distance in units in the last place between two finite doubles of one sign.
uint64_t Ulps(double a, double b) {
    const auto key = [](double x) {
        const uint64_t u = Bits(x);
        return u >> 63 ? ~u + 1 : u | (uint64_t{1} << 63);  // ordered like the values
    };
    const uint64_t ka = key(a), kb = key(b);
    return ka > kb ? ka - kb : kb - ka;
}
#endif

// Fixed arguments: special values, then doubles of every sign with exponents drawn in
// [lowExponent, highExponent] and random mantissas, from a fixed generator.
std::vector<double> Arguments(int lowExponent, int highExponent, uint64_t seed, int count = 300) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    std::vector<double> args{0.0,  -0.0, inf, -inf, std::nan(""), DBL_MIN, -DBL_MIN, DBL_MAX, 1.0,
                             -1.0, 0.5,  2.0, 10.0, 1e-310,       kPi,     kPi / 2,  kPi / 4};
    uint64_t s = seed;
    const auto next = [&s] {  // xorshift64*
        s ^= s >> 12;
        s ^= s << 25;
        s ^= s >> 27;
        return s * 0x2545F4914F6CDD1DULL;
    };
    while (static_cast<int>(args.size()) < count) {
        const uint64_t r = next();
        const int exponent =
            lowExponent +
            static_cast<int>(r % static_cast<uint64_t>(highExponent - lowExponent + 1));
        const double mantissa = 1 + static_cast<double>(next() >> 11) * 0x1p-53;
        args.push_back(std::ldexp((r >> 40) & 1 ? -mantissa : mantissa, exponent));
    }
    return args;
}

// FNV-1a over the results' bits.
struct Digest {
    uint64_t value = 0xcbf29ce484222325ULL;
    void Add(double x) {
        const uint64_t b = Bits(x);
        for (int i = 0; i < 8; ++i) value = (value ^ ((b >> (8 * i)) & 0xff)) * 0x100000001b3ULL;
    }
};

struct Case {
    const char* name;
    std::function<double(double, double, double)> ours, library;
    uint64_t ulps;  // how far from the C library's result ours may be
    std::vector<double> args;
    uint64_t digest;
};

TEST(PortableMath, TheSameBitsInEveryBuildAndWithinAnUlpOfTheCLibrary) {
    // Angles in whole degrees as SVG transforms give them, and radians of every size (up to the
    // large reduction of 2^1000); a sine and cosine's inputs, arcs' ratios, lengths, steps.
    std::vector<double> angles = Arguments(-30, 40, 1);
    for (int degrees = -720; degrees <= 720; degrees += 15) angles.push_back(degrees * (kPi / 180));
    angles.push_back(0x1p1000);
    const std::vector<Case> cases = {
        {"Sin", [](double x, double, double) { return m::Sin(x); },
         [](double x, double, double) { return std::sin(x); }, 1, angles, 0xc5d1d78e0f885ee6ULL},
        {"Cos", [](double x, double, double) { return m::Cos(x); },
         [](double x, double, double) { return std::cos(x); }, 1, angles, 0xa73835f6fc6c383aULL},
        {"Tan", [](double x, double, double) { return m::Tan(x); },
         [](double x, double, double) { return std::tan(x); }, 1, angles, 0xddc3dbc8ca50b80aULL},
        {"Asin", [](double x, double, double) { return m::Asin(x); },
         [](double x, double, double) { return std::asin(x); }, 1, Arguments(-40, 0, 2),
         0xb70d682e7649a2faULL},
        {"Atan2", [](double y, double x, double) { return m::Atan2(y, x); },
         [](double y, double x, double) { return std::atan2(y, x); }, 1, Arguments(-60, 60, 3),
         0x0679e60a7887263eULL},
        {"Hypot", [](double x, double y, double) { return m::Hypot(x, y); },
         [](double x, double y, double) { return std::hypot(x, y); }, 1, Arguments(-1074, 1023, 4),
         0x1fcc1d0790c6f6acULL},
        {"Hypot3", [](double x, double y, double z) { return m::Hypot(x, y, z); },
         [](double x, double y, double z) {
             if (std::isinf(x) || std::isinf(y) || std::isinf(z)) return HUGE_VAL;
             const long double lx = x, ly = y, lz = z;
             return static_cast<double>(std::sqrt(lx * lx + ly * ly + lz * lz));
         },
         3, Arguments(-300, 300, 5), 0x0725b5869bd66df4ULL},
        {"Log10", [](double x, double, double) { return m::Log10(x); },
         [](double x, double, double) { return std::log10(x); }, 1, Arguments(-1074, 1023, 6),
         0x53f0babe51159610ULL},
    };
    for (const Case& c : cases) {
        Digest digest;
        const std::size_t n = c.args.size();
        for (std::size_t i = 0; i < n; ++i) {
            // Two- and three-argument functions pair each argument with the next ones.
            const double x = c.args[i], y = c.args[(i + 1) % n], z = c.args[(i + 2) % n];
            const double ours = c.ours(x, y, z);
            digest.Add(ours);
#ifdef __GLIBC__
            // Close to glibc's (MinGW-w64's sin and cos are not, far from zero).
            const double library = c.library(x, y, z);
            if (std::isnan(library))
                EXPECT_TRUE(std::isnan(ours))
                    << c.name << "(" << x << ", " << y << ", " << z << ")";
            else if (std::isinf(library) || library == 0)
                EXPECT_EQ(Bits(ours), Bits(library)) << c.name << "(" << x << ", " << y << ")";
            else
                EXPECT_LE(Ulps(ours, library), c.ulps)
                    << c.name << "(" << x << ", " << y << ", " << z << "): " << ours << " against "
                    << library;
#endif
        }
        EXPECT_EQ(digest.value, c.digest) << c.name << ": 0x" << std::hex << digest.value;
    }
}

}  // namespace
