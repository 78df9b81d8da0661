#include "frameinfo/Imports.h"

#include "nebloader_c.h"

namespace NebFrameInfo {

namespace {

const int kOpenVdbReady = 2;  // neb_initialize's bit for the OpenVDB plug-in

bool openVdbReady(int result) { return result >= 0 && (result & kOpenVdbReady) != 0; }

}  // namespace

bool isImport(const std::string& path) {
  const size_t dot = path.rfind('.');
  const size_t slash = path.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string ext = path.substr(dot + 1);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext == "vdb" || ext == "f3d";
}

bool initializeImports(const std::string& programPath) {
  if (openVdbReady(neb_initialize(nullptr, nullptr, -1))) return true;
  const size_t slash = programPath.find_last_of("/\\");
  if (slash == std::string::npos || slash == 0) return false;
  return openVdbReady(neb_initialize(programPath.substr(0, slash).c_str(), "build", -1));
}

void finalizeImports() { neb_finalize(); }

std::mutex& importLock() {
  static std::mutex m;
  return m;
}

}  // namespace NebFrameInfo
