// rebuild.cpp - the entry rebuild: finds each entry by its timing arrow,
// writes a fresh number line and the timing line, and copies the text.
#include "subtitle/rebuild.h"

#include "subtitle/scan.h"

#include <stdlib.h>
#include <string.h>

static const char kArrow = '>';
static const unsigned long kArrowOffset = 15; // arrow within a timing line
static const unsigned long kAfterArrow = 13;  // timing bytes after the arrow
static const unsigned long kTimingLength = kArrowOffset + 1 + kAfterArrow;
static const unsigned long kUntested = 10;    // masking skips these bytes
static const unsigned long kScanLimit = 1000; // reach of a backward scan
// An entry without text has the next arrow 18 bytes after the cursor when
// the next number line and its line break take 3 bytes, and 16 when they
// take 2 before a one-digit start hour. Only these two are tested.
static const unsigned long kEmptyFar = 18;
static const unsigned long kEmptyNear = 16;
// In front of the next arrow this many bytes is the byte before the next
// timing line (two-digit start hour): the end of the next number line.
static const unsigned long kBeforeTiming = 16;
static const unsigned long kSinkSize = 1UL << 20;

// Output gathers in one heap block so that the small pieces of each entry
// reach the stream as few large writes. The block goes out only when full,
// so every write is one block (or a run of whole blocks) long and starts at
// a multiple of the block size in the file. Without a block every piece is
// written directly, which gives the same bytes.
struct Sink {
  FILE* stream;
  char* block;
  unsigned long used;
};

static void Flush(Sink& sink) {
  if (sink.used != 0)
    fwrite(sink.block, 1, sink.used, sink.stream);
  sink.used = 0;
}

// A piece larger than the room left: the block is filled and written, the
// whole blocks' worth that follows goes straight from the piece, and the
// rest starts the next block.
static void PutSlowly(Sink& sink, const char* bytes, unsigned long count) {
  if (sink.block == nullptr) {
    fwrite(bytes, 1, count, sink.stream);
    return;
  }
  unsigned long room = kSinkSize - sink.used;
  memcpy(sink.block + sink.used, bytes, room);
  sink.used = kSinkSize;
  Flush(sink);
  bytes += room;
  count -= room;
  unsigned long whole = count - count % kSinkSize;
  if (whole != 0)
    fwrite(bytes, 1, whole, sink.stream);
  memcpy(sink.block, bytes + whole, count - whole);
  sink.used = count - whole;
}

static inline void Put(Sink& sink, const char* bytes, unsigned long count) {
  if (sink.block == nullptr || count > kSinkSize - sink.used) {
    PutSlowly(sink, bytes, count);
    return;
  }
  memcpy(sink.block + sink.used, bytes, count);
  sink.used += count;
}

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
  if (sink.block != nullptr && kSinkSize - sink.used >= sizeof line.text) {
    // The whole text area at once, a copy of fixed size; only its number
    // line counts as written.
    memcpy(sink.block + sink.used, line.text, sizeof line.text);
    sink.used += line.length;
  } else {
    Put(sink, line.text, line.length);
  }
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
    if (at >= kUntested)
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

// Nearest CR or LF at or before start among count bytes, or null.
static char* FindLineBreakBack(char* start, unsigned long count) {
  char* at = start;
  while (count != 0) {
    if (*at == '\r' || *at == '\n')
      return at;
    if (--count == 0)
      break;
    --at;
  }
  return nullptr;
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
// next arrow: what precedes the next entry's number line and the line
// breaks around it. 0 when the entry has no text. When a scan meets a run
// of line breaks longer than its reach, the bytes are kept, line breaks
// included, rather than lose what lies before them.
static unsigned long MiddleTextLength(char* copy, unsigned long count) {
  if (count < kBeforeTiming)
    return 0;
  unsigned long numberEnd = count - kBeforeTiming;
  char* q = NextChar(copy + numberEnd, BackLimit(numberEnd), true);
  if (q == nullptr)
    return numberEnd + 1;
  unsigned long qAt = static_cast<unsigned long>(q - copy);
  char* r = FindLineBreakBack(q, BackLimit(qAt));
  if (r == nullptr) {
    // One single line in front of the next timing line: either the next
    // number line (this entry has no text) or this entry's text. A line
    // longer than the scan's reach stays text, number line and all.
    bool oneLine = qAt + 1 <= kScanLimit;
    return oneLine && IsNumberLine(copy, qAt + 1) ? 0 : qAt + 1;
  }
  unsigned long rAt = static_cast<unsigned long>(r - copy);
  char* s = NextChar(r, BackLimit(rAt), true);
  if (s == nullptr)
    return rAt + 1;
  return static_cast<unsigned long>(s - copy) + 1;
}

static bool IsArrowAt(const char* data, unsigned long length,
                      unsigned long at) {
  return at < length && data[at] == kArrow;
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
  arrow = FindArrow(data, length, cursor);
  if (IsArrowAt(data, length, cursor + kEmptyFar) ||
      IsArrowAt(data, length, cursor + kEmptyNear)) {
    Put(sink, "\r\n", 2);
    return true;
  }
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
