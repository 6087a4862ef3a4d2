// deliver.h - where a repair goes, each choice made here once: over the
// file (its backup moved or copied into place, the new file beside it with
// what the file carries, the exchange and its check), or to standard
// output; and what runs cut off left beside the file.
#pragma once

#include "platform.h"

// What the runs of one call have done that its later runs must know: the
// backups written, each with the file it was written for, so that none is
// written over; and the folders found to hold nothing that runs cut off
// left, so that each is looked through once.
struct CallRecord {
  unsigned long backups;
  FileStamp* backupStamps;
  char** backupFiles;
  unsigned long folders;
  FileStamp* clearFolders;
};

// Releases what the record holds.
void EndCall(CallRecord& record);

// The file a run replaces, as the run read it, and its repair.
struct Target {
  const char* path;   // the file as named
  const char* file;   // its path with links followed: where it is replaced
  const char* backup; // the backup's path
  const char* data;   // its bytes as read
  unsigned long length;
  FileStamp read;     // its state as read
  const char* repair; // the bytes that replace it
  unsigned long repaired;
  char* kept; // a file kept aside under a visible name, named for the user
              // (a heap block, or null)
};

// How a delivery ended.
enum Delivery {
  kDelivered,
  kRepairNotWritten, // errno tells why
  kBackupNotWritten, // errno tells why; when the file was replaced all the
                     // same, its bytes as read are kept (target.kept)
  kChangedMeanwhile, // the file changed since it was read, and keeps it
                     // (or, when it could not be put back, target.kept)
  kFileNotReplaced,  // errno tells why
  kFolderUnsynced,   // replaced, but the rename may not survive a power cut
};

// Settles what runs cut off left beside the file of target (and beside its
// backup), each file of its tag that no live run holds, by what it holds:
//
//   bytes the file, its backup or its repair hold    -> removed
//   the file as read before its repair was put in    -> the backup, moved
//                                                       into place
//   anything else (a file saved meanwhile)           -> kept aside under a
//                                                       visible name
//
// A leftover that is a name of the file itself goes, and target.read takes
// the change time that leaves.
void SettleLeftovers(Target& target, CallRecord* record);

// The name of the file of this call whose backup stands at backup, written
// just now; null when there is none (or no record).
const char* FindBackupOwner(const CallRecord* record, const char* backup);

// Replaces target's file by its repair. The backup of the file as read is
// the file itself, moved to the backup's name once the repair has taken its
// place, where the file has one name and the backup's folder is on its file
// system (and files can exchange names); a synced copy made before,
// otherwise. In this order: the repair is written beside the file, with
// what the file carries, and synced; the copy is made, or the file as read
// synced; the file is checked to be as read; the two exchange names, and
// what came out is checked to be the file as read; the file as read is
// moved to the backup's name, or removed when a copy stands there; the
// folder is synced. At no step is the backup's name another name of the
// file. On any failure before the exchange, the file stays as it was and no
// new file is left. The backup is recorded in record.
Delivery ReplaceFile(Target& target, CallRecord* record);

// Writes the repair bytes to standard output and flushes it.
Delivery WriteToStandardOutput(const char* repair, unsigned long repaired);
