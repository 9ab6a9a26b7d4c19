#include "run/private_run.h"

#include "errors.h"
#include "files/files.h"

namespace kvx {

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
