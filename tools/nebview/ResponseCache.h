// Answers kept for reuse under a byte bound, the least recently used given up first. A
// request for an answer another thread is making waits for it instead of making it again
// (playback and read-ahead ask for the same frame at once).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace NebView {

struct Response {
  int status = 200;
  std::string contentType;
  std::string body;
  std::string logNote;  // for answers of 400 and above: why, for the log
  bool gzip = false;    // the body is gzip-compressed (GzipBody.h)
  std::string filePath; // a file sent as it is (the body is then empty)
  uint64_t fileSize = 0;
};
typedef std::shared_ptr<const Response> ResponsePtr;

class ResponseCache {
 public:
  explicit ResponseCache(uint64_t maxBytes) : maxBytes_(maxBytes) {}

  // The answer under `key`: kept, being made by another thread (waited for), or made by
  // `make` now and kept when it fits the bound. `make` must not throw.
  ResponsePtr get(const std::string& key, const std::function<ResponsePtr()>& make);

 private:
  struct Entry {
    ResponsePtr response;  // null while being made
    uint64_t bytes = 0;
    std::list<std::string>::iterator use;
  };

  void evict();

  const uint64_t maxBytes_;
  std::mutex mutex_;
  std::condition_variable made_;
  std::map<std::string, Entry> entries_;
  std::list<std::string> uses_;  // made entries, most recently used first
  uint64_t bytes_ = 0;
};

// Room for `slots` reads at once. A background reader (the statistics sweep) waits while
// anyone else does, so that it never delays what the page is waiting for.
class LoadGate {
 public:
  explicit LoadGate(int slots) : free_(slots < 1 ? 1 : slots) {}

  class Pass {
   public:
    Pass(LoadGate& gate, bool background) : gate_(gate) { gate_.enter(background); }
    Pass(const Pass&) = delete;
    Pass& operator=(const Pass&) = delete;
    ~Pass() { gate_.leave(); }

   private:
    LoadGate& gate_;
  };

  void enter(bool background);
  void leave();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int free_;
  int waiting_ = 0;  // foreground readers waiting
};

}  // namespace NebView
