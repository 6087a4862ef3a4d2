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
// for a file that is no regular file or changed while it was read.
//
// When progress is given, the file is read in pieces and progress is told
// of each as it arrives, with the count of the block's bytes that have so
// far (of size, the block's), and once more with done set when the read
// ends, well or not (have is then size, or 0 when it failed); the block may
// be freed as soon as that call returns.
typedef void (*ReadProgress)(void* to, char* block, unsigned long have,
                             unsigned long size, bool done);
char* Readfile(const char* path, unsigned long& length,
               FileStamp* stamp = nullptr, bool forWriting = true,
               ReadProgress progress = nullptr, void* to = nullptr);

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
// on disk. When like (the stamp of the file at from, as read) is given, the
// backup is a second name of that file where mayLink is set, it has one
// name only and the system allows it (like->changed then takes its change time
// after the link), and otherwise a copy, named for that file (so a later run on
// it can remove a killed run's leftovers), that takes what the file carries:
// its permission bits, owner and group, access list and attributes. False,
// with errno telling why, when the path is empty, length is 0, or any step
// fails; then no new file is left behind.
bool CreateBackup(const char* path, const void* data,
                  const unsigned long& length, FileStamp* like = nullptr,
                  const char* from = nullptr, bool mayLink = true);

// The backup at path as a second name of the file at from, as read (like),
// where that is sound (LinkFileBeside), renamed onto path; like.changed
// then takes the file's change time after it. False, with nothing left
// beside the file, where it is not, or a step fails.
bool LinkBackup(const char* path, FileStamp& like, const char* from);

// True when the file at path holds exactly the length bytes of data.
bool HoldsExactly(const char* path, const char* data, unsigned long length);

// The path of the file of kind beside the file at path, tagged tag: a heap
// block for the caller to free, null when none can be had. Built here
// alone, for every platform.
char* MakeBesideName(const char* path, unsigned long long tag, BesideKind kind);

// Removes what a killed run on the file at path (tag: BesideTag) left
// beside it, of either kind, as RemoveLeftover may. The caller holds the file's
// run lock, so no live run's file is removed.
void RemoveFilesBeside(const char* path, unsigned long long tag);
