/* nebloader C interface, version 1: read and write nebu2 simulation cache frames from C,
 * from other languages (ctypes, cffi, Rust, C#) and from plug-ins built by another compiler.
 *
 * Plain C99; compiles as C++ too. No standard header is needed: integers are int,
 * long long and unsigned long long, sizes of caller buffers are long long.
 *
 * Binary compatibility. The library is libnebloader.so.1 (nebloader.dll on Windows); its C
 * names carry the symbol version NEBLOADER_1. Within major version 1, functions, constants
 * and struct fields are only ever added: a host built against 1.x runs with every library
 * 1.y, y >= x. neb_version_number() tells which library a host got.
 *
 * Rules every function follows:
 *   - The result is a status: NEB_OK (0) or a negative NEB_E_... constant. Functions that
 *     answer a count or a yes/no give it as a result >= 0 instead of NEB_OK; particle
 *     counts and indexes are long long.
 *   - A failing call leaves its reason for the calling thread (neb_last_error) and sends
 *     it to the report callback. A bad argument (null pointer, index or slot out of range,
 *     buffer too small) gives a status; nothing is written to an output the caller did not
 *     get back as filled, also when a call fails after reading data, and nothing crashes or
 *     throws. A request the memory budget refuses gives NEB_E_MEMORY, never a decode or
 *     load status: a host can tell "more memory" from "the file is bad".
 *   - Sized structs: every struct the library fills or reads begins with `long long size`,
 *     which the caller sets to the size of the struct as its header declares it:
 *         neb_grid_record r = {.size = sizeof r};                 (C)
 *         neb_grid_record r{}; r.size = sizeof r;                 (C++)
 *     The library reads and writes only the fields that lie wholly within `size` bytes, and
 *     never past them. Fields of a newer header that the library does not know are left as
 *     the caller set them (read: ignored); a struct from an older header gets the fields it
 *     has. A size below sizeof(long long) gives NEB_E_ARGUMENT. Structs only grow, by
 *     fields appended past their earlier end; for the structs a caller fills, zero is the
 *     default of every field.
 *   - Texts are UTF-8, NUL-terminated. A text result goes to (buffer, size): when it does
 *     not fit, NEB_E_BUFFER is returned and *length (when given) holds the length it needs
 *     without the NUL, so the caller can retry with length + 1 bytes.
 *   - Frames and groups are opaque handles. A frame from neb_frame_open... is released with
 *     neb_frame_close, once. Groups and the arrays handed out (channel values, expanded
 *     particle values) point into their frame and are valid as long as the frame is open:
 *     closing a frame that arrays still point into is the host's business, exactly as
 *     deleteINeb is in the C++ interface (nebloader.h), whose frames these are.
 *   - Threads: every function says which calls may overlap. "Any thread" means any
 *     thread at any time, also at once with every other call except where a line says
 *     otherwise. Frames are read from any number of threads at once.
 *   - Reports (the reasons of failures, warnings, the frame registry's bookkeeping) go to
 *     the report callback (neb_set_report_callback) as they are made, or to a frame's own
 *     callback (neb_open_options.report), and to the report file a C++ host may have set.
 *
 * Typical use:
 *   neb_frame* f;
 *   if (neb_frame_open("/cache/smoke_0042.neb", 0, -1, 0, &f) == NEB_OK) {
 *     int size[3]; const float* smoke;
 *     if (neb_frame_grid_size(f, size) == NEB_OK &&
 *         neb_frame_channel(f, NEB_CHANNEL_SMOKE, &smoke) == NEB_OK) { ... }
 *     neb_frame_close(f);
 *   } else {
 *     char why[512];
 *     neb_last_error(why, sizeof why);
 *   }
 */
#ifndef NEBLOADER_C_H
#define NEBLOADER_C_H

#if defined(_WIN32)
#if defined(NEBLOADER_BUILDING)
#define NEB_C_API __declspec(dllexport)
#else
#define NEB_C_API __declspec(dllimport)
#endif
#else
#define NEB_C_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Version ---- */

/* The version of this header. The major version changes only when the binary interface
   breaks (and the library's file name with it: libnebloader.so.MAJOR); the minor version
   when something is added; the patch version for fixes. */
#define NEB_VERSION_MAJOR 1
#define NEB_VERSION_MINOR 0
#define NEB_VERSION_PATCH 0
#define NEB_VERSION_NUMBER (NEB_VERSION_MAJOR * 1000000 + NEB_VERSION_MINOR * 1000 + NEB_VERSION_PATCH)

