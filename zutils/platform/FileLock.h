// Platform layer: whole-file locks and flushing of open C streams.
//
// The locks are open-file-description locks (F_OFD_SETLK): they belong to the open file,
// not to the process, so two separate fopen() calls on one file inside the same process
// conflict exactly as two processes would. Classic POSIX record locks would silently let
// the second open through. Closing the stream releases its lock.
#pragma once

#include <cstdio>

namespace ZUtils {
namespace platform {

// Shared (exclusive == false) or exclusive lock over the whole file, without waiting.
// False when another open file description holds a conflicting lock, or on any error.
// An exclusive lock needs a stream opened for writing ("r+b", "wb", ...); a shared lock
// needs one opened for reading.
bool lockFileNoWait(FILE* f, bool exclusive);

// Releases the lock taken by lockFileNoWait on this stream.
bool unlockFile(FILE* f);

// fflush, then fsync: true only when both succeed.
bool flushFileToDisk(FILE* f);

}  // namespace platform
}  // namespace ZUtils
