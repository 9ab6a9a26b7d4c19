// What the host holds for the plug-in during one run: the loaded plug-in and the channels
// it knows, which the plug-in asks about through the channel check when it saves (only the
// records of known channels are kept). The check is a plain C callback without a context,
// so the one session of a run is reachable from it while the session lives.
#pragma once
#include <cstdint>
#include <set>
#include <string>

#include "host/abi.h"
#include "plugin/plugin_loader.h"

namespace kvx {

class HostSession {
public:
    // Loads the plug-in; throws RunError when it is no plug-in.
    HostSession(const std::string& pluginFile, bool forgetChannels);
    ~HostSession();
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    void Know(uint64_t key) { known_.insert(key); }
    PluginDescriptor& Plugin() { return *plugin_.Descriptor(); }
    LiveFitStateProc FitState() const { return plugin_.FitState(); }
    // Init with this session's channel check.
    void Init();

private:
    static int32_t KVX_CDECL ChannelCheck(uint32_t keyLow, uint32_t keyHigh);
    static HostSession* current_;

    PluginLibrary plugin_;
    std::set<uint64_t> known_;
    bool forgetChannels_;
};

}  // namespace kvx
