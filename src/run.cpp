// run.cpp - one repair run: reads the file, refuses what cannot be repaired
// safely, rebuilds it into a new file beside it, backs it up, and replaces
// it with its repair by one rename. The messages live here and nowhere else.
#include "run.h"

#include "repair.h"
#include "subtitle/mask.h"
#include "subtitle/rebuild.h"
#include "subtitle/scan.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char kCaption[] = "Zelvar";

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

const char* MessageText(Message message) {
  return kMessages[message].text;
}

MessageStyle MessageStyleOf(Message message) {
  return kMessages[message].style;
}

// Why a file is refused for its content; %lu is the line concerned.
static const char kPlaceholderReason[] =
    "the byte 0xD0 first stands on line %lu; UTF-8 Cyrillic text and several "
    "8-bit code pages hold it";
static const char kNotTimingReason[] =
    "line %lu looks like a timing line but is not in the form "
    "00:00:00,000 --> 00:00:00,000";
static const char kTwoArrowsReason[] = "line %lu holds two timing arrows";

// What a run holds until it ends, whichever way it ends.
struct Held {
  char* backup;        // the backup's path
  char* real;          // the file's path with links followed
  char* data;          // the file as read
  FILE* out;           // the rebuilt file
  char* made;          // its name beside the file, while it has one of its own
  FileStamp madeStamp; // which file the new file is
  int lock;            // the run lock on the file
};

// True when the name made holds another file than the one this run made:
// after an exchange that failed to go back, a file of the user's.
static bool IsSomeoneElses(const Held& held) {
  FileStamp named;
  return held.madeStamp.index != 0 && GetPathStamp(held.made, named) &&
         (named.device != held.madeStamp.device ||
          named.index != held.madeStamp.index);
}

// True when the name made still holds the new file this run made.
static bool StillMade(const Held& held) {
  FileStamp named;
  return GetPathStamp(held.made, named) &&
         named.device == held.madeStamp.device &&
         named.index == held.madeStamp.index;
}

// Ends the run: closes and releases what it holds, removes a new file that
// has not taken the file's place, and records how it went.
static bool End(Held& held, RunOutcome& outcome, bool failed, Message message,
                int error, const char* reason, unsigned long line) {
  if (held.out != nullptr)
    fclose(held.out);
  if (held.made != nullptr && !IsSomeoneElses(held))
    remove(held.made);
  free(held.made);
  free(held.data);
  free(held.real);
  free(held.backup);
  ReleaseRunLock(held.lock);
  outcome.failed = failed;
  outcome.message = message;
  outcome.error = error;
  if (reason != nullptr && line != 0)
    snprintf(outcome.reason, sizeof outcome.reason, reason, line);
  else if (reason != nullptr)
    snprintf(outcome.reason, sizeof outcome.reason, "%s", reason);
  else if (error != 0)
    snprintf(outcome.reason, sizeof outcome.reason, "%s", strerror(error));
  return !failed;
}

// Ends a failed run; a reason with %lu in it names line.
static bool Fail(Held& held, RunOutcome& outcome, Message message,
                 int error = 0, const char* reason = nullptr,
                 unsigned long line = 0) {
  return End(held, outcome, true, message, error, reason, line);
}

// Reads the file, or standard input, and refuses what cannot be repaired:
// too short, or holding the placeholder byte. False after a refusal.
static bool ReadChecked(const char* path, bool locked, Held& held,
                        RunOutcome& outcome, unsigned long& length,
                        FileStamp& read) {
  if (path == nullptr)
    held.data = ReadStream(stdin, length);
  else if (locked && !HoldRunLock(path, held.lock))
    return Fail(held, outcome, kOpenFailed, 0, "another run is repairing it");
  else
    held.data = Readfile(const_cast<char*>(path), length, &read);
  if (held.data == nullptr) {
    int error = errno;
    return Fail(held, outcome, kOpenFailed, error,
                error == 0 ? "not a regular file, or changed while it was read"
                           : nullptr);
  }
  if (length < kTimingLength)
    return Fail(held, outcome, kOpenFailed, 0, "28 bytes or shorter");
  char* placeholder = FindNextByte(held.data, length, kPlaceholder, false);
  if (placeholder != held.data || *held.data == kPlaceholder) {
    unsigned long at = static_cast<unsigned long>(placeholder - held.data);
    return Fail(held, outcome, kHoldsPlaceholder, 0, kPlaceholderReason,
                CountLines(held.data, at));
  }
  return true;
}

