// Every SIMD kernel of the kernel list against its reference, byte for byte, in the manner
// of a SIMD checker: random inputs with the extremes 0 and 255, all weights, every length up
// to a few hundred, both start parities and misaligned pointers, guard bytes around every
// output, and short rows between no-access pages. Also the choice of level from the CPU's
// feature words, and the override.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/page_fence.h"
#include "video/dispatch.h"
#include "video/frame_surface.h"
#include "video/kernel_list.h"
#include "video/scaler.h"

namespace kvx {
namespace {

constexpr int kGuardBytes = 64;
constexpr int kMaxLength = 300;
constexpr int kMaxFencedGroups = 64;

// How often the length sweep runs: 1, or KVX_CHECK_ROUNDS for a long run.
int32_t CheckRounds() {
    const char* text = std::getenv("KVX_CHECK_ROUNDS");
    return text ? std::max(1, std::atoi(text)) : 1;
}

std::vector<SimdLevel> SimdLevelsToCheck() {
    std::vector<SimdLevel> levels;
    for (int l = 1; l <= static_cast<int>(SupportedSimdLevel()); ++l)
        levels.push_back(static_cast<SimdLevel>(l));
    return levels;
}

// Random bytes, one in four of them an extreme.
void Randomize(uint8_t* p, size_t n, std::mt19937& rng) {
    for (size_t i = 0; i < n; ++i) {
        uint32_t r = rng();
        p[i] = (r & 7) == 0 ? 0 : (r & 7) == 1 ? 255 : static_cast<uint8_t>(r >> 8);
    }
}

std::vector<uint8_t> RandomBytes(size_t n, std::mt19937& rng) {
    std::vector<uint8_t> v(n);
    Randomize(v.data(), n, rng);
    return v;
}

// An output area of `bytes` at `offset` from an aligned start, inside random guard bytes.
// The reference and the kernel under test each write into their own copy.
struct Output {
    std::vector<uint8_t> initial, expected, actual;
    int offset;

    Output(size_t bytes, int alignOffset, std::mt19937& rng)
        : initial(RandomBytes(bytes + 2 * kGuardBytes + 16, rng)),
          expected(initial),
          actual(initial),
          offset(kGuardBytes + alignOffset) {}
    uint8_t* Expected() { return expected.data() + offset; }
    uint8_t* Actual() { return actual.data() + offset; }

    // Equal to the reference everywhere, and unchanged outside [begin, end) of the area.
    ::testing::AssertionResult Check(size_t begin, size_t end) const {
        for (size_t i = 0; i < actual.size(); ++i) {
            if (actual[i] != expected[i])
                return ::testing::AssertionFailure()
                       << "byte " << static_cast<long>(i) - offset << " is "
                       << int(actual[i]) << ", the reference wrote " << int(expected[i]);
            const bool inside = i >= offset + begin && i < offset + end;
            if (!inside && actual[i] != initial[i])
                return ::testing::AssertionFailure()
                       << "byte " << static_cast<long>(i) - offset << " outside the count changed";
        }
        return ::testing::AssertionSuccess();
    }
};

// A column table of `count` entries over a work row of `sourceLength` work pixels.
std::vector<ScaleStep> ColumnTable(int32_t sourceLength, int32_t destinationLength,
                                   int32_t first, int32_t count) {
    std::vector<ScaleStep> table(count > 0 ? count : 1);
    BuildScaleSteps(sourceLength, destinationLength, first, count, 4, table.data());
    return table;
}

// A work row of `sourceLength` pixels as a horizontal routine may read it: one spare pixel
// past the last tap, and not a byte more.
size_t WorkRowBytes(int32_t sourceLength) { return (static_cast<size_t>(sourceLength) + 1) * 4; }

// Random geometry for a row of `count` destination pixels: zoom, shrink or copy, clipped.
std::vector<ScaleStep> RandomColumnTable(int32_t count, int32_t& sourceLength,
                                         std::mt19937& rng) {
    const int32_t first = static_cast<int32_t>(rng() % 5);
    const int32_t destination = first + count + static_cast<int32_t>(rng() % 3);
    sourceLength = 1 + static_cast<int32_t>(rng() % (2 * destination + 1));
    return ColumnTable(sourceLength, destination, first, count);
}

// Every weight once, in scrambled order, with taps that step forward, stay or go back;
// `furthest` is the work row length the table reads.
std::vector<ScaleStep> EveryWeightTable(int32_t& furthest) {
    std::vector<ScaleStep> table(4096);
    int32_t position = 0;
    furthest = 0;
    for (int32_t k = 0; k < 4096; ++k) {
        const int32_t w = (k * 1031) % 4096;
        const int32_t advance = k % 5 == 0 ? 4 : (k % 3 != 0 && position >= 4) ? -4 : 0;
        const int32_t neighbour = w ? 4 : 0;
        table[k] = ScaleStep{advance, neighbour, {uint16_t(w), uint16_t(w), uint16_t(w), uint16_t(w)}};
        position += advance + neighbour;
        furthest = std::max(furthest, position / 4 + 1);
    }
    return table;
}

// The seed of this run's random inputs: KVX_CHECK_SEED when set, otherwise a fresh one, so
// that every run tries other inputs. Printed once, on every run, so any run can be repeated.
uint32_t RunSeed() {
    static const uint32_t seed = [] {
        const char* text = std::getenv("KVX_CHECK_SEED");
        const uint32_t s = text ? static_cast<uint32_t>(std::strtoul(text, nullptr, 0)) : std::random_device{}();
        std::printf("simd check: seed %u (KVX_CHECK_SEED=%u repeats this run)\n", s, s);
        std::fflush(stdout);
        return s;
    }();
    return seed;
}

// The seed of one round of a sweep: the run's seed for the first, a new one for each further
// round of a long run (KVX_CHECK_ROUNDS), so KVX_CHECK_SEED set to a failing round's seed
// repeats that round first.
uint32_t RoundSeed(int32_t round) { return RunSeed() + static_cast<uint32_t>(round) * 0x9E3779B9u; }

// A buffer of `bytes` copied to the end of a fence (or its start), so that any access
// past the bytes a kernel may touch faults; the copy back lets the result be compared.
class Fenced {
public:
    Fenced(const uint8_t* bytes, size_t size, bool atEnd)
        : fence(size + 64), size(size),
          data(atEnd ? fence.EndingAtFence(size) : fence.StartingAtFence()) {
        if (size) std::memcpy(data, bytes, size);
    }
    uint8_t* Data() const { return data; }
    std::vector<uint8_t> Contents() const { return {data, data + size}; }

private:
    PageFence fence;
    size_t size;
    uint8_t* data;
};

// What a sweep covers: every length (with guard bytes around the output and exactly sized
// inputs), every weight or mix, or short lengths between no-access pages.
enum class Sweep { Lengths, Weights, Fences };

// Runs one sweep over every kernel of a level against the portable table. A kernel the level
// takes unchanged from the level below was checked there and is skipped.
class KernelCheck {
public:
    KernelCheck(SimdLevel level, Sweep sweep, uint32_t seed)
        : level(level),
          simd(KernelsForLevel(level)),
          below(KernelsForLevel(static_cast<SimdLevel>(static_cast<int>(level) - 1))),
          reference(KernelsForLevel(SimdLevel::Portable)),
          sweep(sweep),
          rng(seed + static_cast<uint32_t>(level)) {}

