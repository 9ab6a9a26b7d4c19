// Where the vector routines store the two lanes of each block of a packed plan: one after
// the other at one length (24-bit plans), or where each block says (4:2:2 plans). The
// routines walk the blocks with one of these: Low and High give a block's two lanes,
// Next moves on to the next block.
#pragma once
#include <cstddef>
#include <cstdint>

#include "video/row_routines.h"

namespace kvx {

// Lanes of laneBytes each, the first at `at`.
struct EvenLanes {
    uint8_t* at;
    ptrdiff_t laneBytes;

    template <typename Block>
    uint8_t* Low(const Block&) const { return at; }
    template <typename Block>
    uint8_t* High(const Block&) const { return at + laneBytes; }
    void Next() { at += 2 * laneBytes; }
};

// Lanes at the destination bytes each block records.
struct RecordedLanes {
    uint8_t* row;

    uint8_t* Low(const PackedYuyvBlock& block) const { return row + block.start[0]; }
    uint8_t* High(const PackedYuyvBlock& block) const { return row + block.start[1]; }
    void Next() {}
};

}  // namespace kvx
