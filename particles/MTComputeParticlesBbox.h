// Bounding box of a particle group's positions, split over the workers.
//
// A particle is "bad" (counted, kept out of the box) when the single-precision sum
// (x + y) + z of its position is infinite, NaN or at least 100000 in magnitude.
#pragma once

#include "ostutils/OstParallel.h"
#include "zutils/Box.h"

class PGroup;

class MTComputeParticlesBbox : public OSTUtils::OstParallel {
 public:
  MTComputeParticlesBbox() {}
  ~MTComputeParticlesBbox() override {}
  const char* getName() override;
  // Box and bad count of particles job->begin .. job->end - 1 into boxes[job->index] and
  // badCounts[job->index] (each only when given). A job without good particles leaves the
  // empty box (min 1e20, max -1e20).
  void processJob(OSTUtils::Job* job) override;

  // Runs the job over the whole group (setupJobs(-1), setRange(particle count), runJobs(0))
  // and widens `box` by every job's box; `badCount` receives the number of bad particles.
  // False (box unchanged, badCount 0) when the per-job tables cannot be allocated. Does
  // not report the bad particles: that message belongs to the caller.
  bool widenBox(PGroup* target, ZUtils::Box& box, int& badCount);

  static ZUtils::Box emptyBox();

  PGroup* group = nullptr;
  ZUtils::Box* boxes = nullptr;
  int* badCounts = nullptr;
};
