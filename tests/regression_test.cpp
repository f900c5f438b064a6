// Faults found by the fuzzers and the hostile-value table, each pinned by a test named after
// what went wrong, plus the XML attacks the SVG reader must shrug off.
#include <gtest/gtest.h>

#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host_model.h"
#include "test_support.h"
#ifdef KORRAND_HAVE_FORMATS
#include "document.h"
#endif

namespace {

class Regression : public LoadedPluginTest {
protected:
    void SetUp() override {
        LoadedPluginTest::SetUp();
        if (!HasFatalFailure()) inst_ = NewModifier();
    }
    void TearDown() override {
        if (inst_.node != nullptr) plugin_->Destroy(inst_);
        LoadedPluginTest::TearDown();
    }
    HostContainer* Bc() { return hostmodel::Container(inst_.node); }

    struct Output {
        std::vector<HostVector> points;
        std::vector<HostSegment> segments;
    };
    Output Modify(const std::vector<HostVector>& points, const std::vector<int32_t>& counts) {
        HostAtom* op = hostmodel::NewLineObject(points, counts);
        EXPECT_TRUE(plugin_->Modify(inst_, op));
        Output out{hostmodel::Points(op), hostmodel::Segments(op)};
        hostmodel::FreeObject(op);
        return out;
    }

    hostmodel::Plugin::Instance inst_{};
};

const std::vector<HostVector> kSquare = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};

bool SameBits(const std::vector<HostVector>& a, const std::vector<HostVector>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(HostVector)) == 0);
}

// fuzz_modify (slow unit): with the host refusing more output, each of the 64 records still laid
// out its ~33000 dashes and asked the host for room once per dash, some two million refused
// requests and seconds per evaluation. Now the layout ends at the first refusal.
TEST_F(Regression, RefusedOutputEndsTheLayout) {
    std::vector<HostVector> points;
    std::vector<int32_t> counts;
    for (int s = 0; s < 64; ++s) {
        points.push_back({0, static_cast<double>(s), 0});
        points.push_back({5, static_cast<double>(s) + 1, 0});
        counts.push_back(2);
    }
    hostmodel::Table()->container.SetLong(Bc(), KORRAND_COUNT, 32818);
    hostmodel::SetMaxBlockSize(int64_t(1) << 20);  // room for 3 blocks of output points
    const int64_t before = hostmodel::AllocationCount();
    const Output out = Modify(points, counts);
    const int64_t calls = hostmodel::AllocationCount() - before;
    EXPECT_LT(calls, 1000) << "allocation calls of one evaluation";
    // What fitted is kept, consistently.
    EXPECT_EQ(out.points.size(), 3u * 12288u);
    int64_t sum = 0;
    for (const HostSegment& s : out.segments) sum += s.cnt;
    EXPECT_EQ(sum, static_cast<int64_t>(out.points.size()));
}

// Hostile values (offset DBL_MAX, 2^53): adding an offset past 2^52 rounded every sample onto a
// whole number, so all dashes collapsed onto the segment's first point. Only the offset's phase
// counts; past 32 bits just its fraction is used.
TEST_F(Regression, HugeOffsetsKeepTheirPhase) {
    const HostFunctionTable* t = hostmodel::Table();
    t->container.SetLong(Bc(), KORRAND_COUNT, 5);
    auto with = [&](double offset) {
        t->container.SetReal(Bc(), KORRAND_OFFSET, offset);
        return Modify(kSquare, {4});
    };
    const Output quarter = with(0.25);
    const Output zero = with(0.0);
    EXPECT_TRUE(SameBits(with(1099511627776.25).points, quarter.points));    // 2^40 + 0.25
    EXPECT_TRUE(SameBits(with(-8589934591.75).points, with(-0.75).points));  // -(2^33 - 1) - 0.75
    EXPECT_TRUE(SameBits(with(DBL_MAX).points, zero.points));
    EXPECT_TRUE(SameBits(with(-9007199254740992.0).points, zero.points));
    // No dash of the huge offset is a single repeated point.
    const Output huge = with(DBL_MAX);
    size_t at = 0;
    for (const HostSegment& s : huge.segments) {
        const HostVector& a = huge.points[at];
        const HostVector& b = huge.points[at + s.cnt - 1];
        EXPECT_TRUE(a.x != b.x || a.y != b.y) << "dash at point " << at;
        at += static_cast<size_t>(s.cnt);
    }
}

