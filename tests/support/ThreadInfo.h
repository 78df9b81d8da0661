// What the system says about the calling thread, for tests of the pool and the platform
// layer, on every system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace testsupport {

// The calling thread's name as debuggers see it (empty when it has none).
inline std::string currentThreadName() {
#if defined(_WIN32)
  // GetThreadDescription exists from Windows 10 1607 on: looked up, not imported.
  typedef HRESULT(WINAPI * GetDescription)(HANDLE, PWSTR*);
  auto get = reinterpret_cast<GetDescription>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetThreadDescription")));
  if (!get) return std::string();
  PWSTR wide = nullptr;
  std::string name;
  if (SUCCEEDED(get(GetCurrentThread(), &wide)) && wide) {
    for (const wchar_t* p = wide; *p; ++p) name += static_cast<char>(*p);  // the tests use ASCII names
    LocalFree(wide);
  }
  return name;
#else
  char name[32] = {};
  pthread_getname_np(pthread_self(), name, sizeof name);
  return name;
#endif
}

// True when the calling thread runs one step below the process's normal priority, as the
// platform layer sets it (Linux: nice 5 above the process's value, at most 19; Windows:
// THREAD_PRIORITY_BELOW_NORMAL).
inline bool currentThreadBelowNormal() {
#if defined(_WIN32)
  return GetThreadPriority(GetCurrentThread()) == THREAD_PRIORITY_BELOW_NORMAL;
#else
  errno = 0;
  const int base = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
  const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
  return nice == (base + 5 > 19 ? 19 : base + 5);
#endif
}

// Size of the calling thread's stack (its reserved address range on Windows).
inline size_t currentThreadStackBytes() {
#if defined(_WIN32)
  ULONG_PTR low = 0, high = 0;
  GetCurrentThreadStackLimits(&low, &high);
  return static_cast<size_t>(high - low);
#else
  size_t stack = 0;
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    pthread_attr_getstacksize(&attr, &stack);
    pthread_attr_destroy(&attr);
  }
  return stack;
#endif
}

// The kernel's id of the calling thread.
inline uint64_t currentKernelThreadId() {
#if defined(_WIN32)
  return GetCurrentThreadId();
#else
  return static_cast<uint64_t>(syscall(SYS_gettid));
#endif
}

// True while the thread with that kernel id is still part of this process.
inline bool threadStillRunning(uint64_t id) {
#if defined(_WIN32)
  HANDLE h = OpenThread(SYNCHRONIZE, FALSE, static_cast<DWORD>(id));
  if (!h) return false;
  const bool running = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
  CloseHandle(h);
  return running;
#else
  struct stat st;
  return stat(("/proc/self/task/" + std::to_string(id)).c_str(), &st) == 0;
#endif
}

}  // namespace testsupport

namespace testsupport {

// Processor time (user + system) this process has used so far, in seconds.
inline double processCpuSeconds() {
#if defined(_WIN32)
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0.0;
  auto seconds = [](const FILETIME& t) {
    return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) * 1e-7;
  };
  return seconds(kernel) + seconds(user);
#else
  struct rusage usage;
  if (getrusage(RUSAGE_SELF, &usage) != 0) return 0.0;
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
#endif
}

}  // namespace testsupport
