#include "particles/MTBuildScalarSpeedFromVelocity.h"

#include <cmath>

const char* MTBuildScalarSpeedFromVelocity::getName() { return "MTBuildScalarSpeedFromVelocity"; }

void MTBuildScalarSpeedFromVelocity::processJob(OSTUtils::Job* job) {
  if (!vx || !vy || !vz || !speed) return;
  for (int64_t i = job->begin; i < job->end; ++i) {
    const float x = vx[i], y = vy[i], z = vz[i];
    speed[i] = std::sqrt((x * x + y * y) + z * z);
  }
}

void MTBuildScalarSpeedFromVelocity::build(const float* vx, const float* vy, const float* vz, float* speed,
                                           int64_t cellCount) {
  MTBuildScalarSpeedFromVelocity job(vx, vy, vz, speed);
  job.setupJobs(-1);
  job.setRange(cellCount > 0 ? cellCount : 0);
  job.runJobs(0);
}
