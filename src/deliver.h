// deliver.h - where a repair goes, each choice made here once: over the
// file (its backup linked or copied, the new file beside it with what the
// file carries, the exchange and its check), or to standard output; and
// what killed runs left beside files.
#pragma once

#include "platform.h"

// What the runs of one call have done that its later runs must know: the
// backups written, each with the file it was written for, so that none is
// written over; and the folders whose leftovers are gone, so that each is
// looked through once.
struct CallRecord {
  unsigned long backups;
  FileStamp* backupStamps;
  char** backupFiles;
  unsigned long folders;
  FileStamp* folderStamps;
};

// Releases what the record holds.
void EndCall(CallRecord& record);

// The file a run replaces, as the run read it.
struct Target {
  const char* path;   // the file as named
  const char* file;   // its path with links followed: where it is replaced
  const char* backup; // the backup's path
  const char* data;   // its bytes as read
  unsigned long length;
  FileStamp read; // its state as read
};

// How a delivery ended.
enum Delivery {
  kDelivered,
  kRepairNotWritten, // errno tells why
  kBackupNotWritten, // errno tells why
  kChangedMeanwhile, // the file changed since it was read, and keeps it
  kFileNotReplaced,  // errno tells why
  kFolderUnsynced,   // replaced, but the rename may not survive a power cut
};

// Removes what killed runs left beside the file at file (resolved): what
// a run on it left, and, once a folder in a call, what runs on any file
// left there.
void RemoveLeftovers(const char* file, CallRecord* record);

// The name of the file of this call whose backup stands at backup, written
// just now; null when there is none (or no record).
const char* FindBackupOwner(const CallRecord* record, const char* backup);

// Makes the backup of target's file as read, durably: a second name of the
// file where that is sound (it has one name, lies on a file system that
// links, and is still as read), a copy otherwise. When the step changed
// the file's change time (a link made, or a name of it replaced),
// target.read takes the new one. False, with errno telling why, when
// neither could be made.
bool MakeBackup(Target& target);

// Replaces target's file by the repair bytes, in this order: the repair is
// written beside the file, with what the file carries, and synced; the
// backup is made (MakeBackup) and recorded in record; the repair takes the
// file's name, if the file is still as read and the new name still holds
// the repair; the folder is synced. On any failure before the rename, the
// file stays as it was and no new file is left; the backup may stand.
Delivery ReplaceFile(Target& target, const char* repair, unsigned long repaired,
                     CallRecord* record);

// Writes the repair bytes to standard output and flushes it.
Delivery WriteToStandardOutput(const char* repair, unsigned long repaired);
