// --fit-log: each change of the plug-in's live fit, read after every frame through its
// optional export KVX_LiveFitState: the frame, the part of the frame shown, the settings in
// force and why. Text lines, or JSON lines when the name ends in .json or .jsonl. The log is
// one of the run's outputs: it takes its name with the others, when the whole run succeeded.
#pragma once
#include <cstdint>
#include <string>

#include "files/output_file.h"
#include "host/abi.h"

namespace kvx {

class FitLog {
public:
    // Starts the log `name` among `outputs`; throws RunError, before it makes any file, when
    // the plug-in `plugin` reports no live fit.
    FitLog(const std::string& name, bool overwrite, LiveFitStateProc state, const std::string& plugin,
           RunOutputs& outputs);
    // After frame `frame` (from 0) of channel `key`: a line when the fit changed with it.
    void AfterFrame(long long frame, uint64_t key);
    // Throws RunError when a line could not be written.
    void Check() const;

private:
    LiveFitState Poll() const;

    std::string name_;
    LiveFitStateProc state_;
    bool json_;
    OutputFile* file_ = nullptr;
    uint32_t changes_ = 0;  // the plug-in's count of changes at the last line
};

}  // namespace kvx
