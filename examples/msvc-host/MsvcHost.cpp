// A host in MSVC's binary interface (built by clang --target=x86_64-pc-windows-msvc and
// lld-link, without any C or C++ runtime): it links nebloader.dll through nebloader.lib
// by the MSVC names of the header's functions, calls every one of them and every method
// of the interfaces, and registers a thread manager of its own whose methods the library
// calls back through MSVC's virtual tables. Exit status 0 when every check held.
//   msvc_host.exe FRAME PLUGIN_DIR SUFFIX [VDB_FRAME]
// FRAME: the package's sample frame (8x6x4 cells, smoke = (x+y+z)/16, temperature = 300+z,
// one group "Sparks" of 4 particles). PLUGIN_DIR holds import plug-ins named
// <stem>_<SUFFIX>.dll, so that initalizeNebuLoader registers the host's manager.
// VDB_FRAME: the sample frame converted to OpenVDB (volconvert); with it, PLUGIN_DIR's
// vdbport must be the real OpenVDB plug-in, and the frame loaded through it must hold
// the sample's grid and values.
#include "nebloader.h"

extern "C" NEBLOADER_API void nebSetReportFilePath(const char* path);

// ---- The few kernel32 functions the host needs, declared here: no SDK headers either.
typedef void* HANDLE;
extern "C" {
__declspec(dllimport) HANDLE GetStdHandle(unsigned long which);
__declspec(dllimport) int WriteFile(HANDLE file, const void* data, unsigned long bytes, unsigned long* written,
                                    void* overlapped);
__declspec(dllimport) void ExitProcess(unsigned int code);
__declspec(dllimport) char* GetCommandLineA();
__declspec(dllimport) HANDLE CreateThread(void* attributes, unsigned long long stack,
                                          unsigned long(__stdcall* start)(void*), void* arg, unsigned long flags,
                                          unsigned long* id);
__declspec(dllimport) unsigned long WaitForSingleObject(HANDLE h, unsigned long ms);
__declspec(dllimport) int CloseHandle(HANDLE h);
__declspec(dllimport) unsigned long GetCurrentThreadId();
__declspec(dllimport) void Sleep(unsigned long ms);
__declspec(dllimport) unsigned long GetFileAttributesA(const char* path);
__declspec(dllimport) int DeleteFileA(const char* path);

// What the compiler may call without a runtime.
int _fltused = 0;
int __cdecl _purecall() {
  ExitProcess(3);
  return 0;
}
void* __cdecl memset(void* p, int v, unsigned long long n) {
  unsigned char* b = static_cast<unsigned char*>(p);
  while (n--) *b++ = static_cast<unsigned char>(v);
  return p;
}
// Destructors of the host's globals are registered here; the process ends through
// ExitProcess, so none of them needs to run.
int __cdecl atexit(void (*)(void)) { return 0; }
void* __cdecl memcpy(void* to, const void* from, unsigned long long n) {
  unsigned char* d = static_cast<unsigned char*>(to);
  const unsigned char* s = static_cast<const unsigned char*>(from);
  while (n--) *d++ = *s++;
  return to;
}
}
// The deleting destructors of the host's own classes refer to these; nothing is deleted.
void operator delete(void*, unsigned long long) noexcept {}
void operator delete(void*) noexcept {}

namespace {

// ---- Output and checks.
void put(const char* text) {
  unsigned long n = 0, written = 0;
  while (text[n]) ++n;
  WriteFile(GetStdHandle(static_cast<unsigned long>(-11)), text, n, &written, nullptr);
}
void putInt(long long v) {
  char buf[24];
  int i = 23;
  buf[i] = 0;
  const bool negative = v < 0;
  unsigned long long u = negative ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
  do {
    buf[--i] = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u);
  if (negative) buf[--i] = '-';
  put(buf + i);
}
int g_failures = 0;
void check(bool ok, const char* what) {
  put(ok ? "ok   " : "FAIL ");
  put(what);
  put("\n");
  if (!ok) ++g_failures;
}
bool same(const char* a, const char* b) {
  if (!a || !b) return a == b;
  while (*a && *a == *b) ++a, ++b;
  return *a == *b;
}

// ---- Arguments from the command line (quoted words allowed).
char g_args[4][1024];
int parseArguments() {
  const char* p = GetCommandLineA();
  int count = -1;  // the program name comes first
  while (*p) {
    while (*p == ' ' || *p == '\t') ++p;
    if (!*p) break;
    char* out = count >= 0 && count < 4 ? g_args[count] : nullptr;
    int n = 0;
    bool quoted = false;
    while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
      if (*p == '"') {
        quoted = !quoted;
      } else if (out && n < 1023) {
        out[n++] = *p;
      }
      ++p;
    }
    if (out) out[n] = 0;
    ++count;
  }
  return count;
}

