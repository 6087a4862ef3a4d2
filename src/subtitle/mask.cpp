// mask.cpp - finds where a timing line starts and ends, refuses lines that
// look like timing lines but cannot be read as one, and masks every stray
// '>' so that each '>' left in the buffer (from its eleventh byte on) is
// the arrow of a timing line.
#include "subtitle/mask.h"

#include "subtitle/scan.h"

#include <stdint.h>
#include <string.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Positions handled per block: few enough that the block's count of
// arrows fits in one byte.
static const unsigned long kMaskBlock = 240;

// HH:MM:SS,mmm --> : the arrow's '>' with ':' 10 bytes, ',' 7 bytes and
// "--" 2 bytes in front of it. Nothing else of the line is tested.
static bool IsTimingArrow(const char* arrow) {
  return (arrow[-1] == '-') & (arrow[-2] == '-') & (arrow[-7] == ',') &
         (arrow[-10] == ':');
}

static bool IsBreak(char c) {
  return c == '\r' || c == '\n';
}

// True when none of the 8 bytes at at is CR or LF: a byte equal to either
// turns to zero under the xor, and the subtraction finds any zero byte.
static bool HasNoBreak8(const char* at) {
  const uint64_t ones = 0x0101010101010101ULL;
  const uint64_t highs = 0x8080808080808080ULL;
  uint64_t word;
  memcpy(&word, at, sizeof word);
  uint64_t cr = word ^ (ones * '\r');
  uint64_t lf = word ^ (ones * '\n');
  return ((((cr - ones) & ~cr) | ((lf - ones) & ~lf)) & highs) == 0;
}

unsigned long FindContentStart(const char* data, unsigned long length) {
  bool mark = length >= 3 && data[0] == '\xEF' && data[1] == '\xBB' &&
              data[2] == '\xBF';
  return mark ? 3 : 0;
}

// First byte of the line that holds at.
static unsigned long FindLineStart(const char* data, unsigned long content,
                                   unsigned long at) {
  while (at > content && !IsBreak(data[at - 1]))
    --at;
  return at;
}

// The standard line is told by a break (or the content's start) 16 bytes
// in front of the arrow, a break (or the end) 14 bytes after it, and none
// in between; any other line is walked to its breaks.
void FindTimingLine(const char* data, unsigned long length,
                    unsigned long content, unsigned long arrow,
                    unsigned long& start, unsigned long& end) {
#if defined(__SSE2__)
  // The standard line told from the 16 bytes on either side of the arrow.
  if (arrow > content + kArrowOffset && length - arrow >= 16 &&
      TellBytes(data + arrow - 16).breaks == 1 &&
      (TellBytes(data + arrow).breaks & 0x7FFF) == 1U << (kAfterArrow + 1)) {
    start = arrow - kArrowOffset;
    end = arrow + kAfterArrow + 1;
    return;
  }
#endif
  if (arrow >= content + kArrowOffset &&
      (arrow - kArrowOffset == content ||
       IsBreak(data[arrow - kArrowOffset - 1])) &&
      HasNoBreak8(data + arrow - kArrowOffset) && HasNoBreak8(data + arrow - 8))
    start = arrow - kArrowOffset;
  else
    start = FindLineStart(data, content, arrow);
  unsigned long after = arrow + kAfterArrow + 1;
  if (after <= length && (after == length || IsBreak(data[after])) &&
      HasNoBreak8(data + arrow + 1) && HasNoBreak8(data + after - 8)) {
    end = after;
    return;
  }
  end = arrow + 1;
  while (end < length && !IsBreak(data[end]))
    ++end;
}

static bool IsDigit(char c) {
  return c >= '0' && c <= '9';
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

// 1 for a digit, else 0: a number, so that tests of it join without a
// branch.
static unsigned IsDigitByte(unsigned char c) {
  return static_cast<unsigned char>(c - '0') < 10;
}

// The 15 bytes in front of an arrow are "DD:DD:DD,DDD --" with a blank
// or tab before the dashes (the arrow test has seen the ',', the second
// ':' and the dashes). Tested without a branch: nearly every timing line
// is one.
static bool IsStandardStart(const char* start) {
  const unsigned char* l = reinterpret_cast<const unsigned char*>(start);
  return (IsDigitByte(l[0]) & IsDigitByte(l[1]) & (l[2] == ':') &
          IsDigitByte(l[3]) & IsDigitByte(l[4]) & IsDigitByte(l[6]) &
          IsDigitByte(l[7]) & IsDigitByte(l[9]) & IsDigitByte(l[10]) &
          IsDigitByte(l[11]) & ((l[12] == ' ') | (l[12] == '\t'))) != 0;
}

// The 16 bytes at line are a line break and the start of a standard timing
// line, "DD:DD:DD,DDD --" with a blank or tab before the dashes: the test
// of IsStandardStart with the break in front, made on all 16 at once.
static bool IsStandardLine(const char* line) {
#if defined(__SSE2__)
  // Each byte's place: 1 where a digit stands, and the punctuation wanted
  // at the others (0 in front, where a break stands, and at the blank).
  static const unsigned kDigits = 0x1DB6; // bytes 1 2 4 5 7 8 10 11 12
  const __m128i punctuation =
      _mm_setr_epi8(0, 0, 0, ':', 0, 0, ':', 0, 0, ',', 0, 0, 0, ' ', '-', '-');
  __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line));
  __m128i digit = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
  unsigned digits = static_cast<unsigned>(_mm_movemask_epi8(
      _mm_cmpeq_epi8(_mm_min_epu8(digit, _mm_set1_epi8(9)), digit)));
  unsigned punct = static_cast<unsigned>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, punctuation)));
  bool tab = line[13] == '\t';
  return ((digits & kDigits) | (punct & ~kDigits & 0xFFFE) | (tab << 13)) ==
             0xFFFE &&
         IsBreak(line[0]);