    template <typename Member, typename Case>
    void operator()(const char* name, Member member, const Case& c) {
        const auto kernel = member(simd);
        if (!kernel || kernel == member(below)) return;
        SCOPED_TRACE(name);
        ++checked;
        caseName = std::string(name) + " at " + SimdLevelName(level);
        if (sweep == Sweep::Fences) NameFencedCase(caseName.c_str());
        Run(kernel, member(reference), c);
        if (sweep == Sweep::Fences) NameFencedCase(nullptr);
    }

    int32_t checked = 0;

private:
    void Run(VerticalRowFn fn, VerticalRowFn ref, const VerticalCase& c);
    void Run(HorizontalRowFn fn, HorizontalRowFn ref, const HorizontalCase& c);
    void Run(PlannedRowFn fn, PlannedRowFn, const PlannedCase& c);
    void Run(PlannedRowPairFn fn, PlannedRowPairFn, const PlannedCase& c);
    void Run(FillYuyvFn fn, FillYuyvFn ref, const FillYuyvCase& c);
    void Run(FillRgb24Fn fn, FillRgb24Fn ref, const FillRgb24Case& c);
    void Run(BlendLineBandFn fn, BlendLineBandFn ref, const LineBlendCase&);

    // A planned routine under check: one row at a time, or a pair routine, which runs the
    // checked row beside another row of the same plan.
    struct Planned {
        PlannedRowFn one;
        PlannedRowPairFn pair;
    };
    void RunPlanned(const Planned& fn, const PlannedCase& c);
    // The planned routine over the plan of `table`; false when the table fits no plan.
    bool CheckPlanned(const Planned& fn, const PlannedCase& c, int32_t sourceLength,
                      const std::vector<ScaleStep>& table, int32_t count, bool fenced);

