// Which SIMD instruction sets this CPU and operating system let the pixel kernels use.
#pragma once
#include <cstdint>

namespace kvx {

// Ordered: every level includes the ones below it.
enum class SimdLevel : int32_t {
    Portable = 0,
    Sse2 = 1,
    Ssse3 = 2,
    Avx2 = 3,
};

// The raw cpuid / xgetbv words the decision is made from, so it can be tested with fakes.
struct CpuFeatureWords {
    uint32_t maxLeaf;   // cpuid leaf 0, eax (0 when cpuid is missing)
    uint32_t leaf1Ecx;  // cpuid leaf 1
    uint32_t leaf1Edx;
    uint32_t leaf7Ebx;  // cpuid leaf 7, sub-leaf 0 (0 when maxLeaf < 7)
    uint64_t xcr0;      // xgetbv(0) (0 when the OS does not enable xsave)
};

// The highest level the words allow. A level is granted only with every level below it
// (the SSSE3 and AVX2 kernels hand row ends and table walks to the SSE2 ones, and keep
// the SSE2 fills). AVX2 also needs the OS to save the YMM registers on a task switch
// (OSXSAVE and XCR0 bits 1 and 2), or its first use faults.
SimdLevel SimdLevelFromFeatures(const CpuFeatureWords& words);

// Reads the words of the running CPU; all zero on non-x86 builds.
CpuFeatureWords ReadCpuFeatureWords();

// SimdLevelFromFeatures(ReadCpuFeatureWords()), capped at what this build carries.
SimdLevel DetectSimdLevel();

const char* SimdLevelName(SimdLevel level);

// The level of a name SimdLevelName gives; false for any other text (level unchanged).
bool SimdLevelFromName(const char* name, SimdLevel& level);

}  // namespace kvx
