#include <windows.h>

#include "platform/lock.h"

namespace kvx {

static_assert(sizeof(CRITICAL_SECTION) <= 64, "lock storage too small");

static CRITICAL_SECTION* Section(unsigned char* storage) {
    return reinterpret_cast<CRITICAL_SECTION*>(storage);
}

Lock::Lock() { InitializeCriticalSection(Section(storage_)); }
Lock::~Lock() { DeleteCriticalSection(Section(storage_)); }
void Lock::Acquire() { EnterCriticalSection(Section(storage_)); }
void Lock::Release() { LeaveCriticalSection(Section(storage_)); }

}  // namespace kvx
