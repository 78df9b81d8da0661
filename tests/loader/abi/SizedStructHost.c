/* A C host of the sized structs of nebloader_c.h, built twice: with the header as it is
 * against a library whose structs have grown by a field (an older host on a newer library),
 * and with that grown header against the library as it is (a newer host on an older
 * library). Either way the library writes nothing past the size the host set, leaves the
 * size field alone, and ignores what it does not know of the host's options.
 *   neb_sized_host <scratch frame path>    exit 0 when every promise held */
#include <stdio.h>
#include <string.h>

#include "nebloader_c.h"

static int failures = 0;

#define CHECK(condition)                                              \
  do {                                                                \
    if (!(condition)) {                                               \
      fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #condition); \
      ++failures;                                                     \
    }                                                                 \
  } while (0)

/* A struct followed by bytes the library must not touch. */
#define GUARDED(type) \
  struct {            \
    type value;       \
    unsigned char guard[64]; \
  }

static int untouched(const unsigned char* bytes, size_t n) {
  size_t i;
  for (i = 0; i < n; ++i)
    if (bytes[i] != 0xA5) return 0;
  return 1;
}

/* The newer header's extra field, set before a call: an older library leaves it. */
#ifdef NEB_GROWN_HEADER
#define MARK(s) ((s).grown_test_field = 12345)
#define MARKED(s) ((s).grown_test_field == 12345)
#else
#define MARK(s) ((void)0)
#define MARKED(s) 1
#endif

int main(int argc, char** argv) {
  float smoke[24], positions[9];
  int i, index = -1;
  neb_writer* w = NULL;
  neb_frame* frame = NULL;
  neb_group* group = NULL;
  GUARDED(neb_open_options) options;
  GUARDED(neb_frame_info) info;
  GUARDED(neb_grid_record) record;
  GUARDED(neb_slot_record) slot;
  if (argc != 2) return 2;
  for (i = 0; i < 24; ++i) smoke[i] = (float)i * 0.5f;
  for (i = 0; i < 9; ++i) positions[i] = (float)i;
  CHECK(neb_writer_create(&w) == NEB_OK);
  CHECK(neb_writer_set_grid(w, 4, 3, 2, NULL) == NEB_OK);
  CHECK(neb_writer_add_channel(w, NEB_CHANNEL_SMOKE, smoke, 24) == NEB_OK);
  CHECK(neb_writer_add_group(w, "Sparks", 3, 0, &index) == NEB_OK);
  CHECK(neb_writer_set_slot(w, index, 0, positions, sizeof positions) == NEB_OK);
  CHECK(neb_writer_write(w, argv[1]) == NEB_OK);
  neb_writer_free(w);

  /* Options followed by other bytes. */
  memset(&options, 0, sizeof options);
  memset(options.guard, 0xA5, sizeof options.guard);
  options.value.size = sizeof options.value;
  options.value.flags = NEB_OPEN_UNSHARED;
  MARK(options.value);
  CHECK(neb_frame_open_with(argv[1], &options.value, &frame) == NEB_OK);
  if (!frame) return 1;

  memset(&info, 0xA5, sizeof info);
  info.value.size = sizeof info.value;
  MARK(info.value);
  CHECK(neb_frame_get_info(frame, &info.value) == NEB_OK);
  CHECK(info.value.size == (long long)sizeof info.value);
  CHECK(info.value.version == 5 && info.value.cells == 24 && info.value.stored_grid_size[2] == 2);
  CHECK(info.value.grid_mask == (1ull << NEB_CHANNEL_SMOKE) && info.value.stored_group_count == 1);
  CHECK(info.value.open_flags == NEB_OPEN_UNSHARED);
  CHECK(MARKED(info.value));
  CHECK(untouched(info.guard, sizeof info.guard));

  memset(&record, 0xA5, sizeof record);
  record.value.size = sizeof record.value;
  MARK(record.value);
  CHECK(neb_frame_grid_record(frame, 0, &record.value) == NEB_OK);
  CHECK(record.value.channel == NEB_CHANNEL_SMOKE && record.value.zip == 0 && record.value.stored_bytes > 0);
  CHECK(record.value.zones.readable == 1);
  CHECK(MARKED(record.value));
  CHECK(untouched(record.guard, sizeof record.guard));

  /* A size that covers only `channel`: the rest stays as the host left it. */
  memset(&record, 0xA5, sizeof record);
  record.value.size = 12;
  CHECK(neb_frame_grid_record(frame, 0, &record.value) == NEB_OK);
  CHECK(record.value.channel == NEB_CHANNEL_SMOKE);
  CHECK(untouched((const unsigned char*)&record.value + 12, sizeof record - 12));

  CHECK(neb_frame_find_group(frame, "Sparks", &group) == NEB_OK);
  memset(&slot, 0xA5, sizeof slot);
  slot.value.size = sizeof slot.value;
  MARK(slot.value);
  CHECK(neb_group_slot_record(group, 0, &slot.value) == NEB_OK);
  CHECK(slot.value.method == 1 && slot.value.stored_bytes > 0);
  CHECK(MARKED(slot.value));
  CHECK(untouched(slot.guard, sizeof slot.guard));

  neb_frame_close(frame);
  return failures == 0 ? 0 : 1;
}
