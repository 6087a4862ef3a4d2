// command_line.cpp - the Windows program's launch argument: the dropped
// file's path, taken out of the process's command line in place.
#include "command_line.h"

#include "subtitle/scan.h"

#include <string.h>

static const unsigned long kMinCommandLine = 21;
static const char kQuote = '"';

bool ConvertParam(char* text) {
  unsigned long length = strlen(text);
  if (text[0] != kQuote || length < kMinCommandLine)
    return false;
  char* closing = FindNextByte(text + 1, length - 1, kQuote, false);
  if (closing == text + 1)
    return false; // no closing quote, or an empty program path
  char* separator = closing + 1;
  if (*separator == '\0' || separator[1] == '\0')
    return false;
  char* argument = separator + 1;
  if (*argument == kQuote) {
    if (argument[1] == '\0')
      return false;
    text[length - 1] = '\0';
    ++argument;
    if (*argument == '\0')
      return false;
  }
  GetField(text, argument, '\0', strlen(argument) + 1, true);
  return true;
}
