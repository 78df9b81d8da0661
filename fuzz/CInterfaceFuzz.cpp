// The C interface (nebloader_c.h) with every argument a caller hands it taken from the
// input: mapping texts, frame patterns, frame lists, writer arguments (grid sizes, versions,
// precisions, channel numbers, value counts, particle counts, slots, byte sizes), frames
// from bytes, and indexes, slots, buffer sizes, struct sizes and null pointers for every
// query.
//
// Input: one operation byte (% 5), then the operation's own numbers, then a text or file:
//   0 mapping text, 1 frame pattern, 2 frame list, 3 writer, 4 frame (open byte % 30: the
//   tens pick where the bytes come from: 0 a file, 1 memory (neb_frame_from_memory), 2 a
//   host's read callback (neb_frame_open_with), whose faults the next byte picks; the ones
//   pick the flags, 5 and up adding NEB_OPEN_GRID_IN_FILE). Frames are read through slab
//   readers too.
// Every call must end in a status; a sized struct must come back with nothing written past
// its size; the round trip of operation 3 must give back the bits it wrote when it wrote
// losslessly; a host's release function is called exactly once.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "nebloader_c.h"

namespace {

volatile float gSink;

// A sized struct in a larger block whose bytes past the struct hold a pattern: the size
// set is one of sizeof, the bare size field, a size between fields, a larger one (a newer
// host's) or an invalid one. Nothing past min(size, sizeof) may change, and neither may
// the size field.
template <class T>
struct Sized {
  union {
    T value;
    unsigned char bytes[sizeof(T) + 64];
  } block;
  long long size = 0;
  explicit Sized(nebfuzz::Input& in) {
    std::memset(block.bytes, 0xA5, sizeof block.bytes);
    const uint32_t k = in.take(1) % 8;
    size = k < 4 ? static_cast<long long>(sizeof(T)) : k == 4 ? 8 : k == 5 ? 13 : k == 6 ? sizeof(T) + 64 : -3;
    block.value.size = size;
  }
  T* get() { return &block.value; }
  void check() const {
    if (block.value.size != size) __builtin_trap();
    const size_t from = size < 0 ? sizeof(long long)
                                  : static_cast<size_t>(size) < sizeof(T) ? static_cast<size_t>(size) : sizeof(T);
    for (size_t i = from < sizeof(long long) ? sizeof(long long) : from; i < sizeof block.bytes; ++i)
      if (block.bytes[i] != 0xA5) __builtin_trap();
  }
};

// A buffer size from one input byte: -2 .. 253, 0 often enough to reach the length query.
long long bufferSize(nebfuzz::Input& in) { return static_cast<long long>(in.take(1)) - 2; }

void text(nebfuzz::Input& in, long long size, int (*call)(char*, long long, long long*)) {
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 1);
  long long length = -1;
  const bool nullLength = in.take(1) & 1;
  const int status = call(size > 0 ? buffer.data() : nullptr, size, nullLength ? nullptr : &length);
  if (status == NEB_OK && std::strlen(buffer.data()) != static_cast<size_t>(length) && !nullLength) __builtin_trap();
}

void mappings(nebfuzz::Input& in, const std::string& s) {
  const long long size = bufferSize(in);
  const int index = static_cast<int>(in.take(1)) - 2;
  static thread_local const std::string* text;
  static thread_local int probe;
  text = &s;
  probe = index;
  std::vector<int> channels;
  std::vector<std::string> names;
  for (int i = 0; i < 64; ++i) {
    int channel = 0;
    long long length = 0;
    if (neb_mapping_entry(s.c_str(), i, &channel, nullptr, 0, &length) != NEB_E_BUFFER) break;
    std::vector<char> name(static_cast<size_t>(length) + 1);
    if (neb_mapping_entry(s.c_str(), i, &channel, name.data(), length + 1, nullptr) != NEB_OK) __builtin_trap();
    channels.push_back(channel);
    names.emplace_back(name.data());
  }
  ::text(in, size, [](char* b, long long n, long long* l) { return neb_mapping_entry(text->c_str(), probe, nullptr, b, n, l); });
  std::vector<const char*> pointers;
  for (const std::string& n : names) pointers.push_back(n.c_str());
  const int count = static_cast<int>(channels.size()) - static_cast<int>(in.take(1) % 2);
  long long length = 0;
  neb_compose_mapping(channels.data(), pointers.data(), count, nullptr, 0, &length);
  neb_compose_mapping(nullptr, nullptr, count, nullptr, size, &length);
  // A name of the text in a folder that does not exist: the default mapping and survey.
  std::string name;
  for (char c : s.substr(0, 48)) name += (c == '/' || c == '\\') ? '_' : c;
  const std::string path = "/tmp/nebfuzz-no-such-dir/" + name + ".vdb";
  neb_default_mapping(path.c_str(), nullptr, size, &length);
  int flag = 0;
  std::vector<char> out(size > 0 ? static_cast<size_t>(size) : 1);
  neb_file_grid(path.c_str(), index, &flag, out.data(), size > 0 ? size : 0, &length);
}

