#include "files/output_file.h"

#include "errors.h"
#include "files/files.h"

namespace kvx {

OutputFile::OutputFile(const std::string& target, const std::string& suffix, bool overwrite)
    : target_(target), overwrite_(overwrite) {
    std::string error;
    stream_ = CreateBeside(target, suffix, temp_, error);
    if (!stream_) throw RunError("cannot write " + target + ": " + error);
}

OutputFile::~OutputFile() {
    Close();
    if (!committed_) RemoveFile(temp_);
}

bool OutputFile::Close() {
    if (!stream_) return true;
    // On the disk before it takes the target's name, so a crash cannot leave it empty there.
    const bool flushed = FlushToDisk(stream_);
    const bool ok = std::fclose(stream_) == 0 && flushed;
    stream_ = nullptr;
    return ok;
}

void OutputFile::Commit() {
    if (!Close()) throw RunError("cannot write " + target_ + ": " + SystemErrorText());
    if (!MoveInto(temp_, target_, overwrite_))
        throw RunError(FileExists(target_) && !overwrite_
                           ? target_ + " was created by someone else during the run; it is left as it is and "
                                       "the result is dropped (add -y to replace it)"
                           : "cannot put the result in place of " + target_ + ": " + SystemErrorText());
    committed_ = true;
}

}  // namespace kvx
