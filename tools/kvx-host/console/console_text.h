// Text for the user on the standard streams. kvx-host's text is UTF-8; a Windows console
// shows bytes in its own code page (866 on a Russian system), which would garble every
// Cyrillic file name and every Windows error message, so a console gets the text as UTF-16
// through its own call. Pipes and files get the UTF-8 bytes as they are.
#pragma once
#include <cstdio>
#include <string>

#if defined(__MINGW32__)
#define KVX_TEXT_FORMAT __attribute__((format(gnu_printf, 2, 3)))
#else
#define KVX_TEXT_FORMAT __attribute__((format(printf, 2, 3)))
#endif

namespace kvx {

// `stream` is stdout or stderr.
void PutText(FILE* stream, const std::string& utf8);
void PrintText(FILE* stream, const char* format, ...) KVX_TEXT_FORMAT;

}  // namespace kvx
