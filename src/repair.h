// repair.h - the operations of the repair run: the launch argument, the
// whole-file reads, the backup copy, and the rewrite of the target through
// one handle that can put the file back.
#pragma once

#include "platform.h"

#include <stdio.h>

// Reduces the launch command line, in place, to its one argument: the
// text must start with a quoted program path of 21 bytes or more in all,
// then one separator byte (any byte), then the argument, whose quotes are
// removed (the text's last byte is taken as the closing quote). True: the
// buffer holds the argument alone. False: the command line is unusable, and
// the buffer may already have changed.
bool ConvertParam(char* text);

// Reads the whole regular file at path, opened for reading and writing,
// into one heap block and stores its size into length and, when stamp is
// given, its state as read. Null, leaving length as it was, when the path is
// empty, the file cannot be opened so, is no regular file, cannot be read
// whole, or changes while it is read.
char* Readfile(char* path, unsigned long& length, FileStamp* stamp = nullptr);

// Writes source with its last three characters replaced by "old" into
// destination (strlen(source) + 1 bytes). False, writing nothing, when the
// file's own name (after the last folder separator) has fewer than three
// characters: the backup would land outside its folder.
bool MakeBackupPath(char* source, char* destination);

// Makes the file at path hold exactly the length bytes of data, durably:
// they go to a new file beside it, which is synced and then renamed onto
// path, so that whatever stood there (an older backup, a link, a pipe) is
// replaced, never written through, and stays whole until the new bytes are
// on disk. The new file takes the permission bits, owner and group of like
// when given. False when the path is empty, length is 0, or any step fails;
// then no new file is left behind.
bool CreateBackup(char* path, void* data, unsigned long& length,
                  const FileStamp* like = nullptr);

// Opens the file at path for its rewrite, unbuffered, and empties it, but
// only when it is still the file read, with the size and time of last write
// it had then (checked through this very handle). Null, the file untouched,
// when it cannot be opened or has changed.
FILE* OpenToRewrite(char* path, const FileStamp& read);

// What a pass over an open file came to.
enum FilePass { kPassDone, kPassReadFailed, kPassWriteFailed };

// Reads the open file from its start a block at a time, overwrites every
// byte equal to from with to, writes each block back over itself, and then
// syncs the file: a pass over the whole file that holds one block in
// memory. kPassReadFailed when the file holds fewer than minimum bytes or
// cannot be read whole; kPassWriteFailed when a write or the sync fails.
FilePass ReplaceBytesInFile(FILE* file, unsigned long minimum, char from,
                            char to);

// Writes the length bytes of data from the start of the open file and
// syncs them. True only when every byte is written and durable.
bool WriteWhole(FILE* file, const void* data, unsigned long length);

// Puts data back as the whole content of the open file and syncs it, after
// a write to it failed. True when that succeeded.
bool RestoreFile(FILE* file, const void* data, unsigned long length);
