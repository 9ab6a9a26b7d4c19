#include "video/x86/simd_kernels.h"
#if KVX_HAS_X86_KERNELS
#include "video/dispatch.h"
#include "video/x86/avx2_kernels.h"
#include "video/x86/sse2_kernels.h"
#include "video/x86/ssse3_kernels.h"

namespace kvx {

// Member by member, so that a new member of the table never shifts the others.
void InstallSse2Kernels(VideoKernels& k) {
    k.rows.verticalYuyv = sse2::VerticalYuyv;
    k.rows.verticalRgb24 = sse2::VerticalRgb24;
    k.rows.horizontalYuyvEven = sse2::HorizontalYuyvEven;
    k.rows.horizontalYuyvOdd = sse2::HorizontalYuyvOdd;
    k.rows.horizontalRgb24 = sse2::HorizontalRgb24;
    k.rows.Planned(LayoutYuyv, PlanKind::Windows) = sse2::PlannedYuyvWindows;
    k.rows.Planned(LayoutRgb24, PlanKind::Windows) = sse2::PlannedRgb24Windows;
#if KVX_HAS_ROW_PAIRS
    k.rows.PlannedPair(LayoutRgb24, PlanKind::Windows) = sse2::PlannedRgb24WindowsPair;
#endif
    k.fills.yuyvSolidEven = sse2::FillYuyvSolidEven;
    k.fills.yuyvSolidOdd = sse2::FillYuyvSolidOdd;
    k.fills.yuyvMixEven = sse2::FillYuyvMixEven;
    k.fills.yuyvMixOdd = sse2::FillYuyvMixOdd;
    k.fills.rgb24Solid = sse2::FillRgb24Solid;
    k.fills.rgb24Mix = sse2::FillRgb24Mix;
    k.blendLineBand = sse2::BlendLineBand;
}

void InstallSsse3Kernels(VideoKernels& k) {
    k.rows.verticalYuyv = ssse3::VerticalYuyv;
    k.rows.verticalRgb24 = ssse3::VerticalRgb24;
    // From here on the engine's own tables go through packed work rows and their plans;
    // SSE2's routines over plans of windows stay in the table beside them.
    k.rows.verticalRgb24Packed = ssse3::VerticalRgb24Packed;
    k.rows.verticalYuyvPacked = ssse3::VerticalYuyvPacked;
    k.rows.Planned(LayoutRgb24, PlanKind::Rgb24Lanes) = ssse3::PlannedRgb24Lanes;
    k.rows.Planned(LayoutYuyv, PlanKind::YuyvLanes) = ssse3::PlannedYuyvLanes;
    k.rows.Planned(LayoutRgb24, PlanKind::Paired) = ssse3::PlannedRgb24Paired;
    k.rows.Planned(LayoutYuyv, PlanKind::Paired) = ssse3::PlannedYuyvPaired;
}

void InstallAvx2Kernels(VideoKernels& k) {
    k.rows.verticalYuyv = avx2::VerticalYuyv;
    k.rows.verticalRgb24 = avx2::VerticalRgb24;
    k.rows.verticalRgb24Packed = avx2::VerticalRgb24Packed;
    k.rows.verticalYuyvPacked = avx2::VerticalYuyvPacked;
    k.rows.Planned(LayoutRgb24, PlanKind::Rgb24Lanes) = avx2::PlannedRgb24Lanes;
    k.rows.Planned(LayoutYuyv, PlanKind::YuyvLanes) = avx2::PlannedYuyvLanes;
    k.rows.Planned(LayoutRgb24, PlanKind::Paired) = avx2::PlannedRgb24Paired;
    k.rows.Planned(LayoutYuyv, PlanKind::Paired) = avx2::PlannedYuyvPaired;
#if KVX_HAS_ROW_PAIRS
    k.rows.PlannedPair(LayoutRgb24, PlanKind::Rgb24Lanes) = avx2::PlannedRgb24LanesPair;
    k.rows.PlannedPair(LayoutRgb24, PlanKind::Paired) = avx2::PlannedRgb24PairedPair;
    k.rows.PlannedPair(LayoutYuyv, PlanKind::Paired) = avx2::PlannedYuyvPairedPair;
#endif
    k.blendLineBand = avx2::BlendLineBand;
}

}  // namespace kvx
#endif
