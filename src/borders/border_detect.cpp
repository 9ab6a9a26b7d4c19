#include "borders/border_detect.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>

#include "borders/border_rules.h"

namespace kvx {

namespace {

// Pixels read along a line: every second one; on lines of 810 pixels and more every
// length/270-th, about 270 samples, plenty to tell whether half of the line is bright.
int32_t SampleStep(int32_t length) { return std::max(2, length / 270); }
// Edges this many lines apart are alike: noise and compression move an edge by a line or
// two, and a letterbox's two bars may differ by as much.
constexpr int32_t kAlikeLines = 4;
// A line whose samples all lie within this range of luma is flat (a bar, with its noise).
constexpr int32_t kFlatRange = 16;
// Flat edges up to this luma may be bars (dark grey, dark blue); brighter ones are picture.
constexpr int32_t kBrightestBar = 80;

bool NearlyAlways(long long count, long long n) { return 10 * count >= 9 * n; }
bool Sure(const BorderResult& b) { return b.verdict == BorderVerdict::Found || b.verdict == BorderVerdict::NoBorder; }

std::string LineName(bool rows, int32_t line) { return (rows ? "row " : "column ") + std::to_string(line); }

// One side of one axis, judged over the frames: its border (lines from that side) or why not.
struct Side {
    explicit Side(const char* n) : name(n) {}
    const char* name;
    int32_t border = 0;
    bool unsure = false;
    long long evidence = 0;
    std::string reason;
};

// One axis of a series of frames: frame f's line l is at window.Frame(f)[offset + l].
struct Axis {
    const FlagWindow& window;
    size_t offset;
    int32_t length;
    bool rows;

    long long Frames() const { return window.frames; }
    const uint8_t* Lines(long long f) const { return window.Frame(f) + offset; }

    // Per line: the frames in which it has content.
    std::vector<long long> ContentCounts() const {
        std::vector<long long> content(length, 0);
        for (long long f = 0; f < Frames(); ++f) {
            const uint8_t* lines = Lines(f);
            for (int32_t l = 0; l < length; ++l) content[l] += lines[l] & BorderDetector::kContent;
        }
        return content;
    }

