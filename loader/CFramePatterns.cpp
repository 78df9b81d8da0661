// C interface: frame patterns of sequence file names and frame lists of the tools.
#include <cstring>
#include <string>
#include <vector>

#include "loader/CEntry.h"
#include "zutils/FrameList.h"
#include "zutils/FramePattern.h"

using CInterface::badArgument;
using CInterface::guarded;

extern "C" {

int neb_expand_frame_pattern(const char* pattern, int frame, char* buffer, long long size, long long* length) {
  return guarded("neb_expand_frame_pattern", [&]() {
    if (!pattern) return badArgument("neb_expand_frame_pattern", "null pattern");
    return CInterface::deliverText("neb_expand_frame_pattern", ZUtils::expandFramePattern(pattern, frame, ""), buffer,
                                   size, length);
  });
}

int neb_has_frame_pattern(const char* pattern) {
  return guarded("neb_has_frame_pattern", [&]() {
    if (!pattern) return badArgument("neb_has_frame_pattern", "null pattern");
    return ZUtils::hasFramePattern(pattern) ? 1 : 0;
  });
}

int neb_parse_frame_list(const char* text, int* frames, long long capacity, long long* count, char* error,
                         long long error_size) {
  static const char* const name = "neb_parse_frame_list";
  return guarded(name, [&]() {
    if (error && error_size > 0) error[0] = '\0';
    if (!text || !count) return badArgument(name, "null text or count");
    if (capacity < 0 || (capacity > 0 && !frames)) return badArgument(name, "null or negative-size frame array");
    if (error_size < 0 || (error_size > 0 && !error)) return badArgument(name, "null or negative-size error buffer");
    std::vector<int> list;
    std::string reason;
    if (!ZUtils::parseFrameList(text, list, &reason)) {
      if (error && error_size > 0) {
        const size_t n = reason.size() < static_cast<size_t>(error_size - 1) ? reason.size()
                                                                             : static_cast<size_t>(error_size - 1);
        std::memcpy(error, reason.data(), n);
        error[n] = '\0';
      }
      ZUtils::logReport("[ERROR] %s: %s\n", name, reason.c_str());
      return NEB_E_PARSE;
    }
    *count = static_cast<long long>(list.size());
    const size_t stored = list.size() < static_cast<unsigned long long>(capacity) ? list.size()
                                                                                 : static_cast<size_t>(capacity);
    if (stored > 0) std::memcpy(frames, list.data(), stored * sizeof(int));
    if (stored == list.size()) return NEB_OK;
    // A count query (no array) is no fault.
    if (frames) ZUtils::logReport("[ERROR] %s: %lld frames do not fit %lld\n", name, *count, capacity);
    return NEB_E_BUFFER;
  });
}

}  // extern "C"
