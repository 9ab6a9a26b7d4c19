#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/host_environment.h"

namespace kvx {
namespace {

// The whole of a small system file, or "" when it cannot be read.
std::string ReadSmallFile(const char* path, size_t limit) {
    std::string text;
    if (FILE* f = std::fopen(path, "rb")) {
        char chunk[4096];
        size_t n;
        while (text.size() < limit && (n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
            text.append(chunk, n);
        std::fclose(f);
    }
    return text;
}

uint32_t MachineSwitch() {
    std::string text = ReadSmallFile("/etc/korvanta/StoreInUsersFolder", 64);
    size_t i = text.find_first_not_of(" \t\r\n\v\f");
    uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10 + static_cast<uint32_t>(text[i] - '0');
    return value;
}

bool AppDataFolder(std::string* folder) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/') {
        *folder = config;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/') return false;
        *folder = std::string(home) + "/.config";
    }
    while (folder->size() > 1 && folder->back() == '/') folder->pop_back();
    return true;
}

}  // namespace

HostEnvironment QueryHostEnvironment() {
    HostEnvironment env;
    env.versionKnown = true;
    env.ntFamily = true;
    env.storeInUsersFolder = MachineSwitch();
    env.appDataKnown = AppDataFolder(&env.appDataFolder);

    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe);
    if (n > 0 && static_cast<size_t>(n) < sizeof exe) env.hostExecutable.assign(exe, n);

    // The arguments are NUL-separated; joined by blanks they read like a command line.
    env.commandLine = ReadSmallFile("/proc/self/cmdline", 1 << 20);
    while (!env.commandLine.empty() && env.commandLine.back() == '\0') env.commandLine.pop_back();
    for (char& c : env.commandLine)
        if (c == '\0') c = ' ';
    return env;
}

uint32_t ProcessId() { return static_cast<uint32_t>(getpid()); }

}  // namespace kvx
