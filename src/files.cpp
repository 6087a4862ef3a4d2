// files.cpp - whole files: read into memory, the backup's name, and the
// backup written beside the file. They report nothing; the run turns a false
// or null into its message.
#include "files.h"

#include "platform.h"
#include "subtitle/scan.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// Bytes read at a time when each piece is told of as it arrives.
static const size_t kReadPiece = 1UL << 20;

// Reads count bytes from the newly opened file into data, telling progress
// (if given) of each piece; false when they cannot be read.
static bool ReadBlock(FILE* file, char* data, size_t count,
                      ReadProgress progress, void* to) {
  size_t piece = progress != nullptr ? kReadPiece : count;
  for (size_t have = 0; have < count;) {
    size_t part = count - have < piece ? count - have : piece;
    if (fread(data + have, 1, part, file) != part)
      return false;
    have += part;
    if (progress != nullptr)
      progress(to, data, static_cast<unsigned long>(have),
               static_cast<unsigned long>(count), false);
  }
  return true;
}

// A new block of size bytes (one for an empty file, so that the block
// exists); null when there is none, or the size is more than the length
// type and one fread hold, or a long, the largest file position the streams
// promise everywhere.
static char* NewFileBlock(unsigned long long size) {
  if (size > static_cast<unsigned long long>(LONG_MAX))
    return nullptr;
  return static_cast<char*>(NewWalkedBlock(static_cast<unsigned long>(size)));
}

char* Readfile(const char* path, unsigned long& length, FileStamp* stamp,
               bool forWriting, ReadProgress progress, void* to) {
  if (*path == '\0') {
    errno = ENOENT;
    return nullptr;
  }
  FILE* in = fopen(path, forWriting ? "r+b" : "rb");
  if (in == nullptr)
    return nullptr;
  errno = 0;
  // The stamps before and after the read agree only when nothing wrote to
  // the file meanwhile, so the bytes read are one state of it.
  FileStamp before, after;
  char* data = nullptr;
  if (GetFileStamp(in, before))
    data = NewFileBlock(before.size);
  // A byte past the size that the system gave is a file whose size is not
  // known before it is read (a system file), or one that grew meanwhile.
  bool whole =
      data != nullptr &&
      ReadBlock(in, data, static_cast<size_t>(before.size), progress, to) &&
      fgetc(in) == EOF && GetFileStamp(in, after) && IsSameState(before, after);
  int error = errno;
  fclose(in);
  if (progress != nullptr)
    progress(to, data, whole ? static_cast<unsigned long>(before.size) : 0,
             static_cast<unsigned long>(before.size), true);
  if (!whole) {
    free(data);
    errno = error;
    return nullptr;
  }
  length = static_cast<unsigned long>(before.size);
  if (stamp != nullptr)
    *stamp = before;
  return data;
}

bool MakeBackupPath(const char* source, char* destination) {
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

// A rename between two names of one file does nothing, so the name made is
// removed after it either way.
bool LinkBackup(const char* path, FileStamp& like, const char* from) {
  char* made = LinkFileBeside(from, BesideTag(from), like);
  if (made == nullptr)
    return false;
  bool renamed = ReplaceByRename(made, path);
  int error = errno;
  RemoveFile(made);
  free(made);
  // The rename sets the file's change time too: the time to compare with
  // later is the one after it.
  FileStamp now;
  if (renamed && GetPathStamp(from, now) && IsSameState(now, like))
    like.changed = now.changed;
  errno = error;
  return renamed;
}

bool CreateBackup(const char* path, const void* data,
                  const unsigned long& length, FileStamp* like,
                  const char* from, bool mayLink) {
  if (*path == '\0' || length == 0)
    return false;
  if (mayLink && like != nullptr && from != nullptr &&
      LinkBackup(path, *like, from))
    return true;
  char* made = nullptr;
  FILE* out = CreateFileBeside(path, from != nullptr ? BesideTag(from) : 0,
                               kBackupBeside, &made);
  if (out == nullptr)
    return false;
  if (like != nullptr)
    CopyFileAccess(out, from, *like);
  // Closed before it is renamed, as Windows wants it. Between the two, a
  // run on another file in the folder may take it for a killed run's and
  // remove it: the rename then fails, and the run with it, changing nothing.
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
    RemoveFile(made); // gone already when only the folder's sync failed
  free(made);
  errno = error;
  return written;
}

bool HoldsExactly(const char* path, const char* data, unsigned long length) {
  FILE* in = fopen(path, "rb");
  if (in == nullptr)
    return false;
  char block[1 << 16];
  unsigned long at = 0;
  bool same = true;
  for (size_t got; same && (got = fread(block, 1, sizeof block, in)) != 0;
       at += got)
    same = got <= length - at && memcmp(block, data + at, got) == 0;
  same = same && at == length && ferror(in) == 0;
  fclose(in);
  return same;
}

char* MakeBesideName(const char* path, unsigned long long tag,
                     BesideKind kind) {
  static const char* const kKinds[] = {"backup", "repair"};
  size_t folder = FolderLength(path);
  size_t size = folder + strlen(kBesidePattern) + 16 + strlen(kKinds[kind]);
  char* name = static_cast<char*>(malloc(size));
  if (name == nullptr)
    return nullptr;
  memcpy(name, path, folder);
  snprintf(name + folder, size - folder, kBesidePattern, tag, kKinds[kind]);
  return name;
}

void RemoveFilesBeside(const char* path, unsigned long long tag) {
  static const BesideKind kKinds[] = {kBackupBeside, kRepairBeside};
  for (BesideKind kind : kKinds) {
    char* name = MakeBesideName(path, tag, kind);
    if (name != nullptr)
      RemoveLeftover(name);
    free(name);
  }
}
