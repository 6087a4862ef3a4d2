// rebuild.cpp - the entry rebuild: finds each entry by its timing arrow,
// writes a fresh number line and the timing line, and copies the text.
#include "subtitle/rebuild.h"

#include "subtitle/mask.h"
#include "subtitle/scan.h"
#include "subtitle/sink.h"

#include <stdlib.h>
#include <string.h>

static const char kArrow = '>';
static const unsigned long kScanLimit = 1000; // reach of a backward scan
// In front of the next arrow this many bytes is the byte before the next
// timing line (two-digit start hour): the line break that ends the line in
// front of it.
static const unsigned long kBeforeTiming = 16;

// Decimal digits of number followed by "\r\n"; returns the bytes written
// to line, which holds at least 24.
static unsigned long FormatNumberLine(char* line, unsigned long number) {
  char digits[20];
  unsigned long count = 0;
  do {
    digits[count++] = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number != 0);
  for (unsigned long i = 0; i < count; ++i)
    line[i] = digits[count - 1 - i];
  line[count] = '\r';
  line[count + 1] = '\n';
  return count + 2;
}

void SetNumber(FILE* out, unsigned long& number) {
  char line[24];
  fwrite(line, 1, FormatNumberLine(line, number), out);
  ++number;
}

// The number line to write next, kept as text: stepping on mostly changes
// its last digit only, and only a carry formats it anew.
struct NumberLine {
  unsigned long number;
  unsigned long length;
  char text[24];
};

static void StartNumbers(NumberLine& line, unsigned long first) {
  line.number = first;
  line.length = FormatNumberLine(line.text, first);
}

static void PutNumber(Sink& sink, NumberLine& line) {
  PutFromFixed(sink, line.text, line.length, sizeof line.text);
  ++line.number;
  if (line.number % 10 != 0)
    ++line.text[line.length - 3];
  else
    line.length = FormatNumberLine(line.text, line.number);
}

// Position of the first '>' at or after at that can be a timing arrow, or
// length when there is none. Masking never tests the first ten bytes, so a
// '>' there is passed over.
static unsigned long FindArrow(char* data, unsigned long length,
                               unsigned long at) {
  while (at < length) {
    char* found = FindNextByte(data + at, length - at, kArrow, false);
    if (*found != kArrow)
      return length;
    at = static_cast<unsigned long>(found - data);
    if (at >= kUntestedBytes)
      return at;
    ++at;
  }
  return length;
}

// Number line, timing line and "\r\n" of the entry whose arrow is at
// arrow (length when none was found); sets cursor to the first byte after
// the timing line that is not a line break. False when the rebuild ends.
static bool WriteHead(Sink& sink, char* data, unsigned long length,
                      unsigned long arrow, unsigned long& cursor,
                      NumberLine& number) {
  unsigned long last = length - 1;
  if (arrow == length || arrow + kAfterArrow > last)
    return false;
  PutNumber(sink, number);
  // A counted arrow at positions 10 to 14 has its line copied from the
  // first byte of the data: nothing in front of the buffer is read.
  if (arrow >= kArrowOffset)
    Put(sink, data + arrow - kArrowOffset, kTimingLength);
  else
    Put(sink, data, arrow + kAfterArrow + 1);
  if (arrow + kAfterArrow == last)
    return false;
  unsigned long after = arrow + kAfterArrow + 1;
  char* text = NextChar(data + after, length - after, false);
  if (text == nullptr)
    return false;
  Put(sink, "\r\n", 2);
  cursor = static_cast<unsigned long>(text - data);
  return true;
}

// Bytes a backward scan from position at of a copy may examine: at most
// the scan limit, and never in front of the copy.
static unsigned long BackLimit(unsigned long at) {
  return at + 1 < kScanLimit ? at + 1 : kScanLimit;
}

// Digits and blanks only, with one digit at least: a number line.
static bool IsNumberLine(const char* line, unsigned long count) {
  bool digit = false;
  for (unsigned long i = 0; i < count; ++i) {
    if (line[i] >= '0' && line[i] <= '9')
      digit = true;
    else if (line[i] != ' ' && line[i] != '\t')
      return false;
  }
  return digit;
}

