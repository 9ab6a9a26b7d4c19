#include "video/x86/simd_kernels.h"
#if KVX_HAS_X86_KERNELS
#include "video/dispatch.h"
#include "video/x86/avx2_kernels.h"
#include "video/x86/sse2_kernels.h"

namespace kvx {

void InstallSse2Kernels(VideoKernels& k) {
    k.rows = RowRoutines{sse2::VerticalYuyv, sse2::VerticalRgb24, sse2::HorizontalYuyvEven,
                         sse2::HorizontalYuyvOdd, sse2::HorizontalRgb24, nullptr, nullptr};
    k.fills = FillKernels{sse2::FillYuyvSolidEven, sse2::FillYuyvSolidOdd,
                          sse2::FillYuyvMixEven,   sse2::FillYuyvMixOdd,
                          sse2::FillRgb24Solid,    sse2::FillRgb24Mix};
    k.blendLineRow = sse2::BlendLineRow;
}

void InstallAvx2Kernels(VideoKernels& k) {
    k.rows.verticalYuyv = avx2::VerticalYuyv;
    k.rows.verticalRgb24 = avx2::VerticalRgb24;
    k.rows.plannedYuyv = avx2::PlannedYuyv;
    k.rows.plannedRgb24 = avx2::PlannedRgb24;
    k.blendLineRow = avx2::BlendLineRow;
}

}  // namespace kvx
#endif
