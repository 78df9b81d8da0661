#include "plugins/f3dport/Mappings.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace F3dPort {

namespace {

// The samples at time 0: first before, last after, element-wise interpolation between.
void atTimeZero(const std::vector<TimedMatrix>& samples, double out[16]) {
  std::vector<const TimedMatrix*> sorted;
  for (const TimedMatrix& s : samples) sorted.push_back(&s);
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const TimedMatrix* a, const TimedMatrix* b) { return a->time < b->time; });
  const TimedMatrix* pick = nullptr;
  if (sorted.front()->time >= 0.0f) pick = sorted.front();
  if (sorted.back()->time <= 0.0f) pick = sorted.back();
  if (pick) {
    std::copy(pick->m, pick->m + 16, out);
    return;
  }
  size_t i = 0;
  while (sorted[i + 1]->time < 0.0f) ++i;
  const TimedMatrix& a = *sorted[i];
  const TimedMatrix& b = *sorted[i + 1];
  const double t = (0.0 - a.time) / (double(b.time) - a.time);
  for (int e = 0; e < 16; ++e) out[e] = a.m[e] + (b.m[e] - a.m[e]) * t;
}

// Voxel to world of a linear placement, row vectors: rows 0..2 the linear part, row 3 the
// world position of voxel coordinate 0.
void linearVoxelToWorld(const Placement& p, double v2w[4][3]) {
  double res[3];
  for (int a = 0; a < 3; ++a) res[a] = static_cast<double>(p.extents.size(a));
  for (int c = 0; c < 3; ++c) {
    double t = p.m[12 + c];
    for (int a = 0; a < 3; ++a) {
      v2w[a][c] = p.m[4 * a + c] / res[a];
      t -= p.extents.min[a] * v2w[a][c];
    }
    v2w[3][c] = t;
  }
}

bool project(const double s[3], const double m[16], double w[3]) {
  double h[4];
  for (int c = 0; c < 4; ++c) h[c] = s[0] * m[c] + s[1] * m[4 + c] + s[2] * m[8 + c] + m[12 + c];
  if (!(std::fabs(h[3]) > 1e-300)) return false;
  for (int c = 0; c < 3; ++c) w[c] = h[c] / h[3];
  return std::isfinite(w[0]) && std::isfinite(w[1]) && std::isfinite(w[2]);
}

// v = w * A + o from index to world w = u * B + t (u frame cell coordinates).
bool invertToFrame(const double B[3][3], const double t[3], float out[12]) {
  const double det = B[0][0] * (B[1][1] * B[2][2] - B[1][2] * B[2][1]) -
                     B[0][1] * (B[1][0] * B[2][2] - B[1][2] * B[2][0]) +
                     B[0][2] * (B[1][0] * B[2][1] - B[1][1] * B[2][0]);
  if (!std::isfinite(det) || std::fabs(det) < 1e-300) return false;
  double A[3][3];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      // Cofactor of B[c][r] over the determinant: the inverse's element (r, c).
      const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
      A[r][c] = (B[r1][c1] * B[r2][c2] - B[r1][c2] * B[r2][c1]) / det;
    }
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) out[3 * r + c] = static_cast<float>(A[r][c]);
  for (int c = 0; c < 3; ++c) out[9 + c] = static_cast<float>(-(t[0] * A[0][c] + t[1] * A[1][c] + t[2] * A[2][c]));
  for (int i = 0; i < 12; ++i)
    if (!std::isfinite(out[i])) return false;
  return true;
}

// The cell coordinates the fit runs over along one axis of n cells: all of them when the
// box is small enough, else `keep` evenly spaced ones, both ends included.
std::vector<int64_t> fitSamples(int64_t n, int64_t keep) {
  std::vector<int64_t> out;
  if (n <= keep) {
    for (int64_t u = 0; u < n; ++u) out.push_back(u);
  } else {
    for (int64_t s = 0; s < keep; ++s) out.push_back((s * (n - 1) + (keep - 1) / 2) / (keep - 1));
  }
  return out;
}

