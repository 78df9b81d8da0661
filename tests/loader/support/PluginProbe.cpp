// Child program of the plug-in process tests: one initialisation of the import plug-ins
// per process, since the plug-in table is process-wide and modules are never loaded twice.
// Usage: PluginProbe <searchPaths|-> <suffix|-> <none|null|manager> [<file> <mapping>]...
//   "-" passes a null string; none: the form without a manager; null: the manager form
//   with a null manager; manager: the manager form with a do-nothing manager.
// Prints "init <result>", then per file "load <n> null" or "load <n> ok <c>=<hasChannel>"
// for channels 1, 2 and 10, then "manager calls <n>" and "finalized" after two
// finalizeNebuLoader calls (a host may finalise more often than it initialised).
#include <cstdio>
#include <cstring>

#include "nebloader.h"

namespace {

// Counts every call: neither the loader nor the stand-in plug-in should run work on it.
class CountingManager : public ZUtils::ThreadManager {
 public:
  void terminateThreads(bool) override { ++calls; }
  int runOnThreads(int, ZUtils::ThreadProcedure*, ZUtils::ThreadProgress*, bool) override {
    ++calls;
    return 0;
  }
  void setLowPriority(int) override { ++calls; }
  int runProcedure(ZUtils::ThreadProcedure*, int) override {
    ++calls;
    return 0;
  }
  void setStackSize(int) override { ++calls; }
  int currentThreadIndex() override {
    ++calls;
    return -1;
  }
  int calls = 0;
};

const char* orNull(const char* arg) { return std::strcmp(arg, "-") == 0 ? nullptr : arg; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || (argc - 4) % 2 != 0) return 2;
  const char* paths = orNull(argv[1]);
  const char* suffix = orNull(argv[2]);
  const char* form = argv[3];
  CountingManager manager;
  int result;
  if (std::strcmp(form, "none") == 0) {
    result = initalizeNebuLoader(paths, suffix, 0);
  } else if (std::strcmp(form, "null") == 0) {
    result = initalizeNebuLoader(paths, suffix, 0, nullptr);
  } else if (std::strcmp(form, "manager") == 0) {
    result = initalizeNebuLoader(paths, suffix, 0, &manager);
  } else {
    return 2;
  }
  std::printf("init %d\n", result);

  for (int i = 4, n = 0; i + 1 < argc; i += 2, ++n) {
    INeb* frame = newINebWithChannelsMapping(argv[i], argv[i + 1]);
    if (!frame) {
      std::printf("load %d null\n", n);
      continue;
    }
    std::printf("load %d ok 1=%d 2=%d 10=%d\n", n, frame->hasChannel(1), frame->hasChannel(2), frame->hasChannel(10));
    deleteINeb(frame);
  }

  finalizeNebuLoader();
  finalizeNebuLoader();
  std::printf("manager calls %d\nfinalized\n", manager.calls);
  return 0;
}
