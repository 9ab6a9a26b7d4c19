#include "video/scaler.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

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
constexpr int32_t kDestinationCoordinateLimit = 1 << 29;

int32_t ClampToPlusMinus2Pow29(int32_t v) {
    return std::min(std::max(v, -kDestinationCoordinateLimit), kDestinationCoordinateLimit);
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
    int32_t frameSkip = 0;   // bytes of the frame row before the first column blended
    int32_t workSkip = 0;    // bytes of the work row before its work pixel
    int32_t workGroupBytes = 2 * kWorkPixelBytes;  // a group in the work row: 4 when packed

    void Run(const uint8_t* a, const uint8_t* b, uint16_t weight, uint8_t* work) const {
        routine(a + frameSkip, b + frameSkip, weight, work + workSkip, groups);
        if (orphanOffset < 0) return;
        uint8_t lastA[4], lastB[4];
        Orphan(a + orphanOffset, lastA);
        Orphan(b + orphanOffset, lastB);
        routine(lastA, lastB, weight, work + workSkip + groups * workGroupBytes, 1);
    }

    void Orphan(const uint8_t* yu, uint8_t group[4]) const {
        group[0] = yu[0];
        group[1] = yu[1];
        group[2] = yu[0];
        group[3] = orphanHasV ? yu[-1] : 128;
    }
};

// The work pixels pass 2 reads along a row, from the source origin: from the lowest tap to
// one past the highest (the walk may read that one with weight 0). False for a table whose
// steps are not whole work pixels; then every column is blended.
bool ColumnsRead(const ScaleStep* steps, int32_t count, int64_t& low, int64_t& high) {
    int64_t read = 0;
    low = INT64_MAX;
    high = INT64_MIN;
    for (int32_t x = 0; x < count; ++x) {
        const ScaleStep& e = steps[x];
        if (e.advance % kWorkPixelBytes != 0 || e.neighbour % kWorkPixelBytes != 0) return false;
        const int64_t a = read + e.advance, b = a + e.neighbour;
        low = std::min(low, std::min(a, b));
        high = std::max(high, std::max(a, b));
        read = b;
    }
    low /= kWorkPixelBytes;
    high = high / kWorkPixelBytes + 1;
    return count > 0;
}

// Whether every entry of a row table reads only frame rows at or below its first tap, and
// the first taps never move up: the condition for interleaving the passes. `reachBelow`
// gets the most rows an entry's second tap lies below its first.
bool RowsMoveDown(const ScaleStep* rows, int32_t entries, ptrdiff_t pitch, int32_t& reachBelow) {
    int64_t row = 0, lastTop = 0, reach = 0;
    for (int32_t k = 0; k < entries; ++k) {
        const ScaleStep& e = rows[k];
        if (e.advance % pitch != 0 || e.neighbour % pitch != 0) return false;
        const int64_t top = row + e.advance / pitch;
        const int64_t below = e.neighbour / pitch;
        if ((k > 0 && top < lastTop) || below < 0 || below > INT32_MAX - 1) return false;
        lastTop = top;
        row = top + below;
        reach = std::max(reach, below);
    }
    reachBelow = static_cast<int32_t>(reach);
    return true;
}

struct PassOrder {
    const ScaleStep* rows;
    int32_t entries;
    int32_t clipTop, clipHeight, sourceTop;
    ptrdiff_t pitch;
    bool interlaced;
    bool rowsMoveDown;
    int32_t reachBelow;  // rows an entry reads below its first tap, at most (when they move down)

    // The clip rows entry k writes: the first and how many (two in interlaced mode, one
    // for each field, but one at the clip's end).
    int32_t FirstRowOf(int32_t k) const { return interlaced ? 2 * k : k; }
    int32_t RowsOf(int32_t k) const { return interlaced && 2 * k + 1 < clipHeight ? 2 : 1; }
};

