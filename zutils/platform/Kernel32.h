// Platform layer (Windows only): kernel32 functions looked up at run time.
//
// The processor-group and NUMA functions, and thread descriptions, are missing from older
// Windows versions (and from some emulations of it); the library must still load there, so
// they are resolved with GetProcAddress instead of being imported. A null member means the
// function is not available and callers fall back to the single-group calls.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace ZUtils {
namespace platform {

struct Kernel32 {
  WORD(WINAPI* GetActiveProcessorGroupCount)();
  DWORD(WINAPI* GetActiveProcessorCount)(WORD group);
  BOOL(WINAPI* GetProcessGroupAffinity)(HANDLE process, PUSHORT count, PUSHORT groups);
  BOOL(WINAPI* GetThreadGroupAffinity)(HANDLE thread, PGROUP_AFFINITY affinity);
  BOOL(WINAPI* SetThreadGroupAffinity)(HANDLE thread, const GROUP_AFFINITY* affinity, PGROUP_AFFINITY previous);
  BOOL(WINAPI* GetNumaHighestNodeNumber)(PULONG highest);
  BOOL(WINAPI* GetNumaNodeProcessorMaskEx)(USHORT node, PGROUP_AFFINITY affinity);
  HRESULT(WINAPI* SetThreadDescription)(HANDLE thread, PCWSTR description);
};

// Resolved once, on first use; safe from any thread.
const Kernel32& kernel32();

}  // namespace platform
}  // namespace ZUtils
