#include "plugin/fit_log.h"

#include <cstdio>

#include "errors.h"
#include "files/files.h"
#include "settings/setting_list.h"

namespace kvx {

namespace {

// Why the fit changed: words for JSON, and the same said for people.
struct ReasonText {
    const char *word, *text;
};
ReasonText Reason(int32_t reason) {
    switch (reason) {
    case kFitBarsHeld: return {"bars held", "black bars held for 2 s"};
    case kFitPictureInBar: return {"picture in a bar", "picture where a bar was"};
    case kFitTextInBar: return {"text in a bar", "text or a logo in a bar"};
    case kFitChannel: return {"channel", "the channel's last fit of this run"};
    case kFitSettings: return {"settings", "KeepAspect or Interlace changed"};
    case kFitOff: return {"off", "auto-fit or processing switched off, or a new frame size"};
    }
    return {"unknown", "a reason this kvx-host does not know"};
}

std::string Line(const LiveFitState& s, long long frame, uint64_t key, bool json) {
    const ReasonText why = Reason(s.reason);
    const std::string scaleX = PerMilleAsPercent(s.scaleX), scaleY = PerMilleAsPercent(s.scaleY);
    const std::string offsetX = PerMilleAsPercent(s.offsetX), offsetY = PerMilleAsPercent(s.offsetY);
    char line[512];
    if (json)
        std::snprintf(line, sizeof line,
                      "{\"frame\": %lld, \"channel\": %llu, \"fit\": %s, \"shown\": {\"left\": %d, \"top\": %d, "
                      "\"right\": %d, \"bottom\": %d}, \"settings\": {\"ScaleX\": %s, \"ScaleY\": %s, \"OffsetX\": %s, "
                      "\"OffsetY\": %s}, \"reason\": \"%s\"}\n",
                      frame, static_cast<unsigned long long>(key), s.active ? "true" : "false", s.left, s.top,
                      s.right, s.bottom, scaleX.c_str(), scaleY.c_str(), offsetX.c_str(), offsetY.c_str(), why.word);
    else
        std::snprintf(line, sizeof line,
                      "frame %lld, channel %llu: %s left %d, top %d, right %d, bottom %d with ScaleX %s %%, "
                      "ScaleY %s %%, OffsetX %s %%, OffsetY %s %%: %s\n",
                      frame, static_cast<unsigned long long>(key), s.active ? "fit to" : "no fit, shows", s.left,
                      s.top, s.right, s.bottom, scaleX.c_str(), scaleY.c_str(), offsetX.c_str(), offsetY.c_str(),
                      why.text);
    return line;
}

}  // namespace

FitLog::FitLog(const std::string& name, bool overwrite, LiveFitStateProc state, const std::string& plugin,
               RunOutputs& outputs)
    : name_(name), state_(state), json_(Extension(name) == "json" || Extension(name) == "jsonl") {
    if (!state_)
        throw RunError("--fit-log: " + plugin + " does not report its live fit (it has no KVX_LiveFitState); "
                       "use the KVX_Scaler this kvx-host came with");
    file_ = &outputs.Add(name, overwrite);
    changes_ = Poll().changes;
}

LiveFitState FitLog::Poll() const {
    LiveFitState s{};
    s.size = sizeof s;
    state_(&s);
    return s;
}

void FitLog::AfterFrame(long long frame, uint64_t key) {
    const LiveFitState s = Poll();
    if (s.changes == changes_) return;
    changes_ = s.changes;
    const std::string line = Line(s, frame, key, json_);
    std::fwrite(line.data(), 1, line.size(), file_->Stream());
}

void FitLog::Check() const {
    if (std::ferror(file_->Stream())) throw RunError("cannot write --fit-log " + name_ + ": the disk refused a line");
}

}  // namespace kvx
