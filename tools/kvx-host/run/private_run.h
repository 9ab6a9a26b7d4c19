// Every kvx-host run works in a private folder of its own. The plug-in finds its settings
// file beside the host program (and, with the machine-wide switch, in the user's settings
// folder), so kvx-host makes a fresh temporary folder, places a copy of itself there and runs
// that copy with the same command line (an argument vector, never a shell). On POSIX the
// user's settings folder (XDG_CONFIG_HOME) is pointed into the private folder as well. The
// copy's exit code is the run's; the folder is removed afterwards, whatever happened.
//
// The copy knows it is the copy by the folder its parent names in the environment, which
// must be the very folder (by identity, not spelling) its own program file lies in; a copy
// never starts another. It dies with the program the user started, however that ends, and
// so do the programs it starts; after a stop the program the user started gives it
// kCopyGraceMs to end, then ends it.
//
// Folders of runs that were killed are removed at the next run's start, and nothing else is,
// whatever its name: a folder is a run's only when it is the user's own and no link (on
// POSIX also closed to others, as it is made) and holds the lock file "run.lock", a regular
// file of the user's whose whole text is kRunMarker. The run holds that file locked (on
// Windows: open without sharing) for as long as any of its processes lives.
#pragma once
#include <string>
#include <vector>

namespace kvx {

// In the copy: the private folder this run works in; "" in the program the user started.
// Throws RunError when the environment names a private folder this program is not in.
std::string PrivateFolderOfThisRun();

// Makes the private folder, runs the copy there with `args` (the arguments after the program
// name) and returns its exit code; throws RunError when the folder or the copy cannot be
// made or started.
int RunInPrivateFolder(const std::vector<std::string>& args);

// Whether `path` lies inside `folder` (same spelling; case-blind on Windows).
bool PathIsInside(const std::string& path, const std::string& folder);

// The copy ends with kCopyExitBase + the run's exit code when it ran to its end, so that a
// copy ended from outside (Windows gives it 0 or 1, Wine's kill 0) is told apart from one
// that finished: ExitCodeOfCopy turns the copy's status back into the run's exit code.
inline constexpr int kCopyExitBase = 64;
int ExitCodeOfCopy(int status);

// The environment variable that names the private folder to the copy.
extern const char kPrivateFolderVariable[];

// The whole text of a private folder's lock file.
inline constexpr char kRunMarker[] =
    "kvx-host private run folder: the next kvx-host removes it once its run has ended\n";

// This program's own file (UTF-8).
std::string ThisProgramFile();

}  // namespace kvx
