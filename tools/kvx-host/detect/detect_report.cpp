// The --detect report: the text printed for people and the JSON for scripts, and the notes
// on a result.
#include <string>
#include <vector>

#include "detect/detect_mode.h"
#include "settings/setting_list.h"

namespace kvx {

namespace {

const char* const kSideNames[4] = {"left", "top", "right", "bottom"};

const char* VerdictWord(const Detection& d) {
    switch (d.border.verdict) {
    case BorderVerdict::NoContent: return "no content";
    case BorderVerdict::NoBorder: return "no border";
    case BorderVerdict::NotSure: return "not sure";
    case BorderVerdict::Found: return d.fit.ok ? "found" : "refused";
    case BorderVerdict::FormatChange: return "format change";
    }
    return "not sure";
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') out += '\\', out += static_cast<char>(c);
        else if (c == '\n') out += "\\n";
        else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else out += static_cast<char>(c);
    }
    return out + "\"";
}

std::string JsonList(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + JsonString(items[i]);
    return out + "]";
}

std::string SideObject(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    return "{\"left\": " + std::to_string(left) + ", \"top\": " + std::to_string(top) + ", \"right\": " +
           std::to_string(right) + ", \"bottom\": " + std::to_string(bottom) + "}";
}

std::string OptionsText(const FitResult& fit) {
    std::string text;
    for (const SettingEdit& e : SuggestedEdits(fit)) {
        const SettingInfo& s = kSettingList[e.field];
        text += (text.empty() ? "" : " ") + std::string(s.option) + " " +
                (s.unit == SettingUnit::kSwitch ? (e.value ? "on" : "off") : PerMilleAsPercent(e.value));
    }
    return text;
}

}  // namespace

std::vector<std::string> DetectionNotes(const Detection& d) {
    std::vector<std::string> notes;
    // A --black that bars at `level` stay under, with their noise.
    auto blackAbove = [](int32_t level) { return std::to_string(level + 12); };
    if (d.border.flatEdgeLevel >= 0)
        notes.push_back("try --black " + blackAbove(d.border.flatEdgeLevel) + ": it counts the flat edges (Y " +
                        std::to_string(d.border.flatEdgeLevel) + ") as bars, not as picture");
    if (d.border.barLevel >= 0 && d.border.barLevel + 8 >= d.black)
        notes.push_back("the bars (Y " + std::to_string(d.border.barLevel) + ") are close to --black " +
                        std::to_string(d.black) + "; if they are not found whole, try --black " +
                        blackAbove(d.border.barLevel));
    if (!d.fit.ok) return notes;
    for (const SettingEdit& e : SuggestedEdits(d.fit)) {
        const SettingInfo& s = kSettingList[e.field];
        if (s.unit != SettingUnit::kPerMille || (e.value >= s.dialogLow && e.value <= s.dialogHigh)) continue;
        notes.push_back(std::string(s.key) + " " + PerMilleAsPercent(e.value) + " % is beyond the dialog's " +
                        PerMilleAsPercent(s.dialogLow) + " to " + PerMilleAsPercent(s.dialogHigh) +
                        " %: it shows the value, but the first click on its arrows jumps to the range end");
    }
    return notes;
}

