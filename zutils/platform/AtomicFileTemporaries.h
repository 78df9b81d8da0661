// Platform layer, behind AtomicFile: the table of named temporaries that running
// AtomicFiles hold, for their removal when the process is interrupted, and the random
// part of those names. Shared by the POSIX and the Windows side.
#pragma once

#include <string>

namespace ZUtils {
namespace platform {
namespace temporaries {

// Enters a path into the table: its slot, or -1 when the table is full or the path too
// long (that file is then not removed on interruption; everything else still works).
int claim(const std::string& path);
// Takes the path of `slot` out of the table; -1 is ignored.
void release(int slot);
// Calls `remove` on every path in the table; `remove` tells whether the file is gone.
// Returns how many are not. Fixed storage and atomic flags only, no allocation or lock:
// callable from a signal handler.
int removeAll(bool (*remove)(const char* path));

// Eight random letters and digits for a temporary name.
std::string randomSuffix();

}  // namespace temporaries
}  // namespace platform
}  // namespace ZUtils
