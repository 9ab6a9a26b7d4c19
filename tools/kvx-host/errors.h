// The two kinds of failure kvx-host reports, each as one line starting "kvx-host:" that
// says what to do: a command line it cannot carry out (exit code 2), and a request that
// failed while being carried out (a file, the plug-in, another program; exit code 1).
#pragma once
#include <stdexcept>

namespace kvx {

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct RunError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace kvx
