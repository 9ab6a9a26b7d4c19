#include "run/private_run.h"

#include <cstdio>

#include "console/console_text.h"
#include "errors.h"
#include "files/files.h"

namespace kvx {

int ExitCodeOfCopy(int status) {
    if (status >= kCopyExitBase && status < kCopyExitBase + 16) return status - kCopyExitBase;
    PrintText(stderr, "kvx-host: the run did not finish: its working copy was ended from outside (exit status "
                      "%d), perhaps for lack of memory; its outputs were not put in place\n", status);
    return status > 128 ? status : 1;  // a signal's number as shells give it
}

const char kPrivateFolderVariable[] = "KVX_HOST_PRIVATE_DIR";

std::string PrivateFolderOfThisRun() {
    const std::string folder = EnvironmentValue(kPrivateFolderVariable);
    if (folder.empty()) return std::string();
    // Compared by identity: the same folder may be spelled with a trailing separator,
    // through a link or relative to the current folder.
    const FileIdentity named = IdentifyFile(folder), own = IdentifyFile(FolderPart(ThisProgramFile()));
    if (!(named == own) || !named.newName.empty())
        throw RunError(std::string(kPrivateFolderVariable) + " is set to " + folder +
                       ", which is not the private folder of this kvx-host; it is kvx-host's own "
                       "variable: unset it and run again");
    return folder;
}

}  // namespace kvx
