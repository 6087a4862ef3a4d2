// run.cpp - one repair run, straight through on one thread: the input
// read whole; refused when it cannot be repaired exactly or replaced
// safely; masked, rebuilt, unmasked and compared with itself; delivered
// where it goes. The messages and their reasons live here and nowhere
// else.
#include "run.h"

#include "deliver.h"
#include "files.h"
#include "subtitle/mask.h"
#include "subtitle/rebuild.h"
#include "subtitle/scan.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char kCaption[] = "Zelvar";

const MessageEntry kMessages[] = {
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

// Why a run failed, in the run's own words where the system has none. %lu
// is the line concerned.
static const char kAnotherRun[] = "another run is repairing it";
static const char kThroughDescriptor[] =
    "it is reached through a descriptor link; give - to repair standard input";
static const char kNotResolved[] = "its path cannot be resolved";
static const char kNotRegular[] = "not a regular file";
static const char kChangedWhileRead[] =
    "not a regular file of a fixed size, or changed while it was read";
static const char kTooShort[] = "28 bytes or shorter";
static const char kWideText[] =
    "it starts with a UTF-16 or UTF-32 byte-order mark; zelvar reads 8-bit "
    "and UTF-8 files";
static const char kNulBytes[] =
    "not a text file: it holds NUL bytes near its start";
static const char kPlaceholderReason[] =
    "the byte 0xD0 first stands on line %lu; UTF-8 Cyrillic text and several "
    "8-bit code pages hold it";
static const char kShortName[] =
    "the file's name has fewer than three characters";
static const char kBackupIsFile[] = "the backup's name is the file itself";
static const char kNotTimingReason[] =
    "line %lu looks like a timing line but is not in the form "
    "00:00:00,000 --> 00:00:00,000";
static const char kTwoArrowsReason[] = "line %lu holds two timing arrows";
static const char kNoTiming[] = "no timing line found";
static const char kNoEntry[] = "no timing line is complete";
static const char kBackupOfAnother[] =
    "%s holds the backup of %s, written just now";
static const char kChanged[] = "the file changed while it was repaired";
static const char kFolderNotSynced[] =
    "the file was replaced, but its folder could not be synced: the repair "
    "may not survive a power cut";
static const char kOutputFailed[] = "standard output could not be written: %s";
static const char kKeptNotice[] = "kept %s: a run cut off had left it beside "
                                  "the file, holding bytes found nowhere else";

// Bytes at the start of a file that a text file holds no NUL in.
static const unsigned long kTextProbe = 4096;

// Where a run's repair goes, decided once from its file and mode.
enum Destination { kOverFile, kToStandardOutput, kNowhere };

// What a run holds until it ends, whichever way it ends; released in one
// place.
struct Run {
  const char* path; // the file as named; null for standard input
  Destination to;
  int lock;     // the run lock on the file; -1 when none is held
  char* file;   // the file's path with links followed
  char* backup; // the backup's path
  char* data;   // the input as read (masked from mask to unmask)
  unsigned long length;
  FileStamp read; // the file's state as read
  char* repair;   // the rebuilt bytes
  unsigned long repaired;
};

// Records why the run failed, for the entry to report. A reason with %lu
// in it names line.
static bool Fail(RunOutcome& outcome, Message message, int error,
                 const char* reason = nullptr, unsigned long line = 0) {
  outcome.message = message;
  if (reason != nullptr && line != 0)
    snprintf(outcome.reason, sizeof outcome.reason, reason, line);
  else if (reason != nullptr)
    snprintf(outcome.reason, sizeof outcome.reason, "%s", reason);
  else if (error != 0)
    snprintf(outcome.reason, sizeof outcome.reason, "%s", strerror(error));
  return false;
}

// Reads the named file (locked and its state stamped when it is to be
// replaced; for reading only when it is checked), or standard input.
static bool ReadInput(Run& run, RunOutcome& outcome) {
  if (run.path == nullptr) {
    run.data = ReadStream(stdin, run.length);
    return run.data != nullptr || Fail(outcome, kOpenFailed, errno);
  }
  if (IsThroughDescriptorLink(run.path))
    return Fail(outcome, kOpenFailed, 0, kThroughDescriptor);
  // A pipe, device, socket or folder is refused before it is opened: an
  // open may have effects of its own there, or fail for another reason. A
  // path that cannot be stamped at all, with errno telling why, is left to
  // the read to report.
  FileStamp found;
  errno = 0;
  if (!GetPathStamp(run.path, found) && errno == 0)
    return Fail(outcome, kOpenFailed, 0, kNotRegular);
  bool inPlace = run.to == kOverFile;
  if (inPlace && !HoldRunLock(run.path, run.lock))
    return Fail(outcome, kOpenFailed, 0, kAnotherRun);
  if (inPlace) {
    // The file is replaced where it lives, so a link to it stays a link.
    run.file = ResolvePath(run.path);
    if (run.file == nullptr)
      return Fail(outcome, kOpenFailed, errno, errno == 0 ? kNotResolved : 0);
  }
  run.data = Readfile(run.path, run.length, &run.read, inPlace);
  int error = errno;
  return run.data != nullptr ||
         Fail(outcome, kOpenFailed, error, error == 0 ? kChangedWhileRead : 0);
}

// Why the file, from its first length bytes (29 at least), is no 8-bit or
// UTF-8 text: a UTF-16 or UTF-32 file, or NUL bytes near the start. Null
// when it is one.
static const char* WhyNotText(const char* data, unsigned long length) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data);
  bool wide =
      (bytes[0] == 0xFF && bytes[1] == 0xFE) ||
      (bytes[0] == 0xFE && bytes[1] == 0xFF) ||
      (bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 0xFE && bytes[3] == 0xFF);
  if (wide)
    return kWideText;
  unsigned long probe = length < kTextProbe ? length : kTextProbe;
  return memchr(data, '\0', probe) != nullptr ? kNulBytes : nullptr;
}

