// scan.cpp - the byte-scanning primitives. Forward searches for one byte
// go through memchr, which gives the same answer as a byte loop.
#include "subtitle/scan.h"

#include <string.h>

char* FindNextByte(char* start, unsigned long count, char value,
                   bool backward) {
  if (!backward) {
    void* found = count == 0 ? nullptr : memchr(start, value, count);
    return found != nullptr ? static_cast<char*>(found) : start;
  }
  // Step back only while bytes remain, so no pointer is ever formed in
  // front of the scanned bytes.
  for (char* at = start; count != 0; --at) {
    if (*at == value)
      return at;
    if (--count == 0)
      break;
  }
  return start;
}

char* NextChar(char* start, unsigned long count, bool backward) {
  for (char* at = start; count != 0; at = backward ? at - 1 : at + 1) {
    if (!IsLineBreak(*at))
      return at;
    if (--count == 0)
      break;
  }
  return nullptr;
}

unsigned long GetField(char* destination, char* source, char stop,
                       unsigned long count, bool ignoreStop) {
  unsigned long copied = count;
  if (!ignoreStop && count != 0) {
    void* found = memchr(source, stop, count);
    if (found != nullptr)
      copied = static_cast<unsigned long>(static_cast<char*>(found) - source);
  }
  if (copied != 0)
    memmove(destination, source, copied);
  return copied;
}

// Bytes replaced per block: few enough that a block's count fits in one
// byte, which lets the compiler count in the lanes of vector instructions,
// and a multiple of 16, so that no block but the last leaves a tail.
static const unsigned long kReplaceBlock = 240;

// Without a branch on the bytes, so that the compiler may turn the inner
// loop into vector instructions: placeholders are too dense in a subtitle
// file for a search per placeholder to pay off.
unsigned long ReplaceBytes(char* buffer, unsigned long count, char from,
                           char to) {
  if (from == to)
    return 0;
  unsigned long replaced = 0;
  for (unsigned long block = 0; block < count; block += kReplaceBlock) {
    unsigned long end =
        count - block < kReplaceBlock ? count : block + kReplaceBlock;
    unsigned char inBlock = 0;
    for (unsigned long at = block; at < end; ++at) {
      bool hit = buffer[at] == from;
      buffer[at] = hit ? to : buffer[at];
      inBlock += hit;
    }
    replaced += inBlock;
  }
  return replaced;
}
