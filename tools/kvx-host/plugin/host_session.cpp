#include "plugin/host_session.h"

#include "errors.h"

namespace kvx {

HostSession* HostSession::current_ = nullptr;

HostSession::HostSession(const std::string& pluginFile, bool forgetChannels) : forgetChannels_(forgetChannels) {
    std::string error;
    if (!plugin_.Open(pluginFile, error)) throw RunError(error);
    current_ = this;
}

HostSession::~HostSession() { current_ = nullptr; }

void HostSession::Init() {
    InitInfo init{0, ChannelCheck};
    Plugin().Init(&init);
}

int32_t KVX_CDECL HostSession::ChannelCheck(uint32_t keyLow, uint32_t keyHigh) {
    const uint64_t key = (static_cast<uint64_t>(keyHigh) << 32) | keyLow;
    return current_ && !current_->forgetChannels_ && current_->known_.count(key) ? 1 : 0;
}

}  // namespace kvx
