// The pieces JSON text is made of, for the frame descriptions (JsonLayout) and the answers
// of the tools that print or serve them.
#pragma once

#include <string>

namespace NebFrameInfo {

// `text` as a JSON string: quotes, backslashes and control bytes below 0x20 escaped; every
// other byte as it is (the texts are UTF-8).
std::string jsonQuoted(const std::string& text);

// The shortest text that reads back as the same double (%.9g to %.17g); null for NaN and
// infinities, which JSON cannot say.
std::string jsonNumber(double v);

}  // namespace NebFrameInfo
