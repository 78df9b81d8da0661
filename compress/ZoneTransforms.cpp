#include "compress/ZoneTransforms.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace OSTUtils {

namespace {

// Wrap-around views of the quantized values (signed overflow would be undefined).
inline uint32_t* asUnsigned(int* q) { return reinterpret_cast<uint32_t*>(q); }

// Along X a line is a row and is summed serially; along Y and Z whole rows / planes are
// added to their neighbours, so the innermost loops run over contiguous cells and vectorise.

#if defined(__SSE2__)
// Running sums of four values plus the carry from the group before, by an in-register
// scan; the carry becomes the last sum. Adds wrap, as the scalar ones do.
inline __m128i scanFour(__m128i v, __m128i& carry) {
  v = _mm_add_epi32(v, _mm_slli_si128(v, 4));
  v = _mm_add_epi32(v, _mm_slli_si128(v, 8));
  v = _mm_add_epi32(v, carry);
  carry = _mm_shuffle_epi32(v, 0xFF);
  return v;
}
#endif

// Rows (X axis): a running sum per row.
void integrateRows(uint32_t* u, int64_t rows, int64_t x, int p) {
  for (int64_t r = 0; r < rows; ++r) {
    uint32_t* row = u + r * x;
    uint32_t acc = row[p - 1];
    int64_t j = p;
#if defined(__SSE2__)
    __m128i carry = _mm_set1_epi32(static_cast<int32_t>(acc));
    for (; j + 4 <= x; j += 4) {
      const __m128i v = scanFour(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + j)), carry);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(row + j), v);
    }
    acc = static_cast<uint32_t>(_mm_cvtsi128_si32(carry));
#endif
    for (; j < x; ++j) {
      acc += row[j];
      row[j] = acc;
    }
  }
}

// Planes of `rowLen` cells: plane j += plane j-1 for j = p .. count-1, in `groups` groups.
void integratePlanes(uint32_t* u, int64_t groups, int64_t count, int64_t rowLen, int p) {
  for (int64_t g = 0; g < groups; ++g) {
    uint32_t* first = u + g * count * rowLen;
    for (int64_t j = p; j < count; ++j) {
      uint32_t* cur = first + j * rowLen;
      const uint32_t* prev = cur - rowLen;
      for (int64_t i = 0; i < rowLen; ++i) cur[i] += prev[i];
    }
  }
}

void differenceRows(uint32_t* u, int64_t rows, int64_t x, int p) {
  for (int64_t r = 0; r < rows; ++r) {
    uint32_t* row = u + r * x;
    for (int64_t j = x - 1; j >= p; --j) row[j] -= row[j - 1];
  }
}

void differencePlanes(uint32_t* u, int64_t groups, int64_t count, int64_t rowLen, int p) {
  for (int64_t g = 0; g < groups; ++g) {
    uint32_t* first = u + g * count * rowLen;
    for (int64_t j = count - 1; j >= p; --j) {
      uint32_t* cur = first + j * rowLen;
      const uint32_t* prev = cur - rowLen;
      for (int64_t i = 0; i < rowLen; ++i) cur[i] -= prev[i];
    }
  }
}

}  // namespace

void DifferenceLine(int* q, int64_t n, int passes) {
  uint32_t* u = asUnsigned(q);
  for (int p = 1; p <= passes; ++p) {
    for (int64_t j = n - 1; j >= p; --j) u[j] -= u[j - 1];
  }
}

void IntegrateLine(int* q, int64_t n, int passes) {
  uint32_t* u = asUnsigned(q);
  for (int p = passes; p >= 1; --p) {
    if (n > p) integrateRows(u, 1, n, p);
  }
}

void DifferenceBox(int* q, int x, int y, int z, int passes) {
  uint32_t* u = asUnsigned(q);
  const int64_t X = x, Y = y, Z = z;
  for (int p = 1; p <= passes; ++p) {
    if (Z > p) differencePlanes(u, 1, Z, X * Y, p);
    if (Y > p) differencePlanes(u, Z, Y, X, p);
    if (X > p) differenceRows(u, Y * Z, X, p);
  }
}

