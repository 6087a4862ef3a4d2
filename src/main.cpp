// main.cpp - the repair run: takes the dropped file from the command line,
// backs it up, rebuilds it in place, and ends with exit code 0, or shows one
// message and ends with exit code 1 at the first step that fails.
#include "platform.h"
#include "repair.h"
#include "subtitle/mask.h"
#include "subtitle/rebuild.h"
#include "subtitle/scan.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum Message {
  kHint,
  kOpenFailed,
  kHoldsPlaceholder,
  kBackupFailed,
  kMaskFailed,
  kReplaceFailed,
  kRebuildFailed,
  kReadBackFailed,
};

static const unsigned int kInformation = 0x40;
static const unsigned int kError = 0x10;
static const char kCaption[] = "Zelvar";

static const struct {
  const char* text;
  unsigned int style;
} kMessages[] = {
    {"Drag & drop the .srt file onto Zelvar to repair it!", kInformation},
    {"Error: Couldnt open the .srt file.", kError},
    {"Error: The .srt file contains replacement characters.", kError},
    {"Error: Couldnt create a backup file.", kError},
    {"Error: Replacement process failed.", kError},
    {"Error: Couldnt replace the original .srt file.", kError},
    {"Error: Couldnt rebuild the .srt file.", kError},
    {"Error: Couldnt open the .srt file for re-replacement.", kError},
};

// Stands for a stray '>' from masking until the final pass restores it.
static const char kPlaceholder = '\xD0';
static const unsigned long kMinLength = 29;

// The run's one way out after a failure. Files already written stay as
// they are; the process exit closes what is open.
[[noreturn]] static void Fail(Message message) {
  ShowMessage(kCaption, kMessages[message].text, kMessages[message].style);
  exit(1);
}

int main(int argc, char** argv) {
  char* target = GetLaunchText(argc, argv);
  if (target == nullptr || !ConvertParam(target))
    Fail(kHint);
  // A path of fewer than three characters has no backup name; that, like a
  // failed allocation, is reported when the backup is due.
  char* backup = static_cast<char*>(malloc(strlen(target) + 1));
  bool named = backup != nullptr && MakeBackupPath(target, backup);

  unsigned long length = 0;
  char* data = Readfile(target, length);
  if (data == nullptr || length < kMinLength)
    Fail(kOpenFailed);
  char* placeholder = FindNextByte(data, length, kPlaceholder, false);
  if (placeholder != data || *data == kPlaceholder)
    Fail(kHoldsPlaceholder);
  // A backup name that reaches the target itself would leave no copy of
  // the content once the target is rewritten.
  if (!named || IsSameFile(target, backup) ||
      !CreateBackup(backup, data, length))
    Fail(kBackupFailed);

  // Rebuild pass: the target gets the entries with stray arrows masked. A
  // file without any timing line is refused before the target is emptied.
  unsigned long arrows = 0;
  if (!ConvertChar(data, length, kPlaceholder, arrows))
    Fail(kMaskFailed);
  if (arrows == 0)
    Fail(kRebuildFailed);
  FILE* out = fopen(target, "wb");
  if (out == nullptr)
    Fail(kReplaceFailed);
  if (!RebuildSRT(data, length, 1, arrows, out))
    Fail(kRebuildFailed);
  bool written = ferror(out) == 0;
  if (fclose(out) != 0 || !written)
    Fail(kReplaceFailed);
  free(data);

  // Unmask pass: read the rebuilt file back and restore every stray arrow.
  data = Readfile(target, length);
  if (data == nullptr || length < kMinLength)
    Fail(kReadBackFailed);
  ReplaceBytes(data, length, kPlaceholder, '>');
  if (!Writefile(target, data, length))
    Fail(kReplaceFailed);
  free(data);
  free(backup);
  return 0;
}