/* ---- Statuses ---- */
#define NEB_OK 0
#define NEB_E_ARGUMENT (-1) /* null pointer, index, slot, channel or size out of range */
#define NEB_E_BUFFER (-2)   /* the caller's buffer is too small; see the length out-parameter */
#define NEB_E_ABSENT (-3)   /* the channel, group, slot, particle or record is not there */
#define NEB_E_DECODE (-4)   /* stored data could not be decoded */
#define NEB_E_WRITE (-5)    /* the frame could not be encoded or written */
#define NEB_E_MEMORY (-6)   /* out of memory, or refused by the memory budget */
#define NEB_E_PARSE (-7)    /* malformed text (frame list) */
#define NEB_E_FAILED (-8)   /* any other failure; the report says why */
/* A frame could not be loaded: the reader's own status n > 0 is returned as NEB_E_LOAD - n
   (NEB_LOAD_STATUS gives n back): 2 the import plug-in is not installed, 3 bad path or
   extension or the file cannot be opened, 4 broken file, 9 no grid of the file maps to a
   channel, 12 nebu2 footer missing, others from plug-ins. A load the memory budget refused
   is NEB_E_MEMORY instead. */
#define NEB_E_LOAD (-100)
#define NEB_LOAD_STATUS(status) (NEB_E_LOAD - (status))

/* Grid channel numbers: enum NebChannel (NEB_CHANNEL_TEMPERATURE 1 ... NEB_CHANNEL_WAVELET_W
   21), shared with nebloader.h; and these: */
#include "nebloader_channels.h"
#define NEB_CHANNEL_PACKED_COLOR 18 /* stored only; read as 7, 8, 9 */
#define NEB_CHANNELS 32 /* channel numbers are 0 .. NEB_CHANNELS - 1 */

/* Particle slots: 0 position (3 floats), 1 velocity (3 floats), 10 identifier (one 64-bit
   integer); other slots as the simulator wrote them. Type codes of a slot: */
#define NEB_SLOTS 32
#define NEB_TYPE_NONE 0
#define NEB_TYPE_INT32 6
#define NEB_TYPE_ID64 7
#define NEB_TYPE_FLOAT 10

typedef struct neb_frame neb_frame;
typedef struct neb_group neb_group;
typedef struct neb_writer neb_writer;

/* ---- Library ---- */

/* The library's version, "MAJOR.MINOR.PATCH". Static text. Threads: any. */
NEB_C_API const char* neb_version(void);
/* The library's version as NEB_VERSION_NUMBER gives it for a header. Threads: any. */
NEB_C_API int neb_version_number(void);

/* A fixed English text for a status, NEB_E_LOAD - n included ("broken file" ...); never
   null. Threads: any. */
NEB_C_API const char* neb_status_string(int status);

/* The reason of the last failure on the calling thread: "<function>: <status text>", then
   the reports the failing call made, one per line. Every call that fails sets it; calls
   that succeed leave it. Copies it to (buffer, size), cut to size - 1 bytes and always
   NUL-terminated when size > 0, and returns its whole length without the NUL (0 when no
   call failed on this thread yet). NEB_E_ARGUMENT for a negative size, or a null buffer
   with a size > 0; neither changes the reason. Threads: any (each thread has its own). */
NEB_C_API int neb_last_error(char* buffer, long long size);

/* Reports: the callback receives every report as it is made, with its level, the text
   (one message, usually ending in a newline) and the user pointer given here. It may be
   called on any thread, from several at once, and must not call back into the library.
   A null callback turns it off. A report begun on another thread just before a change may
   still reach the previous callback. The level is the one the library gave the report
   where it made it. Threads: any. */
#define NEB_REPORT_DEBUG 0   /* bookkeeping (frame reference counts) */
#define NEB_REPORT_INFO 1
#define NEB_REPORT_WARNING 2 /* worked around: frames not released at exit, bad particles */
#define NEB_REPORT_ERROR 3   /* the reason of a failure, damaged data (also read as zeros) */
typedef void (*neb_report_fn)(int level, const char* text, void* user);
NEB_C_API void neb_set_report_callback(neb_report_fn callback, void* user);

