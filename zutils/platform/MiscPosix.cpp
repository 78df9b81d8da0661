#include "zutils/platform/Misc.h"

#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ZUtils {
namespace platform {

void sleepMs(int ms) {
  if (ms <= 0) {
    sched_yield();
    return;
  }
  struct timespec left;
  left.tv_sec = ms / 1000;
  left.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  // Signals interrupt nanosleep; sleep the remainder so the wait is never short.
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

bool fileExists(const char* utf8Path) {
  if (!utf8Path || !*utf8Path) return false;
  struct stat st;
  return stat(utf8Path, &st) == 0;
}

bool standardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

uint64_t currentThreadId() { return static_cast<uint64_t>(syscall(SYS_gettid)); }

void setCurrentThreadName(const char* name) {
  if (!name) return;
  // The kernel rejects (ERANGE) names longer than 15 characters instead of cutting them.
  char cut[16];
  std::strncpy(cut, name, sizeof cut - 1);
  cut[sizeof cut - 1] = '\0';
  pthread_setname_np(pthread_self(), cut);
}

int64_t tickCountMs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace platform
}  // namespace ZUtils
