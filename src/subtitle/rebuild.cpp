// rebuild.cpp - the entry rebuild: finds each entry by its timing arrow,
// writes a fresh number line and the timing line, and copies the text.
#include "subtitle/rebuild.h"

#include "subtitle/mask.h"
#include "subtitle/scan.h"
#include "subtitle/sink.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

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

static void StartNumbers(NumberLine& line, unsigned long first) {
  line.number = first;
  line.length = FormatNumberLine(line.text, first);
}

static void StepNumber(NumberLine& line) {
  ++line.number;
  if (line.number % 10 != 0)
    ++line.text[line.length - 3];
  else
    line.length = FormatNumberLine(line.text, line.number);
}

static void PutNumber(Sink& sink, NumberLine& line) {
  PutFromFixed(sink, line.text, line.length, sizeof line.text);
  StepNumber(line);
}

// Position of the first '>' at or after at that can be a timing arrow, or
// length when there is none. Masking never tests the first ten bytes, so a
// '>' there is passed over.
static unsigned long FindArrow(char* data, unsigned long length,
                               unsigned long at) {
#if defined(__SSE2__)
  // An arrow is some tens of bytes on: a call to memchr costs more than
  // testing 32 bytes at a time here.
  const __m128i arrow = _mm_set1_epi8(kArrow);
  if (at >= kUntestedBytes) {
    for (; at < length && length - at >= 32; at += 32) {
      const __m128i* from = reinterpret_cast<const __m128i*>(data + at);
      unsigned low = static_cast<unsigned>(
          _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(from), arrow)));
      unsigned high = static_cast<unsigned>(
          _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(from + 1), arrow)));
      unsigned both = low | high << 16;
      if (both != 0)
        return at + static_cast<unsigned long>(__builtin_ctz(both));
    }
  }
#endif
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

// The first timing line whose arrow is at or after at.
static Timing FindTiming(const Walk& walk, unsigned long at) {
  Timing timing = {FindArrow(walk.data, walk.length, at), 0, 0};
  if (timing.arrow != walk.length)
    FindTimingLine(walk.data, walk.length, walk.content, timing.arrow,
                   timing.start, timing.end);
  return timing;
}

