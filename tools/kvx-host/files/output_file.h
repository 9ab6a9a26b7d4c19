// A file the run writes for the user (OUT, --output FILE, the PNG): written under an
// unpredictable temporary name beside it, created exclusively, and put in its place only
// when the run succeeded. A failed or interrupted run leaves no half-written file and an
// existing one untouched.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

namespace kvx {

class OutputFile {
public:
    // Creates the temporary file beside `target`; its name ends in `suffix` (ffmpeg picks
    // the container by it). Throws RunError when the folder refuses.
    OutputFile(const std::string& target, const std::string& suffix, bool overwrite);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const std::string& TempName() const { return temp_; }
    // The temporary file, open for writing (closed by Commit or the destructor).
    FILE* Stream() const { return stream_; }
    // Closes the stream, if still open, keeping its error.
    bool Close();
    // Puts the finished file in place of the target; throws RunError when that fails.
    void Commit();

private:
    std::string target_, temp_;
    FILE* stream_ = nullptr;
    bool overwrite_, committed_ = false;
};

}  // namespace kvx
