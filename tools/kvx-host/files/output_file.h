// The files a run writes for the user (OUT, --output FILE, the PNG). Each is written under
// its own name inside a private folder the run makes beside it (same file system, so the
// final rename is one step; 0700, so no other user can swap the file for a link while
// ffmpeg writes it by name), and all take their names together, only once everything that
// can fail has succeeded: a failed or interrupted run leaves no half-written file and every
// existing one untouched. A run that is killed leaves its folder, marked as a run's own
// (files/run_marker.h); the next run writing into that folder removes it.
#pragma once
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "files/files.h"
#include "files/run_marker.h"

namespace kvx {

class OutputFile {
public:
    // Makes the private folder beside `target` and the temporary file in it. Throws RunError
    // when the folder refuses.
    OutputFile(const std::string& target, bool overwrite);
    // Removes the temporary file and its folder, unless the file took its name.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const std::string& Target() const { return target_; }
    // The temporary file's name (as long as the target's own), for programs that write it
    // by name; its extension is the target's, by which ffmpeg picks the container.
    const std::string& TempName() const { return temp_; }
    // The temporary file, open for writing.
    FILE* Stream() const { return stream_; }
    // Makes it ready to take its name: on the disk (what other programs wrote into it
    // too), still the file this run made, and the name still free (or, with overwrite, a
    // file). Throws RunError.
    void Finish();
    // Puts it in place of the target. Throws RunError (the target is as it was).
    void Commit();

private:
    void Discard();
    std::string CreatedMeanwhile() const;

    std::string target_, folder_, temp_;
    std::unique_ptr<RunMarker> marker_;
    FileIdentity made_;
    FILE* stream_ = nullptr;
    bool overwrite_, committed_ = false;
};

// Whether the folder of `target` lets a run write it (make its private folder there); false
// with `error` saying why not.
bool FolderTakesOutput(const std::string& target, std::string& error);

// Every file a run writes, put in place together at its end.
class RunOutputs {
public:
    OutputFile& Add(const std::string& target, bool overwrite);
    // Finishes every file (a failure leaves every target as it was), then runs `lastStep`
    // (the settings save, which may still refuse: then no file takes its name; it writes
    // `lastWrites`, "" for nothing), and only then puts the files in place. Throws RunError.
    void Commit(const std::string& lastWrites, const std::function<void()>& lastStep);

private:
    std::vector<std::unique_ptr<OutputFile>> files_;
};

}  // namespace kvx