namespace {

std::string RectText(const Rect& p, const FrameGeometry& g) {
    return "left " + std::to_string(p.left) + ", top " + std::to_string(p.top) + ", right " + std::to_string(p.right) +
           ", bottom " + std::to_string(p.bottom) + " (" + std::to_string(p.right - p.left) + "x" +
           std::to_string(p.bottom - p.top) + " of " + std::to_string(g.width) + "x" + std::to_string(g.height) + ")";
}

// "frames 21 to 50 of 50 (60 %)": part `i` of a format change.
std::string PartText(const BorderResult& whole, size_t i) {
    const long long n = whole.framesWithContent, first = whole.formats[i].firstFrame;
    const long long count = whole.formats[i].border.framesWithContent;
    return "frames " + std::to_string(first + 1) + " to " + std::to_string(first + count) + " of " + std::to_string(n) +
           " (" + std::to_string((count * 100 + n / 2) / n) + " %)";
}

std::string SettingsText(const Detection& d) {
    const FitResult& fit = d.fit;
    if (!fit.ok) return "no suggestion: " + fit.refusal + "; settings unchanged\n";
    const char* mode = d.request.mode == FitMode::Aspect ? "aspect" : "fill";
    std::string text = std::string("settings   ScaleX ") + PerMilleAsPercent(fit.scaleX) + " %, ScaleY " + PerMilleAsPercent(fit.scaleY) +
                       " %, OffsetX " + PerMilleAsPercent(fit.offsetX) + " %, OffsetY " + PerMilleAsPercent(fit.offsetY) +
                       " %, KeepAspect " + (fit.keepAspect ? "on" : "off") + " (--fit " + mode +
                       (d.request.trim ? ", --trim " + PerMilleAsPercent(d.request.trim) : std::string()) +
                       (d.request.interlaced ? ", field by field" : "") + ")\n";
    text += "cut        left " + std::to_string(fit.cut.left) + ", top " + std::to_string(fit.cut.top) +
            ", right " + std::to_string(fit.cut.right) + ", bottom " + std::to_string(fit.cut.bottom) +
            " lines of the frame\n";
    return text + "options    " + OptionsText(fit) + "\n";
}

std::string FormatChangeText(const Detection& d) {
    const BorderResult& b = d.border;
    std::string text;
    for (size_t i = 0; i < b.formats.size(); ++i) {
        const BorderResult& part = b.formats[i].border;
        text += "format " + std::to_string(i + 1) + "   " + PartText(b, i) + ": ";
        if (part.verdict == BorderVerdict::NoBorder) text += "no border\n";
        else if (!d.formatFits[i].ok) text += "picture " + RectText(part.picture, d.geometry) + "; no suggestion: " +
                                              d.formatFits[i].refusal + "\n";
        else text += "picture " + RectText(part.picture, d.geometry) + "; options " + OptionsText(d.formatFits[i]) + "\n";
    }
    for (const std::string& note : d.notes) text += "note       " + note + "\n";
    const std::string last = std::to_string(b.formats.size());
    return text + "not sure: " + b.reasons.front() + "; give " +
           (b.formats.size() == 2 ? "--take 1 or --take 2" : "--take N (1 to " + last + ")") +
           " for the settings of one format; settings unchanged\n";
}

}  // namespace

std::string DescribeDetection(const Detection& d) {
    const FrameGeometry& g = d.geometry;
    const BorderResult& border = d.border;
    const std::string frames = std::to_string(border.framesSampled) + " sampled frames, " +
                               std::to_string(border.framesWithContent) + " with picture content";
    if (border.verdict == BorderVerdict::NoContent)
        return "not sure: none of the " + std::to_string(border.framesSampled) +
               " sampled frames has a row and a column with most of it at or above --black " + std::to_string(d.black) +
               " (black, or dark all over: a night scene, credits); settings unchanged\n";
    std::string text = "frames     " + frames + "\n";
    if (d.taken)
        text += "format     " + std::to_string(d.taken) + " of " + std::to_string(d.formatFits.size()) + " (--take " +
                std::to_string(d.taken) + ")\n";
    if (border.verdict == BorderVerdict::FormatChange) return text + FormatChangeText(d);
    if (border.verdict == BorderVerdict::NoBorder) {
        text += "no border found; settings unchanged\n";
    } else {
        const Rect& p = border.picture;
        text += std::string(border.verdict == BorderVerdict::NotSure ? "band       " : "picture    ") + RectText(p, g) + "\n";
        text += "borders    left " + std::to_string(p.left) + ", top " + std::to_string(p.top) + ", right " +
                std::to_string(g.width - p.right) + ", bottom " + std::to_string(g.height - p.bottom) + "\n";
        if (border.verdict == BorderVerdict::Found) {
            text += "evidence  ";
            for (int i = 0; i < 4; ++i)
                if (border.evidence[i])
                    text += std::string(" ") + kSideNames[i] + " edge sharp in " + std::to_string(border.evidence[i]) +
                            " frames,";
            text.back() = '\n';
        }
        if (border.barLevel >= 0)
            text += "bars       Y " + std::to_string(border.barLevel) + " (--black " + std::to_string(d.black) + ")\n";
    }
    if (border.verdict != BorderVerdict::NotSure)  // notes on the picture found (a dark band across it)
        for (const std::string& note : border.reasons) text += "note       " + note + "\n";
    for (const std::string& note : d.notes) text += "note       " + note + "\n";
    if (border.verdict == BorderVerdict::NoBorder) return text;
    if (border.verdict == BorderVerdict::NotSure) {
        text += "not sure: ";
        for (size_t i = 0; i < border.reasons.size(); ++i) text += (i ? "; " : "") + border.reasons[i];
        return text + "; settings unchanged\n";
    }
    return text + SettingsText(d);
}