void patterns(nebfuzz::Input& in, const std::string& s) {
  const long long size = bufferSize(in);
  static thread_local const std::string* pattern;
  static thread_local int frame;
  pattern = &s;
  frame = static_cast<int>(in.take(4));
  ::text(in, size, [](char* b, long long n, long long* l) { return neb_expand_frame_pattern(pattern->c_str(), frame, b, n, l); });
  neb_has_frame_pattern(s.c_str());
  neb_has_frame_pattern(nullptr);
}

void frameLists(nebfuzz::Input& in, const std::string& s) {
  const long long capacity = static_cast<long long>(in.take(1)) - 2;
  const long long errorSize = bufferSize(in);
  std::vector<int> frames(capacity > 0 ? static_cast<size_t>(capacity) : 1);
  std::vector<char> error(errorSize > 0 ? static_cast<size_t>(errorSize) : 1, 'x');
  long long count = -1;
  const int status = neb_parse_frame_list(s.c_str(), capacity > 0 ? frames.data() : nullptr, capacity, &count,
                                          errorSize > 0 ? error.data() : nullptr, errorSize);
  if (status == NEB_OK && (count < 0 || count > capacity)) __builtin_trap();
  if (status == NEB_E_PARSE && errorSize > 0 && std::memchr(error.data(), 0, error.size()) == nullptr) __builtin_trap();
}

void touchGroup(neb_group* g, nebfuzz::Input& in) {
  char name[32];
  long long length = 0;
  neb_group_name(g, name, static_cast<long long>(in.take(1) % 40) - 4, &length);
  const long long count = neb_group_particle_count(g);
  neb_group_stored_count(g);
  std::vector<char> values(256);
  for (int slot = -1; slot <= 32; ++slot) {
    neb_group_has_slot(g, slot);
    neb_group_slot_bytes(g, slot);
    Sized<neb_slot_record> record(in);
    neb_group_slot_record(g, slot, record.get());
    record.check();
    const long long first = static_cast<long long>(in.take(1)) - 1;
    const long long n = static_cast<long long>(in.take(1) % 9);
    // A failed call writes nothing: the pattern must survive it.
    std::memset(values.data(), 0x5A, values.size());
    if (neb_group_values(g, slot, first, n, values.data(), static_cast<long long>(in.take(1))) != NEB_OK)
      for (char c : values)
        if (c != 0x5A) __builtin_trap();
    neb_group_values(g, slot, count - 1, 1, values.data(), static_cast<long long>(values.size()));
  }
  for (int slot : {0, 10, static_cast<int>(in.take(1)) % 34 - 1}) {
    const void* expanded = nullptr;
    long long particles = 0;
    neb_group_expand_slot(g, slot, &expanded, &particles);
  }
  long long id = 0;
  if (neb_group_values(g, 10, 0, 1, &id, 8) == NEB_OK) neb_group_find_id(g, id);
  neb_group_find_id(g, static_cast<long long>(in.take(4)));
}

