#include "vdb/GridBytes.h"

#include <algorithm>
#include <cstring>
#include <ostream>

#include <openvdb/io/Compression.h>
#include <openvdb/io/DelayedLoadMetadata.h>
#include <openvdb/io/io.h>
#include <openvdb/tree/LeafManager.h>

#include "vdb/StreamBuffers.h"

namespace NebVdb {

namespace {

namespace io = openvdb::io;

constexpr size_t kChunkValueBytes = size_t(256) << 10;

template <typename GridT>
class TypedGridBytes final : public GridBytes {
  using TreeT = typename GridT::TreeType;
  using LeafT = typename TreeT::LeafNodeType;
  using ValueT = typename GridT::ValueType;
  using MaskT = typename LeafT::NodeMaskType;
  static constexpr size_t kMaskBytes = sizeof(typename MaskT::Word) * MaskT::WORD_COUNT;

 public:
  TypedGridBytes(const VdbArchive& archive, typename GridT::ConstPtr grid)
      : grid_(std::move(grid)), leafs_(grid_->constTree()) {
    // The grid's flags as Archive::setGridCompression decides them.
    std::vector<char> scratch;
    MemoryStreamBuf buffer(scratch);
    std::ostream os(&buffer);
    archive.writeGridFlags(os, *grid_);
    compression_ = io::getDataCompression(os);
    sizing_ = archive.compression();
    leaves_ = leafs_.leafCount();
    leafValueBytes_ = sizeof(ValueT) * LeafT::SIZE;
    leavesPerChunk_ = std::max<size_t>(1, kChunkValueBytes / leafValueBytes_);
    kinds_.resize(leaves_);
    sizes_.resize(leaves_);
  }

  void writeChunk(size_t c, std::vector<char>& out) override {
    MemoryStreamBuf buffer(out);
    std::ostream os(&buffer);
    const ValueT& background = grid_->constTree().background();
    io::setDataCompression(os, compression_);
    io::setGridBackgroundValuePtr(os, &background);
    const bool half = grid_->saveFloatAsHalf();
    const bool masked = compression_ & io::COMPRESS_ACTIVE_MASK;
    // The sizes OpenVDB notes are those of the archive's compression, also where the
    // grid's drops zip (fog volumes, level sets): then they are not the sizes written and
    // are worked out apart, as OpenVDB does.
    const uint32_t coders = io::COMPRESS_BLOSC | io::COMPRESS_ZIP;
    const bool sized = sizing_ & coders, apart = (sizing_ & coders) != (compression_ & coders);
    const size_t end = std::min(leaves_, (c + 1) * leavesPerChunk_);
    for (size_t i = c * leavesPerChunk_; i < end; ++i) {
      const LeafT& leaf = leafs_.leaf(i);
      const size_t start = out.size();
      leaf.writeBuffers(os, half);
      // What file_delayed_load notes: the kind of inactive values, which the record holds
      // when inactive values are dropped and is worked out when they are not, and the
      // bytes of the values.
      const int8_t kind = masked ? int8_t(out[start + kMaskBytes])
                                 : io::MaskCompress<ValueT, MaskT>(leaf.valueMask(), MaskT(), leaf.buffer().data(), background)
                                       .metadata;
      kinds_[i] = kind;
      if (!sized) continue;
      if (apart) {
        sizes_[i] = int64_t(io::writeCompressedValuesSize(leaf.buffer().data(), LeafT::SIZE, leaf.valueMask(),
                                                          uint8_t(kind), half, sizing_)) + 8;
        continue;
      }
      // Record: value mask, kind byte, with inactive values dropped the one or two
      // inactive values the kind keeps and the mask choosing between two, then the values
      // (an 8-byte count and the compressed bytes).
      size_t before = kMaskBytes + 1;
      if (masked) {
        const int8_t k = kind;
        if (k == io::NO_MASK_AND_ONE_INACTIVE_VAL || k == io::MASK_AND_ONE_INACTIVE_VAL) before += sizeof(ValueT);
        if (k == io::MASK_AND_TWO_INACTIVE_VALS) before += 2 * sizeof(ValueT);
        if (k == io::MASK_AND_NO_INACTIVE_VALS || k == io::MASK_AND_ONE_INACTIVE_VAL || k == io::MASK_AND_TWO_INACTIVE_VALS)
          before += kMaskBytes;
      }
      int64_t bytes = int64_t(out.size() - start - before);
      // Half floats of a leaf without a value to write write nothing, not even the count;
      // OpenVDB notes the size of compressing nothing then.
      if (bytes == 0)
        bytes = int64_t(io::writeCompressedValuesSize(leaf.buffer().data(), LeafT::SIZE, leaf.valueMask(),
                                                      uint8_t(kind), half, compression_)) + 8;
      sizes_[i] = bytes;
    }
  }

