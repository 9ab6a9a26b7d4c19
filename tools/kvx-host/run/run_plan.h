// One run of kvx-host as its command line asks for it: parsed and checked once, before any
// work, into a plan that nothing changes afterwards. The program the user starts checks it;
// its private copy derives the same plan from the same arguments.
#pragma once
#include <string>
#include <vector>

#include "run/options.h"

namespace kvx {

enum class RunMode {
    SettingsOnly,  // --show-settings / --save without frames: the settings file alone
    Frames,        // frames through the plug-in: the pattern, raw frames or a video file
    Detect,        // --detect: find the picture in a recording
};

struct RunPlan {
    Options o;  // the options with the defaults the mode implies filled in
    RunMode mode = RunMode::Frames;
    bool channelGiven = false;  // --channel was given (else channel 1 is shown)
    // The named files, for the same-file check: what is read, and what is written.
    std::vector<std::pair<std::string, std::string>> reads, writes;  // (what it is, name)

    uint64_t SettingsKey() const { return o.channels.front().key; }
    bool StoresSettings() const {
        return !o.settings.edits.empty() || o.settings.perChannel >= 0 || o.showSettings;
    }
};

// The most memory one frame may take (a 16K frame of YUY2 fits).
constexpr uint64_t kMaxFrameBytes = uint64_t{256} << 20;
// No settings file comes near this; anything larger is not one.
constexpr uint64_t kMaxSettingsBytes = uint64_t{16} << 20;

// The plan of the command line; throws UsageError when it cannot be carried out as given.
// Looks at no file.
RunPlan MakeRunPlan(const Options& parsed);

// Checks the frame size (an odd YUY2 width, more than kMaxFrameBytes); throws UsageError.
void CheckGeometry(const FrameGeometry& g);

}  // namespace kvx
