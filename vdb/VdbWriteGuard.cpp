#include "vdb/VdbWriteGuard.h"

#include <new>
#include <stdexcept>

#include <openvdb/Exceptions.h>

namespace NebVdb {

const char* const kSingularTransformReason = "Singular grid transform";

ExportResult exportFailure(int code, const char* reason) {
  ExportResult result;
  result.code = code;
  result.reason = reason;
  return result;
}

ExportResult guardedVdbWrite(const std::function<ExportResult()>& run) {
  try {
    return run();
  } catch (const openvdb::IoError&) {
    return exportFailure(kExportWriteFailed, "");
  } catch (const std::bad_alloc&) {
    return exportFailure(kExportOutOfMemory, "Out of memory");
  } catch (const std::exception& e) {
    return exportFailure(kExportFailed, e.what());
  } catch (...) {
    return exportFailure(kExportFailed, "Unknown failure");
  }
}

}  // namespace NebVdb
