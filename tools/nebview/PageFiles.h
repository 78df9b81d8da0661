// The page's files (web/), built into the program (the build turns each into an array of
// PageFiles.cpp), so that nebview needs nothing beside it and the page fetches nothing
// from anywhere else.
#pragma once

#include <cstddef>
#include <string>

namespace NebView {

struct PageFile {
  const char* name;  // as under /app/, "index.html" for the page itself
  const char* type;  // the Content-Type it is sent with
  const unsigned char* data;
  size_t size;
};

// The file of that name; null when the page has none.
const PageFile* findPageFile(const std::string& name);

}  // namespace NebView
