// Finds the real picture inside a frame from the black borders around it (letterbox,
// pillarbox, a border on any side), over a series of sampled frames, and says when it cannot
// know.
//
// Every frame is read on a grid (every second pixel of every row, every second row of every
// column; sparser on lines of 810 pixels and more), each sample judged bright (luma at or
// above the --black level) or dark. In each frame:
//   - a line (row or column) has content when at least half of its samples are bright: a
//     line is judged by most of its width, so a logo or a clock over a bar leaves it black.
//     In a frame with no such column but with rows of content reaching over half of its
//     height (a 2.39:1 picture dark across its middle), columns are judged over those rows;
//   - a line is an edge toward a side when it has content and the two lines beyond it toward
//     that side are nearly all dark (at most an eighth bright): content that stops sharply
//     at that line.
// A frame with no content row or no content column (black, a fade's end, sparse credits)
// does not vote.
//
// Over the frames that vote, the picture is the longest band of lines with content in most
// of them (an overlay in a bar, shown part of the time or over a small part of the width, is
// separated from the picture by lines black in most frames). Bands apart by dark lines are
// one picture with a dark band across it (a dark middle, a black horizon) when each is an
// eighth of the whole or more and the whole lies evenly in the frame: its sharp outer edges
// bound it. A side's border is taken only with evidence of the picture's edge: the line at
// the band's end is an edge toward that side in at least a tenth of the frames, the lines
// just beyond it are black in at least nine frames of ten, and no band of lines with
// content in most frames lies beyond it. Without evidence the answer is "not sure", with
// the reason, never a cut: dark content (a night scene, a dark film, credits, a fade) gives
// no sharp edge at one line in many frames, and an overlay across the edge (a score box)
// leaves the lines beyond it partly bright.
//
// A series whose picture changes (an advert, a film, an advert) is split into its formats
// in time order. Two opposite edges of the frame flat at a level above --black (grey or blue
// bars) are reported with that level. The rules are functions of the frames' line flags
// (DecideBorders, DecideFormats), so a caller that keeps a window of recent frames' flags
// decides by the same rules.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "borders/black_level.h"
#include "platform/geometry.h"
#include "video/frame_geometry.h"

namespace kvx {

enum class BorderVerdict {
    NoContent,  // no sampled frame had picture content (black input)
    NoBorder,   // picture content reaches every edge of the frame
    Found,      // at least one side has a border, with evidence of the picture's edge
    NotSure,    // a side looks like a border but without evidence; see `reasons`
    FormatChange,  // the frames fall into runs in time order, each sure and unlike the one before
};

struct BorderResult;

// One format of a recording whose format changes: its answer and its first frame.
struct FormatPart;

struct BorderResult {
    BorderVerdict verdict = BorderVerdict::NoContent;
    Rect picture{0, 0, 0, 0};  // rows counted from the top in both pixel formats
    long long framesSampled = 0, framesWithContent = 0;
    // Per side (left, top, right, bottom): frames whose content stops sharply at the
    // picture's edge line; 0 for a side without a border.
    long long evidence[4] = {0, 0, 0, 0};
    int32_t barLevel = -1;  // mean luma of the bars (black in 9 of 10 frames); -1: no bars
    std::vector<std::string> reasons;  // why NotSure (one line each), or notes on Found
    std::vector<FormatPart> formats;   // FormatChange: the formats in order of time
    // Luma at which two opposite edges of the frame are flat in nine frames of ten while
    // counted as picture (grey or blue bars above the black level); -1: none.
    int32_t flatEdgeLevel = -1;
};

struct FormatPart {
    BorderResult border;  // Found or NoBorder, over this part's frames
    long long firstFrame = 0;  // of the frames with content
};

// The flags of a series of frames as BorderDetector records them: per frame height + width
// bytes, rows from the top then columns from the left. Frame f of the series is stored at
// (first + f) % capacity, so a ring buffer of recent frames is a series as it stands.
struct FlagWindow {
    const uint8_t* flags = nullptr;
    int32_t width = 0, height = 0;
    long long first = 0, frames = 0, capacity = 0;

