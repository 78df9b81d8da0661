#include "tools/nebview/FrameService.h"

#include "tools/nebinfo/Layout.h"
#include "tools/nebview/FrameSource.h"
#include "tools/nebview/JsonText.h"
#include "tools/nebview/WireFormat.h"

namespace NebView {

namespace {

const char* const kJson = "application/json";
const char* const kBinary = "application/octet-stream";

ResponsePtr answer(int status, const char* type, std::string body, const std::string& note = std::string()) {
  auto r = std::make_shared<Response>();
  r->status = status;
  r->contentType = type;
  r->body = std::move(body);
  r->logNote = note;
  return r;
}

std::string joined(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : "; ") + p;
  return out;
}

std::string channelList(const std::vector<int>& channels) {
  std::string out;
  for (int c : channels) out += (out.empty() ? "" : ",") + std::to_string(c);
  return out;
}

}  // namespace

ResponsePtr errorAnswer(int status, const std::string& reason) {
  return answer(status, kJson, "{\"error\":" + jsonQuoted(reason) + "}", reason);
}

FrameService::FrameService(const Sequence& sequence, const ServiceOptions& options)
    : sequence_(sequence), options_(options), cache_(options.cacheBytes), gate_(options.loadSlots),
      sweep_(sequence, gate_) {}

ResponsePtr FrameService::respond(const Request& request) {
  try {
    switch (request.route) {
      case Route::Sequence: return sequenceAnswer();
      case Route::Stats:
        sweep_.start();
        return answer(200, kJson, sweep_.json(request.from));
      case Route::Facts:
      case Route::Volume:
      case Route::Slice:
      case Route::Particles:
      case Route::File: return frameAnswer(request);
      default: return errorAnswer(404, "no such route");
    }
  } catch (const std::exception& e) {
    return errorAnswer(500, std::string("the answer could not be made: ") + e.what());
  }
}

ResponsePtr FrameService::sequenceAnswer() const {
  std::string frames;
  const std::vector<SequenceFrame>& list = sequence_.frames();
  for (size_t i = 0; i < list.size(); ++i) {
    frames += (i ? "," : "") + std::string("{\"index\":") + std::to_string(i) + ",\"number\":" +
              std::to_string(list[i].number) + ",\"name\":" + jsonQuoted(list[i].name) + "}";
  }
  return answer(200, kJson,
                "{\"label\":" + jsonQuoted(sequence_.label()) + ",\"version\":" + jsonQuoted(options_.version) +
                    ",\"library\":" + jsonQuoted(FrameSource::libraryVersion()) +
                    ",\"cells\":" + std::to_string(options_.defaultCells) + ",\"frames\":[" + frames + "]}");
}

ResponsePtr FrameService::frameAnswer(const Request& request) {
  const std::vector<SequenceFrame>& frames = sequence_.frames();
  if (request.frame < 0 || static_cast<uint64_t>(request.frame) >= frames.size())
    return errorAnswer(404, "no frame " + std::to_string(request.frame) + ": the sequence has " +
                                std::to_string(frames.size()));
  const size_t index = static_cast<size_t>(request.frame);
  FileStamp stamp;
  std::string why;
  if (!sequence_.checkFile(index, stamp, why)) return errorAnswer(403, frames[index].path + ": " + why);
  if (request.route == Route::File) {
    if (!stamp.exists) return errorAnswer(404, frames[index].path + ": the file is not there");
    auto r = std::make_shared<Response>();
    r->contentType = kBinary;
    r->filePath = frames[index].path;
    r->fileSize = stamp.size;
    return r;
  }
  const std::string stampKey = std::to_string(index) + "|" + (stamp.exists ? "1" : "0") + "|" +
                               std::to_string(stamp.size) + "|" + std::to_string(stamp.modified);
  return read(request, index, stampKey);
}

ResponsePtr FrameService::read(const Request& request, size_t index, const std::string& stampKey) {
  const std::string& path = sequence_.frames()[index].path;
  std::string key;
  switch (request.route) {
    case Route::Facts: key = "facts|" + stampKey; break;
    case Route::Volume:
      key = "volume|" + stampKey + "|" + channelList(request.channels) + "|" + std::to_string(request.cells) + "|" +
            std::to_string(request.bits);
      break;
    case Route::Slice:
      key = "slice|" + stampKey + "|" + std::to_string(request.channel) + "|" + std::to_string(request.axis) + "|" +
            std::to_string(request.index);
      break;
    default:
      key = "particles|" + stampKey + "|" + std::to_string(request.group) + "|" + std::to_string(request.maxParticles);
      break;
  }
  return cache_.get(key, [&]() -> ResponsePtr {
    try {
      LoadGate::Pass pass(gate_, false);
      std::string failed;
      FrameSource::ReadStatus status = FrameSource::ReadStatus::Ok;
      std::string body;
      if (request.route == Route::Facts) {
        NebInfo::FrameSummary s;
        FrameSource::describeFrame(path, NebInfo::SummaryOptions(), s);
        std::string summary = NebInfo::jsonLayout(s, false, false);
        while (!summary.empty() && summary.back() == '\n') summary.pop_back();
        return answer(200, kJson,
                      "{\"index\":" + std::to_string(index) + ",\"number\":" +
                          std::to_string(sequence_.frames()[index].number) + ",\"summary\":" + summary + "}");
      }
      if (request.route == Route::Volume) {
        FrameSource::Volume v;
        status = FrameSource::readVolume(path, request.channels, request.cells, v, failed);
        if (status == FrameSource::ReadStatus::Ok) body = encodeVolume(v, request.bits);
      } else if (request.route == Route::Slice) {
        FrameSource::Slice s;
        status = FrameSource::readSlice(path, request.channel, request.axis, request.index, s, failed);
        if (status == FrameSource::ReadStatus::Ok) body = encodeSlice(s, request.channel, request.axis, request.index);
      } else {
        FrameSource::Particles p;
        status = FrameSource::readParticles(path, request.group, request.maxParticles, p, failed);
        if (status == FrameSource::ReadStatus::Ok) body = encodeParticles(p);
      }
      if (status == FrameSource::ReadStatus::BadArgument) return errorAnswer(404, failed);
      if (status == FrameSource::ReadStatus::Failed) return failure(index, stampKey, failed);
      return answer(200, kBinary, std::move(body));
    } catch (const std::exception& e) {
      return errorAnswer(500, std::string("the answer could not be made: ") + e.what());
    }
  });
}

ResponsePtr FrameService::failure(size_t index, const std::string& stampKey, const std::string& shortReason) {
  const SequenceFrame& frame = sequence_.frames()[index];
  // The check runs under the read's gate pass already held by the caller.
  const ResponsePtr diagnosis = cache_.get("check|" + stampKey, [&]() -> ResponsePtr {
    NebInfo::SummaryOptions options;
    options.check = true;
    NebInfo::FrameSummary s;
    FrameSource::describeFrame(frame.path, options, s);
    return answer(200, "text/plain", joined(s.failures));
  });
  const std::string reason = diagnosis->body.empty() ? shortReason : diagnosis->body;
  return answer(422, kJson,
                "{\"error\":" + jsonQuoted(reason) + ",\"frame\":" + std::to_string(index) + ",\"name\":" +
                    jsonQuoted(frame.name) + "}",
                frame.path + ": " + reason);
}

}  // namespace NebView