/* Import plug-ins and worker threads (initalizeNebuLoader of nebloader.h). search_paths
   and suffix may be null: the plug-ins are then looked for beside the library. threads:
   -1 keeps decoding on the calling threads; 0 runs parallel work on a pool of the
   environment's thread count (neb_default_thread_count), n > 0 on a pool of n threads (n
   becomes the process's default thread count until a later 0). As with
   initalizeNebuLoader and a manager, the pool is taken on only when a plug-in is ready.
   The result is >= 0, bit 0 set when the Field3D plug-in is ready and bit 1 when the
   OpenVDB plug-in is; or a failure status. Threads: not at once with any other call that
   opens frames, reads mappings (neb_default_mapping, neb_file_grid) or initialises. */
NEB_C_API int neb_initialize(const char* search_paths, const char* suffix, int threads);
/* Unloads the plug-ins and stops the pool of neb_initialize. Threads: as neb_initialize,
   and no frame may be read meanwhile. */
NEB_C_API void neb_finalize(void);
/* The number of worker threads parallel work uses by default (QARN_NUM_THREADS, else the
   processors this process may run on); at least 1. Threads: any. */
NEB_C_API int neb_default_thread_count(void);

/* The memory budget: the most that the process's frames may hold at once in memory whose
   size comes from a file (channel buffers, particle channels, decoder scratch, and freed
   channel buffers kept for reuse). A request that would pass it first gives back kept
   buffers; if that is not enough the call fails with NEB_E_MEMORY and a report naming the
   request, the total held and the budget. Default: physical memory, or
   NEB_MEMORY_LIMIT_MB. Setting 0 restores the default. Threads: any; a new budget holds
   for requests made after it. */
NEB_C_API unsigned long long neb_memory_limit(void);
NEB_C_API void neb_set_memory_limit(unsigned long long bytes);
/* What the process holds of the budget now, in bytes; 0 once every frame is closed and
   the cache of kept buffers is empty. Threads: any. */
NEB_C_API unsigned long long neb_memory_held(void);
/* Freed channel buffers kept for reuse: the most kept and what is kept now, in bytes.
   Setting 0 turns the cache off. Threads: any. */
NEB_C_API unsigned long long neb_block_cache_limit(void);
NEB_C_API unsigned long long neb_block_cache_bytes(void);
NEB_C_API void neb_set_block_cache_limit(unsigned long long bytes);

/* ---- Frames ---- */

#define NEB_OPEN_HEADER_ONLY 1 /* grid size, transform, channel list, groups; no data */
#define NEB_OPEN_UNSHARED 2    /* a frame of its own, never shared (see below) */
#define NEB_OPEN_GRID_IN_FILE 4 /* with NEB_OPEN_UNSHARED: the grid stays in the file (below) */

/* Reads `bytes` bytes at `offset` of a frame a host serves itself into `buffer`; returns
   how many it read (fewer than asked only at the end of the data) or a negative number on
   an error. The library asks only for ranges within the length the host gave. */
typedef long long (*neb_read_fn)(void* user, long long offset, void* buffer, long long bytes);
/* Called once, with the read_user pointer, when the library reads no more through it. */
typedef void (*neb_release_fn)(void* user);

/* How neb_frame_open_with opens a frame. Zero in every field is the default. */
typedef struct neb_open_options {
  long long size;          /* sizeof(neb_open_options), set by the caller */
  int flags;               /* NEB_OPEN_... */
  const char* mapping;     /* "channel,name;" entries for imports; null: the path's default */
  long long max_voxels;    /* 0 or -1: full resolution; n > 0: downsampled (imports) */
  /* The frame's bytes from the host instead of from the path: a nebu2 frame of
     read_bytes bytes that `read` serves, with read_user. Such frames are never shared.
     Without NEB_OPEN_GRID_IN_FILE they are read during the open only; with it the grid
     records are read later, by slab readers, until the frame is closed. `read` is never
     called on two threads at once for one frame, but may be called on any thread. */
  neb_read_fn read;
  long long read_bytes;
  void* read_user;
  /* Null, or called once with read_user when the library reads no more of the bytes
     (before neb_frame_open_with returns, or when the frame is closed with
     NEB_OPEN_GRID_IN_FILE); for every call that does not fail with NEB_E_ARGUMENT. Also
     for the bytes of neb_frame_from_memory. */
  neb_release_fn release;
  /* Null, or the reports of this frame (its open, its channels, groups and slab readers)
     go to this callback with report_user instead of to neb_set_report_callback's. Such a
     frame is never shared. */
  neb_report_fn report;
  void* report_user;
} neb_open_options;

