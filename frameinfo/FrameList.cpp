#include "frameinfo/FrameList.h"

#include "frameinfo/Reasons.h"
#include "frameinfo/TextResult.h"
#include "nebloader_c.h"

namespace NebFrameInfo {

bool hasFramePattern(const std::string& text) { return neb_has_frame_pattern(text.c_str()) == 1; }

std::string expandFramePattern(const std::string& pattern, int frame) {
  return textResult([&](char* b, long long n, long long* length) {
    return neb_expand_frame_pattern(pattern.c_str(), frame, b, n, length);
  });
}

bool parseFramesOption(const char* value, std::vector<int>& frames, std::string& error) {
  if (!value) {
    error = "option '--frames' requires a frame list";
    return false;
  }
  const std::string text = value;
  long long count = 0;
  char reason[256] = {};
  int status = neb_parse_frame_list(text.c_str(), nullptr, 0, &count, reason, sizeof reason);
  if (status == NEB_E_BUFFER) {
    std::vector<int> list(static_cast<size_t>(count));
    status = neb_parse_frame_list(text.c_str(), list.data(), count, &count, reason, sizeof reason);
    if (status == NEB_OK) frames.insert(frames.end(), list.begin(), list.end());
  }
  if (status != NEB_OK)
    error = "invalid frame list '" + text + "': " + (status == NEB_E_PARSE ? std::string(reason) : lastFailure());
  return status == NEB_OK;
}

}  // namespace NebFrameInfo
