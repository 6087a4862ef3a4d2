// io_floor.cpp - the least a safe in-place repair must do, for each file
// named, with no processing: read the file once; write its bytes once to a
// new file beside it and sync that; make the backup a second name of the
// file as read (synced first), renamed into place with its folder synced;
// rename the new file over the file and sync the folder. The floor that
// the program is measured against. With --block first, the bytes are
// copied into a second block of new memory and written from there: the
// least that building a repair in memory adds.
#include "files.h"
#include "platform.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

// The passes for one file, its bytes written from a second block when
// block; false when one fails.
static bool Pass(const char* target, bool block) {
  char* backup = static_cast<char*>(malloc(strlen(target) + 1));
  unsigned long length = 0;
  FileStamp read;
  char* data = Readfile(target, length, &read);
  bool done =
      data != nullptr && backup != nullptr && MakeBackupPath(target, backup);
  char* bytes = data;
  if (done && block) {
    bytes = static_cast<char*>(malloc(length));
    done = bytes != nullptr;
    if (done)
      memcpy(bytes, data, length);
  }
  char* besideName = nullptr;
  FILE* out = done ? CreateFileBeside(target, BesideTag(target), kRepairBeside,
                                      &besideName)
                   : nullptr;
  char* second =
      done ? MakeBesideName(target, BesideTag(target), kBackupBeside) : nullptr;
  done = out != nullptr && second != nullptr &&
         fwrite(bytes, 1, length, out) == length && SyncFile(out) &&
         SyncFileAsRead(target, read) && link(target, second) == 0 &&
         ReplaceByRename(second, backup);
  if (out != nullptr && fclose(out) != 0)
    done = false;
  done = done && ReplaceByRename(besideName, target);
  free(second);
  free(besideName);
  if (bytes != data)
    free(bytes);
  free(data);
  free(backup);
  return done;
}

int main(int argc, char** argv) {
  bool block = argc > 1 && strcmp(argv[1], "--block") == 0;
  if (argc < 2 + block)
    return 2;
  for (int at = 1 + block; at < argc; ++at)
    if (!Pass(argv[at], block))
      return 1;
  return 0;
}
