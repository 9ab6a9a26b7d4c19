#include "video/scaler.h"

namespace kvx {

Scaler::Scaler() = default;
Scaler::~Scaler() = default;

void Scaler::SetHysteresis(int32_t, int32_t) {}

bool Scaler::Scale(uint8_t*, int32_t, int32_t, Rect, Rect, int32_t, bool, const ScaleStep*,
                   const ScaleStep*) {
    return true;
}

}  // namespace kvx
