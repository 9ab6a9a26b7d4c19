#include "console_text.h"

#include <cstdarg>
#include <vector>

#if defined(_WIN32)
#include <windows.h>

#include "files.h"
#endif

namespace kvx {

void PutText(FILE* stream, const std::string& utf8) {
#if defined(_WIN32)
    HANDLE console = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode;
    if (GetConsoleMode(console, &mode)) {
        std::fflush(stream);  // what went before through the C library comes first
        const std::wstring wide = Widen(utf8);
        DWORD written;
        WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
#endif
    std::fputs(utf8.c_str(), stream);
}

void PrintText(FILE* stream, const char* format, ...) {
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::vector<char> text(n > 0 ? static_cast<size_t>(n) + 1 : 1, '\0');
    if (n > 0) std::vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    PutText(stream, text.data());
}

}  // namespace kvx