    size_t Block() const { return static_cast<size_t>(width) + height; }
    const uint8_t* Frame(long long f) const { return flags + static_cast<size_t>((first + f) % capacity) * Block(); }
    // Frames [from, from + count) of this series.
    FlagWindow Part(long long from, long long count) const { return {flags, width, height, first + from, count, capacity}; }
};

// The frames of `window` judged as one format: NoContent (no frames, or a window that
// holds fewer than it names), NoBorder, Found or NotSure with the reasons. Leaves
// framesSampled and barLevel to the caller.
BorderResult DecideBorders(const FlagWindow& window);

// The same, but a series whose picture changes (a full-frame advert, a letterboxed film, an
// advert again) is FormatChange, with each format's answer in time order.
BorderResult DecideFormats(const FlagWindow& window);
// The most formats it tells apart: each holds a twentieth of the frames or more (two
// frames at least, one between two others twice as many).
constexpr int32_t kMostFormats = 20;

class BorderDetector {
public:
    // `black`: the darkest luma (16..235 scale) that counts as picture.
    explicit BorderDetector(const FrameGeometry& g, int32_t black = kDefaultBlackLevel);

    // One frame in host memory order (bgr24 bottom-up).
    void AddFrame(const uint8_t* frame);
    // One frame's luma plane, width bytes per row, top-down (the Y plane a decoder gives).
    void AddLuma(const uint8_t* plane);

    // For a caller that keeps its own window of frames: one frame's flags written to
    // `flags` (height + width bytes) and not kept here; false when the frame does not vote.
    bool FlagFrame(const uint8_t* frame, uint8_t* flags);

    // For inputs of unknown length: forgets every other frame added so far, so a caller
    // that then samples every second frame keeps an even spread in bounded memory.
    void KeepEveryOther();

    long long FramesSampled() const { return sampled_; }
    // DecideFormats over the frames kept, with the bars' level and the frame's flat edges.
    BorderResult Decide() const;

    // What one frame says of each line, as AddFrame records it.
    enum LineFlags : uint8_t {
        kContent = 1,     // at least half of the line's samples are bright
        kEdgeBefore = 2,  // content stops sharply here toward lower lines (top / left)
        kEdgeAfter = 4,   // content stops sharply here toward higher lines (bottom / right)
        kDark = 8,        // at most an eighth of the line's samples are bright
    };
    // Flags of the frames that voted, in order: rows then columns, height + width bytes each.
    const std::vector<uint8_t>& Flags() const { return flags_; }
    FlagWindow Window() const;
    // One frame's flags of `lines` lines from their bright samples, `samples` read of each.
    static void Classify(const int32_t* count, int32_t lines, int32_t samples, uint8_t* flags);

private:
    // rowAt(y): row y (top-down) of the frame; lumaAt(row, x): pixel x's luma.
    template <class RowAt, class LumaAt>
    bool Sample(RowAt rowAt, LumaAt lumaAt, uint8_t* flags);
    template <class SampleInto>
    void Add(SampleInto sample);
    int32_t BarLevel(const Rect& picture) const;
    void FindFlatEdges(BorderResult& r) const;

    FrameGeometry g_;
    int32_t black_;
    std::vector<uint8_t> flags_;           // per frame with content: height + width flags
    int32_t rowSamples_ = 0, columnSamples_ = 0;          // samples read of each row, column
    std::vector<int32_t> brightInRow_;                    // bright samples, in the current frame
    std::vector<int32_t> brightInColumn_, brightInPictureColumn_;  // of rows without, with content
    std::vector<int64_t> lumaSum_, lumaCount_;     // per line, over every frame: dark samples
    long long sampled_ = 0;
    // Each side's outermost line inside the overscan (left, top, right, bottom): its mean
    // luma in the current frame when flat, else -1; over the frames that voted, how many
    // found it flat and the range and sum of its levels.
    int32_t edgeLevel_[4] = {-1, -1, -1, -1};
    long long voted_ = 0, flatFrames_[4] = {0, 0, 0, 0}, flatSum_[4] = {0, 0, 0, 0};
    int32_t flatLow_[4] = {255, 255, 255, 255}, flatHigh_[4] = {0, 0, 0, 0};
};

}  // namespace kvx
