#include "tools/nebview/BrowserLaunch.h"

#include <cstdlib>

namespace NebView {

bool openInBrowser(const std::string& url) {
  for (char c : url) {
    const bool safe = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' ||
                      c == ':' || c == '/' || c == '[' || c == ']' || c == '-' || c == '%';
    if (!safe) return false;
  }
#if defined(_WIN32)
  const std::string command = "start \"\" \"" + url + "\"";
#elif defined(__APPLE__)
  const std::string command = "open '" + url + "' >/dev/null 2>&1";
#else
  // xdg-open picks the desktop's browser (and honours $BROWSER); it may wait for the
  // browser, so it runs in the background.
  const std::string command =
      "command -v xdg-open >/dev/null 2>&1 && { xdg-open '" + url + "' >/dev/null 2>&1 & }";
#endif
  return std::system(command.c_str()) == 0;
}

}  // namespace NebView
