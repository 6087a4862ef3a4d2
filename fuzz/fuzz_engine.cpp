// Fuzz target: masking, rebuild and unmask on any bytes. The input sits in
// a block of exactly its size, so one byte read past it is caught.
#include "subtitle/mask.h"
#include "subtitle/rebuild.h"
#include "subtitle/scan.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char kPlaceholder = '\xD0';

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
    char* out = nullptr;
    size_t written = 0;
    FILE* stream = open_memstream(&out, &written);
    Check(RebuildSRT(copy, size, 1, arrows, stream), "the rebuild runs");
    fclose(stream);
    ReplaceBytes(out, written, kPlaceholder, '>');
    Check(memchr(out, kPlaceholder, written) == nullptr,
          "nothing masked is left after the unmask");
    free(out);
  }
  free(copy);
  return 0;
}
