#include "tools/nebview/StatsSweep.h"

#include "frameinfo/FrameSummary.h"
#include "frameinfo/JsonLayout.h"
#include "frameinfo/JsonText.h"

namespace NebView {

StatsSweep::~StatsSweep() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void StatsSweep::start() {
  std::call_once(started_, [this] { thread_ = std::thread([this] { run(); }); });
}

void StatsSweep::run() {
  const std::vector<SequenceFrame>& frames = sequence_.frames();
  for (size_t i = 0; i < frames.size() && !stop_; ++i) {
    std::string summary;
    FileStamp stamp;
    std::string why;
    if (!sequence_.checkFile(i, stamp, why)) {
      summary = "{\"file\":" + NebFrameInfo::jsonQuoted(frames[i].path) +
                ",\"loaded\":false,\"error\":" + NebFrameInfo::jsonQuoted(why) + "}";
    } else {
      LoadGate::Pass pass(gate_, true);
      NebFrameInfo::SummaryOptions options;
      options.statistics = true;
      NebFrameInfo::FrameSummary s;
      NebFrameInfo::summarizeFrame(frames[i].path, options, s);
      summary = NebFrameInfo::jsonLayout(s, true, false);
      while (!summary.empty() && summary.back() == '\n') summary.pop_back();
    }
    const std::string entry = "{\"index\":" + std::to_string(i) + ",\"number\":" + std::to_string(frames[i].number) +
                              ",\"summary\":" + summary + "}";
    std::lock_guard<std::mutex> lock(mutex_);
    done_.push_back(entry);
  }
}

std::string StatsSweep::json(int64_t from) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string out = "{\"total\":" + std::to_string(sequence_.frames().size()) + ",\"done\":" + std::to_string(done_.size()) +
                    ",\"frames\":[";
  for (size_t i = from < 0 ? 0 : static_cast<size_t>(from); i < done_.size(); ++i) {
    if (out.back() != '[') out += ',';
    out += done_[i];
  }
  return out + "]}";
}

}  // namespace NebView
