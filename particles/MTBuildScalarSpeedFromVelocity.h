// Speed grid channel from the three velocity channels, split over the workers:
// speed[i] = sqrt((vx[i]^2 + vy[i]^2) + vz[i]^2), every step in single precision.
#pragma once

#include <cstdint>

#include "ostutils/OstParallel.h"

class MTBuildScalarSpeedFromVelocity : public OSTUtils::OstParallel {
 public:
  MTBuildScalarSpeedFromVelocity(const float* vx, const float* vy, const float* vz, float* speed)
      : vx(vx), vy(vy), vz(vz), speed(speed) {}
  ~MTBuildScalarSpeedFromVelocity() override {}
  const char* getName() override;
  // Cells job->begin .. job->end - 1.
  void processJob(OSTUtils::Job* job) override;

  // setupJobs(-1), setRange(cellCount), runJobs(0) on a job object of its own.
  static void build(const float* vx, const float* vy, const float* vz, float* speed, int64_t cellCount);

  const float* vx;
  const float* vy;
  const float* vz;
  float* speed;
};
