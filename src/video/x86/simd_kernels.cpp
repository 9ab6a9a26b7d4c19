#include "video/x86/simd_kernels.h"
#if KVX_HAS_X86_KERNELS
#include "video/dispatch.h"
#include "video/x86/avx2_kernels.h"
#include "video/x86/sse2_kernels.h"
#include "video/x86/ssse3_kernels.h"

namespace kvx {

void InstallSse2Kernels(VideoKernels& k) {
    k.rows = RowRoutines{sse2::VerticalYuyv, sse2::VerticalRgb24, sse2::HorizontalYuyvEven,
                         sse2::HorizontalYuyvOdd, sse2::HorizontalRgb24, nullptr, nullptr, 0};
    k.fills = FillKernels{sse2::FillYuyvSolidEven, sse2::FillYuyvSolidOdd,
                          sse2::FillYuyvMixEven,   sse2::FillYuyvMixOdd,
                          sse2::FillRgb24Solid,    sse2::FillRgb24Mix};
    k.blendLineRow = sse2::BlendLineRow;
}

void InstallSsse3Kernels(VideoKernels& k) {
    k.rows.verticalYuyv = ssse3::VerticalYuyv;
    k.rows.verticalRgb24 = ssse3::VerticalRgb24;
    k.rows.plannedYuyv = ssse3::PlannedYuyv;
    k.rows.plannedRgb24 = ssse3::PlannedRgb24;
    k.rows.planWindowBytes = 16;
}

void InstallAvx2Kernels(VideoKernels& k) {
    k.rows.verticalYuyv = avx2::VerticalYuyv;
    k.rows.verticalRgb24 = avx2::VerticalRgb24;
    k.rows.plannedYuyv = avx2::PlannedYuyv;
    k.rows.plannedRgb24 = avx2::PlannedRgb24;
    k.rows.planWindowBytes = 32;
    k.blendLineRow = avx2::BlendLineRow;
}

}  // namespace kvx
#endif
