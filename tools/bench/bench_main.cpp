// kvx_bench: runs every benchmark, then prints the summary table of time per frame and
// the ratios to memcpy, to the fastest library and between the SIMD levels, and the table
// of targets for the README. With --readme it runs only what that table needs and prints
// only the table.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <vector>

#include "bench/bench_cases.h"
#include "host/live_fit.h"
#include "video/dispatch.h"

namespace kvx {
namespace bench {

namespace {

// A benchmark's name without the suffix of manually timed runs.
std::string BaseName(std::string name) {
    const std::string suffix = "/manual_time";
    if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        name.resize(name.size() - suffix.size());
    return name;
}

// Keeps every result's time per iteration (microseconds) by name, then prints as usual.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    explicit CollectingReporter(bool quiet) : quiet(quiet) {}
    bool ReportContext(const Context& context) override {
        return quiet || ConsoleReporter::ReportContext(context);
    }

    const bool quiet;
    std::map<std::string, double> micros;

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                // Of repetitions, the fastest: the one the other work on the machine
                // disturbed least.
                const double t = run.GetAdjustedRealTime() *
                                 benchmark::GetTimeUnitMultiplier(benchmark::kMicrosecond) /
                                 benchmark::GetTimeUnitMultiplier(run.time_unit);
                double& kept = micros[BaseName(run.benchmark_name())];
                kept = kept > 0 ? std::min(kept, t) : t;
            }
        if (!quiet) ConsoleReporter::ReportRuns(runs);
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

