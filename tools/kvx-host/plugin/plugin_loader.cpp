#include "plugin/plugin_loader.h"

#include "plugin/module_loading.h"

namespace kvx {

bool PluginLibrary::Open(const std::string& path, std::string& error) {
    Close();
    handle_ = LoadModule(path);
    if (!handle_) {
        error = "cannot load plug-in " + path + ": " + LoadError();
        return false;
    }
    auto version = reinterpret_cast<PluginVersionProc>(FindSymbol(handle_, "Korvanta_Plugin_Version"));
    auto describe = reinterpret_cast<PluginDescriptorProc>(FindSymbol(handle_, "Korvanta_Plugin_PR"));
    if (!version || !describe) {
        error = path + " is not a plug-in: it does not export Korvanta_Plugin_Version and Korvanta_Plugin_PR";
        Close();
        return false;
    }
    version_ = version();
    if (version_ != kPluginInterfaceVersion) {
        error = path + " has interface version " + std::to_string(version_) + ", expected " +
                std::to_string(kPluginInterfaceVersion);
        Close();
        return false;
    }
    fitState_ = reinterpret_cast<LiveFitStateProc>(FindSymbol(handle_, "KVX_LiveFitState"));
    descriptor_ = describe();
    if (!descriptor_) {
        error = path + " returned no callback table";
        Close();
        return false;
    }
    return true;
}

void PluginLibrary::Close() {
    if (handle_) UnloadModule(handle_);
    handle_ = nullptr;
    descriptor_ = nullptr;
    fitState_ = nullptr;
    version_ = 0;
}

}  // namespace kvx
