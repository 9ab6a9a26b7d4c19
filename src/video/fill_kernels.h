// Row kernels of the border fill. `colour` holds the bytes to write in memory order
// (Y U Y V for 4:2:2, B G R for 24-bit); `mix` is the weight of the frame's own byte in
// 1/256 (0 = solid colour).
#pragma once
#include <cstdint>

namespace kvx {

// 4:2:2 row of `count` pixels starting at pixel `left` (`row` points at its pair's first byte).
// `lastPairWhole` false means the row has an odd width and the final pair has no V byte.
void FillRowYuyv(uint8_t* row, int32_t left, int32_t count, uint32_t colour, int32_t mix,
                 bool lastPairWhole);
// 24-bit row of `count` pixels starting at `row`.
void FillRowRgb24(uint8_t* row, int32_t count, uint32_t colour, int32_t mix);

// The six row kernels of the fill, chosen once per rectangle by format, by the parity of
// its left edge and by solid (mix 0) or mixing. A 4:2:2 kernel gets the pair that holds
// the first pixel; the solid ones ignore `mix`.
using FillYuyvKernel = void(uint8_t* pair, int32_t count, uint32_t colour, int32_t mix,
                            bool lastPairWhole);
using FillRgb24Kernel = void(uint8_t* row, int32_t count, uint32_t colour, int32_t mix);
using FillYuyvFn = FillYuyvKernel*;
using FillRgb24Fn = FillRgb24Kernel*;

struct FillKernels {
    FillYuyvFn yuyvSolidEven;
    FillYuyvFn yuyvSolidOdd;
    FillYuyvFn yuyvMixEven;
    FillYuyvFn yuyvMixOdd;
    FillRgb24Fn rgb24Solid;
    FillRgb24Fn rgb24Mix;

    FillYuyvFn Yuyv(bool oddLeft, int32_t mix) const {
        return mix ? (oddLeft ? yuyvMixOdd : yuyvMixEven) : (oddLeft ? yuyvSolidOdd : yuyvSolidEven);
    }
    FillRgb24Fn Rgb24(int32_t mix) const { return mix ? rgb24Mix : rgb24Solid; }
};

// The reference kernels, built on FillRowYuyv and FillRowRgb24.
const FillKernels& PortableFillKernels();

// c + floor((f - c) * w / 256) in the packed 16-bit form: ((f - c) * 16) * (w * 16) >> 16.
inline uint8_t MixByte(uint8_t frame, uint8_t colour, int32_t mix) {
    int32_t d = (static_cast<int32_t>(frame) - colour) * 16;
    int32_t p = d * (mix * 16);
    return static_cast<uint8_t>(colour + (p >> 16));
}

}  // namespace kvx