// Runs pass 1 (vertical(offset of the first tap, neighbour, weight, first work row, rows),
// one row table entry at a time) and pass 2 (horizontal(clip row)) in an order that is safe
// for a frame rewritten in place: clip row r writes frame row clipTop + r only after every
// entry that reads that row has run. When the table's taps move down the frame, pass 1
// therefore only runs ahead of pass 2 by the distance between a destination row and its
// source rows, and the work rows stay in cache; otherwise pass 1 runs to the end first.
// Returns the most work rows alive at once, the ring size the two passes need.
template <typename Vertical, typename Horizontal>
int32_t InterleaveDown(const PassOrder& o, Vertical vertical, Horizontal horizontal) {
    const ScaleStep* e = o.rows;
    ptrdiff_t offset = 0;  // read position from the first source row, in bytes
    // When the taps move down, every step is whole rows: an entry's first tap lies on image
    // row sourceTop + (offset + advance) / pitch. That test is made in bytes, down the image
    // (the pitch is negative for a bottom-up frame), so that no row needs a division.
    const int64_t down = o.pitch < 0 ? -1 : 1;
    const int64_t rowBytes = down * o.pitch;
    int32_t done = 0, alive = 1;
    for (int32_t r = 0; r < o.clipHeight; ++r) {
        const int64_t writtenBytes = (static_cast<int64_t>(o.clipTop) + r - o.sourceTop) * rowBytes;
        while (done < o.clipHeight &&
               (done <= r || !o.rowsMoveDown || (offset + e->advance) * down <= writtenBytes)) {
            offset += e->advance;
            const int32_t count = o.interlaced && done + 1 < o.clipHeight ? 2 : 1;
            vertical(offset, e->neighbour, e->weight[0], done, count);
            done += count;
            offset += e->neighbour;
            ++e;
        }
        alive = std::max(alive, done - r);
        horizontal(r);
    }
    return alive;
}

// The same from the bottom clip row up, for tables whose taps move down: pass 1 runs the
// entries from the last one back, and before clip row r is written, every entry whose
// rows could reach it (its first tap, reachBelow rows and the other field's line below)
// has run; the entries still to run have first taps no lower. A bottom-up frame takes this
// order, so that both passes walk its memory upwards, as the order above walks a top-down
// frame's: a 24-bit frame takes about a tenth less time than walked downwards.
template <typename Vertical, typename Horizontal>
int32_t InterleaveUp(const PassOrder& o, Vertical vertical, Horizontal horizontal) {
    if (o.entries <= 0) return 1;
    // The first tap of the last entry; the walk back undoes the table entry by entry.
    ptrdiff_t offset = 0;
    for (int32_t k = 0; k < o.entries; ++k)
        offset += o.rows[k].advance + (k + 1 < o.entries ? o.rows[k].neighbour : 0);
    const int64_t down = o.pitch < 0 ? -1 : 1;
    const int64_t rowBytes = down * o.pitch;
    const int64_t reachBytes = (static_cast<int64_t>(o.reachBelow) + (o.interlaced ? 1 : 0)) * rowBytes;
    int32_t k = o.entries - 1, lowest = o.clipHeight, alive = 1;
    for (int32_t r = o.clipHeight - 1; r >= 0; --r) {
        const int64_t writtenBytes = (static_cast<int64_t>(o.clipTop) + r - o.sourceTop) * rowBytes;
        while (k >= 0 && (lowest > r || offset * down + reachBytes >= writtenBytes)) {
            const ScaleStep& e = o.rows[k];
            lowest = o.FirstRowOf(k);
            vertical(offset, e.neighbour, e.weight[0], lowest, o.RowsOf(k));
            if (k > 0) offset -= e.advance + o.rows[k - 1].neighbour;
            --k;
        }
        alive = std::max(alive, r - lowest + 1);
        horizontal(r);
    }
    return alive;
}

// The order that walks the frame's memory upwards; a table whose taps do not move down
// takes the downward one, which then runs pass 1 to the end first.
template <typename Vertical, typename Horizontal>
int32_t InterleavePasses(const PassOrder& o, Vertical vertical, Horizontal horizontal) {
    if (o.rowsMoveDown && o.pitch < 0) return InterleaveUp(o, vertical, horizontal);
    return InterleaveDown(o, vertical, horizontal);
}

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
    // The horizontal routines may read a spare pixel past a row's last tap (with weight
    // 0): cleared once, so no read ever meets memory that was never written.
    std::memset(workBuffer, 0, static_cast<size_t>(width * bytesPerPixel) * static_cast<size_t>(height));
    workNominalWidth = nominalWidth;
    workNominalHeight = nominalHeight;
    workWidth = static_cast<int32_t>(width);
    workHeight = static_cast<int32_t>(height);
    return true;
}

