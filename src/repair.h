// repair.h - the operations of the repair run: the launch argument, the
// whole-file reads, the backup copy, and the passes over the rebuilt file.
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
// whole, or changes while it is read; errno then tells why, and is 0 for a
// file that is no regular file or changed while it was read.
char* Readfile(char* path, unsigned long& length, FileStamp* stamp = nullptr);

// Writes source with its last three characters replaced by "old" into
// destination (strlen(source) + 1 bytes). False, writing nothing, when the
// file's own name (after the last folder separator) has fewer than three
// characters: the backup would land outside its folder.
bool MakeBackupPath(char* source, char* destination);

// Reads the whole of the stream in into one heap block and stores its size
// into length. Null, leaving length as it was, when it cannot be read.
char* ReadStream(FILE* in, unsigned long& length);

// Makes the file at path hold exactly the length bytes of data, durably:
// they go to a new file beside it, which is synced and then renamed onto
// path, so that whatever stood there (an older backup, a link, a pipe) is
// replaced, never written through, and stays whole until the new bytes are
// on disk. When like is given, the new file is named for that file (so a
// later run on it can remove a killed run's leftovers) and takes what the
// file at from carries: its permission bits, owner and group, access list
// and attributes. False, with errno telling why, when the path is empty,
// length is 0, or any step fails; then no new file is left behind.
bool CreateBackup(char* path, void* data, unsigned long& length,
                  const FileStamp* like = nullptr, const char* from = nullptr);

// What a pass over an open file came to.
enum FilePass { kPassDone, kPassReadFailed, kPassWriteFailed };

// Bytes that a pass compares a file with, and whether it found them.
struct Likeness {
  const char* data;
  unsigned long length;
  bool same;
};

// Reads the open file from its start a block at a time and overwrites every
// byte equal to from with to: a pass over the whole file that holds one
// block in memory. Without into, each block is written back over itself;
// with into, the blocks are written there in turn instead. The stream
// written is flushed, not synced. With like, like->same tells afterwards
// whether the bytes so changed are exactly those of like. kPassReadFailed
// when the file holds fewer than minimum bytes or cannot be read whole;
// kPassWriteFailed when a write or the flush fails.
FilePass ReplaceBytesInFile(FILE* file, unsigned long minimum, char from,
                            char to, FILE* into = nullptr,
                            Likeness* like = nullptr);
