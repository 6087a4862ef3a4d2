// mask.cpp - masks every stray '>' so that each '>' left in the buffer
// (from its eleventh byte on) is the arrow of a timing line.
#include "subtitle/mask.h"

#include <string.h>

// The walk starts here, so that the arrow test never looks in front of the
// buffer: it reads back as far as 10 bytes.
static const unsigned long kFirstTested = 10;

// HH:MM:SS,mmm --> : the arrow's '>' with ':' 10 bytes, ',' 7 bytes and
// "--" 2 bytes in front of it. Nothing else of the line is tested.
// The four tests are combined without branches: arrows and stray '>'
// alternate with no pattern a processor could predict.
static bool IsTimingArrow(const char* arrow) {
  return (arrow[-1] == '-') & (arrow[-2] == '-') & (arrow[-7] == ',') &
         (arrow[-10] == ':');
}

bool ConvertChar(char* data, unsigned long length, char replacement,
                 unsigned long& count) {
  if (length == kFirstTested)
    return false;
  unsigned long arrows = 0;
  if (length > kFirstTested) {
    char* at = data + kFirstTested;
    char* end = data + length;
    while (at < end) {
      void* found = memchr(at, '>', static_cast<size_t>(end - at));
      if (found == nullptr)
        break;
      at = static_cast<char*>(found);
      bool timing = IsTimingArrow(at);
      arrows += timing;
      *at = timing ? '>' : replacement;
      ++at;
    }
  }
  count = arrows;
  return true;
}
