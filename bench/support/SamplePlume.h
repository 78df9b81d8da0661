// Frame 3 of a 10-frame, 256^3 sequence of the procedural plume that nebsample writes: a
// dense scene (velocity non-zero almost everywhere, smoke over 40% of the box, packed
// colour) for the decode benchmarks. Built once per process; the frame file is written to
// /tmp with the writer's default (lossy) options, grid channels and colour only.
#pragma once

#include <string>

#include "SmokePlume.h"
#include "cache/NebWriter.h"

inline const NebSample::PlumeFrame& samplePlume() {
  static const NebSample::PlumeFrame frame = [] {
    NebSample::PlumeFrame f;
    NebSample::makePlumeFrame(3, 10, 256, f);
    return f;
  }();
  return frame;
}

// The sample frame's grid values for a channel slot (1 temperature, 2 smoke, 4..6 velocity,
// 10 fuel), null for others.
inline const float* samplePlumeChannel(int slot) {
  const NebSample::PlumeFrame& f = samplePlume();
  switch (slot) {
    case 1: return f.temperature.data();
    case 2: return f.smoke.data();
    case 4: return f.velocityX.data();
    case 5: return f.velocityY.data();
    case 6: return f.velocityZ.data();
    case 10: return f.fuel.data();
    default: return nullptr;
  }
}

// Path of the written frame, empty when writing failed.
inline const std::string& samplePlumeFile() {
  static const std::string path = [] {
    const std::string p = "/tmp/neb_sample_plume_bench_256_f3.neb";
    const NebSample::PlumeFrame& f = samplePlume();
    NebWriter w;
    w.setGridSize(f.size[0], f.size[1], f.size[2]);
    w.setTransform(f.transform);
    w.setFrameNumber(3);
    const bool ok = w.addChannel(2, f.smoke.data()) && w.addChannel(1, f.temperature.data()) &&
                    w.addChannel(10, f.fuel.data()) && w.addChannel(4, f.velocityX.data()) &&
                    w.addChannel(5, f.velocityY.data()) && w.addChannel(6, f.velocityZ.data()) &&
                    w.addPackedColour(f.colour.data()) && w.write(p.c_str());
    return ok ? p : std::string();
  }();
  return path;
}
