// The same resample done by libyuv (through its planar and ARGB paths, as an application
// would use it for packed frames) and by libswscale's bilinear scaler.
#include <benchmark/benchmark.h>

#include <libyuv.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include "bench/bench_cases.h"

namespace kvx {
namespace bench {

namespace {

using Bytes = std::vector<uint8_t>;

// YUY2 -> I422 -> I422Scale (bilinear) -> YUY2.
void LibyuvYuy2(benchmark::State& st, FrameSize s, Resample r) {
    const Bytes frame = TestPicture(s.width, s.height, 2);
    const uint8_t* source = frame.data() + (static_cast<size_t>(r.sourceY) * s.width + r.sourceX) * 2;
    const int sw = r.sourceWidth, sh = r.sourceHeight, dw = r.destinationWidth, dh = r.destinationHeight;
    Bytes sy(static_cast<size_t>(sw) * sh), su(sy.size() / 2), sv(sy.size() / 2);
    Bytes dy(static_cast<size_t>(dw) * dh), du(dy.size() / 2), dv(dy.size() / 2);
    Bytes out(static_cast<size_t>(dw) * dh * 2);
    for (auto _ : st) {
        libyuv::YUY2ToI422(source, s.width * 2, sy.data(), sw, su.data(), sw / 2, sv.data(), sw / 2,
                           sw, sh);
        libyuv::I422Scale(sy.data(), sw, su.data(), sw / 2, sv.data(), sw / 2, sw, sh, dy.data(), dw,
                          du.data(), dw / 2, dv.data(), dw / 2, dw, dh, libyuv::kFilterBilinear);
        libyuv::I422ToYUY2(dy.data(), dw, du.data(), dw / 2, dv.data(), dw / 2, out.data(), dw * 2,
                           dw, dh);
        benchmark::ClobberMemory();
    }
}

// RGB24 (B G R) -> ARGB -> ARGBScale (bilinear) -> RGB24.
void LibyuvRgb24(benchmark::State& st, FrameSize s, Resample r) {
    const Bytes frame = TestPicture(s.width, s.height, 3);
    const uint8_t* source = frame.data() + (static_cast<size_t>(r.sourceY) * s.width + r.sourceX) * 3;
    const int sw = r.sourceWidth, sh = r.sourceHeight, dw = r.destinationWidth, dh = r.destinationHeight;
    Bytes argb(static_cast<size_t>(sw) * sh * 4), scaled(static_cast<size_t>(dw) * dh * 4);
    Bytes out(static_cast<size_t>(dw) * dh * 3);
    for (auto _ : st) {
        libyuv::RGB24ToARGB(source, s.width * 3, argb.data(), sw * 4, sw, sh);
        libyuv::ARGBScale(argb.data(), sw * 4, sw, sh, scaled.data(), dw * 4, dw, dh,
                          libyuv::kFilterBilinear);
        libyuv::ARGBToRGB24(scaled.data(), dw * 4, out.data(), dw * 3, dw, dh);
        benchmark::ClobberMemory();
    }
}

void Swscale(benchmark::State& st, PixelFormat f, FrameSize s, Resample r) {
    const AVPixelFormat format = f.code == 0 ? AV_PIX_FMT_YUYV422 : AV_PIX_FMT_BGR24;
    SwsContext* context = sws_getContext(r.sourceWidth, r.sourceHeight, format, r.destinationWidth,
                                         r.destinationHeight, format, SWS_BILINEAR, nullptr,
                                         nullptr, nullptr);
    if (!context) {
        st.SkipWithError("sws_getContext failed");
        return;
    }
    const Bytes frame = TestPicture(s.width, s.height, f.bytesPerPixel);
    Bytes out(static_cast<size_t>(r.destinationWidth) * r.destinationHeight * f.bytesPerPixel);
    const uint8_t* source[1] = {
        frame.data() + (static_cast<size_t>(r.sourceY) * s.width + r.sourceX) * f.bytesPerPixel};
    const int sourceStride[1] = {s.width * f.bytesPerPixel};
    uint8_t* destination[1] = {out.data()};
    const int destinationStride[1] = {r.destinationWidth * f.bytesPerPixel};
    for (auto _ : st) {
        sws_scale(context, source, sourceStride, 0, r.sourceHeight, destination, destinationStride);
        benchmark::ClobberMemory();
    }
    sws_freeContext(context);
}

}  // namespace

void RegisterLibraryBenchmarks() {
    for (const PixelFormat& f : kFormats)
        for (const FrameSize& s : kSizes)
            for (const ScaleCase& c : kCases) {
                if (!c.libraryEquivalent) continue;
                const Resample r = LibraryResample(s, c);
                if (f.code == 0)
                    benchmark::RegisterBenchmark(Name({"libyuv", f.name, s.name, c.name}).c_str(),
                                                 LibyuvYuy2, s, r)
                        ->Unit(benchmark::kMicrosecond);
                else
                    benchmark::RegisterBenchmark(Name({"libyuv", f.name, s.name, c.name}).c_str(),
                                                 LibyuvRgb24, s, r)
                        ->Unit(benchmark::kMicrosecond);
                benchmark::RegisterBenchmark(Name({"swscale", f.name, s.name, c.name}).c_str(),
                                             Swscale, f, s, r)
                    ->Unit(benchmark::kMicrosecond);
            }
}

}  // namespace bench
}  // namespace kvx