// A new table has undefined contents, so its key is cleared and the table gets rebuilt.
bool Scaler::EnsureTable(void*& table, int32_t& nominal, int32_t& capacity, StepTableKey& key,
                         int32_t need, int64_t entryBytes) {
    int32_t newNominal = AdaptedNominal(nominal, need);
    if (table && newNominal == nominal && need <= capacity) return true;
    AlignedFree(table);
    table = nullptr;
    nominal = capacity = 0;
    key = StepTableKey{};
    int64_t count = Grown(newNominal);
    if (count > INT32_MAX) return false;
    table = AllocateArray(count, entryBytes);
    if (!table) return false;
    nominal = newNominal;
    capacity = static_cast<int32_t>(count);
    return true;
}

bool Scaler::EnsureScaleSteps(ScaleStep*& table, int32_t& nominal, int32_t& capacity,
                              StepTableKey& key, int32_t need) {
    void* block = table;
    const bool ok = EnsureTable(block, nominal, capacity, key, need, sizeof(ScaleStep));
    table = static_cast<ScaleStep*>(block);
    return ok;
}

// Room in the column plan for `need` destination pixels, under the policy of the other
// buffers. A new room holds no plan, so its key is cleared and the plan gets rebuilt.
bool Scaler::EnsurePlanRoom(int32_t need) {
    const int32_t newNominal = AdaptedNominal(columnPlanNominal, need);
    if (columnPlan.Room() > 0 && newNominal == columnPlanNominal && need <= columnPlan.Room())
        return true;
    columnPlanNominal = 0;
    columnPlanKey = PlanKey{};
    const int64_t room = Grown(newNominal);
    if (room > INT32_MAX || !columnPlan.Reserve(static_cast<int32_t>(room))) return false;
    columnPlanNominal = newNominal;
    return true;
}

// The plan of the engine's column table for `key`: the first of `shapes` that fits it,
// rebuilt only when the table, the layout, the column parities or the shapes change (the
// level in use may change between frames). `plan` is null when none fits. False when the
// plan's room could not be allocated.
bool Scaler::PlanFor(const PlanKey& key, const ColumnPlan*& plan) {
    plan = nullptr;
    if (!EnsurePlanRoom(key.columns.count)) return false;
    if (!(key == columnPlanKey)) {
        columnPlanKey = key;
        columnPlanUsable = BuildFirstPlan(
            key.shapes,
            PlanSource{columnSteps, key.columns.count, key.columns.sourceLength, key.layout, key.parity},
            columnPlan);
    }
    if (columnPlanUsable) plan = &columnPlan;
    return true;
}

// What one Scale call works on, after field alignment and clipping.
struct Scaler::Geometry {
    PixelLayout layout;
    int32_t width, height, bytesPerPixel;
    Rect source;       // clipped to the frame
    Rect destination;  // full size: its lengths set the scale factors
    Rect clip;         // the destination's part inside the frame: what is computed
    bool interlaced;
    int32_t rowEntries;  // row table entries: one per clip row, or per pair of field rows
    ptrdiff_t pitch;     // image row to image row, negative for a bottom-up frame
    uint8_t* row0;       // image row 0, the top row

    int32_t SourceWidth() const { return source.right - source.left; }
    int32_t SourceHeight() const { return source.bottom - source.top; }
    int32_t ClipWidth() const { return clip.right - clip.left; }
    int32_t ClipHeight() const { return clip.bottom - clip.top; }
};

// The kernels of one call: pass 1 over source rows, pass 2 from the plan or the table walk.
struct Scaler::Passes {
    VerticalPass vertical;
    HorizontalRowFn horizontal;
    PlannedRowFn planned;
    PlannedRowPairFn plannedPair;  // two rows of the plan at once, or null
    const ColumnPlan* plan;  // null: the table walk does every row
    const ScaleStep* columns;
    int32_t left;     // the even frame column pass 1 starts at
    int32_t workStart;       // bytes of the work row before pass 2's source origin
    int32_t workPixelBytes;  // 4, or 3 for packed 24-bit, 2 for packed 4:2:2 work rows
};

