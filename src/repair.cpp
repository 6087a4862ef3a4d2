// repair.cpp - the repair run's operations on the command line and on
// whole files. They report nothing; the run turns a false or null into its
// message.
#include "repair.h"

#include "platform.h"
#include "subtitle/scan.h"

#include <stdio.h>
#include <stdlib.h>
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

// Size of the open file, or -1 when it cannot be taken (a pipe, or a file
// too large for a long, which also bounds the length type and one block).
static long GetFileSize(FILE* file) {
  if (fseek(file, 0, SEEK_END) != 0)
    return -1;
  long size = ftell(file);
  if (size < 0)
    return -1;
  rewind(file);
  return size;
}

char* Readfile(char* path, unsigned long& length) {
  if (*path == '\0')
    return nullptr;
  FILE* in = fopen(path, "r+b");
  if (in == nullptr)
    return nullptr;
  char* data = nullptr;
  long size = GetFileSize(in);
  if (size >= 0)
    data = static_cast<char*>(malloc(size != 0 ? size : 1));
  if (data != nullptr) {
    AdviseFileBlock(data, static_cast<unsigned long>(size));
    if (fread(data, 1, size, in) != static_cast<size_t>(size)) {
      free(data);
      data = nullptr;
    }
  }
  fclose(in);
  if (data != nullptr)
    length = static_cast<unsigned long>(size);
  return data;
}

bool MakeBackupPath(char* source, char* destination) {
  size_t length = strlen(source);
  if (length < 3)
    return false;
  memcpy(destination, source, length + 1);
  memcpy(destination + length - 3, "old", 3);
  return true;
}

bool Writefile(char* path, void* data, unsigned long length) {
  FILE* out = fopen(path, "wb");
  if (out == nullptr)
    return false;
  bool written = fwrite(data, 1, length, out) == length;
  if (fclose(out) != 0)
    written = false;
  return written;
}

bool CreateBackup(char* path, void* data, unsigned long& length) {
  if (*path == '\0' || length == 0)
    return false;
  return Writefile(path, data, length);
}
