// Frames of other formats (.vdb, .f3d), which the library reads through its import
// plug-ins: telling them by name, readying the plug-ins, and the lock every open of one
// takes (the plug-in table and the third-party readers are not for several threads).
#pragma once

#include <mutex>
#include <string>

namespace NebFrameInfo {

// True for the files the import plug-ins read: .vdb and .f3d, by the extension of the
// file name in any case.
bool isImport(const std::string& path);

// Readies the import plug-ins: from beside the library, else from the folder of
// `programPath` (argv[0]), where the build tree links the plug-in beside each tool as
// "vdbport_build". No worker pool: decoding stays on the threads that read (and their
// report captures). True when the OpenVDB plug-in is ready.
bool initializeImports(const std::string& programPath);
void finalizeImports();

// Held around every open of an import.
std::mutex& importLock();

}  // namespace NebFrameInfo
