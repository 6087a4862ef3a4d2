// run.cpp - one repair run in three steps: open the input (refusing what
// cannot be repaired exactly), repair it in memory on its way out, and
// deliver it (the file replaced at once, standard output, or nothing). The
// messages live here and nowhere else.
#include "run.h"

#include "files.h"
#include "input.h"
#include "output.h"
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
static const char kChangedReason[] = "the file changed while it was repaired";

// Bytes at the start of a file that a text file holds no NUL in.
static const unsigned long kTextProbe = 4096;

static const char kChangedWhileRead[] =
    "not a regular file of a fixed size, or changed while it was read";

// A file longer than this is read on a thread of its own, and its repair
// made as it is read.
static const unsigned long long kLongFile = 2ULL << 20;

// What a run holds until it ends, whichever way it ends; released in one
// place.
struct Held {
  const char* path; // the file as named; null for standard input
  RunMode mode;
  bool inPlace; // the file is to be replaced by its repair
  char* data;   // the input as read (masked from its scan on, while masked)
  bool masked;
  unsigned long length;
  FileStamp read;  // the file's state as read
  FileStamp like;  // what the repair's new file takes after
  int lock;        // the run lock on the file; -1 when none is held
  char* real;      // the file's path with links followed
  char* backup;    // the backup's path
  InputScan scan;  // what the scan of the input found
  Reading reading; // the read of a long file, on its own thread
  // The repair: its output, fed by the rebuild through sink; started early
  // (repairing) for a long file while it is read.
  bool repairing;
  bool outputStarted; // the output has its blocks
  Output output;
  Sink sink;
  Rebuild rebuild;
  Deliver deliver; // the output's own way in, while sink waits for the read
  void* deliverTo;
  unsigned long delivered; // bytes of the repair that have gone out
  unsigned long repaired;  // the repair's length
  FILE* out;               // the repair beside the file, once it is opened
  char* made;              // its name, while it has one of its own
  FileStamp madeStamp;     // which file that is
};

// Records why the run failed, for the entry to report. A reason with %lu
// in it names line.
static bool Fail(RunOutcome& outcome, Message message, int error,
                 const char* reason = nullptr, unsigned long line = 0) {
  outcome.failed = true;
  outcome.message = message;
  outcome.error = error;
  if (reason != nullptr && line != 0)
    snprintf(outcome.reason, sizeof outcome.reason, reason, line);
  else if (reason != nullptr)
    snprintf(outcome.reason, sizeof outcome.reason, "%s", reason);
  else if (error != 0)
    snprintf(outcome.reason, sizeof outcome.reason, "%s", strerror(error));
  return false;
}

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

// Closes and frees what the run holds, and removes a new file that has not
// taken the file's place.
static void Release(Held& held) {
  EndOutput(held.output, held.sink);
  if (held.out != nullptr)
    fclose(held.out);
  if (held.made != nullptr && !IsSomeoneElses(held))
    RemoveFile(held.made);
  free(held.made);
  free(held.data);
  free(held.real);
  free(held.backup);
  ReleaseRunLock(held.lock);
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
    return "it starts with a UTF-16 or UTF-32 byte-order mark; zelvar reads "
           "8-bit and UTF-8 files";
  unsigned long probe = length < kTextProbe ? length : kTextProbe;
  if (memchr(data, '\0', probe) != nullptr)
    return "not a text file: it holds NUL bytes near its start";
  return nullptr;
}

// True when the name's last three characters are "old" in any letter
// case: then the backup's name is the file's own.
static bool EndsInOld(const char* path) {
  size_t length = strlen(path);
  if (length < 3)
    return true;
  const char* end = path + length - 3;
  return (end[0] | 0x20) == 'o' && (end[1] | 0x20) == 'l' &&
         (end[2] | 0x20) == 'd';
}

