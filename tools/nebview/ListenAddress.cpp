#include "tools/nebview/ListenAddress.h"

#include <cctype>

namespace NebView {

bool parseListen(const std::string& text, std::string& host, int& port) {
  std::string name = text, portText;
  if (!text.empty() && text[0] == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos || close == 1) return false;
    name = text.substr(1, close - 1);
    const std::string rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') return false;
      portText = rest.substr(1);
      if (portText.empty()) return false;
    }
  } else {
    const size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
      if (text.find(':') != colon) return false;  // a bare IPv6 address needs brackets
      name = text.substr(0, colon);
      portText = text.substr(colon + 1);
      if (portText.empty()) return false;
    }
  }
  if (name.empty()) return false;
  for (char c : name)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == ':' || c == '%')) return false;
  int p = port;
  if (!portText.empty()) {
    if (portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos) return false;
    p = std::stoi(portText);
    if (p > 65535) return false;
  }
  host = name;
  port = p;
  return true;
}

}  // namespace NebView
