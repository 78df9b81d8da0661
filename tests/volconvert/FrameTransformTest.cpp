#include "vdb/FrameTransform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using NebVdb::indexToWorldMatrix;

namespace {

// World position of index v through m (row-vector convention).
void apply(const double m[4][4], const double v[3], double w[3]) {
  for (int c = 0; c < 3; ++c) w[c] = v[0] * m[0][c] + v[1] * m[1][c] + v[2] * m[2][c] + m[3][c];
}

}  // namespace

TEST(FrameTransform, IdentityWithOffsetMapsIndexZeroToMinusOffset) {
  const float t[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, -10, 0, 5};
  double m[4][4];
  ASSERT_TRUE(indexToWorldMatrix(t, m));
  const double zero[3] = {0, 0, 0};
  double w[3];
  apply(m, zero, w);
  EXPECT_EQ(w[0], 10.0);
  EXPECT_EQ(w[1], 0.0);
  EXPECT_EQ(w[2], -5.0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(m[i][3], 0.0);
  EXPECT_EQ(m[3][3], 1.0);
}

TEST(FrameTransform, ScaleTwoGivesHalfUnitVoxels) {
  const float t[12] = {2, 0, 0, 0, 2, 0, 0, 0, 2, 4, 6, 8};
  double m[4][4];
  ASSERT_TRUE(indexToWorldMatrix(t, m));
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_EQ(m[i][j], i == j ? 0.5 : 0.0);
  EXPECT_EQ(m[3][0], -2.0);
  EXPECT_EQ(m[3][1], -3.0);
  EXPECT_EQ(m[3][2], -4.0);
}

TEST(FrameTransform, GeneralMatrixInvertsAndElementsAreFloatRounded) {
  const float t[12] = {0.3f, 1.7f, -0.2f, 0.9f, -0.4f, 2.1f, 1.3f, 0.6f, 0.8f, 3.25f, -1.5f, 0.75f};
  double m[4][4];
  ASSERT_TRUE(indexToWorldMatrix(t, m));
  // B * A is the identity up to float rounding of B.
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      double s = 0;
      for (int k = 0; k < 3; ++k) s += m[i][k] * double(t[k * 3 + j]);
      EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-6);
      EXPECT_EQ(m[i][j], double(float(m[i][j])));
    }
  }
  // The translation is the float sum, widened: exactly representable as a float and equal
  // to the float evaluation of -(o*B).
  for (int c = 0; c < 3; ++c) {
    const float b0 = float(m[0][c]), b1 = float(m[1][c]), b2 = float(m[2][c]);
    const float expect = -(t[9] * b0 + t[10] * b1 + t[11] * b2);
    EXPECT_EQ(m[3][c], double(expect));
  }
  // Round trip: world (1,2,3) -> grid v = w*A + o -> back to world.
  const double w[3] = {1, 2, 3};
  double v[3], back[3];
  for (int c = 0; c < 3; ++c) v[c] = w[0] * t[c] + w[1] * t[3 + c] + w[2] * t[6 + c] + t[9 + c];
  apply(m, v, back);
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(back[c], w[c], 1e-5);
}

TEST(FrameTransform, SingularOrNonFiniteIsRefused) {
  double m[4][4] = {};
  m[0][0] = 42;
  const float zero[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3};
  const float flat[12] = {1, 2, 3, 2, 4, 6, 0, 0, 1, 0, 0, 0};  // rows 0 and 1 dependent
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const float withNan[12] = {1, 0, 0, 0, nan, 0, 0, 0, 1, 0, 0, 0};
  const float infOffset[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, inf, 0, 0};
  // Invertible in double, but the inverse overflows float.
  const float tiny[12] = {1e-39f, 0, 0, 0, 1e-39f, 0, 0, 0, 1e-39f, 0, 0, 0};
  // Finite inverse, but o*B overflows float.
  const float hugeShift[12] = {1e-20f, 0, 0, 0, 1, 0, 0, 0, 1, 3e30f, 0, 0};
  for (const float* t : {zero, flat, withNan, infOffset, tiny, hugeShift}) EXPECT_FALSE(indexToWorldMatrix(t, m));
  EXPECT_EQ(m[0][0], 42.0);
}
