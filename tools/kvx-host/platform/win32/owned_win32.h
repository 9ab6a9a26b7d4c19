// Whether a file or folder belongs to this user, for telling a killed run's leftovers from
// what others made.
#pragma once
#include <windows.h>

namespace kvx {

// Whether the file or folder open as `h` is this user's: owned by the user, or by the owner
// the system gives what this user creates (the Administrators group in an elevated run).
bool OwnedByThisUser(HANDLE h);

}  // namespace kvx
