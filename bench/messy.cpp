// messy.cpp - the benchmarks' generated input.
#include "messy.h"

#include <stdio.h>

static const char* const kTexts[] = {
    "Where is everybody?",
    "<i>The ferry left at noon,</i>",
    "they said.",
    "<b>Then we wait > we swim.</b>",
    "He laughed. Nobody else did.",
    "<font color=\"#ffcc00\">THE END</font>",
    "- Are you sure?\n- Quite sure.",
};

std::string MakeMessySubtitles(unsigned long size) {
  std::string out;
  out.reserve(size + 256);
  unsigned long state = 12345;
  unsigned long entry = 0;
  while (out.size() < size) {
    state = state * 6364136223846793005UL + 1442695040888963407UL;
    unsigned long pick = state >> 33;
    const char* breakBytes = (pick & 1) ? "\r\n" : "\n";
    unsigned long seconds = entry * 3;
    char line[96];
    snprintf(line, sizeof line,
             "%lu%s%02lu:%02lu:%02lu,%03lu --> "
             "%02lu:%02lu:%02lu,%03lu%s",
             entry * 7 % 1000 + 1, breakBytes, seconds / 3600 % 100,
             seconds / 60 % 60, seconds % 60, pick % 1000,
             (seconds + 2) / 3600 % 100, (seconds + 2) / 60 % 60,
             (seconds + 2) % 60, pick / 7 % 1000, breakBytes);
    out += line;
    if (pick % 5 == 0)
      out += breakBytes; // a blank line before the text
    unsigned long lines = 1 + (pick >> 4) % 2;
    for (unsigned long i = 0; i < lines; ++i) {
      out += kTexts[(pick >> (8 + 3 * i)) % 7];
      out += breakBytes;
    }
    out += breakBytes;
    if (pick % 3 == 0)
      out += breakBytes; // more blank lines between entries
    ++entry;
  }
  return out;
}
