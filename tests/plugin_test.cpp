// The built plug-in library, loaded as a host loads it and driven only through c4d_main and
// the registration record it hands over.
#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "host_model.h"
#include "line_dash.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

// A host Filename holding a path, as the host passes the library's location.
struct HostPath {
    explicit HostPath(const std::string& p) {
        hostmodel::Table()->filename.Init(&data);
        hostmodel::SetPath(&data, p);
    }
    ~HostPath() { hostmodel::Table()->filename.Free(&data); }
    HostFilenameData data{};
};

// A copy of the plug-in folder without some of its files.
struct FolderCopy {
    explicit FolderCopy(const std::vector<std::string>& drop) {
        static int n = 0;
        path = (fs::temp_directory_path() /
                ("korrand-plugin-" + std::to_string(::getpid()) + "-" + std::to_string(++n)))
                   .string();
        fs::remove_all(path);
        fs::copy(LoadedPluginTest::Folder(), path, fs::copy_options::recursive);
        for (const auto& d : drop) fs::remove_all(fs::path(path) / d);
    }
    ~FolderCopy() { fs::remove_all(path); }
    std::string path;
};

void* Msg(intptr_t id) {
    return reinterpret_cast<void*>(id);
}

// Each test loads the plug-in folder, or a copy of it, and drives the actions itself.
class PluginTest : public LoadedPluginTest {
protected:
    PluginTest() : LoadedPluginTest(Setup::Nothing) {}
};

}  // namespace

TEST_F(PluginTest, SystemInitialisationChecksTheHost) {
    auto p = Load();
    const std::string lib = p->LibraryPath();
    HostFunctionTable old = hostmodel::MakeTable();
    old.version = 12999;
    HostPath where(lib);
    EXPECT_EQ(p->Main(1, &old, nullptr, &where.data), -3);
    EXPECT_EQ(p->Main(3, nullptr, nullptr, nullptr), 1);

    // Null location: refused even with a recent host.
    EXPECT_EQ(p->Main(1, const_cast<HostFunctionTable*>(hostmodel::Table()), nullptr, nullptr), -3);
    EXPECT_EQ(p->Main(3, nullptr, nullptr, nullptr), 1);

    EXPECT_EQ(p->Main(1, const_cast<HostFunctionTable*>(hostmodel::Table()), nullptr, &where.data),
              1);
    // A second initialisation only counts: its arguments are never read.
    EXPECT_EQ(p->Main(1, Msg(1), nullptr, Msg(1)), 1);
    EXPECT_EQ(p->Main(6, Msg(1), nullptr, nullptr), 1);  // resource loaded
    EXPECT_GT(hostmodel::LiveObjects(), objectsAtStart_);
    EXPECT_EQ(p->Main(3, nullptr, nullptr, nullptr), 1);
    // Still one initialisation open: nothing released yet.
    EXPECT_GT(hostmodel::LiveObjects(), objectsAtStart_);
    EXPECT_EQ(p->Main(3, nullptr, nullptr, nullptr), 1);
    // Everything released but the test's own file name.
    EXPECT_EQ(hostmodel::LiveObjects(), objectsAtStart_ + 1);
    EXPECT_EQ(hostmodel::Memory().liveBlocks, blocksAtStart_);
}

