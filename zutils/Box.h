// Axis-aligned box of six floats: minimum x, y, z then maximum x, y, z. Kept plain (no
// constructor) so it can live in OstArray, in files and in job result tables as is.
#pragma once

namespace ZUtils {

struct Box {
  float min[3];
  float max[3];
};

}  // namespace ZUtils
