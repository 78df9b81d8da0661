#include "tools/nebview/Sequence.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "frameinfo/FrameList.h"

namespace NebView {

namespace fs = std::filesystem;

namespace {

// Paths are UTF-8 text everywhere in nebview; on Windows a narrow path would be read in
// the ANSI code page.
fs::path pathOf(const std::string& utf8) { return fs::u8path(utf8); }

std::string textOf(const fs::path& p) { return p.u8string(); }

// The canonical form of an existing path, "" otherwise.
std::string canonicalOf(const fs::path& p) {
  std::error_code ec;
  const fs::path c = fs::canonical(p, ec);
  return ec ? std::string() : textOf(c);
}

// Where a frame's path may lead: where it leads now if it exists, otherwise the name in
// the canonical folder.
std::string expectedTarget(const std::string& path) {
  const fs::path p = pathOf(path);
  const std::string now = canonicalOf(p);
  if (!now.empty()) return now;
  fs::path folder = p.parent_path();
  if (folder.empty()) folder = ".";
  const std::string dir = canonicalOf(folder);
  return dir.empty() ? std::string() : textOf(pathOf(dir) / p.filename());
}

// Frame numbers that a file name may carry: each run of digits, read as a number with and
// without a '-' before it (when there is one), runs of up to 9 digits.
std::vector<int> numbersIn(const std::string& name) {
  std::vector<int> out;
  for (size_t i = 0; i < name.size();) {
    if (name[i] < '0' || name[i] > '9') {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < name.size() && name[end] >= '0' && name[end] <= '9') ++end;
    if (end - i <= 9) {
      const int n = std::stoi(name.substr(i, end - i));
      out.push_back(n);
      if (i > 0 && name[i - 1] == '-') out.push_back(-n);
    }
    i = end;
  }
  return out;
}

// The frames of `pattern` whose files are in its folder now: a name is a frame's when
// the library's expansion of the pattern for a number in it gives that very name.
std::vector<int> framesOnDisk(const std::string& pattern) {
  std::vector<int> frames;
  const fs::path p = pathOf(pattern);
  fs::path folder = p.parent_path();
  if (folder.empty()) folder = ".";
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = textOf(it->path().filename());
    for (int n : numbersIn(name)) {
      if (textOf(pathOf(NebFrameInfo::expandFramePattern(pattern, n)).filename()) == name) {
        frames.push_back(n);
        break;
      }
    }
  }
  std::sort(frames.begin(), frames.end());
  frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
  return frames;
}

}  // namespace

bool Sequence::build(const std::vector<std::string>& inputs, const std::vector<int>* frames, std::string& error) {
  frames_.clear();
  const bool pattern = inputs.size() == 1 && NebFrameInfo::hasFramePattern(inputs[0]);
  label_ = inputs.empty() ? std::string() : inputs[0];
  if (inputs.empty()) {
    error = "no PATTERN or FILE given";
    return false;
  }
  if (pattern) {
    const std::vector<int> numbers = frames ? *frames : framesOnDisk(inputs[0]);
    for (int n : numbers) {
      SequenceFrame f;
      f.number = n;
      f.path = NebFrameInfo::expandFramePattern(inputs[0], n);
      if (f.path.empty()) continue;
      frames_.push_back(f);
    }
    if (frames_.empty()) {
      error = frames ? "the frame list gives no frame" : "no frame of '" + inputs[0] + "' was found";
      return false;
    }
  } else {
    if (frames) {
      error = "--frames needs one PATTERN";
      return false;
    }
    for (const std::string& input : inputs) {
      SequenceFrame f;
      f.number = static_cast<int>(frames_.size());
      f.path = input;
      frames_.push_back(f);
    }
  }
  for (SequenceFrame& f : frames_) {
    f.name = textOf(pathOf(f.path).filename());
    f.expected = expectedTarget(f.path);
  }
  return true;
}

bool Sequence::checkFile(size_t index, FileStamp& stamp, std::string& why) const {
  stamp = FileStamp();
  if (index >= frames_.size()) {
    why = "no such frame";
    return false;
  }
  const SequenceFrame& f = frames_[index];
  const fs::path p = pathOf(f.path);
  std::error_code ec;
  const fs::file_status status = fs::status(p, ec);
  if (ec || !fs::exists(status)) return true;  // not there: the read says so
  const std::string now = canonicalOf(p);
  if (f.expected.empty() || now != f.expected) {
    why = "the file now leads outside the sequence";
    return false;
  }
  if (!fs::is_regular_file(status)) {
    why = "not a regular file";
    return false;
  }
  stamp.exists = true;
  stamp.size = fs::file_size(p, ec);
  if (ec) stamp.size = 0;
  const fs::file_time_type t = fs::last_write_time(p, ec);
  stamp.modified = ec ? 0 : static_cast<int64_t>(t.time_since_epoch().count());
  return true;
}

}  // namespace NebView
