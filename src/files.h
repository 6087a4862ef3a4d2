// files.h - whole files: read into memory, the backup's name, the backup
// written beside the file, and the names of the files made beside it.
#pragma once

#include "platform.h"

#include <stdio.h>

// Reads the whole regular file at path, opened for reading and writing (or
// reading only, when not forWriting), into one heap block and stores its
// size into length and, when stamp is given, its state as read. Null,
// leaving length as it was, when the path is empty, the file cannot be
// opened so, is no regular file, cannot be read whole, holds more than its
// size says, or changes while it is read; errno then tells why, and is 0
// for a file that is no regular file or changed while it was read. The
// open never waits: a pipe with no writer is refused at once.
char* Readfile(const char* path, unsigned long& length,
               FileStamp* stamp = nullptr, bool forWriting = true);

// Writes source with its last three characters replaced by "old" into
// destination (strlen(source) + 1 bytes). False, writing nothing, when the
// file's own name (after the last folder separator) has fewer than three
// characters: the backup would land outside its folder.
bool MakeBackupPath(const char* source, char* destination);

// Reads the whole of the stream in into one heap block and stores its size
// into length. Null, leaving length as it was, when it cannot be read.
char* ReadStream(FILE* in, unsigned long& length);

// Makes the file at path hold exactly the length bytes of data, durably:
// they go to a new file beside it, which is synced and then renamed onto
// path, so that whatever stood there (an older backup, a link, a pipe) is
// replaced, never written through, and stays whole until the new bytes are
// on disk. When fromStamp (the stamp of the file at from, as read) is given,
// the copy takes what that file carries: its permission bits, owner and group,
// access list and attributes; with from, it is named for that file, so that
// a later run on it can settle what a run cut off left. False, with errno
// telling why, when the path is empty, length is 0, or any step fails; then
// no new file is left behind.
bool CreateBackup(const char* path, const void* data,
                  const unsigned long& length,
                  const FileStamp* fromStamp = nullptr,
                  const char* from = nullptr);

// True when the file at path holds exactly the length bytes of data.
bool HoldsExactly(const char* path, const char* data, unsigned long length);

// A fresh path for a file of kind beside the file at path, tagged tag
// (BesideTag), with a random part no other run can foresee: a heap block
// for the caller to free, null when none can be had. The shape of these
// names is made here and told here alone.
char* MakeBesideName(const char* path, unsigned long long tag, BesideKind kind);

// Creates a new file (CreateNewFile) under a fresh name of kind beside the
// file at path, for the file of tag (BesideTag), and stores that name, a
// heap block for the caller to free, in besideName; a name that is taken is
// passed over for another. Null, with errno telling why, when none can be
// made.
FILE* CreateFileBeside(const char* path, unsigned long long tag,
                       BesideKind kind, char** besideName);

// True when name (a name in a folder, no path) is one that MakeBesideName
// gives for tag; stores its kind.
bool IsBesideName(const char* name, unsigned long long tag, BesideKind& kind);

// Adds a copy of name to the count names (heap blocks) in the heap array
// names; false, leaving them, when no room can be had.
bool AddName(char**& names, unsigned long& count, const char* name);

// Frees what ListBesideNames gives.
void FreeNames(char** names, unsigned long count);

// The tag of the files made beside the file at path: a hash (FNV-1a) of
// the file's own name, so that a later run on that name finds what a run
// cut off left, whatever became of the file itself meanwhile.
unsigned long long BesideTag(const char* path);
