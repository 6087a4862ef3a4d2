// Fuzz target: whole repair runs on a real file beside an older backup.
// A run that repairs the file leaves the input in the backup and no
// placeholder in the file; a run that fails, or finds the file in order,
// leaves the file and the older backup as they were; either way nothing
// else is left in the folder.
#include "run.h"

#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static void Check(bool holds, const char* what) {
  if (!holds) {
    fprintf(stderr, "invariant broken: %s\n", what);
    abort();
  }
}

static char folder[64];

static void RemoveFolder() {
  char command[96];
  snprintf(command, sizeof command, "rm -rf '%s'", folder);
  if (system(command) != 0)
    fprintf(stderr, "could not remove %s\n", folder);
}

static char* TempPath(const char* name) {
  if (folder[0] == '\0') {
    snprintf(folder, sizeof folder, "/tmp/zelvar-fuzz-XXXXXX");
    Check(mkdtemp(folder) != nullptr, "a scratch folder");
    atexit(RemoveFolder);
  }
  size_t size = strlen(folder) + strlen(name) + 2;
  char* path = static_cast<char*>(malloc(size));
  snprintf(path, size, "%s/%s", folder, name);
  return path;
}

static void WriteBytes(const char* path, const void* bytes, size_t size) {
  FILE* out = fopen(path, "wb");
  Check(out != nullptr, "a file opens for writing");
  Check(fwrite(bytes, 1, size, out) == size, "a file is written");
  Check(fclose(out) == 0, "a file closes");
}

// True when the file at path holds exactly size bytes equal to bytes.
static bool Holds(const char* path, const void* bytes, size_t size) {
  FILE* in = fopen(path, "rb");
  if (in == nullptr)
    return false;
  char* read = static_cast<char*>(malloc(size + 1));
  bool same =
      fread(read, 1, size + 1, in) == size && memcmp(read, bytes, size) == 0;
  free(read);
  fclose(in);
  return same;
}

static int CountEntries() {
  DIR* listing = opendir(folder);
  int count = 0;
  while (const struct dirent* entry = readdir(listing))
    count += entry->d_name[0] != '.' || strlen(entry->d_name) > 2;
  closedir(listing);
  return count;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  static char* target = TempPath("movie.srt");
  static char* backup = TempPath("movie.old");
  static const char kOlder[] = "an older backup";
  WriteBytes(target, bytes, size);
  WriteBytes(backup, kOlder, sizeof kOlder);
  RunOutcome outcome;
  bool done = RunRepair(target, kRepairFile, outcome);
  if (done && !outcome.changed) {
    Check(Holds(target, bytes, size), "a file in order stays as it is");
    Check(Holds(backup, kOlder, sizeof kOlder), "and so does its backup");
  } else if (done) {
    Check(Holds(backup, bytes, size), "the backup holds the input");
    FILE* in = fopen(target, "rb");
    Check(in != nullptr, "the repair reads back");
    for (int c; (c = fgetc(in)) != EOF;)
      Check(c != 0xD0, "no placeholder is left");
    fclose(in);
  } else {
    Check(Holds(target, bytes, size), "a failed run leaves the file");
    Check(Holds(backup, kOlder, sizeof kOlder), "and the older backup");
  }
  Check(CountEntries() == 2, "no other file is left");
  return 0;
}