namespace {

// Field alignment and clipping. False when there is nothing to compute: an unknown layout,
// no frame, an empty source or a destination wholly outside the frame.
bool ClipGeometry(uint8_t* pixels, int32_t width, int32_t height, Rect source, Rect destination,
                  PixelLayout layout, bool interlaced, Rect& clippedSource, Rect& clampedDestination,
                  Rect& clip) {
    // Only these layouts have row routines; a frame in any other is left as it is.
    if (layout != LayoutYuyv && layout != LayoutRgb24) return false;
    if (!pixels || width <= 0 || height <= 0 ||
        static_cast<int64_t>(width) * height * BytesPerPixel(layout) > kMaxFrameBytes)
        return false;
    // Field alignment: even tops and bottoms keep each field on its own row parity.
    if (interlaced) {
        source.top = FieldAligned(source.top);
        source.bottom = FieldAligned(source.bottom);
        destination.top = FieldAligned(destination.top);
        destination.bottom = FieldAligned(destination.bottom);
    }
    clampedDestination =
        Rect{ClampToPlusMinus2Pow29(destination.left), ClampToPlusMinus2Pow29(destination.top),
             ClampToPlusMinus2Pow29(destination.right), ClampToPlusMinus2Pow29(destination.bottom)};
    // Clipping: the destination keeps its full size for the scale factors; the clip picks
    // the rows and columns that are computed.
    const Rect bounds{0, 0, width, height};
    clippedSource = IntersectRect(source, bounds);
    if (IsRectEmpty(clippedSource)) return false;
    clip = IntersectRect(clampedDestination, bounds);
    return !IsRectEmpty(clip);
}

}  // namespace

bool Scaler::EnsureBuffers(const Geometry& g, bool ownRows, bool ownColumns) {
    return EnsureWorkBuffer(g.SourceWidth() + 2, g.ClipHeight(), kWorkPixelBytes) &&
           (!ownRows ||
            EnsureScaleSteps(rowSteps, rowStepsNominal, rowStepsCapacity, rowKey, g.ClipHeight())) &&
           (!ownColumns || EnsureScaleSteps(columnSteps, columnStepsNominal, columnStepsCapacity,
                                            columnKey, g.ClipWidth()));
}

// The engine's row table for the geometry, rebuilt only when its key changes. In
// interlaced mode each entry yields a pair of rows, one per field, and steps by two pitches.
const ScaleStep* Scaler::RowTable(const Geometry& g) {
    const int32_t destinationHeight = g.destination.bottom - g.destination.top;
    const int32_t rowFirst = g.clip.top - g.destination.top;
    const int32_t rowPitch = static_cast<int32_t>(g.pitch);
    const StepTableKey key =
        g.interlaced ? StepTableKey{g.SourceHeight() / 2, destinationHeight / 2, rowFirst / 2,
                                    g.rowEntries, 2 * rowPitch}
                     : StepTableKey{g.SourceHeight(), destinationHeight, rowFirst, g.rowEntries,
                                    rowPitch};
    if (key != rowKey) {
        rowKey = key;
        BuildScaleSteps(key, rowSteps);
    }
    return rowSteps;
}

// The engine's column table: walks the work image, one work pixel per source column.
const ScaleStep* Scaler::ColumnTable(const Geometry& g) {
    const StepTableKey key{g.SourceWidth(), g.destination.right - g.destination.left,
                           g.clip.left - g.destination.left, g.ClipWidth(), kWorkPixelBytes};
    if (key != columnKey) {
        columnKey = key;
        BuildScaleSteps(key, columnSteps);
    }
    return columnSteps;
}

// The plan to ask for: the shapes the level's kernels take for the layout, best first,
// and for packed 4:2:2 plans the parities of the first source and destination columns.
Scaler::PlanKey Scaler::PlanKeyFor(const Geometry& g, const RowRoutines& routines) const {
    PlanKey key;
    key.columns = columnKey;
    key.layout = g.layout;
    key.shapes = PreferredShapes(g.layout, routines.KindsWithKernels(g.layout));
    const bool packed = key.shapes.count > 0 && key.shapes.shape[0].kind != PlanKind::Windows;
    if (packed && g.layout == LayoutYuyv)
        key.parity = (g.clip.left & 1 ? kPackedYuyvOddStart : 0) |
                     (g.source.left & 1 ? kPackedYuyvOddSource : 0);
    return key;
}

// The work pixels pass 2 reads along a row, from the source origin. The engine's own
// table gives the same for every frame of a geometry; a caller's is looked at every call.
Scaler::ColumnReach Scaler::ReachOf(const ScaleStep* columns, int32_t count, bool ownColumns) {
    if (ownColumns && columnReach.key == columnKey) return columnReach;
    ColumnReach reach;
    reach.key = columnKey;
    reach.known = ColumnsRead(columns, count, reach.low, reach.high);
    if (ownColumns) columnReach = reach;
    return reach;
}

