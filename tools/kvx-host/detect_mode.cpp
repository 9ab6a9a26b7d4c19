#include "detect_mode.h"

#include <cstdio>

#include "progress_line.h"

namespace kvx {

namespace {

// Frames analysed of a long input: about ten seconds of television, spread evenly.
constexpr long long kSampledFrames = 250;

std::string Tenths(int32_t thousandths) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", thousandths / 10.0);
    return text;
}

}  // namespace

bool SampleBorders(FrameSource& source, const FrameGeometry& g, bool progress, BorderSample& sample,
                   std::string& error) {
    BorderDetector detector(g);
    const long long length = source.Length();
    ProgressLine line(progress, length);
    std::vector<uint8_t> frame(g.FrameBytes());
    // Known length: frame k * length / kSampledFrames for every k. Unknown length: every
    // stride-th frame, the stride doubling (and every other frame forgotten) whenever twice
    // the wanted number have been kept, so the frames kept stay evenly spread.
    long long index = 0, nextSampled = 0, stride = 1, k = 0;
    for (;; ++index) {
        const FrameSource::Result got = source.Next(frame, error);
        if (got == FrameSource::Result::Error) return false;
        if (got == FrameSource::Result::End) break;
        line.Update(index + 1);
        bool analyse;
        if (length > kSampledFrames) {
            analyse = index == nextSampled;
            if (analyse) nextSampled = ++k * length / kSampledFrames;
        } else {
            analyse = length >= 0 || index % stride == 0;
        }
        if (!analyse) continue;
        detector.AddFrame(frame.data());
        sample.lastFrame = frame;
        if (length < 0 && detector.FramesSampled() >= 2 * kSampledFrames) {
            detector.KeepEveryOther();
            stride *= 2;
        }
    }
    line.Finish(index);
    if (index == 0) {
        error = "the input holds no whole frame: are --size " + std::to_string(g.width) + "x" +
                std::to_string(g.height) + " and --format right?";
        return false;
    }
    sample.border = detector.Decide();
    return true;
}

std::vector<SettingEdit> SuggestedEdits(const FitResult& fit) {
    return {{SettingEdit::ScaleX, fit.scaleX},   {SettingEdit::ScaleY, fit.scaleY},
            {SettingEdit::OffsetX, fit.offsetX}, {SettingEdit::OffsetY, fit.offsetY},
            {SettingEdit::KeepAspect, fit.keepAspect ? 1 : 0}};
}

std::string DescribeDetection(const FrameGeometry& g, const BorderResult& border, const FitRequest& request,
                              const FitResult& fit) {
    const std::string frames = std::to_string(border.framesSampled) + " sampled frames, " +
                               std::to_string(border.framesWithContent) + " with picture content";
    if (border.verdict == BorderVerdict::NoContent)
        return "no border found: no picture content in the " + std::to_string(border.framesSampled) +
               " sampled frames (all black); settings unchanged\n";
    if (border.verdict == BorderVerdict::NoBorder)
        return "no border found (" + frames + "); settings unchanged\n";
    const Rect& p = border.picture;
    std::string text = "frames     " + frames + "\n";
    text += "picture    left " + std::to_string(p.left) + ", top " + std::to_string(p.top) + ", right " +
            std::to_string(p.right) + ", bottom " + std::to_string(p.bottom) + " (" +
            std::to_string(p.right - p.left) + "x" + std::to_string(p.bottom - p.top) + " of " +
            std::to_string(g.width) + "x" + std::to_string(g.height) + ")\n";
    text += "borders    left " + std::to_string(p.left) + ", top " + std::to_string(p.top) + ", right " +
            std::to_string(g.width - p.right) + ", bottom " + std::to_string(g.height - p.bottom) + "\n";
    if (!fit.ok) return text + "no suggestion: " + fit.refusal + "; settings unchanged\n";
    const char* mode = request.mode == FitMode::Aspect ? "aspect" : "fill";
    text += std::string("settings   ScaleX ") + Tenths(fit.scaleX) + " %, ScaleY " + Tenths(fit.scaleY) +
            " %, OffsetX " + Tenths(fit.offsetX) + " %, OffsetY " + Tenths(fit.offsetY) +
            " %, KeepAspect " + (fit.keepAspect ? "on" : "off") + " (--fit " + mode +
            (request.trim ? ", --trim " + Tenths(request.trim) : std::string()) +
            (request.interlaced ? ", field by field" : "") + ")\n";
    text += "cut        left " + std::to_string(fit.cut.left) + ", top " + std::to_string(fit.cut.top) +
            ", right " + std::to_string(fit.cut.right) + ", bottom " + std::to_string(fit.cut.bottom) +
            " lines of the frame\n";
    text += "options    --scale-x " + Tenths(fit.scaleX) + " --scale-y " + Tenths(fit.scaleY) +
            " --offset-x " + Tenths(fit.offsetX) + " --offset-y " + Tenths(fit.offsetY) +
            " --keep-aspect " + (fit.keepAspect ? "on" : "off") + "\n";
    return text;
}

}  // namespace kvx
