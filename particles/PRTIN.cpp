#include "particles/PRTIN.h"

#include <algorithm>
#include <new>

#include "particles/ParticleSlotLayout.h"
#include "zutils/Report.h"

const char* PRTIN::getName() { return "MT PRTIN"; }

void PRTIN::work(OSTUtils::Job* job) {
  const int words = ParticleSlotLayout::words(slot);
  if (!job || !target || !planes || words <= 0) return;
  // The particle count is what the channel holds; the range may say more.
  const int64_t n = target->size / (4 * static_cast<int64_t>(words));
  OSTUtils::AssembleFromBitPlanes(planes, n, words, job->begin, std::min<int64_t>(job->end, n),
                                  reinterpret_cast<uint32_t*>(target->data));
}

void PRTIN::run(OSTUtils::OstArray<char, int64_t>& target, const uint32_t* planes, int slot, int64_t particleCount) {
  PRTIN job;
  job.target = &target;
  job.planes = planes;
  job.slot = slot;
  job.setupJobs(-1);
  job.setRange(particleCount);
  OSTUtils::TMTJobProcHolder<PRTIN>* holder =
      new (std::nothrow) OSTUtils::TMTJobProcHolder<PRTIN>(&job, &PRTIN::work);
  if (!holder) {
    // No memory for the holder: do the whole range here rather than leave the channel
    // unassembled.
    ZUtils::logReport("[ERROR] PRTIN could not allocate its job holder\n");
    const int words = ParticleSlotLayout::words(slot);
    if (words > 0) {
      OSTUtils::AssembleFromBitPlanes(planes, target.size / (4 * static_cast<int64_t>(words)), words, 0, particleCount,
                                      reinterpret_cast<uint32_t*>(target.data));
    }
    return;
  }
  job.setHolder(holder);
  job.runWithHolder();
}

void PrtinAssembler::assemble(const uint32_t* planes, int64_t particleCount, int words, uint32_t* target) {
  // The target handed in is target_'s storage; PRTIN works on the array itself.
  (void)words;
  (void)target;
  PRTIN::run(*target_, planes, slot_, particleCount);
}
