#include "particles/MTComputeParticlesBbox.h"

#include <cmath>
#include <new>

#include "ostutils/Allocation.h"
#include "particles/PGroup.h"

namespace {

// Positions beyond this (as the sum (x + y) + z) are simulation blow-ups, not particles.
const float kBadPositionLimit = 100000.0f;
const float kEmptyMin = 1e20f;
const float kEmptyMax = -1e20f;

}  // namespace

const char* MTComputeParticlesBbox::getName() { return "MTComputeParticlesBbox"; }

ZUtils::Box MTComputeParticlesBbox::emptyBox() {
  ZUtils::Box b;
  for (int a = 0; a < 3; ++a) {
    b.min[a] = kEmptyMin;
    b.max[a] = kEmptyMax;
  }
  return b;
}

void MTComputeParticlesBbox::processJob(OSTUtils::Job* job) {
  ZUtils::Box box = emptyBox();
  int bad = 0;
  if (group && job->end > job->begin) {
    // Particles past what the position channel holds (a raw channel stored short) have no
    // position and are skipped.
    const int64_t available = group->expandedParticleCount(ParticleSlotLayout::kPositionSlot);
    const int64_t end = job->end < available ? job->end : available;
    const float* positions =
        end > job->begin ? static_cast<const float*>(group->getChannelData(0, ParticleSlotLayout::kPositionSlot))
                         : nullptr;
    for (int64_t i = job->begin; positions && i < end; ++i) {
      const float x = positions[3 * i], y = positions[3 * i + 1], z = positions[3 * i + 2];
      const float sum = (x + y) + z;
      if (!std::isfinite(sum) || std::fabs(sum) >= kBadPositionLimit) {
        ++bad;
        continue;
      }
      box.min[0] = x < box.min[0] ? x : box.min[0];
      box.min[1] = y < box.min[1] ? y : box.min[1];
      box.min[2] = z < box.min[2] ? z : box.min[2];
      box.max[0] = x > box.max[0] ? x : box.max[0];
      box.max[1] = y > box.max[1] ? y : box.max[1];
      box.max[2] = z > box.max[2] ? z : box.max[2];
    }
  }
  if (boxes) boxes[job->index] = box;
  if (badCounts) badCounts[job->index] = bad;
}

bool MTComputeParticlesBbox::widenBox(PGroup* target, ZUtils::Box& box, int& badCount) {
  badCount = 0;
  if (!target) return false;
  setupJobs(-1);
  const int jobs = jobCount;
  if (jobs <= 0) return false;
  ZUtils::Box* jobBoxes = nullptr;
  int* jobBad = nullptr;
  if (!OSTUtils::newArray(jobBoxes, static_cast<uint64_t>(jobs)) || !OSTUtils::newArray(jobBad, static_cast<uint64_t>(jobs))) {
    OSTUtils::releaseArray(jobBoxes);
    OSTUtils::releaseArray(jobBad);
    return false;
  }
  group = target;
  boxes = jobBoxes;
  badCounts = jobBad;
  setRange(target->particleCount > 0 ? target->particleCount : 0);
  runJobs(0);
  for (int j = 0; j < jobs; ++j) {
    for (int a = 0; a < 3; ++a) {
      if (jobBoxes[j].min[a] < box.min[a]) box.min[a] = jobBoxes[j].min[a];
      if (jobBoxes[j].max[a] > box.max[a]) box.max[a] = jobBoxes[j].max[a];
    }
    badCount += jobBad[j];
  }
  group = nullptr;
  boxes = nullptr;
  badCounts = nullptr;
  OSTUtils::releaseArray(jobBoxes);
  OSTUtils::releaseArray(jobBad);
  return true;
}
