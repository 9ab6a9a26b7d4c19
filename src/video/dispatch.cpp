#include "video/dispatch.h"

#include "video/x86/simd_kernels.h"

namespace kvx {

namespace {

struct ActiveTable {
    VideoKernels kernels;
    SimdLevel level;
};

ActiveTable& Active() {
    static ActiveTable table{KernelsForLevel(SupportedSimdLevel()), SupportedSimdLevel()};
    return table;
}

// Fills the table while the library loads, before any frame can arrive.
const struct FillAtLoad {
    FillAtLoad() { Active(); }
} fillAtLoad;

}  // namespace

SimdLevel SupportedSimdLevel() {
    static const SimdLevel level = DetectSimdLevel();
    return level;
}

VideoKernels KernelsForLevel(SimdLevel level) {
    VideoKernels k{};
    k.rows = PortableRowRoutines();
    k.fills = PortableFillKernels();
    k.blendLineRow = BlendLineRow;
    if (level > SupportedSimdLevel()) level = SupportedSimdLevel();
#if KVX_HAS_X86_KERNELS
    if (level >= SimdLevel::Sse2) InstallSse2Kernels(k);
    if (level >= SimdLevel::Ssse3) InstallSsse3Kernels(k);
    if (level >= SimdLevel::Avx2) InstallAvx2Kernels(k);
#endif
    return k;
}

const VideoKernels& Kernels() { return Active().kernels; }

SimdLevel ActiveSimdLevel() { return Active().level; }

void SetSimdLevelLimit(SimdLevel limit) {
    const SimdLevel level = limit < SupportedSimdLevel() ? limit : SupportedSimdLevel();
    Active() = ActiveTable{KernelsForLevel(level), level};
}

}  // namespace kvx