#ifdef KORRAND_HAVE_FORMATS
korrand::io::Document ReadSvg(const std::string& text) {
    std::istringstream in(text);
    return korrand::io::Read(in, korrand::io::Format::Svg, "attack.svg");
}

std::string WrittenBack(const korrand::io::Document& doc) {
    korrand::io::WriteOptions options;
    options.original = &doc;
    std::ostringstream out;
    korrand::io::Write(out, korrand::io::Format::Svg, doc, options);
    return out.str();
}

// An external entity must never be fetched: its text may not appear anywhere in what is read or
// written. In an attribute it is not even well-formed XML.
TEST(XmlAttacks, ExternalEntitiesAreNeverExpanded) {
    const auto secretFile = std::filesystem::temp_directory_path() / "korrand-xxe-secret.txt";
    { std::ofstream(secretFile) << "TOPSECRET-5b1e"; }
    const std::string head =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE svg [\n <!ENTITY xxe SYSTEM \"file://" +
        secretFile.string() + "\">\n]>\n<svg xmlns=\"http://www.w3.org/2000/svg\">";
    try {
        ReadSvg(head + "<path id=\"&xxe;\" d=\"M0 0 L1 1\"/></svg>\n");
        ADD_FAILURE() << "an external entity in an attribute was accepted";
    } catch (const korrand::io::ReadError& e) {
        EXPECT_EQ(std::string(e.what()).find("TOPSECRET"), std::string::npos);
    }
    const korrand::io::Document doc =
        ReadSvg(head + "<path d=\"M0 0 L1 1\"/><desc>&xxe;</desc></svg>\n");
    const std::string written = WrittenBack(doc);
    std::filesystem::remove(secretFile);
    ASSERT_EQ(doc.objects.size(), 1u);
    for (const std::string& w : doc.warnings) EXPECT_EQ(w.find("TOPSECRET"), std::string::npos);
    EXPECT_EQ(written.find("TOPSECRET"), std::string::npos);
    EXPECT_NE(written.find("<desc>&xxe;</desc>"), std::string::npos) << written;
}

// fuzz_readers (CI, a fresh machine): an input declaring encoding="UTF-7" was written back in
// UTF-7, which libxml2 then could not read ("Start tag expected"). Every SVG is written in UTF-8
// and says so, with its text unchanged. The inputs are the fuzzer's own seeds.
TEST(SvgEncoding, WrittenInUtf8WhateverTheInputSays) {
    for (const char* seed : {"encoding-utf7.svg", "encoding-latin1.svg"}) {
        std::ifstream in(std::filesystem::path(KORRAND_FUZZ_CORPUS) / "fuzz_readers" / seed,
                         std::ios::binary);
        ASSERT_TRUE(in) << seed;
        std::stringstream text;
        text << in.rdbuf();
        const std::string file = text.str().substr(1);  // the first byte picks the format
        ASSERT_EQ(file.find("UTF-8"), std::string::npos) << seed;
        const std::string written = WrittenBack(ReadSvg(file));
        EXPECT_EQ(written.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u) << seed;
        EXPECT_NE(written.find("<title>a\xC3\xA9"
                               "b</title>"),
                  std::string::npos)
            << written;
        EXPECT_EQ(ReadSvg(written).shapeCounts->madeByKorrand, 1) << seed;
    }
}

// Nested entities (a billion "lol"s when expanded) are refused, or stay unexpanded references:
// either way small and fast.
TEST(XmlAttacks, NestedEntitiesDoNotGrow) {
    std::string dtd = "<?xml version=\"1.0\"?>\n<!DOCTYPE svg [\n <!ENTITY lol0 \"lol\">\n";
    for (int i = 1; i <= 9; ++i) {
        dtd += " <!ENTITY lol" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k) dtd += "&lol" + std::to_string(i - 1) + ";";
        dtd += "\">\n";
    }
    dtd += "]>\n<svg xmlns=\"http://www.w3.org/2000/svg\">";
    for (const char* body : {"<path id=\"&lol9;\" d=\"M0 0 L10 10\"/></svg>\n",
                             "<path d=\"M0 0 L10 10\"/><text>&lol9;</text></svg>\n"}) {
        const auto start = std::chrono::steady_clock::now();
        std::size_t size = 0;
        try {
            size = WrittenBack(ReadSvg(dtd + body)).size();
        } catch (const korrand::io::ReadError& e) {
            EXPECT_NE(std::string(e.what()).find("entity"), std::string::npos) << e.what();
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(size, 4096u) << body;
        EXPECT_LT(seconds, 5.0) << body;
    }
}
#endif

}  // namespace
