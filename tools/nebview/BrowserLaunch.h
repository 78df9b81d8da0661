// Opens a URL in the desktop's web browser (xdg-open, open, or start on Windows), without
// waiting for it.
#pragma once

#include <string>

namespace NebView {

// False when no opener could be started. `url` must be nebview's own address text
// (digits, letters, '.', ':', '/', '[' and ']'): it goes through the shell.
bool openInBrowser(const std::string& url);

}  // namespace NebView
