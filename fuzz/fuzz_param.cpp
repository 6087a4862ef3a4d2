// Fuzz target: the launch argument from any command-line text.
#include "command_line.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  // The text ends at the input's first NUL, or at one put after it.
  char* text = static_cast<char*>(malloc(size + 1));
  memcpy(text, bytes, size);
  text[size] = '\0';
  size_t length = strlen(text);
  if (ConvertParam(text)) {
    if (memchr(text, '\0', length + 1) == nullptr || strlen(text) >= length) {
      fprintf(stderr, "the argument is not a shorter text inside the buffer\n");
      abort();
    }
  }
  free(text);
  return 0;
}
