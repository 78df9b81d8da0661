// Writes the seed corpora of the fuzz targets with the project's own writers, one folder
// per target under the given directory:
//   frame             small frames reaching every tag, chunk, particle method, container
//                     version, grid codec dimension and zone layout
//   grid_block        blocks of both dimensions: raw, constant and quantized zones, one
//                     zone and many, several differencing passes
//   entropy           table-mode and fixed-width streams, with and without runs, and trees
//                     too deep for two table lookups
//   zip_block         zlib streams
//   particle_methods  every storage method for 1, 2 and 3 words per particle
//   channel_mappings  mapping texts
//   paths             frame patterns, path lists, UTF-8 names
//   neb2vdb_options   neb2vdb command lines (arguments separated by NUL bytes)
//   c_interface       every frame above as a file, in memory and served by read
//                     callbacks, mapping texts, frame patterns, frame lists and writer
//                     arguments for the C interface
// Every seed carries the leading selector bytes its target expects (see fuzz/*Fuzz.cpp).
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <initializer_list>

#include "EntropyTestSupport.h"
#include "cache/NebWriter.h"
#include "compress/CodeTree.h"
#include "compress/EntropyCoder.h"
#include "compress/GridBlockWriter.h"
#include "compress/ParticleChannelMethods.h"
#include "compress/ZipBlock.h"

namespace {

using OSTUtils::GridBlockOptions;
using OSTUtils::OstArray;
typedef std::vector<unsigned char> Bytes;

std::string gRoot;
bool gOk = true;

void save(const std::string& target, const std::string& name, const Bytes& bytes) {
  const std::string dir = gRoot + "/" + target;
  mkdir(dir.c_str(), 0755);
  const std::string path = dir + "/" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) gOk = false;
  if (f) std::fclose(f);
}

Bytes prefixed(const Bytes& prefix, const OstArray<char, int64_t>& body) {
  Bytes b = prefix;
  b.insert(b.end(), body.data, body.data + body.size);
  return b;
}