// ---- The host's own thread manager: one kernel thread per batch index or procedure.
struct Slot {
  unsigned long threadId;
  int index;
};

class HostManager : public ZUtils::ThreadManager {
 public:
  void terminateThreads(bool) override { __atomic_fetch_add(&calls, 1, __ATOMIC_RELAXED); }
  int runOnThreads(int count, ZUtils::ThreadProcedure* procedure, ZUtils::ThreadProgress* progress,
                   bool reportProgress) override {
    __atomic_fetch_add(&calls, 1, __ATOMIC_RELAXED);
    __atomic_fetch_add(&batches, 1, __ATOMIC_RELAXED);
    if (!procedure) return -1;
    if (count <= 0) count = 2;
    if (count > 16) count = 16;
    procedure->progressBase = 0;
    procedure->statusCell = 0;
    if (progress) progress->begin();
    Start starts[16];
    HANDLE threads[16];
    for (int i = 0; i < count; ++i) {
      starts[i] = Start{this, procedure, i, count, true};
      threads[i] = CreateThread(nullptr, 0, &entry, &starts[i], 0, nullptr);
    }
    for (int i = 0; i < count; ++i) {
      if (threads[i]) {
        WaitForSingleObject(threads[i], 0xFFFFFFFFul);
        CloseHandle(threads[i]);
      } else {
        entry(&starts[i]);  // no thread: run it here
      }
    }
    if (progress) {
      if (reportProgress) progress->progress(procedure->progressBase);
      progress->end();
    }
    return procedure->statusCell;
  }
  void setLowPriority(int) override { __atomic_fetch_add(&calls, 1, __ATOMIC_RELAXED); }
  int runProcedure(ZUtils::ThreadProcedure* procedure, int parameter) override {
    __atomic_fetch_add(&calls, 1, __ATOMIC_RELAXED);
    __atomic_fetch_add(&procedures, 1, __ATOMIC_RELAXED);
    if (!procedure) return -1;
    // Job loops stay inside run until their owner quits them: a thread of their own, not
    // waited for. Start blocks are reused round robin (a job set has fewer loops).
    const int n = __atomic_fetch_add(&nextSingle, 1, __ATOMIC_RELAXED) % 64;
    singles[n] = Start{this, procedure, parameter, 1, false};
    HANDLE h = CreateThread(nullptr, 0, &entry, &singles[n], 0, nullptr);
    if (!h) return -1;
    CloseHandle(h);
    return 0;
  }
  void setStackSize(int) override { __atomic_fetch_add(&calls, 1, __ATOMIC_RELAXED); }
  int currentThreadIndex() override {
    const unsigned long me = GetCurrentThreadId();
    for (int i = 0; i < 64; ++i) {
      if (__atomic_load_n(&slots[i].threadId, __ATOMIC_ACQUIRE) == me) return slots[i].index;
    }
    return -1;
  }

  int calls = 0, batches = 0, procedures = 0;

 private:
  struct Start {
    HostManager* owner;
    ZUtils::ThreadProcedure* procedure;
    int index, count;
    bool batch;
  };
  static unsigned long __stdcall entry(void* p) {
    Start* s = static_cast<Start*>(p);
    const unsigned long me = GetCurrentThreadId();
    int slot = -1;
    for (int i = 0; i < 64 && slot < 0; ++i) {
      unsigned long expected = 0;
      if (__atomic_compare_exchange_n(&s->owner->slots[i].threadId, &expected, me, false, __ATOMIC_ACQ_REL,
                                      __ATOMIC_RELAXED)) {
        slot = i;
      }
    }
    if (slot >= 0) s->owner->slots[slot].index = s->index;
    if (s->batch) {
      s->procedure->run(&s->procedure->statusCell, &s->procedure->progressBase, s->index, s->count);
    } else {
      s->procedure->run(nullptr, nullptr, s->index, 1);
    }
    if (slot >= 0) __atomic_store_n(&s->owner->slots[slot].threadId, 0ul, __ATOMIC_RELEASE);
    return 0;
  }
  Slot slots[64] = {};
  Start singles[64];
  int nextSingle = 0;
};

// A procedure and a progress object for driving the library's default manager.
class CountingProcedure : public ZUtils::ThreadProcedure {
 public:
  void run(volatile int* status, volatile int* progress, int index, int count) override {
    if (status && progress && index >= 0 && index < count && count <= 32) __atomic_fetch_or(&seen, 1u << index, __ATOMIC_RELAXED);
    if (!status && !progress && count == 1) __atomic_store_n(&single, index, __ATOMIC_RELEASE);
  }
  const char* name() override { return "MsvcHostProcedure"; }
  unsigned seen = 0;
  int single = -1;
};

