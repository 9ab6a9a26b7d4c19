// Where the settings file lives: "Plugins" in the host program's folder, or in the
// user's "Korvanta" application-data folder when the machine-wide switch is on (NT family
// only), inside "Instances" + one character when the host was started with -inst:X or
// /inst:X (the last one wins; case does not matter). The file is named after the module.
#pragma once
#include <string>

#include "platform/host_environment.h"

namespace kvx {

// The settings file's full path, or "" when no place can be settled (no system version,
// or no host program path to take the folder from).
std::string ResolveSettingsPath(const HostEnvironment& env, const std::string& moduleBaseName);

// Creates every missing folder of `folder` (which ends with a separator), outermost first.
void CreateFolderChain(const std::string& folder);

}  // namespace kvx
