// The temporary input files of the file-level targets: one directory per process, removed
// at exit, so that two fuzzers never share an input. The directory is on the memory file
// system where there is one: every input is written, opened and closed a few times.
#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "FuzzTarget.h"

namespace nebfuzz {
namespace {

struct TempDir {
  std::string path;
  std::string last;
  TempDir() {
#if defined(_WIN32)
    // No memory file system and no mkdtemp: a folder named after the process in the
    // temporary folder (the replay tests run there).
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::temp_directory_path(ec) / ("nebfuzz-" + std::to_string(_getpid()));
    if (!ec && (std::filesystem::create_directory(p, ec) || std::filesystem::is_directory(p, ec))) path = p.generic_string();
#else
    char shm[] = "/dev/shm/nebfuzz-XXXXXX";
    char tmp[] = "/tmp/nebfuzz-XXXXXX";
    if (mkdtemp(shm)) {
      path = shm;
    } else if (mkdtemp(tmp)) {
      path = tmp;
    }
#endif
  }
  ~TempDir() {
    if (!last.empty()) std::remove(last.c_str());
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove(path, ec);
  }
};

TempDir& dir() {
  static TempDir d;
  return d;
}

}  // namespace

const char* writeTempFile(const char* name, const uint8_t* data, size_t size) {
  static std::string file;
  TempDir& d = dir();
  if (d.path.empty()) return nullptr;
  file = d.path + "/" + name;
  if (!d.last.empty() && d.last != file) std::remove(d.last.c_str());
  d.last = file;
  FILE* f = std::fopen(file.c_str(), "wb");
  if (!f) return nullptr;
  const size_t done = size ? std::fwrite(data, 1, size, f) : 0;
  const bool closed = std::fclose(f) == 0;
  return done == size && closed ? file.c_str() : nullptr;
}

}  // namespace nebfuzz
