// Importing a Field3D file into a frame (the "ImportFrameF3D" entry point) and listing its
// grids ("GetAvailableChannels").
//
// Each mapping entry names a grid (GridNaming.h); the first entry of a channel wins, and
// channels outside 0..31 and the packed colour 18 are skipped. The first entry whose grid
// the file holds decides the frame's placement: a later mapped layer whose mapping or
// voxel size differs (its voxels are elsewhere in the world) is left out with a report
// naming it. The frame's grid is the union of the data windows of the layers kept, in
// voxel indices; cells outside a layer's window are 0. A mapped layer that cannot be read
// (a MAC layer of an Ogawa file, a MIP layer, damaged attributes) is left out with a
// report.
//
// Transform: linear (null and matrix) mappings convert exactly; a frustum mapping is not
// linear and is imported with the affine map that best fits its voxel centres (least
// squares), with a report giving the largest miss.
//
// Status: 0 loaded (also when no mapped grid is in the file: an empty frame); 3 the file
// cannot be opened; 4 not a Field3D file, damaged, an encoding this build does not read,
// or out of memory (the memory budget refused a channel or scratch buffer). Every
// failure is reported. A vector layer is decoded once for all its mapped components.
#pragma once

#include "cache/OstraneFrameData.h"
#include "loader/ChannelMappings.h"
#include "plugins/f3dport/F3dFile.h"

namespace F3dPort {

int importFrame(const char* path, OstraneFrameData& frame, bool headerOnly, const CacheIO::GridMapping* entries,
                int count);

// The same on a file already open.
int importFromFile(F3dFile& file, OstraneFrameData& frame, bool headerOnly, const CacheIO::GridMapping* entries,
                   int count);

// Appends the readable grids of the file (GridNaming.h order and flags). A file that cannot
// be read adds nothing, with a report; so does every layer left out as unreadable.
void listChannels(const char* path, CacheIO::AvailableChannelList& out);
void listChannelsOf(const F3dFile& file, CacheIO::AvailableChannelList& out);

}  // namespace F3dPort
