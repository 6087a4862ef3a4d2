// io_floor.cpp - the repair run's file passes and nothing else: read the
// whole file, write the backup beside it (synced, renamed into place, the
// folder synced), empty and write the target, read it back and write it
// again a block at a time, and sync it. The cost a safe repair cannot go
// below.
//
// With --unsynced first, the same five passes as plain stdio writes with
// nothing synced or renamed: what the passes cost before the repair was
// made safe, to show what the syncs add.
#include "repair.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static bool WritePlain(const char* path, const char* data,
                       unsigned long length) {
  FILE* out = fopen(path, "wb");
  if (out == nullptr)
    return false;
  bool written = fwrite(data, 1, length, out) == length;
  return fclose(out) == 0 && written;
}

int main(int argc, char** argv) {
  bool unsynced = argc == 3 && strcmp(argv[1], "--unsynced") == 0;
  if (argc != 2 && !unsynced)
    return 2;
  char* target = argv[argc - 1];
  char* backup = static_cast<char*>(malloc(strlen(target) + 1));
  unsigned long length = 0;
  FileStamp read;
  char* data = Readfile(target, length, &read);
  if (data == nullptr || !MakeBackupPath(target, backup))
    return 1;
  if (unsynced) {
    if (!WritePlain(backup, data, length) || !WritePlain(target, data, length))
      return 1;
    free(data);
    data = Readfile(target, length);
    if (data == nullptr || !WritePlain(target, data, length))
      return 1;
    free(data);
    free(backup);
    return 0;
  }
  if (!CreateBackup(backup, data, length, &read))
    return 1;
  FILE* out = OpenToRewrite(target, read);
  if (out == nullptr || fwrite(data, 1, length, out) != length)
    return 1;
  free(data);
  // Replacing a byte by itself changes nothing: the pass is I/O alone.
  if (ReplaceBytesInFile(out, 0, '>', '>') != kPassDone || fclose(out) != 0)
    return 1;
  free(backup);
  return 0;
}
