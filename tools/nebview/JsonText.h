// The pieces of JSON text nebview's own answers are made of (the frame descriptions are
// nebinfo's JSON, taken as they are).
#pragma once

#include <string>

namespace NebView {

// `text` as a JSON string: quotes, backslashes and control bytes escaped; other bytes as
// they are (the texts are UTF-8).
std::string jsonQuoted(const std::string& text);

// The shortest text that reads back as the same double; null for NaN and infinities.
std::string jsonNumber(double v);

}  // namespace NebView
