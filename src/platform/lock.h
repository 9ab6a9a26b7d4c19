// A plain mutual-exclusion lock. MinGW's win32 thread model has no std::mutex, so the
// Win32 side is a CRITICAL_SECTION and the POSIX side a pthread mutex.
#pragma once

namespace kvx {

class Lock {
public:
    Lock();
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    void Acquire();
    void Release();

private:
    // Big enough and aligned for a CRITICAL_SECTION (24/40 bytes) or a pthread_mutex_t (40).
    alignas(8) unsigned char storage_[64];
};

class LockGuard {
public:
    explicit LockGuard(Lock& lock) : lock_(lock) { lock_.Acquire(); }
    ~LockGuard() { lock_.Release(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    Lock& lock_;
};

}  // namespace kvx
