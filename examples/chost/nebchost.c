/* nebchost: prints what a cache frame holds, as a C host sees it through the C interface
 * of nebloader; the output is that of the C++ example host (examples/host).
 *   nebchost <frame.neb | frame.vdb>
 * OpenVDB files load through the vdbport plug-in installed beside the library. */
#include <stdio.h>

#include "nebloader_c.h"

static void printReport(int level, const char* text, void* user) {
  (void)user;
  if (level >= NEB_REPORT_WARNING) fputs(text, stderr);
}

int main(int argc, char** argv) {
  neb_frame* frame = NULL;
  int size[3], c, g, groups;
  char why[1024];
  float t[12];
  if (argc != 2) {
    fprintf(stderr, "usage: nebchost <frame.neb | frame.vdb>\n");
    return 2;
  }
  neb_set_report_callback(printReport, NULL);
  /* Bit 1: Field3D plug-in ready, bit 2: OpenVDB plug-in ready. nebu2 files need neither.
     -1: no worker pool, decoding runs on this thread. */
  printf("import plug-ins: %d\n", neb_initialize(NULL, NULL, -1));
  if (neb_frame_open(argv[1], NULL, -1, 0, &frame) != NEB_OK) {
    /* The reason of the failure on this thread: the function, the status, the reports. */
    neb_last_error(why, sizeof why);
    fprintf(stderr, "cannot load %s\n%s\n", argv[1], why);
    return 1;
  }

  /* A damaged grid size (a negative dimension) is refused rather than handed out. */
  if (neb_frame_grid_size(frame, size) == NEB_OK)
    printf("grid %d x %d x %d\n", size[0], size[1], size[2]);
  else
    printf("grid damaged\n");

  neb_frame_transform(frame, t);
  printf("transform rows (%g %g %g) (%g %g %g) (%g %g %g) offset (%g %g %g)\n", t[0], t[1], t[2], t[3], t[4], t[5],
         t[6], t[7], t[8], t[9], t[10], t[11]);

  printf("channels:");
  for (c = 0; c < NEB_CHANNELS; ++c) {
    /* Speed (3) is reported when it can be derived from a complete velocity. */
    if (neb_frame_has_channel(frame, c) == 1) printf(" %d", c);
  }
  printf("\n");

  groups = neb_frame_group_count(frame);
  printf("particle groups: %d\n", groups);
  for (g = 0; g < groups; ++g) {
    neb_group* group;
    char name[256];
    if (neb_frame_group(frame, g, &group) == NEB_OK && neb_group_name(group, name, sizeof name, NULL) == NEB_OK)
      printf("group \"%s\": %lld particles\n", name, neb_group_particle_count(group));
  }

  neb_frame_close(frame);
  neb_finalize();
  return 0;
}