// A slab reader of the frame with arguments from the input: channels (out of range too),
// slab bounds, capacities and null pointers. A slab read that succeeds must give what
// neb_frame_channel gives the frame, when that frame decodes it.
void readSlabs(neb_frame* f, const int size[3], nebfuzz::Input& in) {
  neb_slab_reader* r = nullptr;
  if (neb_slab_reader_open((in.take(1) == 255) ? nullptr : f, &r) != NEB_OK) return;
  neb_slab_reader_open(f, nullptr);
  const long long layer =
      size[0] > 0 && size[1] > 0 && size[2] > 0 ? static_cast<long long>(size[0]) * size[1] : 0;
  const int opens = static_cast<int>(in.take(1) % 6);
  int opened[8] = {}, count = 0;
  for (int k = 0; k < opens; ++k) {
    const int channel = static_cast<int>(in.take(1) % 36) - 2;
    int source = -1;
    if (neb_slab_open_channel(r, channel, (in.take(1) & 1) ? nullptr : &source) == NEB_OK) opened[count++] = channel;
  }
  neb_slab_open_channel(nullptr, 2, nullptr);
  std::vector<float> slab(layer > 0 && layer <= (1 << 16) ? static_cast<size_t>(layer) * 9 : 1);
  const int reads = static_cast<int>(in.take(1) % 12);
  for (int k = 0; k < reads; ++k) {
    const int channel = count > 0 && (in.take(1) & 3) ? opened[in.take(1) % count] : static_cast<int>(in.take(1) % 34) - 1;
    const int z0 = static_cast<int>(in.take(1) % 20) - 1;
    const int z1 = z0 + static_cast<int>(in.take(1) % 10) - 1;
    long long capacity = static_cast<long long>(slab.size());
    const uint32_t twist = in.take(1) % 8;
    if (twist == 1) capacity = static_cast<long long>(z1 - z0) * layer - 1;
    if (twist == 2) capacity = -1;
    float* out = twist == 3 ? nullptr : slab.data();
    if (neb_slab_read(r, channel, z0, z1, out, capacity) != NEB_OK || z1 <= z0 || twist == 3) continue;
    if (static_cast<long long>(z1 - z0) * layer > static_cast<long long>(slab.size())) __builtin_trap();
    const float* whole = nullptr;
    // Only frames that keep their grid decode it themselves, and a budget refusal is no answer.
    if (neb_frame_channel(f, channel, &whole) == NEB_OK &&
        std::memcmp(slab.data(), whole + z0 * layer, static_cast<size_t>((z1 - z0) * layer) * sizeof(float)) != 0)
      __builtin_trap();
  }
  neb_slab_read(nullptr, 2, 0, 1, slab.data(), 1);
  neb_slab_reader_close(nullptr);
  neb_slab_reader_close(r);
}

void readFrame(neb_frame* f, nebfuzz::Input& in) {
  int size[3] = {0, 0, 0};
  float t[12];
  unsigned long long mask = 0;
  int value = 0;
  // A damaged size is refused, never handed out.
  if (neb_frame_grid_size(f, size) == NEB_OK && (size[0] < 0 || size[1] < 0 || size[2] < 0)) __builtin_trap();
  Sized<neb_frame_info> info(in);
  neb_frame_get_info(f, info.get());
  info.check();
  neb_frame_transform(f, t);
  neb_frame_grid_mask(f, &mask);
  neb_frame_version(f, &value);
  neb_frame_number(f, &value);
  const int records = neb_frame_grid_record_count(f);
  for (int i = -1; i <= records && i < 40; ++i) {
    Sized<neb_grid_record> r(in);
    neb_frame_grid_record(f, i, r.get());
    r.check();
  }
  readSlabs(f, size, in);
  const int stored = neb_frame_stored_group_count(f);
  for (int i = -1; i <= stored && i < 8; ++i) {
    neb_group* g = nullptr;
    if (neb_frame_stored_group(f, i, &g) == NEB_OK) touchGroup(g, in);
  }
  for (int c = -1; c <= 32; ++c) {
    neb_frame_has_channel(f, c);
    const float* values = nullptr;
    if (neb_frame_channel(f, c, &values) == NEB_OK) gSink = nebfuzz::touchChannel(values, size);
    neb_frame_release_channel(f, c);
  }
  const int groups = neb_frame_group_count(f);
  for (int i = -1; i <= groups && i < 8; ++i) {
    neb_group* g = nullptr;
    if (neb_frame_group(f, i, &g) == NEB_OK) {
      char name[256];
      neb_group* found = nullptr;
      if (neb_group_name(g, name, sizeof name, nullptr) == NEB_OK) neb_frame_find_group(f, name, &found);
    }
  }
  neb_frame_find_group(f, "", nullptr);
}

