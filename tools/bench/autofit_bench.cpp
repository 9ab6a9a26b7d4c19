// The live fit's own cost, for the table that sets it against the frame's processing: its
// work on every frame (sampling every eighth, deciding over the window) on frames written just
// before each call, a full picture so the fit in force and the frame's processing stay those
// of the plain case; and FitSettings, which runs once per change.
#include <benchmark/benchmark.h>

#include <chrono>

#include "bench/bench_cases.h"
#include "bench/timed_call.h"
#include "borders/fit_settings.h"
#include "host/live_fit.h"

namespace kvx {
namespace bench {

namespace {

// Mean time per frame: the iterations run in whole rounds of the sampling period.
void AnalyseFrames(benchmark::State& st, PixelFormat f, FrameSize s) {
    LiveFit fit;
    fit.Configure(s.width, s.height, f.code);
    ChannelProfile profile = kBuiltInProfile;
    profile.procEnable = profile.autoFit = 1;
    const std::vector<uint8_t> pristine = TestPicture(s.width, s.height, f.bytesPerPixel);
    std::vector<uint8_t> frame = pristine;
    for (auto _ : st) {
        TimeAfterWriting(st, frame, pristine, [&] {
            for (long long i = 0; i < LiveFit::kSampleEvery; ++i) benchmark::DoNotOptimize(fit.Process(frame.data(), profile));
        });
    }
    st.counters["frames"] = static_cast<double>(st.iterations() * LiveFit::kSampleEvery);
}

// One change: the settings for a 16:9 picture letterboxed in the frame, field by field, one
// scale for both axes (the slowest search: both axes, then the common scale).
void FitOnce(benchmark::State& st, FrameSize s) {
    const int32_t bar = s.height / 8;
    FitRequest request;
    request.mode = FitMode::Aspect;
    request.interlaced = true;
    for (auto _ : st) {
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(FitSettings(s.width, s.height, Rect{0, bar, s.width, s.height - bar}, request));
        st.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}

}  // namespace

std::string AutoFitName(const PixelFormat& f, const FrameSize& s) { return Name({"autofit", f.name, s.name}); }
std::string FitSettingsName(const FrameSize& s) { return Name({"fitsettings", s.name}); }

void RegisterAutoFitBenchmarks() {
    for (const PixelFormat& f : kFormats)
        for (const FrameSize& s : kSizes)
            benchmark::RegisterBenchmark(AutoFitName(f, s).c_str(), AnalyseFrames, f, s)
                ->UseManualTime()
                ->Unit(benchmark::kMicrosecond);
    for (const FrameSize& s : kSizes)
        benchmark::RegisterBenchmark(FitSettingsName(s).c_str(), FitOnce, s)
            ->UseManualTime()
            ->Unit(benchmark::kMicrosecond);
}

}  // namespace bench
}  // namespace kvx
