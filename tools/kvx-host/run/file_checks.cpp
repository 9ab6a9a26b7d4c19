#include "run/file_checks.h"

#include "files/files.h"
#include "files/output_file.h"

namespace kvx {
namespace {

void CheckNoneIsTheSame(const RunPlan& p) {
    std::vector<std::pair<std::string, std::string>> named = p.reads;
    for (const auto& w : p.writes)
        if (w.first != "--settings") named.push_back(w);  // --save writes the file it read
    std::vector<FileIdentity> ids;
    for (const auto& n : named) ids.push_back(IdentifyFile(n.second));
    for (size_t i = 0; i < named.size(); ++i)
        for (size_t j = i + 1; j < named.size(); ++j)
            if (ids[i] == ids[j])
                throw UsageError(named[i].first + " " + named[i].second + " and " + named[j].first + " " +
                                 named[j].second + " are the same file; give " + named[j].first +
                                 " another name");
}

void CheckOutput(const std::string& what, const std::string& name, bool overwrite) {
    const FileFacts facts = InspectFile(name);
    if (facts.exists && !facts.regular)
        throw UsageError(what + " " + name + " is " + (facts.folder ? "a folder" : "not a regular file") +
                         "; name a new file");
    if (facts.exists && !overwrite)
        throw UsageError(what + " " + name + " already exists; add -y (--overwrite) to replace it, or name another file");
    if (!IdentifyFile(name).known)
        throw RunError("the folder of " + what + " " + name + " does not exist; create it first");
    std::string error;
    if (!FolderTakesOutput(name, error)) throw RunError("cannot write " + what + " " + name + ": " + error);
}

// Writing to a file while reading it, as `--input a.yuv >> a.yuv` would, never ends: refused
// as cat does, by identity.
void CheckStandardOutput(const RunPlan& p) {
    const FileIdentity out = IdentifyStandardOutput();
    for (const auto& r : p.reads)
        if (IdentifyFile(r.second) == out)
            throw UsageError("standard output is " + r.first + " " + r.second + " itself, which the run reads; "
                             "send standard output elsewhere");
}

void CheckSettingsFile(const SettingRequest& s) {
    const FileFacts facts = InspectFile(s.file);
    if (!facts.exists) {
        if (!s.save) return;  // reported when it is read, with the hint to add --save
        CheckOutput("--settings", s.file, true);
        return;
    }
    if (!facts.regular)
        throw RunError("--settings " + s.file + " is " + (facts.folder ? "a folder" : "not a regular file") +
                       "; give a settings file (KVX_Scaler.ini)");
    if (facts.size > kMaxSettingsBytes)
        throw RunError("--settings " + s.file + " is " + std::to_string(facts.size >> 20) +
                       " MiB, far more than any settings file; give a settings file (KVX_Scaler.ini)");
    if (!s.save) return;
    if (facts.readOnly)
        throw RunError("--settings " + s.file + " is read-only; make it writable to save to it, or leave out --save");
    if (facts.links > 1)
        throw RunError("--settings " + s.file + " has other names (hard links), which a save would part from it; "
                       "copy it to a file of its own and save to that");
    CheckOutput("--settings", SaveTarget(s.file), true);
}

}  // namespace

std::string SaveTarget(const std::string& file) { return InspectFile(file).symlink ? ResolveLinks(file) : file; }

void CheckFiles(const RunPlan& p) {
    CheckNoneIsTheSame(p);
    CheckStandardOutput(p);
    for (const auto& w : p.writes)
        if (w.first != "--settings") CheckOutput(w.first, w.second, p.o.overwrite);
    if (!p.o.settings.file.empty()) CheckSettingsFile(p.o.settings);
}

}  // namespace kvx