// Pass 1 over the columns pass 2 reads: when zooming, only the middle of the source row
// (whole pairs in layout 0), from column p.left into work pixels of p.workPixelBytes.
void Scaler::SelectVerticalPass(const Geometry& g, const ColumnReach& reach,
                                const RowRoutines& routines, Passes& p) const {
    const int32_t left = p.left, workPixelBytes = p.workPixelBytes;
    int32_t first = g.source.left, last = g.source.right;  // columns first .. last - 1
    if (reach.known) {
        const int64_t from = std::max<int64_t>(first + reach.low, first);
        first = static_cast<int32_t>(std::min<int64_t>(from, last - 1));
        const int64_t to = std::min<int64_t>(g.source.left + reach.high + 1, last);
        last = static_cast<int32_t>(std::max<int64_t>(to, first + 1));
    }
    const bool packed = workPixelBytes != kWorkPixelBytes;
    VerticalPass pass{packed ? routines.verticalRgb24Packed : routines.verticalRgb24, last - first,
                      -1, false};
    if (g.layout == LayoutYuyv) {
        first &= ~1;
        const int32_t right = last + (last & 1);
        pass = VerticalPass{packed ? routines.verticalYuyvPacked : routines.verticalYuyv,
                            (right - first) / 2, -1, g.width >= 3};
        pass.workGroupBytes = 2 * workPixelBytes;
        if (right > g.width) {  // odd frame width: the last column has no pair
            pass.groups -= 1;
            pass.orphanOffset = (g.width - 1 - left) * 2;
        }
    }
    pass.frameSkip = (first - left) * g.bytesPerPixel;
    pass.workSkip = (first - left) * workPixelBytes;
    p.vertical = pass;
}

// Picks the kernels by layout and level: pass 2 from the engine's own table's plan where
// the level has kernels for one that fits, otherwise (and for a caller's table) the table
// walk; pass 1 into the work rows that pass 2 reads. False when the plan could not be
// allocated.
bool Scaler::SelectPasses(const Geometry& g, const ScaleStep* columns, bool ownColumns,
                          Passes& p) {
    const RowRoutines& routines = Kernels().rows;
    p.columns = columns;
    p.horizontal = routines.horizontalRgb24;
    if (g.layout == LayoutYuyv)
        p.horizontal = (g.clip.left & 1) ? routines.horizontalYuyvOdd : routines.horizontalYuyvEven;
    p.plan = nullptr;
    const PlanKey key = PlanKeyFor(g, routines);
    if (ownColumns && key.shapes.count > 0 && !PlanFor(key, p.plan)) return false;
    p.planned = p.plan ? routines.Planned(g.layout, p.plan->Kind()) : nullptr;
    p.plannedPair = p.plan ? routines.PlannedPair(g.layout, p.plan->Kind()) : nullptr;
    p.workPixelBytes = p.plan ? p.plan->WorkPixelBytes() : kWorkPixelBytes;
    // Layout 0 reads whole Y U Y V pairs, so pass 1 starts at the even column and ends
    // after the odd one. Layout 4 reads single pixels and needs no rounding on the right,
    // where the extra column could lie past the frame's last byte.
    p.left = g.source.left & ~1;
    // Pass 2 starts at the source's first column; a packed 4:2:2 plan starts at the pair
    // and takes an odd first column into account itself.
    p.workStart = p.workPixelBytes == 2 ? 0 : (g.source.left & 1) * p.workPixelBytes;
    SelectVerticalPass(g, ReachOf(columns, g.ClipWidth(), ownColumns), routines, p);
    return true;
}