// The backup's name: refused when there is none, or when it reaches the
// file itself, since the file would then have no copy once replaced.
static bool NameBackup(Held& held, RunOutcome& outcome) {
  if (held.backup == nullptr)
    held.backup = static_cast<char*>(malloc(strlen(held.path) + 1));
  if (held.backup == nullptr)
    return Fail(outcome, kBackupFailed, ENOMEM);
  if (!MakeBackupPath(held.path, held.backup))
    return Fail(outcome, kBackupFailed, 0,
                "the file's name has fewer than three characters");
  // A second name of the file at the backup's name is what a run cut off
  // after its backup leaves: it is replaced like any older backup. The same
  // name, or a link to the file, is not.
  if (IsSameFile(held.path, held.backup) &&
      (!IsSecondName(held.backup) || EndsInOld(held.path)))
    return Fail(outcome, kBackupFailed, 0,
                "the backup's name is the file itself");
  return true;
}

// Grows the array at items by one item of size bytes; false, leaving it,
// when no room can be had.
static bool Grow(void** items, unsigned long count, size_t size) {
  void* grown = realloc(*items, (count + 1) * size);
  if (grown != nullptr)
    *items = grown;
  return grown != nullptr;
}

void EndCall(CallRecord& record) {
  for (unsigned long at = 0; at < record.backups; ++at)
    free(record.backupFiles[at]);
  free(record.backupStamps);
  free(record.backupFiles);
  free(record.folderStamps);
  record = CallRecord();
}

// Adds the backup written for the run's file to the call's record. One
// that finds no room is not recorded, as before this check.
static void RecordBackup(CallRecord* record, const Held& held) {
  FileStamp backup;
  char* file = record != nullptr ? strdup(held.path) : nullptr;
  if (file == nullptr || !GetPathStamp(held.backup, backup) ||
      !Grow(reinterpret_cast<void**>(&record->backupStamps), record->backups,
            sizeof backup) ||
      !Grow(reinterpret_cast<void**>(&record->backupFiles), record->backups,
            sizeof file)) {
    free(file);
    return;
  }
  record->backupStamps[record->backups] = backup;
  record->backupFiles[record->backups++] = file;
}

// What a killed run left in the file's folder, for any file, goes: once a
// folder a call.
static void RemoveLeftovers(CallRecord* record, const char* path) {
  FileStamp folder;
  bool known = GetFolderStamp(path, folder);
  for (unsigned long at = 0; known && record != nullptr && at < record->folders;
       ++at)
    if (record->folderStamps[at].device == folder.device &&
        record->folderStamps[at].index == folder.index)
      return;
  RemoveLeftoversIn(path);
  if (known && record != nullptr &&
      Grow(reinterpret_cast<void**>(&record->folderStamps), record->folders,
           sizeof folder))
    record->folderStamps[record->folders++] = folder;
}

// Opens the new file beside the file at the repair's first difference: it
// takes what the file carries, and its stamp tells it from any other.
static FILE* OpenBeside(void* run) {
  Held& held = *static_cast<Held*>(run);
  held.out = CreateFileBeside(held.real, BesideTag(held.real), kRepairBeside,
                              &held.made);
  if (held.out == nullptr)
    return nullptr;
  CopyFileAccess(held.out, held.real, held.like);
  return GetFileStamp(held.out, held.madeStamp) ? held.out : nullptr;
}

// Starts the repair of the length bytes of data (the file as it is read, or
// once read): its output, where it goes, and the rebuild.
static void StartRepair(Held& held, char* data, unsigned long length) {
  bool toOutput = held.path == nullptr && held.mode == kRepairFile;
  held.repairing = true;
  held.outputStarted =
      StartOutput(held.output, data, length, toOutput ? stdout : nullptr,
                  held.inPlace ? OpenBeside : nullptr, &held, held.sink);
  StartRebuild(held.rebuild, data, length, 1);
}

// While the file is read, each piece of its repair goes out only once as
// many bytes of the file are ready as have gone out: the output compares
// it with them, and writes them at its first difference.
static bool DeliverWhenReady(void* run, char*& block, unsigned long count) {
  Held& held = *static_cast<Held*>(run);
  held.delivered += count;
  WaitForReady(held.reading, held.delivered);
  return held.deliver(held.deliverTo, block, count);
}