// The backup's name: refused when there is none, or when it reaches the
// file itself, since the file would then have no copy once replaced.
static bool NameBackup(const char* path, Held& held, RunOutcome& outcome) {
  held.backup = static_cast<char*>(malloc(strlen(path) + 1));
  if (held.backup == nullptr)
    return Fail(held, outcome, kBackupFailed, ENOMEM);
  if (!MakeBackupPath(const_cast<char*>(path), held.backup))
    return Fail(held, outcome, kBackupFailed, 0,
                "the file's name has fewer than three characters");
  if (IsSameFile(path, held.backup))
    return Fail(held, outcome, kBackupFailed, 0,
                "the backup's name is the file itself");
  return true;
}

// False, after the failure, when the backup's name holds a backup that this
// call wrote for another file: writing it again would lose that file's.
static bool CheckBackupUnused(Held& held, RunOutcome& outcome,
                              const WrittenBackups* written) {
  FileStamp there;
  if (written == nullptr || !GetPathStamp(held.backup, there))
    return true;
  for (unsigned long at = 0; at < written->count; ++at) {
    if (written->stamps[at].device == there.device &&
        written->stamps[at].index == there.index) {
      char why[sizeof outcome.reason];
      snprintf(why, sizeof why, "%s holds the backup of %s, written just now",
               held.backup, written->files[at]);
      return Fail(held, outcome, kBackupFailed, 0, why);
    }
  }
  return true;
}

// Replaces the file with its unmasked repair, in this order: the repair is
// synced; the backup is made and on disk; the repair is renamed over the
// file, if the file is still as it was read and the name still holds the
// file written; the folder is synced.
static bool ReplaceFile(Held& held, RunOutcome& outcome, unsigned long length,
                        const FileStamp& read, const WrittenBackups* written) {
  if (!CheckBackupUnused(held, outcome, written))
    return false;
  if (!SyncFile(held.out))
    return Fail(held, outcome, kReplaceFailed, errno);
  if (!CreateBackup(held.backup, held.data, length, &read, held.real))
    return Fail(held, outcome, kBackupFailed, errno);
  outcome.backedUp = GetPathStamp(held.backup, outcome.backupStamp);
  if (!StillMade(held))
    return Fail(held, outcome, kReplaceFailed, 0,
                "the file changed while it was repaired");
  int closed = fclose(held.out);
  held.out = nullptr;
  if (closed != 0)
    return Fail(held, outcome, kReplaceFailed, errno);
  Replacement replaced = ReplaceFileAsRead(held.made, held.real, read);
  if (replaced == kChangedAside)
    return Fail(held, outcome, kReplaceFailed, 0,
                "the file changed while it was repaired");
  if (replaced == kNotReplaced)
    return Fail(held, outcome, kReplaceFailed, errno);
  free(held.made);
  held.made = nullptr;
  if (replaced == kNotSynced)
    return Fail(held, outcome, kReplaceFailed, 0,
                "the file was replaced, but its folder could not be synced: "
                "the repair may not survive a power cut");
  return true;
}

