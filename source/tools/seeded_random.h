// The deterministic generator behind the jitter: a 31-bit linear congruential generator
// (multiplier 69069, increment 69069, modulus 2^31). Same seed, same values, bit for bit.
#ifndef KORRAND_SEEDED_RANDOM_H
#define KORRAND_SEEDED_RANDOM_H

#include "ge_types.h"
#include "platform.h"

class SeededRandom {
public:
    SeededRandom() : seed_(100u) {}

    // Keeps all 32 bits as given; bit 31 never reaches the sequence.
    void Seed(Int32 s) { seed_ = static_cast<UInt32>(s); }

    // [0, 1)
    Float NextUnit() { return Unit(Step()); }
    // [-1, 1)
    Float NextSigned() {
#if KORRAND_MACOS_ARITHMETIC
        // macOS x86-64 multiplies by 2 / 2147483649 rounded once: up to 2^-52 lower.
        return static_cast<Float>(Step()) * kSignedScale - 1.0;
#else
        return Unit(Step()) * 2.0 - 1.0;
#endif
    }

    UInt32 State() const {
        return seed_;
    }

private:
    UInt32 Step() {
        seed_ = ((seed_ + 1u) * 69069u) & 0x7FFFFFFFu;
        return seed_;
    }
    static constexpr Float kModulusPlusOne = 2147483649.0;  // 2^31 + 1
    static constexpr Float kSignedScale = 2.0 / kModulusPlusOne;
    static Float Unit(UInt32 s) {
        return static_cast<Float>(s) / kModulusPlusOne;
    }

    UInt32 seed_;
};

#endif
