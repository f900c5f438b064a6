// Helpers shared by the tests that drive the plug-in's code against the host model.
#ifndef KORRAND_TEST_SUPPORT_H
#define KORRAND_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host_model.h"

// Installs the host model's table as the plug-in's host for white-box tests and checks, at
// the end of each test, that nothing the test's code created is still alive.
class HostTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Asserts no memory block and no host object beyond those alive at SetUp.
    void ExpectNothingLeaked() const;

    int64_t blocksAtStart_ = 0;
    int64_t objectsAtStart_ = 0;
};

inline uint64_t Bits(double d) {
    uint64_t u;
    std::memcpy(&u, &d, sizeof u);
    return u;
}

#endif
