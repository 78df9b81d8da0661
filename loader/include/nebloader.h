// nebloader: read nebu2 simulation cache frames (grid channels, transform, particle groups).
//
// This header, with the two it includes (nebloader_frame.h, nebloader_threads.h), is the
// whole binary interface of libnebloader. The order of the virtual operations of every
// class is part of that interface: hosts compiled against an older copy call them by slot,
// so never reorder, insert or remove one.
//
// Typical use:
//   INeb* frame = newINeb("/cache/smoke_0042.neb");
//   if (frame) {
//     int size[3]; frame->getGridSize(size);
//     const float* smoke = frame->getChannel(2);   // decoded on first use, x fastest
//     ...
//     deleteINeb(frame);                           // once per successful newINeb...
//   }
//
// All paths are UTF-8. Nothing here throws; failures are null, 0 or -1 results, with the
// reason sent to the library's report sink.
#ifndef NEBLOADER_H
#define NEBLOADER_H

#if defined(_WIN32)
#if defined(NEBLOADER_BUILDING)
#define NEBLOADER_API __declspec(dllexport)
#else
#define NEBLOADER_API __declspec(dllimport)
#endif
#else
#define NEBLOADER_API __attribute__((visibility("default")))
#endif

// The frame interfaces (INeb, IOstranePrtGroup) and the thread-manager interfaces
// (ZUtils::ThreadManager, ThreadProcedure, ThreadProgress), installed beside this header.
#include "nebloader_frame.h"
#include "nebloader_threads.h"

// Grid channel numbers (enum NebChannel), shared with the C interface.
#include "nebloader_channels.h"

// 0x31200.
NEBLOADER_API unsigned int OstraneSDKGetVersionNumber();

// Frames. A frame asked for again while its file is unchanged (same path text, same
// mapping text, same modification time) is the same shared object. Voxel-limited
// (maxVoxels != -1) and header-only frames are never shared. Every successful call is
// balanced by one deleteINeb.
NEBLOADER_API INeb* newINeb(const char* path);
NEBLOADER_API INeb* newINebMaxVox(const char* path, long long maxVoxels, bool headerOnly);
NEBLOADER_API INeb* newINebWithChannelsMapping(const char* path, const char* mapping);
NEBLOADER_API INeb* newINebWithChannelsMappingMaxVox(const char* path, const char* mapping, long long maxVoxels,
                                                     bool headerOnly);
NEBLOADER_API void deleteINeb(INeb* frame);

// Channel mappings: "channel,name;" entries, e.g. "2,density;1,temperature;".
// Text results are copied into (buffer, bufferSize): at most bufferSize-1 characters and a
// NUL; the result is 1 when the whole text fitted and 0 when it was cut. Out-of-range
// indexes give -1 and write nothing.
NEBLOADER_API int nebComposeChannelMappingsString(char* const buffer, int bufferSize, int* const channels,
                                                  const char* const* names, int count);
NEBLOADER_API int nebDecomposeChannelMappingsString(int* channel, char* buffer, int bufferSize,
                                                    const char* const mapping, int index);
NEBLOADER_API int nebGenerateDefaultChannelMappings(char* const buffer, int bufferSize, const char* const path);
NEBLOADER_API int nebGet3rdPartyChannelName(char* const buffer, int bufferSize, int* const flag, const char* path,
                                            int index);

// Import plug-ins (OpenVDB, Field3D) and the thread manager. Result bit 0: Field3D
// plug-in ready; bit 1: OpenVDB plug-in ready.
NEBLOADER_API int initalizeNebuLoader(const char* searchPaths, const char* suffix, int value);
NEBLOADER_API int initalizeNebuLoader(const char* searchPaths, const char* suffix, int value,
                                      ZUtils::ThreadManager* manager);
NEBLOADER_API void finalizeNebuLoader();

NEBLOADER_API ZUtils::ThreadManager* createDefaultThreadManager();
NEBLOADER_API void destroyDefaultThreadManager(ZUtils::ThreadManager* manager);

#endif  // NEBLOADER_H