/* Opens the frame at `path` (.neb; .vdb and .f3d through the import plug-ins), or the
   bytes options->read serves (`path` then only names them in reports and may be null).
   options may be null: all defaults. A frame asked for again while its file is unchanged
   (same path text and mapping, same modification time) is the same shared frame, unless
   it is downsampled, header-only, NEB_OPEN_UNSHARED, served by the host or has a report
   callback of its own: such frames are never shared, so neb_frame_release_channel may
   free their channels. *frame is set on NEB_OK only. NEB_OPEN_GRID_IN_FILE (only together
   with NEB_OPEN_UNSHARED, else NEB_E_ARGUMENT) loads a nebu2 frame without its grid data,
   which can be far larger than memory: everything else is there, neb_frame_grid_record
   describes the records from the file, and the grid is read through a slab reader
   (neb_slab_reader_open), while neb_frame_channel gives NEB_E_ABSENT for every channel.
   The file (or the served bytes) must stay as they are while the frame is open. Other
   files (.vdb, .f3d) and header-only opens load as usual: the flag is ignored.
   Threads: any; not at once with neb_initialize or neb_finalize. */
NEB_C_API int neb_frame_open_with(const char* path, const neb_open_options* options, neb_frame** frame);
/* neb_frame_open_with of `path` with these options (max_voxels -1 or 0: full resolution).
   Threads: as neb_frame_open_with. */
NEB_C_API int neb_frame_open(const char* path, const char* mapping, long long max_voxels, int flags,
                             neb_frame** frame);
/* A nebu2 frame from `length` bytes in memory, on the path neb_frame_open_with takes for
   bytes a host serves; never shared. The bytes must stay during the call, and until the
   frame is closed with NEB_OPEN_GRID_IN_FILE. options may be null; its read must be null.
   Threads: as neb_frame_open_with. */
NEB_C_API int neb_frame_from_memory(const void* bytes, long long length, const neb_open_options* options,
                                    neb_frame** frame);
/* Releases the frame (null is fine). Arrays and groups of it must not be used afterwards.
   Threads: any, but not while another thread uses this frame, its groups or arrays. */
NEB_C_API void neb_frame_close(neb_frame* frame);

/* What a frame is, in one call. Threads: any. */
typedef struct neb_frame_info {
  long long size;                 /* sizeof(neb_frame_info), set by the caller */
  int version;                    /* container version (0 for imported frames) */
  int has_frame_number;           /* 1 when frame_number was stored */
  int frame_number;
  int stored_grid_size[3];        /* as stored, possibly damaged (see neb_frame_grid_size) */
  long long cells;                /* cells of the grid; -1 when its size is damaged */
  unsigned long long grid_mask;   /* neb_frame_grid_mask */
  int group_count;                /* neb_frame_group_count */
  int stored_group_count;         /* neb_frame_stored_group_count */
  int open_flags;                 /* NEB_OPEN_... in effect; NEB_OPEN_UNSHARED when not shared */
} neb_frame_info;
NEB_C_API int neb_frame_get_info(neb_frame* frame, neb_frame_info* info);

/* The cell counts nx, ny, nz. A frame whose stored grid size is damaged (a negative
   dimension such as 7 x -1 x 3, or more cells than the library can address) has no
   grid: NEB_E_DECODE, nothing written, every channel gives NEB_E_DECODE or NEB_E_ABSENT,
   and its particles read as usual (neb_frame_info keeps the stored numbers).
   Threads: any. */
NEB_C_API int neb_frame_grid_size(neb_frame* frame, int size[3]);
/* 3x3 matrix A by rows then offset o: grid coordinates v = w * A + o for a world position
   w taken as a row vector. Threads: any. */
NEB_C_API int neb_frame_transform(neb_frame* frame, float transform[12]);
/* 1 when the frame declares the channel (7, 8, 9 also from packed colour, 3 also from a
   whole velocity), 0 when not; NEB_E_ARGUMENT outside 0 .. 31. Threads: any. */
NEB_C_API int neb_frame_has_channel(neb_frame* frame, int channel);
/* nx*ny*nz floats, x fastest, then y, then z; decoded on first use. NEB_E_ABSENT when the
   frame has no such channel (or its grid stayed in the file: NEB_OPEN_GRID_IN_FILE),
   NEB_E_DECODE when it cannot be decoded (header-only frames included), NEB_E_MEMORY when
   the budget refused its memory (asking again tries again). Threads: any, also for the
   same channel (one thread decodes, the others wait for it). */