    // Frames in which content stops sharply (`edgeFlag`) at `line`, or one line either way
    // for compression ringing.
    long long EdgeFrames(int32_t line, uint8_t edgeFlag) const {
        long long count = 0;
        for (long long f = 0; f < Frames(); ++f) {
            const uint8_t* lines = Lines(f);
            bool edge = false;
            for (int32_t l = std::max(line - 1, 0); l <= std::min(line + 1, length - 1); ++l)
                edge = edge || (lines[l] & edgeFlag);
            count += edge;
        }
        return count;
    }
};

// A run [begin, end) of lines.
struct Band {
    int32_t begin = 0, end = 0;
    int32_t Lines() const { return end - begin; }
};

// The runs of lines with content in most of the n frames, in order.
std::vector<Band> ContentBands(const std::vector<long long>& content, long long n) {
    std::vector<Band> bands;
    const int32_t length = static_cast<int32_t>(content.size());
    for (int32_t l = 0; l < length; ++l) {
        if (!Majority(content[l], n)) continue;
        if (bands.empty() || bands.back().end < l) bands.push_back({l, l});
        bands.back().end = l + 1;
    }
    return bands;
}

// The picture's band: the longest run of lines with content in most frames, joined across
// the dark lines to a run beyond while that run is at least an eighth of the lines joined (a
// dark band across the picture: a dark middle, a black horizon). A thinner run beyond dark
// lines (a ticker, subtitles in a bar) stays apart, as do noisy lines in the overscan. The
// runs stay apart too unless the picture so joined lies evenly in the frame, its bars alike
// as a letterbox's are: a picture dark across part of it may be dark at its edge as well.
// `joined`: the dark runs taken into the picture.
Band PictureBand(const std::vector<Band>& bands, int32_t length, std::vector<Band>& joined) {
    size_t longest = 0;
    for (size_t i = 1; i < bands.size(); ++i)
        if (bands[i].Lines() > bands[longest].Lines()) longest = i;
    size_t first = longest, last = longest;
    const int32_t overscan = OverscanLines(length);
    auto joins = [&](const Band& beyond, int32_t begin, int32_t end) {
        const bool inOverscan = beyond.end <= overscan || beyond.begin >= length - overscan;
        return !inOverscan && 8 * beyond.Lines() >= end - begin;
    };
    for (bool grew = true; grew;) {
        grew = false;
        if (first > 0 && joins(bands[first - 1], bands[first - 1].begin, bands[last].end)) --first, grew = true;
        if (last + 1 < bands.size() && joins(bands[last + 1], bands[first].begin, bands[last + 1].end))
            ++last, grew = true;
    }
    const Band picture{bands[first].begin, bands[last].end};
    if (std::abs(picture.begin - (length - picture.end)) > kAlikeLines) return bands[longest];
    for (size_t i = first; i < last; ++i) joined.push_back({bands[i].end, bands[i + 1].begin});
    return picture;
}

// Why a side's edge line is sharp in too few frames: a line just beyond it partly bright in
// most frames (an overlay across the edge, or picture dark only in part), or dark picture.
std::string UnsharpEdge(const Axis& axis, int32_t edgeLine, int32_t dir) {
    const long long n = axis.Frames();
    for (int32_t i = 1; i <= 2; ++i) {
        const int32_t l = edgeLine + dir * i;
        if (l < 0 || l >= axis.length) break;
        long long partly = 0;
        for (long long f = 0; f < n; ++f) partly += !(axis.Lines(f)[l] & BorderDetector::kDark);
        if (Majority(partly, n))
            return LineName(axis.rows, l) + " just beyond it is partly bright in " + std::to_string(partly) +
                   " frames: an overlay across the edge (a score box), or picture dark only in part?";
    }
    return "dark picture, not a bar?";
}

// The side of the band whose edge line is `edgeLine`, `border` lines from the frame's edge in
// direction `dir` (-1: top/left, +1: bottom/right): a border only with evidence of the edge.
void JudgeSide(const Axis& axis, const std::vector<long long>& content, int32_t edgeLine, int32_t dir,
               int32_t border, Side& s) {
    s.border = border;
    if (border == 0) return;
    const long long n = axis.Frames();
    const int32_t overscan = OverscanLines(axis.length);
    // No line with content in most frames beyond the edge, but for noisy overscan lines.
    for (int32_t i = 1; i <= border - overscan; ++i) {
        const int32_t l = edgeLine + dir * i;
        if (Majority(content[l], n)) {
            s.unsure = true;
            s.reason = LineName(axis.rows, l) + ", beyond the picture's " + s.name + " edge, has content in most frames";
            return;
        }
    }
    // The gap: the lines just beyond the edge are black in nine frames of ten.
    for (int32_t i = 1; i <= std::min(border, kGapLines); ++i) {
        const int32_t l = edgeLine + dir * i;
        if (!NearlyNever(content[l], n)) {
            s.unsure = true;
            s.reason = LineName(axis.rows, l) + ", just beyond the picture's " + s.name + " edge (" +
                       LineName(axis.rows, edgeLine) + "), has content in " + std::to_string(content[l] * 100 / n) +
                       " % of the frames: dark picture, not a bar?";
            return;
        }
    }
    // Evidence: content that stops sharply at the edge line in a tenth of the frames.
    s.evidence = axis.EdgeFrames(edgeLine, dir < 0 ? BorderDetector::kEdgeBefore : BorderDetector::kEdgeAfter);
    if (10 * s.evidence < n || s.evidence == 0) {
        s.unsure = true;
        s.reason = "the picture's " + std::string(s.name) + " edge (" + LineName(axis.rows, edgeLine) +
                   ") is sharp in only " + std::to_string(s.evidence) + " of " + std::to_string(n) +
                   " frames: " + UnsharpEdge(axis, edgeLine, dir);
    }
}

// One axis: the picture's band [begin, end) and its two sides; `notes` gets the dark bands
// taken into the picture.
void JudgeAxis(const Axis& axis, Side& before, Side& after, int32_t& begin, int32_t& end,
               std::vector<std::string>& notes) {
    const std::vector<long long> content = axis.ContentCounts();
    const std::vector<Band> bands = ContentBands(content, axis.Frames());
    if (bands.empty()) {
        before.unsure = true;
        before.reason = std::string("no ") + (axis.rows ? "row" : "column") + " has picture content in most frames";
        begin = 0, end = axis.length;
        return;
    }
    std::vector<Band> joined;
    const Band picture = PictureBand(bands, axis.length, joined);
    begin = picture.begin, end = picture.end;
    for (const Band& dark : joined)
        notes.push_back(std::string(axis.rows ? "rows " : "columns ") + std::to_string(dark.begin) + " to " +
                        std::to_string(dark.end - 1) + ", dark in most frames, lie between parts of the picture: "
                        "taken as a dark band across it");
    JudgeSide(axis, content, begin, -1, begin, before);
    JudgeSide(axis, content, end - 1, +1, axis.length - end, after);
}

// How many lines of a frame agree with picture `p`: lines inside it with content, lines
// outside it without.
long long Agreement(const uint8_t* flags, int32_t width, int32_t height, const Rect& p) {
    long long agree = 0;
    auto count = [&](const uint8_t* lines, int32_t length, int32_t from, int32_t to) {
        for (int32_t l = 0; l < length; ++l) agree += ((lines[l] & BorderDetector::kContent) != 0) == (l >= from && l < to);
    };
    count(flags, height, p.top, p.bottom);
    count(flags + height, width, p.left, p.right);
    return agree;
}

bool SameFormat(const Rect& a, const Rect& b) {
    return std::abs(a.left - b.left) <= kAlikeLines && std::abs(a.top - b.top) <= kAlikeLines &&
           std::abs(a.right - b.right) <= kAlikeLines && std::abs(a.bottom - b.bottom) <= kAlikeLines;
}

// A run of frames of one format: the candidate picture its frames agree with.
struct Run {
    long long first, count;
    size_t candidate;
};

// The runs of frames that agree most with one candidate picture each, in time order. A run
// too short to be a format (a dark scene, a flash) joins the longer run beside it: one at
// either end of the series needs `fewest` frames (it may have begun before the recording or
// go on after it), one between two others twice as many.
std::vector<Run> CandidateRuns(const FlagWindow& w, const std::vector<Rect>& candidates, long long fewest) {
    std::vector<Run> runs;
    for (long long f = 0; f < w.frames; ++f) {
        // A tie stays with the run before.
        size_t best = runs.empty() ? 0 : runs.back().candidate;
        long long bestAgree = Agreement(w.Frame(f), w.width, w.height, candidates[best]);
        for (size_t c = 0; c < candidates.size(); ++c) {
            const long long agree = Agreement(w.Frame(f), w.width, w.height, candidates[c]);
            if (agree > bestAgree) best = c, bestAgree = agree;
        }
        if (runs.empty() || runs.back().candidate != best) runs.push_back({f, 0, best});
        ++runs.back().count;
    }
    for (;;) {
        size_t shortest = runs.size();
        for (size_t i = 0; i < runs.size() && runs.size() > 1; ++i) {
            const long long least = i == 0 || i + 1 == runs.size() ? fewest : 2 * fewest;
            if (runs[i].count < least && (shortest == runs.size() || runs[i].count < runs[shortest].count)) shortest = i;
        }
        if (shortest == runs.size()) return runs;
        const bool intoBefore =
            shortest + 1 == runs.size() || (shortest > 0 && runs[shortest - 1].count >= runs[shortest + 1].count);
        const size_t into = intoBefore ? shortest - 1 : shortest + 1;
        runs[into].first = std::min(runs[into].first, runs[shortest].first);
        runs[into].count += runs[shortest].count;
        runs.erase(runs.begin() + static_cast<std::ptrdiff_t>(shortest));
        // Runs of one candidate that now meet are one.
        for (size_t i = 1; i < runs.size();) {
            if (runs[i].candidate != runs[i - 1].candidate) {
                ++i;
                continue;
            }
            runs[i - 1].count += runs[i].count;
            runs.erase(runs.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
}

// The formats of a series whose picture changes, in time order; none when it does not. The
// candidate pictures are those of the sure runs of `fewest` frames; each frame goes to the
// candidate its lines agree with most, and every run of frames so formed must be sure of
// its candidate's picture over its own frames, and unlike the run before.
std::vector<FormatPart> Formats(const FlagWindow& w) {
    const long long n = w.frames, fewest = std::max<long long>(2, n / 20);
    std::vector<Rect> candidates;
    for (long long k = 0; k + fewest <= n; k += std::max<long long>(1, fewest / 2)) {
        const BorderResult b = DecideBorders(w.Part(k, fewest));
        if (!Sure(b)) continue;
        bool known = false;
        for (const Rect& c : candidates) known = known || SameFormat(c, b.picture);
        if (!known) candidates.push_back(b.picture);
    }
    if (candidates.size() < 2) return {};
    const std::vector<Run> runs = CandidateRuns(w, candidates, fewest);
    if (runs.size() < 2) return {};
    std::vector<FormatPart> formats;
    for (const Run& run : runs) {
        FormatPart part{DecideBorders(w.Part(run.first, run.count)), run.first};
        if (!Sure(part.border) || !SameFormat(part.border.picture, candidates[run.candidate])) return {};
        if (!formats.empty() && SameFormat(formats.back().border.picture, part.border.picture)) return {};
        formats.push_back(part);
    }
    return formats;
}

// "after 4", "after 15 and 35": the first frames of the formats after the first.
std::string ChangePoints(const std::vector<FormatPart>& formats) {
    std::string text = "after ";
    for (size_t i = 1; i < formats.size(); ++i)
        text += (i == 1 ? "" : i + 1 == formats.size() ? " and " : ", ") + std::to_string(formats[i].firstFrame);
    return text;
}

}  // namespace

BorderResult DecideBorders(const FlagWindow& window) {
    BorderResult r;
    r.framesWithContent = window.frames;
    if (!window.flags || window.frames <= 0 || window.capacity < window.frames || window.width <= 0 ||
        window.height <= 0)
        return r;
    Side left("left"), top("top"), right("right"), bottom("bottom");
    std::vector<std::string> notes;
    JudgeAxis({window, 0, window.height, true}, top, bottom, r.picture.top, r.picture.bottom, notes);
    JudgeAxis({window, static_cast<size_t>(window.height), window.width, false}, left, right, r.picture.left,
              r.picture.right, notes);
    const Side* sides[] = {&left, &top, &right, &bottom};
    bool unsure = false, border = false;
    for (int i = 0; i < 4; ++i) {
        r.evidence[i] = sides[i]->evidence;
        if (sides[i]->unsure) {
            unsure = true;
            if (!sides[i]->reason.empty()) r.reasons.push_back(sides[i]->reason);
        }
        border = border || sides[i]->border > 0;
    }
    r.verdict = unsure ? BorderVerdict::NotSure : border ? BorderVerdict::Found : BorderVerdict::NoBorder;
    r.reasons.insert(r.reasons.end(), notes.begin(), notes.end());
    return r;
}

BorderResult DecideFormats(const FlagWindow& window) {
    BorderResult r = DecideBorders(window);
    // A second format in a minority of the frames can leave the whole sure: always looked for.
    if (r.verdict == BorderVerdict::NoContent) return r;
    std::vector<FormatPart> formats = Formats(window);
    if (formats.size() < 2) return r;
    r.verdict = BorderVerdict::FormatChange;
    r.reasons = {"the picture changes " + ChangePoints(formats) + " of " + std::to_string(window.frames) + " frames"};
    r.formats = std::move(formats);
    return r;
}

BorderDetector::BorderDetector(const FrameGeometry& g, int32_t black) : g_(g), black_(black) {
    const int32_t w = std::max(g.width, 0), h = std::max(g.height, 0);
    const int32_t rowSamples = (w - 2 * OverscanLines(w) + SampleStep(w) - 1) / SampleStep(w);
    const int32_t columnSamples = (h - 2 * OverscanLines(h) + SampleStep(h) - 1) / SampleStep(h);
    rowSamples_ = std::max(rowSamples, 0);
    columnSamples_ = std::max(columnSamples, 0);
    brightInRow_.resize(h);
    brightInColumn_.resize(w);
    brightInPictureColumn_.resize(w);
    lumaSum_.assign(static_cast<size_t>(h) + w, 0);
    lumaCount_.assign(static_cast<size_t>(h) + w, 0);
}

// count: the bright samples of each of `lines` lines, of `samples` each. Sets each line's flags.
void BorderDetector::Classify(const int32_t* count, int32_t lines, int32_t samples, uint8_t* flags) {
    // Nearly dark: at most an eighth bright (a logo, noise).
    for (int32_t l = 0; l < lines; ++l)
        flags[l] = (HasContent(count[l], samples) ? kContent : 0) | (NearlyDark(count[l], samples) ? kDark : 0);
    // Content that stops at line l: the two lines beyond it nearly dark. Half of l bright and
    // at most a quarter beyond: the content stops there over at least a quarter of the width.
    for (int32_t l = 0; l < lines; ++l) {
        if (!(flags[l] & kContent)) continue;
        if (l >= 2 && (flags[l - 1] & kDark) && (flags[l - 2] & kDark)) flags[l] |= kEdgeBefore;
        if (l + 2 < lines && (flags[l + 1] & kDark) && (flags[l + 2] & kDark)) flags[l] |= kEdgeAfter;
    }
}

bool BorderDetector::FlagFrame(const uint8_t* frame, uint8_t* flags) {
    const int32_t w = g_.width, h = g_.height, bpp = g_.BytesPerPixel();
    const HostFormat format = g_.format;
    // Row y counted from the top: bgr24 frames lie bottom-up in memory.
    auto rowAt = [=](int32_t y) {
        return frame + static_cast<size_t>(format == HostFormat::Yuyv ? y : h - 1 - y) * w * bpp;
    };
    return Sample(rowAt, [=](const uint8_t* row, int32_t x) { return Luma(row + static_cast<size_t>(x) * bpp, format); },
                  flags);
}

void BorderDetector::AddFrame(const uint8_t* frame) {
    Add([&](uint8_t* flags) { return FlagFrame(frame, flags); });
}

void BorderDetector::AddLuma(const uint8_t* plane) {
    const int32_t w = g_.width;
    Add([&](uint8_t* flags) {
        return Sample([=](int32_t y) { return plane + static_cast<size_t>(y) * w; },
                      [](const uint8_t* row, int32_t x) { return static_cast<int32_t>(row[x]); }, flags);
    });
}

// One frame sampled into the series: kept when it votes, with its flat edges counted.
template <class SampleInto>
void BorderDetector::Add(SampleInto sample) {
    ++sampled_;
    const size_t at = flags_.size();
    flags_.resize(at + static_cast<size_t>(std::max(g_.width, 0)) + std::max(g_.height, 0));
    if (!sample(flags_.data() + at)) {
        flags_.resize(at);
        return;
    }
    ++voted_;
    for (int i = 0; i < 4; ++i) {
        const int32_t level = edgeLevel_[i];
        if (level < 0) continue;
        ++flatFrames_[i];
        flatSum_[i] += level;
        flatLow_[i] = std::min(flatLow_[i], level);
        flatHigh_[i] = std::max(flatHigh_[i], level);
    }
}

template <class RowAt, class LumaAt>
bool BorderDetector::Sample(RowAt rowAt, LumaAt lumaAt, uint8_t* flags) {
    const int32_t w = g_.width, h = g_.height;
    if (w <= 0 || h <= 0) return false;
    const int32_t mx = OverscanLines(w), my = OverscanLines(h);
    const int32_t rowSamples = rowSamples_, columnSamples = columnSamples_;
    const int32_t black = black_, stepX = SampleStep(w), stepY = SampleStep(h);
    // Rows: every stepX-th pixel inside the side margins.
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* p = rowAt(y);
        int32_t bright = 0;
        int64_t sum = 0, dark = 0;
        for (int32_t i = 0; i < rowSamples; ++i) {
            const int32_t v = lumaAt(p, mx + i * stepX);
            if (v >= black) {
                ++bright;
            } else {
                sum += v;
                ++dark;
            }
        }
        brightInRow_[y] = bright;
        lumaSum_[y] += sum;
        lumaCount_[y] += dark;
    }
    Classify(brightInRow_.data(), h, rowSamples, flags);
    int32_t firstContent = h, lastContent = -1;
    for (int32_t y = 0; y < h; ++y)
        if (flags[y] & kContent) firstContent = std::min(firstContent, y), lastContent = y;
    // Columns: every pixel of every stepY-th row inside the top and bottom margins, the bright
    // ones of the rows with content counted apart.
    std::fill(brightInColumn_.begin(), brightInColumn_.end(), 0);
    std::fill(brightInPictureColumn_.begin(), brightInPictureColumn_.end(), 0);
    int32_t pictureSamples = 0;
    int64_t* const darkSum = lumaSum_.data() + h;
    int64_t* const darkCount = lumaCount_.data() + h;
    for (int32_t k = 0; k < columnSamples; ++k) {
        const int32_t y = my + k * stepY;
        const uint8_t* p = rowAt(y);
        const bool picture = flags[y] & kContent;
        pictureSamples += picture;
        int32_t* const bright = picture ? brightInPictureColumn_.data() : brightInColumn_.data();
        for (int32_t x = 0; x < w; ++x) {
            const int32_t v = lumaAt(p, x);
            if (v >= black) {
                ++bright[x];
            } else {
                darkSum[x] += v;
                ++darkCount[x];
            }
        }
    }
    for (int32_t x = 0; x < w; ++x) brightInColumn_[x] += brightInPictureColumn_[x];
    Classify(brightInColumn_.data(), w, columnSamples, flags + h);
    auto contentColumn = [&] {
        for (int32_t x = 0; x < w; ++x)
            if (flags[h + x] & kContent) return true;
        return false;
    };
    // No column with content over the whole height, but rows with content reaching over half
    // of it (a wide picture with a dark band across): the columns over those rows alone.
    if (!contentColumn() && 2 * (lastContent + 1 - firstContent) >= h && pictureSamples > 0)
        Classify(brightInPictureColumn_.data(), w, pictureSamples, flags + h);
    if (lastContent < 0 || !contentColumn()) return false;  // no picture content: no vote

    // Each side's outermost line inside the overscan (left, top, right, bottom): its mean
    // luma when its samples are flat, else -1.
    auto flatLevel = [](int32_t n, auto lumaOf) {
        int32_t low = 255, high = 0;
        int64_t sum = 0;
        for (int32_t i = 0; i < n; ++i) {
            const int32_t v = lumaOf(i);
            low = std::min(low, v), high = std::max(high, v), sum += v;
        }
        return n > 0 && high - low <= kFlatRange ? static_cast<int32_t>((sum + n / 2) / n) : -1;
    };
    for (int32_t side = 0; side < 4; ++side) {
        if (side % 2) {
            const uint8_t* p = rowAt(side == 1 ? my : h - 1 - my);
            edgeLevel_[side] = flatLevel(rowSamples, [&](int32_t i) { return lumaAt(p, mx + i * stepX); });
        } else {
            const int32_t x = side == 0 ? mx : w - 1 - mx;
            edgeLevel_[side] = flatLevel(columnSamples, [&](int32_t k) { return lumaAt(rowAt(my + k * stepY), x); });
        }
    }
    return true;
}

FlagWindow BorderDetector::Window() const {
    FlagWindow w{flags_.data(), std::max(g_.width, 0), std::max(g_.height, 0), 0, 0, 0};
    const size_t block = w.Block();
    w.frames = w.capacity = block ? static_cast<long long>(flags_.size() / block) : 0;
    return w;
}

void BorderDetector::KeepEveryOther() {
    const size_t block = Window().Block();
    if (block == 0) return;
    const size_t frames = flags_.size() / block;
    size_t kept = 0;
    for (size_t f = 0; f < frames; f += 2, ++kept)
        std::copy(flags_.begin() + f * block, flags_.begin() + (f + 1) * block, flags_.begin() + kept * block);
    flags_.resize(kept * block);
    sampled_ = (sampled_ + 1) / 2;
}

BorderResult BorderDetector::Decide() const {
    BorderResult r = DecideFormats(Window());
    r.framesSampled = sampled_;
    if (r.verdict == BorderVerdict::NoContent) return r;
    r.barLevel = BarLevel(r.picture);
    FindFlatEdges(r);
    return r;
}

// Two opposite edges of the frame flat in nine frames of ten, at one level that counts as
// picture but is dark enough for bars (grey, blue): no border is found there, and a --black
// above that level would find one. The answer is then not sure, with the level.
void BorderDetector::FindFlatEdges(BorderResult& r) const {
    if (r.verdict != BorderVerdict::NoBorder && r.verdict != BorderVerdict::NotSure) return;
    static const char* const kPairs[2] = {"left and right", "top and bottom"};
    for (int a = 0; a < 2; ++a) {
        const int b = a + 2;
        if (!NearlyAlways(flatFrames_[a], voted_) || !NearlyAlways(flatFrames_[b], voted_) || voted_ == 0) continue;
        const int32_t low = std::min(flatLow_[a], flatLow_[b]), high = std::max(flatHigh_[a], flatHigh_[b]);
        const int32_t level = static_cast<int32_t>((flatSum_[a] + flatSum_[b]) / (flatFrames_[a] + flatFrames_[b]));
        if (high - low > kFlatRange || low < black_ || level > kBrightestBar) continue;
        r.flatEdgeLevel = std::max(r.flatEdgeLevel, level);
        r.verdict = BorderVerdict::NotSure;
        r.reasons.push_back("the frame's " + std::string(kPairs[a]) + " edges are flat at Y " + std::to_string(level) +
                            " in nearly every frame, above the black level " + std::to_string(black_) +
                            ": bars of grey or colour?");
    }
}

// The dark samples of the lines outside `picture` that are black in nine frames of ten.
int32_t BorderDetector::BarLevel(const Rect& picture) const {
    const FlagWindow window = Window();
    const int32_t w = window.width, h = window.height;
    const long long n = window.frames;
    int64_t sum = 0, count = 0;
    auto addLines = [&](size_t offset, int32_t from, int32_t to) {
        for (int32_t l = from; l < to; ++l) {
            long long c = 0;
            for (long long f = 0; f < n; ++f) c += window.Frame(f)[offset + l] & kContent;
            if (!NearlyNever(c, n)) continue;
            sum += lumaSum_[offset + l];
            count += lumaCount_[offset + l];
        }
    };
    addLines(0, 0, picture.top);
    addLines(0, picture.bottom, h);
    addLines(h, 0, picture.left);
    addLines(h, picture.right, w);
    return count > 0 ? static_cast<int32_t>((sum + count / 2) / count) : -1;
}

}  // namespace kvx
