// Opening and examining files named by UTF-8 paths.
#pragma once

#include <cstdint>
#include <cstdio>

namespace ZUtils {

// fopen with a UTF-8 name (on POSIX the bytes are the name, on Windows it goes through
// the wide functions). Null on failure.
FILE* openFileUtf8(const char* name, const char* mode);

// Last modification time (seconds since the epoch), 0 when the file cannot be examined.
int64_t fileModificationTime(const char* name);

}  // namespace ZUtils
