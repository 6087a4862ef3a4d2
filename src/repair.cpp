// repair.cpp - the repair run's operations on the command line and on
// whole files. They report nothing; the run turns a false or null into its
// message.
#include "repair.h"

#include "platform.h"
#include "subtitle/scan.h"

#include <errno.h>
#include <limits.h>
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

// Reads size bytes from the newly opened file into a new block of exactly
// that size (one byte for an empty file, so that the block exists).
static char* ReadBlock(FILE* file, unsigned long long size) {
  // The length type and one fread must hold the size; so must a long, as
  // the largest file position the streams promise everywhere.
  if (size > static_cast<unsigned long long>(LONG_MAX))
    return nullptr;
  size_t count = static_cast<size_t>(size);
  char* data = static_cast<char*>(malloc(count != 0 ? count : 1));
  if (data == nullptr)
    return nullptr;
  AdviseFileBlock(data, static_cast<unsigned long>(count));
  if (fread(data, 1, count, file) != count) {
    free(data);
    return nullptr;
  }
  return data;
}

char* Readfile(char* path, unsigned long& length, FileStamp* stamp) {
  if (*path == '\0') {
    errno = ENOENT;
    return nullptr;
  }
  FILE* in = fopen(path, "r+b");
  if (in == nullptr)
    return nullptr;
  errno = 0;
  // The stamps before and after the read agree only when nothing wrote to
  // the file meanwhile, so the bytes read are one state of it.
  FileStamp before, after;
  char* data = nullptr;
  if (GetFileStamp(in, before))
    data = ReadBlock(in, before.size);
  if (data != nullptr &&
      (!GetFileStamp(in, after) || !IsSameState(before, after))) {
    free(data);
    data = nullptr;
  }
  int error = errno;
  fclose(in);
  if (data == nullptr) {
    errno = error;
    return nullptr;
  }
  length = static_cast<unsigned long>(before.size);
  if (stamp != nullptr)
    *stamp = before;
  return data;
}

bool MakeBackupPath(char* source, char* destination) {
  size_t length = strlen(source);
  if (length - FolderLength(source) < 3)
    return false;
  memcpy(destination, source, length + 1);
  memcpy(destination + length - 3, "old", 3);
  return true;
}

char* ReadStream(FILE* in, unsigned long& length) {
  unsigned long size = 0, room = 1UL << 16;
  char* data = static_cast<char*>(malloc(room));
  while (data != nullptr) {
    size += static_cast<unsigned long>(fread(data + size, 1, room - size, in));
    if (size < room)
      break;
    char* grown = room <= LONG_MAX / 2
                      ? static_cast<char*>(realloc(data, room * 2))
                      : nullptr;
    if (grown == nullptr) {
      free(data);
      errno = ENOMEM;
      return nullptr;
    }
    data = grown;
    room *= 2;
  }
  if (data != nullptr && ferror(in) != 0) {
    free(data);
    data = nullptr;
  }
  if (data != nullptr)
    length = size;
  return data;
}

bool CreateBackup(char* path, void* data, unsigned long& length,
                  const FileStamp* like, const char* from) {
  if (*path == '\0' || length == 0)
    return false;
  char* made = nullptr;
  FILE* out = CreateFileBeside(path, from != nullptr ? BesideTag(from) : 0,
                               kBackupBeside, &made);
  if (out == nullptr)
    return false;
  if (like != nullptr)
    CopyFileAccess(out, from, *like);
  bool written = fwrite(data, 1, length, out) == length && SyncFile(out);
  int error = errno;
  if (fclose(out) != 0 && written) {
    written = false;
    error = errno;
  }
  if (written && !ReplaceByRename(made, path)) {
    written = false;
    error = errno;
  }
  if (!written)
    remove(made); // gone already when only the folder's sync failed
  free(made);
  errno = error;
  return written;
}

// Bytes a pass over a file holds at a time.
static const unsigned long kPassBlock = 1UL << 20;

FilePass ReplaceBytesInFile(FILE* file, unsigned long minimum, char from,
                            char to, FILE* into, Likeness* like) {
  FileStamp stamp;
  if (fflush(file) != 0 || !GetFileStamp(file, stamp) || stamp.size < minimum ||
      stamp.size > static_cast<unsigned long long>(LONG_MAX))
    return kPassReadFailed;
  char* block = static_cast<char*>(malloc(kPassBlock));
  if (block == nullptr)
    return kPassReadFailed;
  if (like != nullptr)
    like->same = stamp.size == like->length;
  FILE* out = into != nullptr ? into : file;
  FilePass pass = kPassDone;
  for (long at = 0; at < static_cast<long>(stamp.size); at += kPassBlock) {
    unsigned long left = static_cast<unsigned long>(stamp.size) - at;
    size_t count = left < kPassBlock ? left : kPassBlock;
    if (fseek(file, at, SEEK_SET) != 0 ||
        fread(block, 1, count, file) != count) {
      pass = kPassReadFailed;
      break;
    }
    ReplaceBytes(block, count, from, to);
    if (like != nullptr && like->same)
      like->same = memcmp(block, like->data + at, count) == 0;
    if ((into == nullptr && fseek(file, at, SEEK_SET) != 0) ||
        fwrite(block, 1, count, out) != count) {
      pass = kPassWriteFailed;
      break;
    }
  }
  int error = errno;
  free(block);
  if (pass == kPassDone && fflush(out) != 0)
    pass = kPassWriteFailed;
  else
    errno = error;
  return pass;
}
