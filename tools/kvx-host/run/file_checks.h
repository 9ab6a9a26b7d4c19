// The files a run names, checked before any work, so that a run never destroys what the
// user did not ask it to write: no two names are the same file (by identity, however they
// are spelled), an output is not there yet (unless --overwrite) and its folder takes new
// files, and the settings file is what a settings file can be.
#pragma once
#include "run/run_plan.h"

namespace kvx {

// Throws UsageError (a command line that names files wrongly) or RunError.
void CheckFiles(const RunPlan& plan);

// What keeps `file` from being the --settings FILE (with `save`: the one --save replaces):
// a link to nothing, no regular file, and for a save a read-only or hard-linked file; ""
// when nothing does. Checked before any work and again at the moment of writing.
std::string SettingsFileProblem(const std::string& file, bool save);

// The file --save writes: FILE itself, or what a symbolic link FILE points to.
std::string SaveTarget(const std::string& file);

}  // namespace kvx
