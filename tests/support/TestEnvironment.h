// Environment variables, the time zone and file times for tests, on every system.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

#if defined(_WIN32)
#include <sys/utime.h>
#else
#include <utime.h>
#endif

namespace testsupport {

inline void setEnv(const char* name, const char* value) {
#if defined(_WIN32)
  _putenv_s(name, value);
#else
  setenv(name, value, 1);
#endif
}

inline void unsetEnv(const char* name) {
#if defined(_WIN32)
  _putenv_s(name, "");  // an empty value removes the variable
#else
  unsetenv(name);
#endif
}

// Re-reads TZ after a change.
inline void reloadTimeZone() {
#if defined(_WIN32)
  _tzset();
#else
  tzset();
#endif
}

// Sets the access and modification times of a file to `seconds` since the epoch.
inline bool setModificationTime(const std::string& path, long long seconds) {
#if defined(_WIN32)
  struct __utimbuf64 times;
  times.actime = seconds;
  times.modtime = seconds;
  return _utime64(path.c_str(), &times) == 0;
#else
  struct utimbuf times;
  times.actime = static_cast<time_t>(seconds);
  times.modtime = static_cast<time_t>(seconds);
  return utime(path.c_str(), &times) == 0;
#endif
}

}  // namespace testsupport
