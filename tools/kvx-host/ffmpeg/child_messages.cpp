#include "ffmpeg/child_messages.h"

namespace kvx {

std::string ChildMessages::Tail() const {
    std::string text = RawTail();
    // Whole lines only: the first may have been cut by the size limit.
    if (text.size() >= static_cast<size_t>(kTailBytes) && text.find('\n') != std::string::npos)
        text.erase(0, text.find('\n') + 1);
    if (!text.empty() && text.back() != '\n') text += '\n';
    return text;
}

}  // namespace kvx