bool RunRepair(const char* path, RunMode mode, RunOutcome& outcome,
               const WrittenBackups* written) {
  outcome = RunOutcome();
  Held held = Held();
  held.lock = -1;
  bool checking = mode == kCheckFile;
  bool inPlace = path != nullptr && !checking;
  unsigned long length = 0;
  FileStamp read = FileStamp();
  if (!ReadChecked(path, inPlace, held, outcome, length, read))
    return false;
  if (inPlace) {
    // The file is replaced where it lives, so a link to it stays a link.
    // What a killed run on this name left beside it goes first, whatever
    // this run comes to.
    held.real = ResolvePath(path);
    if (held.real == nullptr)
      return Fail(held, outcome, kReplaceFailed, ENOMEM);
    RemoveFilesBeside(held.real, BesideTag(held.real));
  }
  // Checking refuses what a repair would: a file without a backup name.
  if (path != nullptr && !NameBackup(path, held, outcome))
    return false;

  // A line that looks like a timing line but cannot be read as one would
  // come out damaged: the file is refused before anything is written.
  unsigned long line = 0;
  LineFault fault = CheckTimingLines(held.data, length, line);
  if (fault != kNoLineFault)
    return Fail(held, outcome, kRebuildFailed, 0,
                fault == kTwoArrows ? kTwoArrowsReason : kNotTimingReason,
                line);

  // Rebuild pass, into a new file: beside the file when it is to replace
  // it.
  unsigned long arrows = 0;
  if (!ConvertChar(held.data, length, kPlaceholder, arrows))
    return Fail(held, outcome, kMaskFailed);
  if (arrows == 0)
    return Fail(held, outcome, kRebuildFailed, 0, "no timing line found");
  outcome.entries = arrows;
  if (inPlace) {
    held.out = CreateFileBeside(held.real, BesideTag(held.real), kRepairBeside,
                                &held.made);
    if (held.out != nullptr) {
      CopyFileAccess(held.out, held.real, read);
      if (!GetFileStamp(held.out, held.madeStamp))
        return Fail(held, outcome, kReplaceFailed, errno);
    }
  } else
    held.out = tmpfile();
  if (held.out == nullptr)
    return Fail(held, outcome, kReplaceFailed, errno);
  if (!RebuildSRT(held.data, length, 1, arrows, held.out))
    return Fail(held, outcome, kRebuildFailed);
  if (fflush(held.out) != 0 || ferror(held.out) != 0)
    return Fail(held, outcome, kReplaceFailed, errno);
  // A rebuild that wrote no whole entry is refused before anything else is
  // written, like a file without timing lines.
  long rebuilt = ftell(held.out);
  if (rebuilt < static_cast<long>(kTimingLength))
    return Fail(held, outcome, kReadBackFailed, 0,
                "no timing line is complete");
  // The file held no placeholder, so turning every one back gives the
  // bytes as read again.
  ReplaceBytes(held.data, length, kPlaceholder, kArrow);

  // Unmask pass: over the new file in place, or onto standard output. A
  // file that the repair leaves as it was is not replaced and keeps the
  // backup it has, so that a second run, or a retry after a run cut off
  // once it had replaced the file, keeps the backup of the file as it was.
  Likeness like = {held.data, length, false};
  FilePass pass = ReplaceBytesInFile(
      held.out, kTimingLength, kPlaceholder, kArrow,
      path == nullptr && !checking ? stdout : nullptr, &like);
  if (pass == kPassReadFailed)
    return Fail(held, outcome, kReadBackFailed, errno);
  if (pass == kPassWriteFailed && path == nullptr) {
    char why[sizeof outcome.reason];
    snprintf(why, sizeof why, "standard output could not be written: %s",
             strerror(errno));
    return Fail(held, outcome, kReplaceFailed, 0, why);
  }
  if (pass == kPassWriteFailed)
    return Fail(held, outcome, kReplaceFailed, errno);
  outcome.changed = !like.same;
  if (inPlace && outcome.changed &&
      !ReplaceFile(held, outcome, length, read, written))
    return false;
  return End(held, outcome, false, kHint, 0, nullptr, 0);
}
