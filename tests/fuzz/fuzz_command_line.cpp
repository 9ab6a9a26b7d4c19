// kvx-host's command line: any arguments are parsed and planned, or refused with a
// UsageError; nothing else may escape, crash or read out of bounds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "run/options.h"
#include "run/run_plan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Arguments are separated by NUL bytes, as in /proc/PID/cmdline.
    std::vector<std::string> args(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) args.emplace_back();
        else args.back() += static_cast<char>(data[i]);
    }
    try {
        const kvx::Options parsed = kvx::ParseCommandLine(args);
        if (!parsed.help && !parsed.version) kvx::MakeRunPlan(parsed);
    } catch (const kvx::UsageError&) {
    }
    return 0;
}
