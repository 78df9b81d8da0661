// Frame numbers in file names: expanding a sequence pattern for one frame, detecting
// frame tokens, and reading the frame number back out of a concrete file name.
//
// Tokens (case-sensitive, recognised only after the last '/' or '\' when expanding):
//   ####            hash run: width = run length (max 12), always zero padded
//   %d %04d %3i %u  printf-style: optional '0' flag, optional width (max 12), then one of
//                   d i u D I U; "%%" is not a token and is copied unchanged
//   <frame> <frame04>  angle token: optional '0' flag and width (max 12), then '>'
// The width is a minimum; longer numbers are never cut.
#pragma once

#include <climits>
#include <string>

namespace ZUtils {

// As a frame to expand: substitute the given text for every token. As the result of
// reading a file name: the name carries no frame number.
constexpr int kNoFrameNumber = 2147483647;
// Expands to the empty string in every token form.
constexpr int kEmptyFrameNumber = INT_MIN;

// The pattern with every token of its file-name part replaced by `frame`. With frame
// kNoFrameNumber each token becomes `text` cut to 15 characters (null text: empty).
// A null pattern gives "".
std::string expandFramePattern(const char* pattern, int frame, const char* text);

// True when the string holds at least one token anywhere, directory part included.
bool hasFramePattern(const char* pattern);

// Decimal text of `frame` right-aligned in a field of at least `width` characters
// (width clamped to 0..12), zero padded ("-005") or blank padded ("  -5"). The smallest
// int gives "". `buffer` must hold 16 bytes.
void formatFrameNumber(int frame, char* buffer, int width, bool zeroPad);

// Locates the frame number of a file name: the digit run nearest before the last '.'
// of the name part (a '-' directly before the run belongs to it). On success *start is
// the index of its first character and *end the index just past its last digit.
bool findFrameNumberDigits(const char* name, int* start, int* end);

// The frame number found by findFrameNumberDigits, or kNoFrameNumber when there is none
// or it does not fit an int.
int frameNumberFromFileName(const char* name);

// Text after the last '.' of the whole string with A-Z lower-cased; "" without a '.'.
std::string fileExtensionLower(const char* name);

}  // namespace ZUtils
