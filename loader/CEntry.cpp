#include "loader/CEntry.h"

#include <cstring>

namespace CInterface {

int deliverText(const char* name, const std::string& text, char* buffer, long long size, long long* length) {
  if (length) *length = static_cast<long long>(text.size());
  if (size < 0 || (!buffer && size > 0)) return badArgument(name, "null or negative-size buffer");
  if (static_cast<unsigned long long>(size) <= text.size()) {
    if (buffer || size != 0) {
      ZUtils::logReport("[ERROR] %s: a buffer of %lld bytes cannot hold %llu characters and the NUL\n", name, size,
                        static_cast<unsigned long long>(text.size()));
    }
    return NEB_E_BUFFER;
  }
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  return NEB_OK;
}

}  // namespace CInterface