class CountingProgress : public ZUtils::ThreadProgress {
 public:
  void log(int, int, const char*) override { ++logs; }
  void begin() override { ++begins; }
  void end() override { ++ends; }
  void progress(int) override {}
  int abortCode() override { return 0; }
  bool wantsMessagePump() override { return false; }
  void pumpMessages() override {}
  int logs = 0, begins = 0, ends = 0;
};

// The sample's 8x6x4 grid with its smoke (channel 2) and temperature (channel 1) values.
bool sampleGridAndValues(INeb* frame) {
  int size[3] = {0, 0, 0};
  frame->getGridSize(size);
  if (size[0] != 8 || size[1] != 6 || size[2] != 4) return false;
  const float* smoke = frame->getChannel(2);
  const float* temperature = frame->getChannel(1);
  bool values = smoke && temperature;
  for (int z = 0; values && z < 4; ++z)
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 8; ++x) {
        const int i = x + 8 * (y + 6 * z);
        // The grid codec quantizes: each value within a small step of what was written.
        const float ds = smoke[i] - static_cast<float>(x + y + z) / 16.0f;
        const float dt = temperature[i] - (300.0f + z);
        values = values && ds < 1e-3f && ds > -1e-3f && dt < 1e-2f && dt > -1e-2f;
      }
  return values;
}

void checkSampleFrame(INeb* frame) {
  int size[3] = {0, 0, 0};
  frame->getGridSize(size);
  check(size[0] == 8 && size[1] == 6 && size[2] == 4, "INeb::getGridSize: 8 x 6 x 4");
  float t[12];
  frame->getTransform(t);
  check(t[0] == 0.5f && t[4] == 0.5f && t[8] == 0.5f && t[9] == 1.0f && t[10] == 2.0f && t[11] == 3.0f,
        "INeb::getTransform: scale 0.5, offset (1, 2, 3)");
  check(frame->hasChannel(1) && frame->hasChannel(2) && !frame->hasChannel(4), "INeb::hasChannel: 1 and 2 only");
  check(sampleGridAndValues(frame), "INeb::getChannel: every smoke and temperature value (within the codec's step)");
  check(frame->getChannel(4) == nullptr, "INeb::getChannel: an absent channel is null");
  check(frame->getParticleGroupCount() == 1, "INeb::getParticleGroupCount: 1");
  IOstranePrtGroup* group = frame->getParticleGroup(0);
  check(group != nullptr && frame->findParticleGroup("Sparks") == group && frame->findParticleGroup("none") == nullptr,
        "INeb::getParticleGroup / findParticleGroup");
  if (!group) return;
  check(same(group->getName(), "Sparks"), "IOstranePrtGroup::getName: Sparks");
  check(group->getParticleCount() == 4, "IOstranePrtGroup::getParticleCount: 4");
  check(group->hasChannel(0) && !group->hasChannel(1), "IOstranePrtGroup::hasChannel: positions only");
  check(group->getBytesPerParticle(0) == 12, "IOstranePrtGroup::getBytesPerParticle: 12");
  check(group->getChannelDataType(0) == 10 && group->getChannelComponents(0) == 3,
        "IOstranePrtGroup::getChannelDataType / getChannelComponents: 3 floats");
  float p[3] = {0, 0, 0};
  check(group->getParticleValue(2, 0, p) && p[0] == 2.0f && p[1] == 2.0f && p[2] == 1.0f,
        "IOstranePrtGroup::getParticleValue: particle 2 at (2, 2, 1)");
  check(!group->getParticleValue(4, 0, p), "IOstranePrtGroup::getParticleValue: out of range is false");
  check(group->findParticleById(12345) == -1, "IOstranePrtGroup::findParticleById: no identifiers, -1");
}

