// Fuzz target: masking, the line check, rebuild and unmask on any bytes.
// The input sits in a block of exactly its size, so one byte read past it
// is caught. A file the check lets through comes out with every timing
// line whole, in order, right after its number line, and a second repair
// of the output gives the same bytes.
#include "subtitle/mask.h"
#include "subtitle/rebuild.h"
#include "subtitle/scan.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

static void Check(bool holds, const char* what) {
  if (!holds) {
    fprintf(stderr, "invariant broken: %s\n", what);
    abort();
  }
}

static bool IsTimingArrow(const char* data, size_t at) {
  return data[at - 1] == '-' && data[at - 2] == '-' && data[at - 7] == ',' &&
         data[at - 10] == ':';
}

// The rebuild of masked data, unmasked, into a block of exactly the room
// it is promised, so that a write past it is caught.
static std::string Rebuilt(char* masked, size_t size, unsigned long arrows) {
  unsigned long room = size + arrows * kEntryAddsAtMost;
  char* out = static_cast<char*>(malloc(room));
  unsigned long written = 0;
  Check(RebuildSRT(masked, size, 1, arrows, out, written), "the rebuild runs");
  Check(written <= room, "the rebuild keeps to its room");
  ReplaceBytes(out, written, kPlaceholder, kArrow);
  std::string result(out, written);
  free(out);
  return result;
}

// Masks, rebuilds and unmasks data: the bytes a repair writes.
static std::string Repaired(const std::string& data, unsigned long arrows) {
  std::string masked = data;
  unsigned long counted = 0;
  ConvertChar(&masked[0], masked.size(), kPlaceholder, counted);
  Check(counted == arrows, "the arrows counted are the timing lines");
  return Rebuilt(&masked[0], masked.size(), arrows);
}

// Each timing line of in, whole, stands in out in order, each right after
// its number line.
static void CheckTimingLinesKept(const std::string& in, const std::string& out,
                                 unsigned long arrows) {
  size_t content = in.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  size_t found = 0;
  unsigned long number = 1;
  for (size_t i = 10; i < in.size(); ++i) {
    if (in[i] != '>' || !IsTimingArrow(in.data(), i))
      continue;
    size_t start = i, end = i;
    while (start > content && !IsLineBreak(in[start - 1]))
      --start;
    while (end < in.size() && !IsLineBreak(in[end]))
      ++end;
    std::string entry =
        std::to_string(number++) + "\r\n" + in.substr(start, end - start);
    found = out.find(entry, found);
    Check(found != std::string::npos, "a timing line kept whole, in order");
    Check(found == 0 || out.compare(found - 2, 2, "\r\n") == 0,
          "its number line starts a line");
    found += entry.size();
  }
  Check(number == arrows + 1, "every timing line is found");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  char* copy = static_cast<char*>(malloc(size ? size : 1));
  memcpy(copy, bytes, size);
  const char* in = reinterpret_cast<const char*>(bytes);
  unsigned long arrows = 12345;
  bool masked = ConvertChar(copy, size, kPlaceholder, arrows);
  Check(masked == (size != 10), "masking refuses exactly 10 bytes");
  if (!masked) {
    Check(memcmp(copy, in, size) == 0 && arrows == 12345, "refusal changes");
    free(copy);
    return 0;
  }
  unsigned long left = 0;
  for (size_t i = 0; i < size; ++i) {
    if (i < 10 || in[i] != '>') {
      Check(copy[i] == in[i], "only '>' from the eleventh byte on changes");
    } else if (IsTimingArrow(in, i)) {
      Check(copy[i] == '>', "a timing arrow stays");
      ++left;
    } else {
      Check(copy[i] == kPlaceholder, "a stray arrow is masked");
    }
  }
  Check(left == arrows, "the count is the arrows left");
  bool clean = memchr(in, kPlaceholder, size) == nullptr;
  if (clean && size > 28 && arrows != 0) {
    std::string input(in, size), output = Rebuilt(copy, size, arrows);
    Check(output.find(kPlaceholder) == std::string::npos,
          "nothing masked is left after the unmask");
    unsigned long line = 0;
    if (CheckTimingLines(in, size, line) == kNoLineFault &&
        output.size() > 28) {
      CheckTimingLinesKept(input, output, arrows);
      Check(CheckTimingLines(output.data(), output.size(), line) ==
                kNoLineFault,
            "the output passes the check");
      unsigned long again = 0;
      std::string masked = output;
      ConvertChar(&masked[0], masked.size(), kPlaceholder, again);
      Check(Repaired(output, again) == output,
            "a second repair changes nothing");
    }
  }
  free(copy);
  return 0;
}