void IntegrateBox(int* q, int x, int y, int z, int passes) {
  uint32_t* u = asUnsigned(q);
  const int64_t X = x, Y = y, Z = z;
  for (int p = passes; p >= 1; --p) {
    if (X > p) integrateRows(u, Y * Z, X, p);
    if (Y > p) integratePlanes(u, Z, Y, X, p);
    if (Z > p) integratePlanes(u, 1, Z, X * Y, p);
  }
}

void Dequantize(const int* q, int64_t n, float scale, float offset, float* values) {
  const float r = 1.0f / scale;
  for (int64_t i = 0; i < n; ++i) values[i] = static_cast<float>(q[i]) * r + offset;
}

// The last pass (p = 1) runs together with the dequantization: each integrated value is
// turned into its float as it is produced, saving a pass over the scratch array. The
// integer sums and the float steps are the same as IntegrateLine / IntegrateBox followed
// by Dequantize.
void IntegrateDequantizeLine(int* q, int64_t n, int passes, float scale, float offset, float* values) {
  if (passes < 1 || n < 2) {
    Dequantize(q, n, scale, offset, values);
    return;
  }
  uint32_t* u = asUnsigned(q);
  for (int p = passes; p >= 2; --p) {
    if (n > p) integrateRows(u, 1, n, p);
  }
  const float r = 1.0f / scale;
  uint32_t acc = u[0];
  values[0] = static_cast<float>(static_cast<int32_t>(acc)) * r + offset;
  int64_t j = 1;
#if defined(__SSE2__)
  // Four running sums at a time. Int-to-float conversion rounds to nearest like the cast,
  // and the product and the sum stay separate steps.
  {
    __m128i carry = _mm_set1_epi32(static_cast<int32_t>(acc));
    const __m128 vr = _mm_set1_ps(r);
    const __m128 vo = _mm_set1_ps(offset);
    for (; j + 4 <= n; j += 4) {
      const __m128i x = scanFour(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u + j)), carry);
      _mm_storeu_ps(values + j, _mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(x), vr), vo));
    }
    acc = static_cast<uint32_t>(_mm_cvtsi128_si32(carry));
  }
#endif
  for (; j < n; ++j) {
    acc += u[j];
    values[j] = static_cast<float>(static_cast<int32_t>(acc)) * r + offset;
  }
}

void IntegrateDequantizeBox(int* q, int x, int y, int z, int passes, float scale, float offset, float* values) {
  const int64_t X = x, Y = y, Z = z;
  if (passes < 1 || Z < 2) {
    IntegrateBox(q, x, y, z, passes);
    Dequantize(q, X * Y * Z, scale, offset, values);
    return;
  }
  uint32_t* u = asUnsigned(q);
  for (int p = passes; p >= 2; --p) {
    if (X > p) integrateRows(u, Y * Z, X, p);
    if (Y > p) integratePlanes(u, Z, Y, X, p);
    if (Z > p) integratePlanes(u, 1, Z, X * Y, p);
  }
  if (X > 1) integrateRows(u, Y * Z, X, 1);
  if (Y > 1) integratePlanes(u, Z, Y, X, 1);
  // Z planes: plane j += plane j-1, each plane dequantized once it is final.
  const float r = 1.0f / scale;
  const int64_t plane = X * Y;
  for (int64_t i = 0; i < plane; ++i) values[i] = static_cast<float>(q[i]) * r + offset;
  for (int64_t j = 1; j < Z; ++j) {
    uint32_t* cur = u + j * plane;
    const uint32_t* prev = cur - plane;
    float* out = values + j * plane;
    for (int64_t i = 0; i < plane; ++i) {
      cur[i] += prev[i];
      out[i] = static_cast<float>(static_cast<int32_t>(cur[i])) * r + offset;
    }
  }
}

}  // namespace OSTUtils
