// The files nebview serves: the frames of one pattern, or the files named on the command
// line, fixed when the program starts. Nothing else is ever read or sent.
//
// A frame file may be replaced while nebview runs (a simulation writing its cache), but it
// must stay what it was: the file a frame's path leads to (symbolic links followed) has to
// be the one it led to at start, or, for a frame not there at start, the file of that
// name in the folder the path named at start. A path that now leads elsewhere (a link to
// a file outside the sequence put in its place) is refused.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace NebView {

struct SequenceFrame {
  int number = 0;     // the frame number of a pattern; the position for named files
  std::string path;   // as given or expanded, UTF-8
  std::string name;   // the file-name part of the path
  std::string expected;  // the canonical path it must lead to; "" when none can be known
};

// What a frame's file is now: its size and modification time, for telling a rewritten
// file from the one read before.
struct FileStamp {
  bool exists = false;
  uint64_t size = 0;
  int64_t modified = 0;
};

class Sequence {
 public:
  // One input with a frame token (####, %04d, <frame04>): `frames` when given, otherwise
  // every frame whose file is in the pattern's folder now. Otherwise every input is one
  // file (and `frames` must be null). False with the reason when no frame results.
  bool build(const std::vector<std::string>& inputs, const std::vector<int>* frames, std::string& error);

  const std::vector<SequenceFrame>& frames() const { return frames_; }
  // The pattern, or the first file, for titles.
  const std::string& label() const { return label_; }

  // True when frame `index`'s file may be read now (or is not there: reading then fails
  // as for any missing file), with its stamp. False with the reason when it leads
  // somewhere else than it may.
  bool checkFile(size_t index, FileStamp& stamp, std::string& why) const;

 private:
  std::vector<SequenceFrame> frames_;
  std::string label_;
};

}  // namespace NebView
