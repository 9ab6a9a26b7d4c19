#include "settings/settings_path.h"

#include "platform/file_system.h"

namespace kvx {
namespace {

// The instance letter of the command line; "" without a switch or when one ends the line.
std::string InstanceName(std::string commandLine) {
    for (char& c : commandLine)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    std::string instance;
    for (const char* the_switch : {"-inst:", "/inst:"}) {
        size_t at = commandLine.find(the_switch);
        if (at == std::string::npos) continue;
        at += 6;
        instance = at < commandLine.size() ? commandLine.substr(at, 1) : std::string();
    }
    return instance;
}

}  // namespace

std::string ResolveSettingsPath(const HostEnvironment& env, const std::string& moduleBaseName) {
    const std::string sep(1, kPathSeparator);
    if (!env.versionKnown) return std::string();
    std::string folder;
    if (env.ntFamily && env.storeInUsersFolder != 0 && env.appDataKnown) {
        folder = env.appDataFolder + sep + "Korvanta" + sep;
    } else {
        // Without the user's folder the host program's folder serves, as with the switch off.
        size_t cut = env.hostExecutable.find_last_of(kPathSeparator);
        if (cut == std::string::npos) return std::string();
        folder = env.hostExecutable.substr(0, cut + 1);
    }
    std::string instance = InstanceName(env.commandLine);
    if (!instance.empty()) folder += "Instances" + sep + instance + sep;
    folder += "Plugins" + sep;
    return folder + moduleBaseName + ".ini";
}

void CreateFolderChain(const std::string& folder) {
    for (size_t i = 1; i < folder.size(); ++i) {
        if (folder[i] != kPathSeparator || folder[i - 1] == kPathSeparator) continue;
        if (folder[i - 1] == ':') continue;  // a drive, "C:"
        Files().CreateFolder(folder.substr(0, i));
    }
}

}  // namespace kvx
