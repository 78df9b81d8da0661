// The bytes of a frame that a host serves through the C interface: through its read
// callback (neb_open_options.read) or from memory (neb_frame_from_memory), as a ByteSource
// that the nebu2 reader and the slab readers read like a file. The host's release function
// is called when the last holder drops the source: after the open, or when a frame whose
// grid stayed with the host is closed and its slab readers are gone.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "cache/ByteSource.h"
#include "nebloader_c.h"

class HostByteSource : public ByteSource {
 public:
  // From memory (`read` null: `data` holds `bytes` bytes) or from the host's read function.
  HostByteSource(const void* data, neb_read_fn read, void* user, long long bytes, neb_release_fn release)
      : data_(static_cast<const unsigned char*>(data)), read_(read), user_(user), bytes_(bytes), release_(release) {}
  ~HostByteSource() override;
  HostByteSource(const HostByteSource&) = delete;
  HostByteSource& operator=(const HostByteSource&) = delete;

  int64_t length() override { return bytes_; }
  // Within [0, length) only. The host's function is called under a lock (never on two
  // threads at once), until it has delivered every byte asked for; a result that is not
  // positive, or more than was asked, fails the read. Small reads (the reader's integers)
  // are served from a window of kWindowBytes that one call of the host fills.
  bool readAt(int64_t offset, void* out, int64_t bytes) override;

  static const int64_t kWindowBytes = 65536;

 private:
  bool readFromHost(int64_t offset, unsigned char* out, int64_t bytes);

  const unsigned char* data_;
  neb_read_fn read_;
  void* user_;
  int64_t bytes_;
  neb_release_fn release_;
  std::mutex lock_;
  std::vector<unsigned char> window_;
  int64_t windowStart_ = 0;
  int64_t windowBytes_ = 0;
};
