// Every grid and the file metadata of an OpenVDB file, as OpenVDB's reader gives them back.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include <openvdb/io/File.h>
#include <openvdb/openvdb.h>

// False, with a test failure naming the file and OpenVDB's reason, when it cannot be read.
inline bool readVdbGrids(const std::string& path, openvdb::GridPtrVec& grids, openvdb::MetaMap::Ptr& metadata) {
  openvdb::initialize();
  try {
    openvdb::io::File file(path);
    file.open();
    const openvdb::GridPtrVecPtr read = file.getGrids();
    grids.assign(read->begin(), read->end());
    metadata = file.getMetadata();
    file.close();
    return true;
  } catch (const std::exception& e) {
    ADD_FAILURE() << "cannot read " << path << ": " << e.what();
    return false;
  }
}
