// platform.h - what the run asks of the system it runs on: its launch
// command line, a way to show a message, and what files need beyond stdio:
// their identity, syncing, locking and replacing one by renaming another.
// One source file for each platform implements it.
#pragma once

#include <stdio.h>

// The launch command line as one writable NUL-terminated text: the quoted
// program path, one blank, then the argument. On Windows it is the
// process's own; elsewhere it is formed from argv, each argument quoted and
// preceded by one blank. Null when it cannot be formed. Called first: it
// also readies the process (a write past a file-size limit then fails like
// any other instead of ending the process), and elsewhere than on Windows
// answers a lone --help, -h or --version on standard output and ends the
// process with exit code 0.
char* GetLaunchText(int argc, char** argv);

// The kind of a message: a hint, or the report of a failure.
enum MessageStyle { kInformationMessage, kErrorMessage };

// Shows text under caption and waits until the user has seen it: a message
// box with the information or error icon and an OK button on Windows, one
// line on standard error elsewhere.
void ShowMessage(const char* caption, const char* text, MessageStyle style);

// True when the two paths name one file: the same name (compared without
// letter case where the file system ignores it), or two names of one
// existing file (a hard link, another spelling of the name).
bool IsSameFile(const char* first, const char* second);

// A hint that the size bytes at block hold a whole file and will be walked
// end to end: where the system offers it, the block is backed by large
// pages, which makes filling and scanning it much cheaper. Changes nothing
// in the block; does nothing where there is no such hint.
void AdviseFileBlock(void* block, unsigned long size);

// What tells one state of a file from another: which file it is, its size
// and when it was last written, and (where the system has them) its
// permission bits, owner and group.
struct FileStamp {
  unsigned long long device, index, size, modified;
  unsigned long mode, owner, group;
};

// The stamp of the open file. False when it cannot be taken or the file is
// not a regular file (a folder, device, pipe or socket).
bool GetFileStamp(FILE* file, FileStamp& stamp);

// Keeps the file at path locked against other runs until the process ends.
// False only when another run holds it; a file that cannot be opened or
// locked here is left to the steps that read it.
bool HoldRunLock(const char* path);

// Makes the bytes written to file durable (fflush, then fsync / _commit).
// False when the system reports that they may not be.
bool SyncFile(FILE* file);

// Cuts the open file to 0 bytes and moves to its start. False when it
// cannot be cut.
bool EmptyFile(FILE* file);

// Creates a new file for writing ("wb") in the folder of path, under a name
// no file had (exclusively, so never through a link), and stores that name,
// a heap block for the caller to free, in made. Null when none can be made.
FILE* CreateFileBeside(const char* path, char** made);

// Gives the open file the permission bits of like and, where the run is
// allowed to, its owner and group. Does nothing where files have none.
void CopyFileAccess(FILE* file, const FileStamp& like);

// Renames from onto to, replacing whatever stands at to (a file, a link, a
// pipe; never written through), and makes the rename durable (the folder is
// synced, or the move is written through). False when either step fails.
bool ReplaceByRename(const char* from, const char* to);

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
