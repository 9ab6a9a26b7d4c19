// kvx-host: the reference host. Loads a plug-in through its two exports and drives it as the
// TV application does: Init, FormatChange, ProcessFrame for every frame, Free, Deinit.
// main parses and checks the command line into the run's plan, then runs the copy in a
// private folder, which carries out the plan's mode.
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "console/console_text.h"
#include "console/stop_signal.h"
#include "errors.h"
#include "files/files.h"
#include "main.h"
#include "modes/modes.h"
#include "run/file_checks.h"
#include "run/options.h"
#include "run/private_run.h"
#include "run/run_plan.h"

#ifndef KVX_VERSION
#define KVX_VERSION "unknown"
#endif

namespace kvx {
namespace {

int RunPlanned(const RunPlan& plan, const std::string& folder) {
    switch (plan.mode) {
        case RunMode::SettingsOnly: return RunSettingsOnly(plan, folder);
        case RunMode::Detect: return RunDetect(plan, folder);
        case RunMode::Frames: return RunFrames(plan, folder);
    }
    return 1;
}

int RunMain(const std::vector<std::string>& args, bool& copy) {
    try {
        const Options parsed = ParseCommandLine(args);
        if (parsed.help) {
            PutText(stdout, HelpText());
            return 0;
        }
        if (parsed.version) {
            PrintText(stdout, "kvx-host %s\n", KVX_VERSION);
            return 0;
        }
        const RunPlan plan = MakeRunPlan(parsed);
        const std::string folder = PrivateFolderOfThisRun();
        copy = !folder.empty();
        // Checked by the program the user started, so a bad command line is reported before
        // any folder is made, and again by the copy, whose run it is.
        CheckFiles(plan);
        if (folder.empty()) {
            for (const std::string& warning : plan.o.warnings) PrintText(stderr, "kvx-host: %s\n", warning.c_str());
            return ExitCodeOfCopy(RunInPrivateFolder(args));
        }
        CatchStopSignals();
        return RunPlanned(plan, folder);
    } catch (const UsageError& e) {
        PrintText(stderr, "kvx-host: %s\n", e.what());
        return 2;
    } catch (const std::runtime_error& e) {
        PrintText(stderr, "kvx-host: %s\n", e.what());
        return 1;
    } catch (const std::bad_alloc&) {
        std::fputs("kvx-host: out of memory\n", stderr);  // no memory to convert it
        return 1;
    }
}

}  // namespace

int Main(const std::vector<std::string>& args) {
    bool copy = false;
    const int code = RunMain(args, copy);
    return copy ? kCopyExitBase + code : code;
}

}  // namespace kvx
