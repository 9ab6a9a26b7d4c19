// ProcessFrame through the real frame path (blend, scale, borders) at each SIMD level,
// and memcpy of the same frame as the floor, each on a frame written just before the call
// as a decoder leaves it.
#include <benchmark/benchmark.h>

#include <cstring>

#include "bench/bench_cases.h"
#include "bench/timed_call.h"
#include "host/plugin_state.h"
#include "video/dispatch.h"

namespace kvx {
namespace bench {

namespace {

// The plug-in's state as FormatChange leaves it, with the case's settings in the profile.
struct ConfiguredPlugin {
    PluginState state;

    ConfiguredPlugin(const PixelFormat& f, const FrameSize& s, const ScaleCase& c) {
        state.format = VideoFormat{s.width, s.height, f.bytesPerPixel, f.code, 0};
        state.surface.Configure(s.width, s.height, f.code);
        state.scaler.SetHysteresis(10, 10);
        state.EnsureLineBuffer();
        state.store.EditCurrent([&](ChannelProfile& p) {
            p.procEnable = 1;
            p.scaleX = p.scaleY = c.scale;
            p.offsetX = c.offsetX;
            p.offsetY = c.offsetY;
            p.interlace = c.interlaced;
            p.deinterlace = c.interlaced;
        });
    }
};

void ProcessFrames(benchmark::State& st, PixelFormat f, FrameSize s, ScaleCase c, SimdLevel level) {
    if (level > SupportedSimdLevel()) {
        st.SkipWithError("level not supported by this CPU");
        return;
    }
    SetSimdLevelLimit(level);
    ConfiguredPlugin plugin(f, s, c);
    const std::vector<uint8_t> pristine = TestPicture(s.width, s.height, f.bytesPerPixel);
    std::vector<uint8_t> frame = pristine;
    FrameInfo info{};
    info.pixels = frame.data();
    ProcessFrame(plugin.state, info);  // buffers and tables are built on the first frame
    for (auto _ : st) {
        TimeAfterWriting(st, frame, pristine, [&] { ProcessFrame(plugin.state, info); });
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * static_cast<int64_t>(frame.size()));
    SetSimdLevelLimit(SimdLevel::Avx2);
}

// The floor: a copy of the frame, which was just written, to another buffer.
void CopyFrames(benchmark::State& st, PixelFormat f, FrameSize s) {
    const std::vector<uint8_t> pristine = TestPicture(s.width, s.height, f.bytesPerPixel);
    std::vector<uint8_t> from = pristine, to(from.size());
    for (auto _ : st) {
        TimeAfterWriting(st, from, pristine,
                         [&] { std::memcpy(to.data(), from.data(), from.size()); });
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * static_cast<int64_t>(from.size()));
}

}  // namespace

void RegisterFrameBenchmarks(bool targetsOnly) {
    for (const PixelFormat& f : kFormats)
        for (const FrameSize& s : kSizes) {
            benchmark::RegisterBenchmark(Name({"memcpy", f.name, s.name}).c_str(), CopyFrames, f, s)
                ->UseManualTime()
                ->Unit(benchmark::kMicrosecond);
            for (const ScaleCase& c : kCases)
                for (SimdLevel level :
                     {SimdLevel::Portable, SimdLevel::Sse2, SimdLevel::Ssse3, SimdLevel::Avx2}) {
                    if (targetsOnly && (!c.libraryEquivalent || level == SimdLevel::Portable)) continue;
                    benchmark::RegisterBenchmark(
                        Name({"frame", f.name, s.name, c.name, SimdLevelName(level)}).c_str(),
                        ProcessFrames, f, s, c, level)
                        ->UseManualTime()
                        ->Unit(benchmark::kMicrosecond);
                }
        }
}

}  // namespace bench
}  // namespace kvx
