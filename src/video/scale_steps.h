// Resampling tables: one ScaleStep per destination element of one axis.
#pragma once
#include <cstdint>

namespace kvx {

// Aligned to 16 so that every table, including one a caller builds in a std::vector,
// can be read with aligned 16-byte loads.
struct alignas(16) ScaleStep {
    int32_t advance;     // bytes the read position moves before the taps are taken
    int32_t neighbour;   // bytes from the first tap to the second (0 when weight is 0)
    uint16_t weight[4];  // weight of the second tap, 0..4095, once per byte lane
};
static_assert(sizeof(ScaleStep) == 16, "ScaleStep is a 16-byte record");

// The geometry a table is built for: exactly the arguments of BuildScaleSteps.
struct StepTableKey {
    int32_t sourceLength;       // S, source elements
    int32_t destinationLength;  // D, destination elements (unclipped)
    int32_t first;              // first destination element in the table
    int32_t count;              // entries in the table
    int32_t step;               // signed bytes between neighbouring source elements
};

inline bool operator==(const StepTableKey& a, const StepTableKey& b) {
    return a.sourceLength == b.sourceLength && a.destinationLength == b.destinationLength &&
           a.first == b.first && a.count == b.count && a.step == b.step;
}
inline bool operator!=(const StepTableKey& a, const StepTableKey& b) { return !(a == b); }

// Fills table[0 .. count-1] for destination elements first .. first+count-1 of a linear
// mapping of `sourceLength` elements onto `destinationLength` (centre-aligned when
// shrinking, end-aligned when enlarging; 16.16 positions, 12-bit weights).
// Needs sourceLength >= 1, destinationLength >= 1, first >= 0, count >= 0 and
// first + count <= destinationLength; does nothing otherwise. Both taps of every entry
// lie within source elements 0 .. sourceLength-1.
void BuildScaleSteps(int32_t sourceLength, int32_t destinationLength, int32_t first,
                     int32_t count, int32_t step, ScaleStep* table);

inline void BuildScaleSteps(const StepTableKey& key, ScaleStep* table) {
    BuildScaleSteps(key.sourceLength, key.destinationLength, key.first, key.count, key.step,
                    table);
}

}  // namespace kvx
