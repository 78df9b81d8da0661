// Parallel re-assembly of a bit-plane particle channel (storage method 4): every job
// rebuilds the words of its own range of particles from the shared plane buffer.
#pragma once

#include <cstdint>

#include "compress/BitPlanes.h"
#include "ostutils/OstParallel.h"

class PRTIN : public OSTUtils::OstParallel {
 public:
  PRTIN() {}
  ~PRTIN() override {}
  const char* getName() override;

  // Job body: particles job->begin .. job->end - 1 (clamped to the particles `target`
  // holds: its length / (4 x words of `slot`)).
  void work(OSTUtils::Job* job);

  // Rebuilds `target` (already sized to particleCount x words x 4) from `planes`, split
  // over the workers: setupJobs(-1), setRange(particleCount), a TMTJobProcHolder<PRTIN>
  // calling work, runWithHolder.
  static void run(OSTUtils::OstArray<char, int64_t>& target, const uint32_t* planes, int slot,
                  int64_t particleCount);

  OSTUtils::OstArray<char, int64_t>* target = nullptr;
  const uint32_t* planes = nullptr;
  int slot = 0;
};

// Hands the method-4 re-assembly of ExpandChannelBytes to PRTIN for one slot's channel.
class PrtinAssembler : public OSTUtils::BitPlaneAssembler {
 public:
  PrtinAssembler(OSTUtils::OstArray<char, int64_t>* target, int slot) : target_(target), slot_(slot) {}
  void assemble(const uint32_t* planes, int64_t particleCount, int words, uint32_t* target) override;

 private:
  OSTUtils::OstArray<char, int64_t>* target_;
  int slot_;
};
