#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "main.h"
#include "wide_text.h"

namespace {

// Started by a double-click in Explorer: the console was made for this program alone and
// closes when it ends, so a message would flash past unread.
bool InAConsoleOfItsOwn() {
    DWORD processes[2];
    return GetConsoleProcessList(processes, 2) == 1 && _isatty(_fileno(stdin)) && _isatty(_fileno(stdout));
}

}  // namespace

// wmain: the command line arrives in UTF-16, so any path survives whatever the code page.
int wmain(int argc, wchar_t** argv) {
    if (argc == 1 && InAConsoleOfItsOwn()) {
        const int code = kvx::Main({"--help"});
        std::fputs("\nkvx-host is a command-line tool: open a command prompt (cmd) in this folder and run it\n"
                   "there with the options above. Press any key to close this window.\n",
                   stdout);
        std::fflush(stdout);
        _getch();
        return code;
    }
    // msvcrt opens the standard streams in text mode; frames are binary.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(kvx::Narrow(argv[i]));
    return kvx::Main(args);
}
