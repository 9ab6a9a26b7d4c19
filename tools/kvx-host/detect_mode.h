// kvx-host --detect: finds the picture inside the black borders of an input and suggests the
// settings that make it fill the frame.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "border_detect.h"
#include "fit_settings.h"
#include "frame_source.h"
#include "settings_options.h"

namespace kvx {

struct BorderSample {
    BorderResult border;
    std::vector<uint8_t> lastFrame;  // the last frame analysed, host memory order
};

// Reads the whole source and analyses all frames of a short input and an even spread of a
// long one (of unknown length too); shows a progress line when `progress`. Returns false
// with `error` when the source fails.
bool SampleBorders(FrameSource& source, const FrameGeometry& g, bool progress, BorderSample& sample,
                   std::string& error);

// The suggestion as setting options, in the order --help lists them.
std::vector<SettingEdit> SuggestedEdits(const FitResult& fit);

// The report printed on standard output: the rectangle found, the settings and the
// kvx-host options that apply them, or why there is no suggestion.
std::string DescribeDetection(const FrameGeometry& g, const BorderResult& border, const FitRequest& request,
                              const FitResult& fit);

}  // namespace kvx
