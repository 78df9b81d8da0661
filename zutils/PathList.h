// Splitting a ';'-separated list of directories.
#pragma once

namespace ZUtils {

// Empty pieces (";;") are skipped; each token is cut to 1023 characters; the source is
// read up to 51200 characters. The returned token lives in the tokenizer and is
// overwritten by the next call; the source must outlive the walk.
struct PathTokenizer {
  const char* source = nullptr;
  char token[1024] = {};
  int position = 0;
  int length = 0;
};

// Starts a walk over `source` and returns its first token, or null when there is none.
const char* firstPath(PathTokenizer& t, const char* source);
// The next token, or null at the end.
const char* nextPath(PathTokenizer& t);

}  // namespace ZUtils