    std::printf("\nKernels (us per 1920-pixel row, fills and line blend per 1920x1080 frame) and the\n"
                "speed-up over the portable path (for a planned routine: the portable table walk).\n");
    std::printf("%-42s %9s %9s %9s %9s %8s %8s %8s\n", "kernel", "portable", "sse2", "ssse3",
                "avx2", "sse2 x", "ssse3 x", "avx2 x");
    std::map<std::string, bool> seen;
    for (const auto& entry : r.micros) {
        const std::string& name = entry.first;
        if (name.rfind("kernel/", 0) != 0) continue;
        const std::string stem = name.substr(0, name.rfind('/'));
        if (seen[stem]) continue;
        seen[stem] = true;
        // A level that keeps the kernel of the level below has no time of its own (-).
        const double portable = r.Get(stem + "/portable"), sse2 = r.Get(stem + "/sse2"),
                     ssse3 = r.Get(stem + "/ssse3"), avx2 = r.Get(stem + "/avx2");
        std::printf("%-42s", stem.substr(7).c_str());
        PrintTime(portable, 2), PrintTime(sse2, 2), PrintTime(ssse3, 2), PrintTime(avx2, 2);
        PrintRatio(portable, sse2), PrintRatio(portable, ssse3), PrintRatio(portable, avx2);
        std::printf("\n");
    }
}

// The machine the figures come from: the CPU's model name and its logical processors.
std::string CpuLine() {
    std::ifstream info("/proc/cpuinfo");
    std::string line, model = "unknown CPU";
    int processors = 0;
    while (std::getline(info, line)) {
        if (line.rfind("model name", 0) == 0 && line.find(':') != std::string::npos)
            model = line.substr(line.find(':') + 2);
        if (line.rfind("processor", 0) == 0) ++processors;
    }
    return model + ", " + std::to_string(processors) + " logical processors, best level " +
           SimdLevelName(SupportedSimdLevel());
}

// A ratio with its target: "3.12 ✓" when met, "2.91 ✗" when not.
std::string Judged(double ratio, double target, bool atLeast, int& met, int& total) {
    if (ratio <= 0) return "-";
    const bool ok = atLeast ? ratio >= target : ratio <= target;
    met += ok;
    ++total;
    char text[32];
    std::snprintf(text, sizeof text, "%.2f %s", ratio, ok ? "\xE2\x9C\x93" : "\xE2\x9C\x97");
    return text;
}

std::string Micros(double t) {
    if (t <= 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", t);
    return text;
}

// How the README names a frame size and a case.
std::string SizeLabel(const FrameSize& s) {
    return std::to_string(s.width) + "\xC3\x97" + std::to_string(s.height);  // 720×576
}
std::string CaseLabel(const ScaleCase& c) {
    const std::string scale = std::to_string(c.scale / 10) + " %";
    return (c.scale > 1000 ? "zoom " : "shrink ") + scale + (c.interlaced ? " by field, blended" : "");
}

// The speed every case keeps, as regression guards: the best level at least 3 x the
// fastest library, SSE2 at least level with it, a 1080p zoom within 4 x a memcpy of the
// frame. (The DLL within 1.25 x the .so is judged by dll_table.py.)
constexpr double kBestOverLibrary = 3, kSse2OverLibrary = 1, kZoomOverMemcpy = 4;

// The README's table: every case with a library equivalent, every target judged.
void PrintReadmeTable(const CollectingReporter& r) {
    const auto first = r.micros.lower_bound("frame/");
    if (first == r.micros.end() || first->first.rfind("frame/", 0) != 0) return;  // filtered out
    const std::string best = SimdLevelName(SupportedSimdLevel());
    std::string bestLabel = best;  // "AVX2"
    for (char& ch : bestLabel) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    char date[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(date, sizeof date, "%Y-%m-%d", std::gmtime(&now));
    std::printf("\nFigures of one run, %s, %s. Times in \xC2\xB5s per frame (the fastest "
                "repetition), each call on a frame written just before it:\n\n",
                date, CpuLine().c_str());
    std::printf("| Frame | Case | SSE2 | SSSE3 | AVX2 | memcpy | fastest library | library \xC3\xB7 %s "
                "(target \xE2\x89\xA5 %g) | library \xC3\xB7 SSE2 (target \xE2\x89\xA5 %g) | "
                "%s \xC3\xB7 memcpy (1080p zoom: target \xE2\x89\xA4 %g) |\n",
                bestLabel.c_str(), kBestOverLibrary, kSse2OverLibrary, bestLabel.c_str(), kZoomOverMemcpy);
    std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
    int met = 0, total = 0;
    for (const PixelFormat& f : kFormats)
        for (const FrameSize& s : kSizes)
            for (const ScaleCase& c : kCases) {
                if (!c.libraryEquivalent) continue;
                auto frame = [&](const std::string& level) {
                    return r.Get(Name({"frame", f.name, s.name, c.name, level}));
                };
                const double sse2 = frame("sse2"), top = frame(best);
                const double copy = r.Get(Name({"memcpy", f.name, s.name}));
                double library = 0;
                std::string libraryName = "-";
                for (const char* lib : {"libyuv", "swscale"}) {
                    const double t = r.Get(Name({lib, f.name, s.name, c.name}));
                    if (t > 0 && (library == 0 || t < library)) library = t, libraryName = lib;
                }
                const bool zoom1080 = s.height == 1080 && c.scale > 1000 && !c.interlaced;
                std::string memcpyRatio = "-";
                if (top > 0 && copy > 0) {
                    char text[16];
                    std::snprintf(text, sizeof text, "%.2f", top / copy);
                    memcpyRatio = zoom1080 ? Judged(top / copy, kZoomOverMemcpy, false, met, total) : text;
                }
                std::printf("| %s %s | %s | %s | %s | %s | %s | %s (%s) | %s | %s | %s |\n", f.name,
                            SizeLabel(s).c_str(), CaseLabel(c).c_str(), Micros(sse2).c_str(), Micros(frame("ssse3")).c_str(),
                            Micros(frame("avx2")).c_str(), Micros(copy).c_str(),
                            Micros(library).c_str(), libraryName.c_str(),
                            Judged(top > 0 ? library / top : 0, kBestOverLibrary, true, met, total).c_str(),
                            Judged(sse2 > 0 ? library / sse2 : 0, kSse2OverLibrary, true, met, total).c_str(),
                            memcpyRatio.c_str());
            }
    std::printf("\nTargets met: %d of %d.\n", met, total);
}

// The live fit's analysis against the frame's processing it rides on: zoom 110 % at the best
// level, the fastest frame path and so the strictest share.
constexpr double kAnalysisShare = 0.03;

void PrintAutoFitTable(const CollectingReporter& r) {
    const std::string best = SimdLevelName(SupportedSimdLevel());
    std::printf("\nAuto-fit's analysis per frame (every %lldth frame sampled, the window decided; the mean over "
                "whole rounds), natively, against ProcessFrame at zoom 110 %% (%s):\n\n",
                LiveFit::kSampleEvery, best.c_str());
    std::printf("| Frame | analysis \xC2\xB5s per frame | frame \xC2\xB5s | analysis \xC3\xB7 frame (target "
                "\xE2\x89\xA4 %g %%) |\n|---|---|---|---|\n", 100 * kAnalysisShare);
    int met = 0, total = 0;
    for (const PixelFormat& f : kFormats)
        for (const FrameSize& s : kSizes) {
            const double analysis = r.Get(AutoFitName(f, s)) / LiveFit::kSampleEvery;
            const double frame = r.Get(Name({"frame", f.name, s.name, "zoom110", best}));
            if (analysis <= 0 || frame <= 0) continue;
            const bool ok = analysis <= kAnalysisShare * frame;
            met += ok;
            ++total;
            std::printf("| %s %s | %.2f | %.0f | %.1f %% %s |\n", f.name, SizeLabel(s).c_str(), analysis, frame,
                        100 * analysis / frame, ok ? "\xE2\x9C\x93" : "\xE2\x9C\x97");
        }
    std::printf("\nAnalysis targets met: %d of %d. FitSettings, run once per change of the fit:", met, total);
    for (const FrameSize& s : kSizes) std::printf(" %s %.2f ms;", SizeLabel(s).c_str(), r.Get(FitSettingsName(s)) / 1000);
    std::printf("\n");
}

}  // namespace
}  // namespace bench
}  // namespace kvx

