#include "tools/neb2vdb/Neb2Vdb.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "nebloader_c.h"
#include "ostutils/OstParallel.h"
#include "tools/neb2vdb/FrameExporter.h"
#include "tools/neb2vdb/MemoryBudget.h"
#include "tools/neb2vdb/Options.h"
#include "tools/neb2vdb/Progress.h"
#include "tools/neb2vdb/SourceState.h"
#include "tools/neb2vdb/ThreadBudget.h"
#include "vdb/ConversionPeak.h"
#include "zutils/DefaultThreadCount.h"
#include "zutils/FramePattern.h"
#include "zutils/ThreadPool.h"
#include "zutils/ThreadReportCapture.h"
#include "zutils/platform/AtomicFile.h"
#include "zutils/platform/File.h"
#include "zutils/platform/Memory.h"
#include "zutils/platform/Misc.h"

namespace Neb2Vdb {

namespace {

long long fileBytes(const std::string& path) {
  int64_t bytes = 0;
  return ZUtils::platform::fileSize(path.c_str(), &bytes) ? (long long)bytes : 0;
}

// Whether `path` names a nebu2 cache file (by its extension, as the library chooses readers).
bool isNebu2(const std::string& path) { return ZUtils::fileExtensionLower(path.c_str()) == "neb"; }

// Sources of other formats (.f3d, .vdb) load through the import plug-ins: installed, they
// sit in the library folder this program's run path names; in the build tree they are
// linked beside the program as <stem>_build.so. They bind to this program's own copies of
// the few library functions they call (tools/neb2vdb/CMakeLists.txt exports them). -1: no
// pool of the library's own (the run's DecodePool serves the decoders).
void loadImportPlugins(const char* program) {
  const int ready = neb_initialize(nullptr, nullptr, -1);
  if ((ready >= 0 && (ready & 3) == 3) || !program) return;
  const std::string path = program;
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos) neb_initialize(path.substr(0, slash).c_str(), "build", -1);
}

// A frame of the job's own (never shared, so its whole channels may be released as their
// grids are built). A nebu2 frame keeps its grid records in the file: they are read slab by
// slab while the grids are built. Other files (.vdb, .f3d) load through the import plug-ins.
// Null, with the reports made on this thread, when it does not load.
neb_frame* openFrame(const std::string& source) {
  neb_open_options options{};
  options.size = sizeof options;
  options.flags = NEB_OPEN_UNSHARED | NEB_OPEN_GRID_IN_FILE;
  neb_frame* frame = nullptr;
  return neb_frame_open_with(source.c_str(), &options, &frame) == NEB_OK ? frame : nullptr;
}

struct FrameCloser {
  void operator()(neb_frame* frame) const { neb_frame_close(frame); }
};
using FramePtr = std::unique_ptr<neb_frame, FrameCloser>;

FrameTask taskAt(const Options& o, int64_t k) {
  FrameTask task;
  if (!o.framesGiven) {
    task.source = o.source;
    task.destination = o.destination;
    task.pointsDestination = o.pointsFile;
    const int number = ZUtils::frameNumberFromFileName(o.source.c_str());
    task.hasNumber = number != ZUtils::kNoFrameNumber;
    task.number = number;
    return task;
  }
  task.number = o.frames.frameAt(k);
  task.hasNumber = true;
  task.source = ZUtils::expandFramePattern(o.source.c_str(), task.number, "");
  task.destination = ZUtils::expandFramePattern(o.destination.c_str(), task.number, "");
  if (!o.pointsFile.empty()) task.pointsDestination = ZUtils::expandFramePattern(o.pointsFile.c_str(), task.number, "");
  return task;
}

std::string labelOf(const Options& o, const FrameTask& task) {
  return o.framesGiven ? "frame " + std::to_string(task.number) + " (" + task.source + ")" : task.source;
}

// The library's worker pool for the decoders' jobs (the zones of a slab, colour unpacking,
// derived speed), registered for the run: without a thread manager they run inline. Each
// frame asks it for its share of the threads (ThreadBudget). Reports made on its threads
// reach no frame's capture: only a failing zone's notes, never a frame's failure reason.
class DecodePool {
 public:
  // threads: the run's budget; a single-threaded run decodes inline.
  explicit DecodePool(int threads) : manager_(threads > 1 ? ZUtils::createPoolThreadManager() : nullptr) {
    if (manager_) OSTUtils::RegisterThreadManager(manager_);
  }
  ~DecodePool() {
    if (!manager_) return;
    OSTUtils::UnregisterLastThreadManager();
    ZUtils::destroyPoolThreadManager(manager_);
  }
  DecodePool(const DecodePool&) = delete;
  DecodePool& operator=(const DecodePool&) = delete;

