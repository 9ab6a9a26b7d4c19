// Every kernel of the dispatch table once: its name, where it sits in the table and the
// case that runs it. The bit-exact check and the kernel benchmark both walk this list, so
// a new kernel is checked at every level and timed by adding one line here.
#pragma once
#include "video/dispatch.h"
#include "video/pixel_format.h"

namespace kvx {

// How a kernel is run; the check and the benchmark have one runner per case.
struct VerticalCase {      // blends two frame rows into a work row
    PixelLayout layout;
    bool packed = false;   // into a packed row: the frame bytes as they lie
};
struct HorizontalCase {    // walks the column table along a work row
    PixelLayout layout;
    bool oddStart;
};
struct PlannedCase {       // a row (or two) from a column plan; null at levels without one
    PixelLayout layout;
    PlanKind kind;
};
struct FillYuyvCase {      // a border-fill row of 4:2:2 pairs
    bool oddLeft, mix;
};
struct FillRgb24Case {     // a border-fill row of 24-bit pixels
    bool mix;
};
struct LineBlendCase {};   // a band of lines of the pre-deinterlace blend

// Calls visit(name, member, case) for every kernel, where member(table) reads the kernel
// from a table of one level.
template <typename Visit>
void ForEachKernel(Visit&& visit) {
    using K = const VideoKernels&;
    visit("verticalYuyv", [](K k) { return k.rows.verticalYuyv; }, VerticalCase{LayoutYuyv});
    visit("verticalRgb24", [](K k) { return k.rows.verticalRgb24; }, VerticalCase{LayoutRgb24});
    visit("horizontalYuyvEven", [](K k) { return k.rows.horizontalYuyvEven; },
          HorizontalCase{LayoutYuyv, false});
    visit("horizontalYuyvOdd", [](K k) { return k.rows.horizontalYuyvOdd; },
          HorizontalCase{LayoutYuyv, true});
    visit("horizontalRgb24", [](K k) { return k.rows.horizontalRgb24; },
          HorizontalCase{LayoutRgb24, false});
    visit("verticalRgb24Packed", [](K k) { return k.rows.verticalRgb24Packed; },
          VerticalCase{LayoutRgb24, true});
    visit("verticalYuyvPacked", [](K k) { return k.rows.verticalYuyvPacked; },
          VerticalCase{LayoutYuyv, true});
    // The planned routines of each layout and kind of plan, one row and two at a time.
    auto planned = [&visit](const char* name, PixelLayout layout, PlanKind kind) {
        visit(name, [layout, kind](K k) { return k.rows.Planned(layout, kind); },
              PlannedCase{layout, kind});
    };
    auto plannedPair = [&visit](const char* name, PixelLayout layout, PlanKind kind) {
        visit(name, [layout, kind](K k) { return k.rows.PlannedPair(layout, kind); },
              PlannedCase{layout, kind});
    };
    planned("plannedYuyvWindows", LayoutYuyv, PlanKind::Windows);
    planned("plannedRgb24Windows", LayoutRgb24, PlanKind::Windows);
    plannedPair("plannedRgb24WindowsPair", LayoutRgb24, PlanKind::Windows);
    planned("plannedRgb24Lanes", LayoutRgb24, PlanKind::Rgb24Lanes);
    plannedPair("plannedRgb24LanesPair", LayoutRgb24, PlanKind::Rgb24Lanes);
    planned("plannedYuyvLanes", LayoutYuyv, PlanKind::YuyvLanes);
    planned("plannedRgb24Paired", LayoutRgb24, PlanKind::Paired);
    plannedPair("plannedRgb24PairedPair", LayoutRgb24, PlanKind::Paired);
    planned("plannedYuyvPaired", LayoutYuyv, PlanKind::Paired);
    plannedPair("plannedYuyvPairedPair", LayoutYuyv, PlanKind::Paired);
    visit("fillYuyvSolidEven", [](K k) { return k.fills.yuyvSolidEven; }, FillYuyvCase{false, false});
    visit("fillYuyvSolidOdd", [](K k) { return k.fills.yuyvSolidOdd; }, FillYuyvCase{true, false});
    visit("fillYuyvMixEven", [](K k) { return k.fills.yuyvMixEven; }, FillYuyvCase{false, true});
    visit("fillYuyvMixOdd", [](K k) { return k.fills.yuyvMixOdd; }, FillYuyvCase{true, true});
    visit("fillRgb24Solid", [](K k) { return k.fills.rgb24Solid; }, FillRgb24Case{false});
    visit("fillRgb24Mix", [](K k) { return k.fills.rgb24Mix; }, FillRgb24Case{true});
    visit("blendLineBand", [](K k) { return k.blendLineBand; }, LineBlendCase{});
}

}  // namespace kvx
