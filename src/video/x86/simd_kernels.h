// The x86 SIMD kernels. Each level lives in its own files, compiled for that instruction
// set function by function, so the rest of the library still runs on a CPU without it.
#pragma once

#if defined(__i386__) || defined(__x86_64__)
#define KVX_HAS_X86_KERNELS 1
#else
#define KVX_HAS_X86_KERNELS 0
#endif

// The routines that take two rows of a plan at once hold a block's masks and weights in
// registers for both rows: only 64-bit builds have the registers for that. With the eight
// of a 32-bit build they spill, and there a pair ran up to a tenth slower than its two rows
// one by one.
#if defined(__x86_64__)
#define KVX_HAS_ROW_PAIRS 1
#else
#define KVX_HAS_ROW_PAIRS 0
#endif

#if KVX_HAS_X86_KERNELS
namespace kvx {

struct VideoKernels;

// Each replaces the entries of `kernels` it has a faster version of. Call only when the
// CPU supports the level.
void InstallSse2Kernels(VideoKernels& kernels);
void InstallSsse3Kernels(VideoKernels& kernels);
void InstallAvx2Kernels(VideoKernels& kernels);

}  // namespace kvx
#endif