NEB_C_API int neb_frame_channel(neb_frame* frame, int channel, const float** values);
/* Frees the decoded values of a channel of a frame that is not shared (see
   neb_frame_open_with); the next neb_frame_channel decodes again. NEB_E_ARGUMENT for a
   shared frame. Threads: any, but not while another thread uses or decodes that channel
   of this frame. */
NEB_C_API int neb_frame_release_channel(neb_frame* frame, int channel);
/* Container version of the file, and its frame number (NEB_E_ABSENT without one).
   Threads: any. */
NEB_C_API int neb_frame_version(neb_frame* frame, int* version);
NEB_C_API int neb_frame_number(neb_frame* frame, int* number);

/* Groups that have particle positions (getParticleGroupCount of the C++ interface).
   Threads: any. */
NEB_C_API int neb_frame_group_count(neb_frame* frame);
NEB_C_API int neb_frame_group(neb_frame* frame, int index, neb_group** group);
/* Any group, counted or not, by exact name. Threads: any. */
NEB_C_API int neb_frame_find_group(neb_frame* frame, const char* name, neb_group** group);

/* ---- Grid slabs (a frame's grid channels read in z-slabs, in bounded memory) ---- */

/* A slab reader gives layers [z0, z1) of grid channels, each value bit for bit what
   neb_frame_channel gives (3 derived from 4, 5, 6 and 7, 8, 9 unpacked from packed colour
   included), holding only the slab and the stored pieces it touches, never a whole channel
   or the frame's decoded channels. It reads a frame opened NEB_OPEN_GRID_IN_FILE from its
   file (or the bytes its host serves) and any other .neb frame from the stored form it
   keeps; a frame imported through a plug-in (or opened header-only) has nothing to read:
   every channel is NEB_E_ABSENT. Close the reader before its frame.

   Use: open every channel wanted, then read slab after slab in ascending z, all the wanted
   channels of a slab before the next slab (7, 8, 9 share one stream, and 3 shares the
   velocity with 4, 5, 6). */
typedef struct neb_slab_reader neb_slab_reader;
/* NEB_E_FAILED when the file of a NEB_OPEN_GRID_IN_FILE frame cannot be read or has
   changed since it was opened. Threads: any; several readers of one frame may run on
   several threads. */
NEB_C_API int neb_slab_reader_open(neb_frame* frame, neb_slab_reader** reader);
/* Null is fine. Threads: one thread at a time per reader. */
NEB_C_API void neb_slab_reader_close(neb_slab_reader* reader);
/* Readies a channel (0 .. 31) for neb_slab_read; *source (may be null) gets what it is
   read from: the channel itself, 4 for speed derived from the velocity, or
   NEB_CHANNEL_PACKED_COLOR for colour. NEB_E_ABSENT when there is nothing to read,
   NEB_E_DECODE when the frame declares the channel but its data is refused (reported, as
   neb_frame_channel would; asking again tries again), NEB_E_MEMORY when the budget
   refused it. NEB_E_ARGUMENT after the first read. Threads: one thread at a time per
   reader. */
NEB_C_API int neb_slab_open_channel(neb_slab_reader* reader, int channel, int* source);
/* Layers z0 .. z1-1 of an open channel into out[0 .. (z1-z0)*nx*ny - 1], x fastest;
   `capacity` (floats) must reach that. A read is either for the current slab (the same z0
   and z1 as the previous read) of a channel not yet read for it, or begins the next slab
   at or after the current one's end (layers in between are skipped); anything else, a
   channel not open, or layers outside the grid give NEB_E_ARGUMENT. NEB_E_DECODE when the
   stored data turns out damaged on the way (a packed colour stream: then 7, 8 and 9 all
   fail) or cannot be read, NEB_E_MEMORY when the budget refused the slab's scratch; the
   channel then fails for every later slab. Damaged zones that neb_frame_channel reports
   and leaves zero are reported and left zero here too, with NEB_OK. What a failed read
   left in `out` is undefined. Threads: one thread at a time per reader. */
NEB_C_API int neb_slab_read(neb_slab_reader* reader, int channel, int z0, int z1, float* out, long long capacity);

/* ---- Particle groups ---- */

