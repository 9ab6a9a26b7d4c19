// Resamples a rectangle of a frame into another rectangle of the same frame, in place,
// by separable integer bilinear interpolation through a private work image.
#pragma once
#include <cstdint>

#include "platform/geometry.h"
#include "video/pixel_format.h"
#include "video/column_plan.h"
#include "video/row_routines.h"
#include "video/scale_steps.h"

namespace kvx {

class Scaler {
public:
    Scaler();
    virtual ~Scaler();
    Scaler(const Scaler&) = delete;
    Scaler& operator=(const Scaler&) = delete;

    // Buffer headroom in percent; kept within 0..100 so a buffer is never smaller than
    // its nominal size.
    void SetHysteresis(int32_t growPercent, int32_t shrinkPercent);

    // Resamples `source` into `destination` (which may reach beyond the frame; its full
    // size sets the scale factors). rowSteps / columnSteps are optional caller-owned tables.
    // Returns false only when a buffer could not be allocated; the frame is then untouched.
    bool Scale(uint8_t* pixels, int32_t width, int32_t height, Rect source, Rect destination,
               PixelLayout layout, bool interlaced, const ScaleStep* callerRowSteps = nullptr,
               const ScaleStep* callerColumnSteps = nullptr);

    // What the last Scale calls left behind, for tests and diagnostics.
    const StepTableKey& RowKey() const { return rowKey; }
    const StepTableKey& ColumnKey() const { return columnKey; }
    int32_t RowStepsNominal() const { return rowStepsNominal; }
    int32_t ColumnStepsNominal() const { return columnStepsNominal; }
    int32_t WorkNominalWidth() const { return workNominalWidth; }
    int32_t WorkNominalHeight() const { return workNominalHeight; }
    int32_t WorkWidth() const { return workWidth; }
    int32_t WorkHeight() const { return workHeight; }

private:
    struct Geometry;
    struct Passes;
    bool EnsureBuffers(const Geometry& g, bool ownRows, bool ownColumns);
    const ScaleStep* RowTable(const Geometry& g);
    const ScaleStep* ColumnTable(const Geometry& g);
    struct PlanKey;
    struct ColumnReach;
    bool SelectPasses(const Geometry& g, const ScaleStep* columns, bool ownColumns, Passes& p);
    PlanKey PlanKeyFor(const Geometry& g, const RowRoutines& routines) const;
    bool PlanFor(const PlanKey& key, const ColumnPlan*& plan);
    bool EnsurePlanRoom(int32_t need);
    ColumnReach ReachOf(const ScaleStep* columns, int32_t count, bool ownColumns);
    void SelectVerticalPass(const Geometry& g, const ColumnReach& reach,
                            const RowRoutines& routines, Passes& p) const;
    void RunPasses(const Geometry& g, const ScaleStep* rows, const Passes& p);

    int64_t Grown(int64_t n) const;
    int32_t AdaptedNominal(int32_t nominal, int32_t need) const;
    bool EnsureWorkBuffer(int32_t needWidth, int32_t needHeight, int32_t bytesPerPixel);
    bool EnsureScaleSteps(ScaleStep*& table, int32_t& nominal, int32_t& capacity,
                          StepTableKey& key, int32_t need);
    bool EnsureTable(void*& table, int32_t& nominal, int32_t& capacity, StepTableKey& key,
                     int32_t need, int64_t entryBytes);

    int32_t growPercent = 0;
    int32_t shrinkPercent = 0;
    int32_t columnStepsNominal = 0;
    ScaleStep* columnSteps = nullptr;
    StepTableKey columnKey{};
    int32_t rowStepsNominal = 0;
    ScaleStep* rowSteps = nullptr;
    StepTableKey rowKey{};
    uint8_t* workBuffer = nullptr;
    int32_t workNominalWidth = 0, workNominalHeight = 0;
    int32_t workWidth = 0, workHeight = 0;  // allocated; the work pitch is workWidth * 4
    // The column table recast for the planned horizontal routines, built with the table
    // when the level has such routines; its room follows the buffer policy, sized by the
    // clip width. What it was asked for, and whether one fitted.
    struct PlanKey {
        StepTableKey columns{};
        PixelLayout layout = LayoutYuyv;
        int32_t parity = 0;
        PlanShapes shapes{};
        bool operator==(const PlanKey& o) const {
            return columns == o.columns && layout == o.layout && parity == o.parity &&
                   shapes == o.shapes;
        }
    };
    ColumnPlan columnPlan;
    int32_t columnPlanNominal = 0;
    PlanKey columnPlanKey{};
    bool columnPlanUsable = false;
    // What the engine's own tables imply for every frame of one geometry, worked out when
    // a table changes rather than on every frame: the columns pass 2 reads, and the order
    // of the passes (whether the row taps move down the frame, and the work rows alive).
    struct ColumnReach {
        StepTableKey key{};
        bool known = false;
        int64_t low = 0, high = 0;
    } columnReach;
    struct RowOrder {
        StepTableKey key{};
        int32_t clipTop = 0, clipHeight = 0, sourceTop = 0;
        bool interlaced = false;
        bool rowsMoveDown = false;
        int32_t reachBelow = 0;  // the most rows an entry reads below its first tap
        int32_t ringRows = 0;    // 0: not worked out
        bool SameRows(const RowOrder& o) const {
            return key == o.key && clipTop == o.clipTop && clipHeight == o.clipHeight &&
                   sourceTop == o.sourceTop && interlaced == o.interlaced;
        }
    } rowOrder;
    // Allocated entry counts of the tables. Kept because SetHysteresis may change the
    // margin after an allocation: the grown nominal size then no longer tells the real size.
    int32_t columnStepsCapacity = 0, rowStepsCapacity = 0;
};

}  // namespace kvx
