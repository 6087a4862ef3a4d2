// output.h - where the repair goes as the rebuild hands it on: each piece
// is compared with the file as read, unmasked, and written to the new file
// beside the file, to standard output, or nowhere.
#pragma once

#include <stdio.h>

// Opens the file the repair is written to, for the run that asked; false,
// with errno telling why, when it cannot.
typedef FILE* (*OpenOutput)(void* run);

// A repair in progress. Until a piece differs from the file as read, nothing
// need be written: a repair that changes nothing writes nothing, and one
// that does opens its file (open) at the first difference and writes the
// bytes before it from the file as read.
struct Output {
  const char* data;     // the file as read, masked like the rebuild's input
  unsigned long length; // its length
  unsigned long alike;  // bytes delivered so far, while all equal data's
  bool differs;         // a delivered byte differed from data's
  FILE* file;           // where the unmasked bytes go; null: nowhere yet
  OpenOutput open;      // opens file at the first difference; null: never
  void* run;            // what open is given
  char* scratch;        // a block for unmasking
  int error;            // errno of the write or open that failed, if any
};

// Sets up output over the file as read: it writes to file from the first
// byte when file is given, opens its file with open at the first
// difference when open is given, and only compares otherwise. False when
// no scratch block can be had.
bool StartOutput(Output& output, const char* data, unsigned long length,
                 FILE* file, OpenOutput open, void* run);

// Takes the next count bytes of the repair (a Deliver of the rebuild's
// sink; output is an Output), unmasking them where they stand. False when
// a write or open failed.
bool DeliverOutput(void* output, char* bytes, unsigned long count);

// Ends the output once the rebuild's last piece is delivered: true when
// the repair differs from the file as read (a repair that is a part of
// the file is written now). failed tells whether a write failed.
bool FinishOutput(Output& output, bool& failed);

// Releases the scratch block; the file stays open for its owner.
void EndOutput(Output& output);
