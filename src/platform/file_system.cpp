#include "platform/file_system.h"

#include <atomic>
#include <string>

#include "platform/host_environment.h"

namespace kvx {

static std::atomic<FileSystem*> g_files{nullptr};

FileSystem& Files() {
    FileSystem* files = g_files.load();
    return files ? *files : SystemFiles();
}

FileSystem* SetFiles(FileSystem* files) {
    FileSystem* previous = g_files.exchange(files);
    return previous ? previous : &SystemFiles();
}

bool ReplaceFileContent(FileSystem& files, const std::string& path, const char* data, size_t size) {
    static std::atomic<uint32_t> counter{0};
    for (int attempt = 0; attempt < 16; ++attempt) {
        // The process id keeps instances apart, the counter saves within one process.
        std::string temp = path + "." + std::to_string(ProcessId()) + "-" +
                           std::to_string(counter++) + ".tmp";
        switch (files.WriteNew(temp, data, size)) {
        case CreateStatus::kExists:
            continue;  // left over from an earlier process: take another name
        case CreateStatus::kNotCreated:
            return files.Overwrite(path, data, size);
        case CreateStatus::kFailed:
            files.Remove(temp);
            return false;
        case CreateStatus::kWritten:
            if (files.Replace(temp, path)) return true;
            files.Remove(temp);
            return false;
        }
    }
    return false;
}

}  // namespace kvx
