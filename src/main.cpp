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

static const char kCaption[] = "Zelvar";

static const struct {
  const char* text;
  MessageStyle style;
} kMessages[] = {
    {"Drag & drop the .srt file onto Zelvar to repair it!",
     kInformationMessage},
    {"Error: Couldnt open the .srt file.", kErrorMessage},
    {"Error: The .srt file contains replacement characters.", kErrorMessage},
    {"Error: Couldnt create a backup file.", kErrorMessage},
    {"Error: Replacement process failed.", kErrorMessage},
    {"Error: Couldnt replace the original .srt file.", kErrorMessage},
    {"Error: Couldnt rebuild the .srt file.", kErrorMessage},
    {"Error: Couldnt open the .srt file for re-replacement.", kErrorMessage},
};

// Stands for a stray '>' from masking until the final pass restores it.
static const char kPlaceholder = '\xD0';

// The run's one way out after a failure. The process exit closes what is
// open; every stream that writes the target is unbuffered, so nothing
// pending goes out then.
[[noreturn]] static void Fail(Message message) {
  ShowMessage(kCaption, kMessages[message].text, kMessages[message].style);
  exit(1);
}

// A failure after the target was emptied: the file as read goes back into
// it before the message. The masked buffer with its placeholders turned
// back is exactly that, since the file held no placeholder. Should putting
// it back fail too, the backup still holds it.
[[noreturn]] static void FailPuttingBack(Message message, FILE* target,
                                         char* data, unsigned long length) {
  ReplaceBytes(data, length, kPlaceholder, '>');
  RestoreFile(target, data, length);
  Fail(message);
}

int main(int argc, char** argv) {
  char* target = GetLaunchText(argc, argv);
  if (target == nullptr || !ConvertParam(target))
    Fail(kHint);
  // A file name of fewer than three characters has no backup name; that,
  // like a failed allocation, is reported when the backup is due.
  char* backup = static_cast<char*>(malloc(strlen(target) + 1));
  bool named = backup != nullptr && MakeBackupPath(target, backup);

  // A second run on the same file while this one works would back up a
  // half-written file over the good backup.
  if (!HoldRunLock(target))
    Fail(kOpenFailed);
  unsigned long length = 0;
  FileStamp read;
  char* data = Readfile(target, length, &read);
  if (data == nullptr || length < kTimingLength)
    Fail(kOpenFailed);
  char* placeholder = FindNextByte(data, length, kPlaceholder, false);
  if (placeholder != data || *data == kPlaceholder)
    Fail(kHoldsPlaceholder);
  // A backup name that reaches the target itself would leave no copy of
  // the content once the target is rewritten. The backup is on disk, under
  // its name, before the target is touched.
  if (!named || IsSameFile(target, backup) ||
      !CreateBackup(backup, data, length, &read))
    Fail(kBackupFailed);

  // Rebuild pass: the target gets the entries with stray arrows masked. A
  // file without any timing line is refused before the target is emptied,
  // and so is a file that changed since it was read.
  unsigned long arrows = 0;
  if (!ConvertChar(data, length, kPlaceholder, arrows))
    Fail(kMaskFailed);
  if (arrows == 0)
    Fail(kRebuildFailed);
  FILE* out = OpenToRewrite(target, read);
  if (out == nullptr)
    Fail(kReplaceFailed);
  if (!RebuildSRT(data, length, 1, arrows, out))
    FailPuttingBack(kRebuildFailed, out, data, length);
  if (ferror(out) != 0)
    FailPuttingBack(kReplaceFailed, out, data, length);

  // Unmask pass: the rebuilt file is read back a block at a time, its
  // stray arrows restored and each block written over itself, then synced.
  // The buffer as read is kept until then, to put the file back should any
  // of it fail.
  FilePass unmasked = ReplaceBytesInFile(out, kTimingLength, kPlaceholder, '>');
  if (unmasked == kPassReadFailed)
    FailPuttingBack(kReadBackFailed, out, data, length);
  if (unmasked == kPassWriteFailed)
    FailPuttingBack(kReplaceFailed, out, data, length);
  // Every byte is on disk by now, and the stream holds none back, so a
  // failed close loses nothing.
  fclose(out);
  free(data);
  free(backup);
  return 0;
}
