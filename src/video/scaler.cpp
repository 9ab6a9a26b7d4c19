#include "video/scaler.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "video/aligned_buffer.h"
#include "video/dispatch.h"
#include "video/row_routines.h"

namespace kvx {

namespace {

constexpr int32_t kWorkPixelBytes = 4;

// Every byte step of a table is an int32, and interlaced rows step by two pitches: frames
// up to 1 GiB keep all of them in range. A larger frame cannot exist in the 32-bit host.
constexpr int64_t kMaxFrameBytes = INT32_MAX / 2;

// Destination edges from absurd settings are moved to +-2^29. Such a picture is already
// far larger than any frame, lengths and offsets then fit int32, and the tables stay exact.
// The limit is even, so the field parity of an aligned edge is kept.
constexpr int32_t kCoordinateLimit = 1 << 29;

int32_t ClampCoordinate(int32_t v) {
    return std::min(std::max(v, -kCoordinateLimit), kCoordinateLimit);
}

// Rounds down to even, towards minus infinity for negative values.
int32_t FieldAligned(int32_t v) { return v & ~1; }

void* AllocateArray(int64_t count, int64_t elementBytes) {
    if (count <= 0 || elementBytes <= 0) return nullptr;
    if (static_cast<uint64_t>(count) > SIZE_MAX / static_cast<uint64_t>(elementBytes))
        return nullptr;
    return AlignedAlloc(static_cast<size_t>(count) * static_cast<size_t>(elementBytes));
}

// Pass 1 over one destination row: blends frame rows a and b into a work row. For an odd
// frame width in layout 0, the last column has no partner byte pair in the frame (its V
// would lie past the row), so that group is assembled from a copy: its Y and U, the V of
// the pair to its left (neutral 128 when there is none), never a byte past the frame.
struct VerticalPass {
    VerticalRowFn routine;
    int32_t groups;          // groups read straight from the frame
    int32_t orphanOffset;    // layout 0 only: byte offset of an unpaired last column, or -1
    bool orphanHasV;         // the frame has a pair left of that column

    void Run(const uint8_t* a, const uint8_t* b, uint16_t weight, uint8_t* work) const {
        routine(a, b, weight, work, groups);
        if (orphanOffset < 0) return;
        uint8_t lastA[4], lastB[4];
        Orphan(a + orphanOffset, lastA);
        Orphan(b + orphanOffset, lastB);
        routine(lastA, lastB, weight, work + groups * 2 * kWorkPixelBytes, 1);
    }

