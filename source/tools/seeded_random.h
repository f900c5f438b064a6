// The deterministic generator behind the jitter: a 31-bit linear congruential generator
// (multiplier 69069, increment 69069, modulus 2^31). Same seed, same values, bit for bit.
#ifndef KORRAND_SEEDED_RANDOM_H
#define KORRAND_SEEDED_RANDOM_H

#include "ge_types.h"

class SeededRandom {
public:
    SeededRandom() : seed_(100u) {}

    // Keeps all 32 bits as given; bit 31 never reaches the sequence.
    void Seed(Int32 s) { seed_ = static_cast<UInt32>(s); }

    // [0, 1)
    Float NextUnit() { return Unit(Step()); }
    // [-1, 1)
    Float NextSigned() { return Unit(Step()) * 2.0 - 1.0; }

    UInt32 State() const { return seed_; }

private:
    UInt32 Step() {
        seed_ = ((seed_ + 1u) * 69069u) & 0x7FFFFFFFu;
        return seed_;
    }
    static Float Unit(UInt32 s) { return static_cast<Float>(s) / 2147483649.0; }

    UInt32 seed_;
};

#endif
