// nebview: serves a nebu2 cache sequence to a web browser (see Options.cpp for the help).
#pragma once

namespace NebView {

// The whole program: parses the command line, serves until an interrupt or terminate
// signal and returns the exit status: 0 stopped, 1 cannot serve, 2 usage error.
int runNebView(int argc, char** argv);

}  // namespace NebView
