// kvx-host's UTF-8 text and the wide-character text of the Windows calls.
#pragma once
#include <string>

namespace kvx {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);

}  // namespace kvx