void writer(nebfuzz::Input& in) {
  const int nx = static_cast<int>(in.take(1) % 9) - 1, ny = static_cast<int>(in.take(1) % 9) - 1,
            nz = static_cast<int>(in.take(1) % 9) - 1;
  const int version = static_cast<int>(in.take(1) % 8);
  const int precision = static_cast<int>(in.take(1) % 24) - 2;
  neb_writer* w = nullptr;
  if (neb_writer_create(in.take(1) == 255 ? nullptr : &w) != NEB_OK) return;
  neb_writer_set_version(w, version);
  neb_writer_set_grid(w, nx, ny, nz, (in.take(1) & 1) ? nullptr : std::vector<float>(12, 0.5f).data());
  neb_writer_set_frame_number(w, static_cast<int>(in.take(4)));
  const bool lossless = neb_writer_set_precision(w, precision) == NEB_OK && precision == 0;
  const long long cells = nx > 0 && ny > 0 && nz > 0 ? static_cast<long long>(nx) * ny * nz : 0;
  std::vector<float> values(static_cast<size_t>(cells) + 16);
  for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<float>(in.take(2)) * 0.37f - 1000.0f;
  std::vector<int> added;
  const int channels = static_cast<int>(in.take(1) % 4);
  for (int k = 0; k < channels; ++k) {
    const int channel = static_cast<int>(in.take(1) % 36) - 2;
    const long long count = cells + static_cast<long long>(in.take(1) % 3) - 1;
    if (neb_writer_add_channel(w, channel, values.data(), count) == NEB_OK) added.push_back(channel);
  }
  const long long particles = static_cast<long long>(in.take(1) % 12) - 1;
  int group = -1;
  neb_writer_add_group(w, (in.take(1) & 1) ? nullptr : "g", particles, static_cast<int>(in.take(1)), &group);
  std::vector<char> slotBytes(512);
  for (int k = 0; k < 3; ++k) {
    const int slot = static_cast<int>(in.take(1) % 36) - 2;
    int words = 0;
    neb_slot_layout(slot, &words, nullptr, nullptr);
    const long long bytes = static_cast<long long>(particles) * words * 4 + static_cast<long long>(in.take(1) % 3) - 1;
    neb_writer_set_slot(w, group + static_cast<int>(in.take(1) % 3) - 1, slot, slotBytes.data(), bytes);
  }
  const char* path = nebfuzz::writeTempFile("c_interface.neb", nullptr, 0);
  if (path && neb_writer_write(w, path) == NEB_OK) {
    neb_frame* f = nullptr;
    if (neb_frame_open(path, nullptr, -1, NEB_OPEN_UNSHARED, &f) == NEB_OK) {
      for (int channel : added) {
        const float* back = nullptr;
        // Lossless channels come back bit for bit (speed derives from nothing stored here).
        if (lossless && (neb_frame_channel(f, channel, &back) != NEB_OK ||
                         std::memcmp(back, values.data(), static_cast<size_t>(cells) * sizeof(float)) != 0))
          __builtin_trap();
      }
      readFrame(f, in);
      neb_frame_close(f);
    }
  }
  neb_writer_free(w);
}

// The frame's bytes served by a host: short reads, a read that fails after some calls, or
// one that claims more than was asked (a host's fault the library must refuse).
struct Host {
  const uint8_t* data = nullptr;
  long long bytes = 0;
  uint32_t faults = 0;
  int calls = 0;
  int released = 0;

