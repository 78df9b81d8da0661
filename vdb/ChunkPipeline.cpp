#include "vdb/ChunkPipeline.h"

#include <algorithm>

#include <tbb/global_control.h>
#include <tbb/task_arena.h>

#include "ostutils/MemoryLimit.h"

namespace NebVdb {

ChunkPipeline::ChunkPipeline(const std::vector<GridBytes*>& grids, uint64_t heldBytes, int helpers)
    : budget_(heldBytes), helpers_(std::max(helpers, 0)) {
  for (GridBytes* bytes : grids) {
    Grid grid;
    grid.bytes = bytes;
    grid.chunks.resize(bytes->chunkCount());
    grids_.push_back(std::move(grid));
  }
}

ChunkPipeline::~ChunkPipeline() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stop_ = true;
  }
  tasks_.wait();  // helpers end after the chunk they are writing; queued ones at once
  OSTUtils::releaseMemory(held_);
}

int ChunkPipeline::helperThreads() {
  const size_t allowed = tbb::global_control::active_value(tbb::global_control::max_allowed_parallelism);
  const size_t arena = size_t(std::max(tbb::this_task_arena::max_concurrency(), 1));
  return int(std::min(allowed, arena)) - 1;
}

bool ChunkPipeline::claim(Claim& claim, bool forHelper) {
  if (stop_) return false;
  // 1. The grid being written: its chunks that were not kept, in order, when they fit.
  if (forHelper && writing_ < grids_.size()) {
    Grid& grid = grids_[writing_];
    while (grid.nextRedo < grid.chunks.size() && grid.chunks[grid.nextRedo].state != State::kDropped) ++grid.nextRedo;
    if (grid.nextRedo < grid.chunks.size()) {
      Chunk& chunk = grid.chunks[grid.nextRedo];
      if (fits(uint64_t(chunk.bytes)) && OSTUtils::tryReserveMemory(uint64_t(chunk.bytes))) {
        held_ += uint64_t(chunk.bytes);
        chunk.state = State::kRedoing;
        claim = {writing_, grid.nextRedo++};
        return true;
      }
    }
  }
  // 2. First writes in file order: the caller's grid always, the others when they fit.
  for (size_t g = completing_; g < grids_.size(); ++g) {
    Grid& grid = grids_[g];
    if (grid.nextOpen == grid.chunks.size()) continue;
    if (forHelper && !(g == completing_ && inComplete_) && !fits(grid.bytes->chunkValueBytes(grid.nextOpen))) return false;
    grid.chunks[grid.nextOpen].state = State::kBusy;
    claim = {g, grid.nextOpen++};
    return true;
  }
  return false;
}

void ChunkPipeline::publish(const Claim& claim, std::vector<char>& out) {
  Grid& grid = grids_[claim.grid];
  Chunk& chunk = grid.chunks[claim.chunk];
  // Kept bytes are copied out of the buffer, which was made large enough for values that
  // do not compress: what is held is what is counted.
  if (chunk.state == State::kRedoing) {  // its bytes were counted when it was claimed
    chunk.kept.assign(out.begin(), out.end());
    chunk.state = State::kKept;
  } else {
    chunk.bytes = int64_t(out.size());
    ++grid.written;
    if (fits(out.size()) && OSTUtils::tryReserveMemory(out.size())) {
      held_ += out.size();
      chunk.kept.assign(out.begin(), out.end());
      chunk.state = State::kKept;
    } else {
      chunk.state = State::kDropped;
    }
  }
  changed_.notify_all();
}

void ChunkPipeline::launchHelpers() {
  while (live_ < helpers_ && wouldClaim()) {
    ++live_;
    tasks_.run([this] { helperLoop(); });
  }
}

