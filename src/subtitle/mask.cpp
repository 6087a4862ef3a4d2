// mask.cpp - finds where a timing line starts and ends, refuses lines that
// look like timing lines but cannot be read as one, and masks every stray
// '>' so that each '>' left in the buffer (from its eleventh byte on) is
// the arrow of a timing line.
#include "subtitle/mask.h"

#include "subtitle/scan.h"

#include <string.h>

// HH:MM:SS,mmm --> : the arrow's '>' with ':' 10 bytes, ',' 7 bytes and
// "--" 2 bytes in front of it. Nothing else of the line is tested.
static bool IsTimingArrow(const char* arrow) {
  return arrow[-1] == '-' && arrow[-2] == '-' && arrow[-7] == ',' &&
         arrow[-10] == ':';
}

unsigned long FindContentStart(const char* data, unsigned long length) {
  bool mark = length >= 3 && data[0] == '\xEF' && data[1] == '\xBB' &&
              data[2] == '\xBF';
  return mark ? 3 : 0;
}

// First byte of the line that holds at.
static unsigned long FindLineStart(const char* data, unsigned long content,
                                   unsigned long at) {
  while (at > content && !IsLineBreak(data[at - 1]))
    --at;
  return at;
}

// The 15 bytes in front of an arrow are "DD:DD:DD,DDD --" with a blank
// or tab before the dashes (the arrow test has seen the ',', the second
// ':' and the dashes): the line of nearly every timing arrow.
static bool IsStandardStart(const char* l) {
  return IsDigit(l[0]) && IsDigit(l[1]) && l[2] == ':' && IsDigit(l[3]) &&
         IsDigit(l[4]) && IsDigit(l[6]) && IsDigit(l[7]) && IsDigit(l[9]) &&
         IsDigit(l[10]) && IsDigit(l[11]) && (l[12] == ' ' || l[12] == '\t');
}

// The 13 bytes after an arrow are " DD:DD:DD,DDD": a standard end time.
static bool IsStandardEnd(const char* l) {
  return l[0] == ' ' && IsDigit(l[1]) && IsDigit(l[2]) && l[3] == ':' &&
         IsDigit(l[4]) && IsDigit(l[5]) && l[6] == ':' && IsDigit(l[7]) &&
         IsDigit(l[8]) && l[9] == ',' && IsDigit(l[10]) && IsDigit(l[11]) &&
         IsDigit(l[12]);
}

// The timing arrow at arrow starts a standard timing line: a line break,
// or the content's start, and then "DD:DD:DD,DDD --" in front of it.
static bool HasStandardStart(const char* data, unsigned long content,
                             unsigned long arrow) {
  return arrow >= content + kArrowOffset &&
         (arrow == content + kArrowOffset ||
          IsLineBreak(data[arrow - kArrowOffset - 1])) &&
         IsStandardStart(data + arrow - kArrowOffset);
}

void FindTimingLine(const char* data, unsigned long length,
                    unsigned long content, unsigned long arrow,
                    unsigned long& start, unsigned long& end) {
  bool standard = arrow >= kUntestedBytes && IsTimingArrow(data + arrow) &&
                  HasStandardStart(data, content, arrow);
  start = standard ? arrow - kArrowOffset : FindLineStart(data, content, arrow);
  end = arrow + 1;
  unsigned long after = arrow + kTimingLength - kArrowOffset;
  if (after <= length && (after == length || IsLineBreak(data[after])) &&
      IsStandardEnd(data + end))
    end = after;
  while (end < length && !IsLineBreak(data[end]))
    ++end;
}

static void SkipBlanks(const char* data, unsigned long end, unsigned long& at) {
  while (at < end && (data[at] == ' ' || data[at] == '\t'))
    ++at;
}

// Moves at over 1 to most digits; false when there is none.
static bool SkipDigits(const char* data, unsigned long end, unsigned long& at,
                       unsigned long most) {
  unsigned long first = at;
  while (at < end && at - first < most && IsDigit(data[at]))
    ++at;
  return at != first;
}

// Moves at over one byte of bytes; false when another stands there.
static bool SkipOne(const char* data, unsigned long end, unsigned long& at,
                    const char* bytes) {
  if (at == end || data[at] == '\0' || strchr(bytes, data[at]) == nullptr)
    return false;
  ++at;
  return true;
}

// Moves at over blanks, D{1,3}:D{1,2}:D{1,2}, one of separators, D{1,3}
// and blanks; false when the bytes from at are not a start time so.
static bool SkipStartTime(const char* data, unsigned long end,
                          unsigned long& at, const char* separators) {
  SkipBlanks(data, end, at);
  bool time = SkipDigits(data, end, at, 3) && SkipOne(data, end, at, ":") &&
              SkipDigits(data, end, at, 2) && SkipOne(data, end, at, ":") &&
              SkipDigits(data, end, at, 2) &&
              SkipOne(data, end, at, separators) &&
              SkipDigits(data, end, at, 3);
  SkipBlanks(data, end, at);
  return time;
}

// The line from start up to the stray '>' at stray is a near miss: a start
// time with ',', '.' or ':' before its milliseconds, blanks, and dashes.
static bool IsNearMiss(const char* data, unsigned long start,
                       unsigned long stray) {
  unsigned long at = start;
  if (!SkipStartTime(data, stray, at, ",.:") || at == stray || data[at] != '-')
    return false;
  while (at < stray && data[at] == '-')
    ++at;
  return at == stray;
}

