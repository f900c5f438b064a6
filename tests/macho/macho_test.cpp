// The cross-built macOS plug-in library, run here through the Mach-O loader: the loader's own
// checks below, and the whole plug-in suite (tests/plugin_test.cpp, linked in) on the same
// library, through c4d_main and the 1152-byte record, as the suite runs the library built here.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "macho_loader.h"
#include "test_support.h"

namespace {

std::string LibraryPath() {
    return LoadedPluginTest::Folder() + "/KorrandModifier.dylib";
}

class MachOImage : public LeakCheckedTest {};

// The library binds exactly what its text stub of libSystem lists, runs its one initialiser
// (which registers the resource's clean-up) and exports c4d_main under its Mach-O name.
TEST_F(MachOImage, BindsItsSystemImportsAndRunsItsInitialiser) {
    std::string error;
    auto image = macho::Image::Load(LibraryPath(), &error);
    ASSERT_TRUE(image) << error;
    std::vector<std::string> imported;
    for (const auto& [name, sites] : image->Imports()) {
        imported.push_back(name);
        EXPECT_EQ(sites, 1) << name;
    }
    const std::vector<std::string> expected = {
        "___bzero", "___cxa_atexit", "___stack_chk_fail", "___stack_chk_guard",
        "_memcpy",  "_memmove",      "dyld_stub_binder"};
    EXPECT_EQ(imported, expected);
    EXPECT_EQ(image->Initialisers(), 1);
    EXPECT_EQ(image->PendingCleanups(), 1);
    EXPECT_NE(image->Symbol("_c4d_main"), nullptr);
    EXPECT_EQ(image->Symbol("c4d_main"), nullptr);
}

// Unloading runs the clean-up the library registered: a resource still loaded (no end action
// came) is released then. The stored location is the end action's to release, so it stays, as
// it would when a host unloads without ending.
TEST_F(MachOImage, UnloadReleasesTheResourceTheEndActionDidNotRelease) {
    std::string error;
    auto image = macho::Image::Load(LibraryPath(), &error);
    ASSERT_TRUE(image) << error;
    auto main = reinterpret_cast<HostPluginMain>(image->Symbol("_c4d_main"));
    ASSERT_NE(main, nullptr);
    HostFilenameData where{};
    hostmodel::Table()->filename.Init(&where);
    hostmodel::SetPath(&where, LibraryPath());
    ASSERT_EQ(main(1, const_cast<HostFunctionTable*>(hostmodel::Table()), nullptr, &where), 1);
    hostmodel::Table()->filename.Free(&where);
    const int64_t located = hostmodel::LiveObjects();
    ASSERT_EQ(main(6, reinterpret_cast<void*>(intptr_t{1}), nullptr, nullptr), 1);
    EXPECT_GT(hostmodel::LiveObjects(), located);  // the resource and its folder
    image.reset();
    EXPECT_EQ(hostmodel::LiveObjects(), located);
    // What is left is the location's memory; the next load starts afresh.
    const std::vector<std::string> left = hostmodel::LiveBlockSites();
    ASSERT_EQ(left.size(), static_cast<size_t>(blocksAtStart_ + 1));
    EXPECT_EQ(std::count_if(left.begin(), left.end(),
                            [](const std::string& site) { return site.rfind("main:", 0) == 0; }),
              1);
    blocksAtStart_ += 1;
    objectsAtStart_ = located;
}

// Files that are not such a library are refused with the reason, before anything of them runs.
TEST_F(MachOImage, RefusesWhatIsNotAnX8664MachODylib) {
    std::ifstream in(LibraryPath(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 8192u);
    const std::string dir = ::testing::TempDir();
    auto write = [&](const std::string& name, const std::string& content) {
        std::ofstream(dir + name, std::ios::binary) << content;
        return dir + name;
    };
    std::string arm = bytes;
    arm[4] = 12;  // the header's CPU type: arm64 (0x0100000c) instead of x86-64 (0x01000007)
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/no/such/KorrandModifier.dylib", "No such file"},
        {write("macho-empty", ""), "not a Mach-O file"},
        {write("macho-text", "not a library at all\n"), "not a Mach-O file"},
        {write("macho-truncated", bytes.substr(0, 4096)), "Mach-O"},
        {write("macho-arm64", arm), "not an x86-64 Mach-O file"},
    };
    for (const auto& [path, why] : cases) {
        std::string error;
        EXPECT_FALSE(macho::Image::Load(path, &error)) << path;
        EXPECT_NE(error.find(why), std::string::npos) << path << ": " << error;
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Every plug-in the suite loads is the Mach-O library, through the loader.
    hostmodel::SetLibraryLoader(&macho::HostModelLoader());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
