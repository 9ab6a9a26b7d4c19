#include "files/output_file.h"

#include "errors.h"
#include "platform/host_environment.h"

namespace kvx {
namespace {

// Hidden (and on Windows marked so), and named after the tool for whoever finds one that a
// killed run left.
const char kFolderPrefix[] = ".kvx-host-";

}  // namespace

bool FolderTakesOutput(const std::string& target, std::string& error) {
    const std::string probe = MakePrivateFolder(FolderPart(target), kFolderPrefix, error);
    if (probe.empty()) return false;
    RemoveFolder(probe);
    return true;
}

OutputFile::OutputFile(const std::string& target, bool overwrite) : target_(target), overwrite_(overwrite) {
    const std::string parent = FolderPart(target);
    RemoveAbandonedRunFolders(parent, kFolderPrefix);
    std::string error;
    folder_ = MakePrivateFolder(parent, kFolderPrefix, error);
    if (folder_.empty()) throw RunError("cannot write " + target + ": " + error);
    // Under the target's own name: no longer than a name the folder takes, and ffmpeg picks
    // the container by its extension.
    temp_ = folder_ + kPathSeparator + NamePart(target);
    marker_.reset(new RunMarker(folder_));
    if (marker_->Held()) stream_ = CreateNewFile(temp_, made_);
    if (!stream_ || !marker_->Record(made_)) {
        error = SystemErrorText();
        Discard();  // a constructor that throws runs no destructor
        throw RunError("cannot write " + target + ": cannot create a file in " + folder_ + " (" + error + ")");
    }
}

OutputFile::~OutputFile() { Discard(); }

void OutputFile::Discard() {
    if (stream_) std::fclose(stream_);
    stream_ = nullptr;
    // Only the file this run made: never what was put in its place (a link, whose target
    // DeleteFileW under Wine would remove).
    if (!committed_ && IsStillFile(temp_, made_)) RemoveFile(temp_);
    marker_.reset();
    RemoveFolder(folder_);
}

void OutputFile::Finish() {
    if (stream_) {
        // On the disk before it takes the target's name, so a crash cannot leave it short
        // there; what ffmpeg or the PNG writer wrote by name is flushed through it too.
        std::string error;
        if (!FlushToDisk(stream_)) error = SystemErrorText();
        if (std::fclose(stream_) != 0 && error.empty()) error = SystemErrorText();
        stream_ = nullptr;
        if (!error.empty()) throw RunError("cannot write " + target_ + ": " + error + "; it is left as it was");
    }
    if (!IsStillFile(temp_, made_))
        throw RunError(temp_ + ", where this run wrote " + target_ + ", was replaced by another program during the "
                       "run; it is left there as it is, and nothing was put in place of " + target_);
    const FileFacts now = InspectFile(target_);
    if (now.exists && !overwrite_) throw RunError(CreatedMeanwhile());
    if (now.folder) throw RunError(target_ + " became a folder during the run; the result is dropped");
}

std::string OutputFile::CreatedMeanwhile() const {
    return target_ + " was created by someone else during the run; it is left as it is and the result is dropped "
                     "(add -y to replace it)";
}

void OutputFile::Commit() {
    if (!MoveInto(temp_, target_, overwrite_))
        throw RunError(!overwrite_ && FileExists(target_)
                           ? CreatedMeanwhile()
                           : "cannot put the result in place of " + target_ + ": " + SystemErrorText());
    committed_ = true;
}

OutputFile& RunOutputs::Add(const std::string& target, bool overwrite) {
    files_.emplace_back(new OutputFile(target, overwrite));
    return *files_.back();
}

void RunOutputs::Commit(const std::string& lastWrites, const std::function<void()>& lastStep) {
    for (const auto& file : files_) file->Finish();
    lastStep();
    // From here only a name taken in the last moment or a failing disk can stop a file; what
    // is in place by then is said.
    std::string placed = lastWrites;
    for (const auto& file : files_) {
        try {
            file->Commit();
        } catch (const RunError& e) {
            throw RunError(e.what() + (placed.empty() ? std::string() : " (already in place: " + placed + ")"));
        }
        placed += (placed.empty() ? "" : ", ") + file->Target();
    }
}

}  // namespace kvx
