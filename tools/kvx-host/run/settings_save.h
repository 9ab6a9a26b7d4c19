// How --save puts the new settings text in FILE's place without ever leaving a partial file
// or a stray one for good. The text is written into a hidden folder of the save's own beside
// FILE (".kvx-host-save-…", the user's alone), marked as kvx-host's by a marker file that the
// save holds locked while it lives, and then takes FILE's place by a rename. A save that was
// killed leaves such a folder; the next save into the same folder removes it, and nothing
// else: only a real folder (no link) of this user, holding kvx-host's marker, unlocked, and
// nothing but what a save makes. Runs saving into one folder take turns from their last
// check of FILE to the rename, so no save is lost between another's compare and replace.
// The system-specific halves are in platform/{posix,win32}/settings_save_*.cpp.
#pragma once
#include <cstdint>
#include <string>

namespace kvx {

// The names a save makes beside FILE and in its folder, and what only a save writes into
// its marker.
inline constexpr char kSaveFolderPrefix[] = ".kvx-host-save-";
inline constexpr char kSaveMarkerName[] = "kvx-host.save";
inline constexpr char kSaveNewName[] = "settings.new";
inline constexpr char kSaveMarkerText[] = "kvx-host: a save of a settings file; left by a killed run when no run holds it\n";

class SaveFolder {
public:
    // Makes the marked folder beside `target`; throws RunError when its folder refuses.
    explicit SaveFolder(const std::string& target);
    ~SaveFolder();  // removes the folder with what it holds
    SaveFolder(const SaveFolder&) = delete;
    SaveFolder& operator=(const SaveFolder&) = delete;

    // The file the new text is written to, inside the folder.
    std::string NewFile() const;

private:
    void Remove();
    std::string folder_;
    intptr_t marker_ = -1;  // the locked marker: a descriptor, or a handle on Windows
};

// Removes what killed saves left beside `target` (see above).
void RemoveLeftOverSaves(const std::string& target);

// This run's turn to save into the folder of `path`: a lock on that folder (flock; on
// Windows a mutex named after the folder's identity). Other programs are not held off;
// their edits are found by comparing.
class SaveTurn {
public:
    explicit SaveTurn(const std::string& path);
    ~SaveTurn();
    SaveTurn(const SaveTurn&) = delete;
    SaveTurn& operator=(const SaveTurn&) = delete;

    // True once the turn is this run's, or when the folder offers no lock (it cannot be
    // opened, its file system has none); false, after up to `milliseconds`, while another
    // run has it.
    bool TryTake(int milliseconds);

private:
    intptr_t lock_ = -1;
    bool held_ = false;
};

}  // namespace kvx
