// nebinfo: inspect and check nebu2 cache frames from the shell (see NebInfo.h).
#include "tools/nebinfo/NebInfo.h"

int main(int argc, char** argv) { return NebInfo::runNebInfo(argc, argv); }
