#include "zutils/platform/Lock.h"
#include "zutils/platform/Kernel32.h"

#include <new>

namespace ZUtils {
namespace platform {

namespace {
CRITICAL_SECTION* sectionOf(unsigned char* storage) { return reinterpret_cast<CRITICAL_SECTION*>(storage); }
}  // namespace

// A kernel critical section is re-entrant for its owner, as the interface requires.
CriticalSection::CriticalSection() {
  static_assert(sizeof(CRITICAL_SECTION) <= sizeof(storage_), "CriticalSection storage too small");
  InitializeCriticalSection(new (static_cast<void*>(storage_)) CRITICAL_SECTION);
}

CriticalSection::~CriticalSection() { DeleteCriticalSection(sectionOf(storage_)); }

void CriticalSection::enter() { EnterCriticalSection(sectionOf(storage_)); }
void CriticalSection::leave() { LeaveCriticalSection(sectionOf(storage_)); }
bool CriticalSection::tryEnter() { return TryEnterCriticalSection(sectionOf(storage_)) != 0; }

}  // namespace platform
}  // namespace ZUtils
