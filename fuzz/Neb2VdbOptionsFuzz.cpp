// neb2vdb's command line: the input, cut at NUL bytes, is the argument list after the
// program name. Every list gives one of the outcomes; a usage error carries its message,
// a run has both names, the grids planned from it (every channel present) have names
// and channels in range, and the text of its output options (what an output records for
// --skip-existing) holds no control byte, whatever bytes the names had.
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "vdb/GridNaming.h"
#include "tools/neb2vdb/Options.h"
#include "tools/neb2vdb/SourceState.h"

NEB_FUZZ_TARGET(neb2vdb_options) {
  std::vector<std::string> args{"neb2vdb"};
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  args.push_back(current);
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);

  Neb2Vdb::Options options;
  std::string error;
  const Neb2Vdb::ParseOutcome outcome =
      Neb2Vdb::parseOptions(static_cast<int>(args.size()), argv.data(), options, error);
  if (outcome == Neb2Vdb::ParseOutcome::kUsageError && error.empty()) __builtin_trap();
  if (outcome != Neb2Vdb::ParseOutcome::kRun) return 0;
  if (options.source.empty() || options.destination.empty()) __builtin_trap();
  for (const Neb2Vdb::GridPlan& plan : Neb2Vdb::planGrids(0xffffffffu, options.naming)) {
    if (plan.name.empty() || (plan.components != 1 && plan.components != 3)) __builtin_trap();
    for (int i = 0; i < plan.components; ++i)
      if (plan.channels[i] < 0 || plan.channels[i] > 31) __builtin_trap();
  }
  for (const char c : Neb2Vdb::outputOptions(options))
    if (static_cast<unsigned char>(c) < 0x20) __builtin_trap();
  return 0;
}
