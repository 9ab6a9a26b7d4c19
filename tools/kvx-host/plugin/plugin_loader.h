// Loads a plug-in file and resolves its two exports, exactly as the TV application does.
#pragma once
#include <string>

#include "host/abi.h"

namespace kvx {

class PluginLibrary {
public:
    PluginLibrary() = default;
    ~PluginLibrary() { Close(); }
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    // Loads the file and checks its exports and interface version; on failure `error`
    // says why in one line.
    bool Open(const std::string& path, std::string& error);
    void Close();

    PluginDescriptor* Descriptor() const { return descriptor_; }
    int32_t Version() const { return version_; }
    // The optional export that reports the live fit; null when the plug-in has none.
    LiveFitStateProc FitState() const { return fitState_; }

private:
    void* handle_ = nullptr;
    PluginDescriptor* descriptor_ = nullptr;
    LiveFitStateProc fitState_ = nullptr;
    int32_t version_ = 0;
};

}  // namespace kvx
