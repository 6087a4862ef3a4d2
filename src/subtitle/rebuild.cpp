// rebuild.cpp - the entry rebuild: finds each entry by its timing arrow,
// writes a fresh number line and the timing line, and copies the text.
#include "subtitle/rebuild.h"

#include "subtitle/mask.h"
#include "subtitle/scan.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

unsigned long SetNumber(char* to, unsigned long& number) {
  char digits[20]; // the digits, from the last one back
  unsigned long count = 0;
  unsigned long rest = number;
  do {
    digits[sizeof digits - ++count] = static_cast<char>('0' + rest % 10);
    rest /= 10;
  } while (rest != 0);
  memcpy(to, digits + sizeof digits - count, count);
  to[count] = '\r';
  to[count + 1] = '\n';
  ++number;
  return count + 2;
}

// An entry's timing line: its arrow (length when there is none) and the
// bytes from start up to end that are the whole line.
struct Timing {
  unsigned long arrow, start, end;
};

// The first timing line whose arrow is at or after at. Masking never tests
// the first ten bytes, so a '>' there is passed over; every other '>' is a
// timing arrow.
static Timing FindTiming(char* data, unsigned long length,
                         unsigned long content, unsigned long at) {
  Timing timing = {length, 0, 0};
  if (at < kUntestedBytes)
    at = kUntestedBytes;
  if (at >= length)
    return timing;
  char* found = FindNextByte(data + at, length - at, kArrow, false);
  if (*found != kArrow)
    return timing;
  timing.arrow = static_cast<unsigned long>(found - data);
  FindTimingLine(data, length, content, timing.arrow, timing.start, timing.end);
  return timing;
}

// Nearest CR or LF at or before start among count bytes (stepping back);
// null when none of them is one, or count is 0.
static char* FindLineBreakBack(char* start, unsigned long count) {
  for (char* at = start; count != 0; --at) {
    if (IsLineBreak(*at))
      return at;
    if (--count == 0)
      break;
  }
  return nullptr;
}

// Digits and blanks only, with one digit at least: a number line.
static bool IsNumberLine(const char* line, unsigned long count) {
  bool digit = false;
  for (unsigned long i = 0; i < count; ++i) {
    if (IsDigit(line[i]))
      digit = true;
    else if (!IsBlank(line[i]))
      return false;
  }
  return digit;
}

// Length of the text at the start of copy, the count bytes in front of the
// next timing line: what comes before the next entry's number line and the
// line breaks around it. 0 when the entry has no text.
//
//   text lines      -> kept, the inner line breaks too
//   blank lines     -> dropped, however many
//   number line     -> dropped: digits and blanks, a digit at least
//   any other line  -> kept as the text's last line; the next timing line
//                      has no number line in front of it
static unsigned long MiddleTextLength(char* copy, unsigned long count) {
  if (count == 0)
    return 0;
  unsigned long beforeTiming = count - 1; // the break ending the line above
  char* numberEnd = NextChar(copy + beforeTiming, beforeTiming + 1, true);
  if (numberEnd == nullptr)
    return count;
  unsigned long numberEndAt = static_cast<unsigned long>(numberEnd - copy);
  char* numberBreak = FindLineBreakBack(numberEnd, numberEndAt + 1);
  if (numberBreak == nullptr) {
    // One single line in front of the next timing line: either the next
    // number line (this entry has no text) or this entry's text.
    return IsNumberLine(copy, numberEndAt + 1) ? 0 : numberEndAt + 1;
  }
  unsigned long numberBreakAt = static_cast<unsigned long>(numberBreak - copy);
  if (!IsNumberLine(numberBreak + 1, numberEndAt - numberBreakAt))
    return numberEndAt + 1;
  char* textEnd = NextChar(numberBreak, numberBreakAt + 1, true);
  if (textEnd == nullptr)
    return numberBreakAt + 1;
  return static_cast<unsigned long>(textEnd - copy) + 1;
}

static char* Put(char* to, const char* bytes, unsigned long count) {
  memcpy(to, bytes, count);
  return to + count;
}

bool RebuildSRT(char* data, unsigned long length, unsigned long first,
                unsigned long arrows, char* out, unsigned long& written) {
  if (arrows == 0 || length < kTimingLength || out == nullptr)
    return false;
  unsigned long content = FindContentStart(data, length);
  unsigned long number = first;
  char* to = out;
  Timing timing = FindTiming(data, length, content, 0);
  for (unsigned long entry = 1; timing.arrow != length; ++entry) {
    to += SetNumber(to, number);
    to = Put(to, data + timing.start, timing.end - timing.start);
    char* text = timing.end < length
                     ? NextChar(data + timing.end, length - timing.end, false)
                     : nullptr;
    if (text == nullptr)
      break; // nothing but line breaks after the timing line
    to = Put(to, "\r\n", 2);
    unsigned long cursor = static_cast<unsigned long>(text - data);
    // Masking may have counted an arrow inside a timing line already
    // written: then no entry follows, and this one is the last.
    Timing next = {length, 0, 0};
    if (entry < arrows)
      next = FindTiming(data, length, content, cursor);
    if (next.arrow == length) {
      to = Put(to, text, length - cursor);
      break;
    }
    unsigned long kept =
        next.start > cursor ? MiddleTextLength(text, next.start - cursor) : 0;
    if (kept != 0)
      to = Put(Put(to, text, kept), "\r\n", 2);
    to = Put(to, "\r\n", 2);
    timing = next;
  }
  written = static_cast<unsigned long>(to - out);
  return true;
}

char* RepairSRT(char* data, unsigned long length, unsigned long& arrows,
                unsigned long& repaired) {
  arrows = 0;
  if (!ConvertChar(data, length, kPlaceholder, arrows) || arrows == 0) {
    ReplaceBytes(data, length, kPlaceholder, kArrow);
    return nullptr;
  }
  unsigned long long room =
      length + static_cast<unsigned long long>(arrows) * kEntryAddsAtMost;
  char* repair = room <= ULONG_MAX
                     ? static_cast<char*>(malloc(static_cast<size_t>(room)))
                     : nullptr;
  repaired = 0;
  if (repair != nullptr)
    RebuildSRT(data, length, 1, arrows, repair, repaired);
  ReplaceBytes(data, length, kPlaceholder, kArrow);
  ReplaceBytes(repair, repaired, kPlaceholder, kArrow);
  return repair;
}
