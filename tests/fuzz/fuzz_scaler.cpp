// The scaler on arbitrary geometry: any frame size (bounded), layout, source and destination
// rectangles and field mode must stay inside the frame (ASan watches every byte, and guard
// bytes on either side catch what a SIMD store might write past it), every SIMD level must
// give the portable routines' picture bit for bit, and a Scaler reused across calls must
// give the same picture as a fresh one.
#include <cstdint>
#include <cstring>
#include <vector>

#include "video/dispatch.h"
#include "video/scaler.h"

namespace {

struct Reader {
    const uint8_t* data;
    size_t size;
    int32_t Take(int32_t lo, int32_t hi) {
        uint32_t v = 0;
        for (int i = 0; i < 4 && size; ++i, ++data, --size) v = (v << 8) | *data;
        return lo + static_cast<int32_t>(v % static_cast<uint32_t>(hi - lo + 1));
    }
};

constexpr size_t kGuard = 64;
constexpr uint8_t kGuardByte = 0xA5;

// The frame between two runs of guard bytes.
struct GuardedFrame {
    std::vector<uint8_t> bytes;
    explicit GuardedFrame(const std::vector<uint8_t>& frame) : bytes(frame.size() + 2 * kGuard, kGuardByte) {
        std::memcpy(bytes.data() + kGuard, frame.data(), frame.size());
    }
    uint8_t* Frame() { return bytes.data() + kGuard; }
    bool GuardsIntact() const {
        for (size_t i = 0; i < kGuard; ++i)
            if (bytes[i] != kGuardByte || bytes[bytes.size() - 1 - i] != kGuardByte) return false;
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static kvx::Scaler reused;
    Reader in{data, size};
    const int32_t width = in.Take(1, 96), height = in.Take(1, 96);
    const kvx::PixelLayout layouts[] = {kvx::LayoutYuyv, kvx::LayoutRgb24, kvx::PixelLayout(1),
                                        kvx::PixelLayout(-3)};
    const kvx::PixelLayout layout = layouts[in.Take(0, 3)];
    const bool interlaced = in.Take(0, 1);
    const int32_t span = 4 * (width + height);
    kvx::Rect source{in.Take(-span, span), in.Take(-span, span), in.Take(-span, span), in.Take(-span, span)};
    kvx::Rect destination{in.Take(-span, span), in.Take(-span, span), in.Take(-span, span),
                          in.Take(-span, span)};
    if (in.Take(0, 7) == 0) destination.right = destination.left + in.Take(60000, 70000);
    reused.SetHysteresis(in.Take(0, 20), in.Take(0, 20));

    const int32_t bytesPerPixel = layout == kvx::LayoutRgb24 ? 3 : 2;
    std::vector<uint8_t> original(static_cast<size_t>(width) * height * bytesPerPixel);
    for (size_t i = 0; i < original.size(); ++i) original[i] = static_cast<uint8_t>(i * 37 + (i >> 5));
    // Exactly sized heap blocks: any byte read or written past the frame is an ASan report.
    std::vector<uint8_t> a(original), b(original);
    kvx::SetSimdLevelLimit(kvx::SimdLevel::Portable);
    kvx::Scaler fresh;
    fresh.Scale(a.data(), width, height, source, destination, layout, interlaced);
    reused.Scale(b.data(), width, height, source, destination, layout, interlaced);
    if (a != b) __builtin_trap();

    // Every level this CPU has, against the portable picture: with a fresh scaler, and with
    // one kept from level to level (its plan must follow the level's windows).
    const int32_t top = static_cast<int32_t>(kvx::SupportedSimdLevel());
    kvx::Scaler acrossLevels;
    for (int32_t level = top; level >= 0; --level) {
        kvx::SetSimdLevelLimit(static_cast<kvx::SimdLevel>(level));
        GuardedFrame c(original), d(original);
        kvx::Scaler simd;
        simd.Scale(c.Frame(), width, height, source, destination, layout, interlaced);
        if (!c.GuardsIntact() || std::memcmp(c.Frame(), a.data(), a.size()) != 0) __builtin_trap();
        acrossLevels.Scale(d.Frame(), width, height, source, destination, layout, interlaced);
        if (!d.GuardsIntact() || std::memcmp(d.Frame(), a.data(), a.size()) != 0) __builtin_trap();
    }
    return 0;
}
