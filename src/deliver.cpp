// deliver.cpp - where a repair goes: over the file, its backup made on the
// way and the file's state checked at the last step, or to standard output;
// and what runs cut off left beside the file. Each choice is made here
// once: move or copy, what the new file carries, when the file counts as
// changed, what a leftover is.
#include "deliver.h"

#include "files.h"
#include "subtitle/mask.h"
#include "subtitle/rebuild.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// Grows the heap array items of count items by one; false, leaving it,
// when no room can be had.
template <typename Item> static bool Grow(Item*& items, unsigned long count) {
  Item* grown = static_cast<Item*>(realloc(items, (count + 1) * sizeof(Item)));
  if (grown != nullptr)
    items = grown;
  return grown != nullptr;
}

void EndCall(CallRecord& record) {
  for (unsigned long at = 0; at < record.backups; ++at)
    free(record.backupFiles[at]);
  free(record.backupStamps);
  free(record.backupFiles);
  free(record.clearFolders);
  record = CallRecord();
}

// Adds the backup written for target to the call's record. One that finds
// no room is not recorded.
static void RecordBackup(CallRecord* record, const Target& target) {
  FileStamp backup;
  char* file = record != nullptr ? strdup(target.path) : nullptr;
  if (file == nullptr || !GetPathStamp(target.backup, backup) ||
      !Grow(record->backupStamps, record->backups) ||
      !Grow(record->backupFiles, record->backups)) {
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

// True when name holds the file of stamp itself.
static bool IsNameOfFile(const char* name, const FileStamp& stamp) {
  FileStamp there;
  return GetPathStamp(name, there) && IsOneFile(there, stamp);
}

// The run itself has changed the file's change time (a name of it
// removed): the time to compare with later is the one after that.
static void TakeOwnChange(Target& target) {
  FileStamp now;
  if (GetPathStamp(target.file, now) && IsSameState(now, target.read))
    target.read.changed = now.changed;
}

// Tries of visible names for a file kept aside.
static const int kKeptTries = 100;

// Moves the file at name aside, in its folder, to a visible name that
// says what it is: the file's own name and ".kept" (".kept2", ... where
// that is taken), never over another file. Stores the new name in
// target.kept when it holds none yet; a file that cannot be moved stays.
static void KeepAside(Target& target, const char* name) {
  const char* own = target.path + FolderLength(target.path);
  size_t folder = FolderLength(name);
  size_t size = folder + strlen(own) + sizeof ".kept" + 8;
  char* kept = static_cast<char*>(malloc(size));
  bool moved = false;
  for (int tries = 1; kept != nullptr && !moved && tries <= kKeptTries;
       ++tries) {
    snprintf(kept, size, tries == 1 ? "%.*s%s.kept" : "%.*s%s.kept%d",
             static_cast<int>(folder), name, own, tries);
    moved = RenameWithoutReplacing(name, kept);
  }
  if (moved && target.kept == nullptr)
    target.kept = kept;
  else
    free(kept);
}

// True when the count bytes at bytes are those of of, or its first ones.
static bool IsStartOf(const char* bytes, unsigned long count, const char* of,
                      unsigned long ofLength) {
  return of != nullptr && count <= ofLength && memcmp(bytes, of, count) == 0;
}

// True when the count bytes at bytes are the file as read before its
// repair, as target now holds it: a run cut off between the exchange and
// the move of the file as read to the backup's name left them.
static bool IsFileBeforeRepair(const Target& target, char* bytes,
                               unsigned long count) {
  if (memchr(bytes, kPlaceholder, count) != nullptr)
    return false; // no file holding it is ever repaired
  unsigned long arrows = 0, repaired = 0;
  char* repair = RepairSRT(bytes, count, arrows, repaired);
  bool before = repair != nullptr && repaired == target.length &&
                memcmp(repair, target.data, repaired) == 0;
  free(repair);
  return before;
}

// The backup's bytes, which a leftover is compared with besides the file
// as read and its repair: read once, when first needed.
struct Elsewhere {
  char* backup; // null when there is none
  unsigned long backupLength;
  bool backupRead;
};

// Settles the leftover at name, of kind, which the run holds.
static void SettleLeftover(Target& target, const char* name, BesideKind kind,
                           Elsewhere& elsewhere) {
  if (IsNameOfFile(name, target.read)) {
    if (RemoveFile(name))
      TakeOwnChange(target);
    return;
  }
  unsigned long count = 0;
  char* bytes = Readfile(name, count, nullptr, false);
  if (bytes == nullptr)
    return; // what cannot be read is left as it is
  if (!elsewhere.backupRead)
    elsewhere.backup =
        Readfile(target.backup, elsewhere.backupLength, nullptr, false);
  elsewhere.backupRead = true;
  // Bytes found elsewhere go; a backup under way reaches its name; anything
  // else is kept aside.
  if (IsStartOf(bytes, count, target.data, target.length) ||
      IsStartOf(bytes, count, elsewhere.backup, elsewhere.backupLength) ||
      IsStartOf(bytes, count, target.repair, target.repaired))
    RemoveFile(name);
  else if (kind != kRepairBeside || !IsFileBeforeRepair(target, bytes, count) ||
           !ReplaceByRename(name, target.backup))
    KeepAside(target, name);
  free(bytes);
}

// True when the call found the folder at folder clear of leftovers.
static bool IsClear(const CallRecord* record, const FileStamp& folder) {
  for (unsigned long at = 0; record != nullptr && at < record->folders; ++at)
    if (IsOneFile(record->clearFolders[at], folder))
      return true;
  return false;
}

// True when the folders that hold the two paths are one; false also when
// either cannot be told.
static bool IsSameFolder(const char* first, const char* second) {
  FileStamp one, other;
  return GetFolderStamp(first, one) && GetFolderStamp(second, other) &&
         IsOneFile(one, other);
}

// Settles the leftovers of target's tag in the folder of path. A folder
// that holds none of any file is recorded, and not looked through again in
// the call: a run leaves none behind unless it is cut off, and then the
// call ends with it.
static void SettleIn(Target& target, const char* path, Elsewhere& elsewhere,
                     CallRecord* record) {
  FileStamp folder;
  bool known = GetFolderStamp(path, folder);
  if (known && IsClear(record, folder))
    return;
  unsigned long count = 0;
  char** names = ListBesideNames(path, count);
  if (count == 0 && known && record != nullptr &&
      Grow(record->clearFolders, record->folders))
    record->clearFolders[record->folders++] = folder;
  size_t length = FolderLength(path);
  unsigned long long tag = BesideTag(target.file);
  for (unsigned long at = 0; at < count; ++at) {
    BesideKind kind;
    if (!IsBesideName(names[at], tag, kind))
      continue;
    size_t size = length + strlen(names[at]) + 1;
    char* name = static_cast<char*>(malloc(size));
    if (name == nullptr)
      continue;
    snprintf(name, size, "%.*s%s", static_cast<int>(length), path, names[at]);
    int hold = -1;
    if (HoldLeftover(name, hold))
      SettleLeftover(target, name, kind, elsewhere);
    ReleaseRunLock(hold);
    free(name);
  }
  FreeNames(names, count);
}

void SettleLeftovers(Target& target, CallRecord* record) {
  Elsewhere elsewhere = {nullptr, 0, false};
  SettleIn(target, target.file, elsewhere, record);
  if (!IsSameFolder(target.file, target.backup))
    SettleIn(target, target.backup, elsewhere, record);
  free(elsewhere.backup);
}

// How the backup is made, decided once for a run.
enum BackupWay {
  kMoveFile, // the file as read itself, moved to the backup's name
  kCopyBytes // a synced copy of its bytes, made before the exchange
};

// The file as read can be moved to the backup's name only where files
// exchange names, it has no other name (which would share the backup), and
// the backup's folder lies on its file system.
static BackupWay ChooseBackupWay(const Target& target) {
  FileStamp folder;
  bool move = kFilesExchange && target.read.links == 1 &&
              GetFolderStamp(target.backup, folder) &&
              folder.device == target.read.device;
  return move ? kMoveFile : kCopyBytes;
}

// The copy of the file's bytes as read at the backup's name. Where that
// name was another name of the file, replacing it changes the file's
// change time: the run did that itself.
static bool CopyBackup(Target& target, CallRecord* record) {
  bool secondName = IsNameOfFile(target.backup, target.read);
  if (!CreateBackup(target.backup, target.data, target.length, &target.read,
                    target.file))
    return false;
  if (secondName)
    TakeOwnChange(target);
  RecordBackup(record, target);
  return true;
}

// A file system whose times tick in whole milliseconds or coarser (the FAT
// family, exfat, many others) may not show a change by its time: there the
// file's bytes are compared too, before the exchange checks its state.
static bool HoldsBytesAsRead(const Target& target) {
  bool coarse = target.read.modified % 1000000 == 0;
  return !coarse || HoldsExactly(target.file, target.data, target.length);
}

// The new file beside the file, written whole and synced; null, with errno
// telling why, when it cannot be. Its stamp tells it from any other file.
static FILE* WriteBeside(const Target& target, char** besideName,
                         FileStamp& stamp) {
  FILE* out = CreateFileBeside(target.file, BesideTag(target.file),
                               kRepairBeside, besideName);
  if (out == nullptr)
    return nullptr;
  CopyFileAccess(out, target.file, target.read);
  if (fwrite(target.repair, 1, target.repaired, out) == target.repaired &&
      SyncFile(out) && GetFileStamp(out, stamp))
    return out;
  int error = errno;
  fclose(out);
  RemoveFile(*besideName);
  free(*besideName);
  *besideName = nullptr;
  errno = error;
  return nullptr;
}

// Where the file as read goes once the repair has its name, at besideName: to
// the backup's name, or away when a copy stands there. A file as read that
// cannot be moved is copied instead, and if that fails too, kept aside.
// The folder is synced last; a move into the file's own folder has synced
// it already.
static Delivery PutAway(Target& target, const char* besideName, BackupWay way,
                        CallRecord* record) {
  if (way == kCopyBytes) {
    RemoveFile(besideName);
  } else if (ReplaceByRename(besideName, target.backup)) {
    RecordBackup(record, target);
    if (IsSameFolder(target.file, target.backup))
      return kDelivered;
  } else {
    int error = errno;
    if (!CopyBackup(target, record)) {
      KeepAside(target, besideName);
      errno = error;
      return kBackupNotWritten;
    }
    RemoveFile(besideName);
  }
  return SyncFolderOf(target.file) ? kDelivered : kFolderUnsynced;
}

// The steps of ReplaceFile from the backup on, with the new file written
// and open at out, under besideName.
static Delivery PutInPlace(Target& target, FILE*& out, const char* besideName,
                           const FileStamp& repairStamp, CallRecord* record) {
  BackupWay way = ChooseBackupWay(target);
  if (way == kCopyBytes && !CopyBackup(target, record))
    return kBackupNotWritten;
  if (way == kMoveFile && !SyncFileAsRead(target.file, target.read))
    return IsStillInState(target.file, target.read) ? kBackupNotWritten
                                                    : kChangedMeanwhile;
  if (!IsNameOfFile(besideName, repairStamp) || !HoldsBytesAsRead(target))
    return kChangedMeanwhile;
  int closed = fclose(out);
  out = nullptr;
  if (closed != 0)
    return kRepairNotWritten;
  Exchange exchange = ExchangeFiles(besideName, target.file, target.read);
  bool cannot = exchange == kNotExchanged &&
                (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP);
  if (cannot) {
    // The file system cannot exchange: a copy is the backup, and a plain
    // rename after the last check puts the repair in place.
    if (way == kMoveFile && !CopyBackup(target, record))
      return kBackupNotWritten;
    if (!IsStillInState(target.file, target.read))
      return kChangedMeanwhile;
    return ReplaceByRename(besideName, target.file) ? kDelivered
                                                    : kFileNotReplaced;
  }
  if (exchange == kNotExchanged)
    return kFileNotReplaced;
  if (exchange == kChangedBack)
    return kChangedMeanwhile;
  if (exchange == kSaveAtFrom) {
    KeepAside(target, besideName);
    return kChangedMeanwhile;
  }
  return PutAway(target, besideName, way, record);
}

Delivery ReplaceFile(Target& target, CallRecord* record) {
  char* besideName = nullptr;
  FileStamp repairStamp;
  FILE* out = WriteBeside(target, &besideName, repairStamp);
  if (out == nullptr)
    return kRepairNotWritten;
  Delivery delivery = PutInPlace(target, out, besideName, repairStamp, record);
  int error = errno;
  if (out != nullptr)
    fclose(out);
  // A repair that has not taken the file's place goes. The name besideName may
  // hold another file by now (the file as read, or a file saved
  // meanwhile), or nothing: then it is left.
  if (IsNameOfFile(besideName, repairStamp))
    RemoveFile(besideName);
  free(besideName);
  errno = error;
  return delivery;
}

Delivery WriteToStandardOutput(const char* repair, unsigned long repaired) {
  bool written = fwrite(repair, 1, repaired, stdout) == repaired &&
                 fflush(stdout) == 0 && ferror(stdout) == 0;
  return written ? kDelivered : kRepairNotWritten;
}
