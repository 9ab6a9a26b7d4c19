#include "video/fill_kernels.h"

#include <cstring>

namespace kvx {

namespace {

inline uint8_t Byte(uint32_t value, int index) { return static_cast<uint8_t>(value >> (8 * index)); }

inline void PutByte(uint8_t* p, uint32_t colour, int index, int32_t mix) {
    *p = mix ? MixByte(*p, Byte(colour, index), mix) : Byte(colour, index);
}

}  // namespace

void FillRowYuyv(uint8_t* row, int32_t left, int32_t count, uint32_t colour, int32_t mix,
                 bool lastPairWhole) {
    if (count <= 0) return;
    uint8_t* p = row;
    int32_t n = count;
    if (left & 1) {
        // The pair of pixels left - 1 and left: only pixel left's luma is ours.
        PutByte(p + 2, colour, 2, mix);
        p += 4;
        n -= 1;
    }
    if (mix == 0) {
        uint8_t block[8];
        std::memcpy(block, &colour, 4);
        std::memcpy(block + 4, &colour, 4);
        for (int32_t i = 0; i < n / 4; ++i, p += 8) std::memcpy(p, block, 8);
        if (n & 2) {
            std::memcpy(p, block, 4);
            p += 4;
        }
    } else {
        for (int32_t i = 0; i < n / 2; ++i, p += 4)
            for (int b = 0; b < 4; ++b) PutByte(p + b, colour, b, mix);
    }
    if (n & 1) {
        // The last pixel is even: its luma and the pair's chroma, not the next pixel's luma.
        // In a row of odd width the final pair stops after U; its V would lie past the row.
        PutByte(p, colour, 0, mix);
        PutByte(p + 1, colour, 1, mix);
        if (lastPairWhole) PutByte(p + 3, colour, 3, mix);
    }
}

void FillRowRgb24(uint8_t* row, int32_t count, uint32_t colour, int32_t mix) {
    for (int32_t i = 0; i < count; ++i, row += 3) {
        PutByte(row, colour, 0, mix);
        PutByte(row + 1, colour, 1, mix);
        PutByte(row + 2, colour, 2, mix);
    }
}

namespace {

void YuyvEven(uint8_t* pair, int32_t count, uint32_t colour, int32_t mix, bool lastPairWhole) {
    FillRowYuyv(pair, 0, count, colour, mix, lastPairWhole);
}
void YuyvOdd(uint8_t* pair, int32_t count, uint32_t colour, int32_t mix, bool lastPairWhole) {
    FillRowYuyv(pair, 1, count, colour, mix, lastPairWhole);
}
void YuyvSolidEven(uint8_t* pair, int32_t count, uint32_t colour, int32_t, bool lastPairWhole) {
    FillRowYuyv(pair, 0, count, colour, 0, lastPairWhole);
}
void YuyvSolidOdd(uint8_t* pair, int32_t count, uint32_t colour, int32_t, bool lastPairWhole) {
    FillRowYuyv(pair, 1, count, colour, 0, lastPairWhole);
}
void Rgb24Solid(uint8_t* row, int32_t count, uint32_t colour, int32_t) {
    FillRowRgb24(row, count, colour, 0);
}

}  // namespace

const FillKernels& PortableFillKernels() {
    static const FillKernels kernels = [] {
        FillKernels k{};
        k.yuyvSolidEven = YuyvSolidEven;
        k.yuyvSolidOdd = YuyvSolidOdd;
        k.yuyvMixEven = YuyvEven;
        k.yuyvMixOdd = YuyvOdd;
        k.rgb24Solid = Rgb24Solid;
        k.rgb24Mix = FillRowRgb24;
        return k;
    }();
    return kernels;
}

}  // namespace kvx
