#include "video/scale_steps.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>
#include <vector>

namespace kvx {
namespace {

using Entry = std::tuple<int32_t, int32_t, int32_t>;  // advance, neighbour, weight

std::vector<ScaleStep> Build(int32_t s, int32_t d, int32_t first, int32_t n, int32_t step) {
    std::vector<ScaleStep> table(n);
    BuildScaleSteps(s, d, first, n, step, table.data());
    return table;
}

Entry At(const ScaleStep& e) {
    EXPECT_TRUE(e.weight[0] == e.weight[1] && e.weight[1] == e.weight[2] &&
                e.weight[2] == e.weight[3]);
    return Entry{e.advance, e.neighbour, e.weight[0]};
}

// The source elements (first tap, second tap) each entry reaches by the walk rule.
std::vector<std::pair<int64_t, int64_t>> Taps(const std::vector<ScaleStep>& table, int32_t step) {
    std::vector<std::pair<int64_t, int64_t>> taps;
    int64_t p = 0;
    for (const ScaleStep& e : table) {
        p += e.advance;
        taps.emplace_back(p / step, (p + e.neighbour) / step);
        p += e.neighbour;
    }
    return taps;
}

// The mapping written out directly in 16.16 fixed point, for lengths of any size.
Entry Reference(int64_t s, int64_t d, int64_t j, int64_t& prev, int32_t step) {
    unsigned __int128 ratio = (static_cast<unsigned __int128>(s) << 16) / d;
    int64_t phase = static_cast<int64_t>(ratio / 2) - 32768;
    if (s < d) s -= 1, d -= 1, phase = 0;
    int64_t pos = static_cast<int64_t>((static_cast<unsigned __int128>(j) * s << 16) / d) + phase;
    int64_t i = pos >> 16, f = (pos & 0xFFFF) >> 4;
    Entry e{static_cast<int32_t>((i - prev) * step), f ? step : 0, static_cast<int32_t>(f)};
    prev = f ? i + 1 : i;
    return e;
}

TEST(ScaleSteps, WorkedExamples) {
    EXPECT_EQ(At(Build(5, 3, 0, 3, 4)[0]), Entry(0, 4, 1365));
    EXPECT_EQ(At(Build(5, 3, 0, 3, 4)[1]), Entry(0, 4, 4095));
    EXPECT_EQ(At(Build(5, 3, 0, 3, 4)[2]), Entry(4, 4, 2730));

    auto half = Build(720, 360, 0, 360, 4);
    EXPECT_EQ(At(half[0]), Entry(0, 4, 2048));
    for (size_t k = 1; k < half.size(); ++k) EXPECT_EQ(At(half[k]), Entry(4, 4, 2048)) << k;

    auto twice = Build(360, 720, 0, 720, 4);
    const Entry twiceStart[] = {{0, 0, 0},    {0, 4, 2045}, {-4, 4, 4090},
                                {0, 4, 2039}, {-4, 4, 4084}, {0, 4, 2033}};
    for (size_t k = 0; k < 6; ++k) EXPECT_EQ(At(twice[k]), twiceStart[k]) << k;

    auto clipped = Build(720, 1000, 100, 900, 4);
    const Entry clippedStart[] = {{284, 4, 3981}, {0, 4, 2833}, {0, 4, 1685},
                                  {0, 4, 537},    {-4, 4, 3485}, {0, 4, 2337}};
    for (size_t k = 0; k < 6; ++k) EXPECT_EQ(At(clipped[k]), clippedStart[k]) << k;

    auto rows = Build(576, 576, 10, 566, 1440);
    EXPECT_EQ(At(rows[0]), Entry(14400, 0, 0));
    for (size_t k = 1; k < rows.size(); ++k) EXPECT_EQ(At(rows[k]), Entry(1440, 0, 0)) << k;
}

TEST(ScaleSteps, EqualLengthsCopy) {
    auto table = Build(37, 37, 5, 32, -99);
    EXPECT_EQ(At(table[0]), Entry(5 * -99, 0, 0));
    for (size_t k = 1; k < table.size(); ++k) EXPECT_EQ(At(table[k]), Entry(-99, 0, 0));
}

TEST(ScaleSteps, SingleSourceElementRepeats) {
    for (const ScaleStep& e : Build(1, 50, 0, 50, 4)) EXPECT_EQ(At(e), Entry(0, 0, 0));
}

TEST(ScaleSteps, EnlargingEndsOnTheLastSourceElement) {
    for (int32_t s : {2, 3, 100, 719}) {
        for (int32_t d : {s + 1, 2 * s + 3, 1000}) {
            auto taps = Taps(Build(s, d, 0, d, 4), 4);
            EXPECT_EQ(taps.front().first, 0);
            EXPECT_EQ(taps.front().second, 0);
            EXPECT_EQ(taps.back().first, s - 1) << s << "->" << d;
            EXPECT_EQ(taps.back().second, s - 1) << s << "->" << d;
        }
    }
}

// Both taps stay inside the source, and a table started at `first` reaches exactly the taps
// of the matching entries of the whole table.
void CheckGeometry(int32_t s, int32_t d, int32_t step) {
    auto whole = Build(s, d, 0, d, step);
    auto taps = Taps(whole, step);
    for (int32_t j = 0; j < d; ++j) {
        ASSERT_GE(taps[j].first, 0) << s << "->" << d << " j " << j;
        ASSERT_LE(taps[j].second, s - 1) << s << "->" << d << " j " << j;
        ASSERT_LE(taps[j].first, taps[j].second);
    }
    for (int32_t first : {1, d / 3, d - 1}) {
        if (first < 1 || first >= d) continue;
        auto part = Build(s, d, first, d - first, step);
        auto partTaps = Taps(part, step);
        for (int32_t k = 0; k < d - first; ++k) {
            ASSERT_EQ(partTaps[k], taps[first + k]) << s << "->" << d << " first " << first;
            ASSERT_EQ(part[k].weight[0], whole[first + k].weight[0]);
        }
    }
}

TEST(ScaleSteps, TapsStayInsideAndClippedTablesMatch) {
    for (int32_t s : {1, 2, 3, 5, 7, 16, 288, 576, 720}) {
        for (int32_t d : {1, 2, 3, 4, 9, 100, 259, 317, 648, 792, 1441}) {
            CheckGeometry(s, d, 4);
            CheckGeometry(s, d, -2160);
        }
    }
    std::mt19937 rng(7);
    for (int n = 0; n < 200; ++n) {
        std::uniform_int_distribution<int32_t> len(1, 3000);
        CheckGeometry(len(rng), len(rng), 4);
    }
}

TEST(ScaleSteps, MatchesFixedPointMappingUpToAndBeyond16Bits) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int32_t> small(1, 65535);
    std::uniform_int_distribution<int32_t> huge(1, 1 << 28);  // byte offsets stay in int32
    for (int n = 0; n < 400; ++n) {
        bool inside = n < 300;
        int32_t s = inside ? small(rng) : huge(rng) % 20000 + 1;
        int32_t d = inside ? small(rng) : huge(rng);
        if (n % 4 == 0) std::swap(s, d);  // also huge sources onto small destinations
        int32_t count = std::min(d, 64);
        int32_t first = std::uniform_int_distribution<int32_t>(0, d - count)(rng);
        auto table = Build(s, d, first, count, 4);
        int64_t prev = 0;
        for (int32_t k = 0; k < count; ++k)
            ASSERT_EQ(At(table[k]), Reference(s, d, first + k, prev, 4))
                << s << "->" << d << " j " << first + k;
        auto taps = Taps(table, 4);
        ASSERT_GE(taps.front().first, 0);
        ASSERT_LE(taps.back().second, s - 1);
    }
}

TEST(ScaleSteps, InvalidArgumentsWriteNothing) {
    ScaleStep table[2] = {{7, 7, {7, 7, 7, 7}}, {7, 7, {7, 7, 7, 7}}};
    BuildScaleSteps(0, 5, 0, 2, 4, table);
    BuildScaleSteps(5, 0, 0, 2, 4, table);
    BuildScaleSteps(5, 5, 4, 2, 4, table);
    BuildScaleSteps(5, 5, -1, 2, 4, table);
    EXPECT_EQ(At(table[0]), Entry(7, 7, 7));
    EXPECT_EQ(At(table[1]), Entry(7, 7, 7));
}

TEST(ScaleSteps, RecordLayout) {
    EXPECT_EQ(sizeof(ScaleStep), 16u);
    EXPECT_EQ(alignof(ScaleStep), 16u);
    std::vector<ScaleStep> table(3);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(table.data()) % 16, 0u);
}

}  // namespace
}  // namespace kvx
