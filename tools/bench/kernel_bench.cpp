// Every kernel of the kernel list alone, at each SIMD level that brings a version of its
// own: the row routines over one 1920-pixel row of a 110 % zoom (the planned ones also of a
// 90 % shrink), the border fills and the line blend over the rows of a 1920x1080 frame.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <type_traits>

#include "bench/bench_cases.h"
#include "video/kernel_list.h"

namespace kvx {
namespace bench {

namespace {

constexpr int32_t kRowPixels = 1920;
constexpr int32_t kFrameRows = 1080;
constexpr SimdLevel kLevels[] = {SimdLevel::Portable, SimdLevel::Sse2, SimdLevel::Ssse3,
                                 SimdLevel::Avx2};

// The column table of one destination row of 1920 pixels resampled by `percent` (110: a
// zoom, 90: a shrink), and its work row.
struct ResampledRow {
    explicit ResampledRow(int32_t percent = 110) : source(kRowPixels * 100 / percent) {
        BuildScaleSteps(source, kRowPixels, 0, kRowPixels, 4, table.data());
    }
    int32_t source;
    std::vector<ScaleStep> table = std::vector<ScaleStep>(kRowPixels);
    std::vector<uint8_t> work = TestPicture(source, 1, 4);
    std::vector<uint8_t> out = std::vector<uint8_t>(kRowPixels * 3);
};

void Time(benchmark::State& st, VerticalRowFn fn, VerticalCase c) {
    const std::vector<uint8_t> a = TestPicture(kRowPixels, 1, 3), b = TestPicture(kRowPixels, 1, 3);
    std::vector<uint8_t> work(kRowPixels * 4);
    const int32_t groups = c.layout == LayoutYuyv ? kRowPixels / 2 : kRowPixels;
    for (auto _ : st) {
        fn(a.data(), b.data(), 1234, work.data(), groups);
        benchmark::ClobberMemory();
    }
}

void TimeWalk(benchmark::State& st, HorizontalRowFn fn, int32_t percent) {
    ResampledRow row(percent);
    for (auto _ : st) {
        fn(row.work.data(), row.out.data(), kRowPixels, row.table.data());
        benchmark::ClobberMemory();
    }
}

void Time(benchmark::State& st, HorizontalRowFn fn, HorizontalCase) { TimeWalk(st, fn, 110); }

// A planned routine over the row, or a pair routine over the row and a copy of it (timed
// by hand: the time is per row).
void PlannedCall(benchmark::State& st, PlannedRowFn fn, ResampledRow& row, const ColumnPlan& plan) {
    for (auto _ : st) {
        fn(row.work.data(), row.out.data(), row.table.data(), plan, false);
        benchmark::ClobberMemory();
    }
}

void PlannedCall(benchmark::State& st, PlannedRowPairFn fn, ResampledRow& row, const ColumnPlan& plan) {
    const std::vector<uint8_t> work = row.work;
    std::vector<uint8_t> out = row.out;
    constexpr int kCalls = 8;  // a clock reading costs a tenth of a row: spread over several
    for (auto _ : st) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kCalls; ++i) {
            fn(row.work.data(), row.out.data(), work.data(), out.data(), row.table.data(), plan, false);
            benchmark::ClobberMemory();
        }
        const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
        st.SetIterationTime(spent.count() / (2 * kCalls));
    }
}

// A planned routine over the plan of its kind, with lanes as long as the row allows.
template <typename Fn>
void TimePlanned(benchmark::State& st, Fn fn, PlannedCase c, int32_t percent) {
    ResampledRow row(percent);
    ColumnPlan plan;
    if (!plan.Reserve(kRowPixels) ||
        !BuildPlan(PlanShape{c.kind, 3},
                   PlanSource{row.table.data(), kRowPixels, row.source, c.layout, 0}, plan)) {
        st.SkipWithError("the table fits no plan");
        return;
    }
    PlannedCall(st, fn, row, plan);
}

template <typename Row>
void OverFrameRows(benchmark::State& st, int32_t bytesPerPixel, Row row) {
    std::vector<uint8_t> frame = TestPicture(kRowPixels, kFrameRows, bytesPerPixel);
    const size_t rowBytes = static_cast<size_t>(kRowPixels) * bytesPerPixel;
    for (auto _ : st) {
        for (int32_t y = 0; y < kFrameRows; ++y) row(frame.data() + y * rowBytes);
        benchmark::ClobberMemory();
    }
}

void Time(benchmark::State& st, FillYuyvFn fn, FillYuyvCase c) {
    const int32_t mix = c.mix ? 128 : 0;
    OverFrameRows(st, 2, [&](uint8_t* row) { fn(row, kRowPixels - c.oddLeft, 0x80008000u, mix, true); });
}

void Time(benchmark::State& st, FillRgb24Fn fn, FillRgb24Case c) {
    const int32_t mix = c.mix ? 128 : 0;
    OverFrameRows(st, 3, [&](uint8_t* row) { fn(row, kRowPixels, 0, mix); });
}

// The whole of BlendLines over a 4:2:2 frame, with the band kernel of this level.
void Time(benchmark::State& st, BlendLineBandFn fn, LineBlendCase) {
    std::vector<uint8_t> frame = TestPicture(kRowPixels, kFrameRows, 2);
    std::vector<uint8_t> lineBuffer(static_cast<size_t>(kRowPixels) * 2);
    for (auto _ : st) {
        BlendLines(fn, frame.data(), lineBuffer.data(), kRowPixels, kFrameRows, 2);
        benchmark::ClobberMemory();
    }
}

}  // namespace

void RegisterKernelBenchmarks() {
    const VideoKernels portable = KernelsForLevel(SimdLevel::Portable);
    ForEachKernel([&](const char* name, auto member, auto c) {
        auto timed = member(portable);  // what the level below runs
        for (SimdLevel level : kLevels) {
            if (level > SupportedSimdLevel()) break;
            const VideoKernels kernels = KernelsForLevel(level);
            const auto fn = member(kernels);
            if (level != SimdLevel::Portable && (!fn || fn == timed)) continue;
            timed = fn;
            const std::string title = Name({"kernel", name, SimdLevelName(level)});
            if constexpr (std::is_same_v<decltype(c), PlannedCase>) {
                // A shrink row too: it takes plans of another shape (shorter 24-bit lanes).
                for (int32_t percent : {110, 90}) {
                    const std::string shape = percent == 110 ? "" : " shrink";
                    const std::string named = Name({"kernel", name + shape, SimdLevelName(level)});
                    // No portable plan: the portable table walk of the layout stands beside it.
                    const HorizontalRowFn walk = c.layout == LayoutYuyv
                                                     ? portable.rows.horizontalYuyvEven
                                                     : portable.rows.horizontalRgb24;
                    if (level == SimdLevel::Portable)
                        benchmark::RegisterBenchmark(named.c_str(), [walk, percent](benchmark::State& st) {
                            TimeWalk(st, walk, percent);
                        })->Unit(benchmark::kMicrosecond);
                    else {
                        auto* timed = benchmark::RegisterBenchmark(
                            named.c_str(), [fn, c, percent](benchmark::State& st) {
                                TimePlanned(st, fn, c, percent);
                            });
                        timed->Unit(benchmark::kMicrosecond);
                        if (std::is_same_v<decltype(fn), const PlannedRowPairFn>) timed->UseManualTime();
                    }
                }
            } else {
                benchmark::RegisterBenchmark(title.c_str(), [fn, c](benchmark::State& st) {
                    Time(st, fn, c);
                })->Unit(benchmark::kMicrosecond);
            }
        }
    });
}

}  // namespace bench
}  // namespace kvx
