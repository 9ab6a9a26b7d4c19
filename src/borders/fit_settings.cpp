#include "borders/fit_settings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "host/target_rect.h"
#include "video/scale_steps.h"

namespace kvx {

namespace {

// Scales tried, in thousandths: up to four times, far beyond any cut we accept.
constexpr int32_t kMaxScale = 4000;
// Offsets tried around the one that centres the picture, in thousandths.
constexpr int32_t kOffsetWindow = 30;

// The source lines the plug-in resamples onto the frame's first and last line of one axis.
struct Shown {
    bool covers = false;  // the target reaches past both ends of the frame
    int32_t first = 0, last = 0;
};

// Tap of destination element `index`: first source element and whether a second is blended.
void Tap(int32_t sourceLength, int32_t destinationLength, int32_t index, int32_t& element,
         bool& second) {
    ScaleStep step{};
    BuildScaleSteps(sourceLength, destinationLength, index, 1, 1, &step);
    element = step.advance;  // from position 0 with a step of 1: the element itself
    second = step.neighbour != 0;
}

// As the scaler maps the whole frame [0, length) onto the target [lo, hi). Field by field,
// the target's ends are made even and every table entry gives a row of each field.
Shown EdgeSamples(int32_t length, int32_t lo, int32_t hi, bool interlaced) {
    Shown s;
    int32_t element = 0;
    bool second = false;
    if (interlaced && length >= 2) {
        lo &= ~1;
        hi &= ~1;
        if (lo > 0 || hi < length) return s;
        const int32_t fieldSource = (length & ~1) / 2, fieldTarget = (hi - lo) / 2;
        Tap(fieldSource, fieldTarget, -lo / 2, element, second);
        s.first = 2 * element;  // frame line 0; line 1 takes the row below it
        s.last = 0;
        for (int32_t line = length - 2; line < length; ++line) {
            const int32_t relative = line - lo;
            Tap(fieldSource, fieldTarget, relative / 2, element, second);
            s.last = std::max(s.last, 2 * (element + (second ? 1 : 0)) + (relative & 1));
        }
    } else {
        if (lo > 0 || hi < length) return s;
        Tap(length, hi - lo, -lo, element, second);
        s.first = element;
        Tap(length, hi - lo, length - 1 - lo, element, second);
        s.last = element + (second ? 1 : 0);
    }
    s.covers = true;
    return s;
}

// One axis of the frame with the picture's extent [begin, end) on it.
struct Axis {
    int32_t width, height;
    bool vertical, interlaced;
    int32_t begin, end;

    int32_t Length() const { return vertical ? height : width; }

    Shown Show(int32_t scale, int32_t offset) const {
        ChannelProfile p = kBuiltInProfile;
        (vertical ? p.scaleY : p.scaleX) = scale;
        (vertical ? p.offsetY : p.offsetX) = offset;
        const Rect t = TargetRect(width, height, p);
        return vertical ? EdgeSamples(height, t.top, t.bottom, interlaced)
                        : EdgeSamples(width, t.left, t.right, false);
    }

    bool ShowsOnlyPicture(const Shown& s) const {
        return s.covers && s.first >= begin && s.last <= end - 1;
    }

    // The offset at `scale` whose picture covers the frame with its excess cut most evenly,
    // or false when no offset covers it.
    bool BestOffset(int32_t scale, int32_t& offset, Shown& shown) const {
        const int32_t length = Length();
        // Where the picture's centre lands with no offset, and the shift that centres it.
        ChannelProfile p = kBuiltInProfile;
        (vertical ? p.scaleY : p.scaleX) = scale;
        const Rect t = TargetRect(width, height, p);
        const double lo = vertical ? t.top : t.left, hi = vertical ? t.bottom : t.right;
        const double centre = lo + (begin + end) / 2.0 * (hi - lo) / length;
        const double shift = (length / 2.0 - centre) * 1000.0 / length;
        const int32_t ideal = static_cast<int32_t>(std::lround(vertical ? -shift : shift));
        bool found = false;
        int32_t bestImbalance = 0;
        for (int32_t o = ideal - kOffsetWindow; o <= ideal + kOffsetWindow; ++o) {
            const Shown s = Show(scale, o);
            if (!ShowsOnlyPicture(s)) continue;
            const int32_t imbalance = std::abs((s.first - begin) - (end - 1 - s.last));
            if (!found || imbalance < bestImbalance ||
                (imbalance == bestImbalance && std::abs(o - ideal) < std::abs(offset - ideal))) {
                found = true;
                bestImbalance = imbalance;
                offset = o;
                shown = s;
            }
        }
        return found;
    }

