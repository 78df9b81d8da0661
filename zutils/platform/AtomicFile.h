// Platform layer: an output file that appears under its name only when it is complete.
//
// POSIX: the data are written to a file without a name: an O_TMPFILE inode in the
// destination's folder, which the kernel frees with the last descriptor, so neither a
// failed frame nor a killed process (SIGKILL included) leaves anything behind. OpenVDB
// writes it through "/proc/self/fd/N". commit() links it into the folder under the
// destination name, or, when a file of that name exists, under a hidden temporary name
// and renames that over the old file (rename replaces atomically: readers see the old
// file or the new one). Where O_TMPFILE is not supported (some network file systems), the
// data go to a hidden ".<name>.XXXXXX.part" file in the folder instead. Such files are
// removed on failure and by SIGINT, SIGTERM, SIGHUP and SIGQUIT (see
// installCleanupOnSignals); only SIGKILL or a crash can leave one, never a partial file
// under the destination name.
//
// Windows: the data go to a ".<name>.XXXXXXXX.part" file in the destination's folder,
// which commit() moves over the destination with MoveFileExW (MOVEFILE_REPLACE_EXISTING |
// MOVEFILE_WRITE_THROUGH: one step, on disk when it returns). Failures remove it, and so
// do Ctrl+C, Ctrl+Break and closing the console (installCleanupOnSignals), also while it
// is being written (openFile shares files for deletion); a killed process can leave one,
// never a partial file under the destination name.
#pragma once

#include <string>

namespace ZUtils {
namespace platform {

class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile();  // discards the data unless committed
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the file the data go to, beside `destination`. False with `error` set.
  bool open(const std::string& destination, std::string& error);
  // Where the data go (valid after open()).
  const std::string& writePath() const { return writePath_; }
  // Size of what was written so far.
  long long size() const;
  // Gives the data the destination name. False with `error` set; the data are discarded.
  bool commit(std::string& error);
  void discard();

 private:
  std::string destination_, writePath_, tempName_;
  int fd_ = -1;  // POSIX: the open file (Windows keeps none open: the name is enough)
  int cleanupSlot_ = -1;  // slot of the named temporary in the signal cleanup table
};

// Makes the folder `destination` goes into, with every missing parent (as "mkdir -p",
// mode 0777 less the umask), and checks that files can be created in it (POSIX; on
// Windows that shows when open() creates one). Safe when many processes make the same
// folders at once: a folder that appears meanwhile is success. False with `error` set
// (the folder named) when a part cannot be made, is no folder, or the folder is not
// writable.
bool makeFolderFor(const std::string& destination, std::string& error);

// Installs handlers that remove the named temporaries of running AtomicFiles and then
// end the process by the same signal (Windows: by the console control event).
void installCleanupOnSignals();

}  // namespace platform
}  // namespace ZUtils
