#include "files/run_marker.h"

#include <algorithm>
#include <sstream>
#include <vector>

#include "platform/host_environment.h"

namespace kvx {

bool RunMarker::Record(const FileIdentity& file) {
    return Append(std::to_string(file.volume) + " " + std::to_string(file.index) + "\n");
}

void RemoveAbandonedRunFolders(const std::string& parent, const std::string& prefix) {
    for (const std::string& name : FolderNames(parent.empty() ? "." : parent)) {
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string folder = parent + name, marker = AbandonedRunMarker(folder);
        if (marker.empty()) continue;
        std::vector<FileIdentity> made;
        std::istringstream lines(marker.substr(sizeof kRunMarkerText - 1));
        FileIdentity id;
        id.known = true;
        while (lines >> id.volume >> id.index) made.push_back(id);
        for (const std::string& inside : FolderNames(folder)) {
            const std::string path = folder + kPathSeparator + inside;
            const auto madeIt = [&](const FileIdentity& file) { return IsStillFile(path, file); };
            if (std::any_of(made.begin(), made.end(), madeIt)) RemoveFile(path);
        }
        if (FolderNames(folder) != std::vector<std::string>{kRunMarkerName}) continue;  // not all ours
        RemoveFile(folder + kPathSeparator + kRunMarkerName);
        RemoveFolder(folder);
    }
}

}  // namespace kvx
