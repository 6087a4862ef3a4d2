// mask.cpp - finds where a timing line starts and ends, refuses lines that
// look like timing lines but cannot be read as one, and masks every stray
// '>' so that each '>' left in the buffer (from its eleventh byte on) is
// the arrow of a timing line.
#include "subtitle/mask.h"

#include "subtitle/scan.h"

#include <string.h>

// HH:MM:SS,mmm --> : the arrow's '>' with ':' 10 bytes, ',' 7 bytes and
// "--" 2 bytes in front of it. Nothing else of the line is tested. Without
// a branch, so that masking can test a block of bytes in vector
// instructions.
static bool IsTimingArrow(const char* arrow) {
  return (arrow[-1] == '-') & (arrow[-2] == '-') & (arrow[-7] == ',') &
         (arrow[-10] == ':');
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
         IsDigit(l[10]) && IsDigit(l[11]) && IsBlank(l[12]);
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
  while (at < end && IsBlank(data[at]))
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

// Moves at over a run of 1 to most digits that no further digit follows;
// false when the run there is longer, or there is none.
static bool SkipNumber(const char* data, unsigned long end, unsigned long& at,
                       unsigned long most) {
  return SkipDigits(data, end, at, most) && (at == end || !IsDigit(data[at]));
}

// Moves at over the fraction of a time: one of ",.:", a blank or none, and
// 1 to 3 digits.
static bool SkipFraction(const char* data, unsigned long end,
                         unsigned long& at) {
  if (!SkipOne(data, end, at, ",.:"))
    return false;
  SkipOne(data, end, at, " \t");
  return SkipNumber(data, end, at, 3);
}

// A time is D{1,3}:D{1,2}:D{1,2}, with or without a fraction, or
// D{1,3}:D{1,2} with one. The bytes from at can be read as a time ending at
// up to three places (1:2:3 reads as H:M:S and as M:S with ':' before its
// fraction); stores each in ends and returns how many there are. Each run
// of digits is taken whole, since an arrow or a blank must follow the time.
static unsigned long FindTimeEnds(const char* data, unsigned long end,
                                  unsigned long at, unsigned long ends[3]) {
  if (!SkipNumber(data, end, at, 3) || !SkipOne(data, end, at, ":") ||
      !SkipNumber(data, end, at, 2))
    return 0;
  unsigned long count = 0;
  unsigned long minutesAndSeconds = at;
  if (SkipFraction(data, end, minutesAndSeconds))
    ends[count++] = minutesAndSeconds;
  if (SkipOne(data, end, at, ":") && SkipNumber(data, end, at, 2)) {
    ends[count++] = at;
    if (SkipFraction(data, end, at))
      ends[count++] = at;
  }
  return count;
}

// True when a time begins at at, whatever follows it: D{1,3}:D{1,2}, one of
// ",.:", a blank or none, and a digit.
static bool StartsWithTime(const char* data, unsigned long end,
                           unsigned long at) {
  if (!SkipNumber(data, end, at, 3) || !SkipOne(data, end, at, ":") ||
      !SkipNumber(data, end, at, 2) || !SkipOne(data, end, at, ",.:"))
    return false;
  SkipOne(data, end, at, " \t");
  return at < end && IsDigit(data[at]);
}

// An en dash, an em dash and a rightwards arrow in UTF-8: 0xE2, then two
// bytes of their own.
static const char kWideLead = '\xE2';
static const char kRightArrowLast = '\x92';

static bool IsWideDash(const char* data, unsigned long end, unsigned long at) {
  return end - at >= 3 && data[at] == kWideLead && data[at + 1] == '\x80' &&
         (data[at + 2] == '\x93' || data[at + 2] == '\x94');
}

static bool IsRightArrow(const char* data, unsigned long end,
                         unsigned long at) {
  return end - at >= 3 && data[at] == kWideLead && data[at + 1] == '\x86' &&
         data[at + 2] == kRightArrowLast;
}

// Moves at over an arrow a reader takes for a timing arrow: dashes, blanks
// and '>'; en or em dashes, dashes, blanks and '>'; or U+2192. False when
// none begins at at.
static bool SkipArrow(const char* data, unsigned long end, unsigned long& at) {
  if (IsRightArrow(data, end, at)) {
    at += 3;
    return true;
  }
  unsigned long first = at;
  while (IsWideDash(data, end, at))
    at += 3;
  if (at == first && (at == end || data[at] != '-'))
    return false;
  while (at < end && data[at] == '-')
    ++at;
  SkipBlanks(data, end, at);
  return SkipOne(data, end, at, ">");
}

// True when the '>' at at can end such an arrow: a dash, an en dash or an
// em dash stands in front of it, blanks aside.
static bool EndsDashedArrow(const char* data, unsigned long at) {
  while (at > 0 && IsBlank(data[at - 1]))
    --at;
  return at > 0 &&
         (data[at - 1] == '-' || (at >= 3 && IsWideDash(data, at, at - 3)));
}

// True when the line from start holds an arrow that masking counts.
static bool HoldsTimingArrow(const char* data, unsigned long length,
                             unsigned long start) {
  for (unsigned long at = start; at < length && !IsLineBreak(data[at]); ++at)
    if (data[at] == kArrow && at >= kUntestedBytes && IsTimingArrow(data + at))
      return true;
  return false;
}

// True when the line from start begins, read in any of the ways a time can
// be read, with blanks, a time, blanks, an arrow, blanks and a time, but
// holds no arrow that masking counts. A line that does not begin with
// blanks and a digit costs a byte or two.
static bool IsNearMissLine(const char* data, unsigned long length,
                           unsigned long start) {
  unsigned long at = start;
  SkipBlanks(data, length, at);
  if (at == length || !IsDigit(data[at]))
    return false;
  unsigned long ends[3];
  unsigned long count = FindTimeEnds(data, length, at, ends);
  for (unsigned long reading = 0; reading < count; ++reading) {
    unsigned long arrow = ends[reading];
    SkipBlanks(data, length, arrow);
    if (!SkipArrow(data, length, arrow))
      continue;
    SkipBlanks(data, length, arrow);
    if (StartsWithTime(data, length, arrow))
      return !HoldsTimingArrow(data, length, start);
  }
  return false;
}

// Where the check stands. It asks for the start of a line at places in
// the order they stand, so the bytes in front of the last place asked
// about are not looked at again, and each line is tested whole once: a
// line full of arrows costs one pass.
struct CheckProgress {
  unsigned long content;
  unsigned long asked;  // the last place asked about
  unsigned long start;  // the start of its line
  unsigned long tested; // the start of the last line tested whole
  bool anyTested;
  unsigned long lastArrow; // the last timing arrow met
  bool arrowSeen;
};

static unsigned long LineStartOf(const char* data, CheckProgress& progress,
                                 unsigned long at) {
  unsigned long start = at;
  while (start > progress.asked && !IsLineBreak(data[start - 1]))
    --start;
  if (start > progress.asked)
    progress.start = start;
  progress.asked = at;
  return progress.start;
}

// True the first time the line from start is met.
static bool IsUntested(CheckProgress& progress, unsigned long start) {
  if (progress.anyTested && progress.tested == start)
    return false;
  progress.tested = start;
  progress.anyTested = true;
  return true;
}

// The line of the timing arrow at at: a start time and blanks alone may
// stand in front of its "--", and no other timing arrow on its line.
static LineFault CheckTimingArrow(const char* data, CheckProgress& progress,
                                  unsigned long at) {
  unsigned long before = progress.lastArrow;
  bool seen = progress.arrowSeen;
  progress.lastArrow = at;
  progress.arrowSeen = true;
  if (HasStandardStart(data, progress.content, at))
    return kNoLineFault;
  unsigned long start = LineStartOf(data, progress, at);
  if (seen && before >= start)
    return kTwoArrows;
  unsigned long time = start;
  if (!SkipStartTime(data, at - 2, time, ",") || time != at - 2)
    return kNotTimingForm;
  return kNoLineFault;
}

// The line of a '>' that masking does not count, or of a U+2192 (at its
// last byte): a near miss, or a '>' the repair would make a timing arrow.
// A line is tested for near misses once, at the first such arrow on it: a
// start time, blanks and dashes can only end at the line's first '>', and
// the reading of a time, an arrow and a time starts at the line's start
// whichever arrow was met.
static LineFault CheckOtherArrow(const char* data, unsigned long length,
                                 CheckProgress& progress, unsigned long at) {
  bool dash = data[at] == kArrow && data[at - 1] == '-';
  if (data[at] == kArrow && !EndsDashedArrow(data, at))
    return kNoLineFault;
  unsigned long start = LineStartOf(data, progress, at);
  if (dash && progress.arrowSeen &&
      IsArrowInRepair(data, length, progress.lastArrow, start, at))
    return kNotTimingForm;
  if (!IsUntested(progress, start))
    return kNoLineFault;
  bool nearMiss = (dash && IsNearMiss(data, start, at)) ||
                  IsNearMissLine(data, length, start);
  return nearMiss ? kNotTimingForm : kNoLineFault;
}

// Where the first byte equal to value stands from at on; length when none.
static unsigned long FindByte(const char* data, unsigned long length,
                              unsigned long at, char value) {
  const void* found =
      at < length ? memchr(data + at, value, length - at) : nullptr;
  return found != nullptr ? static_cast<unsigned long>(
                                static_cast<const char*>(found) - data)
                          : length;
}

// Every line that could be at fault holds a '>' or a U+2192: memchr finds
// each '>' and each last byte of a U+2192, and they are looked at in the
// order they stand.
LineFault CheckTimingLines(const char* data, unsigned long length,
                           unsigned long& line) {
  unsigned long content = FindContentStart(data, length);
  CheckProgress progress = {content, content, content, 0, false, 0, false};
  unsigned long arrow = FindByte(data, length, 1, kArrow);
  unsigned long right = FindByte(data, length, 2, kRightArrowLast);
  while (arrow < length || right < length) {
    unsigned long at = arrow < right ? arrow : right;
    LineFault fault = kNoLineFault;
    if (at == arrow) {
      fault = at >= kUntestedBytes && IsTimingArrow(data + at)
                  ? CheckTimingArrow(data, progress, at)
                  : CheckOtherArrow(data, length, progress, at);
      arrow = FindByte(data, length, at + 1, kArrow);
    } else {
      if (IsRightArrow(data, length, at - 2))
        fault = CheckOtherArrow(data, length, progress, at);
      right = FindByte(data, length, at + 1, kRightArrowLast);
    }
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
      bool test = IsTimingArrow(b);
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
