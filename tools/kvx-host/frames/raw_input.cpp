#include "frames/raw_input.h"

#include "console/console_text.h"
#include "errors.h"
#include "files/files.h"

namespace kvx {

std::unique_ptr<FrameSource> OpenRawInput(const std::string& name, const FrameGeometry& g, long long limit,
                                          const char* terminalHint) {
    if (name == "-") {
        if (IsTerminal(stdin)) throw UsageError(std::string("will not read raw frames from a terminal: ") + terminalHint);
        return MakeRawSource(stdin, false, g, limit);
    }
    FILE* f = OpenFile(name, "rb");
    if (!f) throw RunError("cannot open input " + name + ": " + SystemErrorText());
    return MakeRawSource(f, true, g, limit);
}

}  // namespace kvx
