// Every kvx-host run works in a private folder of its own. The plug-in finds its settings
// file beside the host program (and, with the machine-wide switch, in the user's settings
// folder), so kvx-host makes a fresh temporary folder, places a copy of itself there and runs
// that copy with the same command line (an argument vector, never a shell). On POSIX the
// user's settings folder (XDG_CONFIG_HOME) is pointed into the private folder as well. The
// copy's exit code is the run's; the folder is removed afterwards, whatever happened.
#pragma once
#include <string>
#include <vector>

namespace kvx {

// In the copy: the private folder this run works in; "" in the program the user started.
std::string PrivateFolderOfThisRun();

// Makes the private folder, runs the copy there with `args` (the arguments after the program
// name) and returns its exit code; throws RunError-like std::runtime_error when the folder or
// the copy cannot be made.
int RunInPrivateFolder(const std::vector<std::string>& args);

// Whether `path` lies inside `folder` (same spelling; case-blind on Windows).
bool PathIsInside(const std::string& path, const std::string& folder);

}  // namespace kvx
