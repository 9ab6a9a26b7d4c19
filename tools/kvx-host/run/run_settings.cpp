#include "run/run_settings.h"

#include <chrono>
#include <optional>

#include "console/console_text.h"
#include "console/stop_signal.h"
#include "files/files.h"
#include "platform/file_system.h"
#include "platform/host_environment.h"
#include "platform/module.h"
#include "run/file_checks.h"
#include "run/private_run.h"
#include "run/settings_file_text.h"
#include "run/settings_options.h"
#include "run/settings_save.h"
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

// This run's turn to save; Ctrl+C ends the wait, and so does a wait longer than any save.
void WaitForTurn(SaveTurn& turn, const std::string& file) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kSaveWaitSeconds);
    while (!turn.TryTake(100)) {
        if (StopRequested()) throw RunError(kInterrupted);
        if (std::chrono::steady_clock::now() > deadline)
            throw RunError(file + " is being saved by another program; it is left as it was, without this run's "
                           "settings: try again once that save has ended");
    }
}

// FILE as it is now against FILE as the run read it: the same file (or still none) with
// the same bytes, and still one a save may replace.
void CheckStillAsRead(const std::string& file, const RunSettings& s) {
    const std::string kept = "; it is left as it is, without this run's settings";
    const std::string problem = SettingsFileProblem(file, true);
    if (!problem.empty()) throw RunError(problem + kept);
    const FileFacts facts = InspectFile(file);
    if (s.existed && !facts.exists)
        throw RunError(file + " was deleted or renamed during this run; it is not made again: run again to save "
                       "this run's settings to a new file");
    std::string now, error;
    if (facts.exists != s.existed || facts.symlink != s.wasLink || SaveTarget(file) != s.target ||
        (facts.exists && (!ReadRegularFile(s.target, kMaxSettingsBytes, now, error) || now != s.original)))
        throw RunError(file + (s.existed ? " was changed" : " was made") + " by someone else during this run" + kept +
                       ": run again to apply them to the new version");
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
        s.wasLink = InspectFile(file).symlink;
        s.target = SaveTarget(file);
        if ((s.existed || !o.settings.save) && !ReadRegularFile(file, kMaxSettingsBytes, s.original, error))
            throw RunError("cannot read settings file " + file + ": " + error +
                           (s.existed || o.settings.save ? "" : " (to make a new one, add --save)"));
        CreateFolderChain(FolderPart(s.pluginPath));
        if (s.existed) {
            if (!WriteFileAtomically(s.ownPath, s.original, error)) throw RunError(error);
            SettingsStore store;
            store.LoadFile(s.pluginPath, 0, nullptr);
            for (ChannelKey key : store.ChannelKeys()) session.Know(key);
            if (o.showSettings)
                for (const std::string& w : SettingsTextWarnings(s.original, store.ChannelKeys()))
                    PrintText(stderr, "kvx-host: warning: %s: %s\n", file.c_str(), w.c_str());
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
    std::string saved;
    if (!ReadWholeFile(s.ownPath, saved))
        throw RunError("the plug-in saved no settings file; " + file + " is left as it was");
    // The new text is written before this run's turn, so runs saving at once wait only for
    // each other's last check and rename.
    RemoveLeftOverSaves(s.target);
    const bool changed = !s.existed || saved != s.original;
    std::optional<SaveFolder> folder;
    if (changed) {
        folder.emplace(s.target);
        if (Utf8Files().WriteNew(folder->NewFile(), saved.data(), saved.size()) != CreateStatus::kWritten)
            throw RunError("cannot write into the folder of " + file + " (" + SystemErrorText() + "); " + file +
                           " is left as it was");
    }
    // Someone else's edit made during the run (another kvx-host, a copy from the TV
    // computer) is never overwritten with what this run started from.
    SaveTurn turn(s.target);
    WaitForTurn(turn, file);
    CheckStillAsRead(file, s);
    if (!changed) return;
    // A new FILE takes its name only while the name is free.
    const bool placed = s.existed ? Utf8Files().Replace(folder->NewFile(), s.target)
                                  : MoveInto(folder->NewFile(), s.target, false);
    if (!placed) throw RunError("cannot write " + file + ": " + SystemErrorText() + "; it is left as it was");
}

}  // namespace kvx
