// Fuzz target: the run's operations on a real file, in the order the run
// takes them: read, refuse, back up, mask, rebuild, read back, unmask,
// write. The backup must hold the input, and the result no placeholder.
#include "repair.h"
#include "subtitle/mask.h"
#include "subtitle/rebuild.h"
#include "subtitle/scan.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static const char kPlaceholder = '\xD0';

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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  static char* target = TempPath("movie.srt");
  static char* backup = TempPath("movie.old");
  Check(Writefile(target, const_cast<uint8_t*>(bytes), size),
        "the input is written");
  unsigned long length = 0;
  char* data = Readfile(target, length);
  Check(data != nullptr && length == size, "the file reads back whole");
  bool refused = length < 29 || memchr(data, kPlaceholder, length) != nullptr;
  if (!refused) {
    Check(CreateBackup(backup, data, length), "the backup is written");
    unsigned long arrows = 0;
    Check(ConvertChar(data, length, kPlaceholder, arrows), "masking");
    FILE* out = fopen(target, "wb");
    Check(out != nullptr, "the target opens for writing");
    bool rebuilt = RebuildSRT(data, length, 1, arrows, out);
    Check(fclose(out) == 0, "the rebuilt target closes");
    Check(rebuilt == (arrows != 0), "the rebuild refuses only no arrows");
    free(data);
    data = Readfile(target, length);
    Check(data != nullptr, "the rebuilt target reads back");
    ReplaceBytes(data, length, kPlaceholder, '>');
    Check(memchr(data, kPlaceholder, length) == nullptr, "all unmasked");
    Check(length == 0 || Writefile(target, data, length), "final write");
    unsigned long saved = 0;
    char* copy = Readfile(backup, saved);
    Check(copy != nullptr && saved == size && memcmp(copy, bytes, size) == 0,
          "the backup holds the input");
    free(copy);
  }
  free(data);
  return 0;
}
