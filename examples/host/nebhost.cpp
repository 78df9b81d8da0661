// nebhost: prints what a cache frame holds, as a host sees it through nebloader.
//   nebhost <frame.neb | frame.vdb>
// OpenVDB files load through the vdbport plug-in installed beside the library.
#include <cstdio>

#include "nebloader.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: nebhost <frame.neb | frame.vdb>\n");
    return 2;
  }
  // Bit 1: Field3D plug-in ready, bit 2: OpenVDB plug-in ready. nebu2 files need neither.
  std::printf("import plug-ins: %d\n", initalizeNebuLoader(nullptr, nullptr, 0));
  INeb* frame = newINeb(argv[1]);
  if (!frame) {
    std::fprintf(stderr, "cannot load %s\n", argv[1]);
    return 1;
  }

  int size[3];
  frame->getGridSize(size);
  std::printf("grid %d x %d x %d\n", size[0], size[1], size[2]);

  float t[12];
  frame->getTransform(t);
  std::printf("transform rows (%g %g %g) (%g %g %g) (%g %g %g) offset (%g %g %g)\n", t[0], t[1], t[2], t[3], t[4],
              t[5], t[6], t[7], t[8], t[9], t[10], t[11]);

  std::printf("channels:");
  for (int c = 0; c < 32; ++c) {
    // Speed (3) is reported when it can be derived from a complete velocity.
    if (frame->hasChannel(c)) std::printf(" %d", c);
  }
  std::printf("\n");

  const int groups = frame->getParticleGroupCount();
  std::printf("particle groups: %d\n", groups);
  for (int g = 0; g < groups; ++g) {
    IOstranePrtGroup* group = frame->getParticleGroup(g);
    if (group) std::printf("group \"%s\": %d particles\n", group->getName(), group->getParticleCount());
  }

  deleteINeb(frame);
  return 0;
}
