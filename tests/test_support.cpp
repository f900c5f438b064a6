// The shared fixtures' set-up, tear-down and leak report.
#include "test_support.h"

void LeakCheckedTest::SetUp() {
    hostmodel::ResetFaults();
    blocksAtStart_ = hostmodel::Memory().liveBlocks;
    objectsAtStart_ = hostmodel::LiveObjects();
}

void LeakCheckedTest::TearDown() {
    hostmodel::ResetFaults();
    ExpectNothingLeaked();
}

void LeakCheckedTest::ExpectNothingLeaked() const {
    EXPECT_EQ(hostmodel::Memory().liveBlocks, blocksAtStart_) << [] {
        std::string s;
        for (const auto& site : hostmodel::LiveBlockSites()) s += site + " ";
        return s;
    }();
    EXPECT_EQ(hostmodel::LiveObjects(), objectsAtStart_);
}

std::string LoadedPluginTest::Folder() {
    return KORRAND_PLUGIN_FOLDER;
}

std::unique_ptr<hostmodel::Plugin> LoadedPluginTest::Load(const std::string& folder) {
    std::string error;
    auto p = hostmodel::Plugin::Load(folder, &error);
    EXPECT_TRUE(p) << error;
    return p;
}

void LoadedPluginTest::SetUp() {
    hostmodel::ClearRegistry();
    LeakCheckedTest::SetUp();
    if (setup_ == Setup::Nothing) return;
    plugin_ = Load();
    ASSERT_TRUE(plugin_);
    std::string error;
    ASSERT_TRUE(plugin_->Start(&error)) << error;
}

void LoadedPluginTest::TearDown() {
    plugin_.reset();
    LeakCheckedTest::TearDown();
}

hostmodel::Plugin::Instance LoadedPluginTest::NewModifier() {
    auto inst = plugin_->Create(ID_KORRAND);
    EXPECT_TRUE(inst);
    return inst ? *inst : hostmodel::Plugin::Instance{};
}

std::map<int32_t, StoredValue> InitDefaults(hostmodel::Plugin& plugin) {
    std::map<int32_t, StoredValue> out;
    auto inst = plugin.Create(ID_KORRAND);
    EXPECT_TRUE(inst);
    if (!inst) return out;
    const HostFunctionTable* t = hostmodel::Table();
    const HostContainer* bc = hostmodel::Container(inst->node);
    // Every id the resource could name; Init is expected to write some of them.
    for (int32_t id = KORRAND_COUNT; id < KORRAND_WEBLINK; ++id) {
        const auto type = hostmodel::TypeOf(bc, id);
        if (!type) continue;
        double v = 0.0;
        switch (*type) {
            case hostmodel::ValueType::Long:
                v = t->container.GetLong(bc, id, 0);
                break;
            case hostmodel::ValueType::Bool:
                v = t->container.GetBool(bc, id, 0);
                break;
            case hostmodel::ValueType::Real:
                v = t->container.GetReal(bc, id, 0.0);
                break;
        }
        out[id] = {*type, v};
    }
    plugin.Destroy(*inst);
    return out;
}
