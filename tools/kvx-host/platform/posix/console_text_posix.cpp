#include "console/console_text.h"

namespace kvx {

void PutText(FILE* stream, const std::string& utf8) { std::fputs(utf8.c_str(), stream); }

}  // namespace kvx
