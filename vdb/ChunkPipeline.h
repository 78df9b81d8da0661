// The leaf chunks of a file's grids (GridBytes), written ahead of the file on the threads
// TBB allows, within a budget of bytes held.
//
// The file is written in order on the calling thread: grid g's head needs the sizes of all
// its leaves, so complete(g) first writes every chunk of g not yet written (the caller
// takes chunks of g itself while helpers take them too), then take(g, c) hands the
// chunks over in order. Helpers (TBB tasks, as many as TBB allows threads besides the
// caller) meanwhile write, in this order of preference:
//   1. again, the chunks of the grid being written whose bytes were not kept, so that
//      take() finds them ready;
//   2. the chunks of the grids after it, in file order.
// A chunk's bytes are kept while the bytes held stay within `heldBytes` and the library's
// memory budget (ostutils/MemoryLimit.h) has room for them; otherwise only its leaves'
// sizes are, and take() gets its bytes by writing it once more. A helper starts a chunk
// only when its bytes are likely to be kept (held bytes plus the chunk's values within
// the budget), except for the grid the caller is completing, whose sizes are wanted now;
// so a grid larger than the budget costs a second compression of what did not fit, and
// nothing else does. With no helper (one thread) the caller writes every chunk in order.
//
// A helper's exception is rethrown by the caller's next complete() or take(); the
// destructor stops the helpers and waits for them.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <vector>

#include <tbb/task_group.h>

#include "vdb/GridBytes.h"

namespace NebVdb {

class ChunkPipeline {
 public:
  // `grids`: in file order, alive for the pipeline's lifetime. `helpers`: tasks besides
  // the calling thread (0: the caller writes everything).
  ChunkPipeline(const std::vector<GridBytes*>& grids, uint64_t heldBytes, int helpers);
  ~ChunkPipeline();
  ChunkPipeline(const ChunkPipeline&) = delete;
  ChunkPipeline& operator=(const ChunkPipeline&) = delete;

  // Every chunk of grid g written once (grids complete in order). Returns the bytes of
  // all its chunks.
  int64_t complete(size_t g);
  // Chunk c of grid g (after complete(g); chunks in order) into `out`; what `out` held
  // goes back to the pipeline's spare buffers.
  void take(size_t g, size_t c, std::vector<char>& out);

  // The threads TBB allows the caller's work now (its global limit, its arena), minus the caller.
  static int helperThreads();

 private:
  enum class State : uint8_t { kOpen, kBusy, kKept, kDropped, kRedoing, kTaken };
  struct Chunk {
    State state = State::kOpen;
    int64_t bytes = 0;  // its records' bytes, once written
    std::vector<char> kept;
  };
  struct Grid {
    GridBytes* bytes;
    std::vector<Chunk> chunks;
    size_t nextOpen = 0;  // chunks before it are written or being written
    size_t nextRedo = 0;  // while the grid is being written: chunks before it need no helper
    size_t written = 0;   // chunks written once
  };
  struct Claim {
    size_t grid, chunk;
  };

  // With the lock held:
  bool claim(Claim& claim, bool forHelper);          // marks the chunk as being written
  bool wouldClaim();                                  // whether a helper would find work
  void publish(const Claim& claim, std::vector<char>& out);  // a written chunk, kept or not
  bool fits(uint64_t bytes) const { return held_ + bytes <= budget_; }
  void launchHelpers();
  void rethrowFailure();
  void helperLoop();  // takes the lock itself
  // A buffer for a chunk's records: a spare one, so that chunks reuse pages already
  // touched instead of mapping fresh ones (the system clears each new page).
  std::vector<char> buffer(size_t c, const Grid& grid);  // lock held
  void spare(std::vector<char>& bytes);                   // lock held

  std::vector<Grid> grids_;
  const uint64_t budget_;
  const int helpers_;
  std::mutex lock_;
  std::condition_variable changed_;
  uint64_t held_ = 0;
  size_t completing_ = 0;      // the grid complete() works on or will work on next
  bool inComplete_ = false;    // the caller waits for grid completing_
  size_t writing_ = SIZE_MAX;  // the grid take() hands over
  int live_ = 0;               // helper tasks started and not ended
  bool stop_ = false;
  std::exception_ptr failure_;
  std::vector<std::vector<char>> spares_;  // at most one a thread
  tbb::task_group tasks_;
};

}  // namespace NebVdb