 private:
  ZUtils::ThreadManager* manager_;
};

int usageError(ZUtils::ConsoleOutput& err, const std::string& message) {
  err.write("neb2vdb: " + message + "\nTry 'neb2vdb --help' for more information.\n");
  return kExitUsage;
}

// Jobs when --jobs is not given: the first frame that loads tells the peak of one frame.
int chooseJobs(const Options& o, int64_t count) {
  const int cores = ZUtils::defaultThreadCount();
  if (cores == 1 || count <= 1) return 1;
  int64_t peak = 0;
  for (int64_t k = 0; k < count && k < 8 && peak == 0; ++k) {
    // A nebu2 frame's grid records stay in the file: only their zone tables are read.
    FramePtr frame(openFrame(taskAt(o, k).source));
    if (frame) peak = NebVdb::estimateConversionPeak(frame.get(), planGrids(NebVdb::storedChannels(frame.get()), o.naming), o.dense);
  }
  // The frames converted at once share the library's memory budget (NEB_MEMORY_LIMIT_MB):
  // planning by the smaller of it and the machine keeps them from refusing each other.
  const uint64_t physical = ZUtils::platform::physicalMemoryBytes(), budget = neb_memory_limit();
  const uint64_t memory = physical ? std::min(physical, budget) : budget;
  return defaultJobCount(cores, count, peak, int64_t(std::min<uint64_t>(memory, INT64_MAX)));
}

}  // namespace

int runNeb2Vdb(int argc, const char* const* argv, ZUtils::ConsoleOutput& out, ZUtils::ConsoleOutput& err,
               bool terminal) {
  Options o;
  std::string error;
  switch (parseOptions(argc, argv, o, error)) {
    case ParseOutcome::kHelp:
      out.write(helpText());
      return kExitOk;
    case ParseOutcome::kVersion:
      out.write(versionText());
      return kExitOk;
    case ParseOutcome::kUsageError:
      return usageError(err, error);
    case ParseOutcome::kRun:
      break;
  }
  const int64_t count = o.framesGiven ? o.frames.count() : 1;
  if (o.framesGiven && count > 1 &&
      (!ZUtils::hasFramePattern(o.source.c_str()) || !ZUtils::hasFramePattern(o.destination.c_str())))
    return usageError(err, "with --frames, SOURCE and DESTINATION need a frame token such as '####'");
  if (o.framesGiven && count > 1 && !o.pointsFile.empty() && !ZUtils::hasFramePattern(o.pointsFile.c_str()))
    return usageError(err, "with --frames, the --points-file name needs a frame token such as '####'");

  if (!isNebu2(o.source)) loadImportPlugins(argc > 0 ? argv[0] : nullptr);

  const int jobs = int(std::min<int64_t>(o.jobs > 0 ? o.jobs : chooseJobs(o, count), count));
  const int budgetThreads = o.jobs > 0 ? o.jobs : ZUtils::defaultThreadCount();
  ThreadBudget budget(budgetThreads, jobs);
  DecodePool pool(budgetThreads);
  FrameExporter exporter(o);
  Progress progress(out, err, terminal, o.quiet, count);
  const std::string optionsText = outputOptions(o);
  std::atomic<int64_t> next{0};

  auto work = [&] {
    for (int64_t k = next++; k < count; k = next++) {
      FrameTask task = taskAt(o, k);
      task.sourceState = sourceStateOf(task.source, optionsText);
      // An output that records another source state or other options is stale: it is
      // converted again, and removed when that fails, so it never passes for this frame.
      bool stale = false;
      if (o.skipExisting && ZUtils::platform::fileExists(task.destination.c_str())) {
        if (outputUpToDate(task.destination, task.sourceState)) {
          progress.skipped(task.destination);
          continue;
        }
        stale = true;
      }
      auto fail = [&](const std::string& reason) {
        if (stale) {
          std::remove(task.destination.c_str());
          if (!task.pointsDestination.empty()) std::remove(task.pointsDestination.c_str());
        }
        progress.failed(labelOf(o, task), task.number, stale ? reason + " (its out-of-date output removed)" : reason);
      };
      // The folder first: a frame that cannot be written is not worth loading.
      std::string folderError;
      if (!ZUtils::platform::makeFolderFor(task.destination, folderError) ||
          (!task.pointsDestination.empty() && !ZUtils::platform::makeFolderFor(task.pointsDestination, folderError))) {
        fail(folderError);
        continue;
      }
      const auto started = std::chrono::steady_clock::now();
      std::string reports;  // why a load failed (a refusal of the memory budget, say)
      FramePtr frame;
      {
        ZUtils::ThreadReportCapture capture(&reports);
        frame.reset(openFrame(task.source));
      }
      if (!frame) {
        fail("cannot load the source frame" + reportReason(reports));
        continue;
      }
      const FrameOutcome outcome = exporter.exportFrame(task, frame.get());
      frame.reset();
      if (outcome.result.code != NebVdb::kExportOk) {
        fail(outcome.result.reason);
        continue;
      }
      if (outcome.particlesLeftOut)
        progress.warning(labelOf(o, task) + ": " + std::to_string(outcome.particlesLeftOut) +
                         " particles without a finite position left out");
      progress.converted(task.source, task.destination, fileBytes(task.source), outcome.bytesWritten,
                         std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), stale);
    }
    budget.jobEnded();
  };
  std::vector<std::thread> threads;
  for (int j = 1; j < jobs; ++j) threads.emplace_back(work);
  work();
  for (std::thread& t : threads) t.join();
  progress.finish(jobs);
  return progress.failures() ? kExitFramesFailed : kExitOk;
}

}  // namespace Neb2Vdb
