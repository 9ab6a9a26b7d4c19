#include "video/dispatch.h"

#include <cstdlib>

#include "video/x86/simd_kernels.h"

namespace kvx {

namespace {

struct ActiveTable {
    VideoKernels kernels;
    SimdLevel level;
};

// KVX_SIMD_LEVEL (portable, sse2, ssse3 or avx2) caps the level the library starts with,
// so that a host can time or check each level of the very library it loads. It only ever
// lowers the level; any other value is ignored.
SimdLevel StartLevel() {
    SimdLevel cap = SimdLevel::Avx2;
    SimdLevelFromName(std::getenv("KVX_SIMD_LEVEL"), cap);
    return cap < SupportedSimdLevel() ? cap : SupportedSimdLevel();
}

ActiveTable& Active() {
    static ActiveTable table = [] {
        const SimdLevel level = StartLevel();
        return ActiveTable{KernelsForLevel(level), level};
    }();
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
    k.blendLineBand = BlendLineBand;
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
