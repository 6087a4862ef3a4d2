// Fuzz target: masking, the line check, rebuild and unmask on any bytes,
// and the scan of the bytes as they arrive in pieces.
// The input sits in a block of exactly its size, so one byte read past it
// is caught. A file the check lets through comes out with every timing
// line whole, in order, right after its number line, and a second repair
// of the output gives the same bytes.
#include "input.h"
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

// Masks, rebuilds and unmasks data: the bytes a repair writes.
static std::string Repaired(const std::string& data, unsigned long arrows) {
  std::string masked = data;
  unsigned long counted = 0;
  ConvertChar(&masked[0], masked.size(), kPlaceholder, counted);
  Check(counted == arrows, "the arrows counted are the timing lines");
  char* out = nullptr;
  size_t written = 0;
  FILE* stream = open_memstream(&out, &written);
  Check(RebuildSRT(&masked[0], masked.size(), 1, arrows, stream),
        "the rebuild runs");
  fclose(stream);
  ReplaceBytes(out, written, kPlaceholder, kArrow);
  std::string result(out, written);
  free(out);
  return result;
}

static bool IsBreak(char c) {
  return c == '\r' || c == '\n';
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
    while (start > content && !IsBreak(in[start - 1]))
      --start;
    while (end < in.size() && !IsBreak(in[end]))
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

static bool AppendPiece(void* to, char*& block, unsigned long count) {
  static_cast<std::string*>(to)->append(block, count);
  return true;
}

// The rebuild of the masked data made as it is made ready, a piece at a
// time (of a size that step gives), then finished.
static std::string RebuiltAsReady(char* data, size_t size, unsigned long arrows,
                                  char step) {
  std::string out;
  static std::string block(kSinkSize, '\0');
  Sink sink = {AppendPiece, &out, &block[0], 0, 0, false};
  Rebuild rebuild;
  StartRebuild(rebuild, data, size, 1);
  unsigned long piece = 1 + static_cast<unsigned char>(step) % 61;
  for (unsigned long ready = 0; ready < size; ready += piece)
    ContinueRebuild(rebuild, ready, sink);
  FinishRebuild(rebuild, arrows, sink);
  Flush(sink);
  return out;
}

// Scanned in pieces (of a size that the first byte gives), in a block of
// exactly its size, the input shows what one look at the whole shows.
static void CheckScanInPieces(const char* in, size_t size) {
  if (size == 0)
    return;
  char* data = static_cast<char*>(malloc(size));
  memcpy(data, in, size);
  unsigned long piece = 1 + static_cast<unsigned char>(in[0]) % 97;
  InputScan scan;
  StartScan(scan);
  for (unsigned long have = piece; have < size; have += piece)
    ScanInput(scan, data, have, false);
  ScanInput(scan, data, size, true);
  const char* placeholder =
      static_cast<const char*>(memchr(in, kPlaceholder, size));
  unsigned long line = 0;
  LineFault fault = CheckTimingLines(in, size, line);
  std::string masked(in, size);
  unsigned long arrows = 0;
  ConvertChar(&masked[0], size, kPlaceholder, arrows);
  if (placeholder != nullptr)
    Check(scan.hasPlaceholder &&
              scan.placeholderAt == static_cast<size_t>(placeholder - in),
          "the scan finds the first placeholder");
  else if (fault != kNoLineFault)
    Check(!scan.hasPlaceholder && scan.fault == fault &&
              CountLines(data, scan.faultAt) == line,
          "the scan finds the first line fault");
  else
    Check(!scan.hasPlaceholder && scan.fault == kNoLineFault &&
              scan.arrows == arrows && masked.compare(0, size, data, size) == 0,
          "the scan masks as one look at the whole");
  free(data);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  CheckScanInPieces(reinterpret_cast<const char*>(bytes), size);
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
    char* out = nullptr;
    size_t written = 0;
    FILE* stream = open_memstream(&out, &written);
    Check(RebuildSRT(copy, size, 1, arrows, stream), "the rebuild runs");
    fclose(stream);
    Check(RebuiltAsReady(copy, size, arrows, in[size - 1]) ==
              std::string(out, written),
          "rebuilt as the data is ready, the same bytes");
    ReplaceBytes(out, written, kPlaceholder, kArrow);
    Check(memchr(out, kPlaceholder, written) == nullptr,
          "nothing masked is left after the unmask");
    unsigned long line = 0;
    std::string input(in, size), output(out, written);
    if (CheckTimingLines(in, size, line) == kNoLineFault && written > 28) {
      CheckTimingLinesKept(input, output, arrows);
      Check(CheckTimingLines(out, written, line) == kNoLineFault,
            "the output passes the check");
      unsigned long again = 0;
      std::string masked = output;
      ConvertChar(&masked[0], masked.size(), kPlaceholder, again);
      Check(Repaired(output, again) == output,
            "a second repair changes nothing");
    }
    free(out);
  }
  free(copy);
  return 0;
}
