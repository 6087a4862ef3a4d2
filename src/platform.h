// platform.h - what the run asks of the system it runs on: a way to show a
// message, and what files need beyond stdio: their identity, syncing,
// locking, attributes and replacing one by renaming another.
// One source file for each platform implements it.
#pragma once

#include <stdio.h>

// The kind of a message: a hint, or the report of a failure.
enum MessageStyle { kInformationMessage, kErrorMessage };

// Shows text under caption and waits until the user has seen it: a message
// box with the information or error icon and an OK button on Windows, the
// line "caption: text" on standard error elsewhere. False when the message
// could not be written.
bool ShowMessage(const char* caption, const char* text, MessageStyle style);

// What tells one state of a file from another: which file it is, its size
// and when it was last written, and (where the system has them) its
// permission bits, owner and group.
struct FileStamp {
  unsigned long long device, index, size, modified;
  unsigned long long changed; // status change time; 0 where none is kept
  unsigned long long links;   // how many names the file has
  unsigned long mode, owner, group;
};

// The stamp of the open file. False when it cannot be taken or the file is
// not a regular file (a folder, device, pipe or socket).
bool GetFileStamp(FILE* file, FileStamp& stamp);

// The stamp of the file at path, followed through links. False as above.
bool GetPathStamp(const char* path, FileStamp& stamp);

// Two stamps of one file: the same device and index.
inline bool IsOneFile(const FileStamp& a, const FileStamp& b) {
  return a.device == b.device && a.index == b.index;
}

// Two stamps of one file in one state: the same file, size and time of
// last write.
inline bool IsSameState(const FileStamp& a, const FileStamp& b) {
  return IsOneFile(a, b) && a.size == b.size && a.modified == b.modified;
}

// True when the file at path is still in the state read: the same file,
// size, time of last write and change time.
inline bool IsStillInState(const char* path, const FileStamp& read) {
  FileStamp now;
  return GetPathStamp(path, now) && IsSameState(now, read) &&
         now.changed == read.changed;
}

// True when the two paths name one file: the same name (compared without
// letter case where the file system ignores it), or two names of one
// existing file (a hard link, another spelling of the name).
bool IsSameFile(const char* first, const char* second);

// True when path is a regular file's own name (no symbolic link) and the
// file has other names as well.
bool IsSecondName(const char* path);

// Opens the existing file at path for reading, and for writing too when
// forWriting, as fopen does with "r+b" or "rb", without ever waiting: a
// pipe with no writer is opened at once (and then refused as no regular
// file by whoever stamps it). Null, with errno telling why, when it cannot.
FILE* OpenFile(const char* path, bool forWriting);

// The path of the file that path names, with links followed, so that the
// file is replaced where it lives and a link to it stays a link: a heap
// block for the caller to free. A copy of path where links are not
// followed. Null when it cannot be resolved (errno tells why) or no block
// can be had.
char* ResolvePath(const char* path);

// True when path reaches its file through a link to an open descriptor
// (/dev/stdin, /dev/fd/N, /proc/.../fd/N): what it names is another
// process's view, not a file in a folder to be replaced.
bool IsThroughDescriptorLink(const char* path);

// Why the file at path (resolved), as read, cannot be replaced safely by a
// new file beside it: its owner or group could not be kept, the folder is
// sticky and neither the file nor the folder is the run's user's, or the
// folder cannot be opened to make the change durable. Null when it can.
const char* CheckReplaceable(const char* path, const FileStamp& read);

// Locks the file at path against other runs, and stores in lock what
// ReleaseRunLock needs to let it go (-1 when nothing is held). False only
// when another run holds it; a file that cannot be opened or locked here is
// left to the steps that read it.
bool HoldRunLock(const char* path, int& lock);
void ReleaseRunLock(int lock);

// Makes the bytes written to file durable (fflush, then fsync /
// FlushFileBuffers). False when the system reports that they may not be,
// or a write to the stream failed before.
bool SyncFile(FILE* file);

// Removes the file at path (a name made beside a file may be longer than
// the system takes whole). False when it cannot.
bool RemoveFile(const char* path);

