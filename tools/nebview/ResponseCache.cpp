#include "tools/nebview/ResponseCache.h"

namespace NebView {

ResponsePtr ResponseCache::get(const std::string& key, const std::function<ResponsePtr()>& make) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    auto it = entries_.find(key);
    if (it == entries_.end()) break;
    if (it->second.response) {
      uses_.splice(uses_.begin(), uses_, it->second.use);
      return it->second.response;
    }
    made_.wait(lock);
  }
  entries_[key];  // being made: others wait for it
  lock.unlock();
  ResponsePtr response = make();
  lock.lock();
  auto it = entries_.find(key);
  const uint64_t bytes = response->body.size() + key.size() + 256;
  if (bytes <= maxBytes_) {
    it->second.response = response;
    it->second.bytes = bytes;
    uses_.push_front(key);
    it->second.use = uses_.begin();
    bytes_ += bytes;
    evict();
  } else {
    entries_.erase(it);
  }
  made_.notify_all();
  return response;
}

void ResponseCache::evict() {
  while (bytes_ > maxBytes_ && !uses_.empty()) {
    auto it = entries_.find(uses_.back());
    bytes_ -= it->second.bytes;
    entries_.erase(it);
    uses_.pop_back();
  }
}

void LoadGate::enter(bool background) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (background) {
    changed_.wait(lock, [this] { return free_ > 0 && waiting_ == 0; });
  } else {
    ++waiting_;
    changed_.wait(lock, [this] { return free_ > 0; });
    if (--waiting_ == 0 && free_ > 1) changed_.notify_all();  // a background reader may go
  }
  --free_;
}

void LoadGate::leave() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++free_;
  changed_.notify_all();
}

}  // namespace NebView
