#include "modes/modes.h"
#include "plugin/host_session.h"
#include "run/run_settings.h"

namespace kvx {

int RunSettingsOnly(const RunPlan& plan, const std::string& folder) {
    HostSession session(plan.o.plugin, plan.o.forgetChannels);
    const RunSettings settings = PrepareSettings(plan, folder, session);
    if (plan.o.settings.save) {  // through the plug-in's own save, as the TV application would
        session.Init();
        session.Plugin().Deinit();
        SaveSettingsBack(plan, settings);
    }
    return 0;
}

}  // namespace kvx
