#include <windows.h>

#include "console/console_text.h"
#include "files/files.h"
#include "wide_text.h"

namespace kvx {

void PutText(FILE* stream, const std::string& utf8) {
    HANDLE console = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode;
    if (GetConsoleMode(console, &mode)) {
        std::fflush(stream);  // what went before through the C library comes first
        const std::wstring wide = Widen(utf8);
        DWORD written;
        WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    std::fputs(utf8.c_str(), stream);
}

}  // namespace kvx
