// The entropy decoder: header and table, then a run-expanding decode of a count taken from
// the input, and single values until the stream fails. A decode that succeeds must agree
// with the plain bit-by-bit reference decoder of the unit tests (every table form, the
// three-lookup fallback included): same success, same values.
#include <algorithm>
#include <vector>

#include "EntropyTestSupport.h"
#include "FuzzTarget.h"
#include "compress/EntropyCoder.h"

NEB_FUZZ_TARGET(entropy) {
  nebfuzz::Input in{data, size};
  const int64_t n = in.take(2);
  const int base = static_cast<int>(in.take(1)) - 128;
  std::vector<int> out(static_cast<size_t>(n) + 1, 0);
  {
    // With spare room long sequences decode as interleaved chains: same result, same
    // untouched rest of out[], same position.
    OSTUtils::EntropyCoder st, laned;
    if (OSTUtils::InitDecoder(st, in.data, static_cast<int64_t>(in.size)) &&
        OSTUtils::InitDecoder(laned, in.data, static_cast<int64_t>(in.size))) {
      std::vector<int> outLaned(out.size(), 0);
      std::vector<int> spare(static_cast<size_t>(OSTUtils::DecodeSpareInts(n)));
      int64_t produced = 0, producedLaned = 0;
      const bool ok = OSTUtils::DecodeAndExpand(st, out.data(), n, base, &produced);
      const bool okLaned = OSTUtils::DecodeAndExpand(laned, outLaned.data(), n, base, &producedLaned, spare.data(),
                                                     static_cast<int64_t>(spare.size()));
      if (ok != okLaned || produced != producedLaned || st.bitPos != laned.bitPos || out != outLaned) __builtin_trap();
      if (ok) {
        std::vector<int> expect;
        if (!enttest::refDecodeAndExpand(in.data, static_cast<int64_t>(in.size), n, base, expect) ||
            !std::equal(expect.begin(), expect.end(), out.begin()))
          __builtin_trap();
      }
    }
  }
  {
    OSTUtils::EntropyCoder st;
    if (OSTUtils::InitDecoder(st, in.data, static_cast<int64_t>(in.size))) {
      // A failed stream gives 0 from then on; a stream of size bytes holds at most 8*size values.
      for (size_t i = 0; i <= 8 * in.size + 8 && !OSTUtils::DecoderFailed(st); ++i) OSTUtils::DecodeValue(st);
      if (!OSTUtils::DecoderFailed(st) && st.bitPos > st.bitLimit) __builtin_trap();
    }
  }
  return 0;
}
