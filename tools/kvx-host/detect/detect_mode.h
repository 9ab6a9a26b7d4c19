// kvx-host --detect: finds the picture inside the black borders of an input and suggests the
// settings that make it fill the frame.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "borders/border_detect.h"
#include "borders/fit_settings.h"
#include "frames/frame_source.h"
#include "run/settings_options.h"

namespace kvx {

struct BorderSample {
    BorderResult border;
    std::vector<uint8_t> lastFrame;  // the last frame analysed, host memory order
};

// Exit codes of --detect (0 and the errors 1 and 2 as for every run).
constexpr int kExitFound = 0;     // settings suggested (and saved with --save)
constexpr int kExitNoBorder = 3;  // the picture fills the frame: nothing to change
constexpr int kExitNotSure = 4;   // not sure, no suggestion, or no picture at all: nothing saved

// Reads the whole source and analyses all frames of a short input and an even spread of a
// long one (of unknown length too); shows a progress line when `progress`. `black` is the
// darkest luma that counts as picture. Returns false with `error` when the source fails.
bool SampleBorders(FrameSource& source, const FrameGeometry& g, int32_t black, bool progress,
                   BorderSample& sample, std::string& error);

// The suggestion as setting options, in the order --help lists them.
std::vector<SettingEdit> SuggestedEdits(const FitResult& fit);

// Everything --detect has to say, for the text report and for --json.
struct Detection {
    FrameGeometry geometry;
    int32_t black = kDefaultBlackLevel;
    BorderResult border;
    FitRequest request;
    FitResult fit;
    std::vector<FitResult> formatFits;  // FormatChange: the settings of each format
    int32_t taken = 0;                  // --take N: `border` is format N's
    std::vector<std::string> notes;  // one line each: the dialog's range, the bars' level
    std::string saved;               // what --save wrote, or ""
    int ExitCode() const;
};

// The detection of `border` with `request`: the fit of a found picture (of each format when
// the format changes), and of format `take` (1 the first in time, 2 the second, ...; 0: none)
// when it changes.
Detection Detect(const FrameGeometry& g, int32_t black, const BorderResult& border, const FitRequest& request,
                 int32_t take);

// The notes on a result: a suggested scale or offset outside the dialog's range (what the
// dialog then does), bars close to the --black level.
std::vector<std::string> DetectionNotes(const Detection& d);

// The report printed on standard output: the rectangle found, the settings and the
// kvx-host options that apply them, or why there is no suggestion.
std::string DescribeDetection(const Detection& d);
std::string DetectionJson(const Detection& d);

}  // namespace kvx
