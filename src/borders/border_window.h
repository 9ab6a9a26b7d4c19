// The border analysis over a sliding window of recent frames, for the live fit. The frames
// LineSampler judged are kept in a ring with running counts per line. Decide() judges them
// with --detect's rules as they stood for one format, without allocating: the picture is
// the longest band of lines with content in most frames, and a side's border is taken only
// with a sharp edge in a tenth of the frames, the lines just beyond it black in nine of ten
// and no band with content beyond it. DecideAsDetect() hands the same frames to --detect's
// own DecideBorders, which also joins a picture dark across its middle; the live fit changes
// only where both agree. Sized once; adding a frame and Decide() allocate nothing.
#pragma once
#include <cstdint>
#include <vector>

#include "borders/border_detect.h"
#include "platform/geometry.h"

namespace kvx {

// Sides of a rectangle as bits, in the order of BorderResult::evidence.
enum SideBits : uint8_t { kLeftSide = 1, kTopSide = 2, kRightSide = 4, kBottomSide = 8 };

struct WindowDecision {
    BorderVerdict verdict = BorderVerdict::NoContent;  // NoContent, NoBorder, Found or NotSure
    Rect picture{0, 0, 0, 0};
    uint8_t overlays = 0;  // Found: the sides whose bar shows text or a logo in some frame
};

// What a frame shows beyond a rectangle: the sides, and whether any is picture (rather than
// text or a logo over a bar).
struct Intrusion {
    uint8_t sides = 0;
    bool content = false;
};

class BorderWindow {
public:
    // Room for `capacity` frames of width x height (allocates); false when the memory
    // cannot be had.
    bool Configure(int32_t width, int32_t height, int32_t capacity);
    // Forgets every frame.
    void Clear();
    // Frame number `frame`'s line flags (LineSampler::Flags, rows then columns) and whether
    // it votes; the oldest frame kept gives way when the ring is full.
    void Add(const uint8_t* flags, bool votes, long long frame);
    long long Voting() const { return voting_; }

    WindowDecision Decide() const;
    // The voting frames judged by --detect's own function, DecideBorders, which the live fit
    // asks to confirm a change. It allocates: not for every frame.
    BorderResult DecideAsDetect();

    // What `flags` show beyond `shown` where a bar should be: content past the line next to
    // its edge, or light (text, a logo) in two lines past the first two. The outermost
    // overscan lines of the frame are not looked at.
    Intrusion Beyond(const uint8_t* flags, const Rect& shown) const;
    // The first frame of the newest unbroken run of voting frames that show nothing beyond
    // `shown`; -1 when the newest voting frame does, or no frame votes.
    long long HeldSince(const Rect& shown) const;

private:
    struct Side;
    long long EdgeFrames(size_t offset, int32_t length, int32_t line, uint8_t edge) const;
    void JudgeAxis(size_t offset, int32_t length, Side& before, Side& after, int32_t& begin, int32_t& end) const;
    void JudgeSide(size_t offset, int32_t length, int32_t edge, int32_t dir, Side& side) const;
    bool HasOverlay(size_t offset, int32_t length, int32_t edge, int32_t dir, int32_t border) const;
    const uint8_t* Slot(size_t slot) const { return &kept_[slot * lines_]; }

    int32_t width_ = 0, height_ = 0;
    size_t lines_ = 0, capacity_ = 0, size_ = 0, next_ = 0;  // next_: the slot written next
    std::vector<uint8_t> kept_;   // capacity_ frames of lines_ flags
    std::vector<uint8_t> voters_;  // the voting frames of kept_, oldest first, for DecideAsDetect
    std::vector<long long> frames_;
    std::vector<uint8_t> votes_;
    std::vector<uint16_t> content_;  // per line: the voting frames kept in which it has content
    long long voting_ = 0;
};

}  // namespace kvx