// True when nothing that the start of the file (its first ready bytes) and
// its names show refuses it: its repair may then start while the rest is
// read. The scan of the rest may refuse it still; once it is read, the
// refusals are made in their order, as for any file.
static bool MayRepairEarly(Held& held, const char* block, unsigned long ready) {
  if (!held.inPlace)
    return true; // a check writes nothing
  RunOutcome unused;
  return WhyNotText(block, ready) == nullptr && NameBackup(held, unused) &&
         GetPathStamp(held.real, held.like) &&
         CheckReplaceable(held.real, held.like) == nullptr;
}

// Follows the read of a long file on the run's thread: the repair starts
// once MayRepairEarly allows, and the rebuild goes on over each piece that
// is ready.
static void FollowReading(Held& held) {
  Reading& reading = held.reading;
  bool early = true;
  unsigned long ready = 0;
  for (;;) {
    ready = WaitForReady(reading, ready + 1);
    if (reading.finished.load(std::memory_order_acquire))
      break;
    if (!held.repairing && early) {
      char* block = reading.block.load(std::memory_order_acquire);
      early = MayRepairEarly(held, block, ready);
      if (!early)
        continue;
      StartRepair(held, block, reading.size.load(std::memory_order_acquire));
      held.deliver = held.sink.deliver;
      held.deliverTo = held.sink.to;
      held.sink.deliver = DeliverWhenReady;
      held.sink.to = &held;
    }
    if (held.outputStarted)
      ContinueRebuild(held.rebuild, ready, held.sink);
  }
  if (held.repairing) {
    held.sink.deliver = held.deliver;
    held.sink.to = held.deliverTo;
  }
  // A block that the read could not fill whole is freed once let go: the
  // output, which may be comparing with it, ends first.
  if (!reading.whole.load(std::memory_order_acquire))
    EndOutput(held.output, held.sink);
}

// Reads the named file, or standard input: locked and stamped when it is to
// be replaced, for reading only when it is checked.
static bool ReadInput(Held& held, RunOutcome& outcome, CallRecord* record) {
  if (held.path == nullptr) {
    StartScan(held.scan);
    held.data = ReadStream(stdin, held.length);
    if (held.data == nullptr)
      return Fail(outcome, kOpenFailed, errno);
    ScanInput(held.scan, held.data, held.length, true);
    held.masked = true;
    return true;
  }
  if (held.inPlace && !HoldRunLock(held.path, held.lock))
    return Fail(outcome, kOpenFailed, 0, "another run is repairing it");
  if (IsThroughDescriptorLink(held.path))
    return Fail(outcome, kOpenFailed, 0,
                "it is reached through a descriptor link; give - to repair "
                "standard input");
  if (held.inPlace) {
    // The file is replaced where it lives, so a link to it stays a link.
    // What a killed run on this name left beside it goes before the file
    // is read: a second name of the file among it changes the file's state.
    held.real = ResolvePath(held.path);
    if (held.real == nullptr)
      return Fail(outcome, kOpenFailed, errno,
                  errno == 0 ? "its path cannot be resolved" : nullptr);
    RemoveFilesBeside(held.real, BesideTag(held.real));
    RemoveLeftovers(record, held.real);
  }
  FileStamp now;
  if (GetPathStamp(held.path, now) && now.size > kLongFile &&
      StartReading(held.reading, held.path, held.inPlace)) {
    FollowReading(held);
    held.data = EndReading(held.reading, held.length, &held.read, held.scan);
  } else {
    held.data = ReadAndScan(held.path, held.length, &held.read, held.inPlace,
                            held.scan);
  }
  held.masked = held.data != nullptr;
  // The repair's new file, made while the file was read, took what the
  // file carried then: the same file, in the same state, or none.
  if (held.data != nullptr && held.repairing && held.inPlace &&
      (held.like.device != held.read.device ||
       held.like.index != held.read.index ||
       held.like.changed != held.read.changed))
    return Fail(outcome, kOpenFailed, 0, kChangedWhileRead);
  if (!held.repairing)
    held.like = held.read;
  if (held.data != nullptr)
    return true;
  int error = errno;
  return Fail(outcome, kOpenFailed, error,
              error == 0 ? kChangedWhileRead : nullptr);
}

