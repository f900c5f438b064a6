// The generator, the growable array and the heapsort, against the host model's memory.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "ge_dynamicarray.h"
#include "ge_sort.h"
#include "seeded_random.h"
#include "test_support.h"

extern "C" int korrand_abi_c_version(void);
extern "C" size_t korrand_abi_c_table_size(void);
extern "C" size_t korrand_abi_c_record_size(void);

TEST(HostAbi, CompilesAsCWithTheSameLayout) {
    EXPECT_EQ(korrand_abi_c_version(), 13000);
    EXPECT_EQ(korrand_abi_c_table_size(), sizeof(HostFunctionTable));
    EXPECT_EQ(korrand_abi_c_record_size(), sizeof(HostObjectPluginRecord));
}

TEST(SeededRandom, ReproducesThePublishedSequences) {
    SeededRandom r;  // constructed only: behaves as seed 100
    EXPECT_EQ(r.NextSigned(), -0x1.fcac70f806a72p-1);
    EXPECT_EQ(r.State(), 6975969u);
    EXPECT_EQ(r.NextSigned(), -0.26710987683985854);
    EXPECT_EQ(r.State(), 786934778u);
    EXPECT_EQ(r.NextSigned(), 0.9880044441726039);
    EXPECT_EQ(r.State(), 2134603519u);

    r.Seed(0);
    EXPECT_EQ(r.NextUnit(), 3.216275943808129e-05);
    EXPECT_EQ(r.State(), 69069u);
    r.NextUnit();
    EXPECT_EQ(r.State(), 475628534u);
    r.NextUnit();
    EXPECT_EQ(r.State(), 1129920459u);

    for (Int32 seed : {-1, 2147483647}) {
        r.Seed(seed);
        EXPECT_EQ(r.NextUnit(), 0.0);
        EXPECT_EQ(r.State(), 0u);
        EXPECT_EQ(r.NextUnit(), 3.216275943808129e-05);
        r.Seed(seed);
        EXPECT_EQ(r.NextSigned(), -1.0);
    }

    r.Seed(-100);
    EXPECT_EQ(r.NextSigned(), 0.9936317726999373);
    EXPECT_EQ(r.State(), 2140645817u);
}

TEST(SeededRandom, SeedsDifferingOnlyInBit31Agree) {
    SeededRandom a, b;
    a.Seed(5);
    b.Seed(-2147483643);
    a.NextUnit();
    b.NextUnit();
    EXPECT_EQ(a.State(), 414414u);
    EXPECT_EQ(b.State(), 414414u);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(Bits(a.NextSigned()), Bits(b.NextSigned()));
}

// The signed draw differs between the builds for some states: state 25141116 (seed 363) is
// one. Worked out apart from the generator: s / 2147483649 doubled, less 1, on Windows; s times
// 2 / 2147483649 (rounded once), less 1, on macOS.
TEST(SeededRandom, SignedDrawIsThisBuilds) {
    SeededRandom r;
    r.Seed(363);
    const double d = r.NextSigned();
    EXPECT_EQ(r.State(), 25141116u);
    EXPECT_EQ(d, KORRAND_MACOS_ARITHMETIC ? -0x1.f403042017fa0p-1 : -0x1.f403042017f9fp-1);
}

// Every state of the cycle, in the generator's own order: each draw is this build's formula, and
// the macOS formula is below the Windows one for exactly 3,137,536 states, by at most 2^-52.
TEST(SeededRandom, EveryStateOfTheCycleDrawsThisBuildsValue) {
    constexpr uint32_t kStates = 0x80000000u;
    constexpr double kDivisor = 2147483649.0;
    const double scale = 2.0 / kDivisor;
    SeededRandom r;
    r.Seed(0);
    uint32_t wrong = 0, lower = 0, higher = 0, back = 0;
    double largest = 0.0;
    for (uint32_t i = 1; i <= kStates; ++i) {
        const double drawn = r.NextSigned();
        const double s = static_cast<double>(r.State());
        const double windows = (s / kDivisor) * 2.0 - 1.0;
        const double macos = s * scale - 1.0;
        wrong += drawn != (KORRAND_MACOS_ARITHMETIC ? macos : windows);
        lower += macos < windows;
        higher += macos > windows;
        largest = std::max(largest, windows - macos);
        // Back at the start only after the whole cycle: every state was drawn once.
        back += r.State() == 0u && i != kStates;
    }
    EXPECT_EQ(r.State(), 0u);
    EXPECT_EQ(back, 0u);
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(lower, 3137536u);
    EXPECT_EQ(higher, 0u);
    EXPECT_EQ(largest, 0x1p-52);
}

