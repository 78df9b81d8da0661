#include "tools/nebview/FrameService.h"

#include <functional>

#include "frameinfo/FrameSummary.h"
#include "frameinfo/JsonLayout.h"
#include "frameinfo/JsonText.h"
#include "tools/nebview/FrameSource.h"
#include "tools/nebview/GzipBody.h"
#include "tools/nebview/WireFormat.h"

namespace NebView {

using NebFrameInfo::jsonQuoted;

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

// A binary answer, kept gzip-compressed (GzipBody.h): `encode` writes it into the stream.
ResponsePtr binaryAnswer(const std::function<bool(const ByteSink&)>& encode) {
  auto r = std::make_shared<Response>();
  r->contentType = kBinary;
  r->gzip = true;
  GzipWriter gzip;
  if (encode([&gzip](const char* data, size_t size) { return gzip.write(data, size); }) && gzip.finish(r->body))
    return r;
  return errorAnswer(500, "out of memory while making the answer");
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
      switch (request.route) {
        case Route::Facts: return factsAnswer(index);
        case Route::Volume: return volumeAnswer(request, index);
        case Route::Slice: return sliceAnswer(request, index);
        default: return particlesAnswer(request, index);
      }
    } catch (const std::exception& e) {
      return errorAnswer(500, std::string("the answer could not be made: ") + e.what());
    }
  });
}

ResponsePtr FrameService::factsAnswer(size_t index) {
  const SequenceFrame& frame = sequence_.frames()[index];
  NebFrameInfo::FrameSummary s;
  NebFrameInfo::summarizeFrame(frame.path, NebFrameInfo::SummaryOptions(), s);
  std::string summary = NebFrameInfo::jsonLayout(s, false, false);
  while (!summary.empty() && summary.back() == '\n') summary.pop_back();
  return answer(200, kJson,
                "{\"index\":" + std::to_string(index) + ",\"number\":" + std::to_string(frame.number) +
                    ",\"summary\":" + summary + "}");
}

namespace {

// Writes each channel of a volume into the compressed answer as soon as it is read, a
// failed one with the library's reason.
class VolumeEncoder : public FrameSource::VolumeReceiver {
 public:
  explicit VolumeEncoder(const Request& request) : request_(request) {}

  bool begin(const FrameSource::Volume& v) override { return encodeVolumeHeader(v, request_.channels.size(), sink_); }
  bool channel(FrameSource::VolumeChannel& c) override { return encodeVolumeChannel(c, request_.bits, sink_); }
  bool finish(std::string& out) { return gzip_.finish(out); }

 private:
  const Request& request_;
  GzipWriter gzip_;
  ByteSink sink_ = [this](const char* data, size_t size) { return gzip_.write(data, size); };
};

}  // namespace

ResponsePtr FrameService::volumeAnswer(const Request& request, size_t index) {
  VolumeEncoder encoder(request);
  std::string failed;
  const FrameSource::ReadStatus status =
      FrameSource::readVolume(sequence_.frames()[index].path, request.channels, request.cells, encoder, failed);
  if (status != FrameSource::ReadStatus::Ok) return readFailure(status, failed, index);
  auto r = std::make_shared<Response>();
  r->contentType = kBinary;
  r->gzip = true;
  if (!encoder.finish(r->body)) return errorAnswer(500, "out of memory while making the answer");
  return r;
}

ResponsePtr FrameService::sliceAnswer(const Request& request, size_t index) {
  FrameSource::Slice slice;
  std::string failed;
  const FrameSource::ReadStatus status = FrameSource::readSlice(sequence_.frames()[index].path, request.channel,
                                                                request.axis, request.index, slice, failed);
  if (status != FrameSource::ReadStatus::Ok) return readFailure(status, failed, index);
  return binaryAnswer(
      [&](const ByteSink& sink) { return encodeSlice(slice, request.channel, request.axis, request.index, sink); });
}

ResponsePtr FrameService::particlesAnswer(const Request& request, size_t index) {
  FrameSource::Particles particles;
  std::string failed;
  const FrameSource::ReadStatus status = FrameSource::readParticles(sequence_.frames()[index].path, request.group,
                                                                    request.maxParticles, particles, failed);
  if (status != FrameSource::ReadStatus::Ok) return readFailure(status, failed, index);
  return binaryAnswer([&](const ByteSink& sink) { return encodeParticles(particles, sink); });
}

ResponsePtr FrameService::readFailure(FrameSource::ReadStatus status, const std::string& reason, size_t index) {
  if (status == FrameSource::ReadStatus::BadArgument) return errorAnswer(404, reason);
  const SequenceFrame& frame = sequence_.frames()[index];
  return answer(422, kJson,
                "{\"error\":" + jsonQuoted(reason) + ",\"frame\":" + std::to_string(index) + ",\"name\":" +
                    jsonQuoted(frame.name) + "}",
                frame.path + ": " + reason);
}

}  // namespace NebView