// The first step: the input read, refused for what would keep it from
// being repaired exactly or replaced safely, and masked. Nothing is
// written before it ends well.
static bool OpenInput(Held& held, RunOutcome& outcome, CallRecord* record) {
  if (!ReadInput(held, outcome, record))
    return false;
  if (held.length < kTimingLength)
    return Fail(outcome, kOpenFailed, 0, "28 bytes or shorter");
  const char* notText = WhyNotText(held.data, held.length);
  if (notText != nullptr)
    return Fail(outcome, kRebuildFailed, 0, notText);
  const InputScan& scan = held.scan;
  if (scan.hasPlaceholder)
    return Fail(outcome, kHoldsPlaceholder, 0, kPlaceholderReason,
                CountLines(held.data, scan.placeholderAt));
  // Checking refuses what a repair would: a file without a backup name.
  if (held.path != nullptr && !NameBackup(held, outcome))
    return false;
  if (held.inPlace) {
    const char* why = CheckReplaceable(held.real, held.read);
    if (why != nullptr)
      return Fail(outcome, kReplaceFailed, 0, why);
  }
  if (scan.fault != kNoLineFault)
    return Fail(outcome, kRebuildFailed, 0,
                scan.fault == kTwoArrows ? kTwoArrowsReason : kNotTimingReason,
                CountLines(held.data, scan.faultAt));
  if (scan.arrows == 0)
    return Fail(outcome, kRebuildFailed, 0, "no timing line found");
  outcome.entries = scan.arrows;
  return true;
}

// The reason of a write to standard output that failed.
static bool FailOutput(RunOutcome& outcome, int error) {
  char why[sizeof outcome.reason];
  snprintf(why, sizeof why, "standard output could not be written: %s",
           strerror(error));
  return Fail(outcome, kReplaceFailed, 0, why);
}

// The second step: the rebuild, its output unmasked and compared with the
// file as read as it leaves, written beside the file from its first
// difference on, to standard output, or nowhere. A rebuild that gives no
// whole entry is refused before its only piece leaves.
static bool RepairInMemory(Held& held, RunOutcome& outcome) {
  bool toOutput = held.path == nullptr && held.mode == kRepairFile;
  if (!held.repairing)
    StartRepair(held, held.data, held.length);
  if (held.outputStarted)
    FinishRebuild(held.rebuild, held.scan.arrows, held.sink);
  bool whole = held.outputStarted && held.sink.total >= kTimingLength;
  bool failed = false;
  if (whole) {
    held.repaired = held.sink.total;
    outcome.changed = FinishOutput(held.output, held.sink, failed);
  }
  EndOutput(held.output, held.sink);
  if (!held.outputStarted)
    return Fail(outcome, kReplaceFailed, ENOMEM);
  if (!whole)
    return Fail(outcome, kReadBackFailed, 0, "no timing line is complete");
  if (!failed)
    return true;
  if (toOutput)
    return FailOutput(outcome, held.output.error);
  return Fail(outcome, kReplaceFailed, held.output.error);
}

// False, after the failure, when the backup's name holds a backup that this
// call wrote for another file: writing it again would lose that file's.
static bool CheckBackupUnused(const Held& held, RunOutcome& outcome,
                              const CallRecord* record) {
  FileStamp there;
  if (record == nullptr || !GetPathStamp(held.backup, there))
    return true;
  for (unsigned long at = 0; at < record->backups; ++at) {
    if (record->backupStamps[at].device == there.device &&
        record->backupStamps[at].index == there.index) {
      char why[sizeof outcome.reason];
      snprintf(why, sizeof why, "%s holds the backup of %s, written just now",
               held.backup, record->backupFiles[at]);
      return Fail(outcome, kBackupFailed, 0, why);
    }
  }
  return true;
}

// The file's bytes as read. The scan masked them; the file held no
// placeholder, so turning every one back gives them again. That is done
// only when they are needed (a copy of them, a comparison with the file):
// a backup that is a second name of the file needs none.
static const char* BytesAsRead(Held& held) {
  if (held.masked)
    ReplaceBytes(held.data, held.length, kPlaceholder, kArrow);
  held.masked = false;
  return held.data;
}

