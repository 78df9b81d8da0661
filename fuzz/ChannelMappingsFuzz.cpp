// The channel-mapping functions: parsing and composing the text form, the exported
// decompose/compose calls with small and large buffers, the name tables, and the default
// mapping of a file name (under a directory of this process, so nothing outside is listed).
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "loader/ChannelMappings.h"
#include "nebloader.h"

NEB_FUZZ_TARGET(channel_mappings) {
  nebfuzz::Input in{data, size};
  const int bufferSize = static_cast<int>(in.take(1)) - 8;  // -8 .. 247
  const std::string text(reinterpret_cast<const char*>(in.data), in.size);
  const char* mapping = text.c_str();  // cut at the first NUL, as a host's string would be

  CacheIO::GridMappingList list;
  CacheIO::ParseChannelMappings(mapping, list);
  const std::string composed = CacheIO::ComposeChannelMappings(list);
  // Composing what was parsed and parsing it again gives the same entries.
  CacheIO::GridMappingList again;
  CacheIO::ParseChannelMappings(composed.c_str(), again);
  if (again.size != list.size) __builtin_trap();

  std::vector<char> buffer(bufferSize > 0 ? static_cast<size_t>(bufferSize) : 1, 'x');
  char* out = bufferSize > 0 ? buffer.data() : nullptr;
  // Every decompose call parses the whole text again (and the parse allocates per entry),
  // so walking all entries of a long input is quadratic and made this target slow. The
  // index paths are: before the start, the first entries, the last one and one past the end.
  const int probes[] = {-1, 0, 1, list.size - 1, list.size};
  for (int i : probes) {
    int channel = 0;
    nebDecomposeChannelMappingsString(&channel, out, bufferSize, mapping, i);
  }
  std::vector<int> channels;
  std::vector<std::string> names;
  for (int i = 0; i < list.size; ++i) {
    channels.push_back(list[i].channel);
    names.emplace_back(list[i].name ? list[i].name : "");
  }
  std::vector<const char*> namePointers;
  for (const std::string& n : names) namePointers.push_back(n.c_str());
  nebComposeChannelMappingsString(out, bufferSize, channels.data(), namePointers.data(),
                                  static_cast<int>(channels.size()));
  for (const std::string& n : names) {
    CacheIO::TableChannelForName(n.c_str(), true);
    CacheIO::TableChannelForName(n.c_str(), false);
  }

  // The default mapping and the foreign channel listing of a name that does not exist.
  std::string name;
  for (char c : text.substr(0, 64)) name += (c == '/' || c == '\\' || c == 0) ? '_' : c;
  const std::string path = "/tmp/nebfuzz-no-such-dir/" + name;
  nebGenerateDefaultChannelMappings(out, bufferSize, path.c_str());
  int flag = 0;
  nebGet3rdPartyChannelName(out, bufferSize, &flag, path.c_str(), 0);
  return 0;
}
