// Shared/exclusive locking of cache files while a loader reads them, and the process-wide
// set of files being opened.
//
// The open-file set is keyed by the ADDRESS of the caller's path text, not by its content:
// loads that pass the same path buffer are serialised, loads with equal text in different
// buffers are not (the byte-range lock of the file still keeps writers out).
#pragma once

#include <cstdio>

class OstraneFrameData;

// How often and how far apart the open-file set and the file lock are retried (the open of
// a file without openOnce uses the same figures). Default 30 attempts, 200 ms apart; tests
// shorten them. Values below 1 (attempts) and 0 (interval) are raised to 1 and 0.
void SetCacheFileRetry(int attempts, int intervalMs);
int CacheFileRetryAttempts();
int CacheFileRetryIntervalMs();

// Enters `path` (by address) into the open-file set and locks the whole file without
// waiting, retrying as configured. False when the key stays busy or the lock cannot be had;
// a key this call inserted is removed again in that case.
bool LockCacheFile(OstraneFrameData* frame, FILE* file, const char* path, bool exclusive);

// Flushes (when frame->flushOnRelease), unlocks and closes `file`, and removes the key.
// True when every step succeeded.
bool ReleaseCacheFile(OstraneFrameData* frame, FILE* file, const char* path);
