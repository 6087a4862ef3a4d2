// Fuzz target: the run's operations on a real file, in the order the run
// takes them: read, refuse, back up, mask, rebuild, read back, unmask,
// write; then the file is put back as a failed run would. The backup must
// hold the input, the result no placeholder, and the file put back the
// input again.
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

// The input as the whole content of the file at path.
static void WriteInput(const char* path, const uint8_t* bytes, size_t size) {
  FILE* out = fopen(path, "wb");
  Check(out != nullptr, "the input file opens");
  Check(fwrite(bytes, 1, size, out) == size, "the input is written");
  Check(fclose(out) == 0, "the input file closes");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  static char* target = TempPath("movie.srt");
  static char* backup = TempPath("movie.old");
  WriteInput(target, bytes, size);
  unsigned long length = 0;
  FileStamp read;
  char* data = Readfile(target, length, &read);
  Check(data != nullptr && length == size, "the file reads back whole");
  bool refused = length < 29 || memchr(data, kPlaceholder, length) != nullptr;
  if (!refused) {
    Check(CreateBackup(backup, data, length, &read), "the backup is written");
    unsigned long arrows = 0;
    Check(ConvertChar(data, length, kPlaceholder, arrows), "masking");
    FILE* out = OpenToRewrite(target, read);
    Check(out != nullptr, "the target opens for its rewrite");
    bool rebuilt = RebuildSRT(data, length, 1, arrows, out);
    Check(ferror(out) == 0, "the rebuild is written");
    Check(rebuilt == (arrows != 0), "the rebuild refuses only no arrows");
    FilePass pass = ReplaceBytesInFile(out, 0, kPlaceholder, '>');
    Check(pass == kPassDone, "the unmask pass");
    unsigned long written = 0;
    char* result = Readfile(target, written);
    Check(result != nullptr, "the repaired target reads back");
    Check(memchr(result, kPlaceholder, written) == nullptr, "all unmasked");
    free(result);
    ReplaceBytes(data, length, kPlaceholder, '>');
    Check(memcmp(data, bytes, size) == 0, "unmasking gives the file as read");
    Check(RestoreFile(out, data, length), "the file is put back");
    Check(fclose(out) == 0, "the target closes");
    unsigned long saved = 0;
    char* copy = Readfile(target, saved);
    Check(copy != nullptr && saved == size && memcmp(copy, bytes, size) == 0,
          "the target holds the input again");
    free(copy);
    copy = Readfile(backup, saved);
    Check(copy != nullptr && saved == size && memcmp(copy, bytes, size) == 0,
          "the backup holds the input");
    free(copy);
  }
  free(data);
  return 0;
}
