#include "zutils/platform/AtomicFile.h"
#include "zutils/platform/AtomicFileTemporaries.h"
#include "zutils/platform/File.h"
#include "zutils/platform/Kernel32.h"
#include "zutils/platform/WideText.h"

namespace ZUtils {
namespace platform {

namespace {

const char* const kSeparators = "/\\";

// Length of the part of `path` that names no folder to create: "C:\", "\\server\share\",
// a leading separator, or nothing.
size_t rootLength(const std::string& path) {
  if (path.size() >= 2 && (path[0] == '/' || path[0] == '\\') && (path[1] == '/' || path[1] == '\\')) {
    const size_t server = path.find_first_of(kSeparators, 2);
    if (server == std::string::npos) return path.size();
    const size_t share = path.find_first_of(kSeparators, server + 1);
    return share == std::string::npos ? path.size() : share + 1;
  }
  if (path.size() >= 2 && path[1] == ':') return path.size() >= 3 && (path[2] == '/' || path[2] == '\\') ? 3 : 2;
  return !path.empty() && (path[0] == '/' || path[0] == '\\') ? 1 : 0;
}

// The folder part of `path` with its last separator ("" for a name in the current folder;
// "C:" for one in drive C's current folder).
std::string folderPrefix(const std::string& path) {
  const size_t sep = path.find_last_of(kSeparators);
  if (sep != std::string::npos) return path.substr(0, sep + 1);
  return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : std::string();
}

// The folder as messages name it.
std::string folderName(const std::string& path) {
  std::string folder = folderPrefix(path);
  if (folder.size() > rootLength(folder)) folder.pop_back();
  return folder.empty() ? "." : folder;
}

std::string systemError(const std::string& what, const std::string& path, DWORD code) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string reason = n && text ? toUtf8(text) : "error " + std::to_string(code);
  if (text) LocalFree(text);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ' ||
                             reason.back() == '.'))
    reason.pop_back();
  return what + " " + path + ": " + reason;
}

// Ctrl+C, Ctrl+Break, closing the console, logoff or shutdown; the handler runs on a
// thread of its own. Temporaries still being written are deleted too: openFile shares
// them for deletion, so their names go at once and their data when the process ends.
BOOL WINAPI removeTemporariesAndEnd(DWORD) {
  temporaries::removeAll([](const char* path) { return DeleteFileW(toWide(path).c_str()) != 0; });
  return FALSE;  // on to the default handler, which ends the process
}

}  // namespace

bool makeFolderFor(const std::string& destination, std::string& error) {
  const std::string folder = folderName(destination);
  const DWORD attributes = GetFileAttributesW(toWide(folder.c_str()).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    // Top down. A part that exists after a failed CreateDirectoryW is fine when it is a
    // folder, whoever made it (several processes may make the same folders at once).
    const size_t root = rootLength(folder);
    for (size_t end = folder.find_first_of(kSeparators, root);; end = folder.find_first_of(kSeparators, end + 1)) {
      const std::string part = folder.substr(0, end);
      if (part.size() > root) {
        const std::wstring wide = toWide(part.c_str());
        if (!CreateDirectoryW(wide.c_str(), nullptr)) {
          const DWORD why = GetLastError();
          const DWORD found = GetFileAttributesW(wide.c_str());
          if (found == INVALID_FILE_ATTRIBUTES) {
            error = systemError("cannot create the folder", part, why);
            return false;
          }
          if (!(found & FILE_ATTRIBUTE_DIRECTORY)) {
            error = "cannot create the folder " + folder + ": " + part + " is not a folder";
            return false;
          }
        }
      }
      if (end == std::string::npos) break;
    }
  } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    error = "cannot write into " + folder + ": it is not a folder";
    return false;
  }
  // Whether files can be made there shows when the first one is (AtomicFile::open names
  // the folder then): Windows has no cheap check of the folder's access rights.
  return true;
}

void installCleanupOnSignals() { SetConsoleCtrlHandler(removeTemporariesAndEnd, TRUE); }

AtomicFile::~AtomicFile() { discard(); }

bool AtomicFile::open(const std::string& destination, std::string& error) {
  discard();
  destination_ = destination;
  const std::string prefix = folderPrefix(destination);
  const std::string base = destination.substr(prefix.size());
  DWORD why = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < 16 && why == ERROR_FILE_EXISTS; ++attempt) {
    const std::string name = prefix + "." + base + "." + temporaries::randomSuffix() + ".part";
    // Created here, empty, so that the name is ours; the writer opens it again by name.
    const HANDLE h = CreateFileW(toWide(name.c_str()).c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      why = GetLastError();
      continue;
    }
    CloseHandle(h);
    tempName_ = writePath_ = name;
    cleanupSlot_ = temporaries::claim(tempName_);
    return true;
  }
  error = systemError("cannot create a file in", folderName(destination), why);
  return false;
}

long long AtomicFile::size() const {
  int64_t bytes = 0;
  return !tempName_.empty() && fileSize(tempName_.c_str(), &bytes) ? (long long)bytes : -1;
}

bool AtomicFile::commit(std::string& error) {
  if (tempName_.empty()) {
    error = "nothing to commit";
    return false;
  }
  // Replaces an older file in one step: readers see the old file or the new one.
  if (!MoveFileExW(toWide(tempName_.c_str()).c_str(), toWide(destination_.c_str()).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = systemError("cannot rename the output to", destination_, GetLastError());
    discard();
    return false;
  }
  tempName_.clear();  // now the destination: keep it
  discard();
  return true;
}

void AtomicFile::discard() {
  if (!tempName_.empty()) DeleteFileW(toWide(tempName_.c_str()).c_str());
  temporaries::release(cleanupSlot_);
  cleanupSlot_ = -1;
  tempName_.clear();
  writePath_.clear();
}

}  // namespace platform
}  // namespace ZUtils