void run() {
  const int arguments = parseArguments();
  if (arguments != 3 && arguments != 4) {
    put("usage: msvc_host.exe FRAME PLUGIN_DIR SUFFIX [VDB_FRAME]\n");
    ExitProcess(2);
  }
  const char* framePath = g_args[0];
  // Objects with virtual functions live here, not as globals: without a C runtime nothing
  // runs the constructors of globals, so their virtual table pointers would stay null.
  HostManager manager;
  CountingProcedure procedure;
  CountingProgress progress;
  check(OstraneSDKGetVersionNumber() == 0x31200, "OstraneSDKGetVersionNumber: 0x31200");

  // The host's manager goes to the library with the plug-ins it finds.
  const int plugins = initalizeNebuLoader(g_args[1], g_args[2], 0, &manager);
  put("import plug-ins: ");
  putInt(plugins);
  put("\n");
  check(plugins == 3, "initalizeNebuLoader with the host's thread manager: both plug-ins");

  check(newINeb("no_such_frame.neb") == nullptr, "newINeb: a missing file is null");
  DeleteFileA("msvc_host_report.txt");
  nebSetReportFilePath("msvc_host_report.txt");
  INeb* frame = newINeb(framePath);
  nebSetReportFilePath(nullptr);
  check(frame != nullptr, "newINeb: the sample frame");
  check(GetFileAttributesA("msvc_host_report.txt") != 0xFFFFFFFFul, "nebSetReportFilePath: the load was reported");
  DeleteFileA("msvc_host_report.txt");
  if (frame) {
    checkSampleFrame(frame);
    deleteINeb(frame);
  }
  if (arguments == 4) {
    // An OpenVDB file through the vdbport plug-in, as a Windows plug-in host gets it.
    INeb* vdb = newINeb(g_args[3]);
    check(vdb != nullptr, "newINeb: the sample frame as an OpenVDB file, through vdbport");
    if (vdb) {
      check(sampleGridAndValues(vdb), "the OpenVDB file's grid and every smoke and temperature value");
      deleteINeb(vdb);
    }
  }
  INeb* header = newINebMaxVox(framePath, -1, true);
  check(header != nullptr, "newINebMaxVox: header only");
  if (header) {
    int size[3] = {0, 0, 0};
    header->getGridSize(size);
    check(size[0] == 8 && size[2] == 4, "newINebMaxVox: grid size from the header");
    deleteINeb(header);
  }
  INeb* mapped = newINebWithChannelsMapping(framePath, "2,density;1,temperature;");
  check(mapped != nullptr && mapped->getChannel(2) != nullptr, "newINebWithChannelsMapping");
  if (mapped) deleteINeb(mapped);
  INeb* mappedMax = newINebWithChannelsMappingMaxVox(framePath, "2,density;", -1, false);
  check(mappedMax != nullptr && mappedMax->getChannel(2) != nullptr, "newINebWithChannelsMappingMaxVox");
  if (mappedMax) deleteINeb(mappedMax);

  char text[128];
  int channels[2] = {2, 1};
  const char* names[2] = {"density", "temperature"};
  check(nebComposeChannelMappingsString(text, sizeof text, channels, names, 2) == 1 &&
            same(text, "2,density;1,temperature;"),
        "nebComposeChannelMappingsString");
  int channel = 0;
  check(nebDecomposeChannelMappingsString(&channel, text, sizeof text, "2,density;1,temperature;", 1) == 1 &&
            channel == 1 && same(text, "temperature"),
        "nebDecomposeChannelMappingsString: entry 1");
  check(nebDecomposeChannelMappingsString(&channel, text, sizeof text, "2,density;", 5) == -1,
        "nebDecomposeChannelMappingsString: out of range is -1");
  const int generated = nebGenerateDefaultChannelMappings(text, sizeof text, framePath);
  check(generated >= 0 && generated <= 1, "nebGenerateDefaultChannelMappings answers");
  int flag = 0;
  const int named = nebGet3rdPartyChannelName(text, sizeof text, &flag, framePath, 0);
  check(named >= -1 && named <= 1, "nebGet3rdPartyChannelName answers");

  // The library's own manager, driven through its virtual table.
  ZUtils::ThreadManager* pool = createDefaultThreadManager();
  check(pool != nullptr, "createDefaultThreadManager");
  if (pool) {
    pool->setLowPriority(0);
    pool->setStackSize(1 << 20);
    check(pool->runOnThreads(3, &procedure, &progress, true) == 0 && procedure.seen == 7u,
          "ThreadManager::runOnThreads: indices 0, 1, 2");
    check(progress.begins == 1 && progress.ends == 1 && progress.logs >= 1,
          "ThreadProgress: log, begin and end called back");
    check(pool->runProcedure(&procedure, 42) == 0, "ThreadManager::runProcedure");
    for (int i = 0; i < 5000 && __atomic_load_n(&procedure.single, __ATOMIC_ACQUIRE) != 42; ++i) Sleep(1);
    check(procedure.single == 42, "ThreadManager::runProcedure ran the procedure once");
    check(pool->currentThreadIndex() == -1, "ThreadManager::currentThreadIndex: -1 outside the pool");
    pool->terminateThreads(false);
    destroyDefaultThreadManager(pool);
  }

  // A second loader reference without a manager, then both released.
  check(initalizeNebuLoader(g_args[1], g_args[2], 0) == 3, "initalizeNebuLoader without a manager");
  finalizeNebuLoader();
  finalizeNebuLoader();
  put("host manager calls: ");
  putInt(manager.calls);
  put("\n");
  check(manager.calls > 0, "the library called the host's own thread manager");
}

}  // namespace

extern "C" void __stdcall hostMain() {
  run();
  put(g_failures == 0 ? "MSVC-ABI host: all checks passed\n" : "MSVC-ABI host: checks FAILED\n");
  ExitProcess(g_failures == 0 ? 0 : 1);
}
