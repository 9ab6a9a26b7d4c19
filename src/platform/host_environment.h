// What the host process and the machine tell about where settings belong: the system
// family, the machine-wide "StoreInUsersFolder" switch, the user's application-data
// folder, the host program's path and its command line.
//
// Natively: the system always counts as NT-family; the switch is the decimal number in
// the file /etc/korvanta/StoreInUsersFolder (missing, unreadable or not a number: off);
// the application-data folder is $XDG_CONFIG_HOME, else $HOME/.config; the host program
// is /proc/self/exe and the command line /proc/self/cmdline with its arguments joined by
// blanks.
#pragma once
#include <cstdint>
#include <string>

namespace kvx {

#if defined(_WIN32)
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

struct HostEnvironment {
    bool versionKnown = false;  // the system's version could be obtained at all
    bool ntFamily = false;
    uint32_t storeInUsersFolder = 0;  // non-zero: settings go to the user's folder
    bool appDataKnown = false;
    std::string appDataFolder;   // without a trailing separator
    std::string hostExecutable;  // full path of the host program's file
    std::string commandLine;     // the host process's whole command line
};

HostEnvironment QueryHostEnvironment();

// A number no other running process has (temporary file names).
uint32_t ProcessId();

}  // namespace kvx
