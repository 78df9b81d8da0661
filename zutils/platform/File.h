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