// The two passes, interleaved row by row through a ring of work rows (see
// InterleavePasses).
void Scaler::RunPasses(const Geometry& g, const ScaleStep* rows, const Passes& p) {
    const uint8_t* const base = g.row0 + g.source.top * g.pitch + p.left * g.bytesPerPixel;
    const ptrdiff_t workPitch = static_cast<ptrdiff_t>(workWidth) * kWorkPixelBytes;
    // The engine's own table gives the same order for every frame of a geometry; a
    // caller's table is looked at on every call.
    const bool own = rows == rowSteps;
    RowOrder known{rowKey, g.clip.top, g.ClipHeight(), g.source.top, g.interlaced};
    if (own && rowOrder.ringRows > 0 && rowOrder.SameRows(known)) {
        known = rowOrder;
    } else {
        known.rowsMoveDown = RowsMoveDown(rows, g.rowEntries, g.pitch, known.reachBelow);
        known.ringRows = 0;
    }
    const PassOrder order{rows,         g.rowEntries, g.clip.top,  g.ClipHeight(),
                          g.source.top, g.pitch,      g.interlaced, known.rowsMoveDown,
                          known.reachBelow};
    if (known.ringRows == 0) {
        known.ringRows = InterleavePasses(
            order, [](ptrdiff_t, int32_t, uint16_t, int32_t, int32_t) {}, [](int32_t) {});
        if (own) rowOrder = known;
    }
    // Rows taken in pairs wait one clip row for their partner: the work row of the one
    // waiting must outlive one more row of pass 1. That needs no more rows than the clip.
    const int32_t ringRows =
        p.plannedPair ? std::min(known.ringRows + 1, std::max(g.ClipHeight(), 1)) : known.ringRows;
    auto workRow = [&](int32_t r) { return workBuffer + (r % ringRows) * workPitch; };
    auto work = [&](int32_t r) { return workRow(r) + p.workStart; };
    auto out = [&](int32_t r) {
        return g.row0 + (g.clip.top + r) * g.pitch + g.clip.left * g.bytesPerPixel;
    };
    const bool oddStart = g.clip.left & 1;
    auto one = [&](int32_t r) {
        if (p.plan) p.planned(work(r), out(r), p.columns, *p.plan, oddStart);
        else p.horizontal(work(r), out(r), g.ClipWidth(), p.columns);
    };
    // Delaying a row's write is safe for a frame rewritten in place: every pass 1 entry that
    // reads that frame row has run before the row's turn came.
    int32_t waiting = -1;
    InterleavePasses(
        order,
        [&](ptrdiff_t offset, int32_t neighbour, uint16_t weight, int32_t r, int32_t count) {
            const uint8_t* a = base + offset;
            p.vertical.Run(a, a + neighbour, weight, workRow(r));
            // The line below belongs to the other field and takes the same weight.
            if (count == 2)
                p.vertical.Run(a + g.pitch, a + g.pitch + neighbour, weight, workRow(r + 1));
        },
        [&](int32_t r) {
            if (!p.plannedPair) return one(r);
            if (waiting < 0) {
                waiting = r;
                return;
            }
            p.plannedPair(work(waiting), out(waiting), work(r), out(r), p.columns, *p.plan, oddStart);
            waiting = -1;
        });
    if (waiting >= 0) one(waiting);
}

bool Scaler::Scale(uint8_t* pixels, int32_t width, int32_t height, Rect source,
                   Rect destination, PixelLayout layout, bool interlaced,
                   const ScaleStep* callerRowSteps, const ScaleStep* callerColumnSteps) {
    Geometry g{};
    if (!ClipGeometry(pixels, width, height, source, destination, layout, interlaced, g.source,
                      g.destination, g.clip))
        return true;
    g.layout = layout;
    g.width = width;
    g.height = height;
    g.bytesPerPixel = BytesPerPixel(layout);
    // One source line (the last of an odd-height frame) has no second field to pair with.
    g.interlaced = interlaced && g.SourceHeight() >= 2;
    // An odd clip height in interlaced mode (an odd frame height with the destination past
    // the bottom) takes one more entry, whose second row is not computed. That entry still
    // lies inside the destination, whose bottom is even while the frame's is not.
    g.rowEntries = g.interlaced ? (g.ClipHeight() + 1) / 2 : g.ClipHeight();
    // Layout 4 is bottom-up, so image row 0 is the last row in memory.
    g.pitch = layout == LayoutYuyv ? 2 * static_cast<ptrdiff_t>(width)
                                   : -3 * static_cast<ptrdiff_t>(width);
    g.row0 = pixels + (layout == LayoutYuyv ? 0 : -g.pitch * (height - 1));

    if (!EnsureBuffers(g, !callerRowSteps, !callerColumnSteps)) return false;
    const ScaleStep* rows = callerRowSteps ? callerRowSteps : RowTable(g);
    const ScaleStep* columns = callerColumnSteps ? callerColumnSteps : ColumnTable(g);

    // The same rectangle in and out: every weight is 0 and every step lands on its own
    // sample, so the passes would only rewrite each byte with itself.
    if (!callerRowSteps && !callerColumnSteps && g.destination == g.source) return true;

    Passes passes{};
    if (!SelectPasses(g, columns, !callerColumnSteps, passes)) return false;
    RunPasses(g, rows, passes);
    return true;
}

}  // namespace kvx
