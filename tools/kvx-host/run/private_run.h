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
// so do the programs it starts. Folders of runs that were killed are removed at the next
// run's start: each run holds a lock inside its folder for as long as it lives.
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

// The environment variable that names the private folder to the copy.
extern const char kPrivateFolderVariable[];

// This program's own file (UTF-8).
std::string ThisProgramFile();

}  // namespace kvx
