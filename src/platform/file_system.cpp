#include "platform/file_system.h"

#include <atomic>

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

}  // namespace kvx