int main(int argc, char** argv) {
    // --readme: only the frames, copies and libraries of the table of targets, and the table.
    bool readme = false;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--readme") == 0) {
            readme = true;
            for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
            --argc;
            break;
        }
    // The tables take the fastest of five repetitions unless told otherwise. The
    // repetitions of all the benchmarks run in a random order, so that each case meets the
    // machine at five moments of the run: a busy minute on a shared machine then costs a
    // case one repetition, not all five, and the ratios between the plug-in and the
    // libraries compare times from across the whole run.
    std::vector<char*> args(argv, argv + argc);
    char repetitions[] = "--benchmark_repetitions=5";
    char interleaving[] = "--benchmark_enable_random_interleaving=true";
    bool repeated = false;
    for (int i = 1; i < argc; ++i) repeated |= std::strncmp(argv[i], "--benchmark_repetitions", 23) == 0;
    if (readme && !repeated) args.push_back(repetitions);
    if (readme) args.push_back(interleaving);
    argc = static_cast<int>(args.size());
    args.push_back(nullptr);
    argv = args.data();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    kvx::bench::RegisterFrameBenchmarks(readme);
    kvx::bench::RegisterLibraryBenchmarks();
    if (!readme) kvx::bench::RegisterKernelBenchmarks();
    kvx::bench::RegisterAutoFitBenchmarks();
    kvx::bench::CollectingReporter reporter(readme);
    if (readme) std::fprintf(stderr, "kvx_bench: timing the cases of the README table...\n");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (!readme) kvx::bench::PrintSummary(reporter);
    kvx::bench::PrintReadmeTable(reporter);
    kvx::bench::PrintAutoFitTable(reporter);
    benchmark::Shutdown();
    return 0;
}