TEST(SeededRandom, StaysInRangeAndNeverHitsZeroOrOne) {
    SeededRandom r;
    r.Seed(12345);
    for (int i = 0; i < 200000; ++i) {
        const double s = r.NextSigned();
        ASSERT_GE(s, -1.0);
        ASSERT_LT(s, 1.0);
        ASSERT_NE(s, 0.0);
    }
}

using DynamicArrayTest = HostTest;

TEST_F(DynamicArrayTest, AppendsGrowInWholeBlocks) {
    GeDynamicArray<Float> a(4);
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(a.Append(i));
        EXPECT_EQ(a.GetCapacity(), i < 4 ? 4 : 8);
        EXPECT_EQ(a.GetFront(), 0);
    }
    for (int i = 0; i < 5; ++i) EXPECT_EQ(a[i], i);

    // SetEmpty keeps the storage: refilling allocates nothing.
    const int64_t allocations = hostmodel::AllocationCount();
    a.SetEmpty();
    for (int i = 0; i < 8; ++i) ASSERT_TRUE(a.Append(i));
    EXPECT_EQ(hostmodel::AllocationCount(), allocations);
    a.FreeStorage();
    EXPECT_EQ(a.GetBlockSize(), 4);
    EXPECT_FALSE(a.HasStorage());
}

TEST_F(DynamicArrayTest, LargeBlockAllocatesOncePerBlock) {
    GeDynamicArray<Vector, true> a(12288);
    const int64_t before = hostmodel::AllocationCount();
    for (int i = 0; i < 12288; ++i) ASSERT_TRUE(a.Append(Vector(i, 0, 0)));
    EXPECT_EQ(hostmodel::AllocationCount() - before, 1);
    ASSERT_TRUE(a.Append(Vector()));
    EXPECT_EQ(hostmodel::AllocationCount() - before, 2);
    EXPECT_EQ(a.GetCapacity(), 24576);
    a.FreeStorage();
}

TEST_F(DynamicArrayTest, BulkInsertsEndingOnABlockMultipleTakeNoSpareBlock) {
    // The back grows to the smallest multiple of the block that holds front + count.
    GeDynamicArray<Float> a(4);
    ASSERT_TRUE(a.InsertElements(0, 4, false));
    EXPECT_EQ(a.GetCapacity(), 4);
    ASSERT_TRUE(a.InsertElements(4, 8, false));
    EXPECT_EQ(a.GetCapacity(), 12);
    ASSERT_TRUE(a.InsertElements(12, 1, false));
    EXPECT_EQ(a.GetCapacity(), 16);
    a.FreeStorage();

    // A whole output block of points in one insert: one allocation of exactly one block.
    GeDynamicArray<Vector, true> points(12288);
    const int64_t before = hostmodel::AllocationCount();
    ASSERT_TRUE(points.InsertElements(0, 12288, false, false));
    EXPECT_EQ(hostmodel::AllocationCount() - before, 1);
    EXPECT_EQ(points.GetCapacity(), 12288);
    points.FreeStorage();
}