// True when the name's last three characters (it has three, or
// MakeBackupPath refused it) are "old" in any letter case: then the
// backup's name is the file's own.
static bool EndsInOld(const char* path) {
  const char* end = path + strlen(path) - 3;
  return (end[0] | 0x20) == 'o' && (end[1] | 0x20) == 'l' &&
         (end[2] | 0x20) == 'd';
}

// The backup's name: refused when there is none, or when it reaches the
// file itself, since the file would then have no copy once replaced.
static bool NameBackup(Run& run, RunOutcome& outcome) {
  run.backup = static_cast<char*>(malloc(strlen(run.path) + 1));
  if (run.backup == nullptr)
    return Fail(outcome, kBackupFailed, ENOMEM);
  if (!MakeBackupPath(run.path, run.backup))
    return Fail(outcome, kBackupFailed, 0, kShortName);
  // A second name of the file at the backup's name (made by hand) is
  // replaced, by a copy, like any older backup. The same name, or a link to
  // the file, is not.
  if (IsSameFile(run.path, run.backup) &&
      (!IsSecondName(run.backup) || EndsInOld(run.path)))
    return Fail(outcome, kBackupFailed, 0, kBackupIsFile);
  return true;
}

// Refuses, before anything is written, what cannot be repaired exactly or
// replaced safely. A check refuses what a repair would.
static bool Refuse(Run& run, RunOutcome& outcome) {
  if (run.length < kTimingLength)
    return Fail(outcome, kOpenFailed, 0, kTooShort);
  const char* notText = WhyNotText(run.data, run.length);
  if (notText != nullptr)
    return Fail(outcome, kRebuildFailed, 0, notText);
  char* placeholder = FindNextByte(run.data, run.length, kPlaceholder, false);
  if (*placeholder == kPlaceholder)
    return Fail(outcome, kHoldsPlaceholder, 0, kPlaceholderReason,
                CountLines(run.data,
                           static_cast<unsigned long>(placeholder - run.data)));
  if (run.path != nullptr && !NameBackup(run, outcome))
    return false;
  if (run.to == kOverFile) {
    const char* why = CheckReplaceable(run.file, run.read);
    if (why != nullptr)
      return Fail(outcome, kReplaceFailed, 0, why);
  }
  unsigned long line = 0;
  LineFault fault = CheckTimingLines(run.data, run.length, line);
  if (fault != kNoLineFault)
    return Fail(outcome, kRebuildFailed, 0,
                fault == kTwoArrows ? kTwoArrowsReason : kNotTimingReason,
                line);
  return true;
}