// Length of the text at the start of copy, the count bytes in front of the
// next arrow: what comes before the next entry's number line and the line
// breaks around it. 0 when the entry has no text.
//
//   text lines      -> kept, the inner line breaks too
//   blank lines     -> dropped
//   number line     -> dropped: digits and blanks, a digit at least
//   any other line  -> kept as the text's last line; the next timing line
//                      has no number line in front of it
//   timing line     -> the bytes in front of its arrow end the copy
//
// When a scan meets a run of line breaks, or a line, longer than its
// reach, the bytes are kept, line breaks included, rather than lose what
// lies before them.
static unsigned long MiddleTextLength(char* copy, unsigned long count) {
  if (count < kBeforeTiming)
    return 0;
  unsigned long beforeTiming = count - kBeforeTiming;
  char* numberEnd =
      NextChar(copy + beforeTiming, BackLimit(beforeTiming), true);
  if (numberEnd == nullptr)
    return beforeTiming + 1;
  unsigned long numberEndAt = static_cast<unsigned long>(numberEnd - copy);
  char* numberBreak = FindLineBreakBack(numberEnd, BackLimit(numberEndAt));
  if (numberBreak == nullptr) {
    // One single line in front of the next timing line: either the next
    // number line (this entry has no text) or this entry's text. A line
    // longer than the scan's reach stays text, number line and all.
    bool oneLine = numberEndAt + 1 <= kScanLimit;
    return oneLine && IsNumberLine(copy, numberEndAt + 1) ? 0 : numberEndAt + 1;
  }
  unsigned long numberBreakAt = static_cast<unsigned long>(numberBreak - copy);
  if (!IsNumberLine(numberBreak + 1, numberEndAt - numberBreakAt))
    return numberEndAt + 1;
  char* textEnd = NextChar(numberBreak, BackLimit(numberBreakAt), true);
  if (textEnd == nullptr)
    return numberBreakAt + 1;
  return static_cast<unsigned long>(textEnd - copy) + 1;
}

static void WriteRest(Sink& sink, char* data, unsigned long length,
                      unsigned long cursor) {
  Put(sink, data + cursor, length - cursor);
}

// One entry that has another after it; moves arrow on to that entry's.
// False when the rebuild ends here.
static bool WriteMiddle(Sink& sink, char* data, unsigned long length,
                        unsigned long& arrow, NumberLine& number) {
  unsigned long cursor = 0;
  if (!WriteHead(sink, data, length, arrow, cursor, number))
    return false;
  // An entry without text has only the next number line in front of the
  // next timing line, its arrow 16 to 19 bytes on; the text's length tells
  // that apart from a short text.
  arrow = FindArrow(data, length, cursor);
  if (arrow == length) {
    // Masking counted an arrow that lies inside a timing line already
    // written, so no entry follows: this one is the last.
    WriteRest(sink, data, length, cursor);
    return false;
  }
  unsigned long text = MiddleTextLength(data + cursor, arrow - cursor);
  if (text != 0) {
    Put(sink, data + cursor, text);
    Put(sink, "\r\n", 2);
  }
  Put(sink, "\r\n", 2);
  return true;
}

bool RebuildSRT(char* data, unsigned long length, unsigned long first,
                unsigned long arrows, FILE* out) {
  if (arrows == 0 || length < kTimingLength || out == nullptr)
    return false;
  Sink sink = {out, static_cast<char*>(malloc(kSinkSize)), 0};
  NumberLine number;
  StartNumbers(number, first);
  unsigned long arrow = FindArrow(data, length, 0);
  bool going = true;
  for (unsigned long entry = 1; going && entry < arrows; ++entry)
    going = WriteMiddle(sink, data, length, arrow, number);
  unsigned long cursor = 0;
  if (going && WriteHead(sink, data, length, arrow, cursor, number))
    WriteRest(sink, data, length, cursor);
  Flush(sink);
  free(sink.block);
  return true;
}