TEST_F(DynamicArrayTest, FrontInsertUsesRoomInFront) {
    GeDynamicArray<Float> a(4);
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(a.Append(i + 1));
    ASSERT_EQ(a.GetCapacity(), 12);
    ASSERT_TRUE(a.InsertElements(0, 1, true));
    EXPECT_EQ(a.GetFront(), 3);
    EXPECT_EQ(a.GetCapacity(), 16);
    EXPECT_EQ(a.GetCount(), 11);
    EXPECT_EQ(a[0], 0.0);
    for (int i = 1; i <= 10; ++i) EXPECT_EQ(a[i], i);

    // The next front insert reuses the room without allocating.
    const int64_t allocations = hostmodel::AllocationCount();
    ASSERT_TRUE(a.InsertElements(1, 2, true));
    EXPECT_EQ(hostmodel::AllocationCount(), allocations);
    EXPECT_EQ(a.GetFront(), 1);
    const std::vector<double> expect = {0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    ASSERT_EQ(a.GetCount(), 13);
    for (int i = 0; i < 13; ++i) EXPECT_EQ(a[i], expect[i]) << i;

    // A middle insert in the back half moves the tail.
    ASSERT_TRUE(a.InsertElements(10, 1, true));
    EXPECT_EQ(a[10], 0.0);
    EXPECT_EQ(a[11], 8.0);
    EXPECT_EQ(a[13], 10.0);
    a.FreeStorage();
}

TEST_F(DynamicArrayTest, InsertPastTheEndClearsTheGap) {
    GeDynamicArray<Float> a(4);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(a.Append(7.0));
    a.SetEmpty();
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(a.Append(1.0));  // storage now holds 1.0s and 7.0s
    ASSERT_TRUE(a.InsertElements(7, 1, true));
    EXPECT_EQ(a.GetCount(), 8);
    EXPECT_EQ(a[5], 0.0);
    EXPECT_EQ(a[6], 0.0);
    EXPECT_EQ(a[7], 0.0);
    a.FreeStorage();
}

TEST_F(DynamicArrayTest, FailuresLeaveTheArrayUnchanged) {
    GeDynamicArray<Float> zero(0);
    hostmodel::ClearStopReports();
    EXPECT_TRUE(zero.InsertElements(0, 0, true));  // nothing to insert is no failure
    EXPECT_TRUE(hostmodel::StopReports().empty());
    EXPECT_FALSE(zero.InsertElements(0, 1, true));
    ASSERT_EQ(hostmodel::StopReports().size(), 1u);
    EXPECT_EQ(hostmodel::StopReports()[0].first, 833);
    EXPECT_EQ(hostmodel::StopReports()[0].second, "ge_dynamicarray");
    EXPECT_EQ(zero.GetCount(), 0);

    GeDynamicArray<Float> a(4);
    EXPECT_FALSE(a.InsertElements(-1, 1, true));
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(a.Append(i));
    Float* data = a.GetData();

    // Back growth fails: the reallocation at line 893 of the array's file.
    hostmodel::FailAllocationNumber(1);
    EXPECT_FALSE(a.Append(9));
    hostmodel::ResetFaults();
    EXPECT_EQ(a.GetCount(), 4);
    EXPECT_EQ(a.GetCapacity(), 4);
    EXPECT_EQ(a.GetData(), data);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(a[i], i);

    // Front growth fails the same way.
    hostmodel::FailAllocationsFrom("ge_dynamicarray");
    EXPECT_FALSE(a.InsertElements(0, 1, true));
    hostmodel::ResetFaults();
    EXPECT_EQ(a.GetCount(), 4);
    EXPECT_EQ(a.GetFront(), 0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(a[i], i);

    // Sizes whose byte count overflows are refused before the host is asked.
    const int64_t allocations = hostmodel::AllocationCount();
    EXPECT_FALSE(a.InsertElements(a.GetCount(), INT64_MAX / 4, true));
    EXPECT_FALSE(a.InsertElements(INT64_MAX - 1, 5, true));
    EXPECT_EQ(hostmodel::AllocationCount(), allocations);
    EXPECT_EQ(a.GetCount(), 4);
    a.FreeStorage();
}

TEST_F(DynamicArrayTest, ReportsTheSourceLinesOfGrowth) {
    GeDynamicArray<Float> a(2);
    hostmodel::StartRecording();
    ASSERT_TRUE(a.Append(1));
    ASSERT_TRUE(a.Append(2));
    ASSERT_TRUE(a.Append(3));                   // back growth: reallocation
    ASSERT_TRUE(a.InsertElements(0, 1, true));  // front growth: reallocation
    const auto calls = hostmodel::StopRecording();
    std::vector<std::pair<std::string, int64_t>> sites;
    for (const auto& c : calls)
        if (c.op.rfind("memory.", 0) == 0 && c.op != "memory.Free")
            sites.emplace_back(c.op + "@" + c.text, c.ints.back());
    const std::vector<std::pair<std::string, int64_t>> expect = {
        {"memory.AllocBlock@ge_dynamicarray", 892},
        {"memory.ReallocBlock@ge_dynamicarray", 893},
        {"memory.ReallocBlock@ge_dynamicarray", 856}};
    EXPECT_EQ(sites, expect);
    a.FreeStorage();
}

namespace {
class CountingSort : public RealSort {
public:
    Int32 Compare(const void* a, const void* b) override {
        ++calls;
        return RealSort::Compare(a, b);
    }
    int calls = 0;
};
}  // namespace

TEST(RealSort, CompareFollowsTheRules) {
    RealSort s;
    const double nan = std::nan("");
    auto cmp = [&](double a, double b) { return s.Compare(&a, &b); };
    EXPECT_EQ(cmp(-0.0, 0.0), 0);
    EXPECT_EQ(cmp(1.0, 2.0), -1);
    EXPECT_EQ(cmp(2.0, 1.0), 1);
    // NaN is equal to anything on macOS, above everything in both directions elsewhere.
    const Int32 withNaN = KORRAND_MACOS_ARITHMETIC ? 0 : 1;
    EXPECT_EQ(cmp(1.0, nan), withNaN);
    EXPECT_EQ(cmp(nan, 1.0), withNaN);
    EXPECT_EQ(cmp(nan, nan), withNaN);
}

TEST(RealSort, AgreesWithStdSort) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> dist(-10, 10);
    for (int n : {0, 1, 2, 3, 7, 64, 1000}) {
        std::vector<std::vector<double>> runs(4, std::vector<double>(n));
        for (int i = 0; i < n; ++i) {
            runs[0][i] = dist(rng);
            runs[1][i] = i;
            runs[2][i] = n - i;
            runs[3][i] = 3.5;
        }
        for (auto run : runs) {
            auto expect = run;
            std::sort(expect.begin(), expect.end());
            CountingSort s;
            s.Sort(run.data(), n, sizeof(double));
            EXPECT_EQ(run, expect) << "n=" << n;
            if (n < 2) {
                EXPECT_EQ(s.calls, 0);
            } else {
                // Heapsort: at most about 2 n log2 n comparisons whatever the order.
                EXPECT_LE(s.calls, 2 * n * (std::log2(n) + 1));
            }
        }
    }
}

TEST(RealSort, SortRealsLeavesWhatSortLeavesBitForBit) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> dist(-2, 2);
    const double inf = INFINITY;
    for (int n : {0, 1, 2, 3, 5, 64, 201, 1000}) {
        std::vector<double> v(n);
        for (int i = 0; i < n; ++i) {
            // Repeats, infinities, both zeros and NaN among ordinary values: the two sorts
            // agree on NaN in either build's comparison.
            const int kind = static_cast<int>(rng() % 8);
            v[i] = kind == 0   ? 0.5
                   : kind == 1 ? (rng() % 2 ? inf : -inf)
                   : kind == 2 ? (rng() % 2 ? 0.0 : -0.0)
                   : kind == 3 ? std::nan("")
                               : dist(rng);
        }
        std::vector<double> bySort = v, byReals = v;
        RealSort().Sort(bySort.data(), n, sizeof(double));
        SortReals(byReals.data(), n);
        EXPECT_EQ(0, n == 0 ? 0 : std::memcmp(bySort.data(), byReals.data(), n * sizeof(double)))
            << "n=" << n;
    }
}

TEST(RealSort, ByteWiseSwapForOddElementSizes) {
    struct Odd {
        char c[3];
    };
    class OddSort : public GeSortAndSearch {
    public:
        Int32 Compare(const void* a, const void* b) override {
            return static_cast<const Odd*>(a)->c[0] - static_cast<const Odd*>(b)->c[0];
        }
    };
    std::vector<Odd> v = {{{'c', 1, 2}}, {{'a', 3, 4}}, {{'b', 5, 6}}};
    OddSort().Sort(v.data(), 3, sizeof(Odd));
    EXPECT_EQ(v[0].c[0], 'a');
    EXPECT_EQ(v[0].c[1], 3);
    EXPECT_EQ(v[2].c[0], 'c');
    EXPECT_EQ(v[2].c[2], 2);
}
