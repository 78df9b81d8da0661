// The temporary input files of the file-level targets: one directory per process, removed
// at exit, so that two fuzzers never share an input. The directory is on the memory file
// system where there is one: every input is written, opened and closed a few times.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzTarget.h"

namespace nebfuzz {
namespace {

struct TempDir {
  std::string path;
  std::string last;
  TempDir() {
    char shm[] = "/dev/shm/nebfuzz-XXXXXX";
    char tmp[] = "/tmp/nebfuzz-XXXXXX";
    if (mkdtemp(shm)) {
      path = shm;
    } else if (mkdtemp(tmp)) {
      path = tmp;
    }
  }
  ~TempDir() {
    if (!last.empty()) unlink(last.c_str());
    if (!path.empty()) rmdir(path.c_str());
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
  if (!d.last.empty() && d.last != file) unlink(d.last.c_str());
  d.last = file;
  const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return nullptr;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  return done == size ? file.c_str() : nullptr;
}

}  // namespace nebfuzz
