// io_floor.cpp - the least a safe in-place repair must do, for each file
// named, with no processing: read the file once; write its bytes once to a
// new file beside it and sync that; make the backup a second name of the
// file as read (synced first), renamed into place with its folder synced;
// rename the new file over the file and sync the folder. The floor that
// the program is measured against.
#include "files.h"
#include "platform.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

// The passes for one file; false when one fails.
static bool Pass(const char* target) {
  char* backup = static_cast<char*>(malloc(strlen(target) + 1));
  unsigned long length = 0;
  FileStamp read;
  char* data = Readfile(target, length, &read);
  bool done =
      data != nullptr && backup != nullptr && MakeBackupPath(target, backup);
  char* made = nullptr;
  FILE* out =
      done ? CreateFileBeside(target, BesideTag(target), kRepairBeside, &made)
           : nullptr;
  char* second =
      done ? MakeBesideName(target, BesideTag(target), kBackupBeside) : nullptr;
  done = out != nullptr && second != nullptr &&
         fwrite(data, 1, length, out) == length && SyncFile(out) &&
         SyncFileAsRead(target, read) && link(target, second) == 0 &&
         ReplaceByRename(second, backup);
  if (out != nullptr && fclose(out) != 0)
    done = false;
  done = done && ReplaceByRename(made, target);
  free(second);
  free(made);
  free(data);
  free(backup);
  return done;
}

int main(int argc, char** argv) {
  if (argc < 2)
    return 2;
  for (int at = 1; at < argc; ++at)
    if (!Pass(argv[at]))
      return 1;
  return 0;
}
