// scan.h - the byte-scanning primitives that every step uses to move
// through the file buffer, the command-line text and the output copies.
// None of them stops at a NUL byte, allocates or reports; each examines at
// most count bytes, and the caller keeps those bytes inside its buffer.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Marks a function whose loops the compiler turns into vector instructions
// to be built twice on x86-64 Linux, for plain x86-64 and for AVX2, the
// right one chosen when the program loads. Elsewhere it is built once.
#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__)
#define ZELVAR_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define ZELVAR_VECTOR_CLONES
#endif

// First of count bytes from start (stepping back when backward) equal to
// value; start itself when none is, so test *start to tell them apart.
// A backward scan starts at start and includes it.
char* FindNextByte(char* start, unsigned long count, char value, bool backward);

// First of count bytes from start (stepping back when backward) that is
// neither CR nor LF; null when all of them are, or count is 0.
char* NextChar(char* start, unsigned long count, bool backward);

// Nearest CR or LF at or before start among count bytes (stepping back);
// null when none of them is one, or count is 0.
char* FindLineBreakBack(char* start, unsigned long count);

// Copies bytes from source to destination until stop is met (not copied)
// or count bytes are copied; with ignoreStop set, copies exactly count
// bytes. Writes no terminator. Returns the number of bytes copied.
unsigned long GetField(char* destination, char* source, char stop,
                       unsigned long count, bool ignoreStop);

// Overwrites every byte equal to from among the count bytes of buffer with
// to. Returns how many were overwritten; 0, changing nothing, when count is
// 0 or from equals to.
unsigned long ReplaceBytes(char* buffer, unsigned long count, char from,
                           char to);

#if defined(__SSE2__)
// What each of the 16 bytes at at is, one bit a byte (bit 0 the first):
// told at once for the walks that would otherwise test byte by byte.
struct ByteKinds {
  unsigned breaks; // CR or LF
  unsigned digits;
  unsigned blanks; // space or tab
};

inline ByteKinds TellBytes(const char* at) {
  __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  __m128i digit = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
  ByteKinds kinds;
  kinds.breaks = static_cast<unsigned>(_mm_movemask_epi8(
      _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r')),
                   _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')))));
  kinds.digits = static_cast<unsigned>(_mm_movemask_epi8(
      _mm_cmpeq_epi8(_mm_min_epu8(digit, _mm_set1_epi8(9)), digit)));
  kinds.blanks = static_cast<unsigned>(_mm_movemask_epi8(
      _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(' ')),
                   _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\t')))));
  return kinds;
}
#endif
