// kvx-host's work, given the arguments after the program name in UTF-8; the exit code.
// Called by the system's entry (main, or wmain on Windows).
#pragma once
#include <string>
#include <vector>

namespace kvx {

int Main(const std::vector<std::string>& args);

}  // namespace kvx
