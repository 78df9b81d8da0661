// nebview: look at a nebu2 cache sequence in a web browser (see NebView.h).
#include <string>
#include <vector>

#include "tools/nebview/NebView.h"
#include "zutils/platform/CommandLine.h"

int main(int argc, char** argv) {
  // File names arrive as UTF-8 on every system (on Windows from the wide command line).
  std::vector<std::string> args = ZUtils::platform::utf8Arguments(argc, argv);
  std::vector<char*> utf8Argv;
  for (std::string& a : args) utf8Argv.push_back(&a[0]);
  utf8Argv.push_back(nullptr);
  return NebView::runNebView(static_cast<int>(args.size()), utf8Argv.data());
}
