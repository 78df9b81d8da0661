#include "loader/CEntry.h"

#include <cstring>

namespace CInterface {

namespace {

// A reason keeps at most this much of a call's reports: a damaged frame may report every
// one of millions of zones, and the text is not counted in the memory budget.
const size_t kMaxReasonBytes = 8192;

// The last failure's reason of each thread, in storage that needs no destructor: with
// MinGW's emulated TLS a thread_local std::string may be destroyed after its storage is
// freed at thread exit (the two run from separate thread-exit hooks in no set order), which
// faulted as a pool of converters' threads ended. The longest reason is the call's name,
// its status text and the kept reports.
const size_t kMaxLastError = kMaxReasonBytes + 512;
thread_local char tLastError[kMaxLastError];
thread_local size_t tLastErrorLength = 0;

void setLastError(const std::string& reason) {
  tLastErrorLength = reason.size() < kMaxLastError ? reason.size() : kMaxLastError;
  std::memcpy(tLastError, reason.data(), tLastErrorLength);
}

}  // namespace

CallScope::CallScope(const char* name, ReportRoute route) : name_(name), route_(route), scope_(this) {}

CallScope::~CallScope() = default;

void CallScope::keep(const char* text) {
  std::lock_guard<std::mutex> lock(lock_);
  if (reports_.size() >= kMaxReasonBytes) return;
  const size_t room = kMaxReasonBytes - reports_.size();
  const size_t n = std::strlen(text);
  if (n <= room) {
    reports_.append(text, n);
  } else {
    reports_.append(text, room);
    reports_.append("...\n");
  }
}

long long CallScope::finish(long long status) {
  if (status < 0 && status != NEB_E_ARGUMENT && status != NEB_E_BUFFER && status != NEB_E_PARSE &&
      refusals.load(std::memory_order_relaxed) > 0)
    status = NEB_E_MEMORY;
  if (status >= 0) return status;
  try {
    std::string reason = std::string(name_) + ": " + neb_status_string(static_cast<int>(status));
    std::lock_guard<std::mutex> lock(lock_);
    if (!reports_.empty()) {
      reason += "\n";
      reason += reports_;
      while (!reason.empty() && reason.back() == '\n') reason.pop_back();
    }
    setLastError(reason);
  } catch (...) {
    // No room for the reason: the previous one stays; the status is what matters.
  }
  return status;
}

const char* lastErrorOfThread(size_t& length) {
  length = tLastErrorLength;
  return tLastError;
}

long long coveredBytes(long long size, const size_t* ends, size_t count, size_t total) {
  if (size < static_cast<long long>(sizeof(long long))) return -1;
  long long covered = static_cast<long long>(sizeof(long long));
  for (size_t i = 0; i <= count; ++i) {
    const long long end = static_cast<long long>(i < count ? ends[i] : total);
    if (end > size || end > static_cast<long long>(total)) break;
    covered = end;
  }
  return covered;
}

int deliverText(const char* name, const std::string& text, char* buffer, long long size, long long* length) {
  if (length) *length = static_cast<long long>(text.size());
  if (size < 0 || (!buffer && size > 0)) return badArgument(name, "null or negative-size buffer");
  if (static_cast<unsigned long long>(size) <= text.size()) {
    if (buffer || size != 0) {
      ZUtils::logReport("[ERROR] %s: a buffer of %lld bytes cannot hold %llu characters and the NUL\n", name, size,
                        static_cast<unsigned long long>(text.size()));
    }
    return NEB_E_BUFFER;
  }
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  return NEB_OK;
}

}  // namespace CInterface
