// Index-to-world matrix of the exported grids from a frame's grid transform.
//
// The frame transform t[12] maps a world position w (row vector) to grid coordinates
// v = w*A + o, with A = t0..t8 by rows and o = t9..t11. The grids carry the inverse,
// w = (v - o)*B with B = A^-1, as a 4x4 matrix in the row-vector convention:
//   rows 0..2 = rows of B (column 3 zero), row 3 = -(o*B), m[3][3] = 1.
// Rounding is part of the file contents: cofactors, determinant and its reciprocal in
// double from the float elements, each element of B rounded to float; the translation is
// evaluated in float, ((o0*B0c + o1*B1c) + o2*B2c) negated, then widened.
#pragma once

#include <openvdb/math/Mat4.h>

namespace NebVdb {

// False (m untouched) when an element of t is not finite, the determinant of A is 0, or B
// or the translation is not finite: such a frame has no usable grid transform.
bool indexToWorldMatrix(const float t[12], double m[4][4]);

// The same matrix as OpenVDB's Mat4d, ready for Transform::createLinearTransform.
bool indexToWorldMatrix(const float t[12], openvdb::math::Mat4d& matrix);

}  // namespace NebVdb
