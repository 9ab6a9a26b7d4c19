// The settings a run works with: the --settings FILE (or nothing, for the built-in
// defaults) placed where the plug-in will look for it in the private folder, the setting
// options applied with the plug-in's own settings code, and, with --save, the plug-in's
// saved result written back to FILE.
#pragma once
#include <cstdint>
#include <string>

#include "plugin/host_session.h"
#include "run/run_plan.h"
#include "settings/settings_store.h"

namespace kvx {

struct RunSettings {
    std::string pluginPath;  // the file the plug-in reads, inside the private folder, in its terms
    std::string ownPath;     // the same file for kvx-host's own file calls (UTF-8)
    std::string original;    // FILE's bytes as they were read
    bool existed = false;
    bool wasLink = false;  // FILE was a symbolic link
    std::string target;    // the file --save replaces: FILE, or what its link points to
};

// Prepares the settings before Init, which is when the plug-in reads them; tells `session`
// every channel FILE has a record for, so the plug-in keeps them. Prints them with
// --show-settings. Throws UsageError or RunError.
RunSettings PrepareSettings(const RunPlan& plan, const std::string& privateFolder, HostSession& session);

// Applies `request` to the settings file the plug-in will read, with the plug-in's own
// settings code, and reads it back: a request the file did not take is an error, never a
// silent default. Returns the settings now in effect for channel `key`.
std::string StoreSettings(const std::string& pluginPath, const SettingRequest& request, uint64_t key);

// --save: the plug-in's saved file goes back to FILE in one step, only when it differs, and
// only when FILE is still what the run read, checked again at the moment of writing: the
// same file (or no file), the same bytes, still writable and of one name. No edit made
// meanwhile is overwritten, and a FILE deleted meanwhile is not made again. Waits for other
// runs saving into the same folder, up to kSaveWaitSeconds, and ends on Ctrl+C.
void SaveSettingsBack(const RunPlan& plan, const RunSettings& settings);

// Another run's save takes a moment: a wait this long means something holds the folder.
constexpr int kSaveWaitSeconds = 30;

}  // namespace kvx
