#include "test_support.h"

#include "ge_types.h"

void HostTest::SetUp() {
    g_hostTable = hostmodel::Table();
    hostmodel::ResetFaults();
    blocksAtStart_ = hostmodel::Memory().liveBlocks;
    objectsAtStart_ = hostmodel::LiveObjects();
}

void HostTest::TearDown() {
    hostmodel::ResetFaults();
    ExpectNothingLeaked();
}

void HostTest::ExpectNothingLeaked() const {
    EXPECT_EQ(hostmodel::Memory().liveBlocks, blocksAtStart_) << [] {
        std::string s;
        for (const auto& site : hostmodel::LiveBlockSites()) s += site + " ";
        return s;
    }();
    EXPECT_EQ(hostmodel::LiveObjects(), objectsAtStart_);
}
