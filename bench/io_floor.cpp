// io_floor.cpp - the repair run's file passes and nothing else: read the
// whole file, write the backup beside it (synced, renamed into place, the
// folder synced), empty and write the target, read it back, write it again
// and sync it. The cost a safe repair cannot go below.
#include "repair.h"

#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
  if (argc != 2)
    return 2;
  char* target = argv[1];
  char* backup = static_cast<char*>(malloc(strlen(target) + 1));
  unsigned long length = 0;
  FileStamp read;
  char* data = Readfile(target, length, &read);
  if (data == nullptr || !MakeBackupPath(target, backup) ||
      !CreateBackup(backup, data, length, &read))
    return 1;
  FILE* out = OpenToRewrite(target, read);
  if (out == nullptr || fwrite(data, 1, length, out) != length)
    return 1;
  free(data);
  data = ReadStream(out, length);
  if (data == nullptr || !WriteWhole(out, data, length) || fclose(out) != 0)
    return 1;
  free(data);
  free(backup);
  return 0;
}
