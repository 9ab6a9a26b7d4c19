// A video IN sampled for border detection: ffmpeg decodes it and hands over an even spread
// of its frames as 4:2:0 planes.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "ffmpeg/child_messages.h"
#include "ffmpeg/child_process.h"
#include "frames/frame_source.h"
#include "frames/y4m_reader.h"

namespace kvx {

// Frames a recording is thinned to, evenly in time.
constexpr long long kSampledVideoFrames = 50;

// A video IN decoded by ffmpeg. A short recording (up to twice kSampledVideoFrames frames)
// is decoded whole. Of a longer one the decoder skips the frames no other frame refers to
// (they need not be decoded to decode the rest) and the deblocking filter (without it the
// picture is blockier by a level or two of luma; flat black bars stay as they are), and of the
// others hands over the first of each of kSampledVideoFrames equal spans of time: whatever
// the frame types, the samples are even in time.
//
// Starting ffmpeg and ffprobe takes a tenth of a second each, so ffmpeg is started first,
// taken for a long recording, and reads its filter (which needs the length) from standard
// input (-filter_script) while ffprobe measures IN; a short one then gets a plain decode
// instead. An ffmpeg that fails so before its first frame (9.0 and later have no
// -filter_script) is started again with the filter on its command line.
// Frames come as the decoder's own 4:2:0 planes, written straight from its frames: detection
// reads only their luma, and no frame is converted to the host's format but the last, for
// --compare. Decoder messages are kept back, off the report, and shown only when it fails.
class SampledRecording : public FrameSource {
public:
    // At most `limit` frames (-1: all).
    SampledRecording(const std::string& path, long long limit);
    // IN's frames are of `g`'s size, `frames` of them at `rate` per second (-1: not known).
    void Begin(const FrameGeometry& g, long long frames, double rate);
    Result Next(std::vector<uint8_t>& frame, std::string& error) override;
    long long Length() const override { return -1; }
    bool Planar() const override { return true; }

private:
    // How ffmpeg decodes: all frames (up to the limit), or thinned (skipping what a long
    // recording's samples need not) with the sampling filter read from standard input or
    // given on the command line.
    enum class Form { Whole, FilterFromInput, FilterInArguments };

    void Launch(Form form);

    ChildMessages messages_;
    std::unique_ptr<ChildProcess> decoder_;
    std::unique_ptr<Y4mReader> reader_;
    std::string path_, select_;
    FrameGeometry g_;
    long long limit_, framesRead_ = 0;
    Form form_ = Form::Whole;
};

}  // namespace kvx
