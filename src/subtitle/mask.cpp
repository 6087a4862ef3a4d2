// mask.cpp - masks every stray '>' so that each '>' left in the buffer
// (from its eleventh byte on) is the arrow of a timing line.
#include "subtitle/mask.h"

#include "subtitle/scan.h"

// Positions handled per block: few enough that the block's count of
// arrows fits in one byte.
static const unsigned long kMaskBlock = 240;

// HH:MM:SS,mmm --> : the arrow's '>' with ':' 10 bytes, ',' 7 bytes and
// "--" 2 bytes in front of it. Nothing else of the line is tested.
static bool IsTimingArrow(const char* arrow) {
  return (arrow[-1] == '-') & (arrow[-2] == '-') & (arrow[-7] == ',') &
         (arrow[-10] == ':');
}

// One '>' at a time, each test seeing the masking done before it: the walk
// for a replacement byte that the arrow test itself looks for.
static unsigned long MaskInOrder(char* at, char* end, char replacement) {
  unsigned long arrows = 0;
  for (; at < end; ++at) {
    if (*at != '>')
      continue;
    bool timing = IsTimingArrow(at);
    arrows += timing;
    if (!timing)
      *at = replacement;
  }
  return arrows;
}

// The kMaskBlock positions from block on, tested first and masked after. Any
// other replacement byte never changes a later test, so testing the bytes
// as they were gives the same result. Neither loop branches on the bytes,
// which lets the compiler turn both into vector instructions: arrows and
// stray '>' are too dense in a subtitle file for a search per '>'.
ZELVAR_VECTOR_CLONES static unsigned char MaskBlock(char* block,
                                                    char replacement) {
  unsigned char stray[kMaskBlock]; // 1 for a '>' to mask
  unsigned char arrows = 0;
  for (unsigned long i = 0; i < kMaskBlock; ++i) {
    bool arrow = block[i] == '>';
    bool timing = arrow & IsTimingArrow(block + i);
    stray[i] = arrow & !timing;
    arrows += timing;
  }
  for (unsigned long i = 0; i < kMaskBlock; ++i)
    block[i] = stray[i] != 0 ? replacement : block[i];
  return arrows;
}

bool ConvertChar(char* data, unsigned long length, char replacement,
                 unsigned long& count) {
  if (length == kUntestedBytes)
    return false;
  unsigned long arrows = 0;
  if (length > kUntestedBytes) {
    char* at = data + kUntestedBytes;
    char* end = data + length;
    bool tested =
        replacement == '-' || replacement == ',' || replacement == ':';
    if (!tested) {
      for (; static_cast<unsigned long>(end - at) >= kMaskBlock;
           at += kMaskBlock)
        arrows += MaskBlock(at, replacement);
    }
    arrows += MaskInOrder(at, end, replacement);
  }
  count = arrows;
  return true;
}