// Number line, the whole timing line and "\r\n" of the entry; sets cursor
// to the first byte after the timing line that is not a line break. False
// when the rebuild ends: no timing line, or nothing but line breaks after
// it.
static bool WriteHead(Sink& sink, const Walk& walk, const Timing& timing,
                      unsigned long& cursor, NumberLine& number) {
  if (timing.arrow == walk.length)
    return false;
  PutNumber(sink, number);
  unsigned long count = timing.end - timing.start;
  if (count == kTimingLength)
    Put(sink, walk.data + timing.start, kTimingLength);
  else
    Put(sink, walk.data + timing.start, count);
  if (timing.end == walk.length)
    return false;
  char* text =
      NextChar(walk.data + timing.end, walk.length - timing.end, false);
  if (text == nullptr)
    return false;
  Put(sink, "\r\n", 2);
  cursor = static_cast<unsigned long>(text - walk.data);
  return true;
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

#if defined(__SSE2__)
// How many bytes in a row, stepping back from the 16th byte less skip, have
// their bit set in bits (one bit for each of 16 bytes).
static unsigned RunBack(unsigned bits, unsigned skip) {
  uint32_t shifted = static_cast<uint32_t>(bits) << (16 + skip);
  return static_cast<unsigned>(__builtin_clz(~shifted));
}

// MiddleTextLength told from the last 16 bytes of copy alone: the line
// breaks in front of the timing line, the line before them, and the
// breaks before that line when it is a number line. False when those run
// past the 16 bytes, and the bytes must be walked.
static bool TextFromTail(const char* copy, unsigned long count,
                         unsigned long& text) {
  if (count < 16)
    return false;
  ByteKinds kinds = TellBytes(copy + count - 16);
  unsigned after = RunBack(kinds.breaks, 0);
  if (after == 0 || after >= 16)
    return false;
  unsigned line = RunBack(kinds.digits | kinds.blanks, after);
  unsigned lineEnd = after + line;
  if (lineEnd >= 16)
    return false;
  unsigned lineBits = ((1U << line) - 1) << (16 - lineEnd);
  bool numberLine = ((kinds.breaks >> (15 - lineEnd)) & 1) != 0 &&
                    (kinds.digits & lineBits) != 0;
  if (!numberLine) {
    text = count - after;
    return true;
  }
  unsigned before = RunBack(kinds.breaks, lineEnd);
  if (lineEnd + before >= 16)
    return false;
  text = count - lineEnd - before;
  return true;
}
#endif

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
#if defined(__SSE2__)
  unsigned long text = 0;
  if (TextFromTail(copy, count, text))
    return text;
#endif
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

// The text of an entry, from cursor (the first byte after its timing line
// that is no line break) up to the next entry's timing line, next.
static void WriteText(Sink& sink, const Walk& walk, unsigned long cursor,
                      const Timing& next) {
  unsigned long text =
      next.start > cursor
          ? MiddleTextLength(walk.data + cursor, next.start - cursor)
          : 0;
  if (text != 0) {
    Put(sink, walk.data + cursor, text);
    Put(sink, "\r\n", 2);
  }
  Put(sink, "\r\n", 2);
}

// Copies count bytes from from to to in 16-byte pieces: as many as cover
// them, so up to 15 bytes more are read and written, which the caller
// keeps inside both buffers.
static char* CopyCovering(char* to, const char* from, unsigned long count) {
  for (unsigned long i = 0; i < count; i += 16)
    memcpy(to + i, from + i, 16);
  return to + count;
}

// An entry that has another after it, whose timing line is next: its head
// (WriteHead) and its text (WriteText), the text starting at cursor. Where
// the block has room, the entry is written there at once.
static void WriteEntry(Sink& sink, const Walk& walk, const Timing& timing,
                       unsigned long cursor, const Timing& next,
                       NumberLine& number) {
  unsigned long line = timing.end - timing.start;
  unsigned long text =
      next.start > cursor
          ? MiddleTextLength(walk.data + cursor, next.start - cursor)
          : 0;
  unsigned long size = number.length + line + 2 + text + (text != 0 ? 4 : 2);
  // The covering copies read up to 15 bytes past the text, which lie in
  // the next timing line when it is 16 bytes long at least.
  if (sink.block == nullptr || kSinkSize - sink.used < size + 32 ||
      next.end - next.start < 16) {
    unsigned long at = 0;
    WriteHead(sink, walk, timing, at, number);
    WriteText(sink, walk, cursor, next);
    return;
  }
  char* to = sink.block + sink.used;
  memcpy(to, number.text, sizeof number.text);
  to += number.length;
  StepNumber(number);
  to = CopyCovering(to, walk.data + timing.start, line);
  memcpy(to, "\r\n\r\n", 4);
  to += 2;
  if (text != 0) {
    to = CopyCovering(to, walk.data + cursor, text);
    memcpy(to, "\r\n\r\n", 4);
    to += 2;
  }
  to += 2;
  sink.used += size;
  sink.total += size;
}

// The first byte after timing's line that is no line break, among the
// first ready bytes of the data, in cursor; false when there is none.
static bool FindText(const Walk& walk, const Timing& timing,
                     unsigned long ready, unsigned long& cursor) {
#if defined(__SSE2__)
  if (timing.end < ready && ready - timing.end >= 16) {
    unsigned text = ~TellBytes(walk.data + timing.end).breaks & 0xFFFF;
    if (text != 0) {
      cursor = timing.end + static_cast<unsigned long>(__builtin_ctz(text));
      return true;
    }
  }
#endif
  char* text = timing.end < ready
                   ? NextChar(walk.data + timing.end, ready - timing.end, false)
                   : nullptr;
  if (text == nullptr)
    return false;
  cursor = static_cast<unsigned long>(text - walk.data);
  return true;
}

// One entry that has another after it; moves timing on to that entry's.
// False when the rebuild ends here.
static bool WriteMiddle(Sink& sink, const Walk& walk, Timing& timing,
                        NumberLine& number) {
  unsigned long cursor = 0;
  if (timing.arrow == walk.length ||
      !FindText(walk, timing, walk.length, cursor)) {
    WriteHead(sink, walk, timing, cursor, number);
    return false;
  }
  Timing next = FindTiming(walk, cursor);
  if (next.arrow == walk.length) {
    // Masking counted an arrow that lies inside a timing line already
    // written, so no entry follows: this one is the last.
    WriteHead(sink, walk, timing, cursor, number);
    Put(sink, walk.data + cursor, walk.length - cursor);
    return false;
  }
  WriteEntry(sink, walk, timing, cursor, next, number);
  timing = next;
  return true;
}

void StartRebuild(Rebuild& rebuild, char* data, unsigned long length,
                  unsigned long first) {
  rebuild = Rebuild();
  rebuild.walk.data = data;
  rebuild.walk.length = length;
  StartNumbers(rebuild.number, first);
  rebuild.entry = 1;
}

// The first timing line whose arrow is at or after at, found and whole in
// the first ready bytes of the data (its line break among them); false
// when it is not yet.
static bool FindReadyTiming(const Walk& walk, unsigned long at,
                            unsigned long ready, Timing& timing) {
  timing.arrow = FindArrow(walk.data, ready, at);
  if (timing.arrow == ready)
    return false;
  FindTimingLine(walk.data, ready, walk.content, timing.arrow, timing.start,
                 timing.end);
  return timing.end < ready;
}

// Each entry goes out once every byte that writing it reads is ready: its
// timing line, the line breaks after it and the next entry's timing line,
// whole. The bytes it writes are then those of the rebuild of the whole
// data: every test made here sees what it would see there.
void ContinueRebuild(Rebuild& rebuild, unsigned long ready, Sink& sink) {
  Walk& walk = rebuild.walk;
  if (ready > walk.length || ready <= kUntestedBytes)
    return;
  if (!rebuild.started) {
    walk.content = FindContentStart(walk.data, walk.length);
    if (!FindReadyTiming(walk, 0, ready, rebuild.timing))
      return;
    rebuild.started = true;
  }
  for (;;) {
    Timing& timing = rebuild.timing;
    unsigned long cursor = 0;
    Timing next;
    if (!FindText(walk, timing, ready, cursor) ||
        !FindReadyTiming(walk, cursor, ready, next))
      return;
    WriteEntry(sink, walk, timing, cursor, next, rebuild.number);
    timing = next;
    ++rebuild.entry;
  }
}

void FinishRebuild(Rebuild& rebuild, unsigned long arrows, Sink& sink) {
  Walk& walk = rebuild.walk;
  if (!rebuild.started) {
    walk.content = FindContentStart(walk.data, walk.length);
    rebuild.timing = FindTiming(walk, 0);
    rebuild.started = true;
  }
  bool going = true;
  for (; going && rebuild.entry < arrows; ++rebuild.entry)
    going = WriteMiddle(sink, walk, rebuild.timing, rebuild.number);
  unsigned long cursor = 0;
  if (going && WriteHead(sink, walk, rebuild.timing, cursor, rebuild.number))
    Put(sink, walk.data + cursor, walk.length - cursor);
}

bool RebuildInto(char* data, unsigned long length, unsigned long first,
                 unsigned long arrows, Sink& sink) {
  if (arrows == 0 || length < kTimingLength)
    return false;
  Rebuild rebuild;
  StartRebuild(rebuild, data, length, first);
  FinishRebuild(rebuild, arrows, sink);
  return true;
}

static bool WriteToStream(void* to, char*& bytes, unsigned long count) {
  return fwrite(bytes, 1, count, static_cast<FILE*>(to)) == count;
}

bool RebuildSRT(char* data, unsigned long length, unsigned long first,
                unsigned long arrows, FILE* out) {
  if (out == nullptr)
    return false;
  Sink sink = {WriteToStream, out, static_cast<char*>(malloc(kSinkSize)), 0, 0,
               false};
  bool rebuilt = RebuildInto(data, length, first, arrows, sink);
  Flush(sink);
  free(sink.block);
  // Without a block nothing could be written: the rebuild is refused.
  return rebuilt && !sink.failed;
}
