#include "vdb/FrameTransform.h"

#include <cmath>

namespace NebVdb {

namespace {

// Narrowing through a volatile store. GCC 12 with loop peeling and SLP vectorisation (-O3)
// was seen to keep the double value of two of the narrowed elements of B, which changes
// the file contents; the store makes the rounding to single precision unconditional.
float toFloat(double value) {
  volatile float narrowed = static_cast<float>(value);
  return narrowed;
}

}  // namespace

bool indexToWorldMatrix(const float t[12], double m[4][4]) {
  for (int i = 0; i < 12; ++i)
    if (!std::isfinite(t[i])) return false;
  // Elements widened before any arithmetic.
  const double a00 = t[0], a01 = t[1], a02 = t[2];
  const double a10 = t[3], a11 = t[4], a12 = t[5];
  const double a20 = t[6], a21 = t[7], a22 = t[8];
  const double c00 = a11 * a22 - a12 * a21;
  const double c01 = a12 * a20 - a10 * a22;
  const double c02 = a10 * a21 - a11 * a20;
  const double det = a00 * c00 + a01 * c01 + a02 * c02;
  if (det == 0.0 || !std::isfinite(det)) return false;
  const double r = 1.0 / det;
  // B = adj(A) / det; adj(A)[i][j] is the cofactor of element (j, i).
  float b[3][3];
  b[0][0] = toFloat(c00 * r);
  b[0][1] = toFloat((a02 * a21 - a01 * a22) * r);
  b[0][2] = toFloat((a01 * a12 - a02 * a11) * r);
  b[1][0] = toFloat(c01 * r);
  b[1][1] = toFloat((a00 * a22 - a02 * a20) * r);
  b[1][2] = toFloat((a02 * a10 - a00 * a12) * r);
  b[2][0] = toFloat(c02 * r);
  b[2][1] = toFloat((a01 * a20 - a00 * a21) * r);
  b[2][2] = toFloat((a00 * a11 - a01 * a10) * r);
  float translation[3];
  for (int c = 0; c < 3; ++c) {
    // Single precision on purpose; the build forbids contraction into fused multiply-adds.
    const float sum = t[9] * b[0][c] + t[10] * b[1][c] + t[11] * b[2][c];
    translation[c] = -sum;
  }
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j)
      if (!std::isfinite(b[i][j])) return false;
    if (!std::isfinite(translation[i])) return false;
  }
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) m[i][j] = b[i][j];
    m[i][3] = 0.0;
    m[3][i] = translation[i];
  }
  m[3][3] = 1.0;
  return true;
}

bool indexToWorldMatrix(const float t[12], openvdb::math::Mat4d& matrix) {
  double m[4][4];
  if (!indexToWorldMatrix(t, m)) return false;
  matrix = openvdb::math::Mat4d(m[0][0], m[0][1], m[0][2], m[0][3], m[1][0], m[1][1], m[1][2], m[1][3], m[2][0],
                                m[2][1], m[2][2], m[2][3], m[3][0], m[3][1], m[3][2], m[3][3]);
  return true;
}

}  // namespace NebVdb
