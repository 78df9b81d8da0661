// ImportNeb: opening and locking a nebu2 file, or taking a byte source (memory, a host's
// read function), then the footer; the chunk list and the tag stream are read by
// NebChunkList.cpp and NebTagStream.cpp.
//
// Footer, from the end of the file (E = length):
//   E-8   8 bytes  "NEBU2OST"
//   E-12  int32    container version
//   E-20  int64    data offset (version >= 4)
//   E-16  int32    data offset (version < 4; negative is refused with status 3)
#include <cerrno>
#include <cstring>
#include <new>

#include "cache/CacheFileLock.h"
#include "cache/GridRecordBytes.h"
#include "cache/NebImport.h"
#include "ostutils/Allocation.h"
#include "zutils/FileAccess.h"
#include "zutils/Report.h"
#include "zutils/platform/Misc.h"

namespace {

const char kFooterMagic[8] = {'N', 'E', 'B', 'U', '2', 'O', 'S', 'T'};

FILE* openForReading(const char* path, bool openOnce) {
  if (openOnce) return ZUtils::openFileUtf8(path, "rb");
  const int attempts = CacheFileRetryAttempts();
  for (int attempt = 0; attempt < attempts; ++attempt) {
    errno = 0;
    FILE* f = ZUtils::openFileUtf8(path, "rb");
    if (f) return f;
    // EINVAL is what a file still being written by another program gives on some systems;
    // anything else will not get better by waiting.
    if (errno != EINVAL) return nullptr;
    ZUtils::platform::sleepMs(CacheFileRetryIntervalMs());
  }
  return nullptr;
}

}  // namespace

int OstraneFrameData::ImportNeb(const char* path, bool openOnce, bool headerOnly) {
  return ImportNebFile(*this, path, openOnce, headerOnly, nullptr);
}

int ImportNebGridInFile(OstraneFrameData& frame, const char* path, GridDataLocation& where) {
  where = GridDataLocation();
  const int status = ImportNebFile(frame, path, true, false, &where);
  if (status == 0) where.path = path;
  return status;
}

int ImportNebFile(OstraneFrameData& frame, const char* path, bool openOnce, bool headerOnly,
                  GridDataLocation* gridInFile) {
  OstraneFrameData* const self = &frame;
  frame.ResetForLoad(headerOnly);
  frame.comprDataSzInts = 0;
  frame.frameNumber = 0;
  if (!path || !*path) return 3;

  FILE* file = openForReading(path, openOnce);
  if (!file) return 3;
  if (!LockCacheFile(self, file, path, false)) {
    std::fclose(file);
    return 3;
  }
  int status;
  {
    FileByteSource source(file, false);
    status = ImportNebBytes(frame, source, path, headerOnly, gridInFile);
  }
  ReleaseCacheFile(self, file, path);
  return status;
}

int ImportNebSource(OstraneFrameData& frame, const std::shared_ptr<ByteSource>& source, const char* name,
                    bool headerOnly, GridDataLocation* gridInFile) {
  frame.ResetForLoad(headerOnly);
  frame.comprDataSzInts = 0;
  frame.frameNumber = 0;
  if (gridInFile) *gridInFile = GridDataLocation();
  if (!source) return 3;
  const int status = ImportNebBytes(frame, *source, name ? name : "", headerOnly, gridInFile);
  if (status == 0 && gridInFile) {
    gridInFile->path = name ? name : "";
    gridInFile->source = source;
  }
  return status;
}

int ImportNebBytes(OstraneFrameData& frame, ByteSource& source, const char* name, bool headerOnly,
                   GridDataLocation* gridInFile) {
  int32_t*& comprData = frame.comprData;
  int32_t& comprDataSzInts = frame.comprDataSzInts;
  int32_t& version = frame.version;
  NebFileReader in(source);
  NebImportContext ctx{frame, in, headerOnly, false, gridInFile};
  int status = 0;
  try {
    in.measure("Failed to seek to EOF!\n");
    const int64_t end = in.length();
    char magic[8];
    in.seek(end - 8, SEEK_SET, "Failed while seeking to nebu2 magic!\n");
    in.read(magic, 8, "Failed reading nebu2 magic!\n");
    const bool footerFound = std::memcmp(magic, kFooterMagic, 8) == 0;
    int64_t dataOffset = 0;
    if (footerFound) {
      in.seek(end - 12, SEEK_SET, "Failed to seek to nebu2 version!\n");
      version = in.readInt32("Failed reading nebu2 version!\n");
      if (version >= 4) {
        in.seek(end - 20, SEEK_SET, "Failed seeking to marker chunk!\n");
        dataOffset = in.readInt64("Failed reading nebu2 data offset!\n");
      } else {
        in.seek(end - 16, SEEK_SET, "Failed seeking to marker chunk!\n");
        dataOffset = in.readInt32("Failed reading nebu2 data offset!\n");
        if (dataOffset < 0) return 3;
      }
    }
    in.seek(0, SEEK_SET, nullptr);
    if (!footerFound) {
      ZUtils::logReportAt(ZUtils::kReportError,
                          "Failed reading the nebu2 file footer!\nThe file is damaged, incomplete or in unsupported "
                          "file format.\nIf the file was saved by Ostrane 2.2 or older, please simulate the scene "
                          "again, but note that the results may differ.\n");
      return 12;
    }

    ReadNebChunkList(ctx, dataOffset);

    char header[4];
    in.seek(0, SEEK_SET, nullptr);
    in.read(header, 4, nullptr);
    if (std::memcmp(header, "NEBU", 4) != 0) {
      ZUtils::logReportAt(ZUtils::kReportError, "no hdr\n");
      throw IOErrException();
    }
    ReadNebTagStream(ctx);

    if (gridInFile) gridInFile->fileBytes = end;
    if (headerOnly || gridInFile) {
      OSTUtils::releaseArray(comprData);
      comprDataSzInts = 0;
      if (!OSTUtils::newArray(comprData, 1)) throw std::bad_alloc();
      comprData[0] = 0;
      comprDataSzInts = 1;
    }
  } catch (const IOErrException&) {
    ZUtils::logReportAt(ZUtils::kReportError, "OstraneFrameData::ImportNeb broken file. File is: %s\n", name);
    status = 4;
  } catch (const std::bad_alloc&) {
    ZUtils::logReportAt(ZUtils::kReportError, "OstraneFrameData::ImportNeb bad memory allocation. File is: %s\n",
                        name);
    status = 4;
  }
  if (status != 0) {
    OSTUtils::releaseArray(comprData);
    comprDataSzInts = 0;
  }
  return status;
}