#else
  return IsBreak(line[0]) && IsStandardStart(line + 1);
#endif
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
  while (end < length && !IsBreak(data[end]))
    ++end;
  unsigned long text = end;
  while (text < length && IsBreak(data[text]))
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

// The line of the '>' at at, with '-' in front of it: a timing line whose
// start must be a start time and blanks alone, or a stray '>' that must not
// end a near miss. lastArrow is the timing arrow before, if any (arrowSeen).
static LineFault CheckDashArrow(const char* data, unsigned long length,
                                unsigned long content, unsigned long at,
                                unsigned long& lastArrow, bool& arrowSeen) {
  if (at < kUntestedBytes || !IsTimingArrow(data + at)) {
    unsigned long start = FindLineStart(data, content, at);
    bool arrowInRepair =
        arrowSeen && IsArrowInRepair(data, length, lastArrow, start, at);
    return arrowInRepair || IsNearMiss(data, start, at) ? kNotTimingForm
                                                        : kNoLineFault;
  }
  bool seen = arrowSeen;
  unsigned long last = lastArrow;
  lastArrow = at;
  arrowSeen = true;
  if (at > content + kArrowOffset
          ? IsStandardLine(data + at - kArrowOffset - 1)
          : at == content + kArrowOffset && IsStandardStart(data + content))
    return kNoLineFault;
  unsigned long start = FindLineStart(data, content, at);
  if (seen && last >= start)
    return kTwoArrows;
  unsigned long time = start;
  if (!SkipStartTime(data, at - 2, time, ",") || time != at - 2)
    return kNotTimingForm;
  return kNoLineFault;
}

// Bytes tested at a time for a '>' with a dash in front of it.
static const unsigned long kDashBlock = 64;

// Bit i set for each of the 64 bytes from at that is '>' with '-' in front
// of it; at - 1 is read too.
static uint64_t FindDashArrows(const char* at) {
  uint64_t bits = 0;
#if defined(__SSE2__)
  const __m128i arrow = _mm_set1_epi8(kArrow), dash = _mm_set1_epi8('-');
  for (unsigned i = 0; i < kDashBlock; i += 16) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + i));
    __m128i before =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + i - 1));
    __m128i both = _mm_and_si128(_mm_cmpeq_epi8(bytes, arrow),
                                 _mm_cmpeq_epi8(before, dash));
    bits |=
        static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(both)))
        << i;
  }
#else
  for (unsigned i = 0; i < kDashBlock; ++i)
    bits |= static_cast<uint64_t>(at[i] == kArrow && at[i - 1] == '-') << i;
#endif
  return bits;
}

void StartLineCheck(LineCheck& check) {
  check = LineCheck();
  check.next = 1; // the first byte has no dash in front of it
}

// Both a timing arrow and a near miss end in "->", so only a '>' with a
// dash in front of it is looked at: 64 bytes at a time are tested for one,
// and markup such as <i> costs nothing. Every test reads only bytes in
// front of the '>' (and the rest of its block), so the check can go on
// as the file arrives.
LineFault CheckLinesSoFar(LineCheck& check, const char* data,
                          unsigned long have, bool whole,
                          unsigned long& faultAt) {
  if (check.next == 1)
    check.content = FindContentStart(data, have);
  for (; check.next < have; check.next += kDashBlock) {
    unsigned long at = check.next;
    uint64_t bits = 0;
    if (have - at >= kDashBlock) {
      bits = FindDashArrows(data + at);
    } else if (!whole) {
      return kNoLineFault; // the block is tested once it has arrived
    } else {
      for (unsigned long i = 0; at + i < have; ++i)
        bits |= static_cast<uint64_t>(data[at + i] == kArrow &&
                                      data[at + i - 1] == '-')
                << i;
    }
    for (; bits != 0; bits &= bits - 1) {
      unsigned long found =
          at + static_cast<unsigned long>(__builtin_ctzll(bits));
      LineFault fault = CheckDashArrow(data, have, check.content, found,
                                       check.lastArrow, check.arrowSeen);
      if (fault != kNoLineFault) {
        faultAt = found;
        return fault;
      }
    }
  }
  return kNoLineFault;
}

LineFault CheckTimingLines(const char* data, unsigned long length,
                           unsigned long& line) {
  LineCheck check;
  StartLineCheck(check);
  unsigned long at = 0;
  LineFault fault = CheckLinesSoFar(check, data, length, true, at);
  if (fault != kNoLineFault)
    line = CountLines(data, at);
  return fault;
}

unsigned long CountLines(const char* data, unsigned long at) {
  unsigned long line = 1;
  for (unsigned long i = 0; i < at; ++i)
    line += data[i] == '\n' || (data[i] == '\r' && data[i + 1] != '\n');
  return line;
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
