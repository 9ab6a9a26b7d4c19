#include <windows.h>
#include <shlobj.h>

#include "platform/host_environment.h"

namespace kvx {
namespace {

bool QueryFamily(bool* nt) {
    OSVERSIONINFOEXA extended{};
    extended.dwOSVersionInfoSize = sizeof extended;
    if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&extended))) {
        *nt = extended.dwPlatformId == VER_PLATFORM_WIN32_NT;
        return true;
    }
    OSVERSIONINFOA plain{};
    plain.dwOSVersionInfoSize = sizeof plain;
    if (!GetVersionExA(&plain)) return false;
    *nt = plain.dwPlatformId == VER_PLATFORM_WIN32_NT;
    return true;
}

uint32_t MachineSwitch() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Korvanta", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    // Read as four bytes whatever the value's type; a value that does not fit counts as off.
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key, "StoreInUsersFolder", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
        value = 0;
    RegCloseKey(key);
    return value;
}

bool AppDataFolder(std::string* folder) {
    char path[MAX_PATH + 1] = {};
    if (!SHGetSpecialFolderPathA(nullptr, path, CSIDL_APPDATA, FALSE) || !path[0]) return false;
    *folder = path;
    while (folder->size() > 3 && folder->back() == '\\') folder->pop_back();
    return true;
}

}  // namespace

HostEnvironment QueryHostEnvironment() {
    HostEnvironment env;
    env.versionKnown = QueryFamily(&env.ntFamily);
    env.storeInUsersFolder = MachineSwitch();
    env.appDataKnown = AppDataFolder(&env.appDataFolder);

    char exe[MAX_PATH + 1] = {};
    DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
    if (n > 0 && n < MAX_PATH) env.hostExecutable.assign(exe, n);  // MAX_PATH: truncated

    if (const char* line = GetCommandLineA()) env.commandLine = line;
    return env;
}

uint32_t ProcessId() { return GetCurrentProcessId(); }

}  // namespace kvx