// The least-squares affine fit w ~ u * B + t over the voxel centres of the box (over a grid
// of evenly spaced centres per axis when the box has more than kExactFitCells: the cost
// stays bounded whatever size a file claims). On any such product grid the centred cell
// coordinates of different axes are orthogonal, so each row of B is the covariance of that
// axis with the world position over its variance; an axis one voxel thick has no variance
// and takes the mean difference across its voxel instead.
const int64_t kExactFitCells = int64_t(1) << 22;
const int64_t kFitSamplesPerAxis = 160;

// Calls f(u, p, w) for every fitted cell u: p its voxel centre, w its world position.
// False when a projection fails.
template <class F>
bool forEachSample(const Placement& placement, const Box& box, const std::vector<int64_t> axis[3], F f) {
  double pt[3], w[3];
  for (int64_t k : axis[2])
    for (int64_t j : axis[1])
      for (int64_t i : axis[0]) {
        const int64_t u[3] = {i, j, k};
        for (int a = 0; a < 3; ++a) pt[a] = box.min[a] + u[a] + 0.5;
        if (!voxelToWorld(placement, pt, w) || !f(u, pt, w)) return false;
      }
  return true;
}

bool fitFrustum(const Placement& p, const Box& box, double B[3][3], double t[3], double& deviation,
                int64_t& samples) {
  const int64_t n[3] = {box.size(0), box.size(1), box.size(2)};
  const bool exact = box.voxels() >= 0 && box.voxels() <= kExactFitCells;
  std::vector<int64_t> axis[3];
  double centre[3] = {0, 0, 0};
  for (int a = 0; a < 3; ++a) {
    axis[a] = fitSamples(n[a], exact ? n[a] : kFitSamplesPerAxis);
    for (int64_t u : axis[a]) centre[a] += double(u) / double(axis[a].size());
  }
  samples = int64_t(axis[0].size() * axis[1].size() * axis[2].size());
  const double count = double(samples);
  double mean[3] = {0, 0, 0}, cov[3][3] = {}, var[3] = {0, 0, 0}, across[3][3] = {};
  const bool summed = forEachSample(p, box, axis, [&](const int64_t u[3], const double pt[3], const double w[3]) {
    for (int a = 0; a < 3; ++a) {
      var[a] += (u[a] - centre[a]) * (u[a] - centre[a]);
      for (int c = 0; c < 3; ++c) cov[a][c] += (u[a] - centre[a]) * w[c];
      if (n[a] != 1) continue;
      double lo[3] = {pt[0], pt[1], pt[2]}, hi[3] = {pt[0], pt[1], pt[2]}, wl[3], wh[3];
      lo[a] -= 0.5;
      hi[a] += 0.5;
      if (!voxelToWorld(p, lo, wl) || !voxelToWorld(p, hi, wh)) return false;
      for (int c = 0; c < 3; ++c) across[a][c] += (wh[c] - wl[c]) / count;
    }
    for (int c = 0; c < 3; ++c) mean[c] += w[c] / count;
    return true;
  });
  if (!summed) return false;
  for (int a = 0; a < 3; ++a)
    for (int c = 0; c < 3; ++c) B[a][c] = n[a] == 1 ? across[a][c] : cov[a][c] / var[a];
  for (int c = 0; c < 3; ++c) t[c] = mean[c] - (centre[0] * B[0][c] + centre[1] * B[1][c] + centre[2] * B[2][c]);

  // The largest miss, measured in the mean voxel width of the fit.
  double width = 0;
  for (int a = 0; a < 3; ++a) width += std::sqrt(B[a][0] * B[a][0] + B[a][1] * B[a][1] + B[a][2] * B[a][2]) / 3;
  double worst = 0;
  forEachSample(p, box, axis, [&](const int64_t u[3], const double*, const double w[3]) {
    double d2 = 0;
    for (int c = 0; c < 3; ++c) {
      const double fit = u[0] * B[0][c] + u[1] * B[1][c] + u[2] * B[2][c] + t[c];
      d2 += (fit - w[c]) * (fit - w[c]);
    }
    worst = std::max(worst, std::sqrt(d2));
    return true;
  });
  deviation = width > 0 ? worst / width : 0;
  return true;
}

}  // namespace

