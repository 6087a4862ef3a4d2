// io_floor.cpp - the repair run's file passes and nothing else, for each
// file named: read the whole file, write a new file beside it, write the
// backup (synced, renamed into place, the folder synced), read the new file
// back and write it again a block at a time, sync it, and rename it over
// the file. The cost a safe repair cannot go below.
//
// With --unsynced first, the same five passes as plain stdio writes with
// nothing synced or renamed: what the passes cost before the repair was
// made safe, to show what the syncs add.
#include "platform.h"
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

// The passes for one file; false when one fails.
static bool Pass(char* target, bool unsynced) {
  char* backup = static_cast<char*>(malloc(strlen(target) + 1));
  unsigned long length = 0;
  FileStamp read;
  char* data = Readfile(target, length, &read);
  if (data == nullptr || backup == nullptr || !MakeBackupPath(target, backup))
    return false;
  bool done;
  if (unsynced) {
    done = WritePlain(backup, data, length) && WritePlain(target, data, length);
    free(data);
    data = done ? Readfile(target, length) : nullptr;
    done = data != nullptr && WritePlain(target, data, length);
  } else {
    char* made = nullptr;
    FILE* out = CreateFileBeside(target, BesideTag(target), kRepairBeside, &made);
    done = out != nullptr && fwrite(data, 1, length, out) == length &&
           CreateBackup(backup, data, length, &read, target) &&
           // Replacing a byte by itself changes nothing: the pass is I/O.
           ReplaceBytesInFile(out, 0, '>', '>') == kPassDone && SyncFile(out);
    if (out != nullptr && fclose(out) != 0)
      done = false;
    done = done && ReplaceByRename(made, target);
    free(made);
  }
  free(data);
  free(backup);
  return done;
}

int main(int argc, char** argv) {
  bool unsynced = argc >= 3 && strcmp(argv[1], "--unsynced") == 0;
  if (argc < 2 + unsynced)
    return 2;
  for (int at = 1 + unsynced; at < argc; ++at)
    if (!Pass(argv[at], unsynced))
      return 1;
  return 0;
}
