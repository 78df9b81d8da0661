#include <pthread.h>

#include <new>

#include "zutils/platform/Lock.h"

namespace ZUtils {
namespace platform {

namespace {
pthread_mutex_t* mutexOf(unsigned char* storage) { return reinterpret_cast<pthread_mutex_t*>(storage); }
}  // namespace

CriticalSection::CriticalSection() {
  static_assert(sizeof(pthread_mutex_t) <= sizeof(storage_), "CriticalSection storage too small");
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  // Critical sections are re-entrant for their owning thread.
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(new (static_cast<void*>(storage_)) pthread_mutex_t, &attr);
  pthread_mutexattr_destroy(&attr);
}

CriticalSection::~CriticalSection() { pthread_mutex_destroy(mutexOf(storage_)); }

void CriticalSection::enter() { pthread_mutex_lock(mutexOf(storage_)); }
void CriticalSection::leave() { pthread_mutex_unlock(mutexOf(storage_)); }
bool CriticalSection::tryEnter() { return pthread_mutex_trylock(mutexOf(storage_)) == 0; }

}  // namespace platform
}  // namespace ZUtils