/* Threads: any, for every function of a group unless it says otherwise, as long as its
   frame is open. */
NEB_C_API int neb_group_name(neb_group* group, char* buffer, long long size, long long* length);
/* Number of particles; 0 when the group has no positions. */
NEB_C_API long long neb_group_particle_count(neb_group* group);
/* 1 when the group has the slot, 0 when not; NEB_E_ARGUMENT outside 0 .. 31. */
NEB_C_API int neb_group_has_slot(neb_group* group, int slot);
/* The fixed layout of a slot (also without a group): 32-bit words per particle,
   components and NEB_TYPE_... code. Any output may be null. Threads: any. */
NEB_C_API int neb_slot_layout(int slot, int* words, int* components, int* type);
/* Bytes per particle of the slot in this group (0 for a slot without per-particle data). */
NEB_C_API int neb_group_slot_bytes(neb_group* group, int slot);
/* Copies particles first .. first+count-1 of the slot to `out` (count * slot bytes, which
   `size` must reach). NEB_E_ABSENT when the slot is not there, NEB_E_DECODE when it
   cannot be expanded or does not reach the last particle asked for, NEB_E_MEMORY when the
   budget refused it; `out` is then untouched. */
NEB_C_API int neb_group_values(neb_group* group, int slot, long long first, long long count, void* out,
                               long long size);
/* Index of the particle carrying `id`, or NEB_E_ABSENT. */
NEB_C_API long long neb_group_find_id(neb_group* group, long long id);

/* ---- Channel mappings ---- */

/* The mapping of `path` that neb_frame_open uses by default: the grids the import plug-in
   finds in the files of its sequence, by name; "" gives the native channel names.
   Threads: any; not at once with neb_initialize or neb_finalize. */
NEB_C_API int neb_default_mapping(const char* path, char* buffer, long long size, long long* length);
/* Entry `index` of a mapping text: its channel and name. NEB_E_ABSENT past the last.
   Threads: any. */
NEB_C_API int neb_mapping_entry(const char* mapping, int index, int* channel, char* name, long long size,
                                long long* length);
/* Builds "channel,name;" text from `count` pairs. Threads: any. */
NEB_C_API int neb_compose_mapping(const int* channels, const char* const* names, int count, char* buffer,
                                  long long size, long long* length);
/* Grid `index` offered by the imported files of the sequence of `path` (what a mapping can
   name): its name, and *flag 1 when the plug-in keeps it out of the default mapping's smoke
   fallback. NEB_E_ABSENT past the last. Threads: as neb_default_mapping. */
NEB_C_API int neb_file_grid(const char* path, int index, int* flag, char* name, long long size,
                            long long* length);

/* ---- Frame patterns and frame lists ---- */

/* The pattern with its frame tokens (####, %04d, <frame04>) in the file-name part replaced
   by `frame`. Threads: any. */
NEB_C_API int neb_expand_frame_pattern(const char* pattern, int frame, char* buffer, long long size,
                                       long long* length);
/* 1 when the text holds a frame token, 0 when not. Threads: any. */
NEB_C_API int neb_has_frame_pattern(const char* pattern);
/* Parses a frame list ("1-240", "1-240x10", "3,7,12-14"; at most 1000000 frames). *count
   gets the number of frames; up to `capacity` of them are stored in `frames` (which may be
   null with capacity 0), NEB_E_BUFFER when they do not all fit. A malformed list gives
   NEB_E_PARSE and its one-line reason in `error` (cut to error_size; may be null).
   Threads: any. */
NEB_C_API int neb_parse_frame_list(const char* text, int* frames, long long capacity, long long* count,
                                   char* error, long long error_size);

/* ---- Stored form (what a frame keeps for decoding on demand; nothing is decoded) ---- */

/* What the headers of a grid-compressor block say about its zones. Part of the records
   below, whose size fields cover it; it never changes within a major version. */
typedef struct neb_block_zones {
  int readable;        /* magic and zone table lie within the block */
  int zone_count;
  int raw_zones;       /* method 0 */
  int constant_zones;  /* method 1 */
  int quantized_zones; /* method 2 */
  int other_zones;     /* unknown method, or header outside the block */
  float finest_step;   /* quantization steps of the quantized zones, 0 without */
  float coarsest_step;
  int max_passes;      /* most differencing passes of a quantized zone */
} neb_block_zones;

