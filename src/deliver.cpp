// deliver.cpp - where a repair goes: over the file, with its backup made
// first and the file's state checked last, or to standard output. Each
// choice is made here once: link or copy, what the new file carries, when
// the file counts as changed, what a killed run left.
#include "deliver.h"

#include "files.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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

// Adds the backup written for target to the call's record. One that finds
// no room is not recorded.
static void RecordBackup(CallRecord* record, const Target& target) {
  FileStamp backup;
  char* file = record != nullptr ? strdup(target.path) : nullptr;
  if (file == nullptr || !GetPathStamp(target.backup, backup) ||
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

const char* FindBackupOwner(const CallRecord* record, const char* backup) {
  FileStamp there;
  if (record == nullptr || !GetPathStamp(backup, there))
    return nullptr;
  for (unsigned long at = 0; at < record->backups; ++at)
    if (IsOneFile(record->backupStamps[at], there))
      return record->backupFiles[at];
  return nullptr;
}

// The file's own leftovers go first: a second name of the file among them
// would change the file's state. Then those in its folder, for any file:
// once a folder a call.
void RemoveLeftovers(const char* file, CallRecord* record) {
  RemoveFilesBeside(file);
  FileStamp folder;
  bool known = GetFolderStamp(file, folder);
  for (unsigned long at = 0; known && record != nullptr && at < record->folders;
       ++at)
    if (IsOneFile(record->folderStamps[at], folder))
      return;
  RemoveLeftoversIn(file);
  if (known && record != nullptr &&
      Grow(reinterpret_cast<void**>(&record->folderStamps), record->folders,
           sizeof folder))
    record->folderStamps[record->folders++] = folder;
}

// True when the name holds the file as read itself: a backup made as a
// second name of it, or one left so by a run cut off.
static bool IsNameOfFile(const char* name, const FileStamp& read) {
  FileStamp there;
  return GetPathStamp(name, there) && IsOneFile(there, read);
}

// The backup as a second name of the file, renamed onto its name. A rename
// between two names of one file does nothing, so the name made is removed
// after it either way.
static bool LinkBackup(const Target& target) {
  char* made = LinkFileBeside(target.file, BesideTag(target.file), target.read);
  if (made == nullptr)
    return false;
  bool renamed = ReplaceByRename(made, target.backup);
  int error = errno;
  RemoveFile(made);
  free(made);
  errno = error;
  return renamed;
}

bool MakeBackup(Target& target) {
  // A backup name that is a second name of the file (a run cut off left it
  // so) loses it to the new backup, which changes the file's change time,
  // as a link made does.
  bool touched = IsNameOfFile(target.backup, target.read);
  if (LinkBackup(target))
    touched = true;
  else if (!CreateBackup(target.backup, target.data, target.length,
                         &target.read, target.file))
    return false;
  FileStamp now;
  if (touched && GetPathStamp(target.file, now) &&
      IsSameState(now, target.read))
    target.read.changed = now.changed;
  return true;
}

// A file system whose times tick in whole milliseconds or coarser (the FAT
// family, exfat, many others) may not show a change by its time: there the
// file's bytes are compared too, before the exchange checks its state.
static bool HoldsBytesAsRead(const Target& target) {
  bool coarse = target.read.modified % 1000000 == 0;
  return !coarse || HoldsExactly(target.file, target.data, target.length);
}

// The file changed after its backup was made. A backup that is a second
// name of the file changed with it: it is written again, as a copy of the
// bytes as read, so that it still holds them.
static Delivery KeepChange(const Target& target) {
  if (IsNameOfFile(target.backup, target.read))
    CreateBackup(target.backup, target.data, target.length, &target.read,
                 target.file);
  return kChangedMeanwhile;
}

// The new file beside the file, written whole and synced; null, with errno
// telling why, when it cannot be. Its stamp tells it from any other file.
static FILE* WriteBeside(const Target& target, const char* repair,
                         unsigned long repaired, char** made,
                         FileStamp& stamp) {
  FILE* out = CreateFileBeside(target.file, BesideTag(target.file),
                               kRepairBeside, made);
  if (out == nullptr)
    return nullptr;
  CopyFileAccess(out, target.file, target.read);
  if (fwrite(repair, 1, repaired, out) == repaired && SyncFile(out) &&
      GetFileStamp(out, stamp))
    return out;
  int error = errno;
  fclose(out);
  RemoveFile(*made);
  free(*made);
  *made = nullptr;
  errno = error;
  return nullptr;
}

// The steps of ReplaceFile from the backup on, with the new file written
// and open at out, under made.
static Delivery Exchange(Target& target, FILE*& out, const char* made,
                         const FileStamp& madeStamp, CallRecord* record) {
  if (!MakeBackup(target))
    return kBackupNotWritten;
  RecordBackup(record, target);
  FileStamp named;
  bool stillMade = GetPathStamp(made, named) && IsOneFile(named, madeStamp);
  if (!stillMade || !HoldsBytesAsRead(target))
    return KeepChange(target);
  int closed = fclose(out);
  out = nullptr;
  if (closed != 0)
    return kRepairNotWritten;
  Replacement replaced = ReplaceFileAsRead(made, target.file, target.read);
  if (replaced == kChangedAside)
    return KeepChange(target);
  if (replaced == kNotReplaced)
    return kFileNotReplaced;
  return replaced == kNotSynced ? kFolderUnsynced : kDelivered;
}

Delivery ReplaceFile(Target& target, const char* repair, unsigned long repaired,
                     CallRecord* record) {
  char* made = nullptr;
  FileStamp madeStamp;
  FILE* out = WriteBeside(target, repair, repaired, &made, madeStamp);
  if (out == nullptr)
    return kRepairNotWritten;
  Delivery delivery = Exchange(target, out, made, madeStamp, record);
  int error = errno;
  if (out != nullptr)
    fclose(out);
  // A new file that has not taken the file's place goes, unless the name
  // now holds another file: a file of the user's, after an exchange that
  // failed to go back.
  FileStamp named;
  if (delivery != kDelivered && delivery != kFolderUnsynced &&
      (!GetPathStamp(made, named) || IsOneFile(named, madeStamp)))
    RemoveFile(made);
  free(made);
  errno = error;
  return delivery;
}

Delivery WriteToStandardOutput(const char* repair, unsigned long repaired) {
  bool written = fwrite(repair, 1, repaired, stdout) == repaired &&
                 fflush(stdout) == 0 && ferror(stdout) == 0;
  return written ? kDelivered : kRepairNotWritten;
}
