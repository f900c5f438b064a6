// Fixtures shared by the test suites: the leak check, and the loaded plug-in it guards.
#ifndef KORRAND_TEST_SUPPORT_H
#define KORRAND_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host_model.h"
#include "okorrand.h"

// At the end of each test, no memory block and no host object beyond those alive at its start
// may be left, and the model's fault injection is off again.
class LeakCheckedTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Asserts no memory block and no host object beyond those alive at SetUp.
    void ExpectNothingLeaked() const;

    int64_t blocksAtStart_ = 0;
    int64_t objectsAtStart_ = 0;
};

// The built plug-in folder, loaded as a host loads it and reached only through c4d_main and
// the record it registers. SetUp loads and starts it (action 1, message 1, action 2) unless a
// suite that drives the actions on folders of its own says otherwise; TearDown unloads it
// before the leak check.
class LoadedPluginTest : public LeakCheckedTest {
public:
    static std::string Folder();
    // Loads a plug-in folder without starting it; fails the test when it cannot.
    static std::unique_ptr<hostmodel::Plugin> Load(const std::string& folder = Folder());

protected:
    enum class Setup { Started, Nothing };
    explicit LoadedPluginTest(Setup setup = Setup::Started) : setup_(setup) {}
    void SetUp() override;
    void TearDown() override;
    // A new modifier object, created and initialised by the plug-in; Destroy it before the end.
    hostmodel::Plugin::Instance NewModifier();
    HostContainer* Container(const hostmodel::Plugin::Instance& inst) const {
        return hostmodel::Container(inst.node);
    }

    std::unique_ptr<hostmodel::Plugin> plugin_;

private:
    Setup setup_;
};

// One value as Init stored it in a new modifier's container.
struct StoredValue {
    hostmodel::ValueType type;
    double value;  // booleans and integers converted
    bool operator==(const StoredValue& o) const { return type == o.type && value == o.value; }
};
// What the plug-in's Init writes, by parameter id, read from a new object of a started plug-in.
// Ids are those of the description resource and the plug-in's header.
std::map<int32_t, StoredValue> InitDefaults(hostmodel::Plugin& plugin);

// White-box suites compile the plug-in's own code against the model: they install the model's
// table as the plug-in's host.
#if __has_include("ge_types.h")
#include "ge_types.h"
class HostTest : public LeakCheckedTest {
protected:
    void SetUp() override {
        g_hostTable = hostmodel::Table();
        LeakCheckedTest::SetUp();
    }
};
#endif

inline uint64_t Bits(double d) {
    uint64_t u;
    std::memcpy(&u, &d, sizeof u);
    return u;
}

#endif