    void Orphan(const uint8_t* yu, uint8_t group[4]) const {
        group[0] = yu[0];
        group[1] = yu[1];
        group[2] = yu[0];
        group[3] = orphanHasV ? yu[-1] : 128;
    }
};

}  // namespace

Scaler::Scaler() = default;

Scaler::~Scaler() {
    AlignedFree(workBuffer);
    AlignedFree(rowSteps);
    AlignedFree(columnSteps);
}

void Scaler::SetHysteresis(int32_t grow, int32_t shrink) {
    growPercent = std::min(std::max(grow, 0), 100);
    shrinkPercent = std::min(std::max(shrink, 0), 100);
}

int64_t Scaler::Grown(int64_t n) const { return MulDiv64(n, 100 + growPercent, 100); }

// The buffer policy for one dimension: a need beyond the margins becomes the new nominal.
int32_t Scaler::AdaptedNominal(int32_t nominal, int32_t need) const {
    if (need > Grown(nominal)) return need;
    if (need < MulDiv64(nominal, 100 - shrinkPercent, 100)) return need;
    return nominal;
}

// On failure nothing is recorded: the nominal size drops to 0 with the freed buffer, so
// the next call tries again.
bool Scaler::EnsureWorkBuffer(int32_t needWidth, int32_t needHeight, int32_t bytesPerPixel) {
    int32_t nominalWidth = AdaptedNominal(workNominalWidth, needWidth);
    int32_t nominalHeight = AdaptedNominal(workNominalHeight, needHeight);
    if (workBuffer && nominalWidth == workNominalWidth && nominalHeight == workNominalHeight &&
        needWidth <= workWidth && needHeight <= workHeight)
        return true;
    AlignedFree(workBuffer);
    workBuffer = nullptr;
    workNominalWidth = workNominalHeight = workWidth = workHeight = 0;
    int64_t width = Grown(nominalWidth);
    int64_t height = Grown(nominalHeight);
    if (width > INT32_MAX / bytesPerPixel || height > INT32_MAX) return false;
    workBuffer = static_cast<uint8_t*>(AllocateArray(width * bytesPerPixel, height));
    if (!workBuffer) return false;
    workNominalWidth = nominalWidth;
    workNominalHeight = nominalHeight;
    workWidth = static_cast<int32_t>(width);
    workHeight = static_cast<int32_t>(height);
    return true;
}

// A new table has undefined contents, so its key is cleared and the table gets rebuilt.
bool Scaler::EnsureScaleSteps(ScaleStep*& table, int32_t& nominal, int32_t& capacity,
                              StepTableKey& key, int32_t need) {
    int32_t newNominal = AdaptedNominal(nominal, need);
    if (table && newNominal == nominal && need <= capacity) return true;
    AlignedFree(table);
    table = nullptr;
    nominal = capacity = 0;
    key = StepTableKey{};
    int64_t count = Grown(newNominal);
    if (count > INT32_MAX) return false;
    table = static_cast<ScaleStep*>(AllocateArray(count, sizeof(ScaleStep)));
    if (!table) return false;
    nominal = newNominal;
    capacity = static_cast<int32_t>(count);
    return true;
}

bool Scaler::Scale(uint8_t* pixels, int32_t width, int32_t height, Rect source,
                   Rect destination, int32_t layout, bool interlaced,
                   const ScaleStep* callerRowSteps, const ScaleStep* callerColumnSteps) {
    // Only these layouts have row routines; a frame in any other is left as it is.
    if (layout != LayoutYuyv && layout != LayoutRgb24) return true;
    const int32_t bytesPerPixel = layout == LayoutYuyv ? 2 : 3;
    if (!pixels || width <= 0 || height <= 0 ||
        static_cast<int64_t>(width) * height * bytesPerPixel > kMaxFrameBytes)
        return true;

    // Field alignment: even tops and bottoms keep each field on its own row parity.
    if (interlaced) {
        source.top = FieldAligned(source.top);
        source.bottom = FieldAligned(source.bottom);
        destination.top = FieldAligned(destination.top);
        destination.bottom = FieldAligned(destination.bottom);
    }
    destination = Rect{ClampCoordinate(destination.left), ClampCoordinate(destination.top),
                       ClampCoordinate(destination.right), ClampCoordinate(destination.bottom)};

    // Clipping: the destination keeps its full size for the scale factors; the clip picks
    // the rows and columns that are computed.
    const Rect bounds{0, 0, width, height};
    source = IntersectRect(source, bounds);
    if (IsRectEmpty(source)) return true;
    const Rect clip = IntersectRect(destination, bounds);
    if (IsRectEmpty(clip)) return true;
    const int32_t sourceWidth = source.right - source.left;
    const int32_t sourceHeight = source.bottom - source.top;
    const int32_t clipWidth = clip.right - clip.left;
    const int32_t clipHeight = clip.bottom - clip.top;
    // One source line (the last of an odd-height frame) has no second field to pair with.
    if (sourceHeight < 2) interlaced = false;

    if (!EnsureWorkBuffer(sourceWidth + 2, clipHeight, kWorkPixelBytes)) return false;
    if (!callerRowSteps &&
        !EnsureScaleSteps(rowSteps, rowStepsNominal, rowStepsCapacity, rowKey, clipHeight))
        return false;
    if (!callerColumnSteps && !EnsureScaleSteps(columnSteps, columnStepsNominal,
                                                columnStepsCapacity, columnKey, clipWidth))
        return false;

    // Layout: code 4 is bottom-up, so image row 0 is the last row in memory.
    const ptrdiff_t pitch = layout == LayoutYuyv ? 2 * static_cast<ptrdiff_t>(width)
                                                 : -3 * static_cast<ptrdiff_t>(width);
    uint8_t* const row0 = pixels + (layout == LayoutYuyv ? 0 : -pitch * (height - 1));

    // Row table. In interlaced mode each entry yields a pair of rows, one per field; an odd
    // clip height (an odd frame height with the destination past the bottom) takes one
    // more entry, whose second row is not computed. That entry still lies inside the
    // destination, because the destination's bottom is even and the frame's is not.
    const int32_t rowEntries = interlaced ? (clipHeight + 1) / 2 : clipHeight;
    const ScaleStep* rows = callerRowSteps;
    if (!rows) {
        const int32_t destinationHeight = destination.bottom - destination.top;
        const int32_t rowFirst = clip.top - destination.top;
        const int32_t rowPitch = static_cast<int32_t>(pitch);
        const StepTableKey key =
            interlaced ? StepTableKey{sourceHeight / 2, destinationHeight / 2, rowFirst / 2,
                                      rowEntries, 2 * rowPitch}
                       : StepTableKey{sourceHeight, destinationHeight, rowFirst, rowEntries,
                                      rowPitch};
        if (key != rowKey) {
            rowKey = key;
            BuildScaleSteps(key, rowSteps);
        }
        rows = rowSteps;
    }

    // Column table: walks the work image, one work pixel per source column.
    const ScaleStep* columns = callerColumnSteps;
    if (!columns) {
        const StepTableKey key{sourceWidth, destination.right - destination.left,
                               clip.left - destination.left, clipWidth, kWorkPixelBytes};
        if (key != columnKey) {
            columnKey = key;
            BuildScaleSteps(key, columnSteps);
        }
        columns = columnSteps;
    }

    const RowRoutines& routines = Kernels().rows;
    HorizontalRowFn horizontal = routines.horizontalRgb24;
    if (layout == LayoutYuyv)
        horizontal = (clip.left & 1) ? routines.horizontalYuyvOdd : routines.horizontalYuyvEven;

    // Pass 1 columns. Layout 0 reads whole Y U Y V pairs, so it starts at the even column
    // and ends after the odd one. Layout 4 reads single pixels and needs no rounding on the
    // right, where the extra column could lie past the frame's last byte.
    const int32_t left = source.left & ~1;
    const int32_t xOffset = source.left & 1;
    VerticalPass vertical{routines.verticalRgb24, source.right - left, -1, false};
    if (layout == LayoutYuyv) {
        const int32_t right = source.right + (source.right & 1);
        vertical = VerticalPass{routines.verticalYuyv, (right - left) / 2, -1, width >= 3};
        if (right > width) {  // odd frame width: the last column has no pair
            vertical.groups -= 1;
            vertical.orphanOffset = (width - 1 - left) * 2;
        }
    }

    // Pass 1: frame rows into work rows, one work row per clip row.
    const ptrdiff_t workPitch = static_cast<ptrdiff_t>(workWidth) * kWorkPixelBytes;
    const uint8_t* p = row0 + source.top * pitch + left * bytesPerPixel;
    int32_t done = 0;
    for (const ScaleStep* e = rows; done < clipHeight; ++e) {
        p += e->advance;
        vertical.Run(p, p + e->neighbour, e->weight[0], workBuffer + done * workPitch);
        ++done;
        if (interlaced && done < clipHeight) {
            // The line below belongs to the other field and takes the same weight.
            vertical.Run(p + pitch, p + pitch + e->neighbour, e->weight[0],
                         workBuffer + done * workPitch);
            ++done;
        }
        p += e->neighbour;
    }

    // Pass 2: work rows into the clip. Pass 1 is complete, so writing the frame is safe
    // whatever the overlap of source and destination.
    for (int32_t r = 0; r < clipHeight; ++r) {
        horizontal(workBuffer + r * workPitch + xOffset * kWorkPixelBytes,
                   row0 + (clip.top + r) * pitch + clip.left * bytesPerPixel, clipWidth,
                   columns);
    }
    return true;
}

}  // namespace kvx