    const SimdLevel level;
    const VideoKernels simd, below, reference;
    const Sweep sweep;
    std::string caseName;
    std::mt19937 rng;
};

void CheckVertical(VerticalRowFn ref, VerticalRowFn simd, int32_t inBytes, int32_t outBytes,
                   int32_t groups, uint16_t weight, std::mt19937& rng) {
    // Exactly sized inputs, so a sanitizer build catches any read past them.
    std::vector<uint8_t> a = RandomBytes(static_cast<size_t>(groups) * inBytes, rng);
    std::vector<uint8_t> b = RandomBytes(static_cast<size_t>(groups) * inBytes, rng);
    Output out(static_cast<size_t>(groups) * outBytes, groups % 16, rng);
    ref(a.data(), b.data(), weight, out.Expected(), groups);
    simd(a.data(), b.data(), weight, out.Actual(), groups);
    EXPECT_TRUE(out.Check(0, static_cast<size_t>(groups) * outBytes))
        << "groups " << groups << ", weight " << weight;
}

void KernelCheck::Run(VerticalRowFn fn, VerticalRowFn ref, const VerticalCase& c) {
    const int32_t inBytes = c.layout == LayoutYuyv ? 4 : 3;
    const int32_t outBytes = c.packed ? inBytes : c.layout == LayoutYuyv ? 8 : 4;
    if (sweep == Sweep::Lengths) {
        for (int32_t groups = 0; groups <= kMaxLength; ++groups) {
            const uint16_t weight = groups < 4 ? uint16_t(groups * 1365) : uint16_t(rng() % 4096);
            CheckVertical(ref, fn, inBytes, outBytes, groups, weight, rng);
        }
    } else if (sweep == Sweep::Weights) {
        for (int w = 0; w < 4096; ++w)
            CheckVertical(ref, fn, inBytes, outBytes, c.layout == LayoutYuyv ? 19 : 23, uint16_t(w), rng);
    } else {
        for (int32_t groups = 1; groups <= kMaxFencedGroups; ++groups)
            for (bool atEnd : {true, false}) {
                const size_t in = static_cast<size_t>(groups) * inBytes, out = static_cast<size_t>(groups) * outBytes;
                const std::vector<uint8_t> a = RandomBytes(in, rng), b = RandomBytes(in, rng);
                const uint16_t weight = uint16_t(rng() % 4096);
                std::vector<uint8_t> expected(out);
                ref(a.data(), b.data(), weight, expected.data(), groups);
                Fenced fa(a.data(), in, atEnd), fb(b.data(), in, atEnd);
                Fenced result(RandomBytes(out, rng).data(), out, atEnd);
                fn(fa.Data(), fb.Data(), weight, result.Data(), groups);
                EXPECT_EQ(result.Contents(), expected) << "groups " << groups;
            }
    }
}

void CheckHorizontal(HorizontalRowFn ref, HorizontalRowFn simd, int32_t pixelBytes,
                     int32_t sourceLength, const std::vector<ScaleStep>& table, int32_t count,
                     std::mt19937& rng) {
    std::vector<uint8_t> work = RandomBytes(WorkRowBytes(sourceLength), rng);
    Output out(static_cast<size_t>(count) * pixelBytes, count % 4, rng);
    ref(work.data(), out.Expected(), count, table.data());
    simd(work.data(), out.Actual(), count, table.data());
    EXPECT_TRUE(out.Check(0, static_cast<size_t>(count) * pixelBytes))
        << "count " << count << ", source " << sourceLength;
}

void KernelCheck::Run(HorizontalRowFn fn, HorizontalRowFn ref, const HorizontalCase& c) {
    const int32_t pixelBytes = c.layout == LayoutYuyv ? 2 : 3;
    if (sweep == Sweep::Lengths) {
        for (int32_t count = 0; count <= kMaxLength; ++count) {
            int32_t source = 0;
            const std::vector<ScaleStep> table = RandomColumnTable(count, source, rng);
            CheckHorizontal(ref, fn, pixelBytes, source, table, count, rng);
        }
    } else if (sweep == Sweep::Weights) {
        int32_t furthest = 0;
        const std::vector<ScaleStep> table = EveryWeightTable(furthest);
        CheckHorizontal(ref, fn, pixelBytes, furthest, table, 4096, rng);
    } else {
        for (int32_t count = 1; count <= kMaxFencedGroups; ++count)
            for (bool atEnd : {true, false}) {
                int32_t source = 0;
                const std::vector<ScaleStep> table = RandomColumnTable(count, source, rng);
                const size_t in = WorkRowBytes(source), out = static_cast<size_t>(count) * pixelBytes;
                const std::vector<uint8_t> work = RandomBytes(in, rng);
                std::vector<uint8_t> expected = RandomBytes(out, rng);
                Fenced fencedWork(work.data(), in, atEnd), result(expected.data(), out, atEnd);
                ref(work.data(), expected.data(), count, table.data());
                fn(fencedWork.Data(), result.Data(), count, table.data());
                EXPECT_EQ(result.Contents(), expected) << "count " << count << ", source " << source;
            }
    }
}

// The planned routines of a level, over the plan of `table`, against the reference walk.
// The work row is exactly as long as the table may read, so windows past it would show.
// A packed plan reads a packed work row of just the source pixels, against the packed walk;
// a packed 4:2:2 plan is built for each parity of the first source and destination column.
bool KernelCheck::CheckPlanned(const Planned& fn, const PlannedCase& c, int32_t sourceLength,
                               const std::vector<ScaleStep>& table, int32_t count, bool fenced) {
    const PixelLayout layout = c.layout;
    const int32_t pixelBytes = layout == LayoutYuyv ? 2 : 3;
    const size_t bytes = static_cast<size_t>(count) * pixelBytes;
    // The routine over `work` into `out`. A pair routine takes the row as its first or its
    // second beside a row of the inverted work bytes, whose output (and the guard bytes
    // after it) must be the reference's.
    auto run = [&](const uint8_t* work, size_t workBytes, uint8_t* out, const ColumnPlan& plan,
                   bool odd, auto ref) {
        if (fn.one) return fn.one(work, out, table.data(), plan, odd);
        std::vector<uint8_t> other(work, work + workBytes);
        for (uint8_t& b : other) b = static_cast<uint8_t>(~b);
        std::vector<uint8_t> expected = RandomBytes(bytes + kGuardBytes, rng), actual = expected;
        ref(other.data(), expected.data());
        if (rng() & 1) fn.pair(work, out, other.data(), actual.data(), table.data(), plan, odd);
        else fn.pair(other.data(), actual.data(), work, out, table.data(), plan, odd);
        EXPECT_EQ(actual, expected) << "the other row of the pair";
    };
    // The routine over `work` against `ref` (a walk of the table into its output).
    auto compare = [&](const std::vector<uint8_t>& work, const ColumnPlan& plan, bool odd,
                       auto ref) {
        SCOPED_TRACE(::testing::Message() << "count " << count << ", parity " << plan.parity
                                          << ", odd " << odd << ", source " << sourceLength);
        if (fenced) {
            for (bool atEnd : {true, false}) {
                std::vector<uint8_t> expected = RandomBytes(bytes, rng);
                Fenced fencedWork(work.data(), work.size(), atEnd), result(expected.data(), bytes, atEnd);
                ref(work.data(), expected.data());
                run(fencedWork.Data(), work.size(), result.Data(), plan, odd, ref);
                EXPECT_EQ(result.Contents(), expected);
            }
        } else {
            Output out(bytes, (count + odd) % 4, rng);
            ref(work.data(), out.Expected());
            run(work.data(), work.size(), out.Actual(), plan, odd, ref);
            EXPECT_TRUE(out.Check(0, bytes));
        }
    };
    ColumnPlan plan;
    plan.Reserve(count);
    // Every length of lanes a table allows, down to a pixel a lane.
    const PlanShape shape{c.kind, 3};
    if (c.kind != PlanKind::Windows && layout == LayoutYuyv) {
        for (int32_t parity = 0; parity < 4; ++parity) {
            if (!BuildPlan(shape, PlanSource{table.data(), count, sourceLength, layout, parity}, plan))
                return false;
            const bool oddSource = (parity & kPackedYuyvOddSource) != 0;
            const std::vector<uint8_t> work =
                RandomBytes(static_cast<size_t>(PackedYuyvRowBytes(sourceLength, oddSource)), rng);
            // The routine is told the opposite parity: the plan's own must hold.
            compare(work, plan, !(parity & kPackedYuyvOddStart), [&](const uint8_t* w, uint8_t* out) {
                HorizontalYuyvPacked(w, out, count, table.data(), parity);
            });
        }
        return true;
    }
    if (!BuildPlan(shape, PlanSource{table.data(), count, sourceLength, layout, 0}, plan)) return false;
    const bool packed = c.kind != PlanKind::Windows;
    const std::vector<uint8_t> work =
        RandomBytes(packed ? static_cast<size_t>(sourceLength) * 3 : WorkRowBytes(sourceLength), rng);
    for (int odd = 0; odd <= (layout == LayoutYuyv ? 1 : 0); ++odd) {
        const HorizontalRowFn ref = packed                  ? HorizontalRgb24Packed
                                    : layout == LayoutRgb24 ? reference.rows.horizontalRgb24
                                    : odd                   ? reference.rows.horizontalYuyvOdd
                                                            : reference.rows.horizontalYuyvEven;
        compare(work, plan, odd, [&](const uint8_t* w, uint8_t* out) { ref(w, out, count, table.data()); });
    }
    return true;
}

void KernelCheck::Run(PlannedRowFn fn, PlannedRowFn, const PlannedCase& c) {
    RunPlanned(Planned{fn, nullptr}, c);
}

void KernelCheck::Run(PlannedRowPairFn fn, PlannedRowPairFn, const PlannedCase& c) {
    RunPlanned(Planned{nullptr, fn}, c);
}

void KernelCheck::RunPlanned(const Planned& fn, const PlannedCase& c) {
    int32_t planned = 0;
    if (sweep == Sweep::Weights) {
        int32_t furthest = 0;
        const std::vector<ScaleStep> table = EveryWeightTable(furthest);
        EXPECT_TRUE(CheckPlanned(fn, c, furthest, table, 4096, false));
        return;
    }
    const bool fenced = sweep == Sweep::Fences;
    const int32_t longest = fenced ? kMaxFencedGroups : kMaxLength;
    for (int32_t count = 0; count <= longest; ++count) {
        int32_t source = 0;
        std::vector<ScaleStep> table = RandomColumnTable(count, source, rng);
        planned += CheckPlanned(fn, c, source, table, count, fenced);
        // The benchmark's scales: 110 % zoom and 90 % shrink, clipped at both ends.
        for (int32_t percent : {110, 90}) {
            const int32_t destination = count + 7;
            source = std::max(1, destination * 100 / percent);
            planned += CheckPlanned(fn, c, source, ColumnTable(source, destination, 3, count),
                                    count, fenced);
        }
    }
    EXPECT_GT(planned, 2 * longest - 16);
}

void KernelCheck::Run(FillYuyvFn fn, FillYuyvFn ref, const FillYuyvCase& c) {
    const int odd = c.oddLeft;
    auto randomMix = [&](int32_t count) {
        return !c.mix ? 0 : count % 3 == 0 ? 256 : 1 + static_cast<int32_t>(rng() % 256);
    };
    if (sweep == Sweep::Lengths) {
        for (int32_t count = 0; count <= kMaxLength; ++count)
            for (int whole = 0; whole <= 1; ++whole) {
                // Pixel `odd` of the first pair is the first one filled.
                const size_t span = (static_cast<size_t>(count + odd) + 1) / 2 * 4;
                const uint32_t colour = rng();
                const int32_t mix = randomMix(count);
                Output out(span, count % 4, rng);
                ref(out.Expected(), count, colour, mix, whole);
                fn(out.Actual(), count, colour, mix, whole);
                EXPECT_TRUE(out.Check(0, span))
                    << "count " << count << ", mix " << mix << ", whole " << whole;
            }
    } else if (sweep == Sweep::Weights) {
        for (int32_t mix = 0; mix <= (c.mix ? 256 : 0); ++mix) {
            const uint32_t colour = rng();
            Output out(68, 0, rng);
            ref(out.Expected(), 33 - odd, colour, mix, true);
            fn(out.Actual(), 33 - odd, colour, mix, true);
            EXPECT_TRUE(out.Check(0, 68)) << "mix " << mix;
        }
    } else {
        for (int32_t count = 1; count <= kMaxFencedGroups; ++count)
            for (bool atEnd : {true, false}) {
                // A row of odd width ends after the last pixel's Y and U; otherwise the row
                // ends with the last pixel's pair.
                const bool lastEven = (count + odd) & 1;
                const bool whole = !lastEven || (rng() & 1);
                const size_t bytes = (static_cast<size_t>(count + odd) + 1) / 2 * 4 - (whole ? 0 : 2);
                const uint32_t colour = rng();
                const int32_t mix = randomMix(count);
                std::vector<uint8_t> expected = RandomBytes(bytes, rng);
                Fenced result(expected.data(), bytes, atEnd);
                ref(expected.data(), count, colour, mix, whole);
                fn(result.Data(), count, colour, mix, whole);
                EXPECT_EQ(result.Contents(), expected) << "count " << count << ", whole " << whole;
            }
    }
}

void KernelCheck::Run(FillRgb24Fn fn, FillRgb24Fn ref, const FillRgb24Case& c) {
    if (sweep == Sweep::Weights) {
        for (int32_t mix = 0; mix <= (c.mix ? 256 : 0); ++mix) {
            const uint32_t colour = rng();
            Output out(99, 1, rng);
            ref(out.Expected(), 33, colour, mix);
            fn(out.Actual(), 33, colour, mix);
            EXPECT_TRUE(out.Check(0, 99)) << "mix " << mix;
        }
        return;
    }
    const bool fenced = sweep == Sweep::Fences;
    for (int32_t count = fenced ? 1 : 0; count <= (fenced ? kMaxFencedGroups : kMaxLength); ++count)
        for (bool atEnd : {true, false}) {
            if (!fenced && !atEnd) continue;
            const uint32_t colour = rng();
            const int32_t mix = !c.mix ? 0 : count % 3 == 0 ? 256 : 1 + static_cast<int32_t>(rng() % 256);
            const size_t bytes = static_cast<size_t>(count) * 3;
            if (fenced) {
                std::vector<uint8_t> expected = RandomBytes(bytes, rng);
                Fenced result(expected.data(), bytes, atEnd);
                ref(expected.data(), count, colour, mix);
                fn(result.Data(), count, colour, mix);
                EXPECT_EQ(result.Contents(), expected) << "count " << count << ", mix " << mix;
            } else {
                Output out(bytes, count % 4, rng);
                ref(out.Expected(), count, colour, mix);
                fn(out.Actual(), count, colour, mix);
                EXPECT_TRUE(out.Check(0, bytes)) << "count " << count << ", mix " << mix;
            }
        }
}

void KernelCheck::Run(BlendLineBandFn fn, BlendLineBandFn ref, const LineBlendCase&) {
    if (sweep == Sweep::Weights) return;  // no weight: every byte triple is a case of its own
    const bool fenced = sweep == Sweep::Fences;
    for (int32_t bytes = fenced ? 1 : 0; bytes <= (fenced ? 4 * kMaxFencedGroups : kMaxLength); ++bytes)
        for (bool atEnd : {true, false}) {
            if (!fenced && !atEnd) continue;
            // A band of 1 to 4 lines whose stride may exceed the bytes blended; the frame
            // ends with the blended bytes of the line below the band.
            const int32_t rows = 1 + static_cast<int32_t>(rng() % 4);
            const ptrdiff_t stride = bytes + static_cast<int32_t>(rng() % 3 == 0 ? 0 : rng() % 40);
            const size_t frameBytes = static_cast<size_t>(rows * stride + bytes);
            SCOPED_TRACE(::testing::Message() << "bytes " << bytes << ", rows " << rows
                                              << ", stride " << stride);
            if (fenced) {
                std::vector<uint8_t> frame = RandomBytes(frameBytes, rng), saved = RandomBytes(bytes, rng);
                Fenced fencedFrame(frame.data(), frameBytes, atEnd), fencedSaved(saved.data(), bytes, atEnd);
                ref(frame.data(), stride, rows, saved.data(), bytes);
                fn(fencedFrame.Data(), stride, rows, fencedSaved.Data(), bytes);
                EXPECT_EQ(fencedFrame.Contents(), frame);
                EXPECT_EQ(fencedSaved.Contents(), saved);
            } else {
                Output frame(frameBytes, bytes % 16, rng), saved(bytes, (bytes + 5) % 16, rng);
                ref(frame.Expected(), stride, rows, saved.Expected(), bytes);
                fn(frame.Actual(), stride, rows, saved.Actual(), bytes);
                EXPECT_TRUE(frame.Check(0, frameBytes));
                EXPECT_TRUE(saved.Check(0, bytes));
            }
        }
}

class SimdCheck : public ::testing::TestWithParam<SimdLevel> {
protected:
    // Runs a sweep over every kernel of the level; returns how many were new at this level.
    int32_t CheckEveryKernel(Sweep sweep, int32_t round = 0) {
        const uint32_t seed = RoundSeed(round);
        SCOPED_TRACE(::testing::Message() << "seed " << seed << " (KVX_CHECK_SEED=" << seed
                                          << " repeats it)");
        KernelCheck check(GetParam(), sweep, seed);
        ForEachKernel(check);
        return check.checked;
    }
};

TEST_P(SimdCheck, EveryKernelEveryLength) {
    for (int32_t round = 0; round < CheckRounds(); ++round)
        EXPECT_GT(CheckEveryKernel(Sweep::Lengths, round), 0);  // every level brings kernels of its own
}

TEST_P(SimdCheck, EveryKernelEveryWeightAndMix) { CheckEveryKernel(Sweep::Weights); }

// Rows that end at a no-access page, or start just after one: a kernel that reads or writes
// a byte outside its row (a vector load past the last pixel) faults here, natively and
// under Wine, where guard bytes would only show writes.
TEST_P(SimdCheck, EveryKernelBetweenNoAccessPages) { CheckEveryKernel(Sweep::Fences); }

std::string LevelName(const ::testing::TestParamInfo<SimdLevel>& info) {
    return SimdLevelName(info.param);
}

INSTANTIATE_TEST_SUITE_P(Levels, SimdCheck, ::testing::ValuesIn(SimdLevelsToCheck()), LevelName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(SimdCheck);

// The plan of `table` for one shape, with room for its pixels.
bool Build(ColumnPlan& plan, PlanShape shape, const std::vector<ScaleStep>& table, int32_t count,
           int32_t sourcePixels, PixelLayout layout, int32_t parity = 0) {
    return plan.Reserve(std::max(count, 1)) &&
           BuildPlan(shape, PlanSource{table.data(), count, sourcePixels, layout, parity}, plan);
}

constexpr PlanShape kWindows{PlanKind::Windows, 0};
constexpr PlanShape kRgb24Lanes{PlanKind::Rgb24Lanes, 3};
constexpr PlanShape kPaired{PlanKind::Paired, 0};

// Windows: one per pixel, at its first tap, so any shrink fits; a second tap that is not
// the next work pixel, lanes with different weights or a read past the row do not.
TEST(ColumnPlan, WindowsHoldBothTapsOfEachPixel) {
    ColumnPlan plan;
    std::vector<ScaleStep> table = ColumnTable(1000, 100, 0, 100);  // 10:1
    ASSERT_TRUE(Build(plan, kWindows, table, 100, 1000, LayoutRgb24));
    EXPECT_EQ(plan.Kind(), PlanKind::Windows);
    EXPECT_EQ(plan.blockCount, 13);
    const WindowBlock* blocks = plan.Blocks<WindowBlock>();
    int32_t read = 0;
    for (int32_t x = 0; x < 100; ++x) {
        read += table[x].advance;
        int32_t offset;
        std::memcpy(&offset, blocks[x / 8].tapA + 4 * (x % 8), 4);
        EXPECT_EQ(offset, read) << "pixel " << x;
        EXPECT_EQ(blocks[x / 8].weight[x % 8], table[x].weight[0] * 0x10001u) << "pixel " << x;
        read += table[x].neighbour;
    }
    table = ColumnTable(110, 100, 0, 100);
    EXPECT_FALSE(Build(plan, kWindows, table, 100, 100, LayoutRgb24));  // reads past
    table[5].weight[3] ^= 1;
    EXPECT_FALSE(Build(plan, kWindows, table, 100, 110, LayoutRgb24));
    table = ColumnTable(110, 100, 0, 100);
    table[7].neighbour = 8;
    table[8].advance -= 4;
    EXPECT_FALSE(Build(plan, kWindows, table, 100, 110, LayoutRgb24));
    // A 1:1 copy of 20 pixels: 4:2:2 stores 16 bytes a block, 24-bit reaches one byte past
    // eight pixels; the last pixel's 4:2:2 load at an odd column would pass the spare pixel.
    table = ColumnTable(20, 20, 0, 20);
    const struct {
        int32_t count, source;
        PixelLayout layout;
        int32_t vectorBlocks;
    } cases[] = {{20, 20, LayoutYuyv, 2}, {20, 20, LayoutRgb24, 2}, {16, 20, LayoutYuyv, 2},
                 {16, 20, LayoutRgb24, 1}, {16, 16, LayoutYuyv, 1}};
    for (const auto& c : cases) {
        ASSERT_TRUE(Build(plan, kWindows, table, c.count, c.source, c.layout));
        EXPECT_EQ(plan.blockCount, (c.count + 7) / 8);
        EXPECT_EQ(plan.vectorBlocks, c.vectorBlocks)
            << c.count << " of " << c.source << ", layout " << c.layout;
    }
    // No room, no plan.
    ColumnPlan small;
    ASSERT_TRUE(small.Reserve(19));
    EXPECT_FALSE(BuildPlan(kWindows, PlanSource{table.data(), 20, 20, LayoutYuyv, 0}, small));
}

// Packed 24-bit plans: lanes as long as the table allows, 16 bytes at a zoom, fewer at a
// shrink; windows inside the row, the last one moved back from its end, where a pixel of
// weight 0 past the first window is taken whole from the second (weight 4096).
TEST(PackedRgb24Plan, LanesAsLongAsTheTableAllows) {
    ColumnPlan plan;
    std::vector<ScaleStep> table = ColumnTable(20, 20, 0, 20);  // a copy of 20 pixels
    ASSERT_TRUE(Build(plan, kRgb24Lanes, table, 20, 20, LayoutRgb24));
    EXPECT_EQ(plan.Kind(), PlanKind::Rgb24Lanes);
    EXPECT_EQ(plan.WorkPixelBytes(), 3);
    EXPECT_EQ(plan.laneBytes, 16);
    EXPECT_EQ(plan.blockCount, 2);
    EXPECT_EQ(plan.vectorBlocks, 1);  // the second block's high lane store ends at 64
    const PackedRgb24Block& last = plan.Blocks<PackedRgb24Block>()[1];
    EXPECT_EQ(last.window[0], 32);
    EXPECT_EQ(last.window[1], 41);  // 60 bytes less both windows' 19
    for (int32_t i = 0; i < 12; ++i) {
        // Bytes 48-59: pixels 16-18 at 7-15, pixel 19 from the second window at 13-15.
        EXPECT_EQ(last.tap[16 + i], i < 9 ? 7 + i : 4 + i) << "byte " << i;
        EXPECT_EQ(last.weight[PackedWeightSlot(1, i)], i < 9 ? 0 : 4096) << "byte " << i;
        EXPECT_EQ(last.tap[i], i) << "byte " << i;
    }
    for (int32_t percent : {110, 90}) {
        const int32_t source = 720 * 100 / percent;
        table = ColumnTable(source, 720, 0, 720);
        ASSERT_TRUE(Build(plan, kRgb24Lanes, table, 720, source, LayoutRgb24));
        const int32_t lane = percent == 110 ? 16 : 13;
        EXPECT_EQ(plan.laneBytes, lane) << percent << " %";
        EXPECT_EQ(plan.blockCount, (2160 + 2 * lane - 1) / (2 * lane)) << percent << " %";
        EXPECT_EQ(plan.vectorBlocks, (2160 - 16 - lane) / (2 * lane) + 1) << percent << " %";
        for (int32_t k = 0; k < plan.blockCount; ++k)
            for (int32_t w : plan.Blocks<PackedRgb24Block>()[k].window) {
                EXPECT_GE(w, 0) << "block " << k;
                EXPECT_LE(w + 19, source * 3) << "block " << k;
            }
        // Lanes no shorter than 16 bytes only fit the zoom.
        EXPECT_EQ(Build(plan, PlanShape{PlanKind::Rgb24Lanes, 16}, table, 720, source, LayoutRgb24),
                  percent == 110);
    }
    // A 10:1 shrink: a pixel a lane.
    table = ColumnTable(1000, 100, 0, 100);
    ASSERT_TRUE(Build(plan, kRgb24Lanes, table, 100, 1000, LayoutRgb24));
    EXPECT_EQ(plan.laneBytes, 3);
    // Tables it does not take: a row shorter than two windows, a second tap that is not the
    // next pixel, lanes with different weights.
    table = ColumnTable(6, 8, 0, 8);
    EXPECT_FALSE(Build(plan, kRgb24Lanes, table, 8, 6, LayoutRgb24));
    table = ColumnTable(7, 8, 0, 8);
    EXPECT_TRUE(Build(plan, kRgb24Lanes, table, 8, 7, LayoutRgb24));
    table = ColumnTable(110, 100, 0, 100);
    table[7].neighbour = 8;
    table[8].advance -= 4;
    EXPECT_FALSE(Build(plan, kRgb24Lanes, table, 100, 110, LayoutRgb24));
    table = ColumnTable(110, 100, 0, 100);
    table[5].weight[1] ^= 1;
    EXPECT_FALSE(Build(plan, kRgb24Lanes, table, 100, 110, LayoutRgb24));
}

// The shapes tried for a level with every kind of kernel: a 24-bit row takes lanes of 16
// where they fit, paired blocks where only shorter lanes would, and shorter lanes below the
// shrinks paired windows hold; a 4:2:2 row takes paired blocks wherever the windows hold
// the taps, at any parity (down to about a 50 % shrink), and lanes below. A level without
// packed kernels takes windows.
TEST(PlanShapes, TheBestShapeThatFits) {
    const uint32_t all = (1u << kPlanKindCount) - 1;
    ColumnPlan plan;
    ASSERT_TRUE(plan.Reserve(720));
    for (int32_t percent : {110, 90, 75, 70}) {
        const int32_t source = 720 * 100 / percent;
        const std::vector<ScaleStep> table = ColumnTable(source, 720, 0, 720);
        ASSERT_TRUE(BuildFirstPlan(PreferredShapes(LayoutRgb24, all),
                                   PlanSource{table.data(), 720, source, LayoutRgb24, 0}, plan));
        const bool paired = percent == 90 || percent == 75;
        EXPECT_EQ(plan.Kind(), paired ? PlanKind::Paired : PlanKind::Rgb24Lanes) << percent << " %";
        EXPECT_EQ(plan.laneBytes == 16, percent != 70) << percent << " %";
        if (paired) {
            EXPECT_EQ(plan.blockCount, 2160 / 32 + 1) << percent << " %";
            EXPECT_EQ(plan.vectorBlocks, 2160 / 32) << percent << " %";
        }
    }
    for (int32_t percent : {110, 90, 60, 40})
        for (int32_t parity = 0; parity < 4; ++parity) {
            const int32_t source = 720 * 100 / percent, count = 719;
            const std::vector<ScaleStep> table = ColumnTable(source, 720, 1, count);
            ASSERT_TRUE(BuildFirstPlan(PreferredShapes(LayoutYuyv, all),
                                       PlanSource{table.data(), count, source, LayoutYuyv, parity}, plan));
            const bool paired = percent >= 60;
            EXPECT_EQ(plan.Kind(), paired ? PlanKind::Paired : PlanKind::YuyvLanes)
                << percent << " %, parity " << parity;
            EXPECT_EQ(plan.parity, parity);
            if (paired) {
                EXPECT_EQ(plan.blockCount, 1438 / 32 + 1);
                EXPECT_EQ(plan.vectorBlocks, 1438 / 32);
            }
        }
    const uint32_t windows = 1u << PlanIndex(PlanKind::Windows);
    for (PixelLayout layout : {LayoutYuyv, LayoutRgb24}) {
        const PlanShapes shapes = PreferredShapes(layout, windows);
        ASSERT_EQ(shapes.count, 1);
        EXPECT_EQ(shapes.shape[0].kind, PlanKind::Windows);
        EXPECT_EQ(PreferredShapes(layout, 0).count, 0);
    }
}

// Whole frames through the dispatched table: Scale, FillRect and BlendLines at every level
// give the frame the reference gives.
class LevelLimit {
public:
    explicit LevelLimit(SimdLevel level) { SetSimdLevelLimit(level); }
    ~LevelLimit() { SetSimdLevelLimit(SimdLevel::Avx2); }
};

std::vector<uint8_t> ProcessAtLevel(SimdLevel level, const std::vector<uint8_t>& input,
                                    int32_t width, int32_t height, PixelLayout layout) {
    LevelLimit limit(level);
    std::vector<uint8_t> frame = input;
    std::vector<uint8_t> lineBuffer(static_cast<size_t>(width) * 3);
    const int32_t bpp = layout == LayoutYuyv ? 2 : 3;
    BlendLines(frame.data(), lineBuffer.data(), width, height, bpp);
    Scaler scaler;
    // Zoom about a point left of centre (odd clip edges), then a shrink into an odd offset.
    scaler.Scale(frame.data(), width, height, Rect{0, 0, width, height},
                 Rect{-width / 9 - 1, -height / 10, width + width / 7, height + height / 9},
                 layout, true);
    scaler.Scale(frame.data(), width, height, Rect{0, 0, width, height},
                 Rect{width / 13 + 1, 3, width - width / 11, height - 5}, layout, false);
    // The same column table twice, from an odd then an even source column into an odd then
    // an even destination column: a plan that depends on those parities is not reused.
    scaler.Scale(frame.data(), width, height, Rect{1, 0, width, height},
                 Rect{3, 2, width - 9, height - 2}, layout, false);
    scaler.Scale(frame.data(), width, height, Rect{0, 0, width - 1, height},
                 Rect{4, 2, width - 8, height - 2}, layout, false);
    FrameSurface surface;
    surface.Configure(width, height, layout == LayoutYuyv ? PixelFormatYuy2 : PixelFormatBgr24);
    surface.SetPixels(frame.data());
    surface.FillRect(3, 0, width - 4, 5, 0, 100);
    surface.FillRect(1, 5, width / 2 + 1, height, 0x336699, 37);
    return frame;
}

TEST(SimdDispatch, WholeFramesMatchThePortablePathAtEveryLevel) {
    std::mt19937 rng(7);
    // An odd width gives a 4:2:2 frame an unpaired last column.
    for (PixelLayout layout : {LayoutYuyv, LayoutRgb24})
    for (int32_t width : {182, 181}) {
        const int32_t height = 97, bpp = layout == LayoutYuyv ? 2 : 3;
        const std::vector<uint8_t> input = RandomBytes(static_cast<size_t>(width) * height * bpp, rng);
        const std::vector<uint8_t> expected =
            ProcessAtLevel(SimdLevel::Portable, input, width, height, layout);
        EXPECT_NE(expected, input);
        for (SimdLevel level : SimdLevelsToCheck())
            EXPECT_EQ(ProcessAtLevel(level, input, width, height, layout), expected)
                << SimdLevelName(level) << ", layout " << layout << ", width " << width;
    }
}

TEST(SimdDispatch, LimitSelectsTheTableAndNeverExceedsTheCpu) {
    SetSimdLevelLimit(SimdLevel::Portable);
    EXPECT_EQ(ActiveSimdLevel(), SimdLevel::Portable);
    EXPECT_EQ(Kernels().rows.horizontalRgb24, PortableRowRoutines().horizontalRgb24);
    EXPECT_EQ(Kernels().fills.rgb24Mix, PortableFillKernels().rgb24Mix);
    EXPECT_EQ(Kernels().blendLineBand, &BlendLineBand);
    EXPECT_EQ(Kernels().rows.KindsWithKernels(LayoutYuyv), 0u);
    EXPECT_EQ(Kernels().rows.KindsWithKernels(LayoutRgb24), 0u);
    if (SupportedSimdLevel() >= SimdLevel::Ssse3) {
        SetSimdLevelLimit(SimdLevel::Ssse3);
        EXPECT_EQ(ActiveSimdLevel(), SimdLevel::Ssse3);
        EXPECT_NE(Kernels().rows.Planned(LayoutYuyv, PlanKind::YuyvLanes), nullptr);
        EXPECT_NE(Kernels().rows.Planned(LayoutRgb24, PlanKind::Rgb24Lanes), nullptr);
        EXPECT_NE(Kernels().rows.Planned(LayoutYuyv, PlanKind::Paired), nullptr);
        EXPECT_NE(Kernels().rows.Planned(LayoutRgb24, PlanKind::Paired), nullptr);
    }
    SetSimdLevelLimit(SimdLevel::Avx2);
    EXPECT_EQ(ActiveSimdLevel(), SupportedSimdLevel());
    if (SupportedSimdLevel() >= SimdLevel::Sse2) {
        EXPECT_NE(Kernels().rows.horizontalRgb24, PortableRowRoutines().horizontalRgb24);
        // The routines over plans of windows are kept at every level.
        EXPECT_NE(Kernels().rows.Planned(LayoutYuyv, PlanKind::Windows), nullptr);
        EXPECT_NE(Kernels().rows.Planned(LayoutRgb24, PlanKind::Windows), nullptr);
    }
}

// One scaler kept while the level changes between frames: a plan built for one level's
// windows is never handed to another's routines.
TEST(SimdDispatch, AScalerFollowsTheLevelBetweenFrames) {
    std::mt19937 rng(11);
    for (PixelLayout layout : {LayoutYuyv, LayoutRgb24}) {
        const int32_t width = 301, height = 40, bpp = layout == LayoutYuyv ? 2 : 3;
        const std::vector<uint8_t> input = RandomBytes(static_cast<size_t>(width) * height * bpp, rng);
        const Rect source{0, 0, width, height}, destination{-17, -3, width + 13, height + 4};
        std::vector<uint8_t> expected = input;
        {
            LevelLimit limit(SimdLevel::Portable);
            Scaler portable;
            ASSERT_TRUE(portable.Scale(expected.data(), width, height, source, destination, layout, false));
        }
        Scaler scaler;
        for (int32_t l : {3, 2, 1, 2, 3, 0, 2}) {
            const SimdLevel level = static_cast<SimdLevel>(l);
            LevelLimit limit(level);
            std::vector<uint8_t> frame = input;
            ASSERT_TRUE(scaler.Scale(frame.data(), width, height, source, destination, layout, false));
            EXPECT_EQ(frame, expected) << SimdLevelName(level) << ", layout " << layout;
        }
    }
}

// Feature words: leaf 1 EDX bit 26 SSE2, ECX bit 9 SSSE3, bit 27 OSXSAVE and bit 28 AVX,
// leaf 7 EBX bit 5 AVX2, XCR0 bits 1-2 the XMM and YMM state.
constexpr uint32_t kSse2 = 1u << 26, kSsse3 = 1u << 9, kOsxsave = 1u << 27, kAvx = 1u << 28,
                   kAvx2 = 1u << 5;
constexpr uint32_t kAvxCpu = kSsse3 | kOsxsave | kAvx;

TEST(SimdLevelFromFeatures, PicksTheHighestLevelTheCpuAndOsAllow) {
    EXPECT_EQ(SimdLevelFromFeatures({0, 0, 0, 0, 0}), SimdLevel::Portable);
    EXPECT_EQ(SimdLevelFromFeatures({1, 0, 0, 0, 0}), SimdLevel::Portable);  // a Pentium III
    EXPECT_EQ(SimdLevelFromFeatures({2, 0, kSse2, 0, 0}), SimdLevel::Sse2);  // a Pentium 4
    EXPECT_EQ(SimdLevelFromFeatures({10, kSsse3, kSse2, 0, 0}), SimdLevel::Ssse3);  // a Core 2
    EXPECT_EQ(SimdLevelFromFeatures({13, kAvxCpu, kSse2, 0, 0x7}), SimdLevel::Ssse3);  // AVX only
    EXPECT_EQ(SimdLevelFromFeatures({13, kAvxCpu, kSse2, kAvx2, 0x7}), SimdLevel::Avx2);
}

TEST(SimdLevelFromFeatures, EveryLevelNeedsTheOnesBelowIt) {
    EXPECT_EQ(SimdLevelFromFeatures({10, kSsse3, 0, 0, 0}), SimdLevel::Portable);
    EXPECT_EQ(SimdLevelFromFeatures({0, kSsse3, kSse2, 0, 0}), SimdLevel::Portable);  // no leaf 1
    // A hypervisor hiding SSSE3 but passing AVX2 through gets the SSE2 kernels.
    EXPECT_EQ(SimdLevelFromFeatures({13, kOsxsave | kAvx, kSse2, kAvx2, 0x7}), SimdLevel::Sse2);
}

TEST(SimdLevelFromFeatures, Avx2NeedsTheOsToSaveYmmRegisters) {
    // No OSXSAVE (Windows XP, or XP-era Wine settings): the YMM state would be lost.
    EXPECT_EQ(SimdLevelFromFeatures({13, kSsse3 | kAvx, kSse2, kAvx2, 0x7}), SimdLevel::Ssse3);
    // OSXSAVE but the OS enabled only the x87 and XMM state.
    EXPECT_EQ(SimdLevelFromFeatures({13, kAvxCpu, kSse2, kAvx2, 0x3}), SimdLevel::Ssse3);
    EXPECT_EQ(SimdLevelFromFeatures({13, kAvxCpu, kSse2, kAvx2, 0x5}), SimdLevel::Ssse3);
    // AVX disabled (a hypervisor hiding it), or leaf 7 beyond the CPU's last leaf.
    EXPECT_EQ(SimdLevelFromFeatures({13, kSsse3 | kOsxsave, kSse2, kAvx2, 0x7}), SimdLevel::Ssse3);
    EXPECT_EQ(SimdLevelFromFeatures({6, kAvxCpu, kSse2, kAvx2, 0x7}), SimdLevel::Ssse3);
    // The AVX2 and SSSE3 bits do not stand in for SSE2.
    EXPECT_EQ(SimdLevelFromFeatures({13, kAvxCpu, 0, kAvx2, 0x7}), SimdLevel::Portable);
}

// The names KVX_SIMD_LEVEL takes: exactly those SimdLevelName gives.
TEST(SimdLevelFromName, EveryLevelByItsNameAndNothingElse) {
    for (SimdLevel level : {SimdLevel::Portable, SimdLevel::Sse2, SimdLevel::Ssse3, SimdLevel::Avx2}) {
        SimdLevel read = level == SimdLevel::Portable ? SimdLevel::Avx2 : SimdLevel::Portable;
        EXPECT_TRUE(SimdLevelFromName(SimdLevelName(level), read));
        EXPECT_EQ(read, level);
    }
    for (const char* other : {"", "AVX2", "avx", "avx2 ", "sse3", "unknown"}) {
        SimdLevel kept = SimdLevel::Sse2;
        EXPECT_FALSE(SimdLevelFromName(other, kept)) << other;
        EXPECT_EQ(kept, SimdLevel::Sse2);
    }
    SimdLevel kept = SimdLevel::Ssse3;
    EXPECT_FALSE(SimdLevelFromName(nullptr, kept));
    EXPECT_EQ(kept, SimdLevel::Ssse3);
}

TEST(SimdLevelFromFeatures, TheRunningCpuIsReadConsistently) {
    EXPECT_EQ(DetectSimdLevel(), SimdLevelFromFeatures(ReadCpuFeatureWords()));
    EXPECT_EQ(SupportedSimdLevel(), DetectSimdLevel());
#if defined(__x86_64__)
    EXPECT_GE(SupportedSimdLevel(), SimdLevel::Sse2);  // part of every x86-64 CPU
#endif
}

}  // namespace
}  // namespace kvx
