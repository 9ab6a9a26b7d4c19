#include "output_file.h"

#include "errors.h"
#include "files.h"

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

void WriteComparisonPng(const std::string& png, bool overwrite, const std::vector<uint8_t>& before,
                        const std::vector<uint8_t>& after, const FrameGeometry& g) {
    OutputFile file(png, ".png", overwrite);
    file.Close();  // stb writes it by its name
    if (!WriteSideBySidePng(file.TempName(), {ToRgb(before, g), ToRgb(after, g)}, g.width, g.height))
        throw RunError("cannot write " + png);
    file.Commit();
}

}  // namespace kvx
