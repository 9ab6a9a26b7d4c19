#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "main.h"
#include "wide_text.h"

// wmain: the command line arrives in UTF-16, so any path survives whatever the code page.
int wmain(int argc, wchar_t** argv) {
    // msvcrt opens the standard streams in text mode; frames are binary.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(kvx::Narrow(argv[i]));
    return kvx::Main(args);
}
