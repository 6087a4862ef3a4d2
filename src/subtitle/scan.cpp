// scan.cpp - the byte-scanning primitives. Forward searches for one byte
// go through memchr, which gives the same answer as a byte loop.
#include "subtitle/scan.h"

#include <string.h>

static bool IsLineBreak(char c) {
  return c == '\r' || c == '\n';
}

char* FindNextByte(char* start, unsigned long count, char value,
                   bool backward) {
  if (!backward) {
    void* found = count == 0 ? nullptr : memchr(start, value, count);
    return found != nullptr ? static_cast<char*>(found) : start;
  }
  // Step back only while bytes remain, so no pointer is ever formed in
  // front of the scanned bytes.
  char* at = start;
  while (count != 0) {
    if (*at == value)
      return at;
    if (--count == 0)
      break;
    --at;
  }
  return start;
}

char* NextChar(char* start, unsigned long count, bool backward) {
  char* at = start;
  while (count != 0) {
    if (!IsLineBreak(*at))
      return at;
    if (--count == 0)
      break;
    at = backward ? at - 1 : at + 1;
  }
  return nullptr;
}

char* FindLineBreakBack(char* start, unsigned long count) {
  char* at = start;
  while (count != 0) {
    if (IsLineBreak(*at))
      return at;
    if (--count == 0)
      break;
    --at;
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
    memmove(destination, source, copied); // the areas may overlap
  return copied;
}

// Bytes handled per block of ReplaceBytes: few enough that the block's
// count fits in one byte, which lets the compiler count in vector lanes.
static const unsigned long kReplaceBlock = 240;

// Replaces and counts without branches, so that the compiler can turn the
// loop into vector instructions; placeholders are too dense in a subtitle
// file for a search per placeholder to pay off.
ZELVAR_VECTOR_CLONES static unsigned char
ReplaceInBlock(char* block, unsigned long count, char from, char to) {
  unsigned char replaced = 0;
  for (unsigned long i = 0; i < count; ++i) {
    bool hit = block[i] == from;
    block[i] = hit ? to : block[i];
    replaced += hit;
  }
  return replaced;
}

unsigned long ReplaceBytes(char* buffer, unsigned long count, char from,
                           char to) {
  if (count == 0 || from == to)
    return 0;
  unsigned long replaced = 0;
  unsigned long at = 0;
  for (; count - at >= kReplaceBlock; at += kReplaceBlock)
    replaced += ReplaceInBlock(buffer + at, kReplaceBlock, from, to);
  return replaced + ReplaceInBlock(buffer + at, count - at, from, to);
}