bool placementOf(const Mapping& mapping, const Box& extents, Placement& out, std::string& why) {
  out = Placement();
  out.type = mapping.type;
  out.extents = extents;
  out.zDistribution = mapping.zDistribution;
  if (mapping.type != MappingType::Null && !mapping.samples.empty()) atTimeZero(mapping.samples, out.m);
  for (double v : out.m)
    if (!std::isfinite(v)) {
      why = "its mapping matrix is not finite";
      return false;
    }
  if (mapping.type == MappingType::Matrix && (out.m[3] != 0 || out.m[7] != 0 || out.m[11] != 0 || out.m[15] != 1)) {
    why = "its mapping matrix is not affine (its last column is not 0, 0, 0, 1)";
    return false;
  }
  return true;
}

bool samePlacement(const Placement& a, const Placement& b) {
  if (a.type != b.type) return false;
  if (a.type == MappingType::Frustum) {
    if (!(a.extents == b.extents) || a.zDistribution != b.zDistribution) return false;
    for (int e = 0; e < 16; ++e)
      if (a.m[e] != b.m[e]) return false;
    return true;
  }
  double va[4][3], vb[4][3];
  linearVoxelToWorld(a, va);
  linearVoxelToWorld(b, vb);
  double scale = 0;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) scale = std::max({scale, std::fabs(va[r][c]), std::fabs(vb[r][c])});
  const double tolerance = scale * 1e-6;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 3; ++c)
      if (!(std::fabs(va[r][c] - vb[r][c]) <= tolerance)) return false;
  return true;
}

bool voxelToWorld(const Placement& p, const double voxel[3], double world[3]) {
  double local[3];
  for (int a = 0; a < 3; ++a) local[a] = (voxel[a] - p.extents.min[a]) / static_cast<double>(p.extents.size(a));
  if (p.type != MappingType::Frustum) {
    for (int c = 0; c < 3; ++c)
      world[c] = local[0] * p.m[c] + local[1] * p.m[4 + c] + local[2] * p.m[8 + c] + p.m[12 + c];
    return true;
  }
  const double screen[3] = {2 * local[0] - 1, 2 * local[1] - 1, local[2]};
  if (p.zDistribution == 0) return project(screen, p.m, world);
  const double nearScreen[3] = {screen[0], screen[1], 0.0}, farScreen[3] = {screen[0], screen[1], 1.0};
  double nearWorld[3], farWorld[3];
  if (!project(nearScreen, p.m, nearWorld) || !project(farScreen, p.m, farWorld)) return false;
  for (int c = 0; c < 3; ++c) world[c] = nearWorld[c] + local[2] * (farWorld[c] - nearWorld[c]);
  return true;
}

bool frameTransform(const Placement& p, const Box& box, float out[12], double& deviation, int64_t& fitted) {
  double B[3][3], t[3];
  deviation = 0;
  fitted = 0;
  if (p.type == MappingType::Frustum) {
    if (!fitFrustum(p, box, B, t, deviation, fitted)) return false;
  } else {
    // Cell u is voxel box.min + u, centred at voxel coordinate box.min + u + 0.5.
    double v2w[4][3];
    linearVoxelToWorld(p, v2w);
    for (int c = 0; c < 3; ++c) {
      t[c] = v2w[3][c];
      for (int a = 0; a < 3; ++a) {
        B[a][c] = v2w[a][c];
        t[c] += (box.min[a] + 0.5) * v2w[a][c];
      }
    }
  }
  return invertToFrame(B, t, out);
}

}  // namespace F3dPort
