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

unsigned long ReplaceBytes(char* buffer, unsigned long count, char from,
                           char to) {
  if (count == 0 || from == to)
    return 0;
  unsigned long replaced = 0;
  char* at = buffer;
  char* end = buffer + count;
  while (at < end) {
    void* found = memchr(at, from, static_cast<size_t>(end - at));
    if (found == nullptr)
      break;
    at = static_cast<char*>(found);
    *at++ = to;
    ++replaced;
  }
  return replaced;
}
