// The pixel kernels in use: one table of function pointers, filled once when the library
// loads with the fastest versions the CPU supports. The scaler, the border fill and the
// line blend take their kernels from here.
#pragma once
#include "video/cpu_features.h"
#include "video/fill_kernels.h"
#include "video/line_blend.h"
#include "video/row_routines.h"

namespace kvx {

struct VideoKernels {
    RowRoutines rows;
    FillKernels fills;
    BlendLineBandFn blendLineBand;
};

// The table in use.
const VideoKernels& Kernels();

// The kernels of one level; a level above what the CPU supports gives the supported one.
VideoKernels KernelsForLevel(SimdLevel level);

// The level the CPU supports (computed once) and the level of the table in use.
SimdLevel SupportedSimdLevel();
SimdLevel ActiveSimdLevel();

// Caps the table in use at `limit` (Portable forces the reference kernels), for tests and
// benchmarks. Not synchronised with frames being processed on other threads.
void SetSimdLevelLimit(SimdLevel limit);

}  // namespace kvx
