// nebinfo: prints what nebu2 cache frames hold and checks that they decode.
#pragma once

namespace NebInfo {

// The whole program: parses the command line, prints to standard output (messages about
// the command line and unreadable frames to standard error) and returns the exit status:
// 0 every frame read (and sound, with --check), 1 a frame unreadable or damaged, 2 usage
// error.
int runNebInfo(int argc, char** argv);

}  // namespace NebInfo
