// What the benchmarks measure: the frame sizes, the pixel formats and the scaling cases,
// and the names their results are filed under for the summary table.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "video/pixel_format.h"

namespace kvx {
namespace bench {

struct FrameSize {
    int32_t width, height;
    const char* name;
};
constexpr FrameSize kSizes[] = {{720, 576, "720x576"}, {1920, 1080, "1920x1080"}};

struct PixelFormat {
    HostPixelFormat code;
    int32_t bytesPerPixel;
    const char* name;
};
constexpr PixelFormat kFormats[] = {{PixelFormatYuy2, 2, "YUY2"}, {PixelFormatBgr24, 3, "BGR24"}};

// One setting of the plug-in: per-mille scale and offsets, interlace with pre-deinterlace.
struct ScaleCase {
    const char* name;
    int32_t scale;
    int32_t offsetX, offsetY;
    bool interlaced;
    bool libraryEquivalent;  // libyuv and libswscale are run for the same resample: a target
};
constexpr ScaleCase kCases[] = {
    {"identity", 1000, 0, 0, false, false},
    {"zoom110", 1100, 0, 0, false, true},
    {"shrink90", 900, 0, 0, false, true},
    {"zoom110-interlaced", 1100, 0, 0, true, true},
    {"shifted", 1000, 37, -25, false, false},
};

// The rectangle a library resamples for a case: the centre W/1.1 x H/1.1 of the frame up
// to W x H when zooming, all of W x H down to 0.9 W x 0.9 H when shrinking. Even widths
// and offsets, so that 4:2:2 pairs stay whole.
struct Resample {
    int32_t sourceX, sourceY, sourceWidth, sourceHeight;
    int32_t destinationWidth, destinationHeight;
};
Resample LibraryResample(const FrameSize& size, const ScaleCase& c);

// A frame of smooth gradients with some noise, like a picture rather than a constant.
std::vector<uint8_t> TestPicture(int32_t width, int32_t height, int32_t bytesPerPixel);

std::string Name(std::initializer_list<std::string> parts);


// Plug-in settings of a case: the key lines of a profile, and a whole settings file with
// them in [COMMON].
std::string SettingsLines(const ScaleCase& c);
std::string SettingsText(const ScaleCase& c);

// targetsOnly: only what the table of targets needs (the cases a library can match).

void RegisterFrameBenchmarks(bool targetsOnly);
void RegisterLibraryBenchmarks();
void RegisterKernelBenchmarks();
// The live fit's analysis (per round of its sampling period) and FitSettings (per change).
void RegisterAutoFitBenchmarks();
std::string AutoFitName(const PixelFormat& f, const FrameSize& s);
std::string FitSettingsName(const FrameSize& s);

}  // namespace bench
}  // namespace kvx