// What a file made beside another is for: the backup, or the repair.
enum BesideKind { kBackupBeside, kRepairBeside };

// What the name of a file made beside another starts and ends with:
// hidden on Linux, a .tmp on Windows.
extern const char kBesideStart[];
extern const char kBesideEnd[];

// Bits no other user can know ahead: from the system's random source,
// or else from its clocks and the process; files.cpp mixes them.
unsigned long long GetEntropy();

// Creates a new file at name for reading and writing ("w+b"), exclusively
// (so never through a link, and never over a file that stands there; errno
// is then EEXIST). It is locked (Linux) or unshared (Windows) while it is
// open, so that no other run takes it for a cut-off run's. Null, with
// errno telling why, when it cannot be made.
FILE* CreateNewFile(const char* name);

// The names of the entries in the folder that holds path that start with
// kBesideStart: an array of heap blocks, each and the array for the caller
// to free (FreeNames in files.h), and their count. Null, with count 0, when
// there are none or the folder cannot be listed.
char** ListBesideNames(const char* path, unsigned long& count);

// Takes hold of the file at name, a file made beside another that a run
// cut off may have left, so that no other run takes it meanwhile: true,
// storing in hold what ReleaseRunLock lets go, when it is a regular file of
// the run's user (any, for root) that no live run holds.
bool HoldLeftover(const char* name, int& hold);

// The identity (device and index) of the folder that holds path. False
// when it cannot be had.
bool GetFolderStamp(const char* path, FileStamp& stamp);

// Gives the open file what the file at from carries beyond its bytes: the
// permission bits of fromStamp and, where the run is allowed to, its owner and
// group, its access control list and extended attributes. Where an access
// control list cannot be copied, the file is left to its owner alone, so
// that it is never more open than from. Does nothing where files have none
// of these.
void CopyFileAccess(FILE* file, const char* from, const FileStamp& fromStamp);

// Syncs the folder that holds path, so that a rename in it survives a
// power cut (where the system has such a sync; true elsewhere).
bool SyncFolderOf(const char* path);

// Renames from onto to, replacing whatever stands at to (a file, a link, a
// pipe; never written through), and makes the rename durable (the folder is
// synced, or the move is written through). On Windows the file at to keeps
// its attributes (hidden, system, read-only). False when either step fails.
bool ReplaceByRename(const char* from, const char* to);

// Renames from to to only when nothing stands at to. False when something
// does, or the rename fails.
bool RenameWithoutReplacing(const char* from, const char* to);

// Makes the bytes of the file at path durable, when it is still the file
// as read (read). False when it is not, or cannot be synced, and always
// where files do not exchange (kFilesExchange): only a file as read that
// becomes the backup needs it.
bool SyncFileAsRead(const char* path, const FileStamp& read);

// True where files can trade names in one step (ExchangeFiles).
extern const bool kFilesExchange;

// What became of an exchange of a new file with the file as read.
enum Exchange {
  kExchanged,    // from names the file as read, to the new file
  kChangedBack,  // the file was not as read: it is back at to
  kSaveAtFrom,   // it was not as read, and could not be put back: from
                 // names it, and to the new file
  kNotExchanged, // nothing changed; errno tells why (EINVAL, ENOSYS or
                 // EOPNOTSUPP where the file system cannot exchange)
};

// Exchanges the names from and to in one step, to being the file as read
// (read: its state and change time), which must still be as read just
// before. When what came out from under to is not the file as read after
// all (a file saved meanwhile), they are exchanged back, or else from is
// renamed over to, so that the saved file keeps its name.
Exchange ExchangeFiles(const char* from, const char* to, const FileStamp& read);

// True for a byte that ends a folder's name in a path: '/', and on Windows
// also '\' and ':'.
bool IsFolderSeparator(char c);

// Length of the folder part of path, its last separator included; 0 when
// path names a file in the working folder.
inline unsigned long FolderLength(const char* path) {
  unsigned long length = 0;
  for (unsigned long at = 0; path[at] != '\0'; ++at)
    if (IsFolderSeparator(path[at]))
      length = at + 1;
  return length;
}
