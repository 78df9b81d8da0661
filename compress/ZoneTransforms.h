// Integer steps of the grid codec's quantized zones: differencing and its inverse, and
// the final dequantization. All integer arithmetic wraps around (done on uint32), so a
// difference pass and its integration undo each other exactly whatever the values.
//
// One-dimensional, `passes` passes: pass p (1-based) replaces q[j] by q[j] - q[j-1] for
// j = N-1 down to p; integration runs p = passes down to 1 with q[j] += q[j-1] for
// j = p .. N-1.
//
// Three-dimensional box X * Y * Z, X fastest: pass p differences along Z, then Y, then X
// (each along every line parallel to the axis, positions extent-1 down to p); integration
// runs p = passes down to 1 along X, then Y, then Z (positions p .. extent-1), so it
// undoes the last difference first. An axis whose extent is <= p is untouched in pass p.
#pragma once

#include <cstdint>

namespace OSTUtils {

void DifferenceLine(int* q, int64_t n, int passes);
void IntegrateLine(int* q, int64_t n, int passes);
void DifferenceBox(int* q, int x, int y, int z, int passes);
void IntegrateBox(int* q, int x, int y, int z, int passes);

// values[i] = (float)q[i] * r + offset with r = 1.0f / scale, each step in single precision.
void Dequantize(const int* q, int64_t n, float scale, float offset, float* values);

// IntegrateLine / IntegrateBox followed by Dequantize, the last pass fused with the
// dequantization (same results; q holds no defined values afterwards).
void IntegrateDequantizeLine(int* q, int64_t n, int passes, float scale, float offset, float* values);
void IntegrateDequantizeBox(int* q, int x, int y, int z, int passes, float scale, float offset, float* values);

}  // namespace OSTUtils
