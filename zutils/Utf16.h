// Lossless conversion of 8-bit file names between UTF-8 and UTF-16.
//
// Any byte string survives utf8 -> UTF-16 -> utf8 unchanged, valid UTF-8 or not: a byte
// 0x80-0xFF that is not part of a valid sequence is carried as the code point
// U+100000 + byte (the pair 0xDBC0, 0xDC00 + byte) and restored on the way back. Genuine
// code points U+100000-U+1000FF in the UTF-8 input are therefore treated as invalid.
//
// Both functions return the length of the WHOLE converted text (units resp. bytes,
// without the terminating zero) even when the target is too small or null. They write at
// most `capacity` elements: output stops before the first character that would not fit
// together with the terminating zero, which is always written when capacity >= 1.
// Count first, then convert into count + 1 elements.
#pragma once

namespace ZUtils {

int utf8ToWide(const char* source, char16_t* target, int capacity);
int wideToUtf8(const char16_t* source, char* target, int capacity);

}  // namespace ZUtils
