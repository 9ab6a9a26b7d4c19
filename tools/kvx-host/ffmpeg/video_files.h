// Video files as IN and OUT: which names are video files, how they reach ffmpeg, and how
// ffmpeg and ffprobe are started (probe.h reads IN, encoder.h writes OUT, and
// frames/decoded_video.h decodes IN to raw frames for the plug-in).
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "errors.h"
#include "ffmpeg/child_messages.h"
#include "ffmpeg/child_process.h"
#include "video/frame_geometry.h"

namespace kvx {

// A name for ffmpeg that it takes as a file, never as a protocol (concat:, tee:, http:).
std::string AsFile(const std::string& name);

// ffmpeg's name of the raw pixel format of frames of `g`.
const char* RawPixelFormat(const FrameGeometry& g);

// Names kvx-host takes as raw frames rather than video files.
bool IsRawFileName(const std::string& name);

// Frames per second from ffprobe's "25/1" or "30000/1001" (0 when it is no rate).
double FramesPerSecond(const std::string& rate);

// Whether kvx-host's encode (H.264 video, the source's audio) can be written into a file of
// this name's container; false with `why` (what to do instead) otherwise.
bool IsWritableContainer(const std::string& name, std::string& why);

// Why a program could not be started, with the install hint where it was not found or could
// not run; a pipe that could not be made ("cannot make a pipe: Too many open files") has
// nothing to do with ffmpeg's installation.
RunError StartFailure(const std::string& error);

// Starts `args` (ffmpeg, ffprobe) with its messages kept back in `messages`; throws RunError,
// with how to install ffmpeg, when it cannot start.
std::unique_ptr<ChildProcess> StartQuietly(const std::vector<std::string>& args, ChildProcess::Pipe pipe,
                                           ChildMessages& messages);

}  // namespace kvx
