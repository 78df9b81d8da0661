// Platform layer: files named by UTF-8 paths, 64-bit positions, directory listing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace ZUtils {
namespace platform {

// fopen with a UTF-8 name. POSIX names are byte strings and are passed as they are; on
// Windows the name goes through the wide functions (lossless conversion, Utf16.h), so
// any name, non-ASCII or not valid UTF-8, opens the file it names. Null on failure.
FILE* openFile(const char* utf8Name, const char* mode);

// Last modification time in seconds since 1970-01-01 UTC; false when the file cannot be
// examined.
bool modificationTime(const char* utf8Name, int64_t* seconds);

// Size in bytes of the file at this path; false when it cannot be examined.
bool fileSize(const char* utf8Name, int64_t* bytes);

// What tells one state of a file from another: its size and its last modification time at
// the file system's full precision (nanoseconds on ext4, XFS and most NFS servers, 100 ns
// on NTFS, seconds on some older systems), so that a rewrite within the same second shows.
struct FileStamp {
  int64_t bytes = 0;
  int64_t modifiedNs = 0;  // nanoseconds since 1970-01-01 UTC
};

// One look at the file (stat / GetFileAttributesExW). False when it cannot be examined, or
// when its time lies outside what 64-bit nanoseconds hold (years 1678 to 2261).
bool fileStamp(const char* utf8Name, FileStamp* stamp);

// `utf8Path` made absolute against the current folder, without resolving links or "..":
// the same relative name given from two folders gives two paths. False when the current
// folder cannot be found.
bool absolutePath(const char* utf8Path, std::string* absolute);

// fseek / ftell with 64-bit positions (files beyond 2 GiB). seekFile is false on failure,
// tellFile -1.
bool seekFile(FILE* f, int64_t offset, int origin);
int64_t tellFile(FILE* f);

// Appends the names (UTF-8) of the entries of a directory to `names`, in the order the
// system gives them, "." and ".." included where the system lists them. False when the
// directory cannot be read. May throw std::bad_alloc from the vector.
bool listDirectory(const char* utf8Dir, std::vector<std::string>* names);

// Broken-down local time of `seconds` since the epoch; false when it cannot be converted.
bool localTime(int64_t seconds, struct tm* out);

}  // namespace platform
}  // namespace ZUtils