std::string DetectionJson(const Detection& d) {
    const BorderResult& b = d.border;
    const FrameGeometry& g = d.geometry;
    const bool picture = b.verdict != BorderVerdict::NoContent;
    std::vector<std::string> reasons = b.reasons;
    if (b.verdict == BorderVerdict::Found && !d.fit.ok) reasons.push_back(d.fit.refusal);
    std::string j = "{\n";
    j += "  \"verdict\": " + JsonString(VerdictWord(d)) + ",\n";
    j += "  \"exit_code\": " + std::to_string(d.ExitCode()) + ",\n";
    j += "  \"frame\": {\"width\": " + std::to_string(g.width) + ", \"height\": " + std::to_string(g.height) + "},\n";
    j += "  \"frames\": {\"sampled\": " + std::to_string(b.framesSampled) +
         ", \"with_content\": " + std::to_string(b.framesWithContent) + "},\n";
    const Rect& p = b.picture;
    j += "  \"picture\": " + (picture ? SideObject(p.left, p.top, p.right, p.bottom) : "null") + ",\n";
    j += "  \"borders\": " +
         (picture ? SideObject(p.left, p.top, g.width - p.right, g.height - p.bottom) : "null") + ",\n";
    j += "  \"confidence\": {\"sure\": " + std::string(b.verdict == BorderVerdict::NotSure ? "false" : "true") +
         ", \"edge_frames\": " + SideObject(static_cast<int32_t>(b.evidence[0]), static_cast<int32_t>(b.evidence[1]),
                                            static_cast<int32_t>(b.evidence[2]), static_cast<int32_t>(b.evidence[3])) +
         ", \"reasons\": " + JsonList(reasons) + "},\n";
    j += "  \"bar_level\": " + (b.barLevel >= 0 ? std::to_string(b.barLevel) : std::string("null")) +
         ", \"black\": " + std::to_string(d.black) + ",\n";
    if (d.fit.ok) {
        const FitResult& f = d.fit;
        j += "  \"settings\": {\"ScaleX\": " + PerMilleAsPercent(f.scaleX) + ", \"ScaleY\": " + PerMilleAsPercent(f.scaleY) +
             ", \"OffsetX\": " + PerMilleAsPercent(f.offsetX) + ", \"OffsetY\": " + PerMilleAsPercent(f.offsetY) +
             ", \"KeepAspect\": " + (f.keepAspect ? "true" : "false") + "},\n";
        j += "  \"cut\": " + SideObject(f.cut.left, f.cut.top, f.cut.right, f.cut.bottom) + ",\n";
        j += "  \"options\": " + JsonString(OptionsText(f)) + ",\n";
    } else {
        j += "  \"settings\": null,\n  \"cut\": null,\n  \"options\": null,\n";
    }
    j += "  \"formats\": [";
    for (size_t i = 0; i < b.formats.size(); ++i) {
        const BorderResult& part = b.formats[i].border;
        const Rect& q = part.picture;
        j += std::string(i ? ", " : "") + "{\"first_frame\": " + std::to_string(b.formats[i].firstFrame) +
             ", \"frames\": " + std::to_string(part.framesWithContent) + ", \"verdict\": " +
             JsonString(part.verdict == BorderVerdict::NoBorder ? "no border" : "found") + ", \"picture\": " +
             SideObject(q.left, q.top, q.right, q.bottom) + ", \"options\": " +
             (d.formatFits[i].ok ? JsonString(OptionsText(d.formatFits[i])) : std::string("null")) + "}";
    }
    j += "], \"taken\": " + (d.taken ? std::to_string(d.taken) : std::string("null")) + ",\n";
    j += "  \"notes\": " + JsonList(d.notes) + ",\n";
    j += "  \"saved\": " + (d.saved.empty() ? std::string("null") : JsonString(d.saved)) + "\n}\n";
    return j;
}

}  // namespace kvx