// Masks the stray '>' bytes, rebuilds the entries into a block of their
// own, turns every placeholder back into '>' in both (RepairSRT), and
// compares them: a file in order is left as it is.
static bool Repair(Run& run, RunOutcome& outcome) {
  unsigned long arrows = 0;
  run.repair = RepairSRT(run.data, run.length, arrows, run.repaired);
  if (arrows == 0)
    return Fail(outcome, kRebuildFailed, 0, kNoTiming);
  if (run.repair == nullptr)
    return Fail(outcome, kReplaceFailed, ENOMEM);
  if (run.repaired < kTimingLength)
    return Fail(outcome, kReadBackFailed, 0, kNoEntry);
  outcome.entries = arrows;
  outcome.changed = run.repaired != run.length ||
                    memcmp(run.repair, run.data, run.length) != 0;
  return true;
}

// Sends the repair where it goes: over the file, when it changes it, or to
// standard output.
static bool Deliver(Run& run, RunOutcome& outcome, CallRecord* record) {
  char why[sizeof outcome.reason];
  if (run.to == kToStandardOutput) {
    if (WriteToStandardOutput(run.repair, run.repaired) == kDelivered)
      return true;
    snprintf(why, sizeof why, kOutputFailed, strerror(errno));
    return Fail(outcome, kReplaceFailed, 0, why);
  }
  if (run.to == kNowhere)
    return true;
  // What runs cut off left beside the file is settled first, whether the
  // file changes or not. Writing over a backup this call wrote for another
  // file would lose it.
  Target target = {run.path, run.file,   run.backup,   run.data, run.length,
                   run.read, run.repair, run.repaired, nullptr};
  SettleLeftovers(target, record);
  const char* owner =
      outcome.changed ? FindBackupOwner(record, run.backup) : nullptr;
  Delivery delivery = kDelivered;
  if (outcome.changed && owner == nullptr)
    delivery = ReplaceFile(target, record);
  int error = errno;
  if (target.kept != nullptr)
    snprintf(outcome.notice, sizeof outcome.notice, kKeptNotice,
             target.kept + FolderLength(target.kept));
  free(target.kept);
  snprintf(outcome.backup, sizeof outcome.backup, "%s", run.backup);
  if (owner != nullptr) {
    snprintf(why, sizeof why, kBackupOfAnother, run.backup, owner);
    return Fail(outcome, kBackupFailed, 0, why);
  }
  switch (delivery) {
  case kDelivered:
    return true;
  case kBackupNotWritten:
    return Fail(outcome, kBackupFailed, error);
  case kChangedMeanwhile:
    return Fail(outcome, kReplaceFailed, 0, kChanged);
  case kFolderUnsynced:
    return Fail(outcome, kReplaceFailed, 0, kFolderNotSynced);
  default:
    return Fail(outcome, kReplaceFailed, error);
  }
}

bool RunRepair(const char* path, RunMode mode, RunOutcome& outcome,
               CallRecord* record) {
  outcome = RunOutcome();
  Run run = Run();
  run.path = path;
  run.to = mode == kCheckFile ? kNowhere
           : path == nullptr  ? kToStandardOutput
                              : kOverFile;
  run.lock = -1;
  bool done = ReadInput(run, outcome) && Refuse(run, outcome) &&
              Repair(run, outcome) && Deliver(run, outcome, record);
  free(run.repair);
  free(run.data);
  free(run.backup);
  free(run.file);
  ReleaseRunLock(run.lock);
  return done;
}
