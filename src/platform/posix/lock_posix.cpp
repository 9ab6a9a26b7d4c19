#include <pthread.h>

#include <new>

#include "platform/lock.h"

namespace kvx {

static_assert(sizeof(pthread_mutex_t) <= 64, "lock storage too small");

static pthread_mutex_t* Mutex(unsigned char* storage) {
    return reinterpret_cast<pthread_mutex_t*>(storage);
}

Lock::Lock() { new (storage_) pthread_mutex_t(PTHREAD_MUTEX_INITIALIZER); }
Lock::~Lock() { pthread_mutex_destroy(Mutex(storage_)); }
void Lock::Acquire() { pthread_mutex_lock(Mutex(storage_)); }
void Lock::Release() { pthread_mutex_unlock(Mutex(storage_)); }

}  // namespace kvx
