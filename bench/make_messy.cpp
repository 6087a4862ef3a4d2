// make_messy.cpp - writes a generated messy subtitle file of a given size.
// usage: make_messy BYTES PATH
#include "messy.h"

#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc != 3)
    return 2;
  std::string bytes = MakeMessySubtitles(strtoul(argv[1], nullptr, 10));
  FILE* out = fopen(argv[2], "wb");
  if (out == nullptr)
    return 1;
  bool written = fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return fclose(out) == 0 && written ? 0 : 1;
}
