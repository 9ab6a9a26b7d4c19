// How a run marks a folder as its own, so that the folder of a run that was killed (SIGKILL,
// out of memory, `ulimit -f`, a power cut) is found and cleared by a later run, and nothing
// else ever is: users name folders too, so a name alone never marks one. The marker is a
// file of a fixed name that starts with a fixed text, which the run makes in its fresh folder
// and holds locked (flock; on Windows open without sharing) for as long as it lives; the
// lock is taken before the text is written, so a marker with its text and no lock is one
// whose run ended. It also lists the identities of the files the run made there: only those
// are removed, never a link put in their place (Wine's DeleteFileW removes what a Unix link
// points to).
#pragma once
#include <cstdint>
#include <string>

#include "files/files.h"

namespace kvx {

constexpr char kRunMarkerName[] = "kvx-host.run";
constexpr char kRunMarkerText[] =
    "kvx-host: this folder belongs to a run; the next run removes it once this one has ended\n";

class RunMarker {
public:
    // Marks `folder`, a folder this run has just made; Held() says whether that worked.
    explicit RunMarker(const std::string& folder);
    // Unlocks and removes the marker.
    ~RunMarker();
    RunMarker(const RunMarker&) = delete;
    RunMarker& operator=(const RunMarker&) = delete;
    bool Held() const { return lock_ != -1; }
    // Lists a file the run made in the folder, for removal should the run be killed.
    bool Record(const FileIdentity& file);

private:
    bool Append(const std::string& text);
    std::string path_;
    intptr_t lock_ = -1;  // the open marker: a descriptor, or a handle on Windows
};

// The marker's text when `folder` was made by a kvx-host run that has ended: a folder (not a
// link) of this user that holds the marker, a regular file (not a link) of this user that
// starts with the marker's text, which no run holds. "" for any other folder. (On Windows
// the owners are not compared: a folder of another user is not ours to change anyway.)
std::string AbandonedRunMarker(const std::string& folder);

// Clears the folders in `parent` (a folder part, as FolderPart gives it) whose names start
// with `prefix` and that have an AbandonedRunMarker: the files it lists, the marker, then
// the folder, which stays if anything else is in it.
void RemoveAbandonedRunFolders(const std::string& parent, const std::string& prefix);

}  // namespace kvx