  static long long read(void* user, long long offset, void* buffer, long long n) {
    Host* h = static_cast<Host*>(user);
    if (offset < 0 || n <= 0 || offset > h->bytes || n > h->bytes - offset) __builtin_trap();
    ++h->calls;
    if ((h->faults & 3) == 1 && h->calls > static_cast<int>(h->faults >> 2) % 16) return -1;
    if ((h->faults & 3) == 2 && n > 1) n = 1 + (n - 1) / 2;
    std::memcpy(buffer, h->data + offset, static_cast<size_t>(n));
    return (h->faults & 3) == 3 && h->calls % 7 == 0 ? n + 1 : n;
  }
  static void release(void* user) { ++static_cast<Host*>(user)->released; }
};

void reportToNowhere(int level, const char* text, void*) {
  if (level < NEB_REPORT_DEBUG || level > NEB_REPORT_ERROR || !text) __builtin_trap();
}

void frameFile(nebfuzz::Input& in) {
  // Ones: 0 .. 4 as ever; 5 .. 9 the same with NEB_OPEN_GRID_IN_FILE (refused without
  // unshared). Tens: file, memory, read callback.
  const int raw = static_cast<int>(in.take(1) % 30);
  const int flags = raw % 10 % 5;
  const int gridInFile = raw % 10 >= 5 ? NEB_OPEN_GRID_IN_FILE : 0;
  const int from = raw / 10;
  Host host;
  host.faults = from == 2 ? in.take(1) : 0;
  host.data = in.data;
  host.bytes = static_cast<long long>(in.size);
  neb_frame* f = nullptr;
  int status;
  neb_open_options o{};
  o.size = sizeof o;
  o.flags = (flags & 3) | gridInFile;
  o.mapping = (flags & 4) ? "2,smoke;" : nullptr;
  o.max_voxels = (flags & 4) ? 64 : -1;
  o.read_user = &host;
  o.release = &Host::release;
  if (host.faults & 4) o.report = &reportToNowhere;
  if (from == 0) {
    const char* path = nebfuzz::writeTempFile("c_interface.neb", in.data, in.size);
    if (!path) return;
    status = neb_frame_open(path, o.mapping, o.max_voxels, o.flags, &f);
  } else if (from == 1) {
    status = neb_frame_from_memory(in.data, static_cast<long long>(in.size), &o, &f);
  } else {
    o.read = &Host::read;
    o.read_bytes = host.bytes;
    status = neb_frame_open_with(nullptr, &o, &f);
  }
  if (status != NEB_OK) {
    if (!neb_status_string(status)) __builtin_trap();
    // The reason in a buffer of any size (from the input's length, so the corpus keeps its
    // layout): the whole length is returned, and the copy is cut and terminated within it.
    const int length = neb_last_error(nullptr, 0);
    const size_t room = in.size % 97;
    std::vector<char> why(room + 1, '\x5a');
    if (length <= 0 || neb_last_error(why.data(), static_cast<long long>(room)) != length) __builtin_trap();
    if (room > 0 && std::strlen(why.data()) != std::min(static_cast<size_t>(length), room - 1)) __builtin_trap();
    if (why[room] != '\x5a') __builtin_trap();
    if (from != 0 && status != NEB_E_ARGUMENT && host.released != 1) __builtin_trap();
    return;
  }
  readFrame(f, in);
  neb_frame_close(f);
  if (from != 0 && host.released != 1) __builtin_trap();
}

}  // namespace

NEB_FUZZ_TARGET(c_interface) {
  nebfuzz::Input in{data, size};
  const uint32_t op = in.take(1) % 5;
  if (op == 3) {
    writer(in);
    return 0;
  }
  if (op == 4) {
    frameFile(in);
    return 0;
  }
  // Texts: the rest of the input after the operation's numbers (10 bytes), cut at a NUL.
  nebfuzz::Input numbers{in.data, in.size < 10 ? in.size : 10};
  const std::string s(reinterpret_cast<const char*>(in.data + numbers.size), in.size - numbers.size);
  const std::string textPart(s.c_str());
  if (op == 0) mappings(numbers, textPart);
  if (op == 1) patterns(numbers, textPart);
  if (op == 2) frameLists(numbers, textPart);
  return 0;
}
