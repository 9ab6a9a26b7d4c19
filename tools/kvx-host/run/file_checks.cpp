#include "run/file_checks.h"

#include "files/files.h"
#include "files/output_file.h"
#include "run/settings_file_text.h"

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
    const std::string problem = SettingsFileProblem(s.file, s.save);
    if (!problem.empty()) throw RunError(problem);
    if (!FileExists(s.file)) {
        // A new file: reported when it is read, with the hint to add --save, unless saved.
        if (s.save) CheckOutput("--settings", s.file, true);
        return;
    }
    std::string bytes, error;
    if (!ReadRegularFile(s.file, kMaxSettingsBytes, bytes, error))
        throw RunError("cannot read settings file " + s.file + ": " + error);
    const std::string why = WhyNotSettingsText(bytes);
    if (!why.empty())
        throw RunError("--settings " + s.file + " is not a settings file: " + why +
                       "; give a settings file (KVX_Scaler.ini), or a new name to start one with --save");
    if (s.save) CheckOutput("--settings", SaveTarget(s.file), true);
}

}  // namespace

std::string SettingsFileProblem(const std::string& file, bool save) {
    const FileFacts facts = InspectFile(file);
    if (facts.symlink && !facts.exists)
        return "--settings " + file + " is a symbolic link to a file that does not exist; kvx-host makes no file "
               "where a link points: name the file itself, or mend the link";
    if (!facts.exists) return std::string();
    if (!facts.regular)
        return "--settings " + file + " is " + (facts.folder ? "a folder" : "not a regular file") +
               "; give a settings file (KVX_Scaler.ini)";
    if (facts.size > kMaxSettingsBytes)
        return "--settings " + file + " is " + std::to_string(facts.size >> 20) +
               " MiB, far more than any settings file; give a settings file (KVX_Scaler.ini)";
    if (!save) return std::string();
    if (facts.readOnly)
        return "--settings " + file + " is read-only; make it writable to save to it, or leave out --save";
    if (facts.links > 1)
        return "--settings " + file + " has other names (hard links), which a save would part from it; "
               "copy it to a file of its own and save to that";
    return std::string();
}

std::string SaveTarget(const std::string& file) { return InspectFile(file).symlink ? ResolveLinks(file) : file; }

void CheckFiles(const RunPlan& p) {
    for (const auto* list : {&p.reads, &p.writes})
        for (const auto& n : *list)
            if (IsDeviceName(n.second))
                throw UsageError(n.first + " " + n.second + " is a Windows device, not a file; name a file" +
                                 (n.first == "--output" || n.first == "OUT" ? " (or none for no output)" : ""));
    // Said by kvx-host itself, before any program of its own or ffprobe tries to read it.
    for (const auto& r : p.reads)
        if ((r.first == "IN" || r.first == "--input") && !InspectFile(r.second).exists)
            throw RunError(r.first + " " + r.second + " does not exist; check its name");
    CheckNoneIsTheSame(p);
    CheckStandardOutput(p);
    for (const auto& w : p.writes)
        if (w.first != "--settings") CheckOutput(w.first, w.second, p.o.overwrite);
    if (!p.o.settings.file.empty()) CheckSettingsFile(p.o.settings);
}

}  // namespace kvx
