// zlib blocks: the storage of particle channel methods 1 and 4 and of the packed colour
// grid channel. A block is one zlib-format stream (two-byte header, deflate data,
// Adler-32 trailer) whose compressed and expanded lengths the caller knows.
#pragma once

#include <cstdint>

#include "ostutils/OstArray.h"

namespace OSTUtils {

// Inflates one zlib stream into `output` with a single inflate call. Succeeds only when the
// stream ends within `outputCapacity` bytes; bytes past the end of the stream are left as
// they were. zlib inflates, through InflateStream (compress/InflateStream.h), the inflater
// of streamed blocks, so a block read whole and one read in slabs get one verdict and one
// code. Not libdeflate: it accepts streams zlib ends with Z_DATA_ERROR (length symbols 286
// and 287, distance symbols 30 and 31, more than 286 length or 30 distance codes), and a
// stream with a matching Adler-32 then loaded whole but failed in slabs.
// Any failure reports "[ERROR] Decompressing Zip (%d)\n" with the zlib code:
// Z_DATA_ERROR (-3) for a damaged stream, Z_BUF_ERROR (-5) or Z_OK (0) when the output is
// too small. Lengths beyond zlib's 32-bit counts (the packed colour of a grid over 2^29
// cells) are inflated in pieces; a negative length is refused
// with Z_BUF_ERROR before zlib is called. `output` may be null only with capacity 0.
// On success *produced (when given) gets the bytes the stream inflated to.
bool InflateBlock(const void* compressed, int64_t compressedLength, void* output, int64_t outputCapacity,
                  int64_t* produced = nullptr);

// Appends the zlib stream of `length` bytes of `data` to `out` (level 0..9, or -1 for
// zlib's default). Inputs beyond zlib's 32-bit counts are deflated in pieces into the same
// stream. False (with a message) when zlib fails or `out` cannot grow; `out` keeps its
// earlier contents only on success.
bool DeflateBlock(const void* data, int64_t length, OstArray<char, int64_t>& out, int level = 6);

}  // namespace OSTUtils
