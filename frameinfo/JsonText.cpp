#include "frameinfo/JsonText.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace NebFrameInfo {

std::string jsonQuoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char ch : text) {
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += static_cast<char>(ch);
    } else if (ch < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", ch);
      out += buffer;
    } else {
      out += static_cast<char>(ch);
    }
  }
  return out + "\"";
}

std::string jsonNumber(double v) {
  if (!std::isfinite(v)) return "null";
  char buffer[40];
  for (int precision = 9; precision <= 17; ++precision) {
    std::snprintf(buffer, sizeof buffer, "%.*g", precision, v);
    if (std::strtod(buffer, nullptr) == v) break;
  }
  return buffer;
}

}  // namespace NebFrameInfo