// True when the stray '>' at stray, near the start of the line from start,
// would be a timing arrow in the repair. That is the first text line after
// the timing line of arrow, and the repair puts it right after that timing
// line and "\r\n", whatever breaks stood between them: the arrow test then
// reads other bytes in front of the line than it read here.
static bool IsArrowInRepair(const char* data, unsigned long length,
                            unsigned long arrow, unsigned long start,
                            unsigned long stray) {
  // An arrow on the stray's own line has its text further on; testing that
  // first keeps every byte read in front of the stray.
  if (stray - start >= kUntestedBytes || arrow >= start)
    return false;
  unsigned long end = arrow;
  while (end < length && !IsLineBreak(data[end]))
    ++end;
  unsigned long text = end;
  while (text < length && IsLineBreak(data[text]))
    ++text;
  if (text != start)
    return false;
  // The timing line's last ten bytes (the arrow's own ten in front of it
  // lie in its line), "\r\n" and the line up to the '>'.
  char repair[2 * kUntestedBytes + 2];
  memcpy(repair, data + end - kUntestedBytes, kUntestedBytes);
  memcpy(repair + kUntestedBytes, "\r\n", 2);
  memcpy(repair + kUntestedBytes + 2, data + start, stray - start + 1);
  return IsTimingArrow(repair + kUntestedBytes + 2 + stray - start);
}

// Where the check stands: the last timing arrow met, if any.
struct LastArrow {
  unsigned long at;
  bool seen;
};

// The line of the '>' at at, with '-' in front of it: a timing line whose
// start must be a start time and blanks alone, or a stray '>' that must not
// end a near miss.
static LineFault CheckDashArrow(const char* data, unsigned long length,
                                unsigned long content, unsigned long at,
                                LastArrow& last) {
  if (at < kUntestedBytes || !IsTimingArrow(data + at)) {
    unsigned long start = FindLineStart(data, content, at);
    bool arrowInRepair =
        last.seen && IsArrowInRepair(data, length, last.at, start, at);
    return arrowInRepair || IsNearMiss(data, start, at) ? kNotTimingForm
                                                        : kNoLineFault;
  }
  LastArrow before = last;
  last.at = at;
  last.seen = true;
  bool standard =
      at > content + kArrowOffset
          ? IsLineBreak(data[at - kArrowOffset - 1]) &&
                IsStandardStart(data + at - kArrowOffset)
          : at == content + kArrowOffset && IsStandardStart(data + content);
  if (standard)
    return kNoLineFault;
  unsigned long start = FindLineStart(data, content, at);
  if (before.seen && before.at >= start)
    return kTwoArrows;
  unsigned long time = start;
  if (!SkipStartTime(data, at - 2, time, ",") || time != at - 2)
    return kNotTimingForm;
  return kNoLineFault;
}

// Both a timing arrow and a near miss end in "->": memchr finds each '>',
// and only one with a dash in front of it is looked at.
LineFault CheckTimingLines(const char* data, unsigned long length,
                           unsigned long& line) {
  unsigned long content = FindContentStart(data, length);
  LastArrow last = {0, false};
  for (unsigned long at = 1; at < length; ++at) {
    const void* found = memchr(data + at, kArrow, length - at);
    if (found == nullptr)
      break;
    at = static_cast<unsigned long>(static_cast<const char*>(found) - data);
    if (data[at - 1] != '-')
      continue;
    LineFault fault = CheckDashArrow(data, length, content, at, last);
    if (fault != kNoLineFault) {
      line = CountLines(data, at);
      return fault;
    }
  }
  return kNoLineFault;
}

unsigned long CountLines(const char* data, unsigned long at) {
  unsigned long line = 1;
  for (unsigned long i = 0; i < at; ++i)
    line += data[i] == '\n' || (data[i] == '\r' && data[i + 1] != '\n');
  return line;
}

// Positions masked per block: few enough that a block's count of arrows
// fits in one byte, and a multiple of 16.
static const unsigned long kMaskBlock = 240;

// Each block's arrow tests read the bytes as they stand before the block
// is masked, which lets the compiler turn both loops into vector
// instructions: '>' bytes are too dense in a subtitle file for a search
// per '>' to pay off. That gives the answer of a walk one '>' at a time
// unless the replacement is a byte the test looks for: then a block is
// one position long.
bool ConvertChar(char* data, unsigned long length, char replacement,
                 unsigned long& count) {
  if (length == kUntestedBytes)
    return false;
  bool tested = replacement == '-' || replacement == ',' || replacement == ':';
  unsigned long block = tested ? 1 : kMaskBlock;
  unsigned long arrows = 0;
  for (unsigned long at = kUntestedBytes; at < length; at += block) {
    char* bytes = data + at;
    unsigned long size = length - at < block ? length - at : block;
    unsigned char stray[kMaskBlock]; // 1 for a '>' to mask
    unsigned char timing = 0;
    for (unsigned long i = 0; i < size; ++i) {
      const char* b = bytes + i;
      bool arrow = *b == kArrow;
      bool test =
          (b[-1] == '-') & (b[-2] == '-') & (b[-7] == ',') & (b[-10] == ':');
      stray[i] = arrow & !test;
      timing += arrow & test;
    }
    for (unsigned long i = 0; i < size; ++i)
      bytes[i] = stray[i] != 0 ? replacement : bytes[i];
    arrows += timing;
  }
  count = arrows;
  return true;
}
