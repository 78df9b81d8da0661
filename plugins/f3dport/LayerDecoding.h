// A layer's voxels into float arrays over a frame's box.
//
// Dense: the data window, x fastest, then y, then z, components interleaved.
// Sparse: cubic blocks of side s = 1 << block order, anchored at the data-window minimum,
//   indexed bi + bj*bx + bk*bx*by over block_res (bx, by, bz). The r-th block whose flag is
//   non-zero is stored row r; inside a row voxels run x fastest over the whole block (edge
//   blocks are stored at full size: voxels beyond the data window are padding, skipped).
//   Every voxel of a block that is not stored takes the block's empty value, which need
//   not be zero. The number of non-zero flags must equal the stored rows.
// MAC: face arrays u (x-faces, (nx+1)*ny*nz), v (y-faces), w (z-faces), each x fastest over
//   its own box from the data-window minimum; the cell-centred vector of voxel (i, j, k) is
//   ((u[i] + u[i+1]) / 2, (v[j] + v[j+1]) / 2, (w[k] + w[k+1]) / 2).
// half and float values average in float, doubles in double before rounding to float.
//
// Scratch buffers are sized from the file's numbers and held in the memory budget; a
// dense or MAC layer is read a few planes at a time.
#pragma once

#include "plugins/f3dport/F3dFile.h"

namespace F3dPort {

// IEEE 754 binary16 bits to float (exact).
float halfToFloat(uint16_t bits);

// Writes the layer's voxels into the frame arrays `out[c]` (component c; null: not
// wanted), each nx*ny*nz floats over `box`, x fastest; `box` contains the layer's data
// window. Cells outside the window are left as they are. False (reported) on damage or
// when the budget refuses the scratch.
bool decodeLayer(F3dFile& file, const Layer& layer, const Box& box, float* const out[3]);

}  // namespace F3dPort
