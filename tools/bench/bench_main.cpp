// kvx_bench: runs every benchmark, then prints the summary table of time per frame and
// the ratios to memcpy, to the fastest library and between the SIMD levels.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>

#include "bench/bench_cases.h"
#include "video/dispatch.h"

namespace kvx {
namespace bench {

Resample LibraryResample(const FrameSize& size, const ScaleCase& c) {
    const int32_t w = size.width, h = size.height;
    if (c.scale > 1000) {
        const int32_t sw = (w * 1000 / c.scale) & ~1, sh = h * 1000 / c.scale;
        return Resample{((w - sw) / 2) & ~1, (h - sh) / 2, sw, sh, w, h};
    }
    return Resample{0, 0, w, h, (w * c.scale / 1000) & ~1, h * c.scale / 1000};
}

std::vector<uint8_t> TestPicture(int32_t width, int32_t height, int32_t bytesPerPixel) {
    std::vector<uint8_t> frame(static_cast<size_t>(width) * height * bytesPerPixel);
    std::mt19937 rng(1);
    const int32_t rowBytes = width * bytesPerPixel;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t i = 0; i < rowBytes; ++i)
            frame[static_cast<size_t>(y) * rowBytes + i] =
                static_cast<uint8_t>(i / 5 + y / 3 + (i % bytesPerPixel) * 60 + (rng() & 15));
    return frame;
}

std::string Name(std::initializer_list<std::string> parts) {
    std::string name;
    for (const std::string& p : parts) name += (name.empty() ? "" : "/") + p;
    return name;
}

namespace {

// Keeps every result's time per iteration (microseconds) by name, then prints as usual.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> micros;

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                micros[run.benchmark_name()] =
                    run.GetAdjustedRealTime() * benchmark::GetTimeUnitMultiplier(benchmark::kMicrosecond) /
                    benchmark::GetTimeUnitMultiplier(run.time_unit);
        ConsoleReporter::ReportRuns(runs);
    }

    double Get(const std::string& name) const {
        auto it = micros.find(name);
        return it == micros.end() ? 0 : it->second;
    }
};

void PrintRatio(double numerator, double denominator) {
    if (numerator > 0 && denominator > 0) std::printf(" %8.2f", numerator / denominator);
    else std::printf(" %8s", "-");
}

// Frames take milliseconds, a kernel over one row a microsecond or two: decimals for those.
void PrintTime(double micros, int decimals = 0) {
    if (micros > 0) std::printf(" %9.*f", decimals, micros);
    else std::printf(" %9s", "-");
}

void PrintSummary(const CollectingReporter& r) {
    const std::string best = SimdLevelName(SupportedSimdLevel());
    std::printf("\nProcessFrame per frame (us); SIMD = %s. Ratios: SIMD time / memcpy time, fastest "
                "library time / SIMD time, portable time / SIMD time.\n", best.c_str());
    std::printf("%-6s %-9s %-19s %9s %9s %9s %9s %9s %9s %8s %8s %8s\n", "format", "size", "case",
                "portable", "sse2", "ssse3", "avx2", "memcpy", "library", "x memcpy", "lib/simd",
                "port/simd");
    for (const PixelFormat& f : kFormats)
        for (const FrameSize& s : kSizes)
            for (const ScaleCase& c : kCases) {
                auto frame = [&](const char* level) {
                    return r.Get(Name({"frame", f.name, s.name, c.name, level}));
                };
                const double portable = frame("portable"), simd = frame(best.c_str());
                const double copy = r.Get(Name({"memcpy", f.name, s.name}));
                double library = 0;
                for (const char* lib : {"libyuv", "swscale"}) {
                    double t = r.Get(Name({lib, f.name, s.name, c.name}));
                    if (t > 0 && (library == 0 || t < library)) library = t;
                }
                std::printf("%-6s %-9s %-19s", f.name, s.name, c.name);
                PrintTime(portable), PrintTime(frame("sse2")), PrintTime(frame("ssse3")),
                    PrintTime(frame("avx2")), PrintTime(copy), PrintTime(library);
                PrintRatio(simd, copy), PrintRatio(library, simd), PrintRatio(portable, simd);
                std::printf("\n");
            }

    std::printf("\nKernels (us per row or per frame) and the speed-up over the portable path.\n");
    std::printf("%-42s %9s %9s %9s %9s %8s %8s %8s\n", "kernel", "portable", "sse2", "ssse3",
                "avx2", "sse2 x", "ssse3 x", "avx2 x");
    std::map<std::string, bool> seen;
    for (const auto& entry : r.micros) {
        const std::string& name = entry.first;
        if (name.rfind("kernel/", 0) != 0) continue;
        const std::string stem = name.substr(0, name.rfind('/'));
        if (seen[stem]) continue;
        seen[stem] = true;
        // A planned routine has no portable version: it stands against the table walk.
        std::string reference = stem;
        if (stem == "kernel/plannedYuyv/1920") reference = "kernel/horizontalYuyvEven/1920";
        if (stem == "kernel/plannedRgb24/1920") reference = "kernel/horizontalRgb24/1920";
        const double portable = r.Get(reference + "/portable"), sse2 = r.Get(stem + "/sse2"),
                     ssse3 = r.Get(stem + "/ssse3"), avx2 = r.Get(stem + "/avx2");
        std::printf("%-42s", stem.substr(7).c_str());
        PrintTime(portable, 2), PrintTime(sse2, 2), PrintTime(ssse3, 2), PrintTime(avx2, 2);
        PrintRatio(portable, sse2), PrintRatio(portable, ssse3), PrintRatio(portable, avx2);
        std::printf("\n");
    }
}

}  // namespace
}  // namespace bench
}  // namespace kvx

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    kvx::bench::RegisterFrameBenchmarks();
    kvx::bench::RegisterLibraryBenchmarks();
    kvx::bench::RegisterKernelBenchmarks();
    kvx::bench::CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    kvx::bench::PrintSummary(reporter);
    benchmark::Shutdown();
    return 0;
}
