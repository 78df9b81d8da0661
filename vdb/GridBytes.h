// One grid's bytes in an OpenVDB file, the bytes Archive::writeGrid gives, with each
// leaf's values compressed once and the leaf buffers produced in chunks that several
// threads may write at once.
//
// Archive::writeGrid writes, for a grid of the value types below: the descriptor, its three
// stream positions (grid, leaf buffers, end), the compression flags, the grid's metadata
// with its statistics (file_bbox_min/max, file_mem_bytes, file_voxel_count,
// file_compression) and "file_delayed_load" (per leaf, the kind of inactive values kept,
// and with blosc or zip the bytes of its compressed values, their 8-byte count included,
// which readers use to skip the leaves they do not load), the transform, the topology,
// then every leaf's buffer. It compresses each leaf twice, once for that size and once to
// write it, and writes the buffers on one thread. Here the leaves (in the tree's order,
// the order of the buffers) are split into chunks of about 256 KiB of values; writing a
// chunk compresses each of its leaves once (LeafNode::writeBuffers), keeps the records and
// notes each leaf's size and kind; the head is made from the notes once every chunk was
// written.
//
// The value types are those OpenVDB 10 records leaf sizes for: Int32, Int64, float,
// double, Vec3i, Vec3s, Vec3d. A grid of any other type (point data grids, masks,
// booleans) gets no GridBytes; the writer hands it to Archive::writeGrid whole.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <openvdb/openvdb.h>

#include "vdb/VdbArchive.h"

namespace NebVdb {

class GridBytes {
 public:
  // Null for a grid of another value type.
  static std::unique_ptr<GridBytes> create(const VdbArchive& archive, const openvdb::GridBase::ConstPtr& grid);
  virtual ~GridBytes() = default;

  size_t chunkCount() const { return (leaves_ + leavesPerChunk_ - 1) / leavesPerChunk_; }
  // The bytes of the values of chunk c's leaves: about the most its records take.
  uint64_t chunkValueBytes(size_t c) const;

  // Appends chunk c's leaf records to `out` and notes each leaf's size and kind. Distinct
  // chunks may be written on several threads at once; a chunk written again gives the
  // same bytes.
  virtual void writeChunk(size_t c, std::vector<char>& out) = 0;

  // The bytes before the leaf buffers, once every chunk has been written: `at` is the file
  // position of their first byte, `bufferBytes` the bytes of all chunks together.
  virtual std::vector<char> head(const VdbArchive& archive, const openvdb::io::GridDescriptor& gd, int64_t at,
                                 int64_t bufferBytes) const = 0;

 protected:
  size_t leaves_ = 0, leavesPerChunk_ = 1, leafValueBytes_ = 0;
};

}  // namespace NebVdb
