// files.cpp - whole files: read into memory, the backup's name, the backup
// written beside the file, and the names of the files made beside it. They
// report nothing; the run turns a false or null into its message.
#include "files.h"

#include "platform.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

char* Readfile(const char* path, unsigned long& length, FileStamp* stamp,
               bool forWriting) {
  FILE* in = OpenFile(path, forWriting); // an empty path fails here too
  if (in == nullptr)
    return nullptr;
  errno = 0;
  // The stamps before and after the read agree only when nothing wrote to
  // the file meanwhile, so the bytes read are one state of it. A size
  // beyond a long, the largest file position the streams promise
  // everywhere, is not read.
  FileStamp before, after;
  char* data = nullptr;
  if (GetFileStamp(in, before) &&
      before.size <= static_cast<unsigned long long>(LONG_MAX))
    data = static_cast<char*>(malloc(before.size != 0 ? before.size : 1));
  size_t size = static_cast<size_t>(before.size);
  // A byte past the size that the system gave is a file whose size is not
  // known before it is read (a system file), or one that grew meanwhile.
  bool whole = data != nullptr && fread(data, 1, size, in) == size &&
               fgetc(in) == EOF && GetFileStamp(in, after) &&
               IsSameState(before, after);
  int error = errno;
  fclose(in);
  if (!whole) {
    free(data);
    errno = error;
    return nullptr;
  }
  length = static_cast<unsigned long>(size);
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
  if (data == nullptr || ferror(in) != 0) {
    free(data);
    return nullptr;
  }
  length = size;
  return data;
}

bool CreateBackup(const char* path, const void* data,
                  const unsigned long& length, const FileStamp* fromStamp,
                  const char* from) {
  if (*path == '\0' || length == 0)
    return false;
  char* besideName = nullptr;
  FILE* out = CreateFileBeside(path, from != nullptr ? BesideTag(from) : 0,
                               kBackupBeside, &besideName);
  if (out == nullptr)
    return false;
  if (fromStamp != nullptr)
    CopyFileAccess(out, from, *fromStamp);
  // Closed before it is renamed, as Windows wants it; the run lock on the
  // file keeps other runs on it from taking this one for a cut-off run's.
  bool written = fwrite(data, 1, length, out) == length && SyncFile(out);
  int error = errno;
  bool closed = fclose(out) == 0;
  if (written && (!closed || !ReplaceByRename(besideName, path))) {
    written = false;
    error = errno; // of the close or the rename
  }
  if (!written)
    RemoveFile(besideName); // gone already when only the folder's sync failed
  free(besideName);
  errno = error;
  return written;
}

bool HoldsExactly(const char* path, const char* data, unsigned long length) {
  FILE* in = OpenFile(path, false);
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

// A file made beside another: kBesideStart, the file's tag and a random
// number in 16 hexadecimal digits each, what it is for, and kBesideEnd.
static const char* const kBesideKinds[] = {"backup", "repair"};
static const size_t kHexDigits = 16;

// A number no other run can foresee: the platform's entropy and a count
// of calls, mixed (splitmix64).
static unsigned long long NewRandomNumber() {
  static unsigned long long calls = 0;
  unsigned long long number = GetEntropy() ^ ++calls;
  number = (number ^ (number >> 30)) * 0xBF58476D1CE4E5B9ULL;
  number = (number ^ (number >> 27)) * 0x94D049BB133111EBULL;
  return number ^ (number >> 31);
}

char* MakeBesideName(const char* path, unsigned long long tag,
                     BesideKind kind) {
  size_t folder = FolderLength(path);
  size_t size = folder + strlen(kBesideStart) + 2 * (kHexDigits + 1) +
                strlen(kBesideKinds[kind]) + strlen(kBesideEnd) + 1;
  char* name = static_cast<char*>(malloc(size));
  if (name == nullptr)
    return nullptr;
  snprintf(name, size, "%.*s%s%016llx-%016llx-%s%s", static_cast<int>(folder),
           path, kBesideStart, tag, NewRandomNumber(), kBesideKinds[kind],
           kBesideEnd);
  return name;
}

bool IsBesideName(const char* name, unsigned long long tag, BesideKind& kind) {
  char prefix[64];
  snprintf(prefix, sizeof prefix, "%s%016llx-", kBesideStart, tag);
  size_t length = strlen(prefix);
  if (strncmp(name, prefix, length) != 0)
    return false;
  const char* at = name + length; // the random number, a '-' and the kind
  if (strspn(at, "0123456789abcdef") != kHexDigits || at[kHexDigits] != '-')
    return false;
  at += kHexDigits + 1;
  for (int each = kBackupBeside; each <= kRepairBeside; ++each) {
    size_t kindLength = strlen(kBesideKinds[each]);
    if (strncmp(at, kBesideKinds[each], kindLength) == 0 &&
        strcmp(at + kindLength, kBesideEnd) == 0) {
      kind = static_cast<BesideKind>(each);
      return true;
    }
  }
  return false;
}

bool AddName(char**& names, unsigned long& count, const char* name) {
  char** grown =
      static_cast<char**>(realloc(names, (count + 1) * sizeof(char*)));
  if (grown != nullptr)
    names = grown;
  char* copy = grown != nullptr ? strdup(name) : nullptr;
  if (copy == nullptr)
    return false;
  names[count++] = copy;
  return true;
}

// Tries of fresh names before a run gives up making a file beside another.
static const int kNameTries = 16;

FILE* CreateFileBeside(const char* path, unsigned long long tag,
                       BesideKind kind, char** besideName) {
  for (int tries = 0; tries < kNameTries; ++tries) {
    char* name = MakeBesideName(path, tag, kind);
    if (name == nullptr)
      return nullptr;
    FILE* file = CreateNewFile(name);
    if (file != nullptr) {
      *besideName = name;
      return file;
    }
    int error = errno;
    free(name);
    errno = error;
    if (error != EEXIST)
      return nullptr;
  }
  return nullptr;
}

void FreeNames(char** names, unsigned long count) {
  for (unsigned long at = 0; at < count; ++at)
    free(names[at]);
  free(names);
}

unsigned long long BesideTag(const char* path) {
  unsigned long long hash = 14695981039346656037ULL;
  for (const char* at = path + FolderLength(path); *at != '\0'; ++at)
    hash = (hash ^ static_cast<unsigned char>(*at)) * 1099511628211ULL;
  return hash;
}