// A file system whose times tick in whole milliseconds or coarser (the FAT
// family, exfat, many others) may not show a change by its time: there the
// file's bytes are compared as well.
static bool IsStillAsRead(Held& held) {
  bool coarse = held.read.modified % 1000000 == 0;
  return !coarse || HoldsExactly(held.real, BytesAsRead(held), held.length);
}

// True when the name holds the file as read itself: a backup made as a
// second name of it, or one left so by a run cut off.
static bool IsNameOfFile(const char* name, const FileStamp& read) {
  FileStamp there;
  return GetPathStamp(name, there) && there.device == read.device &&
         there.index == read.index;
}

// The file changed after its backup was made. A backup that is a second
// name of the file changed with it: it is written again, as a copy of the
// bytes as read, so that it still holds them.
static bool FailChanged(Held& held, RunOutcome& outcome) {
  if (IsNameOfFile(held.backup, held.read))
    CreateBackup(held.backup, BytesAsRead(held), held.length, &held.read,
                 held.real, false);
  return Fail(outcome, kReplaceFailed, 0, kChangedReason);
}

// Replaces the file with its repair, in this order: the repair is synced;
// the backup is made and on disk; the repair takes the file's name, if the
// file is still as read and the new name still holds the repair; the
// folder is synced.
static bool ReplaceFile(Held& held, RunOutcome& outcome, CallRecord* record) {
  if (!CheckBackupUnused(held, outcome, record))
    return false;
  FileStamp written;
  if (!SyncFile(held.out))
    return Fail(outcome, kReplaceFailed, errno);
  if (!GetFileStamp(held.out, written) || written.size != held.repaired)
    return Fail(outcome, kReplaceFailed, 0,
                "the repair could not be written whole");
  // A backup name that is a second name of the file (a run cut off left it
  // so) loses it to the new backup, which sets the file's change time.
  bool unlinks = IsNameOfFile(held.backup, held.read);
  // A backup that is a second name of the file needs none of its bytes.
  if (!LinkBackup(held.backup, held.read, held.real) &&
      !CreateBackup(held.backup, BytesAsRead(held), held.length, &held.read,
                    held.real, false))
    return Fail(outcome, kBackupFailed, errno);
  FileStamp now;
  if (unlinks && GetPathStamp(held.real, now) && IsSameState(now, held.read))
    held.read.changed = now.changed;
  RecordBackup(record, held);
  snprintf(outcome.backup, sizeof outcome.backup, "%s", held.backup);
  if (!StillMade(held) || !IsStillAsRead(held))
    return FailChanged(held, outcome);
  int closed = fclose(held.out);
  held.out = nullptr;
  if (closed != 0)
    return Fail(outcome, kReplaceFailed, errno);
  Replacement replaced = ReplaceFileAsRead(held.made, held.real, held.read);
  if (replaced == kChangedAside)
    return FailChanged(held, outcome);
  if (replaced == kNotReplaced)
    return Fail(outcome, kReplaceFailed, errno);
  free(held.made);
  held.made = nullptr;
  if (replaced == kNotSynced)
    return Fail(outcome, kReplaceFailed, 0,
                "the file was replaced, but its folder could not be synced: "
                "the repair may not survive a power cut");
  return true;
}

// The third step: the repair delivered where it goes.
static bool DeliverRepair(Held& held, RunOutcome& outcome, CallRecord* record) {
  if (held.path == nullptr && held.mode == kRepairFile)
    return (fflush(stdout) == 0 && ferror(stdout) == 0) ||
           FailOutput(outcome, errno);
  if (!held.inPlace || !outcome.changed)
    return true;
  return ReplaceFile(held, outcome, record);
}

bool RunRepair(const char* path, RunMode mode, RunOutcome& outcome,
               CallRecord* record) {
  outcome = RunOutcome();
  Held held = Held();
  held.path = path;
  held.mode = mode;
  held.inPlace = path != nullptr && mode == kRepairFile;
  held.lock = -1;
  bool done = OpenInput(held, outcome, record) &&
              RepairInMemory(held, outcome) &&
              DeliverRepair(held, outcome, record);
  Release(held);
  return done;
}
