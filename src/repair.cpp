// repair.cpp - the repair run's operations on the command line and on
// whole files. They report nothing; the run turns a false or null into its
// message.
#include "repair.h"

#include "platform.h"
#include "subtitle/scan.h"

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

// Two stamps of one file in one state: the same file, size and time of
// last write.
static bool IsSameState(const FileStamp& a, const FileStamp& b) {
  return a.device == b.device && a.index == b.index && a.size == b.size &&
         a.modified == b.modified;
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
  if (*path == '\0')
    return nullptr;
  FILE* in = fopen(path, "r+b");
  if (in == nullptr)
    return nullptr;
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
  fclose(in);
  if (data == nullptr)
    return nullptr;
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

bool CreateBackup(char* path, void* data, unsigned long& length,
                  const FileStamp* like) {
  if (*path == '\0' || length == 0)
    return false;
  char* made = nullptr;
  FILE* out = CreateFileBeside(path, &made);
  if (out == nullptr)
    return false;
  if (like != nullptr)
    CopyFileAccess(out, *like);
  bool written = fwrite(data, 1, length, out) == length && SyncFile(out);
  if (fclose(out) != 0)
    written = false;
  if (!written || !ReplaceByRename(made, path)) {
    remove(made); // gone already when only the folder's sync failed
    written = false;
  }
  free(made);
  return written;
}

FILE* OpenToRewrite(char* path, const FileStamp& read) {
  FILE* file = fopen(path, "r+b");
  if (file == nullptr)
    return nullptr;
  // Unbuffered: every write goes out when made (the rebuild gathers its
  // own blocks), so a failed one leaves nothing pending that a later flush
  // could write over the restored content.
  FileStamp now;
  if (setvbuf(file, nullptr, _IONBF, 0) != 0 || !GetFileStamp(file, now) ||
      !IsSameState(now, read) || !EmptyFile(file)) {
    fclose(file);
    return nullptr;
  }
  return file;
}

bool WriteWhole(FILE* file, const void* data, unsigned long length) {
  if (fseek(file, 0, SEEK_SET) != 0)
    return false;
  return fwrite(data, 1, length, file) == length && SyncFile(file);
}

// Bytes a pass over a file holds at a time.
static const unsigned long kPassBlock = 1UL << 20;

FilePass ReplaceBytesInFile(FILE* file, unsigned long minimum, char from,
                            char to) {
  FileStamp stamp;
  if (!GetFileStamp(file, stamp) || stamp.size < minimum ||
      stamp.size > static_cast<unsigned long long>(LONG_MAX))
    return kPassReadFailed;
  char* block = static_cast<char*>(malloc(kPassBlock));
  if (block == nullptr)
    return kPassReadFailed;
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
    if (fseek(file, at, SEEK_SET) != 0 ||
        fwrite(block, 1, count, file) != count) {
      pass = kPassWriteFailed;
      break;
    }
  }
  free(block);
  if (pass == kPassDone && !SyncFile(file))
    pass = kPassWriteFailed;
  return pass;
}

bool RestoreFile(FILE* file, const void* data, unsigned long length) {
  clearerr(file);
  return EmptyFile(file) && WriteWhole(file, data, length);
}
