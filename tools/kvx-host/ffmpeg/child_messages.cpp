#include "ffmpeg/child_messages.h"

#include "files/files.h"

namespace kvx {

std::string ChildMessages::Tail() const {
    std::string raw = RawTail();
    // Whole lines only: the first may have been cut by the size limit.
    if (raw.size() >= static_cast<size_t>(kTailBytes) && raw.find('\n') != std::string::npos)
        raw.erase(0, raw.find('\n') + 1);
    // Each line ends in '\n' alone: a Windows program's "\r\n" would gain a second '\r' on
    // its way out through kvx-host's standard error, an empty line in a log.
    std::string text;
    for (const std::string& line : SplitLines(raw)) text += line + '\n';
    return text;
}

}  // namespace kvx
