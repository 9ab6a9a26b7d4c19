// The kernels alone at each SIMD level: the row routines over one 1920-pixel row of a
// 110 % zoom, and the border fill and the line blend over a whole frame.
#include <benchmark/benchmark.h>

#include "bench/bench_cases.h"
#include "video/dispatch.h"

namespace kvx {
namespace bench {

namespace {

constexpr int32_t kRowPixels = 1920;
constexpr SimdLevel kLevels[] = {SimdLevel::Portable, SimdLevel::Sse2, SimdLevel::Ssse3,
                                 SimdLevel::Avx2};

bool Supported(benchmark::State& st, SimdLevel level) {
    if (level <= SupportedSimdLevel()) return true;
    st.SkipWithError("level not supported by this CPU");
    return false;
}

// index 0 even, 1 odd 4:2:2, 2 24-bit
void Horizontal(benchmark::State& st, SimdLevel level, int routine) {
    if (!Supported(st, level)) return;
    const RowRoutines rows = KernelsForLevel(level).rows;
    const HorizontalRowFn fn = routine == 0   ? rows.horizontalYuyvEven
                               : routine == 1 ? rows.horizontalYuyvOdd
                                              : rows.horizontalRgb24;
    const int32_t source = kRowPixels * 10 / 11;
    std::vector<ScaleStep> table(kRowPixels);
    BuildScaleSteps(source, kRowPixels, 0, kRowPixels, 4, table.data());
    const std::vector<uint8_t> work = TestPicture(source, 1, 4);
    std::vector<uint8_t> out(kRowPixels * 3);
    for (auto _ : st) {
        fn(work.data(), out.data(), kRowPixels, table.data());
        benchmark::ClobberMemory();
    }
}

// The planned horizontal routines (index 0 4:2:2, 2 24-bit) over the plan of the same table.
void Planned(benchmark::State& st, SimdLevel level, int routine) {
    if (!Supported(st, level)) return;
    const RowRoutines rows = KernelsForLevel(level).rows;
    const PlannedRowFn fn = routine == 0 ? rows.plannedYuyv : rows.plannedRgb24;
    const int32_t source = kRowPixels * 10 / 11;
    std::vector<ScaleStep> table(kRowPixels);
    BuildScaleSteps(source, kRowPixels, 0, kRowPixels, 4, table.data());
    std::vector<ColumnPlanBlock> blocks(ColumnPlanCapacity(kRowPixels));
    ColumnPlan plan;
    if (!fn || !BuildColumnPlan(table.data(), kRowPixels, source, rows.planWindowBytes,
                                blocks.data(), plan)) {
        st.SkipWithError("no planned routine at this level");
        return;
    }
    const std::vector<uint8_t> work = TestPicture(source, 1, 4);
    std::vector<uint8_t> out(kRowPixels * 3);
    for (auto _ : st) {
        fn(work.data(), out.data(), table.data(), plan, false);
        benchmark::ClobberMemory();
    }
}

void Vertical(benchmark::State& st, SimdLevel level, bool yuyv) {
    if (!Supported(st, level)) return;
    const RowRoutines rows = KernelsForLevel(level).rows;
    const std::vector<uint8_t> a = TestPicture(kRowPixels, 1, 3), b = TestPicture(kRowPixels, 2, 3);
    std::vector<uint8_t> work(kRowPixels * 4);
    for (auto _ : st) {
        if (yuyv) rows.verticalYuyv(a.data(), b.data() + kRowPixels, 1234, work.data(), kRowPixels / 2);
        else rows.verticalRgb24(a.data(), b.data() + kRowPixels, 1234, work.data(), kRowPixels);
        benchmark::ClobberMemory();
    }
}

void Fill(benchmark::State& st, SimdLevel level, PixelFormat f, FrameSize s, int32_t mix) {
    if (!Supported(st, level)) return;
    const FillKernels fills = KernelsForLevel(level).fills;
    std::vector<uint8_t> frame = TestPicture(s.width, s.height, f.bytesPerPixel);
    const int32_t rowBytes = s.width * f.bytesPerPixel;
    for (auto _ : st) {
        for (int32_t y = 0; y < s.height; ++y) {
            uint8_t* row = frame.data() + static_cast<size_t>(y) * rowBytes;
            if (f.code == 0) fills.Yuyv(false, mix)(row, s.width, 0x80008000u, mix, true);
            else fills.Rgb24(mix)(row, s.width, 0, mix);
        }
        benchmark::ClobberMemory();
    }
}

void LineBlend(benchmark::State& st, SimdLevel level, PixelFormat f, FrameSize s) {
    if (!Supported(st, level)) return;
    const BlendLineRowFn blend = KernelsForLevel(level).blendLineRow;
    std::vector<uint8_t> frame = TestPicture(s.width, s.height, f.bytesPerPixel);
    const int32_t rowBytes = s.width * f.bytesPerPixel;
    std::vector<uint8_t> saved(rowBytes);
    for (auto _ : st) {
        // The whole of BlendLines, with the kernel of this level.
        std::copy(frame.begin(), frame.begin() + rowBytes, saved.begin());
        uint8_t* line = frame.data() + rowBytes;
        for (int32_t y = 1; y < s.height - 1; ++y, line += rowBytes)
            blend(line, line + rowBytes, saved.data(), rowBytes / 8 * 8);
        benchmark::ClobberMemory();
    }
}

}  // namespace

void RegisterKernelBenchmarks() {
    const char* horizontalNames[] = {"horizontalYuyvEven", "horizontalYuyvOdd", "horizontalRgb24"};
    for (SimdLevel level : kLevels) {
        const std::string l = SimdLevelName(level);
        for (int routine = 0; routine < 3; ++routine)
            benchmark::RegisterBenchmark(Name({"kernel", horizontalNames[routine], "1920", l}).c_str(),
                                         Horizontal, level, routine)
                ->Unit(benchmark::kMicrosecond);
        if (level >= SimdLevel::Ssse3)
            for (int routine : {0, 2})
                benchmark::RegisterBenchmark(
                    Name({"kernel", routine ? "plannedRgb24" : "plannedYuyv", "1920", l}).c_str(),
                    Planned, level, routine)
                    ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(Name({"kernel", "verticalYuyv", "1920", l}).c_str(), Vertical,
                                     level, true)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(Name({"kernel", "verticalRgb24", "1920", l}).c_str(), Vertical,
                                     level, false)
            ->Unit(benchmark::kMicrosecond);
        for (const PixelFormat& f : kFormats)
            for (const FrameSize& s : kSizes) {
                benchmark::RegisterBenchmark(Name({"kernel", "fill-solid", f.name, s.name, l}).c_str(),
                                             Fill, level, f, s, 0)
                    ->Unit(benchmark::kMicrosecond);
                benchmark::RegisterBenchmark(Name({"kernel", "fill-mix", f.name, s.name, l}).c_str(),
                                             Fill, level, f, s, 128)
                    ->Unit(benchmark::kMicrosecond);
                benchmark::RegisterBenchmark(Name({"kernel", "line-blend", f.name, s.name, l}).c_str(),
                                             LineBlend, level, f, s)
                    ->Unit(benchmark::kMicrosecond);
            }
    }
}

}  // namespace bench
}  // namespace kvx
