// scan.h - the byte-scanning primitives that every step uses to move
// through the file buffer and the command-line text, and the tests of a
// byte that the steps share. None of them stops at a NUL byte, allocates
// or reports; each examines at most count bytes, and the caller keeps
// those bytes inside its buffer.
#pragma once

// CR or LF: a byte that ends a line.
inline bool IsLineBreak(char c) {
  return c == '\r' || c == '\n';
}

// A blank: a space or a tab.
inline bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

inline bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// First of count bytes from start (stepping back when backward) equal to
// value; start itself when none is, so test *start to tell them apart.
// A backward scan starts at start and includes it.
char* FindNextByte(char* start, unsigned long count, char value, bool backward);

// First of count bytes from start (stepping back when backward) that is
// neither CR nor LF; null when all of them are, or count is 0.
char* NextChar(char* start, unsigned long count, bool backward);

// Copies bytes from source to destination until stop is met (not copied)
// or count bytes are copied; with ignoreStop set, copies exactly count
// bytes. Writes no terminator; the two areas may overlap. Returns the
// number of bytes copied.
unsigned long GetField(char* destination, char* source, char stop,
                       unsigned long count, bool ignoreStop);

// Overwrites every byte equal to from among the count bytes of buffer with
// to. Returns how many were overwritten; 0, changing nothing, when count is
// 0 or from equals to.
unsigned long ReplaceBytes(char* buffer, unsigned long count, char from,
                           char to);
