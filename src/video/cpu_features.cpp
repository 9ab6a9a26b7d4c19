#include "video/cpu_features.h"

#include <cstring>
#include <initializer_list>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#define KVX_X86 1
#endif

namespace kvx {

namespace {

constexpr uint32_t kLeaf1EdxSse2 = 1u << 26;
constexpr uint32_t kLeaf1EcxSsse3 = 1u << 9;
constexpr uint32_t kLeaf1EcxOsxsave = 1u << 27;
constexpr uint32_t kLeaf1EcxAvx = 1u << 28;
constexpr uint32_t kLeaf7EbxAvx2 = 1u << 5;
constexpr uint64_t kXcr0SseAndAvxState = 0x6;

#ifdef KVX_X86
// xgetbv spelled as bytes, so this file needs no -mxsave; only run when OSXSAVE is set.
uint64_t ReadXcr0() {
    uint32_t eax, edx;
    __asm__ volatile(".byte 0x0f, 0x01, 0xd0" : "=a"(eax), "=d"(edx) : "c"(0));
    return (static_cast<uint64_t>(edx) << 32) | eax;
}
#endif

}  // namespace

SimdLevel SimdLevelFromFeatures(const CpuFeatureWords& w) {
    if (w.maxLeaf < 1 || !(w.leaf1Edx & kLeaf1EdxSse2)) return SimdLevel::Portable;
    if (!(w.leaf1Ecx & kLeaf1EcxSsse3)) return SimdLevel::Sse2;
    const bool osSavesYmm = (w.leaf1Ecx & kLeaf1EcxOsxsave) &&
                            (w.xcr0 & kXcr0SseAndAvxState) == kXcr0SseAndAvxState;
    if (w.maxLeaf >= 7 && (w.leaf1Ecx & kLeaf1EcxAvx) && osSavesYmm &&
        (w.leaf7Ebx & kLeaf7EbxAvx2))
        return SimdLevel::Avx2;
    return SimdLevel::Ssse3;
}

CpuFeatureWords ReadCpuFeatureWords() {
    CpuFeatureWords words{0, 0, 0, 0, 0};
#ifdef KVX_X86
    // __get_cpuid_max also checks that the cpuid instruction exists (pre-Pentium CPUs).
    words.maxLeaf = __get_cpuid_max(0, nullptr);
    uint32_t a, b, c, d;
    if (words.maxLeaf >= 1 && __get_cpuid(1, &a, &b, &c, &d)) {
        words.leaf1Ecx = c;
        words.leaf1Edx = d;
    }
    if (words.maxLeaf >= 7) {
        __cpuid_count(7, 0, a, b, c, d);
        words.leaf7Ebx = b;
    }
    if (words.leaf1Ecx & kLeaf1EcxOsxsave) words.xcr0 = ReadXcr0();
#endif
    return words;
}

SimdLevel DetectSimdLevel() {
#ifdef KVX_X86
    return SimdLevelFromFeatures(ReadCpuFeatureWords());
#else
    return SimdLevel::Portable;
#endif
}

const char* SimdLevelName(SimdLevel level) {
    switch (level) {
        case SimdLevel::Portable: return "portable";
        case SimdLevel::Sse2: return "sse2";
        case SimdLevel::Ssse3: return "ssse3";
        case SimdLevel::Avx2: return "avx2";
    }
    return "unknown";
}

bool SimdLevelFromName(const char* name, SimdLevel& level) {
    if (!name) return false;
    for (SimdLevel l : {SimdLevel::Portable, SimdLevel::Sse2, SimdLevel::Ssse3, SimdLevel::Avx2})
        if (std::strcmp(name, SimdLevelName(l)) == 0) {
            level = l;
            return true;
        }
    return false;
}

}  // namespace kvx
