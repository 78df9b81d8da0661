#include "zutils/platform/AtomicFile.h"
#include "zutils/platform/AtomicFileTemporaries.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ZUtils {
namespace platform {

namespace {

extern "C" void removeTemporariesAndDie(int sig) {
  temporaries::removeAll([](const char* path) { return unlink(path) == 0; });
  signal(sig, SIG_DFL);
  raise(sig);
}

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string systemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// Permission bits a plain open(..., 0666) would give under the current umask.
mode_t defaultFileMode() {
  static const mode_t mode = [] {
    const mode_t mask = umask(0);
    umask(mask);
    return mode_t(0666 & ~mask);
  }();
  return mode;
}

}  // namespace

bool makeFolderFor(const std::string& destination, std::string& error) {
  const std::string folder = folderOf(destination);
  struct stat st;
  if (stat(folder.c_str(), &st) != 0) {
    // Top down. A part that exists after a failed mkdir (EEXIST, or EACCES on some
    // network file systems) is fine when it is a folder, whoever made it.
    for (size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
      const std::string part = folder.substr(0, end);
      if (mkdir(part.c_str(), 0777) != 0) {
        const int why = errno;
        if (stat(part.c_str(), &st) != 0) {
          errno = why;
          error = systemError("cannot create the folder", part);
          return false;
        }
        if (!S_ISDIR(st.st_mode)) {
          error = "cannot create the folder " + folder + ": " + part + " is not a folder";
          return false;
        }
      }
      if (end == std::string::npos) break;
    }
  } else if (!S_ISDIR(st.st_mode)) {
    error = "cannot write into " + folder + ": it is not a folder";
    return false;
  }
  if (access(folder.c_str(), W_OK | X_OK) != 0) {
    error = systemError("cannot write into the folder", folder);
    return false;
  }
  return true;
}

void installCleanupOnSignals() {
  defaultFileMode();  // read the umask once, before any thread runs
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    struct sigaction action {};
    action.sa_handler = removeTemporariesAndDie;
    sigemptyset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
  }
}

AtomicFile::~AtomicFile() { discard(); }

bool AtomicFile::open(const std::string& destination, std::string& error) {
  discard();
  destination_ = destination;
  const std::string folder = folderOf(destination);
#ifdef O_TMPFILE
  fd_ = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, defaultFileMode());
  if (fd_ >= 0) {
    writePath_ = "/proc/self/fd/" + std::to_string(fd_);
    if (access(writePath_.c_str(), W_OK) == 0) return true;
    ::close(fd_);  // no /proc: use a named temporary
    fd_ = -1;
  }
#endif
  std::string name = folder + "/." + baseOf(destination) + "." + temporaries::randomSuffix() + ".part";
  fd_ = ::open(name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, defaultFileMode());
  if (fd_ < 0) {
    error = systemError("cannot create a file in", folder);
    return false;
  }
  tempName_ = name;
  cleanupSlot_ = temporaries::claim(tempName_);
  writePath_ = tempName_;
  return true;
}

long long AtomicFile::size() const {
  struct stat st;
  return fd_ >= 0 && fstat(fd_, &st) == 0 ? (long long)st.st_size : -1;
}

bool AtomicFile::commit(std::string& error) {
  if (fd_ < 0) {
    error = "nothing to commit";
    return false;
  }
  if (tempName_.empty()) {
    // Nameless file: straight to the destination when that name is free.
    if (linkat(AT_FDCWD, writePath_.c_str(), AT_FDCWD, destination_.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      discard();
      return true;
    }
    if (errno != EEXIST) {
      error = systemError("cannot create", destination_);
      discard();
      return false;
    }
    // An older file holds the name: link under a temporary name, then rename over it.
    for (int attempt = 0; attempt < 16 && tempName_.empty(); ++attempt) {
      const std::string name = folderOf(destination_) + "/." + baseOf(destination_) + "." + temporaries::randomSuffix() + ".part";
      if (linkat(AT_FDCWD, writePath_.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) tempName_ = name;
      else if (errno != EEXIST) break;
    }
    if (tempName_.empty()) {
      error = systemError("cannot create a file beside", destination_);
      discard();
      return false;
    }
    cleanupSlot_ = temporaries::claim(tempName_);
  }
  if (rename(tempName_.c_str(), destination_.c_str()) != 0) {
    error = systemError("cannot rename the output to", destination_);
    discard();
    return false;
  }
  tempName_.clear();  // now the destination: keep it
  discard();
  return true;
}

void AtomicFile::discard() {
  if (!tempName_.empty()) unlink(tempName_.c_str());
  temporaries::release(cleanupSlot_);
  cleanupSlot_ = -1;
  tempName_.clear();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace platform
}  // namespace ZUtils
