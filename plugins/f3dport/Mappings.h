// Where a layer's voxels are in the world, and the frame transform that follows.
//
// Field3D places a voxel through local space: voxel (i, j, k) is centred at the continuous
// voxel coordinate p = (i + 0.5, j + 0.5, k + 0.5); local = (p - extents.min) /
// (extents.max - extents.min + 1), so local [0,1]^3 spans the EXTENTS, not the data window;
// then the mapping takes local to world:
//   Null     world = local
//   Matrix   world = [local, 1] * M (row vectors; M is evaluated at time 0)
//   Frustum  screen = (2 local.x - 1, 2 local.y - 1, local.z); perspective: world =
//            [screen, 1] * S divided by its w; uniform: the point at screen depth 0 and
//            the point at screen depth 1 of the same screen x, y, interpolated linearly
//            by local.z (evenly spaced in camera depth). S is evaluated at time 0.
// Time-sampled matrices are evaluated at 0 as Field3D does: the first sample before it,
// the last after it, element-wise linear interpolation between the two around it.
//
// A frame's transform maps world w (row vector) to frame cell coordinates v = w * A + o,
// frame cell u centred at v = u (as the OpenVDB plug-in has it). A frame built on the box
// `box` of voxel indices has cell u at voxel box.min + u.
#pragma once

#include <string>

#include "plugins/f3dport/F3dLayout.h"

namespace F3dPort {

// A layer's placement: its partition's mapping at time 0 and its extents.
struct Placement {
  MappingType type = MappingType::Null;
  double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};  // local to world / screen to world
  int32_t zDistribution = 0;
  Box extents;
};

// The placement of a layer under `mapping`; false with `why` when the mapping's matrices
// are not finite or a matrix mapping is not affine (last column other than 0, 0, 0, 1).
bool placementOf(const Mapping& mapping, const Box& extents, Placement& out, std::string& why);

// Whether two layers' voxels lie at the same world positions: the same mapping type and,
// for linear mappings, voxel-to-world matrices equal to a millionth of a voxel; frustum
// mappings also need equal extents and screen-to-world matrices.
bool samePlacement(const Placement& a, const Placement& b);

// The world position of the voxel-coordinate point p (a voxel centre is i + 0.5).
// False when a frustum projection divides by zero.
bool voxelToWorld(const Placement& placement, const double p[3], double world[3]);

// The frame transform for a frame on `box`. Linear mappings convert exactly; a frustum
// mapping is replaced by the affine map that fits the world positions of the box's voxel
// centres best in the least-squares sense: over every centre of a box of up to 2^22
// voxels, over a grid of 160 evenly spaced centres per axis (both ends included) of a
// larger one, so that the cost is bounded whatever a file claims. `fitted` receives the
// number of centres fitted, `deviation` the largest distance between one of them and its
// fitted position in voxel widths (both 0 for linear mappings). False when the resulting
// matrix cannot be inverted or is not finite.
bool frameTransform(const Placement& placement, const Box& box, float out[12], double& deviation, int64_t& fitted);

}  // namespace F3dPort
