// repair.h - the operations of the repair run: the launch argument, the
// whole-file read and write, and the backup copy.
#pragma once

// Reduces the launch command line, in place, to its one argument: the
// text must start with a quoted program path of 21 bytes or more in all,
// then one separator byte (any byte), then the argument, whose quotes are
// removed (the text's last byte is taken as the closing quote). True: the
// buffer holds the argument alone. False: the command line is unusable, and
// the buffer may already have changed.
bool ConvertParam(char* text);

// Reads the whole file at path, opened for reading and writing, into one
// heap block and stores its size into length. Null, leaving length as it
// was, when the path is empty, the file cannot be opened so, its size
// cannot be taken, or fewer bytes than its size can be read.
char* Readfile(char* path, unsigned long& length);

// Writes source with its last three characters replaced by "old" into
// destination (strlen(source) + 1 bytes). False, writing nothing, when
// source has fewer than three characters.
bool MakeBackupPath(char* source, char* destination);

// Creates or overwrites the file at path with exactly the length bytes of
// data. False when the path is empty, length is 0, or any byte cannot be
// written or the file cannot be closed.
bool CreateBackup(char* path, void* data, unsigned long& length);

// Creates or overwrites the file at path with the length bytes of data;
// true only when all were written and the file was closed.
bool Writefile(char* path, void* data, unsigned long length);
