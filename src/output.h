// output.h - where the repair goes as the rebuild hands it on: each piece
// is compared with the file as read, unmasked, and written to the new file
// beside the file, to standard output, or nowhere.
#pragma once

#include "subtitle/sink.h"

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
  struct Relay* relay;  // the writer thread's, for a long repair; null: the
                        // blocks are delivered on the rebuild's thread
};

// Sets up output over the file as read, and sink to feed it: output writes
// to file from the first byte when file is given, opens its file with open
// at the first difference when open is given, and only compares otherwise.
// A repair of a file longer than two blocks is delivered by a writer
// thread, which compares and writes each block while the rebuild fills the
// next (where the system gives a thread; on the rebuild's own otherwise).
// False when the blocks cannot be had.
bool StartOutput(Output& output, const char* data, unsigned long length,
                 FILE* file, OpenOutput open, void* run, Sink& sink);

// Takes the next count bytes of the repair (a Deliver; output is an
// Output), unmasking them where they stand. False when a write or open
// failed.
bool DeliverOutput(void* output, char*& block, unsigned long count);

// Ends the output once the rebuild's last piece is in sink: the sink is
// flushed and the writer thread waited for. True when the repair differs
// from the file as read (a repair that is a part of the file is written
// now). failed tells whether a write or open failed.
bool FinishOutput(Output& output, Sink& sink, bool& failed);

// Stops the writer thread if it still runs and releases the blocks of
// output and sink; the file stays open for its owner.
void EndOutput(Output& output, Sink& sink);