TEST_F(PluginTest, ActionsAndMessagesAnswerAsDocumented) {
    auto p = Load();
    HostPath where(p->LibraryPath());
    ASSERT_EQ(p->Main(1, const_cast<HostFunctionTable*>(hostmodel::Table()), nullptr, &where.data),
              1);
    EXPECT_EQ(p->Main(4, nullptr, nullptr, nullptr), 5);
    for (int32_t action : {0, 5, 7, 100, -1})
        EXPECT_EQ(p->Main(action, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(p->Main(6, Msg(0), nullptr, nullptr), 1);
    EXPECT_EQ(p->Main(6, Msg(2), nullptr, nullptr), -1);
    EXPECT_EQ(p->Main(6, Msg(1), nullptr, nullptr), 1);
    // Only the low 32 bits of the message id count.
    EXPECT_EQ(p->Main(6, Msg(static_cast<intptr_t>((int64_t{1} << 32) | 1)), nullptr, nullptr), 1);
    EXPECT_EQ(p->Main(3, nullptr, nullptr, nullptr), 1);
}

TEST_F(PluginTest, RegistersTheModifierWithNameIconAndEntries) {
    auto p = Load();
    std::string error;
    ASSERT_TRUE(p->Start(&error)) << error;
    const hostmodel::Registration* reg = p->Find(ID_KORRAND);
    ASSERT_NE(reg, nullptr);
    EXPECT_EQ(reg->name, "Wendrix Korrand Modifier");
    EXPECT_EQ(reg->version, 13000);
    EXPECT_EQ(reg->kind, 5);
    EXPECT_EQ(reg->record.node.info, 129);
    EXPECT_EQ(reg->record.node.diskLevel, 0);
    EXPECT_EQ(reg->description, "okorrand");
    EXPECT_TRUE(reg->hasIcon);
    EXPECT_EQ(reg->iconWidth, 64);
    EXPECT_EQ(reg->iconHeight, 64);
    EXPECT_EQ(reg->recordSize, static_cast<int32_t>(sizeof(HostObjectPluginRecord)));

    // Entries 2..24, 26, 27 and 28 with info flags 129; none for 25, 29 and 30..32.
    const auto& n = reg->record.node;
    const auto& o = reg->record;
    const std::vector<std::pair<int, bool>> entries = {
        {2, n.Init.function != nullptr},
        {3, n.Free.function != nullptr},
        {4, n.Read.function != nullptr},
        {5, n.Write.function != nullptr},
        {6, n.Message.function != nullptr},
        {7, n.CopyTo.function != nullptr},
        {8, n.GetBubbleHelp.function != nullptr},
        {9, n.GetDocument.function != nullptr},
        {10, n.GetBranchInfo.function != nullptr},
        {11, n.IsInstanceOf.function != nullptr},
        {12, n.GetDDescription.function != nullptr},
        {13, n.GetDParameter.function != nullptr},
        {14, n.SetDParameter.function != nullptr},
        {15, n.GetDEnabling.function != nullptr},
        {16, n.TranslateDescID.function != nullptr},
        {17, n.IsDocumentRelated.function != nullptr},
        {18, o.GetDimension.function != nullptr},
        {19, o.Draw.function != nullptr},
        {20, o.DetectHandle.function != nullptr},
        {21, o.MoveHandle.function != nullptr},
        {22, o.Execute.function != nullptr},
        {23, o.AddToExecution.function != nullptr},
        {24, o.GetModelingAxis.function != nullptr},
        {25, o.GetVirtualObjects.function != nullptr},
        {26, o.ModifyObject.function != nullptr},
        {27, o.CheckDirty.function != nullptr},
        {28, o.GetContour.function != nullptr},
        {29, o.ModifyParticles.function != nullptr},
        {30, o.GetHandleCount.function != nullptr},
        {31, o.GetHandle.function != nullptr},
        {32, o.SetHandle.function != nullptr}};
    const std::set<int> expected = {2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14,
                                    15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 26, 27, 28};
    for (const auto& [op, filled] : entries) EXPECT_EQ(filled, expected.count(op) == 1) << op;
    EXPECT_NE(n.Alloc, nullptr);
    EXPECT_NE(n.Destroy, nullptr);
}

TEST_F(PluginTest, WithoutResourceTheNameHasTwoBlanksAndLoadIsNotRetried) {
    FolderCopy noStrings({"res/strings_en"});
    auto p = Load(noStrings.path);
    HostPath where(p->LibraryPath());
    ASSERT_EQ(p->Main(1, const_cast<HostFunctionTable*>(hostmodel::Table()), nullptr, &where.data),
              1);
    hostmodel::StartRecording();
    EXPECT_EQ(p->Main(6, Msg(1), nullptr, nullptr), -1);
    EXPECT_EQ(p->Main(6, Msg(1), nullptr, nullptr), -1);
    int loads = 0;
    for (const auto& c : hostmodel::StopRecording()) loads += c.op == "resource.Load";
    EXPECT_EQ(loads, 1);
    EXPECT_EQ(p->Main(2, nullptr, nullptr, nullptr), 1);
    const hostmodel::Registration* reg = p->Find(ID_KORRAND);
    ASSERT_NE(reg, nullptr);
    EXPECT_EQ(reg->name, "Wendrix  Modifier");
    p->Main(3, nullptr, nullptr, nullptr);
}

TEST_F(PluginTest, StartMakesTheNameThenTheIconInOrder) {
    auto p = Load();
    HostPath where(p->LibraryPath());
    ASSERT_EQ(p->Main(1, const_cast<HostFunctionTable*>(hostmodel::Table()), nullptr, &where.data),
              1);
    ASSERT_EQ(p->Main(6, Msg(1), nullptr, nullptr), 1);
    hostmodel::StartRecording();
    ASSERT_EQ(p->Main(2, nullptr, nullptr, nullptr), 1);
    const auto calls = hostmodel::StopRecording();
    p->Main(3, nullptr, nullptr, nullptr);

    // Each string by its handle, named in the order it was first made.
    std::map<const void*, std::string> names;
    const char* kNames[] = {"suffix", "prefix", "joined", "name", "icon file", "description"};
    size_t made = 0;
    std::vector<std::string> seen;
    for (const auto& c : calls) {
        if (c.op == "string.Init" && made < std::size(kNames)) names[c.handle] = kNames[made++];
        const auto it = names.find(c.handle);
        const std::string who = it != names.end() ? it->second : "?";
        if (c.op == "string.Init" || c.op == "string.Free" || c.op == "string.SetCString" ||
            c.op == "string.Insert" || c.op == "string.Assign")
            seen.push_back(c.op.substr(7) + " " + who);
        else if (c.op == "resource.GetString")
            seen.push_back("GetString " + std::to_string(c.ints.at(0)));
        else if (c.op == "bitmap.Init")
            seen.push_back("bitmap.Init frame " + std::to_string(c.ints.at(0)) + " movie flag " +
                           std::to_string(c.ints.at(1)));
        else if (c.op == "registration.RegisterPlugin" || c.op == "bitmap.Free")
            seen.push_back(c.op);
    }
    const std::vector<std::string> expected = {"Init suffix",
                                               "SetCString suffix",
                                               "Init prefix",
                                               "SetCString prefix",
                                               "GetString 10000",
                                               "Init joined",
                                               "Assign joined",
                                               "Insert joined",
                                               "Init name",
                                               "Assign name",
                                               "Insert name",
                                               "Free joined",
                                               "Free prefix",
                                               "Free suffix",
                                               "Init icon file",
                                               "SetCString icon file",
                                               "Init description",
                                               "SetCString description",
                                               "bitmap.Init frame -1 movie flag 0",
                                               "registration.RegisterPlugin",
                                               "bitmap.Free",
                                               "Free description",
                                               "Free icon file",
                                               "Free name"};
    // Only the calls named above, in order; the file names and the description's own calls in
    // between are left out.
    std::vector<std::string> filtered;
    for (const auto& e : seen)
        if (e.find('?') == std::string::npos) filtered.push_back(e);
    EXPECT_EQ(filtered, expected);
}

TEST_F(PluginTest, MissingIconRegistersWithoutOne) {
    FolderCopy noIcon({"res/korrand.tif"});
    auto p = Load(noIcon.path);
    std::string error;
    ASSERT_TRUE(p->Start(&error)) << error;
    const hostmodel::Registration* reg = p->Find(ID_KORRAND);
    ASSERT_NE(reg, nullptr);
    EXPECT_FALSE(reg->hasIcon);
}

TEST_F(PluginTest, FailedDescriptionLeavesTheTypeUnregistered) {
    {
        FolderCopy noDescription({"res/description"});
        auto p = Load(noDescription.path);
        std::string error;
        ASSERT_TRUE(p->Start(&error)) << error;  // start still answers 1
        EXPECT_EQ(p->Find(ID_KORRAND), nullptr);
    }
    {
        // A host without the description service.
        HostFunctionTable table = hostmodel::MakeTable();
        table.registration.RegisterDescription = nullptr;
        auto p = Load();
        std::string error;
        ASSERT_TRUE(p->Start(&table, &error)) << error;
        EXPECT_EQ(p->Find(ID_KORRAND), nullptr);
    }
}

namespace {
// The host's RegisterPlugin, handed the plug-in's record as if it were of the other platform's
// width: as a library built for the other platform would register.
int32_t RegisterAtTheOtherWidth(int32_t version, int32_t kind, int32_t id,
                                const HostStringData* name, void* record, int32_t size) {
    const int32_t other = HOST_OBJECT_RECORD_SIZE == HOST_OBJECT_RECORD_SIZE_MACOS
                              ? HOST_OBJECT_RECORD_SIZE_WINDOWS
                              : HOST_OBJECT_RECORD_SIZE_MACOS;
    std::vector<unsigned char> bytes(static_cast<size_t>(std::max(size, other)), 0);
    std::memcpy(bytes.data(), record, static_cast<size_t>(size));
    return hostmodel::Table()->registration.RegisterPlugin(version, kind, id, name, bytes.data(),
                                                           other);
}
}  // namespace

TEST_F(PluginTest, ARecordOfTheOtherPlatformsWidthIsRefusedAndStartSaysWhy) {
    std::string error;
    {
        HostFunctionTable table = hostmodel::MakeTable();
        table.registration.RegisterPlugin = RegisterAtTheOtherWidth;
        auto p = Load();
        EXPECT_FALSE(p->Start(&table, &error));
        EXPECT_EQ(p->Find(ID_KORRAND), nullptr);
    }
    EXPECT_NE(error.find("registration of plug-in 1027780 refused"), std::string::npos) << error;
    EXPECT_NE(error.find("this host reads records of " + std::to_string(HOST_OBJECT_RECORD_SIZE) +
                         " bytes"),
              std::string::npos)
        << error;

    // The plug-in's own record, at this platform's width, is taken.
    auto p = Load();
    ASSERT_TRUE(p->Start(&error)) << error;
    ASSERT_NE(p->Find(ID_KORRAND), nullptr);
    EXPECT_EQ(p->Find(ID_KORRAND)->recordSize, HOST_OBJECT_RECORD_SIZE);
}

TEST_F(PluginTest, ObjectsLiveThroughTheRecord) {
    auto p = Load();
    std::string error;
    ASSERT_TRUE(p->Start(&error)) << error;
    const hostmodel::Registration* reg = p->Find(ID_KORRAND);
    ASSERT_NE(reg, nullptr);

    auto inst = p->Create(ID_KORRAND);
    ASSERT_TRUE(inst);
    HostContainer* bc = hostmodel::Container(inst->node);
    // Init overwrites the defaults and leaves other ids alone.
    const HostFunctionTable* t = hostmodel::Table();
    const std::map<int32_t, StoredValue> defaults = InitDefaults(*p);
    ASSERT_EQ(defaults.count(KORRAND_COUNT), 1u);
    for (const auto& [id, v] : defaults) {
        if (v.type == hostmodel::ValueType::Real)
            t->container.SetLong(bc, id, -7);
        else
            t->container.SetReal(bc, id, 5.5);
    }
    t->container.SetLong(bc, 4242, 7);
    ASSERT_EQ(hostmodel::CallOperation(reg->record.node.Init, inst->data, inst->node), 1);
    for (const auto& [id, v] : defaults) {
        ASSERT_EQ(hostmodel::TypeOf(bc, id), v.type) << id;
        EXPECT_EQ(t->container.GetReal(bc, id, -1.0), v.value) << id;
    }
    EXPECT_EQ(t->container.GetLong(bc, 4242, 0), 7);
    EXPECT_FALSE(hostmodel::Has(bc, 1007));
    EXPECT_FALSE(hostmodel::Has(bc, 1010));

    // The web-page button opens one page; anything else opens nothing. Both answer true.
    hostmodel::ClearOpenedAddresses();
    HostDescIDData button{}, other{};
    t->descid.InitLevel(&button, KORRAND_WEBLINK, 0, 0);
    t->descid.InitLevel(&other, KORRAND_COUNT, 0, 0);
    HostDescriptionCommand pressButton{&button}, pressOther{&other};
    EXPECT_EQ(p->Message(*inst, 19, &pressButton), 1);
    EXPECT_EQ(hostmodel::OpenedAddresses().size(), 1u);
    EXPECT_EQ(p->Message(*inst, 19, &pressOther), 1);
    EXPECT_EQ(p->Message(*inst, 5, nullptr), 1);
    EXPECT_EQ(hostmodel::OpenedAddresses().size(), 1u);
    t->descid.Free(&button);
    t->descid.Free(&other);

    // A non-line object comes back untouched without the container being read.
    HostAtom* poly = hostmodel::NewObject(hostmodel::Opolygon);
    hostmodel::StartRecording();
    EXPECT_TRUE(p->Modify(*inst, poly));
    for (const auto& c : hostmodel::StopRecording())
        EXPECT_EQ(c.op.rfind("container.", 0), std::string::npos) << c.op;
    hostmodel::FreeObject(poly);

    // A line object is dashed through the record's modify entry.
    HostAtom* line = hostmodel::NewLineObject({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}, {3});
    EXPECT_TRUE(p->Modify(*inst, line));
    EXPECT_EQ(hostmodel::Segments(line).size(),
              static_cast<size_t>(defaults.at(KORRAND_COUNT).value));
    hostmodel::FreeObject(line);

    // Base behaviour of inherited operations, through their entries.
    using hostmodel::CallOperation;
    EXPECT_EQ(CallOperation(reg->record.DetectHandle, inst->data, inst->node, nullptr, 0, 0, 0),
              -1);
    EXPECT_EQ(CallOperation(reg->record.Draw, inst->data, inst->node, 2, nullptr, nullptr), 2);
    EXPECT_EQ(CallOperation(reg->record.node.Read, inst->data, inst->node, nullptr, 0), 1);
    EXPECT_EQ(CallOperation(reg->record.GetContour, inst->data, inst->node, nullptr, 1.0, nullptr),
              nullptr);

    reg->record.node.Destroy(nullptr);  // does nothing
    p->Destroy(*inst);
    p->Shutdown();
}

TEST_F(PluginTest, AllocationFailuresDuringStartUpAreSurvived) {
    // Count the host allocations of a whole life, then fail each in turn.
    int64_t total = 0;
    {
        auto p = Load();
        const int64_t before = hostmodel::AllocationCount() + hostmodel::ObjectAllocationCount();
        std::string error;
        ASSERT_TRUE(p->Start(&error));
        auto inst = p->Create(ID_KORRAND);
        ASSERT_TRUE(inst);
        p->Destroy(*inst);
        p->Shutdown();
        total = hostmodel::AllocationCount() + hostmodel::ObjectAllocationCount() - before;
    }
    ASSERT_GE(total, 4);
    for (int kind = 0; kind < 2; ++kind) {
        for (int64_t i = 1; i <= total; ++i) {
            auto p = Load();
            if (kind == 0)
                hostmodel::FailAllocationNumber(i);
            else
                hostmodel::FailObjectAllocations(i);
            std::string error;
            EXPECT_TRUE(p->Start(&error)) << error;
            if (auto inst = p->Create(ID_KORRAND)) p->Destroy(*inst);
            hostmodel::ResetFaults();
            p->Shutdown();
            p.reset();
            EXPECT_EQ(hostmodel::Memory().liveBlocks, blocksAtStart_) << kind << ":" << i;
            EXPECT_EQ(hostmodel::LiveObjects(), objectsAtStart_) << kind << ":" << i;
        }
    }
}

// Each allocation of a whole life (start-up, registration, one object, shutdown), memory blocks
// and host objects counted apart, fails in turn; every failure ends in the result the failure
// rules promise for that allocation, and leaves nothing behind.
TEST_F(PluginTest, EachAllocationOfALifeFailingGivesItsPromisedResult) {
    struct Life {
        bool started = false;
        const hostmodel::Registration* reg = nullptr;
        bool created = false;
        std::vector<hostmodel::Call> calls;
    };
    auto live = [](hostmodel::Plugin& p) {
        Life life;
        hostmodel::StartRecording();
        std::string error;
        life.started = p.Start(&error);
        life.reg = p.Find(ID_KORRAND);
        if (auto inst = p.Create(ID_KORRAND)) {
            life.created = true;
            p.Destroy(*inst);
        }
        p.Shutdown();
        life.calls = hostmodel::StopRecording();
        return life;
    };
    auto failedCalls = [](const Life& life, const std::string& prefix) {
        std::vector<hostmodel::Call> out;
        for (const auto& c : life.calls)
            if (c.op.rfind(prefix, 0) == 0 && c.op.find("Alloc") != std::string::npos &&
                c.handle == nullptr)
                out.push_back(c);
        return out;
    };
    auto resourceLoads = [](const Life& life) {
        std::vector<std::string> folders;
        for (const auto& c : life.calls)
            if (c.op == "resource.Load") folders.push_back(c.text);
        return folders;
    };

    int64_t memTotal = 0, objTotal = 0;
    std::string folder;
    {
        auto p = Load();
        folder = p->Folder();
        const int64_t mem = hostmodel::AllocationCount(), obj = hostmodel::ObjectAllocationCount();
        const Life life = live(*p);
        memTotal = hostmodel::AllocationCount() - mem;
        objTotal = hostmodel::ObjectAllocationCount() - obj;
        ASSERT_TRUE(life.started && life.reg && life.created);
        EXPECT_EQ(life.reg->name, "Wendrix Korrand Modifier");
        EXPECT_EQ(resourceLoads(life), std::vector<std::string>{folder});
    }
    // The library's location, the resource's folder and the object's memory; the icon bitmap.
    ASSERT_EQ(memTotal, 3);
    ASSERT_EQ(objTotal, 1);

    int injected = 0;
    for (int kind = 0; kind < 2; ++kind) {
        for (int64_t i = 1; i <= (kind == 0 ? memTotal : objTotal); ++i) {
            SCOPED_TRACE((kind == 0 ? "memory allocation " : "object allocation ") +
                         std::to_string(i));
            {
                auto p = Load();
                if (kind == 0)
                    hostmodel::FailAllocationNumber(i);
                else
                    hostmodel::FailObjectAllocations(i);
                const Life life = live(*p);
                hostmodel::ResetFaults();
                // The failure happened, exactly once, and start-up answered as always.
                const auto failed = failedCalls(life, kind == 0 ? "memory." : "bitmap.");
                ASSERT_EQ(failed.size(), 1u);
                ++injected;
                EXPECT_TRUE(life.started);
                // The type is registered whatever failed, with its description.
                ASSERT_NE(life.reg, nullptr);
                EXPECT_EQ(life.reg->description, "okorrand");
                const std::string site = kind == 0 ? failed[0].text : "icon";
                if (site == "main") {
                    // No stored location: the plug-in folder is empty, so the resource is
                    // looked for there (and not found) and so is the icon.
                    EXPECT_EQ(resourceLoads(life), std::vector<std::string>{""});
                    EXPECT_EQ(life.reg->name, "Wendrix  Modifier");
                    EXPECT_FALSE(life.reg->hasIcon);
                    EXPECT_TRUE(life.created);
                } else if (site == "registration") {
                    // No holder for the resource's folder: the resource is not loaded at all.
                    EXPECT_TRUE(resourceLoads(life).empty());
                    EXPECT_EQ(life.reg->name, "Wendrix  Modifier");
                    EXPECT_TRUE(life.reg->hasIcon);
                    EXPECT_TRUE(life.created);
                } else if (site == "korrand") {
                    // No memory for the object: Create yields nothing; the type is unharmed.
                    EXPECT_EQ(life.reg->name, "Wendrix Korrand Modifier");
                    EXPECT_TRUE(life.reg->hasIcon);
                    EXPECT_FALSE(life.created);
                } else if (site == "icon") {
                    EXPECT_EQ(life.reg->name, "Wendrix Korrand Modifier");
                    EXPECT_FALSE(life.reg->hasIcon);
                    EXPECT_TRUE(life.created);
                } else {
                    ADD_FAILURE() << "an allocation nobody expected, from " << site;
                }
            }
            EXPECT_EQ(hostmodel::Memory().liveBlocks, blocksAtStart_);
            EXPECT_EQ(hostmodel::LiveObjects(), objectsAtStart_);
        }
    }
    EXPECT_EQ(injected, memTotal + objTotal);
    std::printf("%d allocation failures injected over one plug-in life\n", injected);
}

// The description resource names every parameter the plug-in's header numbers, with the type
// and the default that Init writes, and the button last.
class PluginDescription : public LoadedPluginTest {};

TEST_F(PluginDescription, ListsEveryParameterOfTheObjectWithInitsDefaults) {
    std::string error;
    auto d = hostmodel::ReadDescription(Folder(), "okorrand", &error);
    ASSERT_TRUE(d) << error;
    const std::vector<std::pair<int32_t, const char*>> names = {
        {KORRAND_COUNT, "KORRAND_COUNT"},
        {KORRAND_RELATIVE, "KORRAND_RELATIVE"},
        {KORRAND_SUBDIVISION, "KORRAND_SUBDIVISION"},
        {KORRAND_OFFSET, "KORRAND_OFFSET"},
        {KORRAND_CLOSED, "KORRAND_CLOSED"},
        {KORRAND_START, "KORRAND_START"},
        {KORRAND_END, "KORRAND_END"},
        {KORRAND_SEED, "KORRAND_SEED"},
        {KORRAND_JITTER, "KORRAND_JITTER"},
        {KORRAND_RESERVED_1011, "KORRAND_RESERVED_1011"}};
    const std::map<int32_t, StoredValue> defaults = InitDefaults(*plugin_);
    ASSERT_EQ(defaults.size(), names.size());
    ASSERT_EQ(d->parameters.size(), names.size() + 1);
    for (size_t i = 0; i < names.size(); ++i) {
        const auto& p = d->parameters[i];
        EXPECT_EQ(p.id, names[i].first);
        EXPECT_EQ(p.name, names[i].second);
        ASSERT_EQ(defaults.count(p.id), 1u) << p.name;
        const StoredValue& init = defaults.at(p.id);
        const hostmodel::ParameterType type =
            init.type == hostmodel::ValueType::Long   ? hostmodel::ParameterType::Long
            : init.type == hostmodel::ValueType::Bool ? hostmodel::ParameterType::Bool
                                                      : hostmodel::ParameterType::Real;
        EXPECT_EQ(p.type, type) << p.name;
        ASSERT_TRUE(p.def);
        EXPECT_EQ(*p.def, init.value) << p.name;
        if (p.type != hostmodel::ParameterType::Bool) {
            ASSERT_TRUE(p.min && p.max) << p.name;
            EXPECT_FALSE(p.why.empty()) << p.name;
        }
    }
    EXPECT_EQ(d->parameters.back().id, KORRAND_WEBLINK);
    EXPECT_EQ(d->parameters.back().type, hostmodel::ParameterType::Button);
    // 2 * count must stay inside 32 bits.
    EXPECT_LE(*d->parameters[0].max * 2, 2147483647.0);
}

// The one path by which hosts dash a line object: the layers of settings go into the modifier
// in one order, each over the ones before, the subdivision is chosen from what they hold, and
// what goes wrong is said naming the object.
class HostDashPath : public LoadedPluginTest {
protected:
    HostDashPath() : LoadedPluginTest(Setup::Nothing) {}
};

TEST_F(HostDashPath, LayersGoInOneOrderAndTheDashesComeOut) {
    std::string error;
    auto modifier = hostmodel::ModifierPlugin::Open(Folder(), &error);
    ASSERT_TRUE(modifier) << error;
    {
        hostmodel::LineDasher dasher(*modifier);
        const hostmodel::Parameter& count = *modifier->ByKey("count");
        const auto load = [&](const char* key) {
            return hostmodel::Load(dasher.container(), *modifier->ByKey(key));
        };
        hostmodel::LineSettings layers;
        layers.object = "'fence'";
        layers.stored = {{"KORRAND_COUNT", hostmodel::Value::Int(5)},
                         {"1001", hostmodel::Value::Bool(true)}};
        layers.decided = {{"count", 7}, {"closed", 0}};
        double seen = -1;
        layers.chooseSubdivision = [&](const HostContainer* bc) {
            seen = hostmodel::Load(bc, count);
            return std::optional<int64_t>(6);
        };
        EXPECT_EQ(dasher.Apply(layers), std::optional<int64_t>(6));
        EXPECT_EQ(seen, 7);  // decided over stored, chosen from both
        EXPECT_EQ(load("relative"), 1);
        EXPECT_EQ(load("subdivision"), 6);
        const hostmodel::Settings given{{"count", 9}, {"relative", 0}};
        layers.given = &given;
        EXPECT_EQ(dasher.Apply(layers), std::optional<int64_t>(6));
        EXPECT_EQ(seen, 9);  // given over decided
        const hostmodel::Settings subdivision{{"subdivision", 2}};
        layers.given = &subdivision;
        EXPECT_EQ(dasher.Apply(layers), std::nullopt);  // given, not chosen
        EXPECT_EQ(load("subdivision"), 2);

        // Two open segments: nine dashes each, as the layers say.
        layers.given = &given;
        dasher.Apply(layers);
        const int32_t counts[] = {2, 3};
        HostVector* points = dasher.Input(counts, 2, 5);
        const HostVector in[] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {2, 2, 0}};
        std::copy(std::begin(in), std::end(in), points);
        const hostmodel::Dashes& dashes = dasher.Dash();
        EXPECT_TRUE(dashes.answered);
        EXPECT_EQ(dashes.counts.size(), 18u);
        EXPECT_EQ(dashes.points[0].x, 0.0);
        EXPECT_THROW(dasher.Input(counts, 2, 4), hostmodel::DashError);  // counts add up to 5
        // No room for the dashes: an error, not the line handed back as if it were its dashes.
        std::copy(std::begin(in), std::end(in), dasher.Input(counts, 2, 5));
        hostmodel::SetResizeFails(dasher.line(), true);
        try {
            dasher.Dash();
            ADD_FAILURE() << "dashes without room";
        } catch (const hostmodel::DashError& e) {
            EXPECT_EQ(e.kind(), hostmodel::DashError::Kind::Memory) << e.what();
        }
        hostmodel::SetResizeFails(dasher.line(), false);

        struct Case {
            hostmodel::LineSettings layers;
            hostmodel::DashError::Kind kind;
            std::string message;
        };
        hostmodel::LineSettings unknown, fraction, limit;
        unknown.object = fraction.object = limit.object = "'fence'";
        unknown.stored = {{"COUNT", hostmodel::Value::Int(2)}};
        fraction.decided = {{"count", 2.5}};
        const hostmodel::Settings tooMany{{"count", 20000}};
        limit.given = &tooMany;
        for (const Case& c :
             {Case{unknown, hostmodel::DashError::Kind::Value,
                   "'fence': stored parameter 'COUNT' is not a parameter of this plug-in"},
              Case{fraction, hostmodel::DashError::Kind::Value,
                   "'fence': count must be a whole number (got 2.5)"},
              Case{limit, hostmodel::DashError::Kind::Value,
                   "'fence': count must be between 0 and 10000 (got 20000)"}}) {
            try {
                dasher.Apply(c.layers);
                ADD_FAILURE() << c.message;
            } catch (const hostmodel::DashError& e) {
                EXPECT_EQ(e.kind(), c.kind);
                EXPECT_EQ(std::string(e.what()), c.message);
            }
        }
    }
}

// An offset of one dash length back on an open line ends a dash exactly on the line's end: the
// dash stops there, not drawn back along the line to its start. Relative counts too.
TEST_F(HostDashPath, ADashEndingOnAnOpenLinesEndStaysThere) {
    std::string error;
    auto modifier = hostmodel::ModifierPlugin::Open(Folder(), &error);
    ASSERT_TRUE(modifier) << error;
    for (const double relative : {0.0, 1.0}) {
        hostmodel::LineDasher dasher(*modifier);
        const hostmodel::Settings given{{"count", 9},
                                        {"closed", 0},
                                        {"offset", -1.0 / 18},
                                        {"subdivision", 98},
                                        {"relative", relative}};
        hostmodel::LineSettings layers;
        layers.given = &given;
        dasher.Apply(layers);
        const int32_t counts[] = {2, 2};
        const HostVector in[] = {{0, 0, 0}, {180, 0, 0}, {0, 5, 0}, {90, 5, 0}};
        std::copy(std::begin(in), std::end(in), dasher.Input(counts, 2, 4));
        const hostmodel::Dashes& dashes = dasher.Dash();
        const HostVector* p = dashes.points;
        double farthest = 0;
        for (const int32_t c : dashes.counts) {
            for (int32_t k = 1; k < c; ++k)
                farthest = std::max(farthest, std::fabs(p[k].x - p[k - 1].x));
            p += c;
        }
        EXPECT_LE(farthest, 10.0 + 1e-9) << "relative " << relative;
        EXPECT_EQ(hostmodel::Load(dasher.container(), *modifier->ByKey("offset")), -1.0 / 18);
    }
}
