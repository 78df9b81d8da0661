// The frame factory behind the newINeb... exports, and the load dispatcher.
#pragma once

#include <cstdint>

class OstraneFrameData;
struct GridDataLocation;

// A frame for `path`: the shared frame for the same path, mapping text (null = "") and
// unchanged modification time when one is registered and the request is shareable
// (maxVoxels == -1 and not headerOnly); otherwise a newly loaded frame, registered when
// shareable, kept as unshared otherwise. Null when the load fails (the reason is reported);
// *status (when given) then gets the load status (LoadFrame's; 4 when no frame could be
// made), and 0 on success.
OstraneFrameData* AcquireFrame(const char* path, const char* mapping, int64_t maxVoxels, bool headerOnly,
                               int* status = nullptr);

// Loads `frame` from `path`, choosing the reader by lower-cased extension: neb (nebu2
// reader), f3d / vdb (import plug-ins); header-only loads go through
// ImportHeaderByExtension. `value` becomes the frame's props value after a plug-in import.
// Returns 0 or a load status (2 plug-in missing, 3 bad path / extension / unopenable file,
// 4 broken file, 9 no mapping, 12 footer missing, others from plug-ins).
// With `gridInFile`, a full load of a nebu2 file leaves the grid records in the file
// (ImportNebGridInFile) and sets *gridInFile to where they are; other loads leave it empty.
int LoadFrame(OstraneFrameData* frame, const char* path, const char* mapping, double value, int64_t maxVoxels,
              bool openOnce, bool headerOnly, GridDataLocation* gridInFile = nullptr);