typedef struct neb_grid_record {
  long long size;          /* sizeof(neb_grid_record), set by the caller */
  int channel;
  int zip;                 /* 1: one zlib stream (packed colour); 0: a grid-compressor block */
  long long stored_bytes;
  neb_block_zones zones;   /* grid-compressor blocks only */
} neb_grid_record;

/* The first stored record of each grid channel, in file order: their number, and record
   `index`. A frame without grid data (header-only, imported) has none. For a frame opened
   NEB_OPEN_GRID_IN_FILE they are read from the file (zone headers only), and a file that
   cannot be read or has changed has none (reported). Threads: any. */
NEB_C_API int neb_frame_grid_record_count(neb_frame* frame);
NEB_C_API int neb_frame_grid_record(neb_frame* frame, int index, neb_grid_record* record);

/* The grid mask of the file: bit c set for every channel c it declares (bit 18 packed
   colour). A stored record may exist without its bit, and a bit without its record.
   Threads: any. */
NEB_C_API int neb_frame_grid_mask(neb_frame* frame, unsigned long long* mask);

/* Every group of the file, with or without positions, in file order. Threads: any. */
NEB_C_API int neb_frame_stored_group_count(neb_frame* frame);
NEB_C_API int neb_frame_stored_group(neb_frame* frame, int index, neb_group** group);
/* The particle count the group stores (also without positions). Threads: any. */
NEB_C_API long long neb_group_stored_count(neb_group* group);

typedef struct neb_slot_record {
  long long size;          /* sizeof(neb_slot_record), set by the caller */
  int method;              /* stored method 0 raw, 1 zip, 2 block, 3 planar block,
                              4 bit planes; -1 held expanded */
  long long stored_bytes;  /* stored bytes, or the expanded bytes for method -1 */
  neb_block_zones zones;   /* methods 2 and 3 */
} neb_slot_record;

/* How a slot of the group is stored; NEB_E_ABSENT when it holds no data. Ask before
   reading the slot: an expanded slot no longer keeps its stored bytes. Threads: any, but
   not at once with neb_group_expand_slot on the same group. */
NEB_C_API int neb_group_slot_record(neb_group* group, int slot, neb_slot_record* record);
/* Expands the slot (freeing its stored bytes) and gives its expanded values and how many
   particles they reach, which a damaged record may leave below the stored count.
   Threads: any, but not at once with neb_group_slot_record on the same group. */
NEB_C_API int neb_group_expand_slot(neb_group* group, int slot, const void** values, long long* particles);

/* ---- Writing ---- */

/* A frame to write: set the grid, add channels and groups, then neb_writer_write (which
   may be called again). Everything added is copied. A writer is used by one thread at a
   time; different writers on different threads at once. */
NEB_C_API int neb_writer_create(neb_writer** writer);
NEB_C_API void neb_writer_free(neb_writer* writer);
/* Container version of the footer (default 5). Set it first: channels are encoded when
   they are added. */
NEB_C_API int neb_writer_set_version(neb_writer* writer, int version);
/* Grid size (each at least 1) and transform (as neb_frame_transform; null: identity).
   Clears the channels added so far. */
NEB_C_API int neb_writer_set_grid(neb_writer* writer, int nx, int ny, int nz, const float transform[12]);
NEB_C_API int neb_writer_set_frame_number(neb_writer* writer, int frame_number);
/* Grid channels added afterwards: 0 lossless, 1 .. 19 quantized to that many bits. */
NEB_C_API int neb_writer_set_precision(neb_writer* writer, int bits);
/* Adds grid channel `channel` (0 .. 31 except 18) from `count` floats, which must
   be nx*ny*nz, x fastest. */
NEB_C_API int neb_writer_add_channel(neb_writer* writer, int channel, const float* values, long long count);
/* Adds a particle group (at most 2147483647 particles: the container's limit); *index (may
   be null) gets its number for neb_writer_set_slot. */
NEB_C_API int neb_writer_add_group(neb_writer* writer, const char* name, long long particles, int group_type,
                                   int* index);
/* Slot `slot` of group `group`: particles * words * 4 bytes (neb_slot_layout), which `size`
   must equal. Stored losslessly (zlib). */
NEB_C_API int neb_writer_set_slot(neb_writer* writer, int group, int slot, const void* values, long long size);
NEB_C_API int neb_writer_write(neb_writer* writer, const char* path);

#ifdef __cplusplus
}
#endif

#endif /* NEBLOADER_C_H */