bool ChunkPipeline::wouldClaim() {
  if (stop_) return false;
  if (writing_ < grids_.size()) {
    const Grid& grid = grids_[writing_];
    for (size_t c = grid.nextRedo; c < grid.chunks.size(); ++c)
      if (grid.chunks[c].state == State::kDropped) {
        if (fits(uint64_t(grid.chunks[c].bytes))) return true;
        break;
      }
  }
  for (size_t g = completing_; g < grids_.size(); ++g) {
    const Grid& grid = grids_[g];
    if (grid.nextOpen == grid.chunks.size()) continue;
    return (g == completing_ && inComplete_) || fits(grid.bytes->chunkValueBytes(grid.nextOpen));
  }
  return false;
}

std::vector<char> ChunkPipeline::buffer(size_t c, const Grid& grid) {
  std::vector<char> bytes;
  if (!spares_.empty()) {
    bytes.swap(spares_.back());
    spares_.pop_back();
  }
  bytes.clear();
  // Records hold a little more than the values when they do not compress (masks, counts).
  bytes.reserve(size_t(grid.bytes->chunkValueBytes(c) / 8 * 9 + 4096));
  return bytes;
}

void ChunkPipeline::spare(std::vector<char>& bytes) {
  if (bytes.capacity() > 0 && spares_.size() <= size_t(helpers_)) spares_.push_back(std::move(bytes));
  std::vector<char>().swap(bytes);
}

void ChunkPipeline::helperLoop() {
  std::unique_lock<std::mutex> hold(lock_);
  Claim work;
  while (claim(work, /*forHelper=*/true)) {
    std::vector<char> out = buffer(work.chunk, grids_[work.grid]);
    hold.unlock();
    try {
      grids_[work.grid].bytes->writeChunk(work.chunk, out);
    } catch (...) {
      hold.lock();
      if (!failure_) failure_ = std::current_exception();
      stop_ = true;
      break;
    }
    hold.lock();
    publish(work, out);
    spare(out);
  }
  --live_;
  changed_.notify_all();
}

void ChunkPipeline::rethrowFailure() {
  if (failure_) std::rethrow_exception(failure_);
}

int64_t ChunkPipeline::complete(size_t g) {
  std::unique_lock<std::mutex> hold(lock_);
  completing_ = g;
  inComplete_ = true;
  launchHelpers();
  Grid& grid = grids_[g];
  for (;;) {
    rethrowFailure();
    if (grid.nextOpen < grid.chunks.size()) {
      const Claim work{g, grid.nextOpen++};
      grid.chunks[work.chunk].state = State::kBusy;
      std::vector<char> out = buffer(work.chunk, grid);
      hold.unlock();
      grid.bytes->writeChunk(work.chunk, out);
      hold.lock();
      publish(work, out);
      spare(out);
      continue;
    }
    if (grid.written == grid.chunks.size()) break;
    changed_.wait(hold);
  }
  inComplete_ = false;
  completing_ = g + 1;
  int64_t total = 0;
  for (const Chunk& chunk : grid.chunks) total += chunk.bytes;
  return total;
}

void ChunkPipeline::take(size_t g, size_t c, std::vector<char>& out) {
  std::unique_lock<std::mutex> hold(lock_);
  // From the first chunk taken on, the head is made: helpers may write its chunks again.
  writing_ = g;
  Chunk& chunk = grids_[g].chunks[c];
  changed_.wait(hold, [&] { return failure_ || (chunk.state != State::kBusy && chunk.state != State::kRedoing); });
  rethrowFailure();
  spare(out);
  if (chunk.state == State::kKept) {
    out.swap(chunk.kept);
    held_ -= uint64_t(chunk.bytes);
    OSTUtils::releaseMemory(uint64_t(chunk.bytes));
    chunk.state = State::kTaken;
    launchHelpers();
    return;
  }
  chunk.state = State::kTaken;  // dropped: written again here
  launchHelpers();
  out = buffer(c, grids_[g]);
  hold.unlock();
  grids_[g].bytes->writeChunk(c, out);
}

}  // namespace NebVdb
