#include "run/run_settings.h"

#include "console/console_text.h"
#include "files/files.h"
#include "platform/host_environment.h"
#include "platform/module.h"
#include "run/file_checks.h"
#include "run/private_run.h"
#include "run/settings_options.h"
#include "settings/settings_path.h"

namespace kvx {
namespace {

// The plug-in names its settings file after its own file, as the ANSI call gives it. A name
// that call cannot spell leaves it no settings file it could find: a run that needs one is
// refused rather than run with the defaults.
std::string PluginSettingsPath(const RunPlan& plan, const std::string& folder) {
    const Options& o = plan.o;
    const bool settingsUsed = plan.StoresSettings() || !o.settings.file.empty() || o.detect;
    std::string baseName;
    if (!Utf8ToPluginPath(FileBaseName(o.plugin), baseName) && settingsUsed)
        throw RunError("the plug-in's file name " + NamePart(o.plugin) +
                       " has letters the system's code page cannot spell, so the plug-in could not find "
                       "its settings file; rename it (e.g. KVX_Scaler.dll)");
    const std::string path = ResolveSettingsPath(QueryHostEnvironment(), baseName);
    if (path.empty())
        throw RunError("cannot tell where the plug-in would keep its settings (the system gives no program path)");
    if (!PathIsInside(PluginPathToUtf8(path), folder))
        throw RunError("the machine-wide switch StoreInUsersFolder (HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvanta) is on, "
                       "so the plug-in would use " + PluginPathToUtf8(path) + ", the file the TV application uses and "
                       "every run would share; kvx-host does not touch it. Set the switch to 0 while using "
                       "kvx-host (reg add HKLM\\SOFTWARE\\Korvanta /v StoreInUsersFolder /t REG_DWORD /d 0 /f), "
                       "or use kvx-host on another computer");
    return path;
}

// Setting options for a file that keeps settings per channel go to one channel's record:
// without --channel that would be channel 1, which is rarely what was meant.
void CheckChannelNamed(const RunPlan& plan, const std::string& pluginPath) {
    const Options& o = plan.o;
    if (plan.channelGiven || (o.settings.edits.empty() && !(o.detect && o.settings.save))) return;
    SettingsStore store;
    store.LoadFile(pluginPath, 0, nullptr);
    const bool perChannel = o.settings.perChannel >= 0 ? o.settings.perChannel == 1 : store.IsPerChannel();
    if (perChannel)
        throw UsageError((o.settings.file.empty() ? std::string("--per-channel on keeps")
                                                  : "the settings file " + o.settings.file + " keeps") +
                         " settings per channel: name the channel to change with --channel KEY (its key "
                         "is the section name in the file, e.g. [4294967298]; --show-settings --channel KEY "
                         "shows a channel's values)");
}

}  // namespace

std::string StoreSettings(const std::string& pluginPath, const SettingRequest& request, uint64_t key) {
    SettingsStore store;
    store.LoadFile(pluginPath, 0, nullptr);  // no channel check: every record is kept
    ApplySettingEdits(store, request, key);
    // Read before the save, which makes the channel's record part of the file: a record
    // that only a [DEFAULT] section (dropped by every save) fills in stays as it was shown.
    const std::string wanted = DescribeSettings(store, key);
    if (request.edits.empty() && request.perChannel < 0) return wanted;  // nothing to store
    store.Save();
    SettingsStore check;
    check.LoadFile(pluginPath, 0, nullptr);
    if (DescribeSettings(check, key) != wanted)
        throw RunError("the settings could not be stored in the private folder's " + PluginPathToUtf8(pluginPath));
    return wanted;
}

RunSettings PrepareSettings(const RunPlan& plan, const std::string& folder, HostSession& session) {
    const Options& o = plan.o;
    for (const ChannelSwitch& c : o.channels) session.Know(c.key);
    RunSettings s;
    s.pluginPath = PluginSettingsPath(plan, folder);
    s.ownPath = PluginPathToUtf8(s.pluginPath);
    const std::string& file = o.settings.file;
    if (!file.empty()) {
        std::string error;
        s.existed = FileExists(file);
        if ((s.existed || !o.settings.save) && !ReadRegularFile(file, kMaxSettingsBytes, s.original, error))
            throw RunError("cannot read settings file " + file + ": " + error +
                           (s.existed || o.settings.save ? "" : " (to make a new one, add --save)"));
        CreateFolderChain(FolderPart(s.pluginPath));
        if (s.existed) {
            if (!WriteFileAtomically(s.ownPath, s.original, error)) throw RunError(error);
            SettingsStore store;
            store.LoadFile(s.pluginPath, 0, nullptr);
            for (ChannelKey key : store.ChannelKeys()) session.Know(key);
        }
    }
    CheckChannelNamed(plan, s.pluginPath);
    if (plan.StoresSettings()) {
        const std::string got = StoreSettings(s.pluginPath, o.settings, plan.SettingsKey());
        if (o.showSettings) PutText(o.output == "-" ? stderr : stdout, got);  // stdout may carry the frames
    }
    return s;
}

void SaveSettingsBack(const RunPlan& plan, const RunSettings& s) {
    const std::string& file = plan.o.settings.file;
    const std::string target = SaveTarget(file);
    std::string saved, now, error;
    if (!ReadWholeFile(s.ownPath, saved))
        throw RunError("the plug-in saved no settings file; " + file + " is left as it was");
    // Someone else's edit made during the run (another kvx-host, a copy from the TV
    // computer) is never overwritten with what this run started from. Runs saving to one
    // file at once take turns from the compare to the replace.
    const FileLock lock(target);
    const bool existsNow = FileExists(target);
    if (existsNow != s.existed || (existsNow && (!ReadRegularFile(target, kMaxSettingsBytes, now, error) ||
                                                 now != s.original)))
        throw RunError(file + " was changed by someone else during this run; it is left as it is, without "
                       "this run's settings: run again to apply them to the new version");
    if (s.existed && saved == s.original) return;
    if (!WriteFileAtomically(target, saved, error)) throw RunError(error + "; " + file + " is left as it was");
}

}  // namespace kvx