    // The smallest scale from `from` up at which some offset covers the frame.
    bool SmallestScale(int32_t from, int32_t& scale) const {
        int32_t offset = 0;
        Shown shown;
        for (scale = from; scale <= kMaxScale; ++scale)
            if (BestOffset(scale, offset, shown)) return true;
        return false;
    }
};

std::string Percent(int32_t lines, int32_t length) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %%", 100.0 * lines / length);
    return text;
}

}  // namespace

FitResult FitSettings(int32_t width, int32_t height, const Rect& picture, const FitRequest& request) {
    FitResult r;
    if (width <= 0 || height <= 0 || IsRectEmpty(picture) || picture.left < 0 || picture.top < 0 ||
        picture.right > width || picture.bottom > height) {
        r.refusal = "the picture rectangle does not lie inside the frame";
        return r;
    }
    const int32_t trimX = MulDiv(picture.right - picture.left, request.trim, 1000);
    const int32_t trimY = MulDiv(picture.bottom - picture.top, request.trim, 1000);
    const Rect p{picture.left + trimX, picture.top + trimY, picture.right - trimX,
                 picture.bottom - trimY};
    if (request.trim < 0 || p.right - p.left < 2 || p.bottom - p.top < 2) {
        r.refusal = "the trim leaves no picture";
        return r;
    }
    const Axis x{width, height, false, false, p.left, p.right};
    const Axis y{width, height, true, request.interlaced, p.top, p.bottom};

    bool found = x.SmallestScale(1000, r.scaleX) && y.SmallestScale(1000, r.scaleY);
    if (found && request.mode == FitMode::Aspect) {
        // One scale for both axes: the larger need, raised until both axes cover.
        int32_t scale = std::max(r.scaleX, r.scaleY), offset = 0;
        Shown shown;
        while (scale <= kMaxScale && !(x.BestOffset(scale, offset, shown) && y.BestOffset(scale, offset, shown)))
            ++scale;
        found = scale <= kMaxScale;
        r.scaleX = r.scaleY = scale;
    }
    Shown shownX, shownY;
    found = found && x.BestOffset(r.scaleX, r.offsetX, shownX) && y.BestOffset(r.scaleY, r.offsetY, shownY);
    if (!found) {
        r.refusal = "the picture is too small to fill the frame";
        return r;
    }
    r.keepAspect = request.mode == FitMode::Aspect;
    r.cut = Rect{shownX.first, shownY.first, width - 1 - shownX.last, height - 1 - shownY.last};

    struct Side {
        const char* name;
        int32_t lines, length;
    };
    const Side sides[] = {{"left", r.cut.left, width}, {"top", r.cut.top, height},
                          {"right", r.cut.right, width}, {"bottom", r.cut.bottom, height}};
    for (const Side& s : sides) {
        if (static_cast<int64_t>(s.lines) * 1000 > static_cast<int64_t>(request.maxCut) * s.length) {
            r.refusal = "the suggestion would cut " + std::to_string(s.lines) + " lines (" +
                        Percent(s.lines, s.length) + ") at the " + s.name + ", more than " +
                        Percent(request.maxCut, 1000);
            return r;
        }
    }
    r.ok = true;
    return r;
}

}  // namespace kvx