  std::vector<char> head(const VdbArchive& archive, const io::GridDescriptor& gd, int64_t at,
                         int64_t bufferBytes) const override {
    std::vector<char> bytes;
    MemoryStreamBuf buffer(bytes);
    std::ostream os(&buffer);
    // The state Archive::write gives its stream, with writeGrid's copy of the stream
    // metadata for this grid.
    const io::StreamMetadata::Ptr meta = archive.prepareStream(os);
    meta->setHalfFloat(grid_->saveFloatAsHalf());
    meta->gridMetadata() = static_cast<const openvdb::MetaMap&>(*grid_);

    gd.writeHeader(os);
    const size_t positionsAt = bytes.size();
    gd.writeStreamPos(os);  // filled in below
    const int64_t gridPos = int64_t(bytes.size());
    archive.writeGridFlags(os, *grid_);

    openvdb::GridBase::Ptr copy = openvdb::ConstPtrCast<openvdb::GridBase>(openvdb::GridBase::ConstPtr(grid_))->copyGrid();
    io::DelayedLoadMetadata delayed;
    if (leaves_ > 0) {
      delayed.resizeMask(leaves_);
      for (size_t i = 0; i < leaves_; ++i) delayed.setMask(i, kinds_[i]);
      if (sizing_ & (io::COMPRESS_BLOSC | io::COMPRESS_ZIP)) {
        delayed.resizeCompressedSize(leaves_);
        for (size_t i = 0; i < leaves_; ++i) delayed.setCompressedSize(i, sizes_[i]);
      }
    }
    copy->insertMeta(openvdb::GridBase::META_FILE_DELAYED_LOAD, delayed);
    if (io::getWriteGridStatsMetadata(os)) {
      copy->addStatsMetadata();
      copy->insertMeta(openvdb::GridBase::META_FILE_COMPRESSION,
                       openvdb::StringMetadata(io::compressionToString(io::getDataCompression(os))));
    }
    copy->writeMeta(os);
    copy->writeTransform(os);
    copy->writeTopology(os);
    const int64_t blockPos = int64_t(bytes.size());

    io::GridDescriptor placed(gd);
    placed.setGridPos(at + gridPos);
    placed.setBlockPos(at + blockPos);
    placed.setEndPos(at + blockPos + bufferBytes);
    std::vector<char> positions;
    MemoryStreamBuf positionBuffer(positions);
    std::ostream ps(&positionBuffer);
    placed.writeStreamPos(ps);
    std::memcpy(bytes.data() + positionsAt, positions.data(), positions.size());
    return bytes;
  }

 private:
  typename GridT::ConstPtr grid_;
  openvdb::tree::LeafManager<const TreeT> leafs_;
  uint32_t compression_ = 0;  // the grid's flags
  uint32_t sizing_ = 0;       // the archive's flags, which the noted sizes follow
  std::vector<int8_t> kinds_;
  std::vector<int64_t> sizes_;
};

template <typename GridT>
std::unique_ptr<GridBytes> createIf(const VdbArchive& archive, const openvdb::GridBase::ConstPtr& grid) {
  if (!grid->isType<GridT>()) return nullptr;
  return std::unique_ptr<GridBytes>(new TypedGridBytes<GridT>(archive, openvdb::gridConstPtrCast<GridT>(grid)));
}

}  // namespace

uint64_t GridBytes::chunkValueBytes(size_t c) const {
  const size_t first = c * leavesPerChunk_, end = std::min(leaves_, first + leavesPerChunk_);
  return end > first ? uint64_t(end - first) * leafValueBytes_ : 0;
}

std::unique_ptr<GridBytes> GridBytes::create(const VdbArchive& archive, const openvdb::GridBase::ConstPtr& grid) {
  std::unique_ptr<GridBytes> bytes;
  if (!(bytes = createIf<openvdb::FloatGrid>(archive, grid)) && !(bytes = createIf<openvdb::Vec3SGrid>(archive, grid)) &&
      !(bytes = createIf<openvdb::DoubleGrid>(archive, grid)) && !(bytes = createIf<openvdb::Int32Grid>(archive, grid)) &&
      !(bytes = createIf<openvdb::Int64Grid>(archive, grid)) && !(bytes = createIf<openvdb::Vec3IGrid>(archive, grid)))
    bytes = createIf<openvdb::Vec3DGrid>(archive, grid);
  return bytes;
}

}  // namespace NebVdb