Bytes le(uint32_t v, int bytes) {
  Bytes b;
  for (int i = 0; i < bytes; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
  return b;
}

// A smooth field with a hot spot, and a field that is constant.
std::vector<float> field(int nx, int ny, int nz, float scale) {
  std::vector<float> v(static_cast<size_t>(nx) * ny * nz);
  for (int z = 0; z < nz; ++z)
    for (int y = 0; y < ny; ++y)
      for (int x = 0; x < nx; ++x)
        v[x + nx * (y + ny * z)] = scale * std::sin(0.7f * x) * std::cos(0.4f * y) + 0.1f * z;
  return v;
}

// A haze of fine noise: thousands of distinct quantized values with long code words, and
// more values than the entropy decoder needs before it decodes in interleaved chains.
std::vector<float> haze(size_t n) {
  std::vector<float> v(n);
  uint32_t state = 12345;
  for (float& x : v) {
    state = state * 1664525u + 1013904223u;
    x = 0.2f + static_cast<float>(state >> 8) * (1.0f / 16777216.0f);
  }
  return v;
}

GridBlockOptions options(int64_t zoneLength, int bits, int passes, bool lossless, int slices = 0) {
  GridBlockOptions o = OSTUtils::defaultGridBlockOptions();
  o.zoneLength = zoneLength;
  o.precisionBits = bits;
  o.diffPasses = passes;
  o.lossless = lossless;
  o.zoneSlices = slices;
  o.threads = 1;
  return o;
}

void saveFrame(const std::string& name, NebWriter& w) {
  OstArray<char, int64_t> out;
  if (!w.writeToMemory(out)) {
    std::fprintf(stderr, "make_fuzz_seeds: cannot write frame %s\n", name.c_str());
    gOk = false;
    return;
  }
  // Each reading of the frame target (its selector byte) starts from every frame.
  const char* readings[] = {"load_", "header_", "stored_", "slabs_"};
  for (unsigned char selector = 0; selector < 4; ++selector)
    save("frame", readings[selector] + name, prefixed({selector}, out));
  // The C interface's frame operation (4): shared full load, header-only, unshared, and
  // unshared with the grid left in the file (7).
  for (unsigned char flags : {0, 1, 2, 7})
    save("c_interface", "file" + std::to_string(flags) + "_" + name, prefixed({4, flags}, out));
  // The same bytes from memory (10 +), and served by a host's read callback (20 +, then the
  // fault byte): whole, and grid left with the host through short reads.
  save("c_interface", "memory_" + name, prefixed({4, 10}, out));
  save("c_interface", "memory7_" + name, prefixed({4, 17}, out));
  save("c_interface", "host_" + name, prefixed({4, 20, 0}, out));
  save("c_interface", "host7_short_" + name, prefixed({4, 27, 2}, out));
}

void frames() {
  const int nx = 6, ny = 5, nz = 4, n = nx * ny * nz;
  const std::vector<float> smoke = field(nx, ny, nz, 1.0f), temp = field(nx, ny, nz, 300.0f);
  const std::vector<float> flat(n, 0.25f);
  const float positions[5 * 3] = {0, 0, 0, 1, 2, 3, 2.5f, 1, 0.5f, 5, 4, 3, 0.1f, 0.2f, 0.3f};
  const float velocity[5 * 3] = {1, 0, 0, 0, 1, 0, 0, 0, 1, -1, 0.5f, 0, 0, 0, 0};
  const float scalar[5] = {0.5f, 1.5f, 2.5f, 3.5f, 4.5f};
  const int64_t ids[5] = {10, 20, 30, 40, 1LL << 40};
  std::vector<uint32_t> rgb(n);
  for (int i = 0; i < n; ++i) rgb[i] = static_cast<uint32_t>(i * 0x010203);
  const float transform[12] = {0.5f, 0, 0, 0, 0.5f, 0, 0, 0, 0.5f, 1, 2, 3};

  // Every version and grid codec dimension, with a particle group in the chunks.
  const int versions[] = {5, 4, 3, 2};
  for (int version : versions) {
    for (int dimension : {0, 1, 3}) {
      NebWriter w;
      w.setVersion(version);
      w.setGridSize(nx, ny, nz);
      w.setGridCompressor(dimension);
      w.setTransform(transform);
      w.setFrameNumber(7);
      w.addChannel(1, temp.data());
      w.addChannel(2, smoke.data());
      const int g = w.addGroup("Sparks", 5);
      w.setGroupChannel(g, 0, positions);
      w.setGroupChannel(g, 10, ids);
      saveFrame("v" + std::to_string(version) + "_d" + std::to_string(dimension) + ".neb", w);
    }
  }

  // A dense channel long enough for the decoder's interleaved chains.
  {
    const int dx = 20, dy = 20, dz = 15;
    const std::vector<float> noise = haze(static_cast<size_t>(dx) * dy * dz);
    NebWriter w;
    w.setGridSize(dx, dy, dz);
    w.setGridCompressor(1);
    w.setTransform(transform);
    w.addChannel(2, noise.data());
    saveFrame("dense_haze.neb", w);
  }

  // Text and particle storage the memory budget counts while the file is read: a long
  // chunk text, a long group name and 4096 identified particles (identifier stream, order
  // and merge scratch), so that mutated counts and lengths reach the budget's refusals.
  {
    const int count = 4096;
    std::vector<float> many(static_cast<size_t>(count) * 3);
    std::vector<int64_t> manyIds(count);
    for (int i = 0; i < count; ++i) {
      for (int k = 0; k < 3; ++k) many[static_cast<size_t>(i) * 3 + k] = static_cast<float>((i * 7 + k) % 23);
      manyIds[i] = (static_cast<int64_t>(i) * 2654435761LL) % 1000003;
    }
    NebWriter w;
    w.setGridSize(nx, ny, nz);
    w.setTransform(transform);
    w.addChannel(2, smoke.data());
    w.setChunkText(std::string(3000, 't').c_str());
    const int g = w.addGroup(std::string(300, 'G').c_str(), count);
    w.setGroupChannel(g, 0, many.data());
    w.setGroupChannel(g, 10, manyIds.data());
    saveFrame("budget_counted_text_and_ids.neb", w);
  }

  // A particle record no method can expand: that channel alone is unavailable.
  {
    NebWriter w;
    w.setGridSize(nx, ny, nz);
    w.setTransform(transform);
    w.addChannel(2, smoke.data());
    const int g = w.addGroup("Embers", 5);
    w.setGroupChannel(g, 0, positions);
    const unsigned char junk[6] = {0x78, 0x9c, 0xff, 0x00, 0x13, 0x37};
    w.setGroupChannelStored(g, 1, 1, junk, sizeof junk);
    w.setGroupChannelStored(g, 2, 3, junk, 0);
    saveFrame("unexpandable_record.neb", w);
  }

  // Every tag and chunk, the packed colour, velocity (speed derived) and the stored speed.
  {
    NebWriter w;
    w.setGridSize(nx, ny, nz);
    w.setTransform(transform);
    w.setFrameNumber(12);
    w.setTag5(0.04f);
    w.setAuxTransform(transform);
    w.setPropsValueFloat(1.5f);
    w.setTag9(3, 2.5f);
    const unsigned char eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    w.setTag10(0.125, eight);
    float aux[3][12];
    for (auto& a : aux)
      for (int i = 0; i < 12; ++i) a[i] = transform[i];
    w.setTag11(aux, eight);
    std::vector<unsigned char> props(392);
    for (size_t i = 0; i < props.size(); ++i) props[i] = static_cast<unsigned char>(i);
    w.setPropsBlock(props.data(), static_cast<int>(props.size()));
    w.setChunkText("frame text");
    w.addChannelRange(2, 0.0f, 1.0f);
    w.addChannelValue64(2, 123456789);
    const char raw[8] = {'r', 'a', 'w', 0, 1, 2, 3, 4};
    w.addRawChunk(4242, raw, sizeof raw);
    for (int c : {4, 5, 6, 10, 14, 15, 16, 17, 19, 20, 21}) w.addChannel(c, smoke.data());
    w.addPackedColour(rgb.data());
    saveFrame("all_tags.neb", w);

    NebWriter s;
    s.setGridSize(nx, ny, nz);
    s.addChannel(3, smoke.data());
    s.addChannel(2, flat.data());  // a constant channel
    saveFrame("speed_constant.neb", s);
  }

  // Zone layouts: one zone, many zones, raw, quantized with several passes, 1D and 3D.
  {
    struct Layout {
      const char* name;
      GridBlockOptions opt;
      int dimension;
    } layouts[] = {
        {"zones_lossless_1d.neb", options(16, 16, 1, true), 1},
        {"zones_many_1d.neb", options(16, 10, 2, false), 1},
        {"zones_raw_bits_1d.neb", options(32, 24, 0, false), 1},
        {"zones_many_3d.neb", options(30, 12, 3, false, 1), 3},
        {"zones_slabs_3d.neb", options(0, 8, 1, false, 2), 3},
        {"zones_one_3d.neb", options(1 << 20, 16, 0, false), 3},
    };
    for (const Layout& l : layouts) {
      NebWriter w;
      w.setGridSize(nx, ny, nz);
      w.setGridCompressor(l.dimension);
      w.setGridBlockOptions(l.opt);
      w.addChannel(2, smoke.data());
      w.addChannel(1, flat.data());
      saveFrame(l.name, w);
    }
  }

  // Zones cut across the slabs a slab reader asks for (8 layers, and single layers): a grid
  // of 19 layers of 35 cells with zone lengths that are no multiple of a layer, boxes of a
  // few slices, single-zone blocks, velocity for derived speed and packed colour.
  {
    const int sx = 7, sy = 5, sz = 19, sn = sx * sy * sz;
    const std::vector<float> a = field(sx, sy, sz, 2.0f), b = field(sx, sy, sz, -0.5f);
    const std::vector<float> c = haze(static_cast<size_t>(sn));
    std::vector<uint32_t> colour(sn);
    for (int i = 0; i < sn; ++i) colour[i] = static_cast<uint32_t>(i * 2654435761u) & 0xFFFFFFu;
    struct Layout {
      const char* name;
      GridBlockOptions opt;
      int dimension, version;
    } layouts[] = {
        {"slabs_zones_13_1d.neb", options(13, 12, 1, false), 1, 5},
        {"slabs_zones_37_raw_1d.neb", options(37, 16, 0, true), 1, 5},
        {"slabs_zones_281_1d.neb", options(281, 10, 2, false), 1, 5},
        {"slabs_boxes_3_3d.neb", options(0, 12, 1, false, 3), 3, 4},
        {"slabs_boxes_1_3d.neb", options(50, 8, 0, false, 1), 3, 4},
        {"slabs_one_zone_1d.neb", options(1 << 20, 16, 1, false), 1, 5},
    };
    for (const Layout& l : layouts) {
      NebWriter w;
      w.setVersion(l.version);
      w.setGridSize(sx, sy, sz);
      w.setGridCompressor(l.dimension);
      w.setGridBlockOptions(l.opt);
      w.addChannel(2, c.data());
      w.addChannel(4, a.data());
      w.addChannel(5, b.data());
      w.addChannel(6, c.data());
      w.addPackedColour(colour.data());
      saveFrame(l.name, w);
    }
  }

  // Zones of 5000 values on the largest grid the slab comparison takes (16384 cells): their
  // scratch and decoder tables are what the comparison's tight budgets refuse.
  {
    const std::vector<float> v = field(32, 32, 16, 3.0f), h = haze(32 * 32 * 16);
    for (int dimension : {1, 3}) {
      NebWriter w;
      w.setVersion(dimension == 1 ? 5 : 4);
      w.setGridSize(32, 32, 16);
      w.setGridCompressor(dimension);
      w.setGridBlockOptions(dimension == 1 ? options(5000, 14, 2, false) : options(0, 14, 1, false, 5));
      w.addChannel(2, v.data());
      w.addChannel(1, h.data());
      saveFrame(dimension == 1 ? "slabs_zones_5000_1d.neb" : "slabs_boxes_5_3d.neb", w);
    }
  }

  // The record walk and the zone tables as the file-side readers take them: many tiny
  // records before a real one, a record claiming more than the data holds, and a zone table
  // longer than the piece it is read in (5000 zones of one value).
  {
    const std::vector<float> v = field(50, 10, 10, 1.5f);
    NebWriter many;
    many.setGridSize(50, 10, 10);
    const int32_t word = 7;
    for (int k = 0; k < 300; ++k) many.addRawGridRecord(40 + k % 5, &word, 4);
    many.setGridBlockOptions(options(1, 12, 1, false));
    many.addChannel(2, v.data());
    saveFrame("records_many_small.neb", many);
    NebWriter over;
    over.setGridSize(50, 10, 10);
    over.addChannel(1, v.data());
    over.addRawGridRecord(2, &word, 4, 1 << 20);
    saveFrame("records_overrun.neb", over);
  }

  // Particle groups: every chunk-1002 method, and the old-style blocks 7 and 13.
  for (int method = 0; method <= 4; ++method) {
    NebWriter w;
    w.setGridSize(2, 2, 2);
    const int g = w.addGroup("Method", 5);
    w.setGroupChannel(g, 0, positions, method);
    w.setGroupChannel(g, 1, velocity, method);
    w.setGroupChannel(g, 2, scalar, method);
    w.setGroupChannel(g, 10, ids, method);
    const unsigned char extra[8] = {9, 8, 7, 6, 5, 4, 3, 2};
    w.setGroupExtra(g, extra);
    const int e = w.addGroup("NoPositions", 5, 1);
    w.setGroupChannel(e, 2, scalar, method);
    saveFrame("particles_method" + std::to_string(method) + ".neb", w);
  }
  for (int tag : {7, 13}) {
    for (int table : {0, 1}) {
      NebWriter w;
      w.setGridSize(2, 2, 2);
      w.setParticleLayout(table != 0, false, tag);
      const int g = w.addGroup("Old", 5, 2);
      w.setGroupChannel(g, 0, positions);
      w.setGroupChannel(g, 1, velocity);
      w.setGroupChannel(g, 2, scalar);
      w.setGroupChannel(g, 10, ids);
      const unsigned char extra[8] = {1, 1, 2, 3, 5, 8, 13, 21};
      w.setGroupExtra(g, extra);
      if (table) {
        const float lo[3] = {0, 0, 0}, hi[3] = {5, 4, 3};
        w.setGroupTableBox(lo, hi);
      }
      saveFrame("block" + std::to_string(tag) + (table ? "_table.neb" : ".neb"), w);
    }
  }

  // An empty grid tag and a frame with nothing but the header.
  {
    NebWriter w;
    w.setGridSize(3, 3, 3);
    w.forceGridTag(true);
    saveFrame("empty_grid.neb", w);
  }
}

void gridBlocks() {
  const int nx = 7, ny = 5, nz = 4, n = nx * ny * nz;
  const std::vector<float> v = field(nx, ny, nz, 2.0f);
  const std::vector<float> flat(n, -3.0f);
  const GridBlockOptions opts[] = {options(n, 16, 1, false), options(20, 12, 2, false), options(16, 8, 0, true),
                                   options(n, 24, 1, false), options(35, 4, 5, false, 1)};
  int k = 0;
  for (const GridBlockOptions& o : opts) {
    for (const std::vector<float>* values : {&v, &flat}) {
      OstArray<char, int64_t> b1, b3;
      if (OSTUtils::WriteGridBlock1D(values->data(), n, o, b1)) {
        Bytes p = {0};
        Bytes c = le(n, 2);
        p.insert(p.end(), c.begin(), c.end());
        save("grid_block", "d1_" + std::to_string(k), prefixed(p, b1));
      }
      if (OSTUtils::WriteGridBlock3D(values->data(), nx, ny, nz, o, b3)) {
        Bytes p = {1};
        Bytes c = le(n, 2);
        p.insert(p.end(), c.begin(), c.end());
        save("grid_block", "d3_" + std::to_string(k), prefixed(p, b3));
      }
      ++k;
    }
  }

  // A wider box, three differencing passes: the integration's four-at-a-time steps along
  // rows, planes and lines, and their scalar tails.
  {
    const int wx = 19, wy = 6, wz = 5, wn = wx * wy * wz;
    const std::vector<float> w = field(wx, wy, wz, 3.0f);
    OstArray<char, int64_t> b1, b3;
    Bytes c = le(wn, 2);
    if (OSTUtils::WriteGridBlock1D(w.data(), wn, options(wn, 16, 3, false), b1)) {
      Bytes p = {0};
      p.insert(p.end(), c.begin(), c.end());
      save("grid_block", "wide_d1", prefixed(p, b1));
    }
    if (OSTUtils::WriteGridBlock3D(w.data(), wx, wy, wz, options(wn, 16, 3, false), b3)) {
      Bytes p = {1};
      p.insert(p.end(), c.begin(), c.end());
      save("grid_block", "wide_d3", prefixed(p, b3));
    }
  }

  // A dense block long enough for the decoder's interleaved chains, decoded as it is and
  // with the unwritten values cleared (mode bit 1).
  {
    const int dense = 6000;
    const std::vector<float> noise = haze(dense);
    OstArray<char, int64_t> b;
    if (OSTUtils::WriteGridBlock1D(noise.data(), dense, options(dense, 16, 1, false), b)) {
      for (unsigned char mode : {0, 2}) {
        Bytes p = {mode};
        Bytes c = le(dense, 2);
        p.insert(p.end(), c.begin(), c.end());
        save("grid_block", "dense_mode" + std::to_string(mode), prefixed(p, b));
      }
    }
  }

  // Blocks that write only part of the output: no zones, zones with a gap between them, one
  // zone shorter than the output, and a quantized zone whose coded run is cut short.
  auto cat = [](std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
  };
  const Bytes prefix = cat({{0}, le(n, 2)});
  const Bytes constantZone = cat({le(0xFC01, 2), {1}, le(3, 4), le(0x40200000, 4)});  // 3 x 2.5
  save("grid_block", "partial_no_zones", cat({prefix, le(0xFC02, 2), le(0, 2)}));
  save("grid_block", "partial_gap",
       cat({prefix, le(0xFC02, 2), le(2, 2), le(0, 4), le(40, 4), le(0, 4), le(11, 4), constantZone, constantZone}));
  save("grid_block", "partial_short_zone", cat({prefix, constantZone}));
  OstArray<char, int64_t> quantized;
  if (OSTUtils::WriteGridBlock1D(v.data(), n, options(n, 16, 1, false), quantized) && quantized.size > 24) {
    quantized.SetSize(quantized.size - 8);
    save("grid_block", "partial_cut_run", prefixed(prefix, quantized));
  }
}

void entropy() {
  std::vector<std::vector<int>> sequences = {
      {0, 1, 2, 3, 2, 1, 0, 1, 2, 3, 3, 3, 3, 3, 3, 3, 3, 3, 1, 0},
      {5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5},
      {1000000, 3, 77777, 12, 0, 65535, 9, 123456789, 4, 4},
      {7}};
  std::vector<int> wide(300);
  for (size_t i = 0; i < wide.size(); ++i) wide[i] = static_cast<int>((i * 7919) % 4096);
  sequences.push_back(wide);
  int k = 0;
  for (std::vector<int> s : sequences) {
    for (int fold : {0, 1}) {
      std::vector<int> values = s;
      int64_t count = static_cast<int64_t>(values.size());
      if (fold) count = OSTUtils::FoldRuns(values.data(), count, 3);
      OSTUtils::EntropyCoder st;
      OstArray<char, int64_t> out;
      if (OSTUtils::Encode(st, values.data(), count, out) <= 0) continue;
      Bytes p = le(static_cast<uint32_t>(s.size()), 2);
      p.push_back(128);  // base 0
      save("entropy", "seq" + std::to_string(k++), prefixed(p, out));
    }
  }

  // Rates halving from 2^31: words deeper than two lookups, decoded through the tree's own
  // table (the three-lookup fallback). The words of every entry, shallowest first, then
  // noise; a short decode, and one long enough for the buffered loop. The offset makes the
  // deeper half of the symbols runs.
  {
    std::vector<OSTUtils::CodeEntry> srt;
    uint64_t rate = 0x7FFFFFFF, total = 0;
    for (int i = 0; i < 40; ++i) {
      srt.push_back(OSTUtils::CodeEntry{4095 - i, static_cast<int>(rate)});
      total += rate;
      rate = rate > 1 ? rate / 2 : 1;
    }
    enttest::BitWriter b;
    b.put(0, 8);
    b.put(srt.size(), 32);
    b.put(static_cast<uint32_t>(-4075), 32);
    b.put(31, 6);
    b.put(12, 6);
    for (size_t i = 0; i < srt.size(); ++i) {
      const bool same = i > 0 && srt[i].rate == srt[i - 1].rate;
      b.put(same ? 0 : 1, 1);
      if (!same) b.put(static_cast<uint64_t>(srt[i].rate), 31);
      b.put(static_cast<uint64_t>(srt[i].symbol), 12);
    }
    // The same tree over the entries' indexes gives words[i], the word of entry i.
    std::vector<OSTUtils::CodeEntry> indexed = srt;
    for (size_t i = 0; i < indexed.size(); ++i) indexed[i].symbol = static_cast<int>(i);
    std::vector<OSTUtils::CodeNode> tree(2 * srt.size());
    std::vector<OSTUtils::CodeWord> words(srt.size());
    int nextFree = 0, maxDepth = 0;
    if (OSTUtils::BuildCodeTree(indexed.data(), static_cast<int>(indexed.size()), total, tree.data(), nextFree,
                                words.data(), maxDepth)) {
      for (int r = 0; r < 4; ++r)
        for (size_t i = 0; i < srt.size(); ++i) b.put(words[i].code, words[i].length);
      uint32_t state = 99;
      for (int i = 0; i < 64; ++i) {
        state = state * 1664525u + 1013904223u;
        b.put(state >> 24, 8);
      }
      for (uint32_t count : {20u, 150u}) {
        Bytes p = le(count, 2);
        p.push_back(128);
        p.insert(p.end(), b.bytes.begin(), b.bytes.end());
        save("entropy", "deep" + std::to_string(count), p);
      }
    }
  }
}

void zip() {
  std::string text;
  for (int i = 0; i < 64; ++i) text += "smoke " + std::to_string(i * i) + " ";
  const std::string samples[] = {text, std::string(1000, 'a'), "x", ""};
  int k = 0;
  for (const std::string& s : samples) {
    for (int level : {0, 1, 9}) {
      OstArray<char, int64_t> out;
      if (!OSTUtils::DeflateBlock(s.data(), static_cast<int64_t>(s.size()), out, level)) continue;
      save("zip_block", "z" + std::to_string(k++), prefixed(le(static_cast<uint32_t>(s.size()), 3), out));
    }
  }
}

void particleMethods() {
  const int particles = 24;
  std::vector<float> values(particles * 3);
  for (size_t i = 0; i < values.size(); ++i) values[i] = 0.25f * static_cast<float>(i % 17) - 1.0f;
  for (int method = 0; method <= 4; ++method) {
    for (int words : {1, 2, 3}) {
      OstArray<char, int64_t> stored;
      if (!OSTUtils::EncodeChannelBytes(method, values.data(), particles, words, stored)) continue;
      Bytes p = {static_cast<unsigned char>(method), static_cast<unsigned char>(words)};
      Bytes c = le(particles, 2);
      p.insert(p.end(), c.begin(), c.end());
      save("particle_methods", "m" + std::to_string(method) + "_w" + std::to_string(words), prefixed(p, stored));
    }
  }
}

void texts() {
  const char* mappings[] = {"2,density;1,temperature;4,vel.x;5,vel.y;6,vel.z;", "1,Temperature_ost;2,Smoke_ost;",
                            "7,a,b;-3,;x,y;", "2,unterminated"};
  int k = 0;
  for (const char* m : mappings) {
    Bytes b = {static_cast<unsigned char>(8 + 64)};
    b.insert(b.end(), m, m + std::strlen(m));
    save("channel_mappings", "m" + std::to_string(k++), b);
  }
  const char* paths[] = {"/cache/smoke_####.neb", "dir/a_%04d.vdb", "frame_<frame04>.f3d",
                         "/a/b;;/c/d;e",        "x%%d_%3i_%u.neb",  "nom\xc3\xa9_\xe2\x82\xac_\xff\xfe-0012.neb",
                         "\xf4\x80\x80\x81.neb", "seq-5.0042.vdb", " +12x", "-3",
                         "99999999999999999999", "0",
                         "2147483647",          "-2147483649",      "\t\n 2",
                         // listing wildcards against the file "take[2]_0001.neb"
                         "take[2]_*.neb",       "t*e?2]_00*1.neb",  "*",
                         "**?*[*",              "take[2]_0001.nebx", "take\\[2]_0001.neb"};
  k = 0;
  for (const char* p : paths) {
    Bytes b = le(42, 4);
    b.push_back(8 + 4);
    b.insert(b.end(), p, p + std::strlen(p));
    save("paths", "p" + std::to_string(k++), b);
  }
  // neb2vdb command lines, arguments separated by NUL bytes.
  const std::vector<std::string> commands[] = {
      {"--frames", "1-240x2,300", "--preset", "blender", "--points-file", "p_####.vdb", "s_####.neb", "v_####.vdb"},
      {"--channels=density,Sparks,vel", "--rename", "vel=v", "--up-axis=y", "-j4", "a.neb", "b.vdb"},
      {"--preset=native", "--up-axis", "z", "--channels", "VelocityY_ost,,x", "--", "-a.neb", "b.vdb"},
      {"--tolerance", "1e-5", "--dense", "--half", "--compression=zip", "--no-particles", "-q", "a", "b"},
  };
  k = 0;
  for (const std::vector<std::string>& command : commands) {
    Bytes b;
    for (size_t i = 0; i < command.size(); ++i) {
      if (i) b.push_back(0);
      b.insert(b.end(), command[i].begin(), command[i].end());
    }
    save("neb2vdb_options", "c" + std::to_string(k++), b);
  }
}

// The C interface's text operations (0 mapping, 1 pattern, 2 frame list) take ten number
// bytes before the text; its writer operation (3) numbers only.
void cInterface() {
  const struct {
    unsigned char op;
    const char* text;
  } texts[] = {{0, "2,density;1,temperature;4,vel.x;"}, {0, "7,a,b;-3,;x,y;"}, {1, "/cache/smoke_####.neb"},
               {1, "x%%d_%3i_<frame04>.vdb"},           {2, "1-240x10,3,7"},     {2, "5-3"},
               {2, "-10--1,2147483647"}};
  int k = 0;
  for (const auto& t : texts) {
    Bytes b = {t.op, 40, 3, 1, 7, 0, 0, 0, 20, 30, 0};
    b.insert(b.end(), t.text, t.text + std::strlen(t.text));
    save("c_interface", "text" + std::to_string(k++), b);
  }
  // Writer: grid bytes (size + 1), version, precision + 2, create, transform, frame number,
  // then values, channels, particles + 1 and slots.
  const Bytes writers[] = {
      {3, 5, 4, 3, 5, 2, 0, 0, 42, 0, 0, 0},
      {3, 3, 3, 3, 4, 14, 0, 1, 7, 0, 0, 0},
      {3, 2, 2, 2, 3, 2, 0, 0, 1, 0, 0, 0},
  };
  k = 0;
  for (Bytes b : writers) {
    for (int i = 0; i < 140; ++i) b.push_back(static_cast<unsigned char>(i * 37));
    Bytes tail = {3, 4, 2, 1, 3, 1, 5, 0, 0, 2, 1, 1, 14, 1, 1, 2, 1, 1};
    b.insert(b.end(), tail.begin(), tail.end());
    save("c_interface", "writer" + std::to_string(k++), b);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus root>\n", argv[0]);
    return 2;
  }
  gRoot = argv[1];
  mkdir(gRoot.c_str(), 0755);
  frames();
  gridBlocks();
  entropy();
  zip();
  particleMethods();
  texts();
  cInterface();
  return gOk ? 0 : 1;
}
