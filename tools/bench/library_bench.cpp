// The same resample done by libyuv (through its planar and ARGB paths, as an application
// would use it for packed frames) and by libswscale's bilinear scaler, each reading a
// frame written just before the call. Field by field with pre-deinterlace, the library
// path is libyuv's row averaging for the blend, then each field scaled on its own.
#include <benchmark/benchmark.h>

#include <libyuv.h>

#include <memory>

extern "C" {
#include <libswscale/swscale.h>
}

#include "bench/bench_cases.h"
#include "bench/timed_call.h"

namespace kvx {
namespace bench {

namespace {

using Bytes = std::vector<uint8_t>;

// A library's resample of sourceWidth x sourceHeight packed pixels to destinationWidth x
// destinationHeight, set up once (buffers, contexts) and run on rows of any stride.
class LibraryScaler {
public:
    virtual ~LibraryScaler() = default;
    virtual bool Ready() const { return true; }
    virtual void Run(const uint8_t* source, int sourceStride, uint8_t* out, int outStride) = 0;
};

// YUY2 -> I422 -> I422Scale (bilinear) -> YUY2.
class LibyuvYuy2 : public LibraryScaler {
public:
    LibyuvYuy2(int sw, int sh, int dw, int dh)
        : sw(sw), sh(sh), dw(dw), dh(dh), sy(static_cast<size_t>(sw) * sh), su(sy.size() / 2),
          sv(sy.size() / 2), dy(static_cast<size_t>(dw) * dh), du(dy.size() / 2), dv(dy.size() / 2) {}
    void Run(const uint8_t* source, int sourceStride, uint8_t* out, int outStride) override {
        libyuv::YUY2ToI422(source, sourceStride, sy.data(), sw, su.data(), sw / 2, sv.data(), sw / 2,
                           sw, sh);
        libyuv::I422Scale(sy.data(), sw, su.data(), sw / 2, sv.data(), sw / 2, sw, sh, dy.data(), dw,
                          du.data(), dw / 2, dv.data(), dw / 2, dw, dh, libyuv::kFilterBilinear);
        libyuv::I422ToYUY2(dy.data(), dw, du.data(), dw / 2, dv.data(), dw / 2, out, outStride, dw,
                           dh);
    }

private:
    int sw, sh, dw, dh;
    Bytes sy, su, sv, dy, du, dv;
};

// RGB24 (B G R) -> ARGB -> ARGBScale (bilinear) -> RGB24.
class LibyuvRgb24 : public LibraryScaler {
public:
    LibyuvRgb24(int sw, int sh, int dw, int dh)
        : sw(sw), sh(sh), dw(dw), dh(dh), argb(static_cast<size_t>(sw) * sh * 4),
          scaled(static_cast<size_t>(dw) * dh * 4) {}
    void Run(const uint8_t* source, int sourceStride, uint8_t* out, int outStride) override {
        libyuv::RGB24ToARGB(source, sourceStride, argb.data(), sw * 4, sw, sh);
        libyuv::ARGBScale(argb.data(), sw * 4, sw, sh, scaled.data(), dw * 4, dw, dh,
                          libyuv::kFilterBilinear);
        libyuv::ARGBToRGB24(scaled.data(), dw * 4, out, outStride, dw, dh);
    }

private:
    int sw, sh, dw, dh;
    Bytes argb, scaled;
};

class Swscale : public LibraryScaler {
public:
    Swscale(HostPixelFormat f, int sw, int sh, int dw, int dh)
        : sh(sh),
          context(sws_getContext(sw, sh, f == PixelFormatYuy2 ? AV_PIX_FMT_YUYV422 : AV_PIX_FMT_BGR24,
                                 dw, dh, f == PixelFormatYuy2 ? AV_PIX_FMT_YUYV422 : AV_PIX_FMT_BGR24,
                                 SWS_BILINEAR, nullptr, nullptr, nullptr)) {}
    ~Swscale() override { sws_freeContext(context); }
    bool Ready() const override { return context != nullptr; }
    void Run(const uint8_t* source, int sourceStride, uint8_t* out, int outStride) override {
        const uint8_t* const in[1] = {source};
        uint8_t* const to[1] = {out};
        sws_scale(context, in, &sourceStride, 0, sh, to, &outStride);
    }

private:
    int sh;
    SwsContext* context;
};

std::unique_ptr<LibraryScaler> MakeScaler(bool swscale, HostPixelFormat f, int sw, int sh, int dw,
                                          int dh) {
    if (swscale) return std::make_unique<Swscale>(f, sw, sh, dw, dh);
    if (f == PixelFormatYuy2) return std::make_unique<LibyuvYuy2>(sw, sh, dw, dh);
    return std::make_unique<LibyuvRgb24>(sw, sh, dw, dh);
}

void ResampleFrames(benchmark::State& st, bool swscale, PixelFormat f, FrameSize s, ScaleCase c) {
    const Resample r = LibraryResample(s, c);
    const int fields = c.interlaced ? 2 : 1;
    const std::unique_ptr<LibraryScaler> scaler =
        MakeScaler(swscale, f.code, r.sourceWidth, r.sourceHeight / fields, r.destinationWidth,
                   r.destinationHeight / fields);
    if (!scaler->Ready()) {
        st.SkipWithError("the library refused the geometry");
        return;
    }
    const int rowBytes = s.width * f.bytesPerPixel;
    const Bytes pristine = TestPicture(s.width, s.height, f.bytesPerPixel);
    Bytes frame = pristine, blended = pristine, average(pristine.size());
    Bytes out(static_cast<size_t>(r.destinationWidth) * r.destinationHeight * f.bytesPerPixel);
    const int outStride = r.destinationWidth * f.bytesPerPixel;
    const size_t sourceOffset = static_cast<size_t>(r.sourceY) * rowBytes + r.sourceX * f.bytesPerPixel;
    for (auto _ : st) {
        TimeAfterWriting(st, frame, pristine, [&] {
            const uint8_t* source = frame.data();
            if (c.interlaced) {
                // Each inner line becomes avg(avg(above, below), itself), as the plug-in's blend.
                const int inner = s.height - 2;
                libyuv::InterpolatePlane(frame.data(), rowBytes, frame.data() + 2 * rowBytes, rowBytes,
                                         average.data(), rowBytes, rowBytes, inner, 128);
                libyuv::InterpolatePlane(average.data(), rowBytes, frame.data() + rowBytes, rowBytes,
                                         blended.data() + rowBytes, rowBytes, rowBytes, inner, 128);
                source = blended.data();
            }
            for (int field = 0; field < fields; ++field)
                scaler->Run(source + sourceOffset + field * rowBytes, rowBytes * fields,
                            out.data() + field * outStride, outStride * fields);
        });
    }
}

}  // namespace

void RegisterLibraryBenchmarks() {
    for (const PixelFormat& f : kFormats)
        for (const FrameSize& s : kSizes)
            for (const ScaleCase& c : kCases) {
                if (!c.libraryEquivalent) continue;
                for (bool swscale : {false, true})
                    benchmark::RegisterBenchmark(
                        Name({swscale ? "swscale" : "libyuv", f.name, s.name, c.name}).c_str(),
                        ResampleFrames, swscale, f, s, c)
                        ->UseManualTime()
                        ->Unit(benchmark::kMicrosecond);
            }
}

}  // namespace bench
}  // namespace kvx
