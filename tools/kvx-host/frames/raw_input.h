// Raw frames from a file or standard input, as --input and a raw IN give them.
#pragma once
#include <memory>
#include <string>

#include "frames/frame_source.h"

namespace kvx {

// Raw frames from the file `name` or ("-") standard input, never a terminal (then
// UsageError with `terminalHint`, what to do instead); throws RunError when it cannot open.
std::unique_ptr<FrameSource> OpenRawInput(const std::string& name, const FrameGeometry& g, long long limit,
                                          const char* terminalHint);

}  // namespace kvx
